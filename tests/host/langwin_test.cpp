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
#include "host/platform/platform.h"
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

TEST_F(LangWinTest, DialogListsEveryLanguageWithTheCurrentSelected) {
  ShellSetLanguageIndex(kKorean);
  LanguageDialog dialog;
  QComboBox* combo = dialog.languages();
  ASSERT_EQ(combo->count(), kShellLanguageCount);
  EXPECT_EQ(combo->itemText(0), "English");
  EXPECT_EQ(combo->itemText(21), "Russian");
  EXPECT_EQ(combo->currentText(), "Korean");
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

TEST_F(LangWinTest, TheModalDialogAnswersItsCaller) {
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<LanguageDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->languages()->setCurrentText("Korean");
    dialog->accept();
  });
  EXPECT_EQ(ShellLanguageDialog(nullptr), QDialog::Accepted);
  EXPECT_EQ(ShellGetLanguage()->index, kKorean);
}

// ---- the memory-usage window -----------------------------------------------

TEST_F(LangWinTest, MemoryWindowHasTwoMapsOfTheBlock) {
  std::vector<uint8_t> block(5000);
  ShellMemWinCreate(block.data(), 5000);
  QWidget* window = ShellMemWinWidget();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "QOR Memory Usage");
  // 1250 pixels: 5 rows of 256, so 2 x 5 + 50 high.
  EXPECT_EQ(window->size(), QSize(256, 60));
  EXPECT_EQ(ShellMemWinPixel(0, 0, 0), 255);
  EXPECT_EQ(ShellMemWinPixel(1, 255, 4), 255);
  EXPECT_EQ(ShellMemWinPixel(0, 0, 5), -1);
}

TEST_F(LangWinTest, MarkColoursByUseAndModuleAndClearWhitens) {
  std::vector<uint8_t> block(4096);
  ShellMemWinCreate(block.data(), 4096);
  ShellMemWinMark(block.data() + 1024 + 8, 16, 3, 27);  // row 1, pixels 2 to 5
  EXPECT_EQ(ShellMemWinPixel(0, 1, 1), 255);
  EXPECT_EQ(ShellMemWinPixel(0, 2, 1), 3);
  EXPECT_EQ(ShellMemWinPixel(1, 5, 1), 27);
  EXPECT_EQ(ShellMemWinPixel(1, 6, 1), 255);
  ShellMemWinClear(block.data() + 1024 + 12, 4);
  EXPECT_EQ(ShellMemWinPixel(0, 3, 1), 255);
  EXPECT_EQ(ShellMemWinPixel(1, 3, 1), 255);
  EXPECT_EQ(ShellMemWinPixel(0, 4, 1), 3);
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

TEST_F(LangWinTest, ClickShowsTheCodesUnderThePointer) {
  std::vector<uint8_t> block(2048);
  ShellMemWinCreate(block.data(), 2048);
  ShellMemWinMark(block.data() + 1024 + 40, 4, 41, 38);  // row 1, pixel 10
  QWidget* window = ShellMemWinWidget();
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(10, 20 + 1));  // the use map
  QStringList texts;
  for (QLabel* label : window->findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains("Use Code: 41")) << texts.join("|").toStdString();
  EXPECT_TRUE(texts.contains("Module Code: 38"));
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(0, 2 + 50));  // the module map, row 0
  texts.clear();
  for (QLabel* label : window->findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains("Use Code: 255"));
}

TEST_F(LangWinTest, AnEmptyBlockIsRefusedWithABox) {
  std::vector<std::string> boxes;
  PlatformOps ops = Platform();
  ops.ctx = &boxes;
  ops.messageBox = [](void* ctx, const char*, const char* text) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(text);
  };
  const PlatformOps* previous = PlatformInstall(&ops);
  ShellMemWinCreate(nullptr, 0);
  PlatformInstall(previous);
  EXPECT_EQ(ShellMemWinWidget(), nullptr);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Unable to create memory window");
  ShellMemWinMark(nullptr, 4, 1, 1);  // no window: nothing happens
}

}  // namespace
