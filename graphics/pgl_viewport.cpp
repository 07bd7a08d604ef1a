// Viewports: a client draws in its own coordinates, clipped to its rectangle
// of the surface, and the surface primitives do the pixels.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"
#include "host/platform/shell.h"

namespace {

int64_t Min(int64_t a, int64_t b) { return a < b ? a : b; }
int64_t Max(int64_t a, int64_t b) { return a > b ? a : b; }

bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// The target rectangle of a fill, invert, frame or segment cut to the
// viewport and moved onto the surface. kOk with *draw false: nothing to draw.
Result ClampTarget(const PglViewport* vp, const PglDrawArgs* a, PglRect* out, bool* draw) {
  *draw = false;
  if (a->right < a->left || a->bottom < a->top) return PglErr::BadRect;
  if (a->left >= int64_t{vp->width} || a->top >= int64_t{vp->height} || a->right < 0 ||
      a->bottom < 0)
    return kOk;
  const int64_t l = vp->x + Max(a->left, 0), t = vp->y + Max(a->top, 0);
  const int64_t r = vp->x + Min(a->right, int64_t{vp->width} - 1);
  const int64_t b = vp->y + Min(a->bottom, int64_t{vp->height} - 1);
  if (!FitsInt32(l) || !FitsInt32(t) || !FitsInt32(r) || !FitsInt32(b)) return kOk;
  *out = {static_cast<int32_t>(l), static_cast<int32_t>(t), static_cast<int32_t>(r),
          static_cast<int32_t>(b)};
  *draw = true;
  return kOk;
}

// An axis-parallel line: `fixed` across, [a, b] along an axis of `extent`.
Result AxisLine(const PglViewport* vp, bool vertical, int32_t fixed, int32_t a, int32_t b,
                uint16_t colour) {
  const int64_t across = vertical ? vp->width : vp->height;
  const int64_t extent = vertical ? vp->height : vp->width;
  if (fixed < 0 || fixed >= across) return kOk;
  int64_t lo = Min(a, b), hi = Max(a, b);
  if (hi < 0 || lo >= extent) return kOk;
  lo = Max(lo, 0);
  hi = Min(hi, extent - 1);
  const int64_t f = (vertical ? vp->x : vp->y) + int64_t{fixed};
  const int64_t base = vertical ? vp->y : vp->x;
  if (!FitsInt32(f) || !FitsInt32(base + lo) || !FitsInt32(base + hi)) return kOk;
  const auto fi = static_cast<int32_t>(f), l = static_cast<int32_t>(base + lo),
             h = static_cast<int32_t>(base + hi);
  const PglLine line = vertical ? PglLine{fi, l, fi, h} : PglLine{l, fi, h, fi};
  return PglDrawLine(vp->surface, &line, colour);
}

}  // namespace

Result PglOpenViewport(PglViewport* viewport, const PglDrawArgs* args) {
  const PglSurface* s = args->surface;
  if (args->srcLeft < 0 || args->srcTop < 0 || args->srcLeft > args->srcRight ||
      args->srcTop > args->srcBottom || static_cast<uint32_t>(args->srcRight) >= s->width ||
      static_cast<uint32_t>(args->srcBottom) >= s->height)
    return PglErr::BadRect;
  *viewport = {args->surface,
               args->srcLeft,
               args->srcTop,
               static_cast<uint32_t>(args->srcRight - args->srcLeft + 1),
               static_cast<uint32_t>(args->srcBottom - args->srcTop + 1),
               args->flags};
  if (args->flags & PglVpFlag::Clear) return PglClearViewport(viewport, 0);
  return kOk;
}

Result PglClearViewport(const PglViewport* viewport, uint16_t colour) {
  const PglDrawArgs whole{nullptr, 0, 0, 0, 0, 0, 0, static_cast<int32_t>(viewport->width) - 1,
                          static_cast<int32_t>(viewport->height) - 1, 0};
  return PglViewportFillRect(viewport, &whole, colour);
}

Result PglInvertViewport(const PglViewport* viewport) {
  const PglDrawArgs whole{nullptr, 0, 0, 0, 0, 0, 0, static_cast<int32_t>(viewport->width) - 1,
                          static_cast<int32_t>(viewport->height) - 1, 0};
  return PglViewportInvertRect(viewport, &whole);
}

Result PglViewportFillRect(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour) {
  PglRect r;
  bool draw;
  if (Result res = ClampTarget(viewport, args, &r, &draw); !draw) return res;
  return PglFillRect(viewport->surface, &r, 0, colour);
}

Result PglViewportInvertRect(const PglViewport* viewport, const PglDrawArgs* args) {
  PglRect r;
  bool draw;
  if (Result res = ClampTarget(viewport, args, &r, &draw); !draw) return res;
  return PglFillRect(viewport->surface, &r, 1, 0);
}

Result PglViewportFrameRect(const PglViewport* viewport, const PglDrawArgs* args,
                            uint16_t colour) {
  PglRect r;
  bool draw;
  if (Result res = ClampTarget(viewport, args, &r, &draw); !draw) return res;
  return PglDrawFrame(viewport->surface, &r, colour);
}

Result PglViewportDrawSegment(const PglViewport* viewport, const PglDrawArgs* args,
                              uint16_t colour) {
  PglRect r;
  bool draw;
  if (Result res = ClampTarget(viewport, args, &r, &draw); !draw) return res;
  const PglLine line{r.left, r.top, r.right, r.bottom};
  return PglDrawLine(viewport->surface, &line, colour);
}

Result PglViewportVLine(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour) {
  return AxisLine(viewport, true, args->left, args->top, args->bottom, colour);
}

Result PglViewportHLine(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour) {
  return AxisLine(viewport, false, args->top, args->left, args->right, colour);
}

Result PglViewportSetPixel(const PglViewport* viewport, const PglPoint* point, uint16_t colour) {
  if (point->x < 0 || point->y < 0 || static_cast<uint32_t>(point->x) >= viewport->width ||
      static_cast<uint32_t>(point->y) >= viewport->height)
    return kOk;
  const int64_t x = int64_t{viewport->x} + point->x, y = int64_t{viewport->y} + point->y;
  if (!FitsInt32(x) || !FitsInt32(y)) return kOk;
  const PglPoint p{static_cast<int32_t>(x), static_cast<int32_t>(y)};
  return PglSetPixel(viewport->surface, &p, colour);
}

Result PglViewportBlit(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour1,
                       uint16_t colour2) {
  const PglSurface* source = args->surface;
  int64_t left = args->srcLeft, top = args->srcTop, right = args->srcRight,
          bottom = args->srcBottom;
  int64_t x = args->left, y = args->top;
  // The source rectangle is cut to the source surface first, the target
  // position following a moved left or top edge.
  if (left < 0) {
    x -= left;
    left = 0;
  }
  if (top < 0) {
    y -= top;
    top = 0;
  }
  right = Min(right, int64_t{source->width} - 1);
  bottom = Min(bottom, int64_t{source->height} - 1);
  if (left > right || top > bottom) return kOk;

  // Then to the viewport, per axis, and to the surface's top-left corner.
  auto clip = [](int64_t* pos, int64_t* lo, int64_t* hi, int64_t origin, int64_t extent) {
    if (*pos >= 0) {
      if (*pos >= extent) return false;
    } else {
      if (*pos + (*hi - *lo) < 0) return false;
      *lo -= *pos;
      *pos = 0;
    }
    if (*pos + (*hi - *lo) >= extent) *hi = *lo + (extent - *pos) - 1;
    *pos += origin;
    if (*pos < 0) {
      *lo -= *pos;
      *pos = 0;
      if (*lo > *hi) return false;
    }
    return *pos <= UINT32_MAX;
  };
  if (!clip(&x, &left, &right, viewport->x, viewport->width) ||
      !clip(&y, &top, &bottom, viewport->y, viewport->height))
    return kOk;
  const PglBlitJob job{source,
                       viewport->surface,
                       static_cast<uint32_t>(left),
                       static_cast<uint32_t>(top),
                       static_cast<uint32_t>(right),
                       static_cast<uint32_t>(bottom),
                       static_cast<uint32_t>(x),
                       static_cast<uint32_t>(y),
                       args->flags & PglVpFlag::BlitMode};
  return PglBlit(&job, colour1, colour2);
}

Result PglFitToScreenWidth(uint32_t width, uint32_t height, uint32_t* outWidth,
                           uint32_t* outHeight) {
  const int32_t screen = ShellGetScreen().width;
  *outWidth = width;
  *outHeight = height;
  if (screen <= 0 || width <= static_cast<uint32_t>(screen)) return kOk;
  *outWidth = static_cast<uint32_t>(screen);
  const uint64_t h = uint64_t{height} * static_cast<uint32_t>(screen) / width;
  *outHeight = h < 1 ? 1 : static_cast<uint32_t>(h);
  return kOk;
}

Result PglShrinkRowToScreen(PglRowConverter* conv, PglSurface* row) {
  uint8_t* pixels = PglPixels(row);
  if (!pixels) return kOk;
  const int32_t screen = ShellGetScreen().width;
  const uint32_t w = conv->width;
  if (screen > 0 && w > static_cast<uint32_t>(screen)) {
    const auto s = static_cast<uint32_t>(screen);
    auto* p = reinterpret_cast<uint16_t*>(pixels);
    // Never walks past the row actually given.
    const uint32_t n = w < row->width ? w : row->width;
    int64_t a = w;
    uint32_t out = 0;
    for (uint32_t i = 0; i < n; ++i) {
      a -= s;
      if (a < 1) {
        p[out++] = p[i];
        a += w;
      }
    }
  }
  ++conv->rowsIn;
  ++conv->rowsOut;
  return kOk;
}
