// Surface headers and sizes, the screen surface, and saving and restoring
// screen rectangles.
#include <gtest/gtest.h>

#include "graphics/pgl.h"
#include "tests/support/engine_fixture.h"

namespace {

class SurfaceTest : public EngineFixture {};

TEST_F(SurfaceTest, RowBytesAndSizesFollowTheFormatAndTheScreenIsSpared) {
  PglSurface s{};
  PglInitSurface(&s, 10, 3, kPglRgb565, 0x80, 0x30);
  EXPECT_EQ(s.rowBytes, 20u);
  EXPECT_EQ(s.flags, 0xB8u);
  PglInitSurface(&s, 10, 3, kPglNibble, 0x7F, 0x4F);  // only 0x180 and 0x70 pass
  EXPECT_EQ(s.rowBytes, 0u);
  EXPECT_EQ(s.flags, 0x43u);
  uint32_t size = 0;
  ASSERT_EQ(PglSurfaceSize(&size, 10, 4, kPglRgb565, 0, 0x10), kOk);
  EXPECT_EQ(size, 80u + sizeof(PglSurface));
  EXPECT_EQ(PglSurfaceSize(&size, 0x10000, 0x10000, kPglRgb565, 0, 0), PglErr::NoMemory);
  EXPECT_EQ(size, 0u);
  platform->MakeScreen(8, 4);
  PglSurface screen;
  PglGetScreenSurface(&screen);
  EXPECT_EQ(screen.flags, 0xC8u);
  PglFreeSurfacePixels(&screen);  // spares the screen's pixels
  EXPECT_EQ(screen.flags, 0u);
  EXPECT_EQ(platform->Pixel(0, 0), 0xFFFF);
}

TEST_F(SurfaceTest, ClearSurfaceFillsEveryPixelAndRepaintsTheScreen) {
  platform->MakeScreen(5, 3);
  PglSurface screen;
  PglGetScreenSurface(&screen);
  ASSERT_EQ(PglClearSurface(&screen, 0x1234), kOk);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(platform->Pixel(x, y), 0x1234);
  EXPECT_EQ(platform->screen[5], 0xFFFF);  // the pitch's padding
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{0, 0, 4, 2}}));
  PglSurface none{};
  PglInitSurface(&none, 2, 2, kPglRgb565, 0, 0);
  EXPECT_EQ(PglClearSurface(&none, 0), PglErr::NoPixels);
}

class ScreenSaveTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    platform->MakeScreen(20, 16);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 20; ++x) platform->screen[static_cast<size_t>(y) * 20 + x] = Original(x, y);
  }
  void TearDown() override {
    PglFreeSurface(&vp);
    EngineFixture::TearDown();
  }
  static uint16_t Original(int x, int y) { return static_cast<uint16_t>(y << 8 | x); }
  void SaveThenBlank(const PglRect& r) {
    ASSERT_EQ(PglAllocViewport(&vp), kOk);
    ASSERT_EQ(PglSaveScreenRect(vp, &r), kOk);
    for (uint16_t& v : platform->screen) v = 0;
    platform->invalidated.clear();
  }
  PglViewport* vp = nullptr;
};

TEST_F(ScreenSaveTest, SaveClampsAndRestoreClipsToTheScreenAndTheBottomBand) {
  SaveThenBlank({-3, 2, 7, 40});
  EXPECT_EQ(vp->surface->flags, 0x88u);  // no screen mark
  const PglRect one{0, 0, 0, 0};
  ASSERT_EQ(PglFillRect(vp->surface, &one, 0, 0x7777), kOk);
  EXPECT_TRUE(platform->invalidated.empty());
  ASSERT_EQ(PglRestoreScreen(vp), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{0, 2, 7, 15}}));
  EXPECT_EQ(platform->Pixel(0, 2), 0x7777);
  EXPECT_EQ(platform->Pixel(7, 15), Original(7, 15));
  vp->x = -2;
  vp->y = -3;
  ASSERT_EQ(PglRestoreScreen(vp), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{0, 2, 7, 15}, {0, 0, 5, 10}}));
  EXPECT_EQ(platform->Pixel(0, 0), Original(2, 5));
  PglSetBottomBand(5);  // the bottom 5 rows belong to the browser window
  vp->x = 2;
  vp->y = 8;
  platform->invalidated.clear();
  ASSERT_EQ(PglRestoreScreen(vp), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{2, 8, 9, 10}}));
  vp->y = 11;  // wholly inside the band
  EXPECT_EQ(PglRestoreScreen(vp), kPglRestoreRefused);
  PglSetBottomBand(0);
  const PglRect outside{0, 0, 8, 3};
  EXPECT_EQ(PglRestoreScreenRect(vp, &outside), kPglRestoreRefused);
}

}  // namespace
