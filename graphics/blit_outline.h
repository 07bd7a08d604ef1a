// The outline mask of an outline-masked placement at depths 1 and 2: the
// mask keeps the frame outside the object's outline and replaces what lies
// inside, so that a hollow object still covers what is beneath it. The
// object is first blitted alone into a cleared pixel plane; the mask plane
// gets edge marks where the canvas or the placement's clip cuts the object,
// then the row and column passes fill it between the edges.
#pragma once
#include <cstdint>

#include "graphics/blit.h"
#include "graphics/saf.h"

struct BlitBox {
  int32_t left, top, right, bottom;  // inclusive
};

// Both planes are width x height pixels at `depth` (1 or 2) bits, packed
// from the most significant bit, rows without padding.
struct BlitHullPlanes {
  const uint8_t* pixels;
  uint8_t* mask;
  uint32_t width, height, depth;
};

// Maps frame point (x, y) back into the placed object: -1 outside it, 1
// when the object has set pixels at or on both sides of it in its row and
// in its column, else 0.
int BlitInsideHull(const BlitBitmap* d, const SafObject* o, uint32_t depth, int32_t x, int32_t y);

// `unclipped` is the placement's whole extent, `clipped` the part drawn
// (within the canvas and the descriptor's clip rectangle).
void BlitMarkHullEdges(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o,
                       const BlitBox& unclipped, const BlitBox& clipped);
// Run after the edges are marked and the object blitted into the pixel plane.
void BlitFillHullMask(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o,
                      const BlitBox& unclipped, const BlitBox& clipped);
