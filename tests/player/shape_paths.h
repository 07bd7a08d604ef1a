// Shape records for the player's tests and benchmarks, written field by
// field in the published bit layout, and paths that can be written both as
// shape records and as the same path for cairo, the independent rasterizer
// the player's fills are compared and timed against.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

#include "tests/player/movie_writer.h"

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

// One outline in absolute twips: moves, lines and quadratic curves.
struct PathOp {
  enum Kind { kMove, kLine, kCurve } kind;
  int32_t x, y;    // the point reached
  int32_t cx, cy;  // a curve's control point
};
using Path = std::vector<PathOp>;

// A closed polygon through the points, and a round blob of four curves of
// radius r; reversed outlines run the other way (holes).
void AddPolygon(Path& path, const std::vector<std::pair<int32_t, int32_t>>& points);
void AddBlob(Path& path, int32_t x, int32_t y, int32_t r, bool reversed = false);
void AddBox(Path& path, int32_t x, int32_t y, int32_t w, int32_t h, bool reversed = false);

// The path's records with fill style 1 on the right of every edge (fill
// index bits 1, no line bits).
movie::Bytes PathRecords(const Path& path);
// The same path for cairo, in twips (the caller scales).
void PathToCairo(cairo_t* cr, const Path& path);

// Glyphs in a 1000-unit square above the baseline: an L, a T and a round
// blob; as a font holds them, each is its index-bits byte and its records.
std::vector<Path> GlyphPaths();
movie::Bytes GlyphBytes(const Path& glyph);

}  // namespace anim_test
