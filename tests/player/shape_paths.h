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

using movie::Line;
using movie::Records;
using movie::ShapeTag;
using movie::Solid;

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
