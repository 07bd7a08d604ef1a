// Outline masks of masked placements at depths 1 and 2, pixel by pixel:
// cut sides filled from their edge marks, and the five-pixel bridging of
// row spans.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/blit.h"
#include "graphics/blit_outline.h"

namespace {

struct Scene {
  uint32_t w, h, depth;
  std::vector<uint8_t> pixels, mask, object;
  SafObject o{};
  BlitBitmap d{};

  Scene(uint32_t width, uint32_t height, uint32_t dep, uint32_t ow, uint32_t oh)
      : w(width), h(height), depth(dep), pixels(w * h * dep / 8), mask(w * h * dep / 8),
        object(ow * oh * dep / 8) {
    o.width = ow;
    o.height = oh;
  }
  static void Put(std::vector<uint8_t>* b, uint32_t rowPixels, uint32_t d, uint32_t x, uint32_t y, bool on) {
    const uint32_t bit = (y * rowPixels + x) * d, m = ((1u << d) - 1) << (8 - d - bit % 8);
    uint8_t& p = (*b)[bit / 8];
    p = static_cast<uint8_t>(on ? p | m : p & ~m);
  }
  void ObjectPixel(uint32_t u, uint32_t v, bool on = true) { Put(&object, o.width, depth, u, v, on); }
  void Shape(bool ring) {
    for (uint32_t v = 0; v < o.height; ++v)
      for (uint32_t u = 0; u < o.width; ++u)
        ObjectPixel(u, v, !ring || u == 0 || v == 0 || u == o.width - 1 || v == o.height - 1);
  }
  void PlanePixels(int32_t x0, int32_t x1, int32_t y) {
    for (int32_t x = x0; x <= x1; ++x) Put(&pixels, w, depth, x, y, true);
  }
  BlitHullPlanes Planes() { return {pixels.data(), mask.data(), w, h, depth}; }

  // The whole pipeline as the frame renderer runs it, with the object
  // blitted for real.
  void Place(int32_t x, int32_t y) {
    d.x = x;
    d.y = y;
    o.pixels = object.data();
    const BlitBox u{x, y, x + static_cast<int32_t>(o.width) - 1, y + static_cast<int32_t>(o.height) - 1};
    BlitBox b{std::max(u.left, 0), std::max(u.top, 0), std::min(u.right, static_cast<int32_t>(w) - 1),
              std::min(u.bottom, static_cast<int32_t>(h) - 1)};
    if (d.extra) {
      b = {std::max(b.left, d.clipLeft), std::max(b.top, d.clipTop), std::min(b.right, d.clipRight),
           std::min(b.bottom, d.clipBottom)};
    }
    BlitMarkHullEdges(Planes(), &d, &o, u, b);
    const BlitClip clip{b.left, b.top, b.right, b.bottom};
    ASSERT_EQ(BlitDispatchPacked(object.data(), pixels.data(), w, h, &d, &o, &clip, depth), 0);
    BlitFillHullMask(Planes(), &d, &o, u, b);
  }
  // Runs only the fill over a hand-made pixel plane; the object answers
  // the inside tests.
  void FillOnly(int32_t x, int32_t y, BlitBox box) {
    d.x = x;
    d.y = y;
    o.pixels = object.data();
    BlitFillHullMask(Planes(), &d, &o, box, box);
  }

  // Rows of the mask, '#' for a masked pixel.
  std::vector<std::string> Mask() const {
    std::vector<std::string> rows;
    for (uint32_t y = 0; y < h; ++y) {
      std::string r;
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t bit = (y * w + x) * depth, m = (1u << depth) - 1;
        const uint32_t v = mask[bit / 8] >> (8 - depth - bit % 8) & m;
        EXPECT_TRUE(v == 0 || v == m) << "half-set pixel at " << x << "," << y;
        r += v ? '#' : '.';
      }
      rows.push_back(r);
    }
    return rows;
  }
};

// The expected mask: the rectangle filled, plus per-row exceptions.
std::vector<std::string> Rect(uint32_t w, uint32_t h, int32_t l, int32_t t, int32_t r, int32_t b) {
  std::vector<std::string> rows(h, std::string(w, '.'));
  for (int32_t y = t; y <= b; ++y)
    for (int32_t x = l; x <= r; ++x) rows[y][x] = '#';
  return rows;
}

class BlitOutlineTest : public ::testing::TestWithParam<uint32_t> {};

// A ring placed whole, cut by each canvas edge and by its clip rectangle.
TEST_P(BlitOutlineTest, RingFillsWhatShowsOfItsBox) {
  struct Case {
    int32_t x, y;
    BlitBox shown, clip;
  } cases[] = {
      {8, 4, {8, 4, 23, 11}, {}},
      {-4, 2, {0, 2, 11, 9}, {}},    // left
      {20, 2, {20, 2, 31, 9}, {}},   // right
      {4, -3, {4, 0, 19, 4}, {}},    // top
      {4, 11, {4, 11, 19, 15}, {}},  // bottom
      {-5, -6, {0, 0, 10, 1}, {}},   // two sides
      {0, 0, {4, 0, 11, 7}, {4, 0, 11, 15}},
  };
  for (const Case& c : cases) {
    Scene s(32, 16, GetParam(), 16, 8);
    s.Shape(true);
    if (c.clip.right) {
      s.d.extra = 1;
      s.d.clipLeft = c.clip.left;
      s.d.clipTop = c.clip.top;
      s.d.clipRight = c.clip.right;
      s.d.clipBottom = c.clip.bottom;
    }
    s.Place(c.x, c.y);
    EXPECT_EQ(s.Mask(), Rect(32, 16, c.shown.left, c.shown.top, c.shown.right, c.shown.bottom))
        << "placed at " << c.x << "," << c.y;
  }
}

// The middle row's span is narrowed by `gap` at its start or its end.
TEST_P(BlitOutlineTest, RowSpansBridgeOnlyPastFivePixels) {
  for (bool atEnd : {false, true})
    for (int32_t gap : {4, 5, 6}) {
      Scene s(32, 8, GetParam(), 16, 3);
      s.Shape(false);
      s.PlanePixels(2, 17, 2);
      s.PlanePixels(atEnd ? 2 : 2 + gap, atEnd ? 17 - gap : 17, 3);
      s.PlanePixels(2, 17, 4);
      s.FillOnly(2, 2, {2, 2, 17, 4});
      auto want = Rect(32, 8, 2, 2, 17, 4);
      for (int32_t i = 0; gap <= 5 && i < gap; ++i) want[3][atEnd ? 17 - i : 2 + i] = '.';
      EXPECT_EQ(s.Mask(), want) << "gap " << gap << (atEnd ? " at the end" : " at the start");
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, BlitOutlineTest, ::testing::Values(1u, 2u));

}  // namespace
