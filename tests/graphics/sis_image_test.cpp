// The decoder interface: the output layout, frame index limits and cuts,
// and the two-bit header's rules.
#include <gtest/gtest.h>

#include "graphics/sis.h"
#include "tests/graphics/sis_encoders.h"

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

std::vector<uint8_t> GrayHeader(uint8_t marker, uint8_t width, uint8_t delay, uint8_t frames, uint8_t planes) {
  std::vector<uint8_t> h{'S', 'I', 'S', marker, 0, 0, width, 8, 0, frames, 4, 0, delay};
  if (delay >= 128)
    for (uint8_t i = 0; i < frames; ++i) h.push_back(static_cast<uint8_t>(10 + i));
  const std::vector<uint8_t> rest{1, 0x80, planes, 1, 0};
  h.insert(h.end(), rest.begin(), rest.end());
  for (uint8_t i = 0; i < frames; ++i) h.insert(h.end(), {0x20, static_cast<uint8_t>(i), 0});
  return h;
}

TEST_F(SisImageTest, TwoBitHeaderRules) {
  SisImageInfo info{};
  for (uint8_t marker : {0x00, 0xE8, 0xF0}) {
    auto h = GrayHeader(marker, 15, 127, 1, 2);
    ASSERT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), 1) << int{marker};
    EXPECT_EQ(info.width, 8u);  // 15 >> 3 tiles
    EXPECT_EQ(info.perFrameDelays, 0u);
  }
  auto h = GrayHeader(0, 0, 128, 2, 2);
  ASSERT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), 1);
  EXPECT_EQ(info.width, 256u);
  EXPECT_EQ(info.delays[1], 11u);
  h = GrayHeader(0, 8, 1, 1, 8);
  EXPECT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), 0);
  h = GrayHeader(0, 8, 1, 21, 2);
  EXPECT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), 0);
}

}  // namespace
