// PglBlit: the conversion table of 1-, 2- and 8-bit sources onto RGB565,
// keyed and transparent copies, the exact packed copy, refusals, and every
// path against the per-pixel model on random surfaces and rectangles.
#include <gtest/gtest.h>

#include <random>

#include "graphics/pgl.h"
#include "tests/graphics/pgl_model.h"
#include "tests/support/engine_fixture.h"

namespace {

class BlitTest : public EngineFixture {};

struct Rgb {
  std::vector<uint16_t> px;
  PglSurface s{};
  Rgb(uint32_t w, uint32_t h, uint16_t fill) : px(static_cast<size_t>(w) * h, fill) {
    PglInitSurface(&s, w, h, kPglRgb565, 0, 0);
    s.pixels = reinterpret_cast<uint8_t*>(px.data());
  }
};

PglBlitJob Job(const PglSurface* from, PglSurface* to, uint32_t l, uint32_t t, uint32_t r,
               uint32_t b, uint32_t x, uint32_t y, uint32_t mode) {
  return {from, to, l, t, r, b, x, y, mode};
}

TEST_F(BlitTest, MonoSourceFromColumnThreeReadsFiveBitsOfItsFirstByte) {
  uint8_t row[2] = {0xE8, 0x01};  // bits 3, 5, 6, 7 of byte 0; bit 0 of byte 1
  PglSurface g{};
  PglInitSurface(&g, 16, 1, kPglMono, 0, 0);
  g.pixels = row;
  Rgb t(6, 1, 0x1234);
  const PglBlitJob job = Job(&g, &t.s, 3, 0, 8, 0, 0, 0, 0);
  ASSERT_EQ(PglBlit(&job, 0, 0xFFFF), kOk);
  const uint16_t want[6] = {0x0000, 0xFFFF, 0x0000, 0x0000, 0x0000, 0x0000};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(t.px[x], want[x]) << x;
}

TEST_F(BlitTest, PackedSameFormatCopiesLeadingUnalignedPixelsToo) {
  uint8_t src[2] = {0xFF, 0xFF};
  uint8_t dst[2] = {0, 0};
  PglSurface s{}, t{};
  PglInitSurface(&s, 16, 1, kPglMono, 0, 0);
  PglInitSurface(&t, 16, 1, kPglMono, 0, 0);
  s.pixels = src;
  t.pixels = dst;
  const PglBlitJob one = Job(&s, &t, 5, 0, 5, 0, 2, 0, 0);  // a single pixel
  ASSERT_EQ(PglBlit(&one, 0, 0), kOk);
  EXPECT_EQ(dst[0], 0x04);
  const PglBlitJob run = Job(&s, &t, 3, 0, 12, 0, 4, 0, 0);
  ASSERT_EQ(PglBlit(&run, 0, 0), kOk);
  EXPECT_EQ(dst[0], 0xF4);
  EXPECT_EQ(dst[1], 0x3F);
}

TEST_F(BlitTest, RefusesPairsItCannotConvert) {
  Rgb s(2, 2, 1);
  uint8_t bytes[4] = {};
  PglSurface mono{};
  PglInitSurface(&mono, 2, 2, kPglMono, 0, 0);
  mono.pixels = bytes;
  const PglBlitJob down = Job(&s.s, &mono, 0, 0, 1, 1, 0, 0, 0);
  EXPECT_EQ(PglBlit(&down, 0, 0), PglErr::BadFormat);
  PglSurface nibble = mono;
  nibble.flags = kPglNibble;
  const PglBlitJob fromNibble = Job(&nibble, &s.s, 0, 0, 1, 1, 0, 0, 0);
  EXPECT_EQ(PglBlit(&fromNibble, 0, 0), PglErr::BadFormat);
  PglSurface cube = mono;
  cube.flags = kPglCube;
  const PglBlitJob across = Job(&mono, &cube, 0, 0, 1, 1, 0, 0, 0);
  EXPECT_EQ(PglBlit(&across, 0, 0), PglErr::BadFormat);
  EXPECT_EQ(bytes[0] | bytes[1] | bytes[2] | bytes[3], 0);
}

TEST_F(BlitTest, RowsOverlappingWithinOneSurfaceMoveIntact) {
  Rgb s(8, 1, 0);
  for (int i = 0; i < 8; ++i) s.px[i] = static_cast<uint16_t>(i + 1);
  const PglBlitJob job = Job(&s.s, &s.s, 0, 0, 5, 0, 2, 0, 0);
  ASSERT_EQ(PglBlit(&job, 0, 0), kOk);
  EXPECT_EQ(s.px, (std::vector<uint16_t>{1, 2, 1, 2, 3, 4, 5, 6}));
  uint8_t bits[2] = {0x0F, 0x00};
  PglSurface m{};
  PglInitSurface(&m, 16, 1, kPglMono, 0, 0);
  m.pixels = bits;
  const PglBlitJob shift = Job(&m, &m, 0, 0, 7, 0, 6, 0, 0);
  ASSERT_EQ(PglBlit(&shift, 0, 0), kOk);
  EXPECT_EQ(bits[0], 0xCF);
  EXPECT_EQ(bits[1], 0x03);
}

TEST_F(BlitTest, BottomUpMovesRowsDownwardWithinOneSurface) {
  Rgb s(2, 4, 0);
  s.px = {1, 1, 2, 2, 3, 3, 4, 4};
  const PglBlitJob job = Job(&s.s, &s.s, 0, 0, 1, 2, 0, 1, 0);
  ASSERT_EQ(PglBlitBottomUp(&job), kOk);
  EXPECT_EQ(s.px, (std::vector<uint16_t>{1, 1, 1, 1, 2, 2, 3, 3}));
}

TEST_F(BlitTest, BlitWholeTakesTheWholeSource) {
  Rgb s(3, 2, 0x0101), t(5, 5, 0);
  PglBlitJob job = Job(&s.s, &t.s, 9, 9, 9, 9, 1, 2, 0);
  ASSERT_EQ(PglBlitWhole(&job, 0, 0), kOk);
  int copied = 0;
  for (uint16_t v : t.px) copied += v == 0x0101;
  EXPECT_EQ(copied, 6);
  EXPECT_EQ(t.px[2 * 5 + 1], 0x0101);
  EXPECT_EQ(t.px[3 * 5 + 3], 0x0101);
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
    const uint32_t sf = RandomFormat(rng);
    TestSurface src(sf, 1 + Next(rng) % 12, 1 + Next(rng) % 6, 0, rng);
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
    if (changed.left < 0) {
      EXPECT_TRUE(platform->invalidated.empty()) << "round " << round;
    } else {
      ASSERT_EQ(platform->invalidated.size(), 1u) << "round " << round;
      EXPECT_EQ(platform->invalidated[0],
                (FakeRect{changed.left, changed.top, changed.right, changed.bottom}));
    }
  }
}

}  // namespace
