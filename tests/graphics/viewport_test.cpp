// Viewports: opening, clamping of fills, blit clipping against the viewport
// and the source, line clipping, and the fill and blit paths against the
// per-pixel model through random viewports.
#include <gtest/gtest.h>

#include <random>

#include "graphics/pgl.h"
#include "tests/graphics/pgl_model.h"
#include "tests/support/engine_fixture.h"

namespace {

class ViewportTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    platform->MakeScreen(40, 30);
    PglGetScreenSurface(&screen);
    platform->invalidated.clear();
  }
  PglDrawArgs Target(int32_t l, int32_t t, int32_t r, int32_t b) {
    return {nullptr, 0, 0, 0, 0, l, t, r, b, 0};
  }
  int CountNot(uint16_t value) {
    int n = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) n += platform->Pixel(x, y) != value;
    return n;
  }
  PglSurface screen{};
};

TEST_F(ViewportTest, OpenChecksTheSourceRectangleAndClearsOnRequest) {
  PglViewport vp{};
  PglDrawArgs a{&screen, 0, 0, 40, 10, 0, 0, 0, 0, 0};
  EXPECT_EQ(PglOpenViewport(&vp, &a), PglErr::BadRect);
  a.srcRight = 39;
  a.flags = PglVpFlag::Clear;
  a.srcLeft = 30;
  a.srcTop = 5;
  ASSERT_EQ(PglOpenViewport(&vp, &a), kOk);
  EXPECT_EQ(vp.x, 30);
  EXPECT_EQ(vp.y, 5);
  EXPECT_EQ(vp.width, 10u);
  EXPECT_EQ(vp.height, 6u);
  EXPECT_EQ(platform->Pixel(30, 5), 0x0000);
  EXPECT_EQ(platform->Pixel(29, 5), 0xFFFF);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{30, 5, 39, 10}}));
}

TEST_F(ViewportTest, FillIsClampedToTheViewport) {
  const PglViewport vp{&screen, 10, 20, 8, 8, 0};
  const PglDrawArgs a = Target(-5, -5, 3, 3);
  ASSERT_EQ(PglViewportFillRect(&vp, &a, 0x1234), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{10, 20, 13, 23}}));
  EXPECT_EQ(CountNot(0xFFFF), 16);
  const PglDrawArgs reversed = Target(3, 0, 2, 0);
  EXPECT_EQ(PglViewportFillRect(&vp, &reversed, 0), PglErr::BadRect);
  const PglDrawArgs away = Target(8, 0, 9, 2);
  EXPECT_EQ(PglViewportFillRect(&vp, &away, 0), kOk);
  EXPECT_EQ(platform->invalidated.size(), 1u);
}

TEST_F(ViewportTest, BlitClipsAtTheLeftEdge) {
  std::vector<uint16_t> src(10);
  for (int i = 0; i < 10; ++i) src[i] = static_cast<uint16_t>(i);
  PglSurface s{};
  PglInitSurface(&s, 10, 1, kPglRgb565, 0, 0);
  s.pixels = reinterpret_cast<uint8_t*>(src.data());
  const PglViewport vp{&screen, 5, 5, 20, 5, 0};
  PglDrawArgs a{&s, 0, 0, 9, 0, -4, 0, 0, 0, 0};
  ASSERT_EQ(PglViewportBlit(&vp, &a, 0, 0), kOk);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(platform->Pixel(5 + x, 5), 4 + x);
  EXPECT_EQ(platform->Pixel(11, 5), 0xFFFF);
  EXPECT_EQ(platform->Pixel(4, 5), 0xFFFF);
  platform->invalidated.clear();
  a.left = -10;
  ASSERT_EQ(PglViewportBlit(&vp, &a, 0, 0), kOk);
  EXPECT_TRUE(platform->invalidated.empty());
  // A source rectangle reaching past its surface is cut to it.
  a.left = 0;
  a.srcLeft = -3;
  a.srcRight = 30;
  a.srcBottom = 5;
  ASSERT_EQ(PglViewportBlit(&vp, &a, 0, 0), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{8, 5, 17, 5}}));
}

TEST_F(ViewportTest, AxisLinesAndPixelsStayInside) {
  const PglViewport vp{&screen, 10, 10, 5, 5, 0};
  PglDrawArgs a = Target(2, -10, 0, 100);
  ASSERT_EQ(PglViewportVLine(&vp, &a, 0), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{12, 10, 12, 14}}));
  a = Target(-3, 4, 99, 0);
  ASSERT_EQ(PglViewportHLine(&vp, &a, 0), kOk);
  EXPECT_EQ(platform->invalidated.back(), (FakeRect{10, 14, 14, 14}));
  a = Target(5, 0, 5, 4);  // the column just right of the viewport
  ASSERT_EQ(PglViewportVLine(&vp, &a, 0), kOk);
  const PglPoint out{5, 0}, in{4, 4};
  ASSERT_EQ(PglViewportSetPixel(&vp, &out, 0), kOk);
  ASSERT_EQ(PglViewportSetPixel(&vp, &in, 0x0001), kOk);
  EXPECT_EQ(platform->Pixel(14, 14), 0x0001);
  EXPECT_EQ(platform->invalidated.size(), 3u);
  EXPECT_EQ(CountNot(0xFFFF), 9);
}

TEST_F(ViewportTest, LinesOutsideDrawNothingAndCrossingLinesOnlyInside) {
  const PglViewport vp{&screen, 10, 10, 10, 10, 0};
  PglDrawArgs both = Target(2, 0, 5, 29);  // wholly left of the viewport
  ASSERT_EQ(PglViewportLine(&vp, &both, 0), kOk);
  EXPECT_EQ(CountNot(0xFFFF), 0);
  PglDrawArgs diagonal = Target(0, 0, 29, 29);
  ASSERT_EQ(PglViewportLine(&vp, &diagonal, 0), kOk);
  EXPECT_EQ(CountNot(0xFFFF), 10);
  for (int i = 10; i < 20; ++i) EXPECT_EQ(platform->Pixel(i, i), 0) << i;
}

TEST_F(ViewportTest, RandomLinesNeverLeaveTheViewport) {
  std::mt19937 rng(31);
  for (int round = 0; round < 3000; ++round) {
    for (uint16_t& v : platform->screen) v = 0xFFFF;
    const int32_t x = RandomIn(rng, 0, 30), y = RandomIn(rng, 0, 20);
    const PglViewport vp{&screen, x, y, static_cast<uint32_t>(RandomIn(rng, 1, 40 - x)),
                         static_cast<uint32_t>(RandomIn(rng, 1, 30 - y)), 0};
    const PglDrawArgs a = Target(RandomIn(rng, -60, 100), RandomIn(rng, -60, 90),
                                 RandomIn(rng, -60, 100), RandomIn(rng, -60, 90));
    ASSERT_EQ(PglViewportLine(&vp, &a, 0), kOk);
    for (int py = 0; py < 30; ++py) {
      for (int px = 0; px < 40; ++px) {
        if (platform->Pixel(px, py) == 0xFFFF) continue;
        ASSERT_TRUE(px >= vp.x && px < vp.x + static_cast<int>(vp.width) && py >= vp.y &&
                    py < vp.y + static_cast<int>(vp.height))
            << "round " << round << " pixel " << px << "," << py;
      }
    }
  }
}

TEST_F(ViewportTest, FillAndBlitMatchThePixelModelThroughRandomViewports) {
  std::mt19937 rng(32);
  for (int round = 0; round < 3000; ++round) {
    const uint32_t tf = Next(rng) % 2 ? kPglRgb565 : kPglMono;
    TestSurface fast(tf, 4 + Next(rng) % 30, 4 + Next(rng) % 12, Next(rng) % 3, rng);
    TestSurface slow(fast);
    const int32_t w = static_cast<int32_t>(fast.surface.width);
    const int32_t h = static_cast<int32_t>(fast.surface.height);
    const int32_t vx = RandomIn(rng, 0, w - 1), vy = RandomIn(rng, 0, h - 1);
    const PglViewport vp{&fast.surface, vx, vy, static_cast<uint32_t>(RandomIn(rng, 1, w - vx)),
                         static_cast<uint32_t>(RandomIn(rng, 1, h - vy)), 0};
    const int32_t vw = static_cast<int32_t>(vp.width), vh = static_cast<int32_t>(vp.height);
    if (Next(rng) % 2) {
      const PglDrawArgs a = Target(RandomIn(rng, -4, vw + 3), RandomIn(rng, -4, vh + 3),
                                   RandomIn(rng, -4, vw + 3), RandomIn(rng, -4, vh + 3));
      const auto colour = static_cast<uint16_t>(Next(rng));
      const Result got = PglViewportFillRect(&vp, &a, colour);
      if (a.right < a.left || a.bottom < a.top) {
        ASSERT_EQ(got, PglErr::BadRect);
      } else {
        ASSERT_EQ(got, kOk);
        const PglRect r{vx + std::max(a.left, 0), vy + std::max(a.top, 0),
                        vx + std::min(a.right, vw - 1), vy + std::min(a.bottom, vh - 1)};
        PglRect changed;
        if (r.left <= r.right && r.top <= r.bottom) ModelFill(slow.surface, r, 0, colour, &changed);
      }
    } else {
      const uint32_t sf = tf == kPglMono ? kPglMono : RandomFormat(rng);
      TestSurface src(sf, 1 + Next(rng) % 20, 1 + Next(rng) % 8, 0, rng);
      const int32_t sw = static_cast<int32_t>(src.surface.width);
      const int32_t sh = static_cast<int32_t>(src.surface.height);
      PglDrawArgs a{&src.surface,          RandomIn(rng, -3, sw + 2), RandomIn(rng, -3, sh + 2),
                    RandomIn(rng, -3, sw + 2), RandomIn(rng, -3, sh + 2), RandomIn(rng, -25, vw + 3),
                    RandomIn(rng, -10, vh + 3), 0, 0, Next(rng) % 32};
      ASSERT_EQ(PglViewportBlit(&vp, &a, 0x1357, 0x2468), kOk);
      // The model: each source pixel on its surface lands at its place in the
      // viewport, or nowhere.
      for (int32_t sy = std::max(a.srcTop, 0); sy <= std::min(a.srcBottom, sh - 1); ++sy) {
        for (int32_t sx = std::max(a.srcLeft, 0); sx <= std::min(a.srcRight, sw - 1); ++sx) {
          const int32_t tx = a.left + (sx - a.srcLeft), ty = a.top + (sy - a.srcTop);
          if (tx < 0 || ty < 0 || tx >= vw || ty >= vh) continue;
          const PglBlitJob one{&src.surface, &slow.surface, static_cast<uint32_t>(sx),
                               static_cast<uint32_t>(sy), static_cast<uint32_t>(sx),
                               static_cast<uint32_t>(sy), static_cast<uint32_t>(vx + tx),
                               static_cast<uint32_t>(vy + ty), a.flags & 0x1F};
          PglRect changed;
          ModelBlit(one, 0x1357, 0x2468, &changed);
        }
      }
    }
    ASSERT_EQ(fast.bytes, slow.bytes) << "round " << round;
  }
}

}  // namespace
