// Small pictures compared pixel for pixel with the PNGs in golden/: clipped
// polygons, and grey ramps dithered to one and two bits and blitted back onto
// RGB565.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/pgl.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/golden.h"

namespace {

class GoldenTest : public EngineFixture {
 protected:
  void Canvas(uint32_t w, uint32_t h) {
    px.assign(static_cast<size_t>(w) * h, 0xFFFF);
    PglInitSurface(&canvas, w, h, kPglRgb565, 0, 0);
    canvas.pixels = reinterpret_cast<uint8_t*>(px.data());
  }
  ::testing::AssertionResult Matches(const char* name) {
    return GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/" + name + ".png",
                         GoldenFromRgb565(px.data(), static_cast<int>(canvas.width),
                                          static_cast<int>(canvas.height),
                                          static_cast<int>(canvas.pitch)));
  }
  std::vector<uint16_t> px;
  PglSurface canvas{};
};

constexpr uint16_t kRed = 0xF800, kGreen = 0x07E0, kBlue = 0x001F;

TEST_F(GoldenTest, Polygons) {
  Canvas(64, 48);
  const PglRect clip{2, 2, 61, 45};
  const PglPoint star[10] = {{32, 1},  {38, 17}, {62, 17}, {42, 28}, {50, 47},
                             {32, 35}, {14, 47}, {22, 28}, {1, 17},  {26, 17}};
  ASSERT_EQ(PglDrawPolygon(&canvas, &clip, star, 10, kRed), kOk);
  const PglPoint quad[4] = {{6, 30}, {20, 36}, {16, 44}, {4, 40}};
  ASSERT_EQ(PglDrawPolygon(&canvas, &clip, quad, 4, kBlue), kOk);
  const PglRect box{40, 34, 58, 43};
  ASSERT_EQ(PglDrawRectOutline(&canvas, &clip, &box, kGreen), kOk);
  EXPECT_TRUE(Matches("polygons"));
}

// A horizontal ramp with a vertical shade, dithered into a packed band and
// blitted back: the 1-bit band in the top half, the 2-bit band below.
TEST_F(GoldenTest, DitheredImage) {
  Canvas(64, 64);
  std::vector<uint16_t> row(64);
  PglSurface source{};
  PglInitSurface(&source, 64, 1, kPglRgb565, 0, 0);
  source.pixels = reinterpret_cast<uint8_t*>(row.data());
  for (uint32_t format : {kPglMono, kPglGrey}) {
    PglSurface band{};
    PglInitSurface(&band, 64, 32, format, 0, 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(band.rowBytes) * 32, 0);
    band.pixels = bytes.data();
    PglRowConverter conv{};
    ASSERT_EQ(PglImageToSurface(&conv, &source, &band, PglConv::Open), 1u);
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 64; ++x) row[x] = static_cast<uint16_t>(x * 255 / 63 * (40 + y) / 71);
      ASSERT_EQ(PglImageToSurface(&conv, &source, &band, PglConv::Convert), 4u);
    }
    ASSERT_EQ(PglImageToSurface(&conv, &source, &band, PglConv::Close), 5u);
    const PglBlitJob job{&band, &canvas, 0, 0, 63, 31, 0, format == kPglMono ? 0u : 32u, 0};
    ASSERT_EQ(PglBlit(&job, 0, 0xFFFF), kOk);
  }
  EXPECT_TRUE(Matches("dithered"));
}

}  // namespace
