// The animation primitives' stated edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "graphics/sis_draw.h"

namespace {

constexpr uint32_t kW = 32, kH = 24;

uint32_t Count(const std::vector<uint8_t>& f, uint8_t c) {
  return static_cast<uint32_t>(std::count(f.begin(), f.end(), c));
}

TEST(SisDrawTest, ShapesThatDrawNothingOrOnlyTheirStatedPart) {
  std::vector<uint8_t> f(kW * kH, 0);
  EXPECT_EQ(SisDrawThickLine(f.data(), kW, kH, 1, 1, 9, 1, 0, 5, 1, 0), 1);  // thickness 0
  SisDrawEllipse(f.data(), kW, kH, 16, 12, 8, 6, 10, 10, 1, 5, 4, 1);        // an empty arc
  SisMaskOutsideRect(f.data(), kW, kH, 40, 30, 50, 40, 5);                   // off the buffer
  const uint8_t xs[] = {2, 20, 20}, ys[] = {2, 2, 20};
  EXPECT_EQ(SisDrawPolygon(f.data(), kW, kH, 0, xs, ys, 1, 5, 5, 0), 0);
  EXPECT_EQ(Count(f, 5), 0u);
  SisDrawEllipse(f.data(), kW, kH, 16, 12, 8, 6, 0, 64, 1, 3, 4, 0);  // a quarter arc, unfilled
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x)
      EXPECT_TRUE(!f[y * kW + x] || (x >= 16 && y >= 12)) << x << "," << y;
  EXPECT_EQ(Count(f, 4), 0u);
  std::fill(f.begin(), f.end(), 0);
  SisDrawThickLine(f.data(), kW, kH, 5, 10, 25, 10, 3, 7, 1, 0);
  EXPECT_EQ(f[10 * kW + 4], 7);  // the disc cap of radius 1
  EXPECT_EQ(f[13 * kW + 15], 0);
}

}  // namespace
