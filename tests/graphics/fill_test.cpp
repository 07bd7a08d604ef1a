// PglFillRect: the packed edge masks, the RGB565 inversion, refusals, and the
// fast path against the per-pixel model on random surfaces and rectangles.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "graphics/pgl.h"
#include "tests/graphics/pgl_model.h"
#include "tests/support/engine_fixture.h"

namespace {

class FillTest : public EngineFixture {};

PglSurface Over(uint8_t* bytes, uint32_t format, uint32_t width, uint32_t height, uint32_t pitch) {
  PglSurface s{};
  PglInitSurface(&s, width, height, format, 0, 0);
  s.pixels = bytes;
  s.pitch = pitch;
  return s;
}

// Packed edge masks and the RGB565 inversion, byte for byte.
TEST_F(FillTest, TouchesOnlyTheRectanglesBits) {
  struct Row {
    uint32_t format, width;
    PglRect r;
    int invert;
    uint16_t colour;
    std::vector<uint8_t> before, after;
  };
  const Row rows[] = {
      {kPglMono, 16, {0, 0, 0, 0}, 0, 0, {0, 0}, {0x01, 0x00}},
      {kPglMono, 16, {0, 0, 0, 0}, 0, 0xFFFF, {0x01, 0x00}, {0x00, 0x00}},  // white
      {kPglMono, 24, {3, 0, 12, 0}, 0, 0, {0, 0, 0}, {0xF8, 0x1F, 0x00}},
      {kPglMono, 24, {3, 0, 12, 0}, 1, 0, {0xF8, 0x1F, 0x00}, {0, 0, 0}},  // inverting takes it back
      {kPglGrey, 8, {1, 0, 5, 0}, 0, 2, {0, 0}, {0xA8, 0x0A}},
      {kPglNibble, 4, {1, 0, 2, 0}, 0, 0x77, {0, 0}, {0x70, 0x07}},
      {kPglRgb565, 1, {0, 0, 0, 0}, 1, 0, {0x00, 0xF8}, {0xFF, 0x07}},  // each field complemented
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> bytes = row.before;
    PglSurface s = Over(bytes.data(), row.format, row.width, 1, static_cast<uint32_t>(bytes.size()));
    if (row.format == kPglRgb565) s.pitch = row.width;
    ASSERT_EQ(PglFillRect(&s, &row.r, row.invert, row.colour), kOk);
    EXPECT_EQ(bytes, row.after) << row.format << " " << row.r.left << "-" << row.r.right;
  }
}

TEST_F(FillTest, RefusalsChangeNothing) {
  uint16_t px[4] = {1, 2, 3, 4};
  PglSurface s = Over(reinterpret_cast<uint8_t*>(px), kPglRgb565, 2, 2, 2);
  const PglRect wide{0, 0, 2, 1}, reversed{1, 0, 0, 1}, negative{-1, 0, 1, 1};
  EXPECT_EQ(PglFillRect(&s, &wide, 0, 0), PglErr::BadRect);
  EXPECT_EQ(PglFillRect(&s, &reversed, 0, 0), PglErr::BadRect);
  EXPECT_EQ(PglFillRect(&s, &negative, 0, 0), PglErr::BadRect);
  PglSurface cube = Over(reinterpret_cast<uint8_t*>(px), kPglCube, 2, 2, 2);
  const PglRect ok{0, 0, 1, 1};
  EXPECT_EQ(PglFillRect(&cube, &ok, 0, 0), PglErr::BadFormat);
  PglSurface none{};
  PglInitSurface(&none, 2, 2, kPglRgb565, 0, 0);
  EXPECT_EQ(PglFillRect(&none, &ok, 0, 0), PglErr::NoPixels);
  EXPECT_EQ(px[0] + px[1] + px[2] + px[3], 10);
  EXPECT_TRUE(platform->invalidated.empty());
}

TEST_F(FillTest, MatchesThePixelModelOnRandomRectangles) {
  std::mt19937 rng(11);
  static const uint32_t kFormats[] = {kPglMono, kPglGrey, kPglNibble, kPglRgb565};
  for (int round = 0; round < 3000; ++round) {
    const uint32_t format = kFormats[Next(rng) % 4];
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

TEST_F(FillTest, ScreenFillsInvalidateExactlyTheirRectangle) {
  platform->MakeScreen(30, 20);
  PglSurface screen;
  PglGetScreenSurface(&screen);
  std::mt19937 rng(12);
  for (int round = 0; round < 200; ++round) {
    platform->invalidated.clear();
    const PglRect r{RandomIn(rng, -1, 31), RandomIn(rng, -1, 21), RandomIn(rng, -1, 31),
                    RandomIn(rng, -1, 21)};
    const std::vector<uint16_t> before = platform->screen;
    const Result res = PglFillRect(&screen, &r, 0, static_cast<uint16_t>(Next(rng)));
    if (res != kOk) {
      EXPECT_TRUE(platform->invalidated.empty());
      EXPECT_EQ(platform->screen, before);
      continue;
    }
    ASSERT_EQ(platform->invalidated.size(), 1u);
    EXPECT_EQ(platform->invalidated[0], (FakeRect{r.left, r.top, r.right, r.bottom}));
  }
}

}  // namespace
