#include "host/qt/fontdialog.h"

#include <QFontDialog>
#include <QGuiApplication>
#include <QString>

#include "host/hostini.h"
#include "host/fontft.h"
#include "host/qt/qthost.h"

namespace {

int Choose(void*, void*, char16_t* face, int32_t faceUnits, int32_t* tenths) {
  // Nobody could answer a dialog on a screen that is not there; a user who
  // asked to stop is not asked again.
  if (!QtHostCanShowDialogs() || QtHostStopAsked()) return -1;
  // The display window owns the dialog; the handle the font layer passes is
  // the same widget, but typed.
  QFontDialog dialog(QFont(), QtHostDisplayWindow());
  dialog.setWindowTitle(QStringLiteral("Choose the handset's font"));
  const bool ok = QtHostExecModal(dialog) == QDialog::Accepted;
  if (QtHostStopAsked()) return -1;
  if (!ok) return 0;
  const QFont font = dialog.selectedFont();
  QString family = font.family().left(faceUnits - 1);
  int32_t n = 0;
  for (QChar c : family) face[n++] = c.unicode();
  face[n] = u'\0';
  // A font given in pixels is taken at the font layer's 96 dpi.
  double points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
  *tenths = static_cast<int32_t>(points * 10.0 + 0.5);
  return 1;
}

bool Write(void*, const char* path, const char* section, const char* key, const char* value) {
  return HostWriteSetting(path, section, key, value);
}

const FontChooserOps kChooser = {nullptr, Choose, Write};

}  // namespace

const FontChooserOps* QtFontChooser() { return &kChooser; }
