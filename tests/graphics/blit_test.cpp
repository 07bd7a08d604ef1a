// PglBlit: copies within one surface, and every path against the per-pixel
// model on random surfaces and rectangles, onto the screen too.
#include <gtest/gtest.h>

#include <random>

#include "graphics/pgl.h"
#include "tests/graphics/pgl_model.h"
#include "tests/support/engine_fixture.h"

namespace {

class BlitTest : public EngineFixture {};

TEST_F(BlitTest, OverlappingCopiesWithinOneSurfaceMoveIntact) {
  std::vector<uint16_t> px{1, 2, 3, 4, 5, 6, 7, 8};
  PglSurface s{};
  PglInitSurface(&s, 8, 1, kPglRgb565, 0, 0);
  s.pixels = reinterpret_cast<uint8_t*>(px.data());
  const PglBlitJob right{&s, &s, 0, 0, 5, 0, 2, 0, 0};
  ASSERT_EQ(PglBlit(&right, 0, 0), kOk);
  EXPECT_EQ(px, (std::vector<uint16_t>{1, 2, 1, 2, 3, 4, 5, 6}));
}

TEST_F(BlitTest, EveryPathMatchesThePixelModel) {
  std::mt19937 rng(21);
  for (int round = 0; round < 6000; ++round) {
    const uint32_t sf = RandomFormat(rng);
    // Mostly pairs that draw: the same format or a conversion onto RGB565.
    const uint32_t pick = Next(rng) % 8;
    const uint32_t tf = pick < 3 ? sf : pick < 7 ? kPglRgb565 : RandomFormat(rng);
    TestSurface src(sf, 1 + Next(rng) % 30, 1 + Next(rng) % 10, Next(rng) % 3, rng);
    TestSurface fast(tf, 1 + Next(rng) % 30, 1 + Next(rng) % 10, Next(rng) % 3, rng);
    if (Next(rng) % 3 == 0) {
      src.surface.flags |= PglFlag::Keyed;
      src.surface.key = static_cast<uint16_t>(Next(rng) % 4 == 0 ? 0 : Next(rng) % 2 ? 0xF81F : Next(rng));
    }
    if (sf == kPglCube && Next(rng) % 2) src.surface.key &= 0xFF;
    // Small values so that the model's keyed and transparent cases hit often.
    for (size_t i = TestSurface::kGuard; i + TestSurface::kGuard < src.bytes.size(); ++i)
      if (Next(rng) % 3 == 0) src.bytes[i] = 0;
    TestSurface slow(fast);
    PglSurface slowSource = src.surface;
    const uint32_t sw = src.surface.width, sh = src.surface.height;
    const uint32_t tw = fast.surface.width, th = fast.surface.height;
    PglBlitJob job{&src.surface, &fast.surface, Next(rng) % (sw + 3), Next(rng) % (sh + 3),
                   Next(rng) % (sw + 3), Next(rng) % (sh + 3), Next(rng) % (tw + 3), Next(rng) % (th + 3),
                   Next(rng) % 32};
    const auto c1 = static_cast<uint16_t>(Next(rng)), c2 = static_cast<uint16_t>(Next(rng));
    PglBlitJob model = job;
    model.source = &slowSource;
    model.target = &slow.surface;
    PglRect changed{};
    const Result want = ModelBlit(model, c1, c2, &changed);
    ASSERT_EQ(PglBlit(&job, c1, c2), want) << "round " << round;
    ASSERT_EQ(fast.bytes, slow.bytes) << "round " << round << " " << sf << "->" << tf
                                      << " mode " << job.mode;
  }
  EXPECT_TRUE(platform->invalidated.empty());
}

TEST_F(BlitTest, ScreenBlitsInvalidateTheirClippedRun) {
  platform->MakeScreen(20, 10);
  PglSurface screen;
  PglGetScreenSurface(&screen);
  std::mt19937 rng(22);
  for (int round = 0; round < 300; ++round) {
    platform->invalidated.clear();
    TestSurface src(RandomFormat(rng), 1 + Next(rng) % 12, 1 + Next(rng) % 6, 0, rng);
    PglSurface expectSurface = screen;
    std::vector<uint16_t> expect = platform->screen;
    expectSurface.pixels = reinterpret_cast<uint8_t*>(expect.data());
    expectSurface.flags &= ~PglFlag::Screen;
    PglBlitJob job{&src.surface, &screen, Next(rng) % 14, Next(rng) % 8, Next(rng) % 14, Next(rng) % 8,
                   Next(rng) % 24, Next(rng) % 12, Next(rng) % 32};
    PglBlitJob model = job;
    model.target = &expectSurface;
    PglRect changed{-1, -1, -1, -1};
    ASSERT_EQ(ModelBlit(model, 0x1111, 0x2222, &changed), kOk);
    ASSERT_EQ(PglBlit(&job, 0x1111, 0x2222), kOk);
    ASSERT_EQ(platform->screen, expect) << "round " << round;
    std::vector<FakeRect> want;
    if (changed.left >= 0) want.push_back({changed.left, changed.top, changed.right, changed.bottom});
    EXPECT_EQ(platform->invalidated, want) << "round " << round;
  }
}

}  // namespace
