// The placing family against a per-pixel model of its mapping, on random
// objects, placements, flips, scales, angles and clips at every depth.
#include <gtest/gtest.h>

#include <random>

#include "graphics/blit.h"

namespace {

uint32_t Get(const std::vector<uint8_t>& b, uint32_t rowBytes, uint32_t d, uint32_t x, uint32_t y) {
  const uint32_t bit = x * d;
  return b[y * rowBytes + bit / 8] >> (8 - d - bit % 8) & ((1u << d) - 1);
}

void Put(std::vector<uint8_t>* b, uint32_t rowBytes, uint32_t d, uint32_t x, uint32_t y, uint32_t v) {
  const uint32_t bit = x * d, shift = 8 - d - bit % 8;
  uint8_t& p = (*b)[y * rowBytes + bit / 8];
  p = static_cast<uint8_t>((p & ~(((1u << d) - 1) << shift)) | v << shift);
}

// The mapping written plainly, pixel by pixel.
void Model(const std::vector<uint8_t>& src, std::vector<uint8_t>* dst, uint32_t dw, uint32_t dh,
           const BlitBitmap& d, const SafObject& o, BlitClip c, uint32_t depth, bool keyed) {
  const int64_t sx = BlitScaleStepX(&d), sy = BlitScaleStepY(&d);
  const int64_t s = kBlitSine[d.angle], co = kBlitCosine[d.angle];
  for (int32_t y = std::max(c.top, 0); y <= std::min(c.bottom, static_cast<int32_t>(dh) - 1); ++y)
    for (int32_t x = std::max(c.left, 0); x <= std::min(c.right, static_cast<int32_t>(dw) - 1); ++x) {
      const int64_t dx = x - d.x, dy = y - d.y;
      int64_t u, v;
      const bool scaled = d.xScaleMode || d.yScaleMode;
      if (d.angle) {
        u = scaled ? (sx * (co * dx + s * dy + 8192)) >> 22 : (co * dx + s * dy + 8192) >> 14;
        v = scaled ? (sy * (co * dy - s * dx + 8192)) >> 22 : (co * dy - s * dx + 8192) >> 14;
      } else {
        u = scaled ? (dx * sx) >> 8 : dx;
        v = scaled ? (dy * sy) >> 8 : dy;
      }
      if (u < 0 || v < 0 || u >= o.width || v >= o.height) continue;
      const uint32_t uu = d.hflip ? o.width - 1 - static_cast<uint32_t>(u) : static_cast<uint32_t>(u);
      const uint32_t vv = d.vflip ? o.height - 1 - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
      const uint32_t p = Get(src, o.width * depth / 8, depth, uu, vv);
      if (keyed && p == o.key) continue;
      Put(dst, dw * depth / 8, depth, static_cast<uint32_t>(x), static_cast<uint32_t>(y), p);
    }
}

TEST(BlitFamilyTest, EveryMemberMatchesTheMapping) {
  std::mt19937 rng(105);
  constexpr uint32_t kW = 64, kH = 48;
  for (int round = 0; round < 4000; ++round) {
    const uint32_t depth = (uint32_t[]){1, 2, 4, 8}[rng() % 4];
    const int family = rng() % 3;  // packed, keyed 4-bit, 8-bit
    const uint32_t d8 = family == 2 ? 8 : family == 1 ? 4 : depth;
    SafObject o{};
    o.width = 8 * (1 + rng() % 4);
    o.height = 1 + rng() % 20;
    o.key = rng() % (1u << d8);
    std::vector<uint8_t> src(o.width * o.height * d8 / 8);
    for (auto& b : src) b = static_cast<uint8_t>(rng() % 3 ? rng() : 0);
    BlitBitmap d{};
    d.x = static_cast<int32_t>(rng() % 80) - 16;
    d.y = static_cast<int32_t>(rng() % 60) - 12;
    d.hflip = rng() % 2;
    d.vflip = rng() % 2;
    d.keyMode = family == 2 && rng() % 2 ? 2 : 0;
    const bool plain = d8 == 8 ? false : family == 0 && rng() % 2;
    if (!plain && (family != 0 || d8 != 8)) {
      if (rng() % 2) d.angle = static_cast<uint8_t>(rng());
      if (rng() % 2) {
        d.xScaleMode = static_cast<uint8_t>(rng() % 3);
        d.yScaleMode = static_cast<uint8_t>(rng() % 3);
        d.xFactor = static_cast<uint8_t>(rng());
        d.yFactor = static_cast<uint8_t>(rng());
      }
    }
    BlitClip c{static_cast<int32_t>(rng() % kW) - 4, static_cast<int32_t>(rng() % kH) - 4, 0, 0};
    c.right = c.left + static_cast<int32_t>(rng() % kW);
    c.bottom = c.top + static_cast<int32_t>(rng() % kH);
    if (!d.angle && !d.xScaleMode && !d.yScaleMode) {
      // Unrotated members read without a test: the clip lies on the object.
      c.left = std::max(c.left, d.x);
      c.top = std::max(c.top, d.y);
      c.right = std::min<int32_t>(c.right, d.x + static_cast<int32_t>(o.width) - 1);
      c.bottom = std::min<int32_t>(c.bottom, d.y + static_cast<int32_t>(o.height) - 1);
    }
    std::vector<uint8_t> dst(kW * kH * d8 / 8 + 8), want;
    for (auto& b : dst) b = static_cast<uint8_t>(rng());
    want = dst;
    if (family == 0)
      ASSERT_EQ(BlitDispatchPacked(src.data(), dst.data(), kW, kH, &d, &o, &c, d8), 0);
    else if (family == 1)
      BlitDispatchA(src.data(), dst.data(), kW, kH, &d, &o, &c);
    else
      BlitDispatch8Bit(src.data(), dst.data(), kW, kH, &d, &o, &c);
    Model(src, &want, kW, kH, d, o, c, d8, family == 1 || d.keyMode == 2);
    ASSERT_EQ(dst, want) << "round " << round << " family " << family << " depth " << d8;
  }
}

}  // namespace
