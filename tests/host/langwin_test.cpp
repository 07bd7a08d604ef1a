// The language dialog and the memory-usage window, offscreen.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <string>
#include <vector>

#include "host/platform/lang.h"
#include "host/platform/platform.h"
#include "host/qt/langdialog.h"
#include "host/qt/memwin.h"
#include "tests/support/qt_app.h"


namespace {

class LangWinTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureQApplication(); }
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
  for (auto [map, x, y] : {std::array{0, 0, 5}, {2, 0, 0}, {-1, 0, 0}, {0, 256, 0}, {1, -1, 0},
                           {0, 0, -1}})
    EXPECT_EQ(ShellMemWinPixel(map, x, y), -1) << map << " " << x << " " << y;
  EXPECT_FALSE(window->grab().isNull());  // both maps drawn
}

// Marks colour both maps; the part of a mark outside the block is dropped,
// on either side, and a clear whitens only its own pixels.
TEST_F(LangWinTest, MarksColourInsideTheBlockOnly) {
  struct Mark {
    int from;  // bytes from the block's start
    uint32_t size;
    uint32_t use, module;  // 255, 255: a clear
  };
  struct Pixel {
    int x, y, use, module;
  };
  struct Row {
    const char* name;
    std::vector<Mark> marks;
    std::vector<Pixel> expect;
  };
  const Row rows[] = {
      {"inside", {{1024 + 8, 16, 3, 27}},
       {{1, 1, 255, 255}, {2, 1, 3, 27}, {5, 1, 3, 27}, {6, 1, 255, 255}}},
      {"cleared", {{1024 + 8, 16, 3, 27}, {1024 + 12, 4, 255, 255}},
       {{2, 1, 3, 27}, {3, 1, 255, 255}, {4, 1, 3, 27}}},
      {"codes keep their low byte", {{0, 4, 0x104, 0x317}}, {{0, 0, 4, 0x17}}},
      {"before the block", {{-32, 40, 4, 23}},
       {{0, 0, 4, 23}, {1, 0, 4, 23}, {2, 0, 255, 255}, {255, 1, 255, 255}}},
      {"ending at its start", {{-32, 32, 4, 23}}, {{0, 0, 255, 255}}},
      {"an unaligned start before it", {{-3, 7, 4, 23}}, {{0, 0, 255, 255}}},
      {"past its end", {{2048 - 4, 64, 13, 34}}, {{255, 1, 13, 34}, {254, 1, 255, 255}}},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> memory(2048 + 64);
    uint8_t* start = memory.data() + 32;
    ShellMemWinCreate(start, 2048);
    for (const Mark& m : row.marks) {
      if (m.use == 255 && m.module == 255)
        ShellMemWinClear(start + m.from, m.size);
      else
        ShellMemWinMark(start + m.from, m.size, m.use, m.module);
    }
    for (const Pixel& p : row.expect) {
      EXPECT_EQ(ShellMemWinPixel(0, p.x, p.y), p.use) << row.name << " " << p.x << "," << p.y;
      EXPECT_EQ(ShellMemWinPixel(1, p.x, p.y), p.module) << row.name << " " << p.x << "," << p.y;
    }
    EXPECT_EQ(ShellMemWinPixel(0, 0, 2), -1) << row.name;  // 512 pixels: two rows
  }
}

QStringList LabelTexts(QWidget* window) {
  QStringList texts;
  for (QLabel* label : window->findChildren<QLabel*>()) texts << label->text();
  return texts;
}

TEST_F(LangWinTest, ClickShowsTheCodesUnderThePointer) {
  std::vector<uint8_t> block(2048);
  ShellMemWinCreate(block.data(), 2048);
  ShellMemWinMark(block.data() + 1024 + 40, 4, 41, 38);  // row 1, pixel 10
  QWidget* window = ShellMemWinWidget();
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(10, 20 + 1));  // the use map
  QStringList texts = LabelTexts(window);
  EXPECT_TRUE(texts.contains("Use Code: 41")) << texts.join("|").toStdString();
  EXPECT_TRUE(texts.contains("Module Code: 38"));
  // Off both maps, or with the other button: the labels stay.
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(10, 5));
  QTest::mouseClick(window, Qt::RightButton, {}, QPoint(0, 2 + 50));
  EXPECT_EQ(LabelTexts(window), texts);
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(0, 2 + 50));  // the module map, row 0
  EXPECT_TRUE(LabelTexts(window).contains("Use Code: 255"));
}

TEST_F(LangWinTest, AnEmptyBlockIsRefusedWithABox) {
  std::vector<uint8_t> block(8);
  for (auto [start, size] : {std::pair<const void*, uint32_t>{nullptr, 4096}, {block.data(), 3}}) {
    std::vector<std::string> boxes;
    PlatformOps ops = Platform();
    ops.ctx = &boxes;
    ops.messageBox = [](void* ctx, const char*, const char* text) {
      static_cast<std::vector<std::string>*>(ctx)->push_back(text);
    };
    const PlatformOps* previous = PlatformInstall(&ops);
    ShellMemWinCreate(start, size);
    PlatformInstall(previous);
    EXPECT_EQ(ShellMemWinWidget(), nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Unable to create memory window");
  }
  ShellMemWinMark(block.data(), 4, 1, 1);  // no window: nothing happens
  ShellMemWinClear(block.data(), 4);
  EXPECT_EQ(ShellMemWinPixel(0, 0, 0), -1);
}

}  // namespace
