// The animation primitives' stated edge cases.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/sis_draw.h"

namespace {

constexpr uint32_t kW = 32, kH = 24;

uint32_t Count(const std::vector<uint8_t>& f, uint8_t c) {
  uint32_t n = 0;
  for (uint8_t b : f) n += b == c;
  return n;
}

TEST(SisDrawTest, LinesAndThickness) {
  std::vector<uint8_t> f(kW * kH, 0);
  EXPECT_EQ(SisDrawThickLine(f.data(), kW, kH, 1, 1, 9, 1, 0, 5, 1, 0), 1);
  EXPECT_EQ(Count(f, 5), 0u);
  SisDrawLine(f.data(), kW, kH, 0, 0, 7, 3, 5);
  EXPECT_EQ(Count(f, 5), 8u);  // one pixel per step of the major axis
  EXPECT_EQ(f[0], 5);
  EXPECT_EQ(f[3 * kW + 7], 5);
  std::fill(f.begin(), f.end(), 0);
  SisDrawThickLine(f.data(), kW, kH, 5, 10, 25, 10, 3, 7, 1, 0);
  EXPECT_EQ(f[9 * kW + 15], 7);
  EXPECT_EQ(f[11 * kW + 15], 7);
  EXPECT_EQ(f[10 * kW + 4], 7);  // the disc cap of radius 1
  EXPECT_EQ(f[13 * kW + 15], 0);
}

TEST(SisDrawTest, EllipseArcsAndNothingCases) {
  std::vector<uint8_t> f(kW * kH, 0);
  SisDrawEllipse(f.data(), kW, kH, 16, 12, 8, 6, 10, 10, 1, 3, 4, 1);
  EXPECT_EQ(Count(f, 3), 0u);
  SisDrawEllipse(f.data(), kW, kH, 16, 12, 8, 6, 0, 64, 1, 3, 4, 0);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x)
      if (f[y * kW + x]) {
        EXPECT_TRUE(x >= 16 && y >= 12) << x << "," << y;  // lower right only, unfilled
      }
  EXPECT_EQ(Count(f, 4), 0u);
  std::fill(f.begin(), f.end(), 0);
  SisDrawEllipse(f.data(), kW, kH, 16, 12, 8, 6, 0, 0, 1, 3, 4, 0);
  EXPECT_EQ(f[12 * kW + 16], 4);
  EXPECT_EQ(f[12 * kW + 24], 3);
}

TEST(SisDrawTest, MasksAndRectangles) {
  std::vector<uint8_t> f(kW * kH, 0);
  SisMaskOutsideRect(f.data(), kW, kH, 40, 30, 50, 40, 9);
  EXPECT_EQ(Count(f, 9), 0u);  // off the buffer: limited to no rectangle
  std::fill(f.begin(), f.end(), 0);
  SisMaskOutsideRect(f.data(), kW, kH, 4, 4, 10, 8, 9);
  EXPECT_EQ(Count(f, 9), kW * kH - 7 * 5);
  std::fill(f.begin(), f.end(), 0);
  SisDrawRect(f.data(), kW, kH, -5, -5, 3, 3, 1, 2, 6, 0);
  EXPECT_EQ(f[0], 6);
  EXPECT_EQ(f[3 * kW + 3], 2);
  const uint8_t xs[] = {2, 20, 20}, ys[] = {2, 2, 20};
  std::fill(f.begin(), f.end(), 0);
  EXPECT_EQ(SisDrawPolygon(f.data(), kW, kH, 0, xs, ys, 1, 1, 1, 0), 0);
  EXPECT_EQ(Count(f, 1), 0u);
  SisDrawPolygon(f.data(), kW, kH, 3, xs, ys, 1, 1, 8, 0);
  EXPECT_EQ(f[5 * kW + 15], 8);
  EXPECT_EQ(f[15 * kW + 5], 0);
}

TEST(SisDrawTest, FullOpacityBlendReproducesTheSource) {
  std::vector<uint8_t> src(256), dst(256, 0x25);
  for (uint32_t i = 0; i < 256; ++i) src[i] = static_cast<uint8_t>(i);
  BlitBitmap d{};
  d.opacity = 255;
  SafObject o{};
  SisBlendImages(src.data(), dst.data(), &d, &o, 256);
  EXPECT_EQ(dst, src);
  d.keyMode = 2;
  o.key = 7;
  std::vector<uint8_t> keyed(256, 0x25);
  SisBlendImages(src.data(), keyed.data(), &d, &o, 255);
  EXPECT_EQ(keyed[7], 0x25);
  EXPECT_EQ(keyed[8], 8);
  EXPECT_EQ(keyed[255], 0x25);  // past the count
}

}  // namespace
