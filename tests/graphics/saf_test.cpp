// Animations end to end: files written byte by byte, objects coded with the
// adaptive packer, zlib and preset tables, frames composed from known
// commands, and the decoder after failures and between images.
#include <gtest/gtest.h>

#include <random>

#include "graphics/saf.h"
#include "graphics/sis.h"
#include "tests/graphics/sis_deflate_split.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/random_data.h"

namespace {

constexpr uint32_t kCanvas = 16;

class SafTest : public ::testing::Test {
 protected:
  void SetUp() override { SisTestDecoderInit(kCanvas, kCanvas); }
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
    std::vector<uint8_t> want(kCanvas * kCanvas, 9);
    for (uint32_t i = 0; i < 8; ++i) {
      want[(1 + i / 4) * kCanvas + 2 + i % 4] = pixels[i];
      want[(13 - i / 4) * kCanvas + 13 - i % 4] = pixels[i];
    }
    EXPECT_EQ(SisTestFrame(b.File(), 0), want) << coder;
  }
}

TEST_F(SafTest, RotatedQuarterTurnCoversATurnedBox) {
  SafBuilder b;
  const auto pixels = Ramp(32);
  b.Object(0, 8, 4, 1, 0, SisZlib(pixels, 0));
  b.Frame(0, {Placement(0, 3, 2, 0x01, 0, {64})});
  const auto f = SisTestFrame(b.File(), 0);
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
  EXPECT_EQ(SisTestFrame(file, 0).at(0), 0xAA);
  const auto f = SisTestFrame(file, 1);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f[0], 0xFF);          // above the rectangle
  EXPECT_EQ(f[5 * 4 + 1], 0x00);  // pixels 4..7 of row 5: inside
  EXPECT_EQ(f[5 * 4 + 0], 0xFF);  // pixels 0..3: outside
  EXPECT_EQ(SisTestFrame(file, 2).at(0), 0x55);  // inverted twice
}

// Info that comes after an object would change the depth the object was
// decoded at; a second info block before any object would make the drawn
// file another than the probed one. Either way the file is refused rather
// than drawn from the wrong bytes; one info block draws.
TEST_F(SafTest, ASecondInfoBlockIsRefusedWhereverItComes) {
  const auto bits = Ramp(16);  // 16 x 8 pixels of one bit
  enum { kNone, kBeforeObject, kAfterObject };
  for (int second : {kNone, kBeforeObject, kAfterObject}) {
    SafBuilder b;
    b.depth = 1;
    if (second == kBeforeObject) b.Info(1);
    b.Object(0, 16, 8, 1, 0, SisZlib(bits, 0));
    if (second == kAfterObject) b.Info(8);
    b.Frame(0, {Placement(0, 0, 0)});
    const auto frame = SisTestFrame(b.File(), 0);
    if (second != kNone) {
      EXPECT_TRUE(frame.empty()) << second;
    } else {
      ASSERT_GE(frame.size(), bits.size());
      EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 16), bits);  // rows of 2 bytes
    }
  }
}

// The probe stops at the first info block (one frame of 16 x 16); the second
// names 42 frames of 48 x 16 at two bits. No frame of such a file is drawn,
// the one the probe denies least of all.
TEST_F(SafTest, ProbeAndDrawingNeverDisagreeOnTheInfo) {
  SafBuilder other;
  other.width = 48;
  other.frames = 42;
  other.delay = 100;
  SafBuilder b;
  b.depth = 1;
  const auto second = other.InfoBlock(2);
  b.body.insert(b.body.end(), second.begin(), second.end());
  b.Frame(0, {});
  b.Frame(0, {});
  const auto file = b.File();
  ASSERT_EQ(file.size(), 72u);  // the fuzz seed sis_decode/second_info_before_object
  SisImageInfo info{};
  ASSERT_EQ(SisProbeHeader(file.data(), static_cast<uint32_t>(file.size()), &info), 1);
  EXPECT_EQ(info.frameCount, 1u);
  EXPECT_EQ(info.width, 16u);
  for (int32_t index : {0, 1}) {
    std::vector<uint8_t> out(SisOutputSize(1));
    EXPECT_EQ(SisDecodeFrame(file.data(), static_cast<uint32_t>(file.size()), out.data(),
                             static_cast<uint32_t>(out.size()), index, 0),
              0)
        << index;
  }
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
    EXPECT_TRUE(SisTestFrame(bad[i], 0).empty()) << i;
    const auto f = SisTestFrame(file, 0);
    ASSERT_FALSE(f.empty()) << i;
    EXPECT_EQ(f[1], 2);
  }
}

// At four bits a pixel, key mode 2 leaves the object's key-coloured pixels
// showing what lies beneath; mode 0 pastes every pixel.
TEST_F(SafTest, KeyModeTwoKeepsTheBackgroundUnderKeyPixelsAtFourBits) {
  const std::vector<uint8_t> object{0x12, 0x7F, 0x77, 0x34};  // 4 x 2, key 7
  std::vector<std::vector<uint8_t>> frames;
  for (uint8_t mode : {0, 2}) {
    SafBuilder b;
    b.depth = 4;
    b.Object(0, 4, 2, 1, 7, SisZlib(object, 0));
    b.Frame(3, {Placement(0, 2, 1, 0, mode)});
    frames.push_back(SisTestFrame(b.File(), 0));
    ASSERT_GE(frames.back().size(), 128u);
  }
  // Rows of 8 bytes, the left pixel in the high nibble; the background is 3.
  std::vector<uint8_t> pasted(kCanvas * kCanvas / 2, 0x33), keyed = pasted;
  pasted[9] = keyed[9] = 0x12;
  pasted[10] = 0x7F;
  keyed[10] = 0x3F;
  pasted[17] = 0x77;
  pasted[18] = keyed[18] = 0x34;
  EXPECT_EQ(std::vector<uint8_t>(frames[0].begin(), frames[0].begin() + 128), pasted);
  EXPECT_EQ(std::vector<uint8_t>(frames[1].begin(), frames[1].begin() + 128), keyed);
}

// Coder 17 is not decoded; its placement, masked or not, draws nothing.
TEST_F(SafTest, AnObjectPassedOverIsNeverPlaced) {
  for (uint32_t depth : {1u, 8u}) {
    SafBuilder b;
    b.depth = depth;
    b.Object(0, 16, 16, 17, 0, std::vector<uint8_t>(4, 0xFF));
    b.Frame(depth == 1 ? 1 : 5, {{0, 5, 0, 0, 1, 0, 0}, {0, 5, 0, 0, 0, 0, 0}});
    const auto f = SisTestFrame(b.File(), 0);
    const size_t bytes = kCanvas * kCanvas * depth / 8;
    ASSERT_GE(f.size(), bytes);
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(bytes)),
              std::vector<uint8_t>(bytes, depth == 1 ? 0xFF : 5))
        << depth;
  }
}

// Three frames over objects of every coding: adaptive, zlib stored, zlib
// fixed, and a dynamic block whose tables come in a table block first.
std::vector<uint8_t> Animation(uint32_t depth, uint32_t seed, bool tables = true) {
  SafBuilder b;
  b.depth = depth;
  b.frames = 3;
  const uint32_t w = 16, h = 8, n = w * h * depth / 8;
  b.Object(0, w, h, 0, 0, SisPackAdaptive(RandomRepeats(seed, n, 4, 16)));
  b.Object(1, w, h, 1, 0, SisZlib(RandomRepeats(seed + 1, n, 4, 16), 0));
  b.Object(2, w, h, 1, 1, SisZlib(RandomRepeats(seed + 2, n, 4, 16), 6));
  SisSplitStream split;
  if (SisSplitDynamic(RandomRepeats(seed + 3, n, 4, 16), &split)) {
    if (tables) b.Block(11, split.tables);
    b.Object(3, w, h, 1, 0, split.stream);
  }
  for (uint8_t f = 0; f < 3; ++f)
    b.Frame(f, {{0, 5, 0, 0, 0, static_cast<uint8_t>(f), 1},
                {0, 5, 1, 0x30, 2, 9, static_cast<uint8_t>(10 + f)},
                {0, 6, 2, 0x01, 0, 3, 7, static_cast<uint8_t>(40 * f + 9)},
                {0, 7, 3, 0, 0xA0, 12, 2, 200, 128}});
  return b.File();
}

TEST_F(SafTest, AnyFailureLeavesTheDecoderAsNew) {
  EXPECT_TRUE(SisTestFrame(Animation(8, 1, false), 0).empty());  // no tables for the dynamic object
  const std::vector<std::vector<uint8_t>> goods{
      Animation(8, 10), Animation(2, 20), Animation(1, 30),
      SisMonoImage(2, 2, RandomRepeats(5, 32, 4, 16), 2, true, 6)};
  std::vector<std::vector<uint8_t>> fresh;
  for (const auto& g : goods) {
    SetUp();
    fresh.push_back(SisTestFrame(g, 1, true, true));
    ASSERT_FALSE(fresh.back().empty());
  }
  SetUp();
  std::mt19937 rng(2);
  for (size_t k = 0; k < goods.size(); ++k)
    for (int round = 0; round < 120; ++round) {
      std::vector<uint8_t> bad = goods[k];
      if (round % 2)
        bad.resize(rng() % bad.size());
      else
        for (int i = 0; i < 4; ++i) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
      SisTestFrame(bad, static_cast<int32_t>(rng() % 3));
      const size_t next = rng() % goods.size();
      ASSERT_EQ(SisTestFrame(goods[next], 1, true, true), fresh[next]) << k << " round " << round;
    }
}

}  // namespace
