#include "host/qt/fontdialog.h"

#include <QFontDialog>
#include <QGuiApplication>
#include <QString>

#include "host/hostini.h"
#include "host/fontft.h"
#include "host/qt/qthost.h"

namespace {

int Choose(void*, void*, char16_t* face, int32_t faceUnits, int32_t* tenths) {
  // Nobody could answer a dialog on a screen that is not there.
  if (QGuiApplication::platformName() == "offscreen") return -1;
  bool ok = false;
  // The display window owns the dialog; the handle the font layer passes is
  // the same widget, but typed.
  QFont font = QFontDialog::getFont(&ok, QFont(), QtHostDisplayWindow(),
                                    QStringLiteral("Choose the handset's font"));
  if (!ok) return 0;
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
