// Lines and shapes: the dispatcher's checks, pixel setting per format, the
// Bresenham tie-break, circles, outlines and polygons under a clip.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <utility>

#include "graphics/pgl.h"
#include "tests/graphics/pgl_model.h"
#include "tests/support/engine_fixture.h"

namespace {

class LineTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    platform->MakeScreen(16, 12);
    PglGetScreenSurface(&screen);
  }
  std::set<std::pair<int, int>> Inked(uint16_t background = 0xFFFF) {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x)
        if (platform->Pixel(x, y) != background) out.insert({x, y});
    return out;
  }
  PglSurface screen{};
};

using Points = std::set<std::pair<int, int>>;

// The whole walks, pixel by pixel, kept to the clip only when a pixel is set:
// what a shape must draw however far it reaches beyond the clip.
Points ModelLine(int64_t x0, int64_t y0, int64_t x1, int64_t y1, const PglRect& clip) {
  Points out;
  const int64_t adx = std::llabs(x1 - x0), ady = std::llabs(y1 - y0);
  const bool xDrives = ady <= adx;
  if (xDrives ? x1 < x0 : y1 < y0) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const int64_t big = xDrives ? adx : ady, small = xDrives ? ady : adx;
  const int64_t step = xDrives ? (y1 < y0 ? -1 : 1) : (x1 < x0 ? -1 : 1);
  int64_t decision = 2 * small - big, x = x0, y = y0;
  for (int64_t i = 0; i <= big; ++i) {
    if (x >= clip.left && x <= clip.right && y >= clip.top && y <= clip.bottom)
      out.insert({static_cast<int>(x), static_cast<int>(y)});
    if (decision > 0) {
      decision += 2 * (small - big);
      (xDrives ? y : x) += step;
    } else {
      decision += 2 * small;
    }
    ++(xDrives ? x : y);
  }
  return out;
}

Points ModelCircle(int64_t cx, int64_t cy, int64_t r, const PglRect& clip) {
  Points out;
  auto set = [&](int64_t x, int64_t y) {
    if (x >= clip.left && x <= clip.right && y >= clip.top && y <= clip.bottom)
      out.insert({static_cast<int>(x), static_cast<int>(y)});
  };
  int64_t x = 0, y = r, d = 1 - r;
  for (;; ++x) {
    for (int sx : {-1, 1})
      for (int sy : {-1, 1}) {
        set(cx + sx * x, cy + sy * y);
        set(cx + sx * y, cy + sy * x);
      }
    if (y <= x) break;
    if (d >= 0) {
      d += 2 * (x - y) + 5;
      --y;
    } else {
      d += 2 * x + 3;
    }
  }
  return out;
}

TEST_F(LineTest, EndPointsOffTheSurfaceAreRefused) {
  const PglLine wide{0, 0, 16, 3};
  EXPECT_EQ(PglDrawLine(&screen, &wide, 0), PglErr::BadRect);
  const PglLine negative{-1, 0, 3, 3};
  EXPECT_EQ(PglDrawLine(&screen, &negative, 0), PglErr::BadRect);
  EXPECT_TRUE(Inked().empty());
  EXPECT_TRUE(platform->invalidated.empty());
}

// Each line alone on a white screen: the pixels it inks and the rectangle it
// repaints (none when nothing is inked).
TEST_F(LineTest, LinesInkTheirPixelsAndRepaintAnOrderedRectangle) {
  struct Row {
    PglLine line;
    uint16_t colour;
    Points inked;
    std::vector<FakeRect> repainted;
  };
  const Points tie{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}};  // a zero decision steps straight
  const Row rows[] = {
      {{4, 5, 4, 5}, 0, {{4, 5}}, {{4, 5, 4, 5}}},
      {{0, 0, 4, 2}, 0, tie, {{0, 0, 4, 2}}},
      {{4, 2, 0, 0}, 0, tie, {{0, 0, 4, 2}}},  // the same pixels from the other end
      {{1, 9, 3, 2}, 0, {{1, 9}, {1, 8}, {2, 7}, {2, 6}, {2, 5}, {2, 4}, {3, 3}, {3, 2}}, {{1, 2, 3, 9}}},
      // Magenta is clear for vertical lines only.
      {{3, 1, 3, 6}, 0xF81F, {}, {}},
      {{1, 2, 6, 2}, 0xF81F, {{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}}, {{1, 2, 6, 2}}},
  };
  for (const Row& row : rows) {
    for (uint16_t& v : platform->screen) v = 0xFFFF;
    platform->invalidated.clear();
    ASSERT_EQ(PglDrawLine(&screen, &row.line, row.colour), kOk);
    EXPECT_EQ(Inked(), row.inked) << row.line.x1 << "," << row.line.y1;
    EXPECT_EQ(platform->invalidated, row.repainted) << row.line.x1 << "," << row.line.y1;
  }
}

// Bits and codes per format are checked against the model below; a format
// lines do not draw, or no pixels, draws nothing.
TEST_F(LineTest, OtherFormatsAndMissingPixelsDrawNothing) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  PglSurface nibble{};
  PglInitSurface(&nibble, 4, 2, kPglNibble, 0, 0);
  nibble.pixels = bytes;
  const PglLine run{0, 0, 3, 0}, diagonal{0, 0, 3, 1};
  EXPECT_EQ(PglDrawLine(&nibble, &run, 2), kOk);
  EXPECT_EQ(PglDrawLine(&nibble, &diagonal, 2), kOk);
  EXPECT_EQ(bytes[0] | bytes[1] | bytes[2] | bytes[3], 0);
  PglSurface none{};
  PglInitSurface(&none, 4, 4, kPglRgb565, 0, 0);
  EXPECT_EQ(PglDrawLine(&none, &run, 0), PglErr::NoPixels);
}

TEST_F(LineTest, LinesMatchTheModelInEveryFormat) {
  std::mt19937 rng(41);
  for (int round = 0; round < 2000; ++round) {
    const uint32_t format = RandomFormat(rng);
    TestSurface fast(format, 1 + Next(rng) % 30, 1 + Next(rng) % 20, Next(rng) % 3, rng);
    TestSurface slow(fast);
    const int32_t w = static_cast<int32_t>(fast.surface.width);
    const int32_t h = static_cast<int32_t>(fast.surface.height);
    const PglLine l{RandomIn(rng, 0, w - 1), RandomIn(rng, 0, h - 1), RandomIn(rng, 0, w - 1),
                    RandomIn(rng, 0, h - 1)};
    const auto colour = static_cast<uint16_t>(Next(rng));
    ASSERT_EQ(PglDrawLine(&fast.surface, &l, colour), kOk);
    // The model: the walk's pixels set one by one.
    const uint32_t mask = format == kPglMono ? 1 : format == kPglGrey ? 3 : format == kPglCube ? 0xFF : 0xFFFF;
    const bool clear = format == kPglRgb565 && colour == 0xF81F && l.x0 == l.x1;
    if (!clear)
      for (const auto& [x, y] : ModelLine(l.x0, l.y0, l.x1, l.y1, PglRect{0, 0, w - 1, h - 1}))
        ModelSet(slow.surface, x, y, colour & mask);
    ASSERT_EQ(fast.bytes, slow.bytes) << "round " << round;
  }
}

TEST_F(LineTest, AxisLineBesideTheClipDrawsNothing) {
  const PglRect clip{2, 2, 8, 8};
  const PglLine above{5, 0, 5, 1}, left{0, 5, 1, 5};
  EXPECT_EQ(PglDrawClippedLine(&screen, &clip, &above, 0), kPglShapeRefused);
  EXPECT_EQ(PglDrawClippedLine(&screen, &clip, &left, 0), kPglShapeRefused);
  EXPECT_TRUE(Inked().empty());
}

TEST_F(LineTest, CircleOfRadiusOneSetsTheFourNeighbours) {
  const PglRect clip{0, 0, 15, 11};
  const PglPoint c{5, 5};
  ASSERT_EQ(PglDrawCircle(&screen, &clip, &c, 1, 0), kOk);
  EXPECT_EQ(Inked(), (Points{{4, 5}, {6, 5}, {5, 4}, {5, 6}}));
  EXPECT_EQ(PglDrawCircle(&screen, &clip, &c, 0, 0), kPglShapeRefused);
}

TEST_F(LineTest, ShapesReachingFarBeyondTheClipDrawWhatTheWholeWalkDraws) {
  std::mt19937 rng(43);
  for (int round = 0; round < 3000; ++round) {
    for (uint16_t& v : platform->screen) v = 0xFFFF;
    const int32_t cl = RandomIn(rng, 0, 15), ct = RandomIn(rng, 0, 11);
    const PglRect clip{cl, ct, RandomIn(rng, cl, 15), RandomIn(rng, ct, 11)};
    const int32_t reach = round % 3 == 0 ? 40 : 3000;
    if (round % 2) {
      const PglLine l{RandomIn(rng, -reach, reach), RandomIn(rng, -reach, reach),
                      RandomIn(rng, -reach, reach), RandomIn(rng, -reach, reach)};
      PglDrawClippedLine(&screen, &clip, &l, 0);
      ASSERT_EQ(Inked(), ModelLine(l.x0, l.y0, l.x1, l.y1, clip)) << "round " << round;
    } else {
      const PglPoint c{RandomIn(rng, -reach, reach), RandomIn(rng, -reach, reach)};
      const int32_t r = RandomIn(rng, 1, 2 * reach);
      PglDrawCircle(&screen, &clip, &c, r, 0);
      ASSERT_EQ(Inked(), ModelCircle(c.x, c.y, r, clip)) << "round " << round;
    }
  }
}

// An image map's coordinates can be anything a page writes: a line or a
// circle billions of pixels long costs only what the clip holds.
TEST_F(LineTest, TheLongestLinesAndLargestCirclesDrawOnlyTheirPartInTheClip) {
  const PglRect clip{2, 2, 13, 9};
  const PglLine diagonal{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  ASSERT_EQ(PglDrawClippedLine(&screen, &clip, &diagonal, 0), kOk);
  Points want;
  for (int i = 2; i <= 9; ++i) want.insert({i, i});
  EXPECT_EQ(Inked(), want);

  for (uint16_t& v : platform->screen) v = 0xFFFF;
  // Its top passes along row 5: every column of the clip there, nothing else.
  const PglPoint centre{7, 5 - INT32_MAX};
  ASSERT_EQ(PglDrawCircle(&screen, &clip, &centre, INT32_MAX, 0), kOk);
  want.clear();
  for (int x = 2; x <= 13; ++x) want.insert({x, 5});
  EXPECT_EQ(Inked(), want);
}

TEST_F(LineTest, OutlinesAndPolygons) {
  const PglRect clip{0, 0, 15, 11}, box{2, 3, 6, 7};
  ASSERT_EQ(PglDrawRectOutline(&screen, &clip, &box, 0), kOk);
  EXPECT_EQ(Inked().size(), 16u);
  for (uint16_t& v : platform->screen) v = 0xFFFF;
  const PglPoint triangle[3] = {{1, 1}, {8, 1}, {1, 8}};
  EXPECT_EQ(PglDrawPolygon(&screen, &clip, triangle, 3, 0), kPglShapeRefused);
  EXPECT_TRUE(Inked().empty());
  const PglPoint square[4] = {{2, 3}, {6, 3}, {6, 7}, {2, 7}};
  ASSERT_EQ(PglDrawPolygon(&screen, &clip, square, 4, 0), kOk);
  EXPECT_EQ(Inked().size(), 16u);
  EXPECT_EQ(Inked().count({4, 5}), 0u);
}

TEST_F(LineTest, FrameDrawsFourLinesEachInvalidated) {
  const PglRect r{1, 1, 4, 3};
  ASSERT_EQ(PglDrawFrame(&screen, &r, 0), kOk);
  EXPECT_EQ(Inked().size(), 10u);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{1, 1, 4, 1}, {1, 3, 4, 3},
                                                          {1, 1, 1, 3}, {4, 1, 4, 3}}));
}

TEST_F(LineTest, ShapesFarOutsideStaySafe) {
  const PglRect clip{0, 0, 15, 11};
  const PglPoint far{INT32_MAX - 2, INT32_MIN + 2};
  EXPECT_EQ(PglDrawCircle(&screen, &clip, &far, 3, 0), kOk);
  const PglPoint poly[4] = {{-100, -100}, {200, -50}, {150, 300}, {-20, 400}};
  EXPECT_EQ(PglDrawPolygon(&screen, &clip, poly, 4, 0), kOk);
  for (auto p : Inked()) EXPECT_TRUE(p.first >= 0 && p.second >= 0);
}

}  // namespace
