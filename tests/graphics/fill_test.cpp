// PglFillRect: the packed edge masks and the RGB565 inversion byte for byte,
// and the fast path against the per-pixel model on random rectangles.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "graphics/pgl.h"
#include "tests/graphics/pgl_model.h"
#include "tests/support/engine_fixture.h"

namespace {

class FillTest : public EngineFixture {};

TEST_F(FillTest, TouchesOnlyTheRectanglesBits) {
  struct Row {
    uint32_t format, width;
    PglRect r;
    int invert;
    uint16_t colour;
    std::vector<uint8_t> before, after;
  };
  const Row rows[] = {
      {kPglMono, 16, {0, 0, 0, 0}, 0, 0xFFFF, {0x01, 0x00}, {0x00, 0x00}},  // white
      {kPglMono, 24, {3, 0, 12, 0}, 0, 0, {0, 0, 0}, {0xF8, 0x1F, 0x00}},
      {kPglGrey, 8, {1, 0, 5, 0}, 0, 2, {0, 0}, {0xA8, 0x0A}},
      {kPglNibble, 4, {1, 0, 2, 0}, 0, 0x77, {0, 0}, {0x70, 0x07}},
      {kPglRgb565, 1, {0, 0, 0, 0}, 1, 0, {0x00, 0xF8}, {0xFF, 0x07}},  // each field complemented
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> bytes = row.before;
    PglSurface s{};
    PglInitSurface(&s, row.width, 1, row.format, 0, 0);
    s.pixels = bytes.data();
    s.pitch = row.format == kPglRgb565 ? row.width : static_cast<uint32_t>(bytes.size());
    ASSERT_EQ(PglFillRect(&s, &row.r, row.invert, row.colour), kOk);
    EXPECT_EQ(bytes, row.after) << row.format << " " << row.r.left << "-" << row.r.right;
  }
}

TEST_F(FillTest, MatchesThePixelModelOnRandomRectangles) {
  std::mt19937 rng(11);
  static const uint32_t kFormats[] = {kPglMono, kPglGrey, kPglNibble, kPglRgb565, kPglCube};
  for (int round = 0; round < 3000; ++round) {
    const uint32_t format = kFormats[Next(rng) % 5];
    TestSurface fast(format, 1 + Next(rng) % 40, 1 + Next(rng) % 12, Next(rng) % 4, rng);
    TestSurface slow(fast);
    const int32_t w = static_cast<int32_t>(fast.surface.width);
    const int32_t h = static_cast<int32_t>(fast.surface.height);
    const PglRect r{RandomIn(rng, -2, w + 1), RandomIn(rng, -2, h + 1), RandomIn(rng, -2, w + 1),
                    RandomIn(rng, -2, h + 1)};
    const int invert = Next(rng) % 3 == 0;
    const auto colour = static_cast<uint16_t>(Next(rng) % 5 == 0 ? 0xFFFF : Next(rng));
    PglRect changed{};
    const Result want = ModelFill(slow.surface, r, invert, colour, &changed);
    ASSERT_EQ(PglFillRect(&fast.surface, &r, invert, colour), want) << "round " << round;
    ASSERT_EQ(fast.bytes, slow.bytes) << "round " << round << " format " << format;
  }
  EXPECT_TRUE(platform->invalidated.empty());  // no surface here is the screen
}

}  // namespace
