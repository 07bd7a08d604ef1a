// The language dialog and the memory-usage window, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "host/platform/lang.h"
#include "host/qt/langdialog.h"
#include "host/qt/memwin.h"

// Qt never releases fontconfig's cache, so the leak checker of the
// sanitizer build would blame every test that lays out text.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace {

class LangWinTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "host_langwin_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }
  void TearDown() override {
    ShellSetLanguageIndex(0);
    ShellMemWinDestroy();
  }
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


TEST_F(LangWinTest, MarksOutsideTheBlockAreClipped) {
  std::vector<uint8_t> block(2048 + 64);
  uint8_t* start = block.data() + 32;
  ShellMemWinCreate(start, 2048);
  ShellMemWinMark(start - 32, 40, 4, 23);          // only the last 8 bytes are inside
  ShellMemWinMark(start + 2048 - 4, 64, 13, 34);   // only the first 4
  EXPECT_EQ(ShellMemWinPixel(0, 0, 0), 4);
  EXPECT_EQ(ShellMemWinPixel(0, 1, 0), 4);
  EXPECT_EQ(ShellMemWinPixel(0, 2, 0), 255);
  EXPECT_EQ(ShellMemWinPixel(1, 255, 1), 34);
}

}  // namespace
