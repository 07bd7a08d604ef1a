// Viewports: lines of every kind kept inside, fills and blits clamped.
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
  PglSurface screen{};
};

TEST_F(ViewportTest, RandomLinesOfEveryKindNeverLeaveTheViewport) {
  std::mt19937 rng(31);
  for (int round = 0; round < 3000; ++round) {
    for (uint16_t& v : platform->screen) v = 0xFFFF;
    const int32_t x = RandomIn(rng, 0, 30), y = RandomIn(rng, 0, 20);
    const PglViewport vp{&screen, x, y, static_cast<uint32_t>(RandomIn(rng, 1, 40 - x)),
                         static_cast<uint32_t>(RandomIn(rng, 1, 30 - y)), 0};
    const PglDrawArgs a = Target(RandomIn(rng, -60, 100), RandomIn(rng, -60, 90),
                                 RandomIn(rng, -60, 100), RandomIn(rng, -60, 90));
    if (round % 3 == 0) PglViewportHLine(&vp, &a, 0);
    if (round % 3 == 1) PglViewportVLine(&vp, &a, 0);
    if (round % 3 == 2) {
      ASSERT_EQ(PglViewportLine(&vp, &a, 0), kOk);
    }
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

TEST_F(ViewportTest, FillsAndBlitsAreClampedToTheViewportAndTheSource) {
  const PglViewport vp{&screen, 10, 20, 8, 8, 0};
  const PglDrawArgs a = Target(-5, -5, 3, 3);
  ASSERT_EQ(PglViewportFillRect(&vp, &a, 0x1234), kOk);
  const PglDrawArgs reversed = Target(3, 0, 2, 0);
  EXPECT_EQ(PglViewportFillRect(&vp, &reversed, 0), PglErr::BadRect);
  std::vector<uint16_t> src(10);
  for (int i = 0; i < 10; ++i) src[i] = static_cast<uint16_t>(i);
  PglSurface s{};
  PglInitSurface(&s, 10, 1, kPglRgb565, 0, 0);
  s.pixels = reinterpret_cast<uint8_t*>(src.data());
  const PglViewport wide{&screen, 5, 5, 20, 5, 0};
  PglDrawArgs b{&s, 0, 0, 9, 0, -4, 0, 0, 0, 0};
  ASSERT_EQ(PglViewportBlit(&wide, &b, 0, 0), kOk);
  EXPECT_EQ(platform->Pixel(5, 5), 4);
  b.left = 0;  // a source rectangle reaching past its surface is cut to it
  b.srcLeft = -3;
  b.srcRight = 30;
  b.srcBottom = 5;
  ASSERT_EQ(PglViewportBlit(&wide, &b, 0, 0), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{10, 20, 13, 23}, {5, 5, 10, 5}, {8, 5, 17, 5}}));
}

}  // namespace
