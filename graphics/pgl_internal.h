// What the Pgl sources share and nobody else needs.
#pragma once
#include <cstdint>

#include "graphics/pgl.h"

// Pixel data of row y: RGB565 pitches count pixels, every other format bytes.
inline uint8_t* PglRow(const PglSurface* s, uint8_t* pixels, uint32_t y) {
  const uint32_t pitchBytes = PglFormatOf(s) == kPglRgb565 ? s->pitch * 2 : s->pitch;
  return pixels + static_cast<uintptr_t>(y) * pitchBytes;
}

inline uint32_t PglPitchBytes(const PglSurface* s) {
  return PglFormatOf(s) == kPglRgb565 ? s->pitch * 2 : s->pitch;
}

// Reports an inclusive rectangle of a screen surface to the host; other
// surfaces repaint nothing.
void PglInvalidate(const PglSurface* s, int32_t left, int32_t top, int32_t right, int32_t bottom);

// The RGB565 value of a colour-cube index, and the nearest index of a value.
uint16_t PglCubeToRgb565(uint8_t index);
uint8_t PglRgb565ToCube(uint16_t colour);

// The grey values of 2-bit codes 1-3 when they reach an RGB565 surface.
constexpr uint16_t kPglGreyLight = 0xD69A, kPglGreyDark = 0xAD55;

// Copies a run of `bits` bits from bit `from` of src to bit `to` of dst, least
// significant bit first; with `orInto` the source bits are added to the
// target's rather than replacing them. Touches no byte outside the two runs
// and copies correctly when the runs overlap within one buffer.
void PglCopyBits(uint8_t* dst, uint32_t to, const uint8_t* src, uint32_t from, uint32_t bits,
                 bool orInto);

// Walks the pixels of a general line in the order and with the tie-break of
// PglDrawBresenham: the end points are ordered along the driving axis (the
// longer one; x on a tie), the decision starts at 2d - D, and a decision of
// 0 takes the straight step. Calls put(x, y) for each pixel. With `within`,
// only the steps whose driving coordinate lies inside that rectangle are
// taken, each from the state the whole walk has there: the work is bounded by
// the rectangle, not by the line, which a page's coordinates can make
// billions of pixels long.
template <class Put>
void PglWalkBresenham(int64_t x0, int64_t y0, int64_t x1, int64_t y1, Put put,
                      const PglRect* within = nullptr) {
  const int64_t adx = x1 > x0 ? x1 - x0 : x0 - x1;
  const int64_t ady = y1 > y0 ? y1 - y0 : y0 - y1;
  const bool xDrives = ady <= adx;
  if (xDrives ? x1 < x0 : y1 < y0) {
    const int64_t tx = x0, ty = y0;
    x0 = x1;
    y0 = y1;
    x1 = tx;
    y1 = ty;
  }
  const int64_t big = xDrives ? adx : ady, small = xDrives ? ady : adx;
  const int64_t step = xDrives ? (y1 < y0 ? -1 : 1) : (x1 < x0 ? -1 : 1);
  int64_t first = 0, last = big;
  if (within) {
    const int64_t from = xDrives ? x0 : y0;
    const int64_t lo = (xDrives ? within->left : within->top) - from;
    const int64_t hi = (xDrives ? within->right : within->bottom) - from;
    if (lo > first) first = lo;
    if (hi < last) last = hi;
    if (first > last) return;
  }
  // The walk's state at step `first`: the minor steps taken so far and the
  // decision they leave (products beyond 64 bits for the longest lines).
  using Wide = __int128;
  const int64_t taken =
      big ? static_cast<int64_t>((Wide{2} * small * first + big - 1) / (Wide{2} * big)) : 0;
  int64_t decision =
      static_cast<int64_t>(Wide{2} * small * (first + 1) - big - Wide{2} * big * taken);
  const int64_t straight = 2 * small, diagonal = 2 * (small - big);
  int64_t x = xDrives ? x0 + first : x0 + step * taken;
  int64_t y = xDrives ? y0 + step * taken : y0 + first;
  for (int64_t i = first; i <= last; ++i) {
    put(x, y);
    if (decision > 0) {
      decision += diagonal;
      if (xDrives) y += step;
      else x += step;
    } else {
      decision += straight;
    }
    if (xDrives) ++x;
    else ++y;
  }
}
