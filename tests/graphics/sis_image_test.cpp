// The decoder interface and the two still-image variants: variant choice by
// the marker byte, one-bit images round-tripping exactly, the output layout,
// frame index limits, and the two-bit header's rules.
#include <gtest/gtest.h>

#include <random>

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

TEST_F(SisImageTest, MarkerByteSelectsTheVariant) {
  SisImageInfo info{};
  const std::vector<uint8_t> picture(8 * 8, 0);
  auto mono = SisMonoImage(1, 1, std::vector<uint8_t>(8, 0), 1, false, 4);
  ASSERT_EQ(mono[3], 0x08);
  EXPECT_EQ(SisProbeHeader(mono.data(), static_cast<uint32_t>(mono.size()), &info), 1);
  EXPECT_EQ(info.kind, 1u);
  EXPECT_EQ(info.width, 8u);
  EXPECT_EQ(info.delays[0], 4u);
  EXPECT_EQ(info.loop, 1u);
  for (uint8_t marker : {0xA8, 0xF8}) {
    auto bad = mono;
    bad[3] = marker;
    EXPECT_EQ(SisProbeHeader(bad.data(), static_cast<uint32_t>(bad.size()), &info), 0) << int{marker};
  }
  const uint8_t notAnImage[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  EXPECT_EQ(SisProbeHeader(notAnImage, sizeof notAnImage, &info), 0);
}

TEST_F(SisImageTest, OneBitImagesRoundTripExactly) {
  std::mt19937 rng(1);
  for (int round = 0; round < 40; ++round) {
    const uint32_t wu = 1 + rng() % 16, hu = 1 + rng() % 8;
    if (wu * hu > 128) continue;
    std::vector<uint8_t> px(wu * hu * 8);
    const uint32_t density = rng() % 4;
    for (auto& b : px)
      b = density == 0 ? static_cast<uint8_t>(rng()) : density == 1 ? 0 : static_cast<uint8_t>(rng() % 2 ? 0xFF : 0x0F);
    const bool runs = round % 2;
    auto img = SisMonoImage(wu, hu, px, 2, runs, 6);
    SisImageInfo info{};
    ASSERT_EQ(SisProbeHeader(img.data(), static_cast<uint32_t>(img.size()), &info), 1);
    std::vector<uint8_t> out(SisOutputSize(1));
    ASSERT_EQ(SisDecodeFrame(img.data(), static_cast<uint32_t>(img.size()), out.data(),
                             static_cast<uint32_t>(out.size()), 1, 0), 1);
    EXPECT_EQ(Word(out, 0), 16 + 24 + px.size());
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(out[6], 0);
    EXPECT_EQ(Word(out, 16), 20u);
    EXPECT_EQ(Word(out, 28), wu * 8);
    EXPECT_EQ(Word(out, 36), 3u);  // the delay halved
    EXPECT_TRUE(std::equal(px.begin(), px.end(), out.begin() + 40)) << "round " << round;
  }
}

TEST_F(SisImageTest, FrameIndexAtTheCountFailsAndEveryFrameDecodes) {
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
}

TEST_F(SisImageTest, TruncatedOneBitImagesFail) {
  auto img = SisMonoImage(4, 4, std::vector<uint8_t>(128, 0x33), 1, true, 2);
  std::vector<uint8_t> out(SisOutputSize(1) + 4096);
  for (size_t n = 8; n < img.size(); n += 3) {
    if (!SisProbeHeader(img.data(), static_cast<uint32_t>(n), nullptr)) continue;
    EXPECT_EQ(SisDecodeFrame(img.data(), static_cast<uint32_t>(n), out.data(), static_cast<uint32_t>(out.size()), 0, 0), 0)
        << n;
  }
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
    EXPECT_EQ(info.delays[0], 127u);
    EXPECT_EQ(info.kind, 2u);
    EXPECT_EQ(info.loop, 1u);
  }
  auto h = GrayHeader(0, 0, 128, 2, 2);
  ASSERT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), 1);
  EXPECT_EQ(info.width, 256u);
  EXPECT_EQ(info.perFrameDelays, 1u);
  EXPECT_EQ(info.delays[1], 11u);
  h = GrayHeader(0, 8, 1, 1, 8);
  EXPECT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), 0);
  h = GrayHeader(0, 8, 1, 21, 2);
  EXPECT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), &info), 0);
}

TEST_F(SisImageTest, TwoBitBackgroundsFillAndCarryOver) {
  // No layers: frames are their backgrounds; background 4 keeps the canvas
  // of the frame before, even when that frame was never asked for.
  auto h = GrayHeader(0, 8, 2, 3, 2);
  h[h.size() - 3 * 3 + 1] = 2;  // frame 0: background 2
  h[h.size() - 2 * 3 + 1] = 4;  // frame 1: keep
  h[h.size() - 1 * 3 + 1] = 1;  // frame 2: background 1
  ASSERT_EQ(SisProbeHeader(h.data(), static_cast<uint32_t>(h.size()), nullptr), 1);
  std::vector<uint8_t> out(SisOutputSize(1));
  const auto len = static_cast<uint32_t>(h.size());
  ASSERT_EQ(SisDecodeFrame(h.data(), len, out.data(), static_cast<uint32_t>(out.size()), 2, 0), 1);
  EXPECT_EQ(out[40], 0x55);
  ASSERT_EQ(SisDecodeFrame(h.data(), len, out.data(), static_cast<uint32_t>(out.size()), 1, 0), 1);
  EXPECT_EQ(out[40], 0xAA);
}

}  // namespace
