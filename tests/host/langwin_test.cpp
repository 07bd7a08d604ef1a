// The language dialog, offscreen.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "host/platform/lang.h"
#include "host/qt/langdialog.h"
#include "tests/support/qt_app.h"


namespace {

class LangWinTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureQApplication(); }
  void TearDown() override { ShellSetLanguageIndex(0); }
};

constexpr int32_t kKorean = 20, kGerman = 14;

QPushButton* Button(QDialog* dialog, QDialogButtonBox::StandardButton which) {
  return dialog->findChild<QDialogButtonBox*>()->button(which);
}

// Only OK with a choice changes the language.
TEST_F(LangWinTest, OkMakesTheChosenLanguageCurrent) {
  struct Row {
    const char* choice;  // null: no selection
    QDialogButtonBox::StandardButton button;
    int result;
    int32_t language;
  };
  for (const Row& row : {Row{"German", QDialogButtonBox::Ok, QDialog::Accepted, kGerman},
                         Row{"German", QDialogButtonBox::Cancel, QDialog::Rejected, kKorean},
                         Row{nullptr, QDialogButtonBox::Ok, QDialog::Accepted, kKorean}}) {
    ShellSetLanguageIndex(kKorean);
    LanguageDialog dialog;
    if (row.choice)
      dialog.languages()->setCurrentText(row.choice);
    else
      dialog.languages()->setCurrentIndex(-1);
    QTest::mouseClick(Button(&dialog, row.button), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), row.result);
    EXPECT_EQ(ShellGetLanguage()->index, row.language) << (row.choice ? row.choice : "none");
  }
}


}  // namespace
