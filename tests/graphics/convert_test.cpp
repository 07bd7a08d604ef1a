// The row converter's two dithers: rows of one grey level each, dithered
// into a band byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/pgl.h"
#include "tests/support/engine_fixture.h"

namespace {

class ConvertTest : public EngineFixture {};

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
    std::vector<uint16_t> source(r.width);
    PglSurface row{}, band{};
    PglInitSurface(&row, r.width, 1, kPglRgb565, 0, 0);
    row.pixels = reinterpret_cast<uint8_t*>(source.data());
    PglInitSurface(&band, r.width, 2, r.format, 0, 0);
    std::vector<uint8_t> target(static_cast<size_t>(band.rowBytes) * 2 + 8, 0xEE);  // 8 guard bytes
    band.pixels = target.data();
    PglRowConverter conv{};
    ASSERT_EQ(PglImageToSurface(&conv, &row, &band, PglConv::Open), 1u);
    for (size_t i = 0; i < r.greys.size(); ++i) {
      source.assign(r.width, r.greys[i]);
      EXPECT_EQ(PglImageToSurface(&conv, &row, &band, PglConv::Convert), i < 2 ? 4u : 0u);
    }
    EXPECT_EQ(PglImageToSurface(&conv, &row, &band, PglConv::Close), 5u);
    EXPECT_EQ(std::vector<uint8_t>(target.begin(), target.begin() + r.bytes.size()), r.bytes)
        << r.width << " " << r.format;
  }
}

}  // namespace
