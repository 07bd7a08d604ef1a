// Animation frames compared pixel for pixel with the PNGs in golden/:
// placements scaled down and up in each axis,
// outline-masked and OR placements at the packed depths, and the vector
// primitives. 8-bit frames are shown as 3-3-2 colour, packed ones as grey.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/sis.h"
#include "graphics/sis_draw.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/golden.h"

namespace {

constexpr uint32_t kW = 96, kH = 72;

GoldenImage Show(const std::vector<uint8_t>& f, uint32_t depth) {
  static constexpr uint8_t k3[8] = {0, 36, 73, 109, 146, 182, 219, 255};
  static constexpr uint8_t k2[4] = {0, 85, 170, 255};
  GoldenImage g{static_cast<int>(kW), static_cast<int>(kH), {}};
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      const uint32_t bit = (y * kW + x) * depth;
      const uint32_t v = f[bit / 8] >> (8 - depth - bit % 8) & ((1u << depth) - 1);
      if (depth == 8) {
        g.rgb.insert(g.rgb.end(), {k3[v >> 5], k3[v >> 2 & 7], k2[v & 3]});
      } else {
        const auto grey = static_cast<uint8_t>(v * 255 / ((1u << depth) - 1));
        g.rgb.insert(g.rgb.end(), {grey, grey, grey});
      }
    }
  return g;
}

::testing::AssertionResult Matches(const char* name, const std::vector<uint8_t>& f, uint32_t depth) {
  return GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/" + name + ".png", Show(f, depth));
}

// Frame 0 of `file`, decoded on a kW x kH canvas; empty on failure.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& file) {
  SisTestDecoderInit(kW, kH);
  return SisTestFrame(file, 0);
}

std::vector<uint8_t> Place(uint8_t object, int x, int y, uint8_t b3, uint8_t b4, std::vector<uint8_t> extra = {}) {
  if (x < 0) b3 |= 0x80;
  if (y < 0) b3 |= 0x40;
  std::vector<uint8_t> c{0, static_cast<uint8_t>(5 + extra.size()), object, b3, b4,
                         static_cast<uint8_t>(x < 0 ? -x : x), static_cast<uint8_t>(y < 0 ? -y : y)};
  for (uint8_t e : extra) c.push_back(e);
  return c;
}

// A 16 x 12 8-bit picture: red across, green down, a white corner and a
// blue stripe along the bottom show which way it faces.
std::vector<uint8_t> Arrow() {
  std::vector<uint8_t> p(16 * 12);
  for (uint32_t y = 0; y < 12; ++y)
    for (uint32_t x = 0; x < 16; ++x) {
      uint8_t v = static_cast<uint8_t>((x / 2) << 5 | (y * 7 / 11) << 2 | 1);
      if (x < 4 && y < 4) v = 0xFF;
      if (y == 11) v = 0x03;
      p[y * 16 + x] = v;
    }
  return p;
}

SafBuilder Canvas8() {
  SafBuilder b;
  b.width = kW;
  b.height = kH;
  b.Object(0, 16, 12, 1, 0, SisZlib(Arrow(), 6));
  return b;
}

TEST(SisGoldenTest, ScalingInEachAxis) {
  SafBuilder b = Canvas8();
  b.Frame(0x49, {
                    Place(0, 2, 2, 0, 0x40, {128}),                // half as wide
                    Place(0, 14, 2, 0, 0x10, {128}),               // half as high
                    Place(0, 34, 2, 0, 0xA0, {128, 171}),          // twice as wide, 1.5 as high
                    Place(0, 2, 24, 0, 0xA0, {85, 85}),            // three times
                    Place(0, 54, 24, 0x30, 0x60, {200, 100}),      // both flips, shrunk, enlarged
                    Place(0, 56, 46, 0x01, 0xA0, {160, 160, 20}),  // scaled and turned
                    Place(0, -6, 58, 0, 0xA0, {128, 128}),         // off two edges
                });
  const auto f = Decode(b.File());
  ASSERT_EQ(f.size(), kW * kH);
  EXPECT_TRUE(Matches("sis_scaling", f, 8));
}

// A ring with a gap on its right, at `depth` bits: the outline mask fills
// its inside up to the gap.
std::vector<uint8_t> Ring(uint32_t depth, uint32_t value) {
  std::vector<uint8_t> p(16 * 16 * depth / 8, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const int dx = 2 * x - 15, dy = 2 * y - 15, r2 = dx * dx + dy * dy;
      if (r2 < 120 || r2 > 225 || (x > 11 && y > 5 && y < 10)) continue;
      const uint32_t bit = static_cast<uint32_t>(y * 16 + x) * depth;
      p[bit / 8] |= static_cast<uint8_t>(value << (8 - depth - bit % 8));
    }
  return p;
}

TEST(SisGoldenTest, OutlineMaskAndOrAtPackedDepths) {
  for (uint32_t depth : {1u, 2u}) {
    SafBuilder b;
    b.width = kW;
    b.height = kH;
    b.depth = depth;
    const uint32_t top = (1u << depth) - 1;
    // A striped backdrop so that what the mask clears shows.
    std::vector<uint8_t> stripes(32 * 32 * depth / 8);
    for (uint32_t i = 0; i < stripes.size(); ++i) stripes[i] = i / (4 * depth) % 2 ? 0xCC : 0x33;
    b.Object(0, 32, 32, 1, 0, SisZlib(stripes, 0));
    b.Object(1, 16, 16, 0, 0, SisPackAdaptive(Ring(depth, top)));
    b.Object(2, 16, 16, 1, 0, SisZlib(Ring(depth, 1), 6));
    std::vector<std::vector<uint8_t>> commands;
    for (int i = 0; i < 3; ++i) commands.push_back(Place(0, 4 + 32 * i, 4, 0, 0));
    for (int i = 0; i < 3; ++i) commands.push_back(Place(0, 4 + 32 * i, 36, 0, 0));
    commands.push_back(Place(1, 12, 12, 0, 1));                   // outline-masked
    commands.push_back(Place(1, 44, 12, 0, 3));                   // OR
    commands.push_back(Place(1, 76, 12, 0, 0));                   // plain
    commands.push_back(Place(2, 8, 40, 0x01, 1, {40}));           // masked, turned
    commands.push_back(Place(2, 40, 40, 0x20, 1));                // masked, mirrored
    commands.push_back(Place(1, 70, 38, 0, 0xA1, {128, 128}));    // masked, enlarged
    b.Frame(depth == 1 ? 0 : 1, commands);
    const auto f = Decode(b.File());
    ASSERT_EQ(f.size(), kW * kH) << depth;
    EXPECT_TRUE(Matches(depth == 1 ? "sis_outline_1bit" : "sis_outline_2bit", f, depth));
  }
}

TEST(SisGoldenTest, VectorPrimitives) {
  std::vector<uint8_t> f(kW * kH, 0x92);
  const uint32_t red = 0xE0, green = 0x1C, blue = 0x03, white = 0xFF, black = 0, yellow = 0xFC;
  SisFillHalfPlane(f.data(), kW, kH, 0, 60, 96, 72, 0x6D);
  for (int i = 0; i < 9; ++i) SisDrawLine(f.data(), kW, kH, 18, 22, 18 + (i % 3 - 1) * 8, 22 + (i / 3 - 1) * 8, black);
  SisDrawThickLine(f.data(), kW, kH, 28, 4, 44, 20, 3, red, 1, 0);
  SisDrawThickLine(f.data(), kW, kH, 28, 22, 46, 14, 4, blue, 0, 0);
  SisDrawThickLine(f.data(), kW, kH, 30, 30, 30, 40, 5, green, 1, 0);
  SisDrawEllipse(f.data(), kW, kH, 62, 14, 12, 8, 0, 0, 1, black, yellow, 0);
  SisDrawEllipse(f.data(), kW, kH, 86, 14, 8, 11, 0, 0, 3, red, white, 0);
  SisDrawEllipse(f.data(), kW, kH, 62, 38, 10, 10, 20, 150, 2, blue, 0, 1);
  SisDrawRect(f.data(), kW, kH, 4, 34, 22, 50, 2, black, green, 0);
  SisDrawRect(f.data(), kW, kH, 36, 46, 48, 56, 1, white, 0, 1);
  const uint8_t sx[] = {76, 94, 88, 80, 70}, sy[] = {30, 34, 52, 44, 54};
  SisDrawPolygon(f.data(), kW, kH, 5, sx, sy, 1, black, red, 0);
  const uint8_t lx[] = {4, 14, 24, 34, 44}, ly[] = {66, 56, 68, 58, 70};
  SisDrawPolyline(f.data(), kW, kH, 5, lx, ly, 2, yellow);
  SisMaskOutsideEllipse(f.data(), kW, kH, 48, 36, 56, 46, black);
  EXPECT_TRUE(Matches("sis_primitives", f, 8));
}

}  // namespace
