// Lines and shapes: lines in every pixel format against a per-pixel model,
// lines and circles under any clip against the plain walks, outlines and
// polygons.
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
    // The model: the same pixels that a clip-free walk visits, one by one.
    const uint32_t mask = format == kPglMono ? 1 : format == kPglGrey ? 3 : format == kPglCube ? 0xFF : 0xFFFF;
    const bool clear = format == kPglRgb565 && colour == 0xF81F && l.x0 == l.x1;
    const PglRect all{0, 0, w - 1, h - 1};
    TestSurface probe(kPglRgb565, fast.surface.width, fast.surface.height, 0, rng);
    for (size_t i = TestSurface::kGuard; i + TestSurface::kGuard < probe.bytes.size(); ++i)
      probe.bytes[i] = 0;
    PglDrawClippedLine(&probe.surface, &all, &l, 1);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        if (ModelGet(probe.surface, x, y) && !clear) ModelSet(slow.surface, x, y, colour & mask);
    ASSERT_EQ(fast.bytes, slow.bytes) << "round " << round;
  }
}

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
  const PglPoint far{INT32_MAX - 2, INT32_MIN + 2};
  EXPECT_EQ(PglDrawCircle(&screen, &clip, &far, 3, 0), kOk);
}

TEST_F(LineTest, OutlinesAndPolygons) {
  const PglLine wide{0, 0, 16, 3};
  EXPECT_EQ(PglDrawLine(&screen, &wide, 0), PglErr::BadRect);
  const PglRect clip{0, 0, 15, 11}, box{2, 3, 6, 7};
  ASSERT_EQ(PglDrawRectOutline(&screen, &clip, &box, 0), kOk);
  EXPECT_EQ(Inked().size(), 16u);
  const PglPoint square[4] = {{2, 3}, {6, 3}, {6, 7}, {2, 7}};
  ASSERT_EQ(PglDrawPolygon(&screen, &clip, square, 4, 0), kOk);  // over the same outline
  EXPECT_EQ(Inked().size(), 16u);
}

}  // namespace
