// Text measurement and drawing over the real fonts.
#include <string>

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
  EXPECT_EQ(Draw(u"\u00AD\u00AD", 0, 10, 10), kOk);
  EXPECT_EQ(RightmostInk(0, 239), -1);
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

TEST_F(TextTest, ACharacterTheFontCannotDrawIsSkipped) {
  PglSurface glyph{};
  ASSERT_EQ(FontDrawText(font, 0x200B, &glyph, 0), FontErr::NoGlyph);
  ASSERT_EQ(Draw(u"AB", 0, 0, 0), kOk);
  ASSERT_EQ(Draw(u"A\u200BB", 0, 0, 30), kOk);
  EXPECT_EQ(Rows(0, 20), Rows(30, 50));
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
  EXPECT_TRUE(ScreenMatches("text_styles.png"));
}

}  // namespace
