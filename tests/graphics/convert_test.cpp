// The row converter's two dithers, building one surface from a
// decoded image.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/image.h"
#include "graphics/pgl.h"
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

// Rows of one grey level each, dithered into the band byte for byte.
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
  for (const Row& row : rows) {
    Make(row.width, row.format, 2);
    ASSERT_EQ(Op(PglConv::Open), 1u);
    for (size_t i = 0; i < row.greys.size(); ++i) {
      source.assign(row.width, row.greys[i]);
      EXPECT_EQ(Op(PglConv::Convert), i < 2 ? 4u : 0u);
    }
    EXPECT_EQ(Op(PglConv::Close), 5u);
    EXPECT_EQ(std::vector<uint8_t>(target.begin(), target.begin() + row.bytes.size()), row.bytes)
        << row.width << " " << row.format;
  }
}

TEST_F(ConvertTest, ImageBandsStackAndANarrowBandNarrowsTheRest) {
  struct Band {
    std::vector<uint16_t> px;
    PglSurface s{};
    Band(uint32_t w, uint32_t h, uint16_t value) : px(static_cast<size_t>(w) * h, value) {
      PglInitSurface(&s, w, h, kPglRgb565, 0x80, 0);
      s.pixels = reinterpret_cast<uint8_t*>(px.data());
    }
  } a(6, 2, 0x1111), b(4, 2, 0x2222), c(6, 3, 0x3333);
  std::vector<uint64_t> storage((sizeof(ContentImage) + 3 * sizeof(PglSurface*)) / 8 + 1, 0);
  auto* image = reinterpret_cast<ContentImage*>(storage.data());
  image->kind = ContentKind::Banded;
  image->width = 6;
  image->height = 6;
  image->bandCount = 3;
  image->bands[0] = &a.s;
  image->bands[1] = &b.s;
  image->bands[2] = &c.s;  // only 2 of its 3 rows fit
  PglViewport* vp = nullptr;
  ASSERT_EQ(PglAllocViewport(&vp), kOk);
  ASSERT_EQ(PglSurfaceFromImage(vp, image, 0), kOk);
  const auto* px = reinterpret_cast<const uint16_t*>(vp->surface->pixels);
  auto at = [&](int x, int y) { return px[y * vp->surface->pitch + x]; };
  EXPECT_EQ(at(5, 1), 0x1111);
  EXPECT_EQ(at(3, 2), 0x2222);
  EXPECT_EQ(at(4, 2), 0x0000);
  EXPECT_EQ(at(3, 5), 0x3333);
  EXPECT_EQ(at(4, 5), 0x0000);  // the third band is cut to the second's width
  PglFreeSurface(&vp);
}

}  // namespace
