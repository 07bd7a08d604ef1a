// Circles, rectangle outlines and polygons, clipped pixel by pixel to the
// caller's rectangle (the image map draws its areas' outlines with these).
#include <algorithm>
#include <cmath>
#include <iterator>

#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"

namespace {

// Points beyond 32 bits lie outside every clip.
Result SetClipped64(PglSurface* s, const PglRect* clip, int64_t x, int64_t y, uint16_t colour) {
  if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return PglErr::BadRect;
  const PglPoint p{static_cast<int32_t>(x), static_cast<int32_t>(y)};
  return PglSetPixelClipped(s, clip, &p, colour);
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// The circle's y at x in its first octant (y >= x): the largest y with
// x * x + y * y - y < r * r, which the midpoint walk keeps to everywhere but
// at its last point.
int64_t CircleY(int64_t x, int64_t r) {
  const int64_t t = r * r - x * x;
  if (t <= 0) return 0;
  auto y = static_cast<int64_t>(std::sqrt(static_cast<long double>(t)));
  while (y * (y + 1) < t) ++y;
  while (y > 0 && y * (y - 1) >= t) --y;
  return y;
}

}  // namespace

Result PglSetPixelClipped(PglSurface* surface, const PglRect* clip, const PglPoint* point,
                          uint16_t colour) {
  if (point->x < clip->left || point->x > clip->right || point->y < clip->top ||
      point->y > clip->bottom)
    return PglErr::BadRect;
  return PglSetPixel(surface, point, colour);
}

Result PglDrawClippedLine(PglSurface* surface, const PglRect* clip, const PglLine* line,
                          uint16_t colour) {
  if (line->x0 == line->x1 || line->y0 == line->y1) {
    const bool vertical = line->x0 == line->x1;
    const int32_t fixed = vertical ? line->x0 : line->y0;
    const int32_t a = vertical ? line->y0 : line->x0, b = vertical ? line->y1 : line->x1;
    const int32_t lo = vertical ? clip->top : clip->left;
    const int32_t hi = vertical ? clip->bottom : clip->right;
    // A line that misses the clip along its own axis is outside too; clamping
    // both ends would otherwise draw a pixel it never passes through.
    if (fixed < (vertical ? clip->left : clip->top) ||
        fixed > (vertical ? clip->right : clip->bottom) || (a < lo && b < lo) ||
        (a > hi && b > hi))
      return kPglShapeRefused;
    const int32_t ca = Clamp(a, lo, hi), cb = Clamp(b, lo, hi);
    const PglLine cut = vertical ? PglLine{fixed, ca, fixed, cb} : PglLine{ca, fixed, cb, fixed};
    return PglDrawLine(surface, &cut, colour);
  }
  PglWalkBresenham(
      line->x0, line->y0, line->x1, line->y1,
      [&](int64_t x, int64_t y) { SetClipped64(surface, clip, x, y, colour); }, clip);
  return kOk;
}

Result PglDrawCircle(PglSurface* surface, const PglRect* clip, const PglPoint* centre,
                     int32_t radius, uint16_t colour) {
  if (radius < 1) return kPglShapeRefused;
  const int64_t cx = centre->x, cy = centre->y, r = radius;
  // The midpoint walk over x = 0, 1, ... draws eight points a step; a point
  // reaches the clip only while cx +- x or cy +- x lies in it. Only those
  // runs of x are walked, each from the state the walk has there, so a
  // radius of any size costs what the clip holds.
  struct Run {
    int64_t from, to;
  };
  Run runs[4] = {{clip->left - cx, clip->right - cx},
                 {cx - clip->right, cx - clip->left},
                 {clip->top - cy, clip->bottom - cy},
                 {cy - clip->bottom, cy - clip->top}};
  std::sort(std::begin(runs), std::end(runs), [](const Run& a, const Run& b) { return a.from < b.from; });
  int64_t next = 0;  // the first x not yet walked
  for (const Run& run : runs) {
    const int64_t from = std::max(run.from, next), to = std::min(run.to, r);
    if (from > to) continue;
    next = to + 1;
    int64_t x = 0, y = r, d = 1 - r, e = 3, se = 5 - 2 * r;
    if (from > 0) {
      // The state one step before `from`, where the walk had not ended yet,
      // then the step itself.
      x = from - 1;
      y = CircleY(x, r);
      if (y <= x) break;  // the walk ended before this run
      d = (x + 1) * (x + 1) + y * y - y - r * r;
      e = 2 * x + 3;
      se = 2 * x - 2 * y + 5;
      if (d >= 0) {
        d += se;
        se += 4;
        --y;
      } else {
        d += e;
        se += 2;
      }
      e += 2;
      ++x;
    }
    for (;; ++x) {
      SetClipped64(surface, clip, cx + x, cy + y, colour);
      SetClipped64(surface, clip, cx + y, cy + x, colour);
      SetClipped64(surface, clip, cx + y, cy - x, colour);
      SetClipped64(surface, clip, cx + x, cy - y, colour);
      SetClipped64(surface, clip, cx - x, cy - y, colour);
      SetClipped64(surface, clip, cx - y, cy - x, colour);
      SetClipped64(surface, clip, cx - y, cy + x, colour);
      SetClipped64(surface, clip, cx - x, cy + y, colour);
      if (y <= x) return kOk;
      if (x == to) break;
      if (d >= 0) {
        d += se;
        e += 2;
        se += 4;
        --y;
      } else {
        d += e;
        e += 2;
        se += 2;
      }
    }
  }
  return kOk;
}

Result PglDrawRectOutline(PglSurface* surface, const PglRect* clip, const PglRect* rect,
                          uint16_t colour) {
  const PglLine top{rect->left, rect->top, rect->right, rect->top};
  const PglLine bottom{rect->left, rect->bottom, rect->right, rect->bottom};
  const PglLine left{rect->left, rect->top, rect->left, rect->bottom};
  const PglLine right{rect->right, rect->top, rect->right, rect->bottom};
  PglDrawClippedLine(surface, clip, &top, colour);
  PglDrawClippedLine(surface, clip, &bottom, colour);
  PglDrawClippedLine(surface, clip, &left, colour);
  return PglDrawClippedLine(surface, clip, &right, colour);
}

Result PglDrawPolygon(PglSurface* surface, const PglRect* clip, const PglPoint* points,
                      uint32_t count, uint16_t colour) {
  if (count < 4) return kPglShapeRefused;
  for (uint32_t i = 0; i + 1 < count; ++i) {
    const PglLine side{points[i].x, points[i].y, points[i + 1].x, points[i + 1].y};
    PglDrawClippedLine(surface, clip, &side, colour);
  }
  const PglLine closing{points[count - 1].x, points[count - 1].y, points[0].x, points[0].y};
  PglDrawClippedLine(surface, clip, &closing, colour);
  return kOk;
}
