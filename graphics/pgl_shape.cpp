// Circles, rectangle outlines and polygons, clipped pixel by pixel to the
// caller's rectangle (the image map draws its areas' outlines with these).
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
  PglWalkBresenham(line->x0, line->y0, line->x1, line->y1,
                   [&](int64_t x, int64_t y) { SetClipped64(surface, clip, x, y, colour); });
  return kOk;
}

Result PglDrawCircle(PglSurface* surface, const PglRect* clip, const PglPoint* centre,
                     int32_t radius, uint16_t colour) {
  if (radius < 1) return kPglShapeRefused;
  const int64_t cx = centre->x, cy = centre->y;
  int64_t x = 0, y = radius;
  int64_t d = 1 - y, e = 3, se = 5 - 2 * y;
  for (;;) {
    SetClipped64(surface, clip, cx + x, cy + y, colour);
    SetClipped64(surface, clip, cx + y, cy + x, colour);
    SetClipped64(surface, clip, cx + y, cy - x, colour);
    SetClipped64(surface, clip, cx + x, cy - y, colour);
    SetClipped64(surface, clip, cx - x, cy - y, colour);
    SetClipped64(surface, clip, cx - y, cy - x, colour);
    SetClipped64(surface, clip, cx - y, cy + x, colour);
    SetClipped64(surface, clip, cx - x, cy + y, colour);
    if (y <= x) break;
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
    ++x;
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
