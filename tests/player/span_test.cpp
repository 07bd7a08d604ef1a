// The span fillers the render draws fills with, called on one row of a
// small frame.
#include <gtest/gtest.h>

#include <vector>

#include "player/anim_raster.h"
#include "player_support.h"

namespace {

// The gradient span fillers, walking the ramp one entry a column (u and v
// step 128 a column, the radial one along its radius): the plain ones write
// the ramp's colours into the frame's row, the smooth ones into the colour
// row, with each column's coverage, a fraction at either end taking part of
// a column. Columns outside the span stay.
TEST(RasterSpans, TheGradientFillersWriteTheRampAlongTheSpan) {
  std::vector<uint8_t> ramp(256 * 8);
  for (int i = 0; i < 256; ++i) {
    ramp[8 * i] = static_cast<uint8_t>(i);
    ramp[8 * i + 1] = static_cast<uint8_t>(255 - i);
    ramp[8 * i + 3] = 255;
  }
  using Filler = void (*)(AnimRaster*, const AnimPaint*, int32_t, int32_t, int32_t, int32_t, int32_t);
  const struct {
    const char* what;
    Filler fill;
    uint32_t kind;
    bool smooth;
  } cases[] = {{"linear", AnimSpan_Linear, 0x10, false},
               {"radial", AnimSpan_Radial, 0x12, false},
               {"linear, smooth", AnimSpan_LinearAA, 0x10, true},
               {"radial, smooth", AnimSpan_RadialAA, 0x12, true}};
  constexpr int32_t kWidth = 16, kHeight = 4, kFirst = 2, kLast = 6;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestPlayer p;
    std::vector<uint16_t> frame(kWidth * kHeight, 0x1234);
    AnimRaster r{};
    ASSERT_TRUE(AnimRaster_Init(&r, p.get(), frame.data(), kWidth, kHeight, kWidth * 2, c.smooth));
    AnimPaint s{};
    s.kind = c.kind;
    s.a = 128;
    s.ramp = ramp.data();
    c.fill(&r, &s, 1, kFirst * 32 + 16, kLast * 32 + 8, 0, kWidth - 1);
    for (int32_t x = 0; x < kWidth; ++x) {
      SCOPED_TRACE(x);
      const bool in = x >= kFirst && x <= kLast;
      const auto colour = static_cast<uint16_t>(AnimColor_To16(static_cast<uint32_t>(x), static_cast<uint32_t>(255 - x), 0));
      if (!c.smooth) {
        EXPECT_EQ(frame[kWidth + x], in ? colour : 0x1234);
        continue;
      }
      EXPECT_EQ(frame[kWidth + x], 0x1234);
      EXPECT_EQ(r.colourRow[x], in ? colour : 0);
      const uint32_t cover = !in ? 0 : x == kFirst ? (255 - 8 * 16) >> 1 : x == kLast ? (8 * 8) >> 1 : 127;
      EXPECT_EQ(r.coverageRow[x], cover);
    }
    AnimRaster_Free(&r);
  }
}

}  // namespace
