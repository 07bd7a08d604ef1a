// The row converter (copy and the two dithers) and building one surface
// from a decoded image's bands.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "graphics/image.h"
#include "graphics/pgl.h"
#include "kernel/heap.h"
#include "tests/support/engine_fixture.h"

namespace {

class ConvertTest : public EngineFixture {
 protected:
  // One source row of grey levels (or RGB565 values) and a target band.
  void Make(uint32_t width, uint32_t format, uint32_t rows) {
    source.assign(width, 0);
    PglInitSurface(&row, width, 1, kPglRgb565, 0, 0);
    row.pixels = reinterpret_cast<uint8_t*>(source.data());
    PglInitSurface(&band, width, rows, format, 0, 0);
    target.assign(static_cast<size_t>(band.rowBytes) * rows + 8, 0xEE);  // 8 guard bytes
    band.pixels = target.data();
  }
  uint32_t Op(uint32_t op, PglSurface* to = nullptr) {
    return PglImageToSurface(&conv, &row, to ? to : &band, op);
  }
  std::vector<uint16_t> source;
  std::vector<uint8_t> target;
  PglSurface row{}, band{};
  PglRowConverter conv{};
};

TEST_F(ConvertTest, UniformRowsDither) {
  struct Row {
    uint32_t width, format;
    std::vector<uint16_t> greys;  // one row each
    std::vector<uint8_t> bytes;   // the band's first bytes
  };
  const Row rows[] = {
      {16, kPglMono, {128}, {0xAA, 0xAA}},  // alternates, starting with the background
      // The second row runs right to left; a partly filled last byte holds
      // only its pixels, and a third row has nowhere to go.
      {10, kPglMono, {255, 0, 0}, {0x00, 0x00, 0xFF, 0x03, 0xEE}},
      {8, kPglGrey, {170}, {0x55, 0x55}},  // exactly the light grey level: no error
  };
  for (const Row& r : rows) {
    Make(r.width, r.format, 2);
    ASSERT_EQ(Op(PglConv::Open), 1u);
    for (size_t i = 0; i < r.greys.size(); ++i) {
      source.assign(r.width, r.greys[i]);
      EXPECT_EQ(Op(PglConv::Convert), i < 2 ? 4u : 0u);
    }
    EXPECT_EQ(Op(PglConv::Close), 5u);
    EXPECT_EQ(std::vector<uint8_t>(target.begin(), target.begin() + r.bytes.size()), r.bytes)
        << r.width << " " << r.format;
  }
}

TEST_F(ConvertTest, CopyAndBottomUpAndSkip) {
  Make(3, kPglRgb565, 3);
  conv.bottomUp = 1;
  ASSERT_EQ(Op(PglConv::Open), 1u);
  source = {1, 2, 3};
  ASSERT_EQ(Op(PglConv::Convert), 4u);
  source = {4, 5, 6};
  ASSERT_EQ(Op(PglConv::Convert), 4u);
  Op(PglConv::Close);
  std::vector<uint16_t> px(9);
  std::memcpy(px.data(), target.data(), 18);
  EXPECT_EQ(px, (std::vector<uint16_t>{0xEEEE, 0xEEEE, 0xEEEE, 4, 5, 6, 1, 2, 3}));
  Make(3, kPglRgb565, 3);
  conv = {};  // top-down again
  ASSERT_EQ(Op(PglConv::Open), 1u);
  ASSERT_EQ(Op(PglConv::Skip), 3u);
  source = {7, 8, 9};
  ASSERT_EQ(Op(PglConv::Convert), 4u);
  Op(PglConv::Close);
  std::memcpy(px.data(), target.data(), 18);
  EXPECT_EQ(px, (std::vector<uint16_t>{0xEEEE, 0xEEEE, 0xEEEE, 7, 8, 9, 0xEEEE, 0xEEEE, 0xEEEE}));
}

TEST_F(ConvertTest, RefusalsAndClosedConverter) {
  Make(4, kPglMono, 1);
  EXPECT_EQ(Op(PglConv::Convert), 0u);  // not open
  EXPECT_EQ(Op(PglConv::Skip), 0u);
  EXPECT_EQ(Op(PglConv::Close), 0u);
  EXPECT_EQ(PglImageToSurface(nullptr, &row, &band, PglConv::Open), 0u);
  platform->MakeScreen(4, 4);
  PglSurface screen;
  PglGetScreenSurface(&screen);
  EXPECT_EQ(Op(PglConv::Open, &screen), 0u);
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  ASSERT_EQ(Op(PglConv::Open), 1u);
  EXPECT_EQ(Op(PglConv::NewTarget, &screen), 0u);
  std::vector<uint16_t> other(4);
  PglSurface wrongFormat{};
  PglInitSurface(&wrongFormat, 4, 1, kPglRgb565, 0, 0);
  wrongFormat.pixels = reinterpret_cast<uint8_t*>(other.data());
  EXPECT_EQ(Op(PglConv::NewTarget, &wrongFormat), 0u);
  EXPECT_EQ(Op(PglConv::Close), 5u);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);  // both error rows went back
}

// A decoded image built as a producer builds it, with room for its bands.
struct TestImage {
  std::vector<uint64_t> storage;
  ContentImage* image;
  explicit TestImage(uint32_t bands)
      : storage((sizeof(ContentImage) + bands * sizeof(PglSurface*)) / 8 + 1, 0),
        image(reinterpret_cast<ContentImage*>(storage.data())) {}
};

struct Band {
  std::vector<uint16_t> px;
  PglSurface s{};
  Band(uint32_t w, uint32_t h, uint16_t value) : px(static_cast<size_t>(w) * h, value) {
    PglInitSurface(&s, w, h, kPglRgb565, 0x80, 0);
    s.pixels = reinterpret_cast<uint8_t*>(px.data());
  }
};

TEST_F(ConvertTest, ImageBandsStackAndANarrowBandNarrowsTheRest) {
  Band a(6, 2, 0x1111), b(4, 2, 0x2222), c(6, 3, 0x3333);
  TestImage t(3);
  t.image->kind = ContentKind::Banded;
  t.image->width = 6;
  t.image->height = 6;
  t.image->bandCount = 3;
  t.image->bands[0] = &a.s;
  t.image->bands[1] = &b.s;
  t.image->bands[2] = &c.s;  // only 2 of its 3 rows fit
  PglViewport* vp = nullptr;
  ASSERT_EQ(PglAllocViewport(&vp), kOk);
  ASSERT_EQ(PglSurfaceFromImage(vp, t.image, 0), kOk);
  ASSERT_NE(vp->surface, nullptr);
  EXPECT_EQ(vp->width, 6u);
  EXPECT_EQ(vp->height, 6u);
  EXPECT_EQ(vp->surface->flags & PglFlag::Inline, 0u);
  const auto* px = reinterpret_cast<const uint16_t*>(vp->surface->pixels);
  auto at = [&](int x, int y) { return px[y * vp->surface->pitch + x]; };
  EXPECT_EQ(at(5, 1), 0x1111);
  EXPECT_EQ(at(3, 2), 0x2222);
  EXPECT_EQ(at(4, 2), 0x0000);
  EXPECT_EQ(at(3, 5), 0x3333);
  EXPECT_EQ(at(4, 5), 0x0000);  // the third band is cut to the second's width
  PglFreeSurface(&vp);
}

TEST_F(ConvertTest, AnimatedImagesTakeTheirFirstFrame) {
  Band a(2, 2, 0x4444);
  std::vector<uint64_t> frameStorage(sizeof(ContentImageFrame) / 8 + 2, 0);
  auto* frame = reinterpret_cast<ContentImageFrame*>(frameStorage.data());
  frame->bandCount = 1;
  frame->bands[0] = &a.s;
  TestImage t(0);
  t.image->kind = ContentKind::Animation;
  t.image->width = 2;
  t.image->height = 2;
  PglViewport vp{};
  EXPECT_EQ(PglSurfaceFromImage(&vp, t.image, 1), PglErr::NoMemory);  // no frame yet
  t.image->firstFrame = frame;
  ASSERT_EQ(PglSurfaceFromImage(&vp, t.image, 1), kOk);
  EXPECT_EQ(reinterpret_cast<const uint16_t*>(vp.surface->pixels)[3], 0x4444);
  PglViewport* owned = nullptr;
  ASSERT_EQ(PglAllocViewport(&owned), kOk);
  *owned = vp;
  PglFreeSurface(&owned);
  frame->bandCount = 0;
  EXPECT_EQ(PglSurfaceFromImage(&vp, t.image, 1), PglErr::NoMemory);
}

}  // namespace
