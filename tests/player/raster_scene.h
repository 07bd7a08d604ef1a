// A scene for the player's rendering tests: it parses a movie of shape
// tags and draws its characters into a square frame of its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "movie_writer.h"
#include "player/anim_raster.h"
#include "player/anim_shape.h"
#include "player_support.h"
#include "shape_paths.h"
#include "tests/support/golden.h"

namespace anim_test {

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
    AnimBitmap_FreeAll(p_.get());
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
