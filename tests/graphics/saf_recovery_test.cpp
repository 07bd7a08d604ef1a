// The decoder after failures and between images: every cut and corruption
// of a file of each kind fails or decodes, and the next good image then
// decodes exactly as on a fresh decoder; frames of two animations asked
// for in turns equal the frames of each decoded alone; an object that is
// passed over is never placed.
#include <gtest/gtest.h>

#include <random>

#include "graphics/sis.h"
#include "tests/graphics/sis_deflate_split.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/random_data.h"

namespace {

constexpr uint32_t kCanvas = 32;

void Init() { SisTestDecoderInit(kCanvas, kCanvas); }

// The whole output of frame `index`, or empty on failure.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& file, int32_t index) {
  return SisTestFrame(file, index, true, true);
}

// Three frames over objects of every coding: adaptive, zlib stored, zlib
// fixed, and a dynamic block whose tables come in a table block first.
std::vector<uint8_t> Animation(uint32_t depth, uint32_t seed) {
  SafBuilder b;
  b.width = b.height = kCanvas;
  b.depth = depth;
  b.frames = 3;
  const uint32_t w = 16, h = 8, n = w * h * depth / 8;
  b.Object(0, w, h, 0, 0, SisPackAdaptive(RandomRepeats(seed, n, 4, 16)));
  b.Object(1, w, h, 1, 0, SisZlib(RandomRepeats(seed + 1, n, 4, 16), 0));
  b.Object(2, w, h, 1, 1, SisZlib(RandomRepeats(seed + 2, n, 4, 16), 6));
  SisSplitStream split;
  if (SisSplitDynamic(RandomRepeats(seed + 3, n, 4, 16), &split)) {
    b.Block(11, split.tables);
    b.Object(3, w, h, 1, 0, split.stream);
  }
  for (uint8_t f = 0; f < 3; ++f)
    b.Frame(f, {{0, 5, 0, 0, 0, static_cast<uint8_t>(f), 1},
                {0, 5, 1, 0x30, 2, 9, static_cast<uint8_t>(10 + f)},
                {0, 6, 2, 0x01, 0, 3, 17, static_cast<uint8_t>(40 * f + 9)},
                {0, 7, 3, 0, 0xA0, 12, 2, 200, 128}});
  return b.File();
}

TEST(SafRecoveryTest, TableBlocksFeedTheDynamicObject) {
  Init();
  const auto file = Animation(8, 1);
  const auto f = Decode(file, 0);
  ASSERT_FALSE(f.empty());
  // Without the table block the dynamic object fails the whole file.
  SafBuilder b;
  b.width = b.height = kCanvas;
  SisSplitStream split;
  ASSERT_TRUE(SisSplitDynamic(RandomRepeats(4, 128, 4, 16), &split));
  b.Object(0, 16, 8, 1, 0, split.stream);
  b.Frame(0, {});
  EXPECT_TRUE(Decode(b.File(), 0).empty());
}

TEST(SafRecoveryTest, AnyFailureLeavesTheDecoderAsNew) {
  std::vector<std::vector<uint8_t>> goods{Animation(8, 10), Animation(2, 20), Animation(1, 30),
                                          SisMonoImage(2, 2, RandomRepeats(5, 32, 4, 16), 2, true, 6)};
  std::vector<std::vector<uint8_t>> fresh;
  for (const auto& g : goods) {
    Init();
    fresh.push_back(Decode(g, 1));
    ASSERT_FALSE(fresh.back().empty());
  }
  Init();
  std::mt19937 rng(2);
  for (size_t k = 0; k < goods.size(); ++k) {
    const auto& g = goods[k];
    for (int round = 0; round < 120; ++round) {
      std::vector<uint8_t> bad = g;
      if (round % 2) {
        bad.resize(rng() % g.size());
      } else {
        for (int i = 0; i < 4; ++i) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
      }
      Decode(bad, static_cast<int32_t>(rng() % 3));
      const size_t next = rng() % goods.size();
      ASSERT_EQ(Decode(goods[next], 1), fresh[next]) << k << " round " << round << " then " << next;
    }
  }
}

TEST(SafRecoveryTest, InterleavedFramesEqualEachAnimationAlone) {
  const std::vector<std::vector<uint8_t>> files{Animation(8, 40), Animation(2, 50), Animation(8, 60)};
  std::vector<std::vector<std::vector<uint8_t>>> alone(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    Init();
    for (int32_t f = 0; f < 3; ++f) {
      alone[i].push_back(Decode(files[i], f));
      ASSERT_FALSE(alone[i].back().empty());
    }
  }
  Init();
  std::mt19937 rng(6);
  for (int round = 0; round < 60; ++round) {
    const size_t i = rng() % files.size();
    const auto f = static_cast<int32_t>(rng() % 3);
    ASSERT_EQ(Decode(files[i], f), alone[i][static_cast<size_t>(f)]) << "round " << round;
  }
}

TEST(SafRecoveryTest, AnObjectPassedOverIsNeverPlaced) {
  Init();
  for (uint32_t depth : {1u, 8u}) {
    SafBuilder b;
    b.width = b.height = kCanvas;
    b.depth = depth;
    // Coder 17 is not decoded; its placement, masked or not, draws nothing.
    b.Object(0, 32, 32, 17, 0, std::vector<uint8_t>(4, 0xFF));
    b.Frame(depth == 1 ? 1 : 5, {{0, 5, 0, 0, 1, 0, 0}, {0, 5, 0, 0, 0, 0, 0}});
    const auto f = Decode(b.File(), 0);
    ASSERT_FALSE(f.empty()) << depth;
    for (size_t i = 40; i < 40 + kCanvas * kCanvas * depth / 8; ++i)
      ASSERT_EQ(f[i], depth == 1 ? 0xFF : 5) << depth << " " << i;
  }
}

}  // namespace
