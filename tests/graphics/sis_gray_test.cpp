// Two-bit images against known pixels: coded planes round-tripping through
// the decoder, reference layers with patches, and the layer cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>

#include "graphics/sis.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/graphics/sis_gray_encoder.h"

namespace {

class SisGrayTest : public ::testing::Test {
 protected:
  void SetUp() override { SisTestDecoderInit(256, 256); }
};

// A picture of one byte a pixel.
struct Pic {
  uint32_t w = 0, h = 0;
  std::vector<uint8_t> px;
  uint8_t& at(uint32_t x, uint32_t y) { return px[y * w + x]; }
  uint8_t at(uint32_t x, uint32_t y) const { return px[y * w + x]; }
};

Pic Random(std::mt19937* rng, uint32_t w, uint32_t h, int style) {
  Pic p{w, h, std::vector<uint8_t>(w * h)};
  uint8_t run = 0;
  for (auto& v : p.px) {
    const uint32_t r = (*rng)();
    switch (style) {
      case 0: v = static_cast<uint8_t>(r & 3); break;                 // noise
      case 2:                                                         // long spans
        if (r % 97 == 0) run = static_cast<uint8_t>(r >> 8 & 3);
        v = run;
        break;
      default: v = 3; break;  // constant
    }
  }
  return p;
}

std::vector<uint8_t> Packed(const Pic& p) {
  std::vector<uint8_t> out(p.w / 4 * p.h);
  for (uint32_t y = 0; y < p.h; ++y)
    for (uint32_t x = 0; x < p.w; ++x)
      out[y * (p.w / 4) + x / 4] |= static_cast<uint8_t>(p.at(x, y) << (6 - 2 * (x % 4)));
  return out;
}

Pic Patched(Pic base, uint32_t first, uint32_t last, const Pic& patch) {
  const uint32_t wt = base.w / 8;
  for (uint32_t y = 0; y < (last / wt - first / wt + 1) * 8; ++y)
    for (uint32_t x = 0; x < (last % wt - first % wt + 1) * 8; ++x)
      base.at(first % wt * 8 + x, first / wt * 8 + y) = patch.at(x, y);
  return base;
}


TEST_F(SisGrayTest, RandomLayersRoundTripExactly) {
  std::mt19937 rng(7);
  const uint32_t sizes[][2] = {{1, 1}, {5, 7}, {16, 1}, {1, 16}, {16, 16}};
  for (const auto& s : sizes)
    for (int style : {0, 2, 3}) {
      const Pic p = Random(&rng, s[0] * 8, s[1] * 8, style);
      SisGrayBuilder b;
      b.width = p.w;
      b.height = p.h;
      b.frames.push_back({b.Own(s[0], s[1], p.px)});
      const auto file = b.File();
      EXPECT_EQ(SisTestFrame(file, 0), Packed(p)) << s[0] << "x" << s[1] << " style " << style;
      // One byte fewer and the planes run out: every coded byte is read.
      auto cut = file;
      const size_t length = size_t{cut[22]} << 8 | cut[23];
      cut[22] = static_cast<uint8_t>((length - 1) >> 8);
      cut[23] = static_cast<uint8_t>(length - 1);
      cut.erase(cut.begin() + static_cast<std::ptrdiff_t>(24 + length - 1));
      EXPECT_TRUE(SisTestFrame(cut, 0).empty()) << s[0] << "x" << s[1] << " style " << style;
    }
}

TEST_F(SisGrayTest, CachedLayersAreStoredOnceAndPatchesTakeTheirOwnRoom) {
  // A full-size root, a reference patching most of it and fifteen patching
  // one tile each, all cacheable: a layer stored again on each use, or a
  // reference stored whole instead of as its patches, overflows the cache.
  std::mt19937 rng(13);
  const Pic root = Random(&rng, 128, 128, 2), big = Random(&rng, 128, 120, 0);
  SisGrayBuilder b;
  b.width = b.height = 128;
  const uint32_t r = b.Own(16, 16, root.px, true);
  const uint32_t large = b.Reference(r, {{0, 239, big.px}}, 16, true);
  std::vector<Pic> tiles;
  std::vector<std::vector<uint8_t>> want;
  for (uint32_t i = 0; i < 15; ++i) {
    tiles.push_back(Random(&rng, 8, 8, 0));
    const uint32_t tile = i * 17;  // down the diagonal
    b.frames.push_back({b.Reference(r, {{tile, tile, tiles.back().px}}, 16, true)});
    want.push_back(Packed(Patched(root, tile, tile, tiles.back())));
  }
  for (uint32_t i = 0; i < 5; ++i) {
    b.frames.push_back({i == 0 ? r : large});
    want.push_back(Packed(i == 0 ? root : Patched(root, 0, 239, big)));
  }
  const auto file = b.File();
  ASSERT_EQ(SisProbeHeader(file.data(), static_cast<uint32_t>(file.size()), nullptr), 1);
  std::vector<uint8_t> out(SisOutputSize(20));
  const size_t frameBytes = 128 / 4 * 128;
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(SisDecodeFrame(file.data(), static_cast<uint32_t>(file.size()), out.data(),
                             static_cast<uint32_t>(out.size()), -1, 0), 20) << round;
    for (size_t i = 0; i < 20; ++i)
      EXPECT_TRUE(std::equal(want[i].begin(), want[i].end(),
                             out.begin() + static_cast<std::ptrdiff_t>(16 + 80 + 20 + i * (20 + frameBytes))))
          << "frame " << i << " round " << round;
  }
}

}  // namespace
