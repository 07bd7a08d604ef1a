// Animations end to end: files written byte by byte, objects coded with
// zlib or the adaptive packer, frames composed from known commands, and the
// decoder's recovery.
#include <gtest/gtest.h>

#include "graphics/saf.h"
#include "graphics/sis.h"
#include "tests/graphics/sis_encoders.h"

namespace {

constexpr uint32_t kCanvas = 16;

class SafTest : public ::testing::Test {
 protected:
  void SetUp() override { SisTestDecoderInit(kCanvas, kCanvas); }
  std::vector<uint8_t> Frame(const std::vector<uint8_t>& file, int32_t index, bool probe = true) {
    return SisTestFrame(file, index, probe);
  }
};

std::vector<uint8_t> Ramp(uint32_t n) {
  std::vector<uint8_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

std::vector<uint8_t> Placement(uint8_t object, uint8_t x, uint8_t y, uint8_t b3 = 0, uint8_t b4 = 0,
                               std::vector<uint8_t> extra = {}) {
  std::vector<uint8_t> c{0, static_cast<uint8_t>(5 + extra.size()), object, b3, b4, x, y};
  for (uint8_t e : extra) c.push_back(e);
  return c;
}

TEST_F(SafTest, ProbeReportsTheFileAndFramesCarryTheCanvas) {
  SafBuilder b;
  b.width = 40;
  b.height = 30;
  b.Object(0, 4, 2, 1, 0, SisZlib(Ramp(8), 0));
  b.Frame(3, {Placement(0, 2, 1)});
  const auto file = b.File();
  SisImageInfo info{};
  ASSERT_EQ(SisProbeHeader(file.data(), static_cast<uint32_t>(file.size()), &info), 1);
  EXPECT_EQ(info.width, 40u);
  EXPECT_EQ(info.height, 30u);
  EXPECT_EQ(info.kind, 8u);
  EXPECT_EQ(info.delays[0], 4u);
  EXPECT_EQ(info.frameCount, 1u);
  uint32_t kind = 9;
  const uint8_t* palette = SisGetPalette(&kind);
  EXPECT_EQ(kind, 2u);
  EXPECT_EQ(palette[3 * 200 + 1], 200);
  std::vector<uint8_t> out(SisOutputSize(1));
  ASSERT_EQ(SisDecodeFrame(file.data(), static_cast<uint32_t>(file.size()), out.data(),
                           static_cast<uint32_t>(out.size()), 0, 0), 1);
  EXPECT_EQ(out[28], kCanvas);  // the record's width is the canvas
  EXPECT_EQ(out[36], 2);        // 400 / 200
  std::vector<uint8_t> two(SisOutputSize(2));
  EXPECT_EQ(SisDecodeFrame(file.data(), static_cast<uint32_t>(file.size()), two.data(),
                           static_cast<uint32_t>(two.size()), 0, 2), 0);
}

TEST_F(SafTest, PlacementsComposeExactly) {
  const auto pixels = Ramp(8);
  for (uint32_t coder : {0u, 1u}) {
    SafBuilder b;
    b.Object(5, 4, 2, coder, 0, coder ? SisZlib(pixels, 6) : SisPackAdaptive(pixels));
    b.Frame(9, {Placement(5, 2, 1), Placement(5, 10, 12, 0x30)});  // plain, then both flips
    const auto f = Frame(b.File(), 0);
    ASSERT_EQ(f.size(), kCanvas * kCanvas) << coder;
    for (uint32_t y = 0; y < kCanvas; ++y)
      for (uint32_t x = 0; x < kCanvas; ++x) {
        uint8_t want = 9;
        if (x >= 2 && x < 6 && y >= 1 && y < 3) want = pixels[(y - 1) * 4 + (x - 2)];
        if (x >= 10 && x < 14 && y >= 12 && y < 14) want = pixels[(13 - y) * 4 + (13 - x)];
        EXPECT_EQ(f[y * kCanvas + x], want) << coder << " " << x << "," << y;
      }
  }
}

TEST_F(SafTest, RotatedQuarterTurnCoversATurnedBox) {
  SafBuilder b;
  const auto pixels = Ramp(32);
  b.Object(0, 8, 4, 1, 0, SisZlib(pixels, 0));
  b.Frame(0, {Placement(0, 3, 2, 0x01, 0, {64})});
  const auto f = Frame(b.File(), 0);
  ASSERT_FALSE(f.empty());
  uint32_t covered = 0;
  for (uint32_t y = 0; y < kCanvas; ++y)
    for (uint32_t x = 0; x < kCanvas; ++x)
      if (f[y * kCanvas + x]) {
        EXPECT_TRUE(x >= 3 && x < 7 && y >= 2 && y < 10) << x << "," << y;
        ++covered;
      }
  EXPECT_EQ(covered, 32u);
  EXPECT_EQ(f[2 * kCanvas + 6], pixels[0]);  // source (0, 0) at the top right
}

TEST_F(SafTest, BackgroundsMasksAndInversionAtPackedDepths) {
  SafBuilder b;
  b.depth = 2;
  b.frames = 3;
  b.Frame(2, {});
  b.Frame(0, {{19, 5, 4, 4, 11, 11, 3}});
  b.Frame(1, {{20, 0}, {20, 0}});
  const auto file = b.File();
  auto f = Frame(file, 0);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f[0], 0xAA);
  f = Frame(file, 1);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f[0], 0xFF);                // above the rectangle
  EXPECT_EQ(f[5 * 4 + 1], 0x00);        // pixels 4..7 of row 5: inside
  EXPECT_EQ(f[5 * 4 + 0], 0xFF);        // pixels 0..3: outside
  f = Frame(file, 2);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f[0], 0x55);  // inverted twice
}

TEST_F(SafTest, ErrorsFailAndTheDecoderRecovers) {
  SafBuilder good;
  good.Object(0, 2, 2, 1, 0, SisZlib({1, 2, 3, 4}, 0));
  good.Frame(7, {Placement(0, 0, 0)});
  const auto file = good.File();
  std::vector<std::vector<uint8_t>> bad;
  auto v3 = file;
  v3[4] = 3;
  bad.push_back(v3);
  bad.emplace_back(file.begin(), file.end() - 10);  // cut short
  SafBuilder zero;
  zero.Object(0, 0, 2, 1, 0, {});
  bad.push_back(zero.File());
  SafBuilder c16;
  c16.Object(0, 2, 2, 16, 0, {1});
  c16.Frame(0, {});
  bad.push_back(c16.File());
  SafBuilder badIndex;
  badIndex.Frame(0, {Placement(200, 0, 0)});
  bad.push_back(badIndex.File());
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_TRUE(Frame(bad[i], 0).empty()) << i;
    const auto f = Frame(file, 0);
    ASSERT_FALSE(f.empty()) << i;
    EXPECT_EQ(f[1], 2);
  }
}

}  // namespace
