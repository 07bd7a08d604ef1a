// Two-bit images against known pixels: coded planes round-tripping through
// the decoder, reference layers with patches, rotated and flipped
// placements, the layer cache, and frames asked for out of order.
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
      case 1: v = r % 23 == 0 ? static_cast<uint8_t>(r >> 8 & 3) : 0; break;  // sparse
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

Pic Rotate(const Pic& p) {  // (x, y) goes to (y, w - 1 - x)
  Pic r{p.h, p.w, std::vector<uint8_t>(p.px.size())};
  for (uint32_t y = 0; y < p.h; ++y)
    for (uint32_t x = 0; x < p.w; ++x) r.at(y, p.w - 1 - x) = p.at(x, y);
  return r;
}

Pic Flip(const Pic& p, bool vertical, bool horizontal) {
  Pic r = p;
  for (uint32_t y = 0; y < p.h; ++y)
    for (uint32_t x = 0; x < p.w; ++x)
      r.at(x, y) = p.at(horizontal ? p.w - 1 - x : x, vertical ? p.h - 1 - y : y);
  return r;
}

Pic Patched(Pic base, uint32_t first, uint32_t last, const Pic& patch) {
  const uint32_t wt = base.w / 8;
  for (uint32_t y = 0; y < (last / wt - first / wt + 1) * 8; ++y)
    for (uint32_t x = 0; x < (last % wt - first % wt + 1) * 8; ++x)
      base.at(first % wt * 8 + x, first / wt * 8 + y) = patch.at(x, y);
  return base;
}

// The expected composition: opaque pastes, or the hull mask in later passes
// for layers marked hull.
struct Model {
  Pic canvas;
  void Background(int32_t b) {
    if (b < 4) std::fill(canvas.px.begin(), canvas.px.end(), static_cast<uint8_t>(b < 0 ? 0 : b));
  }
  void Place(Pic p, uint32_t flags, int32_t px, int32_t py, bool hull = false) {
    if (flags & 8) p = Rotate(p);
    p = Flip(p, flags & 0x10, flags & 0x20);
    Pic mask{p.w, p.h, std::vector<uint8_t>(p.px.size(), 1)};
    if (hull) {
      for (uint32_t y = 0; y < p.h; ++y) {
        int32_t first = -1, last = -1;
        for (uint32_t x = 0; x < p.w; ++x)
          if (p.at(x, y)) {
            if (first < 0) first = static_cast<int32_t>(x);
            last = static_cast<int32_t>(x);
          }
        for (uint32_t x = 0; x < p.w; ++x)
          mask.at(x, y) = static_cast<int32_t>(x) >= first && static_cast<int32_t>(x) <= last && first >= 0;
      }
      for (uint32_t x = 0; x < p.w; ++x) {
        int32_t first = -1, last = -1;
        for (uint32_t y = 0; y < p.h; ++y)
          if (p.at(x, y)) {
            if (first < 0) first = static_cast<int32_t>(y);
            last = static_cast<int32_t>(y);
          }
        if (first < 0) first = last = 0;
        for (uint32_t y = 0; y < p.h; ++y)
          if (static_cast<int32_t>(y) < first || static_cast<int32_t>(y) > last) mask.at(x, y) = 0;
      }
    }
    for (uint32_t y = 0; y < p.h; ++y)
      for (uint32_t x = 0; x < p.w; ++x) {
        const int32_t cx = px + static_cast<int32_t>(x), cy = py + static_cast<int32_t>(y);
        if (cx < 0 || cy < 0 || cx >= static_cast<int32_t>(canvas.w) || cy >= static_cast<int32_t>(canvas.h)) continue;
        if (mask.at(x, y)) canvas.at(static_cast<uint32_t>(cx), static_cast<uint32_t>(cy)) = p.at(x, y);
      }
  }
  std::vector<uint8_t> Inverted() const {
    auto b = Packed(canvas);
    for (auto& v : b) v = static_cast<uint8_t>(~v);
    return b;
  }
};

// Frame `index` of the probed file, or empty on failure.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& file, int32_t index) {
  return SisTestFrame(file, index, false);
}

bool Probe(const std::vector<uint8_t>& file) {
  return SisProbeHeader(file.data(), static_cast<uint32_t>(file.size()), nullptr) == 1;
}

TEST_F(SisGrayTest, RandomLayersRoundTripExactly) {
  std::mt19937 rng(7);
  const uint32_t sizes[][2] = {{1, 1}, {3, 2}, {5, 7}, {7, 16}, {16, 1}, {1, 16}, {9, 11}, {16, 16}};
  for (const auto& s : sizes)
    for (int style = 0; style < 4; ++style) {
      const Pic p = Random(&rng, s[0] * 8, s[1] * 8, style);
      SisGrayBuilder b;
      b.width = p.w;
      b.height = p.h;
      b.frames.push_back({0, -1, {{b.Own(s[0], s[1], p.px)}}});
      const auto file = b.File();
      ASSERT_TRUE(Probe(file));
      EXPECT_EQ(Decode(file, 0), Packed(p)) << s[0] << "x" << s[1] << " style " << style;
      // One byte fewer and the planes run out: every coded byte is read.
      auto cut = file;
      const size_t length = size_t{cut[22]} << 8 | cut[23];
      cut[22] = static_cast<uint8_t>((length - 1) >> 8);
      cut[23] = static_cast<uint8_t>(length - 1);
      cut.erase(cut.begin() + static_cast<std::ptrdiff_t>(24 + length - 1));
      ASSERT_TRUE(Probe(cut));
      EXPECT_TRUE(Decode(cut, 0).empty()) << s[0] << "x" << s[1] << " style " << style;
    }
}

TEST_F(SisGrayTest, ReferenceLayersApplyTheirPatchesAlongTheChain) {
  std::mt19937 rng(11);
  const Pic root = Random(&rng, 40, 24, 0);  // 5 x 3 tiles
  const Pic one = Random(&rng, 8, 8, 2), block = Random(&rng, 16, 16, 0), row = Random(&rng, 24, 8, 1);
  for (bool cacheable : {false, true}) {
    SisGrayBuilder b;
    b.width = 40;
    b.height = 24;
    const uint32_t r = b.Own(5, 3, root.px, cacheable);
    const uint32_t a = b.Reference(r, {{5, 11, block.px}, {3, 3, one.px}}, 5, cacheable);
    const uint32_t c = b.Reference(a, {{11, 13, row.px}}, 5);  // over part of a's block
    const uint32_t bare = b.Reference(c, {}, 5);
    for (uint32_t n : {r, a, c, bare, a}) b.frames.push_back({0, -1, {{n}}});
    const auto file = b.File();
    const Pic pa = Patched(Patched(root, 5, 11, block), 3, 3, one);
    const Pic pc = Patched(pa, 11, 13, row);
    ASSERT_TRUE(Probe(file));
    EXPECT_EQ(Decode(file, 0), Packed(root)) << cacheable;
    EXPECT_EQ(Decode(file, 1), Packed(pa)) << cacheable;
    EXPECT_EQ(Decode(file, 2), Packed(pc)) << cacheable;
    EXPECT_EQ(Decode(file, 3), Packed(pc)) << cacheable;
    EXPECT_EQ(Decode(file, 4), Packed(pa)) << cacheable;
    EXPECT_EQ(Decode(file, 0), Packed(root)) << cacheable;
  }
}

TEST_F(SisGrayTest, RotatedAndFlippedPlacements) {
  std::mt19937 rng(5);
  const Pic p = Random(&rng, 24, 16, 0);  // not square, so a wrong axis shows
  const uint32_t flags[] = {8, 0x10, 0x20, 0x30, 8 | 0x10, 8 | 0x20};
  for (uint32_t f : flags) {
    SisGrayBuilder b;
    b.width = 48;
    b.height = 40;
    b.frames.push_back({0, 2, {{b.Own(3, 2, p.px), 0, f, 13, 5}, {1, 0, f, -6, 30}}});
    Model m{{48, 40, std::vector<uint8_t>(48 * 40)}};
    m.Background(2);
    m.Place(p, f, 13, 5);
    m.Place(p, f, -6, 30);  // clipped left and below
    const auto file = b.File();
    ASSERT_TRUE(Probe(file));
    EXPECT_EQ(Decode(file, 0), Packed(m.canvas)) << "flags " << f;
  }
}

// Two layers, the second a patched reference to the first, used several
// times in each of three frames; later passes draw through the hull.
SisGrayBuilder Reused(const Pic& base, const Pic& patch, const Pic& sprite, bool cacheable) {
  SisGrayBuilder b;
  b.width = 64;
  b.height = 48;
  b.passes = 2;
  const uint32_t l = b.Own(4, 4, base.px, cacheable);
  const uint32_t r = b.Reference(l, {{4, 9, patch.px}}, 4, cacheable);
  const uint32_t s = b.Own(2, 1, sprite.px, cacheable, 0);
  b.frames.push_back({0, -1, {{l, 0, 0, 0, 0}, {l, 0, 0x20, 32, 8}, {s, 1, 0, 4, 4}}});
  b.frames.push_back({0, 3, {{r, 0, 8, 8, 16}, {l, 0, 0, 40, 0}, {s, 1, 0x10, 20, 20}}});
  b.frames.push_back({0x80, 4, {{r, 0, 0x30, 16, 24}, {s, 1, 8, 50, 2}, {r, 1, 0, 0, 0}}});
  return b;
}

std::vector<std::vector<uint8_t>> ReusedExpected(const Pic& base, const Pic& patch, const Pic& sprite) {
  const Pic ref = Patched(base, 4, 9, patch);
  std::vector<std::vector<uint8_t>> frames;
  Model m{{64, 48, std::vector<uint8_t>(64 * 48)}};
  m.Background(-1);
  m.Place(base, 0, 0, 0);
  m.Place(base, 0x20, 32, 8);
  m.Place(sprite, 0, 4, 4, true);
  frames.push_back(Packed(m.canvas));
  m.Background(3);
  m.Place(ref, 8, 8, 16);
  m.Place(base, 0, 40, 0);
  m.Place(sprite, 0x10, 20, 20, true);
  frames.push_back(Packed(m.canvas));
  m.Background(4);  // builds on frame 1, then shows inverted
  m.Place(ref, 0x30, 16, 24);
  m.Place(sprite, 8, 50, 2, true);
  m.Place(ref, 0, 0, 0);  // opaque in the later pass
  frames.push_back(m.Inverted());
  return frames;
}

TEST_F(SisGrayTest, CachedLayersGiveTheSameFrames) {
  std::mt19937 rng(3);
  const Pic base = Random(&rng, 32, 32, 0), patch = Random(&rng, 16, 16, 2);
  Pic sprite = Random(&rng, 16, 8, 1);
  sprite.at(3, 2) = 1;  // a hull that does not cover the whole sprite
  sprite.at(12, 5) = 2;
  const auto want = ReusedExpected(base, patch, sprite);
  for (bool cacheable : {false, true}) {
    const auto file = Reused(base, patch, sprite, cacheable).File();
    ASSERT_TRUE(Probe(file));
    for (int round = 0; round < 2; ++round)  // the second round from the cache
      for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(Decode(file, i), want[static_cast<size_t>(i)]) << cacheable << i;
    // Every frame at once.
    std::vector<uint8_t> out(SisOutputSize(3));
    ASSERT_EQ(SisDecodeFrame(file.data(), static_cast<uint32_t>(file.size()), out.data(),
                             static_cast<uint32_t>(out.size()), -1, 0), 3);
    for (size_t i = 0; i < 3; ++i) {
      const size_t at = 16 + 12 + 20 + i * (20 + 64 / 4 * 48);
      EXPECT_TRUE(std::equal(want[i].begin(), want[i].end(), out.begin() + static_cast<std::ptrdiff_t>(at)))
          << cacheable << i;
    }
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
    b.frames.push_back({0, -1, {{b.Reference(r, {{tile, tile, tiles.back().px}}, 16, true)}}});
    want.push_back(Packed(Patched(root, tile, tile, tiles.back())));
  }
  for (uint32_t i = 0; i < 5; ++i) {
    b.frames.push_back({0, -1, {{i == 0 ? r : large}}});
    want.push_back(Packed(i == 0 ? root : Patched(root, 0, 239, big)));
  }
  const auto file = b.File();
  ASSERT_TRUE(Probe(file));
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

TEST_F(SisGrayTest, FramesOutOfOrderEqualFramesInOrder) {
  std::mt19937 rng(9);
  const Pic base = Random(&rng, 32, 32, 2), patch = Random(&rng, 16, 16, 0);
  const Pic sprite = Random(&rng, 16, 8, 0);
  const auto want = ReusedExpected(base, patch, sprite);
  for (bool cacheable : {false, true}) {
    const auto file = Reused(base, patch, sprite, cacheable).File();
    for (const auto& order : {std::vector<int32_t>{2, 0, 1, 2, 1, 0}, std::vector<int32_t>{1, 2, 2, 0, 2}}) {
      ASSERT_TRUE(Probe(file));
      for (int32_t i : order) EXPECT_EQ(Decode(file, i), want[static_cast<size_t>(i)]) << cacheable << " frame " << i;
    }
  }
}

}  // namespace
