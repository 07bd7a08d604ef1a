// Text measurement and drawing over the real fonts: soft hyphens, fitting,
// fixed pitch, synthetic bold, slant, the line effects, clips and characters
// the font cannot draw.
#include <string>

#include "tests/support/golden.h"
#include "tests/widgets/pwl_fixture.h"
#include "widgets/pwl_text.h"

namespace {

class TextTest : public PwlFixture {
 protected:
  TextTest() { withFonts = true; }
  void SetUp() override {
    PwlFixture::SetUp();
    PwlReleaseFont(font);
    ASSERT_EQ(PwlOpenBodyFont(&font, 4), kOk);
    ASSERT_EQ(font->bold, nullptr);  // the shipped families have no bold face
    const PwlBox box{0, 0, 160, 240};
    ASSERT_EQ(PwlCreateSubWindow(&page, root, &box, PwlWin::ClearOnOpen), kOk);
    PwlClear(page);
  }
  int32_t Width(const std::u16string& text, uint32_t style) {
    int32_t w = -1;
    EXPECT_EQ(PwlTextWidth(font, style, static_cast<uint32_t>(text.size()), text.c_str(), &w),
              kOk);
    return w;
  }
  Result Draw(const std::u16string& text, uint32_t style, int32_t x, int32_t y,
              const PwlBox* clip = nullptr) {
    return PwlDrawText(font, style, static_cast<uint32_t>(text.size()), text.c_str(), page, x, y,
                       clip, 0x0000, 0xFFFF);
  }
  // The rightmost screen column in rows [top, bottom] that is not white; -1 for none.
  int32_t RightmostInk(int32_t top, int32_t bottom) {
    for (int32_t x = 159; x >= 0; --x)
      for (int32_t y = top; y <= bottom; ++y)
        if (platform->Pixel(x, y) != 0xFFFF) return x;
    return -1;
  }
  std::vector<uint16_t> Rows(int32_t top, int32_t bottom) {
    std::vector<uint16_t> out;
    for (int32_t y = top; y <= bottom; ++y)
      for (int32_t x = 0; x < 160; ++x) out.push_back(platform->Pixel(x, y));
    return out;
  }
  int32_t Height() {
    int32_t h = 0;
    PwlLineHeight(font, 0, &h);
    return h;
  }

  PwlWindow* page = nullptr;
};

TEST_F(TextTest, SoftHyphensMeasureNothingAndDrawNothing) {
  EXPECT_EQ(Width(u"\u00AD\u00AD\u00AD", 0), 0);
  EXPECT_EQ(Width(u"ab\u00ADcd", 0), Width(u"abcd", 0));
  platform->invalidated.clear();
  EXPECT_EQ(Draw(u"\u00AD\u00AD", 0, 10, 10), kOk);
  EXPECT_EQ(RightmostInk(0, 239), -1);
  EXPECT_TRUE(platform->invalidated.empty());
}

TEST_F(TextTest, FittingTakesTheWholeTextWhenCountIsZero) {
  const std::u16string text = u"Hello world";
  int32_t width = 1000;
  uint32_t count = 0;
  ASSERT_EQ(PwlFitText(font, 0, &width, text.c_str(), &count), kOk);
  EXPECT_EQ(count, text.size());
  EXPECT_EQ(width, Width(text, 0));
  width = Width(u"Hell", 0) + Width(u"o", 0) - 1;  // one pixel short of "Hello"
  count = 0;
  ASSERT_EQ(PwlFitText(font, 0, &width, text.c_str(), &count), kOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(width, Width(u"Hell", 0));
}

TEST_F(TextTest, SlantedFittingLeavesRoomForTheSlant) {
  int32_t extra = 0;
  PwlSlantWidth(font, 0, &extra);
  EXPECT_EQ(extra, Height() / 3 - 1);
  int32_t width = extra;
  uint32_t count = 3;
  ASSERT_EQ(PwlFitText(font, PwlStyle::Slant, &width, u"abc", &count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(width, 0);
  width = 1000;
  count = 3;
  ASSERT_EQ(PwlFitText(font, PwlStyle::Slant, &width, u"abc", &count), kOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(width, Width(u"abc", PwlStyle::Slant) + extra);
}

TEST_F(TextTest, FixedPitchMultipliesTheWidestCharacter) {
  int32_t widest = 0;
  PwlMaxCharWidth(font, PwlStyle::Fixed, &widest);
  ASSERT_GT(widest, 0);
  EXPECT_EQ(Width(u"iiW", PwlStyle::Fixed), 3 * widest);
  EXPECT_EQ(Width(u"iiW", PwlStyle::Fixed | PwlStyle::Bold), 3 * (widest + 1));
  int32_t width = 2 * widest + 1;
  uint32_t count = 0;
  ASSERT_EQ(PwlFitText(font, PwlStyle::Fixed, &width, u"iiiii", &count), kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(width, 2 * widest);
}

TEST_F(TextTest, SyntheticBoldIsOnePixelWiderPerCharacterMeasuredAndDrawn) {
  EXPECT_EQ(Width(u"HIH", PwlStyle::Bold), Width(u"HIH", 0) + 3);
  ASSERT_EQ(Draw(u"HIH", 0, 0, 0), kOk);
  const int32_t plain = RightmostInk(0, 20);
  ASSERT_EQ(Draw(u"HIH", PwlStyle::Bold, 0, 30), kOk);
  const int32_t bold = RightmostInk(30, 50);
  // Each earlier character pushes the next one pixel on, and the last one
  // is drawn twice.
  EXPECT_EQ(bold, plain + 3);
}

TEST_F(TextTest, UnderlineSitsBelowTheBaselineAcrossTheRun) {
  int32_t ascent = 0;
  PwlFontMetric2(font, PwlStyle::Underline, &ascent);
  const int32_t w = Width(u"ab", 0);
  ASSERT_EQ(Draw(u"ab", PwlStyle::Underline, 10, 20), kOk);
  for (int32_t x = 10; x < 10 + w; ++x) EXPECT_EQ(platform->Pixel(x, 20 + ascent + 1), 0) << x;
  EXPECT_EQ(platform->Pixel(10 + w, 20 + ascent + 1), 0xFFFF);
  int32_t h = 0;
  PwlLineHeight(font, PwlStyle::Underline, &h);
  EXPECT_GE(h, ascent + 2);
}

TEST_F(TextTest, HighlightInvertsTheRunsBox) {
  ASSERT_EQ(Draw(u"  ", PwlStyle::Highlight, 0, 0), kOk);
  const int32_t w = Width(u"  ", 0);
  EXPECT_EQ(platform->Pixel(0, 0), 0x0000);
  EXPECT_EQ(platform->Pixel(w - 1, Height() - 1), 0x0000);
  EXPECT_EQ(platform->Pixel(w, 0), 0xFFFF);
}

TEST_F(TextTest, ACharacterTheFontCannotDrawIsSkipped) {
  PglSurface glyph{};
  ASSERT_EQ(FontDrawText(font, 0x200B, &glyph, 0), FontErr::NoGlyph);
  ASSERT_EQ(Draw(u"AB", 0, 0, 0), kOk);
  ASSERT_EQ(Draw(u"A\u200BB", 0, 0, 30), kOk);
  EXPECT_EQ(Rows(0, 20), Rows(30, 50));
}

TEST_F(TextTest, AClipStandsInForTheViewportAndIsGivenBack) {
  const PglViewport before = page->viewport;
  const PwlBox clip{20, 20, 10, 40};
  ASSERT_EQ(Draw(u"WWWWWW", 0, 0, 0, &clip), kOk);
  EXPECT_EQ(page->viewport.x, before.x);
  EXPECT_EQ(page->viewport.width, before.width);
  EXPECT_NE(RightmostInk(20, 59), -1);
  EXPECT_LE(RightmostInk(0, 239), 29);
  EXPECT_EQ(RightmostInk(0, 19), -1);
}

TEST_F(TextTest, HiddenWindowsTakeNoText) {
  page->hidden = 1;
  ASSERT_EQ(Draw(u"Hidden", 0, 0, 0), kOk);
  EXPECT_EQ(RightmostInk(0, 239), -1);
}

TEST_F(TextTest, StylesLookAsExpected) {
  const uint32_t styles[] = {0,
                             PwlStyle::Bold,
                             PwlStyle::Slant,
                             PwlStyle::Slant | PwlStyle::Bold,
                             PwlStyle::Underline,
                             PwlStyle::Strike,
                             PwlStyle::Highlight,
                             PwlStyle::Fixed,
                             PwlStyle::Opaque | PwlStyle::Bold};
  PglRect band{0, 0, 159, 239};
  PwlFillRect2(page, &band, 0xC618);  // grey, so that opaque text shows its box
  int32_t y = 2;
  for (uint32_t style : styles) {
    ASSERT_EQ(PwlDrawText(font, style, 14, u"Pwl text\u00AD 한글!", page, 2, y, nullptr, 0x001F,
                          0xFFFF),
              kOk);
    y += Height() + 4;
  }
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/text_styles.png", image));
}

}  // namespace
