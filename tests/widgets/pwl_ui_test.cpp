// The browser window's UI task as the toolkit's owner: its content window
// and the soft-key labels it shows in the band below it.
#include "browser/bentitle.h"
#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "kernel/uistring.h"
#include "tests/widgets/pwl_fixture.h"

namespace {

class UiLabelTest : public PwlFixture {
 protected:
  UiLabelTest() { withFonts = true; }
  void SetUp() override {
    PwlFixture::SetUp();
    ASSERT_EQ(UiCreate(""), kOk);
    Pump();
  }
  void TearDown() override {
    TskmanSend(TskmanFind(Mod::Ui), UiMsg::Command, 31, 0);
    // The URL task the window started stops on its own message.
    Pump();
    PwlFixture::TearDown();
  }
  int Count(uint16_t colour, int32_t left, int32_t right) {
    int n = 0;
    for (int32_t y = 224; y < 240; ++y)
      for (int32_t x = left; x <= right; ++x) n += platform->Pixel(x, y) == colour;
    return n;
  }
  int InkInBand(int32_t left, int32_t right) {
    return 16 * (right - left + 1) - Count(0xFFFF, left, right);
  }
};

TEST_F(UiLabelTest, AnswersItsContentWindow) {
  PwlWindow* content = nullptr;
  ASSERT_EQ(TskmanSend(TskmanFind(Mod::Ui), 0x1302, reinterpret_cast<uintptr_t>(&content), 0),
            kOk);
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->frame.left, 0);
  EXPECT_EQ(content->width, 160u);
  EXPECT_EQ(content->height, 224u);
  EXPECT_EQ(TskmanSend(TskmanFind(Mod::Ui), 0x1302, 0, 0), 0x80130002u);
}

TEST_F(UiLabelTest, ShowsAndClearsTheSoftKeyLabels) {
  TskmanPost(TskmanFind(Mod::Ui), PwlEvent::Labels, reinterpret_cast<uintptr_t>(u"Menu"),
             reinterpret_cast<uintptr_t>(u"Back"));
  Pump();
  EXPECT_GT(InkInBand(0, 60), 0);
  EXPECT_GT(InkInBand(100, 159), 0);
  UiWindow* ui = UiGetWindow();
  ASSERT_NE(ui, nullptr);
  EXPECT_EQ(std::u16string(ui->labels[1]), u"Back");
  TskmanPost(TskmanFind(Mod::Ui), PwlEvent::ClearLabels, 0, 0);
  Pump();
  EXPECT_EQ(InkInBand(0, 159), 0);
  TskmanPost(TskmanFind(Mod::Ui), PwlEvent::Label, reinterpret_cast<uintptr_t>(u"OK"), 0);
  Pump();
  EXPECT_GT(InkInBand(0, 60), 0);
  EXPECT_EQ(InkInBand(100, 159), 0);
}

TEST_F(UiLabelTest, TheTitleLineSitsInItsBevelledBoxBetweenTheLabelsAndStays) {
  TskmanTask* task = TskmanFind(Mod::Ui);
  TskmanPost(task, PwlEvent::Labels, reinterpret_cast<uintptr_t>(u"Menu"),
             reinterpret_cast<uintptr_t>(u"Back"));
  Pump();
  UiWindow* ui = UiGetWindow();
  ASSERT_NE(ui, nullptr);
  EXPECT_EQ(ui->bottomBarHeight, 16u) << "the band is the bottom bar";
  const int left = InkInBand(0, 27), right = InkInBand(132, 159);
  ASSERT_EQ(InkInBand(28, 131), 0);
  BenDrawBevel(ui, kBenChromeInset, static_cast<int32_t>(ui->bottomBarHeight));
  BenDrawTitleBar(ui, u"Typing", nullptr, 0);
  EXPECT_EQ(std::u16string(ui->title), u"Typing");
  EXPECT_EQ(platform->Pixel(80, 239), 0x7BEF) << "the shadow along the bottom";
  EXPECT_EQ(platform->Pixel(131, 230), 0x7BEF) << "and the right side";
  EXPECT_EQ(platform->Pixel(29, 225), 0xD69A) << "the face inside";
  const int text = Count(0x0000, 29, 130);
  EXPECT_GT(text, 0);
  EXPECT_EQ(InkInBand(0, 27), left) << "the labels are left alone";
  EXPECT_EQ(InkInBand(132, 159), right);
  // New labels redraw the band: the title comes back with it.
  TskmanPost(task, PwlEvent::ClearLabels, 0, 0);
  Pump();
  EXPECT_EQ(Count(0x0000, 29, 130), text);
  EXPECT_EQ(InkInBand(0, 27), 0);
  // A second text follows the title; a long title is cut to the box.
  BenDrawTitleBar(ui, u"Edit", u"2", 0);
  EXPECT_EQ(std::u16string(ui->title), u"Edit 2");
  BenDrawTitleBar(ui, u"A title far too long to fit in the box at all", nullptr, 0);
  EXPECT_EQ(InkInBand(0, 27), 0);
  EXPECT_EQ(InkInBand(132, 159), 0);
}

// The title stands in the middle of its box's face, whatever its length
// (a title that fits); the box and the labels beside it are as before.
TEST_F(UiLabelTest, TheTitleStandsInTheMiddleOfItsBox) {
  TskmanTask* task = TskmanFind(Mod::Ui);
  TskmanPost(task, PwlEvent::ClearLabels, 0, 0);
  Pump();
  UiWindow* ui = UiGetWindow();
  ASSERT_NE(ui, nullptr);
  // The face: inside the bevel, 28 pixels in from each side of the band.
  const int32_t faceLeft = kBenChromeInset + 1, faceRight = 159 - kBenChromeInset - 1;
  for (const char16_t* title : {UiGetString(13, 2), UiGetString(13, 3), u"Typing", u"W"}) {
    SCOPED_TRACE(std::char_traits<char16_t>::length(title));
    BenDrawBevel(ui, kBenChromeInset, static_cast<int32_t>(ui->bottomBarHeight));
    BenDrawTitleBar(ui, title, nullptr, 0);
    int32_t left = 160, right = -1, top = 240, bottom = -1;
    for (int32_t y = 224; y < 240; ++y)
      for (int32_t x = faceLeft; x <= faceRight; ++x)
        if (platform->Pixel(x, y) == 0x0000) {
          left = std::min(left, x), right = std::max(right, x);
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
    ASSERT_GE(right, left) << "no title drawn";
    // Glyphs keep a pixel or two of their advance empty on either side.
    EXPECT_LE(std::abs((left + right) - (faceLeft + faceRight)), 4)
        << "ink " << left << ".." << right << " in the face " << faceLeft << ".." << faceRight;
    EXPECT_GT(top, 224) << "the bevel's top line stays";
    EXPECT_LT(bottom, 239) << "the bevel's bottom line stays";
  }
}

}  // namespace
