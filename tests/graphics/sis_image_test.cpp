// The decoder interface: the output layout, frame index limits and cuts,
// and the two-bit header's rules.
#include <gtest/gtest.h>

#include "graphics/sis.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/graphics/sis_gray_encoder.h"

namespace {

class SisImageTest : public ::testing::Test {
 protected:
  void SetUp() override { SisTestDecoderInit(256, 256); }
};

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}

TEST_F(SisImageTest, FrameIndexLimitsAndCuts) {
  auto img = SisMonoImage(2, 2, std::vector<uint8_t>(32, 0x5A), 3, true, 2);
  ASSERT_EQ(SisProbeHeader(img.data(), static_cast<uint32_t>(img.size()), nullptr), 1);
  std::vector<uint8_t> out(SisOutputSize(3));
  const auto len = static_cast<uint32_t>(img.size());
  EXPECT_EQ(SisDecodeFrame(img.data(), len, out.data(), static_cast<uint32_t>(out.size()), 3, 0), 0);
  EXPECT_EQ(SisDecodeFrame(img.data(), len, out.data(), static_cast<uint32_t>(out.size()), 0, 4), 0);
  EXPECT_EQ(SisDecodeFrame(img.data(), len, out.data(), static_cast<uint32_t>(out.size()), -1, 0), 3);
  EXPECT_EQ(Word(out, 20), 16 + 12 + 20 + 32u);
  EXPECT_EQ(out[16 + 12 + 2 * 52 + 20], 0x5A);
  // An output one byte short is refused, not overrun.
  EXPECT_EQ(SisDecodeFrame(img.data(), len, out.data(), static_cast<uint32_t>(out.size()) - 1, -1, 0), 0);
  for (uint32_t n = 8; n < len; ++n)  // cut short
    EXPECT_TRUE(!SisProbeHeader(img.data(), n, nullptr) ||
                !SisDecodeFrame(img.data(), n, out.data(), static_cast<uint32_t>(out.size()), 2, 0)) << n;
}

// Header bytes 3 (the marker), 6 (the width), 9 (the frame count) and 15
// (the plane count) of a two-bit file.
TEST_F(SisImageTest, TwoBitHeaderRules) {
  SisGrayBuilder b;
  b.width = b.height = 8;
  b.frames.push_back({});
  const struct {
    size_t at;
    uint8_t value;
    int probe;
    uint32_t width;
  } rows[] = {{3, 0xE8, 1, 8}, {3, 0xF0, 1, 8}, {6, 15, 1, 8}, {6, 0, 1, 256}, {9, 21, 0, 0}, {15, 8, 0, 0}};
  for (const auto& row : rows) {
    auto h = b.File();
    h[row.at] = row.value;
    SisImageInfo info{};
    EXPECT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), row.probe) << row.at;
    EXPECT_EQ(row.probe ? info.width : 0, row.width) << row.at;
  }
}

}  // namespace
