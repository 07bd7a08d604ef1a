// Surface headers and sizes, the screen surface, the viewport records that
// own created surfaces, and saving and restoring screen rectangles.
#include <gtest/gtest.h>

#include "graphics/pgl.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace {

class SurfaceTest : public EngineFixture {};

TEST_F(SurfaceTest, RowBytesFollowTheFormat) {
  PglSurface s{};
  PglInitSurface(&s, 1, 3, kPglMono, 0, 0);
  EXPECT_EQ(s.rowBytes, 1u);
  PglInitSurface(&s, 9, 3, kPglMono, 0, 0);
  EXPECT_EQ(s.rowBytes, 2u);
  PglInitSurface(&s, 5, 3, kPglGrey, 0, 0);
  EXPECT_EQ(s.rowBytes, 2u);
  PglInitSurface(&s, 10, 3, kPglRgb565, 0x80, 0x30);
  EXPECT_EQ(s.rowBytes, 20u);
  EXPECT_EQ(s.pitch, 10u);
  EXPECT_EQ(s.flags, 0xB8u);
  EXPECT_EQ(s.pixels, nullptr);
  PglInitSurface(&s, 10, 3, kPglNibble, 0x7F, 0x4F);  // only 0x180 and 0x70 pass
  EXPECT_EQ(s.rowBytes, 0u);
  EXPECT_EQ(s.flags, 0x43u);
}

TEST_F(SurfaceTest, SizesAddTheHeaderForInlinePixelsAndRefuseOverflow) {
  uint32_t size = 0;
  ASSERT_EQ(PglSurfaceSize(&size, 9, 4, kPglMono, 0, 0), kOk);
  EXPECT_EQ(size, 8u);
  ASSERT_EQ(PglSurfaceSize(&size, 10, 4, kPglRgb565, 0, 0x10), kOk);
  EXPECT_EQ(size, 80u + sizeof(PglSurface));
  ASSERT_EQ(PglSurfaceSize(&size, 10, 4, kPglNibble, 0, 0), kOk);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(PglSurfaceSize(&size, 0x10000, 0x10000, kPglRgb565, 0, 0), PglErr::NoMemory);
  EXPECT_EQ(size, 0u);
}

TEST_F(SurfaceTest, InlinePixelsFollowTheHeader) {
  uint32_t size = 0;
  ASSERT_EQ(PglSurfaceSize(&size, 4, 2, kPglRgb565, 0, 0x10), kOk);
  auto* s = static_cast<PglSurface*>(MemAllocZero(size, kPglUse, Mod::Pgl));
  ASSERT_NE(s, nullptr);
  PglInitSurface(s, 4, 2, kPglRgb565, 0x80, 0x10);
  EXPECT_EQ(PglPixels(s), reinterpret_cast<uint8_t*>(s + 1));
  PglFreeSurfacePixels(s);  // inline pixels are not a buffer of their own
  EXPECT_EQ(s->width, 0u);
  MemFree(&s);
}

TEST_F(SurfaceTest, FreeSurfacePixelsSparesTheScreen) {
  platform->MakeScreen(8, 4);
  PglSurface screen;
  PglGetScreenSurface(&screen);
  EXPECT_EQ(screen.flags, 0xC8u);
  EXPECT_EQ(screen.width, 8u);
  EXPECT_EQ(screen.rowBytes, 16u);
  EXPECT_EQ(screen.pitch, 8u);
  EXPECT_EQ(screen.pixels, reinterpret_cast<uint8_t*>(platform->screen.data()));
  PglFreeSurfacePixels(&screen);
  EXPECT_EQ(screen.flags, 0u);
  EXPECT_EQ(platform->Pixel(0, 0), 0xFFFF);
}

TEST_F(SurfaceTest, ViewportRecordsAreZeroedAndFreedWithTheirSurface) {
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  PglViewport* vp = nullptr;
  ASSERT_EQ(PglAllocViewport(&vp), kOk);
  EXPECT_EQ(vp->surface, nullptr);
  EXPECT_EQ(vp->width, 0u);
  PglFreeSurface(&vp);
  EXPECT_EQ(vp, nullptr);
  PglFreeSurface(&vp);  // nothing for null
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
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
      for (int x = 0; x < 20; ++x)
        platform->screen[static_cast<size_t>(y) * 20 + x] = static_cast<uint16_t>(y << 8 | x);
  }
  void TearDown() override {
    PglFreeSurface(&vp);
    EngineFixture::TearDown();
  }
  uint16_t Original(int x, int y) { return static_cast<uint16_t>(y << 8 | x); }
  void Blank() {
    for (uint16_t& v : platform->screen) v = 0;
    platform->invalidated.clear();
  }
  // Saves `r` into vp, then blanks the screen.
  void SaveThenBlank(const PglRect& r) {
    ASSERT_EQ(PglAllocViewport(&vp), kOk);
    ASSERT_EQ(PglSaveScreenRect(vp, &r), kOk);
    Blank();
  }
  PglViewport* vp = nullptr;
};

TEST_F(ScreenSaveTest, SaveCopiesWithoutTheScreenMarkAndRestoresInPlace) {
  ASSERT_EQ(PglAllocViewport(&vp), kOk);
  const PglRect r{3, 2, 7, 5};
  ASSERT_EQ(PglSaveScreenRect(vp, &r), kOk);
  EXPECT_TRUE(platform->invalidated.empty());  // reading the screen repaints nothing
  EXPECT_EQ(vp->x, 3);
  EXPECT_EQ(vp->y, 2);
  EXPECT_EQ(vp->width, 5u);
  EXPECT_EQ(vp->height, 4u);
  EXPECT_EQ(vp->surface->flags & PglFlag::Screen, 0u);
  EXPECT_EQ(vp->surface->flags, 0x88u);
  EXPECT_EQ(vp->surface->pitch, 5u);
  // Drawing into the copy must not repaint the window.
  const PglRect one{0, 0, 0, 0};
  ASSERT_EQ(PglFillRect(vp->surface, &one, 0, 0x7777), kOk);
  EXPECT_TRUE(platform->invalidated.empty());
  Blank();
  ASSERT_EQ(PglRestoreScreen(vp), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{3, 2, 7, 5}}));
  EXPECT_EQ(platform->Pixel(3, 2), 0x7777);
  EXPECT_EQ(platform->Pixel(4, 2), Original(4, 2));
  EXPECT_EQ(platform->Pixel(7, 5), Original(7, 5));
  EXPECT_EQ(platform->Pixel(8, 5), 0);
  EXPECT_EQ(platform->Pixel(7, 6), 0);
}

TEST_F(ScreenSaveTest, SaveClampsTheRectangleToTheScreen) {
  SaveThenBlank({-3, 12, 30, 40});
  EXPECT_EQ(vp->x, 0);
  EXPECT_EQ(vp->y, 12);
  EXPECT_EQ(vp->width, 20u);
  EXPECT_EQ(vp->height, 4u);
  const PglRect off{25, 0, 30, 3};
  PglViewport none{};
  EXPECT_EQ(PglSaveScreenRect(&none, &off), PglErr::BadRect);
  EXPECT_EQ(none.surface, nullptr);
}

TEST_F(ScreenSaveTest, RestoreLeftOfAndAboveTheScreenDrawsTheVisiblePart) {
  SaveThenBlank({0, 0, 5, 5});
  vp->x = -2;
  vp->y = -3;
  ASSERT_EQ(PglRestoreScreen(vp), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{0, 0, 3, 2}}));
  EXPECT_EQ(platform->Pixel(0, 0), Original(2, 3));
  EXPECT_EQ(platform->Pixel(3, 2), Original(5, 5));
  EXPECT_EQ(platform->Pixel(4, 0), 0);
  EXPECT_EQ(platform->Pixel(0, 3), 0);
}

TEST_F(ScreenSaveTest, RestoreStopsAtTheBrowserWindowsBottomBand) {
  PglSetBottomBand(5);  // the bottom 5 rows belong to the browser window
  SaveThenBlank({2, 6, 4, 15});
  ASSERT_EQ(PglRestoreScreen(vp), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{2, 6, 4, 10}}));
  EXPECT_EQ(platform->Pixel(2, 10), Original(2, 10));
  EXPECT_EQ(platform->Pixel(2, 11), 0);
  // A copy wholly inside the band draws nothing at all.
  vp->y = 11;
  Blank();
  EXPECT_EQ(PglRestoreScreen(vp), kPglRestoreRefused);
  EXPECT_TRUE(platform->invalidated.empty());
  PglSetBottomBand(0);
}

TEST_F(ScreenSaveTest, RestoreRefusesBadRectangles) {
  SaveThenBlank({0, 0, 3, 3});
  const PglRect reversed{2, 0, 1, 3}, outside{0, 0, 4, 3}, part{1, 1, 2, 2};
  EXPECT_EQ(PglRestoreScreenRect(vp, &reversed), kPglRestoreRefused);
  EXPECT_EQ(PglRestoreScreenRect(vp, &outside), kPglRestoreRefused);
  vp->x = 20;  // right of the last column
  EXPECT_EQ(PglRestoreScreenRect(vp, &part), kPglRestoreRefused);
  EXPECT_TRUE(platform->invalidated.empty());
  vp->x = 10;
  ASSERT_EQ(PglRestoreScreenRect(vp, &part), kOk);
  EXPECT_EQ(platform->invalidated, (std::vector<FakeRect>{{10, 0, 11, 1}}));
  EXPECT_EQ(platform->Pixel(10, 0), Original(1, 1));
}

TEST_F(ScreenSaveTest, FailedSaveLeavesNothingAllocated) {
  // Fill the heap, then free one small block: room for the copy's header
  // but not for its pixels.
  std::vector<void*> held;
  while (void* p = MemAlloc(256, Use::Data, Mod::TestCode)) held.push_back(p);
  while (void* p = MemAlloc(8, Use::Data, Mod::TestCode)) held.push_back(p);
  MemFreeRaw(held.front());
  held.erase(held.begin());
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  PglViewport saved{};
  const PglRect r{0, 0, 19, 15};
  EXPECT_EQ(PglSaveScreenRect(&saved, &r), PglErr::NoMemory);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
  for (void* p : held) MemFreeRaw(p);
}

}  // namespace
