// Glyphs: the missing-character rule, clipping at 128 x 128, the caches
// against FreeType's own rendering, and golden images of Latin and Hangul.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "graphics/pgl.h"
#include "host/fontft_internal.h"
#include "tests/host/font_fixture.h"
#include "tests/support/golden.h"

namespace {

class FontGlyphs : public FontFixture {
 protected:
  // A body font at one size for every level.
  FontInstance* AtPoints(int32_t points) {
    FontSettings s = ShippedSettings();
    s.bodySizes[0] = {1, points};
    s.bodySizeCount = 1;
    Init(s);
    return Create(kFontBody, 1);
  }
  static bool Ink(const PglSurface& glyph, uint32_t x, uint32_t y) {
    return (glyph.pixels[y * glyph.pitch + x / 8] >> (x % 8) & 1) != 0;
  }
  static int InkCount(const PglSurface& glyph) {
    int n = 0;
    for (uint32_t y = 0; y < glyph.height; ++y)
      for (uint32_t x = 0; x < glyph.width; ++x) n += Ink(glyph, x, y);
    return n;
  }
  // The cell's bytes, row after row.
  static std::vector<uint8_t> Cell(const PglSurface& glyph) {
    std::vector<uint8_t> bytes;
    uint32_t rowBytes = (glyph.width + 7) / 8;
    for (uint32_t y = 0; y < glyph.height; ++y)
      bytes.insert(bytes.end(), glyph.pixels + y * glyph.pitch,
                   glyph.pixels + y * glyph.pitch + rowBytes);
    return bytes;
  }
  static int32_t Width(FontInstance* font, char16_t c, uint32_t style = 0) {
    int32_t width = -1;
    EXPECT_EQ(FontGetCharWidth(font, c, &width, style), kOk);
    return width;
  }
  static int32_t Metric(FontInstance* font, int32_t which, uint32_t style = 0) {
    int32_t value = -1;
    EXPECT_EQ(FontGetMetrics(font, which, &value, style), kOk);
    return value;
  }
};

TEST_F(FontGlyphs, ACharacterNoFaceHasIsTheSpace) {
  FontInstance* font = AtPoints(10);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(Width(font, u'\uFFFF'), Width(font, u' '));
  EXPECT_EQ(Width(font, u'\uFFFF', FontStyle::Fixed), Width(font, u' ', FontStyle::Fixed));
  PglSurface glyph{};
  ASSERT_EQ(FontDrawText(font, u'W', &glyph, 0), kOk);  // leaves ink in the buffer
  ASSERT_EQ(FontDrawText(font, u'\uFFFF', &glyph, 0), kOk);
  EXPECT_EQ(glyph.width, static_cast<uint32_t>(Width(font, u' ')));
  EXPECT_EQ(InkCount(glyph), 0);
}

TEST_F(FontGlyphs, AGlyphLargerThanTheBufferIsClippedToIt) {
  FontInstance* font = AtPoints(200);
  ASSERT_NE(font, nullptr);
  ASSERT_GT(Width(font, u'W'), 128);
  ASSERT_GT(Metric(font, FontMetric::Height), 128);
  PglSurface glyph{};
  ASSERT_EQ(FontDrawText(font, u'W', &glyph, 0), kOk);
  EXPECT_EQ(glyph.width, 128u);
  EXPECT_EQ(glyph.height, 128u);
  EXPECT_EQ(glyph.rowBytes, static_cast<uint32_t>(Width(font, u'W')));
  // The full block covers the whole buffer, and no byte beyond it (the
  // sanitizer build watches the buffer's end).
  ASSERT_EQ(FontDrawText(font, u'\u2588', &glyph, 0), kOk);
  int clear = 0;
  for (int i = 0; i < 16 * 128; ++i) clear += glyph.pixels[i] != 0xFF;
  EXPECT_EQ(clear, 0);
}

TEST_F(FontGlyphs, ANarrowGlyphAfterAWideOneKeepsNoStaleInk) {
  FontInstance* font = AtPoints(14);
  ASSERT_NE(font, nullptr);
  PglSurface glyph{};
  ASSERT_EQ(FontDrawText(font, u'\u2588', &glyph, 0), kOk);
  ASSERT_EQ(FontDrawText(font, u'.', &glyph, 0), kOk);
  // Only the dot's few pixels, at the bottom of the cell.
  EXPECT_GT(InkCount(glyph), 0);
  for (uint32_t y = 0; y < glyph.height / 2; ++y)
    for (uint32_t x = 0; x < glyph.width; ++x) EXPECT_FALSE(Ink(glyph, x, y)) << x << "," << y;
  // Bits past the width in the last byte of a row stay clear as well.
  uint32_t last = (glyph.width - 1) / 8;
  for (uint32_t y = 0; y < glyph.height; ++y)
    EXPECT_EQ(glyph.pixels[y * 16 + last] >> ((glyph.width - 1) % 8 + 1), 0) << y;
}

TEST_F(FontGlyphs, CachedGlyphsAndWidthsMatchFreeType) {
  Init(ShippedSettings());
  FontInstance* font = Create(kFontBody, 5);
  ASSERT_NE(font, nullptr);
  std::u16string text = u"AaBbgjQW@|.,\u00e9\u00df\uD55C\uAE00\uC758\u2022";
  for (uint32_t style : {0u, FontStyle::Fixed}) {
    FontFace* face = FontSelectVariant(font, style);
    for (int round = 0; round < 2; ++round) {
      for (char16_t c : text) {
        PglSurface glyph{};
        ASSERT_EQ(FontDrawText(font, c, &glyph, style), kOk);
        std::vector<uint8_t> cached = Cell(glyph);
        std::vector<uint8_t> fresh(16 * 128, 0x5A);
        ASSERT_TRUE(FontFaceDrawUncached(face, c, fresh.data(), 16));
        PglSurface direct = glyph;
        direct.pixels = fresh.data();
        EXPECT_EQ(cached, Cell(direct)) << "U+" << std::hex << int{c} << " round " << round;
        EXPECT_EQ(Width(font, c, style), FontFaceAdvanceUncached(face, c));
      }
    }
  }
}


// The glyphs of the text side by side, black on white.
GoldenImage Strip(FontInstance* font, const std::u16string& text) {
  GoldenImage image;
  std::vector<PglSurface> glyphs;
  std::vector<std::vector<uint8_t>> cells;
  for (char16_t c : text) {
    PglSurface glyph{};
    EXPECT_EQ(FontDrawText(font, c, &glyph, 0), kOk);
    image.width += static_cast<int>(glyph.width);
    image.height = static_cast<int>(glyph.height);
    glyphs.push_back(glyph);
    cells.emplace_back(glyph.pixels, glyph.pixels + 16 * 128);
  }
  image.rgb.assign(static_cast<size_t>(image.width) * image.height * 3, 0xFF);
  int left = 0;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    for (uint32_t y = 0; y < glyphs[i].height; ++y)
      for (uint32_t x = 0; x < glyphs[i].width; ++x)
        if (cells[i][y * 16 + x / 8] >> (x % 8) & 1) {
          size_t at = (y * static_cast<size_t>(image.width) + left + x) * 3;
          image.rgb[at] = image.rgb[at + 1] = image.rgb[at + 2] = 0;
        }
    left += static_cast<int>(glyphs[i].width);
  }
  return image;
}

std::string GoldenPath(const std::string& name) {
  return std::string(QOR_SOURCE_DIR) + "/tests/host/golden/" + name + ".png";
}

TEST_F(FontGlyphs, LatinAndHangulMatchTheirGoldenImages) {
  Init(ShippedSettings());
  FontInstance* font = Create(kFontBody, 4);  // 10 points
  ASSERT_NE(font, nullptr);
  EXPECT_TRUE(GoldenMatches(GoldenPath("font_latin_10"), Strip(font, u"Ag Wy")));
  EXPECT_TRUE(GoldenMatches(GoldenPath("font_hangul_10"), Strip(font, u"\uD55C\uAE00 \uBCF8\uBB38")));
}

}  // namespace
