// Shapes drawn into small frames for the player's rendering tests: shape
// records written field by field in the published bit layout, and a scene
// that parses a movie of shape tags and draws its characters into a square
// frame of its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "movie_writer.h"
#include "player/anim_raster.h"
#include "player/anim_shape.h"
#include "player_support.h"
#include "tests/support/golden.h"

namespace anim_test {


struct Solid {
  uint8_t r, g, b, a = 255;
};
struct Line {
  uint16_t width;
  Solid color;
};

// Shape records, written field by field in the published bit layout.
class Records {
 public:
  Records(uint32_t fillBits, uint32_t lineBits) : fillBits_(fillBits), lineBits_(lineBits) {}
  // Style change; -1 leaves a field out.
  Records& Change(int32_t fill0, int32_t fill1, int32_t line, bool move = false, int32_t x = 0, int32_t y = 0) {
    const uint32_t flags = (move ? 1 : 0) | (fill0 >= 0 ? 2 : 0) | (fill1 >= 0 ? 4 : 0) | (line >= 0 ? 8 : 0);
    w_.Bits(0, 1).Bits(flags, 5);
    if (move) {
      const uint32_t n = movie::SignedBits({x, y});
      w_.Bits(n, 5).SBits(x, n).SBits(y, n);
    }
    if (fill0 >= 0) w_.Bits(static_cast<uint32_t>(fill0), fillBits_);
    if (fill1 >= 0) w_.Bits(static_cast<uint32_t>(fill1), fillBits_);
    if (line >= 0) w_.Bits(static_cast<uint32_t>(line), lineBits_);
    return *this;
  }
  Records& Move(int32_t x, int32_t y) { return Change(-1, -1, -1, true, x, y); }
  Records& To(int32_t dx, int32_t dy) {
    const uint32_t n = std::max<uint32_t>(2, movie::SignedBits({dx, dy}));
    w_.Bits(1, 1).Bits(1, 1).Bits(n - 2, 4);
    if (dx && dy) w_.Bits(1, 1).SBits(dx, n).SBits(dy, n);
    else if (dx) w_.Bits(0, 1).Bits(0, 1).SBits(dx, n);
    else w_.Bits(0, 1).Bits(1, 1).SBits(dy, n);
    return *this;
  }
  Records& Curve(int32_t cdx, int32_t cdy, int32_t adx, int32_t ady) {
    const uint32_t n = std::max<uint32_t>(2, movie::SignedBits({cdx, cdy, adx, ady}));
    w_.Bits(1, 1).Bits(0, 1).Bits(n - 2, 4).SBits(cdx, n).SBits(cdy, n).SBits(adx, n).SBits(ady, n);
    return *this;
  }
  // Closed axis-aligned rectangle from the current point.
  Records& Box(int32_t w, int32_t h) { return To(w, 0).To(0, h).To(-w, 0).To(0, -h); }
  movie::Bytes End() {
    w_.Bits(0, 1).Bits(0, 5).Align();
    return w_.bytes();
  }
  movie::Writer& raw() { return w_; }

 private:
  uint32_t fillBits_, lineBits_;
  movie::Writer w_;
};

inline movie::Bytes ShapeTag(uint32_t code, uint16_t id, const std::vector<Solid>& fills, const std::vector<Line>& lines,
               uint32_t fillBits, uint32_t lineBits, const movie::Bytes& records) {
  const bool alpha = code == 32;
  movie::Writer w;
  w.U16(id).Rect(0, 2000, 0, 2000);
  w.U8(static_cast<uint32_t>(fills.size()));
  for (const Solid& f : fills) {
    w.U8(0).U8(f.r).U8(f.g).U8(f.b);
    if (alpha) w.U8(f.a);
  }
  w.U8(static_cast<uint32_t>(lines.size()));
  for (const Line& l : lines) {
    w.U16(l.width).U8(l.color.r).U8(l.color.g).U8(l.color.b);
    if (alpha) w.U8(l.color.a);
  }
  w.Bits(fillBits, 4).Bits(lineBits, 4).Raw(records);
  return movie::Tag(code, w.bytes());
}

// One parsed movie and a raster over a square frame of its own.
class Scene {
 public:
  Scene(const std::vector<movie::Bytes>& shapes, int32_t size, bool smooth) : size_(size), frame_(size * size, 0) {
    heapBefore_ = p_->heap.bytesInUse;
    movie_ = movie::Qvx(movie::Header{}, movie::Concat({movie::Concat(shapes), movie::ShowFrame(), movie::End()}));
    AnimStream_Init(&stream_, p_.get(), 0);
    AnimMovie_ReadHeader(&stream_, movie_.data(), static_cast<uint32_t>(movie_.size()));
    EXPECT_TRUE(AnimRaster_Init(&raster_, p_.get(), frame_.data(), size, size, size * 2, smooth));
    // Twentieths of a pixel to thirty-seconds.
    raster_.view.a = raster_.view.d = 1.6f;
  }
  ~Scene() {
    AnimBitmap_FreeAll(&p_->bitmaps, &p_->heap);
    AnimRaster_Free(&raster_);
    AnimStream_Free(&stream_);
    EXPECT_EQ(p_->heap.bytesInUse, heapBefore_);
  }
  const AnimShape* Shape(uint16_t id) {
    AnimChar* c = AnimDict_Find(stream_.dictionary, id);
    return c ? static_cast<const AnimShape*>(c->body) : nullptr;
  }
  uint32_t Draw(uint16_t id, const AnimMatrix* m = nullptr, const AnimCxform* cx = nullptr,
                AnimShapeCache* cache = nullptr) {
    AnimMatrix identity;
    AnimMatrix_SetIdentity(&identity);
    const AnimShape* s = Shape(id);
    EXPECT_NE(s, nullptr);
    if (!s) return 99;
    const uint32_t result = AnimShape_Draw(&raster_, s, m ? m : &identity, cx, cache);
    EXPECT_EQ(AnimHeap_Check(&p_->heap), nullptr);
    return result;
  }
  GoldenImage Image() const {
    GoldenImage g;
    g.width = g.height = size_;
    for (uint16_t v : frame_) {
      for (int shift : {10, 5, 0}) {
        const uint32_t c = (v >> shift) & 31;
        g.rgb.push_back(static_cast<uint8_t>(c << 3 | c >> 2));
      }
    }
    return g;
  }
  uint16_t At(int x, int y) const { return frame_[static_cast<size_t>(y) * size_ + x]; }
  int Count(uint16_t color) const { return static_cast<int>(std::count(frame_.begin(), frame_.end(), color)); }
  void Fill(uint16_t c) { std::fill(frame_.begin(), frame_.end(), c); }
  AnimRaster& raster() { return raster_; }
  AnimPlayer* player() { return p_.get(); }
  AnimDictNode* dictionary() { return stream_.dictionary; }
  std::vector<uint16_t>& frame() { return frame_; }

 private:
  TestPlayer p_;
  int32_t size_;
  std::vector<uint16_t> frame_;
  uint32_t heapBefore_ = 0;
  movie::Bytes movie_;
  AnimStream stream_{};
  AnimRaster raster_{};
};

inline std::string GoldenPath(const std::string& name) { return std::string(QOR_GOLDEN_DIR) + "/" + name + ".png"; }

}  // namespace anim_test
