#include "host/qt/langdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "host/platform/lang.h"
#include "host/qt/qthost.h"

namespace {

QString DisplayName(const ShellLanguage* row) {
  return QString::fromUtf16(row->displayName);
}

}  // namespace

LanguageDialog::LanguageDialog(QWidget* owner) : QDialog(owner), combo_(new QComboBox(this)) {
  setWindowTitle("Language");
  setModal(true);
  combo_->setObjectName("languages");
  for (int32_t i = 0; i < kShellLanguageCount; ++i)
    combo_->addItem(DisplayName(ShellLanguageRow(i)));
  const int current = combo_->findText(DisplayName(ShellGetLanguage()), Qt::MatchExactly);
  if (current >= 0) combo_->setCurrentIndex(current);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &LanguageDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &LanguageDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Select language:", this));
  layout->addWidget(combo_);
  layout->addWidget(buttons);
}

void LanguageDialog::accept() {
  // By the item's text, as the row is found by its name; no selection
  // changes nothing.
  if (combo_->currentIndex() >= 0) {
    const std::u16string name = combo_->currentText().toStdU16String();
    const int32_t index = ShellFindLanguage(name.c_str());
    if (index >= 0) ShellSetLanguageIndex(index);
  }
  QDialog::accept();
}

int ShellLanguageDialog(QWidget* owner) {
  LanguageDialog dialog(owner);
  // Through the host's one modal path, so that Ctrl+C closes it as it
  // closes every other dialog and the stop saves what it keeps.
  return QtHostExecModal(dialog);
}
