// The language dialog that F2 opens: the 22 languages in a combo box; OK
// makes the chosen one current.
#pragma once
#include <QDialog>

class QComboBox;

class LanguageDialog : public QDialog {
  Q_OBJECT
 public:
  explicit LanguageDialog(QWidget* owner = nullptr);
  QComboBox* languages() const { return combo_; }

 public Q_SLOTS:
  void accept() override;

 private:
  QComboBox* combo_;
};

// Shows the dialog modally; its result (QDialog::Accepted or Rejected).
int ShellLanguageDialog(QWidget* owner);
