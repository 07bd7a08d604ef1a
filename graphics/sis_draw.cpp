// The vector primitives of animation frames. The geometry is fixed so that
// one record always gives the same pixels: Bresenham lines, thick lines as
// parallel lines walked along the perpendicular, midpoint ellipses with
// stroked outlines, even-odd polygons.
#include <cmath>

#include "graphics/sis_draw.h"

namespace {

struct Frame {
  uint8_t* f;
  int32_t w, h;
  void Set(int32_t x, int32_t y, uint32_t c) const {
    if (x >= 0 && y >= 0 && x < w && y < h) f[y * w + x] = static_cast<uint8_t>(c);
  }
};

int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

void SisDrawLine(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                 uint32_t colour) {
  const Frame fr{f, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  const int32_t adx = Abs(x1 - x0), ady = Abs(y1 - y0);
  const bool steep = ady > adx;
  const int32_t major = steep ? ady : adx, minor = steep ? adx : ady;
  // Start from the end with the smaller major coordinate.
  if ((steep ? y0 > y1 : x0 > x1)) {
    int32_t t = x0;
    x0 = x1;
    x1 = t;
    t = y0;
    y0 = y1;
    y1 = t;
  }
  const int32_t step = steep ? (x1 >= x0 ? 1 : -1) : (y1 >= y0 ? 1 : -1);
  int32_t err = 2 * minor - major, x = x0, y = y0;
  fr.Set(x, y, colour);
  for (int32_t i = 0; i < major; ++i) {
    if (err >= 0) {
      if (steep)
        x += step;
      else
        y += step;
      err += 2 * (minor - major);
    } else {
      err += 2 * minor;
    }
    if (steep)
      ++y;
    else
      ++x;
    fr.Set(x, y, colour);
  }
}

namespace {

void Disc(uint8_t* f, uint32_t w, uint32_t h, int32_t x, int32_t y, int32_t r, uint32_t colour) {
  SisDrawEllipse(f, w, h, x, y, r, r, 0, 0, 1, colour, colour, 0);
}

}  // namespace

int SisDrawThickLine(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                     int32_t thickness, uint32_t colour, uint32_t caps, uint32_t) {
  if (thickness < 1) return 1;
  if (x0 == x1 && y0 == y1) return 0;
  const bool discs = caps == 1 && thickness != 2;
  const int32_t dx = x1 - x0, dy = y1 - y0;
  const int64_t limit = thickness & 1 ? int64_t{thickness} * thickness
                                      : int64_t{thickness - 1} * (thickness - 1);
  SisDrawLine(f, w, h, x0, y0, x1, y1, colour);
  if (thickness == 1) return 0;
  const int32_t r = (thickness - 1) / 2;
  if (discs) {
    Disc(f, w, h, x0, y0, r, colour);
    Disc(f, w, h, x1, y1, r, colour);
  }
  // Gap lines: the first line's shift by the direction of the line.
  int32_t gx, gy;
  if (x0 <= x1)
    gx = y0 <= y1 ? 0 : 1, gy = y0 <= y1 ? 1 : 0;
  else
    gx = y0 <= y1 ? -1 : 0, gy = y0 <= y1 ? 0 : -1;
  // Bresenham along the perpendicular (dy, -dx).
  const int32_t px = dy, py = -dx;
  const int32_t apx = Abs(px), apy = Abs(py), sxp = px >= 0 ? 1 : -1, syp = py >= 0 ? 1 : -1;
  const bool steep = apy > apx;
  const int32_t major = steep ? apy : apx, minor = steep ? apx : apy;
  int32_t err = 2 * minor - major, ox = 0, oy = 0;
  bool first = true, diagonal = false;
  for (;;) {
    bool diag = false;
    if (err >= 0) {
      if (steep)
        ox += sxp;
      else
        oy += syp;
      err += 2 * (minor - major);
      diag = true;
    } else {
      err += 2 * minor;
    }
    if (steep)
      oy += syp;
    else
      ox += sxp;
    diagonal = diag;
    if (4 * (int64_t{ox} * ox + int64_t{oy} * oy) > limit) break;
    SisDrawLine(f, w, h, x0 + ox, y0 + oy, x1 + ox, y1 + oy, colour);
    SisDrawLine(f, w, h, x0 - ox, y0 - oy, x1 - ox, y1 - oy, colour);
    if (diag) {
      SisDrawLine(f, w, h, x0 + ox + gx, y0 + oy + gy, x1 + ox + gx, y1 + oy + gy, colour);
      SisDrawLine(f, w, h, x0 - ox - gx, y0 - oy - gy, x1 - ox - gx, y1 - oy - gy, colour);
    }
    if (first && discs && !(thickness & 1)) {
      Disc(f, w, h, x0 + ox, y0 + oy, r, colour);
      Disc(f, w, h, x1 + ox, y1 + oy, r, colour);
    }
    first = false;
  }
  if (!(thickness & 1)) {
    SisDrawLine(f, w, h, x0 + ox, y0 + oy, x1 + ox, y1 + oy, colour);
    if (diagonal) SisDrawLine(f, w, h, x0 + ox + gx, y0 + oy + gy, x1 + ox + gx, y1 + oy + gy, colour);
  }
  return 0;
}

namespace {

struct Ellipse {
  Frame fr;
  int32_t cx, cy;
  uint32_t start, end;
  bool arc;
};

int32_t AngleOf(int32_t x, int32_t y) {
  return static_cast<int32_t>(std::atan2(static_cast<double>(y), static_cast<double>(x)) * 40.7437 + 0.5);
}

}  // namespace

// The four symmetric strokes of one ellipse step; direction 0 vertical, 1
// horizontal.
void SisPlotEllipseStrokes(uint8_t* f, uint32_t w, uint32_t h, int32_t cx, int32_t cy, int32_t x, int32_t y,
                           uint32_t start, uint32_t end, int32_t length, uint32_t colour, uint32_t direction) {
  const Frame fr{f, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  const int32_t cap = direction == 0 ? 2 * y : 2 * x;
  if (length > cap) length = cap;
  const bool whole = start == 0 && end == 0;
  const int32_t a = whole ? 0 : AngleOf(x, y);
  struct P {
    int32_t px, py, angle, sx, sy;
  };
  // Strokes run toward the centre.
  const P points[4] = {{cx + x, cy + y, a, -1, -1},
                       {cx - x, cy + y, 128 - a, 1, -1},
                       {cx - x, cy - y, 128 + a, 1, 1},
                       {cx + x, cy - y, 256 - a, -1, 1}};
  for (const P& p : points) {
    if (!whole && (p.angle < static_cast<int32_t>(start) || p.angle > static_cast<int32_t>(end))) continue;
    for (int32_t i = 0; i < length; ++i) {
      if (direction == 0)
        fr.Set(p.px, p.py + p.sy * i, colour);
      else
        fr.Set(p.px + p.sx * i, p.py, colour);
    }
  }
}

namespace {

// The midpoint walk over one quadrant of an ellipse with squared radii a2 and
// b2 from (0, b): region 1 while the slope is below 1, then region 2 down to
// the axis; `step` sees every point after the first.
template <class Step>
void WalkEllipse(int64_t a2, int64_t b2, int64_t b, Step step) {
  int64_t x = 0, y = b, px = 0, py = 2 * a2 * b, d = ((a2 + 2) >> 2) - a2 * b + b2;
  while (px < py) {
    ++x;
    px += 2 * b2;
    if (d >= 0) {
      --y;
      py -= 2 * a2;
      d += px - py + b2;
    } else {
      d += px + b2;
    }
    step(1, x, y);
  }
  d = (x + 1) * x * b2 + (y - 1) * (y - 1) * a2 - a2 * b2 + ((b2 + 2) >> 2);
  while (y > 0) {
    --y;
    py -= 2 * a2;
    if (d <= 0) {
      ++x;
      px += 2 * b2;
      d += px - py + a2;
    } else {
      d += a2 - py;
    }
    step(2, x, y);
  }
}

}  // namespace

int SisDrawEllipse(uint8_t* f, uint32_t w, uint32_t h, int32_t cx, int32_t cy, int32_t rx, int32_t ry,
                   uint32_t start, uint32_t end, int32_t thickness, uint32_t outline, uint32_t fill,
                   uint32_t noFill) {
  if (rx == 0 || ry == 0 || thickness == 0 || (start == end && start != 0)) return 0;
  const Frame fr{f, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  const bool arc = start != 0 || end != 0;
  const int64_t a = Abs(rx), b = Abs(ry), a2 = a * a, b2 = b * b;
  const int32_t ai = static_cast<int32_t>(a), bi = static_cast<int32_t>(b);
  const double r1 = std::pow(static_cast<double>(b) / static_cast<double>(a), 4);
  const double r2 = std::pow(static_cast<double>(a) / static_cast<double>(b), 4);
  auto stroke1 = [&](int32_t x, int32_t y) -> int32_t {
    if (thickness == 1) return 1;
    if (y == 0) return 0;
    return static_cast<int32_t>(std::sqrt(r1 * x * x / (static_cast<double>(y) * y) + 1) * thickness + 0.5);
  };
  auto stroke2 = [&](int32_t x, int32_t y) -> int32_t {
    if (thickness == 1) return 1;
    if (x == 0) return 0;
    return static_cast<int32_t>(std::sqrt(r2 * y * y / (static_cast<double>(x) * x) + 1) * thickness + 0.5);
  };
  if (!noFill && !arc) {
    SisPlotEllipseStrokes(f, w, h, cx, cy, 0, bi, 0, 0, thickness, fill, 0);
    for (int32_t y = cy - bi; y <= cy + bi; ++y) fr.Set(cx, y, fill);
    // Region 1 fills columns, region 2 rows.
    WalkEllipse(a2, b2, b, [&](int region, int64_t x, int64_t y) {
      if (region == 1) {
        for (int64_t yy = cy - y; yy <= cy + y; ++yy) {
          fr.Set(static_cast<int32_t>(cx + x), static_cast<int32_t>(yy), fill);
          fr.Set(static_cast<int32_t>(cx - x), static_cast<int32_t>(yy), fill);
        }
      } else {
        for (int64_t xx = cx - x; xx <= cx + x; ++xx) {
          fr.Set(static_cast<int32_t>(xx), static_cast<int32_t>(cy + y), fill);
          fr.Set(static_cast<int32_t>(xx), static_cast<int32_t>(cy - y), fill);
        }
      }
    });
  }
  SisPlotEllipseStrokes(f, w, h, cx, cy, 0, bi, start, end, thickness, outline, 0);
  WalkEllipse(a2, b2, b, [&](int region, int64_t x, int64_t y) {
    const int32_t xi = static_cast<int32_t>(x), yi = static_cast<int32_t>(y);
    const int32_t stroke = region == 1 ? stroke1(xi, yi) : stroke2(xi, yi);
    SisPlotEllipseStrokes(f, w, h, cx, cy, xi, yi, start, end, stroke, outline, region - 1);
  });
  (void)ai;
  return 0;
}

int SisDrawPolygon(uint8_t* f, uint32_t w, uint32_t h, uint32_t n, const uint8_t* xs, const uint8_t* ys,
                   int32_t thickness, uint32_t colour, uint32_t fill, uint32_t noFill) {
  if (n == 0) return 0;
  const Frame fr{f, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  if (!noFill) {
    int32_t minX = 255, minY = 255, maxX = 0, maxY = 0;
    for (uint32_t i = 0; i < n; ++i) {
      minX = xs[i] < minX ? xs[i] : minX;
      maxX = xs[i] > maxX ? xs[i] : maxX;
      minY = ys[i] < minY ? ys[i] : minY;
      maxY = ys[i] > maxY ? ys[i] : maxY;
    }
    if (maxX > fr.w - 1) maxX = fr.w - 1;
    if (maxY > fr.h - 1) maxY = fr.h - 1;
    for (int32_t y = minY; y <= maxY; ++y)
      for (int32_t x = minX; x <= maxX; ++x) {
        bool inside = false;
        for (uint32_t i = 0; i < n; ++i) {
          const uint32_t j = i == 0 ? n - 1 : i - 1;
          const int64_t xi = xs[i], yi = ys[i], xj = xs[j], yj = ys[j];
          const int64_t lo = yi < yj ? yi : yj, hi = yi < yj ? yj : yi;
          if (lo <= y && y < hi && (x - xi) * (yj - yi) * (yj - yi) < (xj - xi) * (y - yi) * (yj - yi))
            inside = !inside;
        }
        if (inside) fr.Set(x, y, fill);
      }
  }
  for (uint32_t i = 1; i < n; ++i)
    SisDrawThickLine(f, w, h, xs[i - 1], ys[i - 1], xs[i], ys[i], thickness, colour, 1, 0);
  SisDrawThickLine(f, w, h, xs[n - 1], ys[n - 1], xs[0], ys[0], thickness, colour, 1, 0);
  return 0;
}

int SisDrawPolyline(uint8_t* f, uint32_t w, uint32_t h, uint32_t n, const uint8_t* xs, const uint8_t* ys,
                    int32_t thickness, uint32_t colour) {
  for (uint32_t i = 1; i < n; ++i)
    SisDrawThickLine(f, w, h, xs[i - 1], ys[i - 1], xs[i], ys[i], thickness, colour, 1, 0);
  return 0;
}

int SisDrawRect(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                int32_t thickness, uint32_t colour, uint32_t fill, uint32_t noFill) {
  const Frame fr{f, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  const int32_t l = x0 < x1 ? x0 : x1, r = x0 < x1 ? x1 : x0, t = y0 < y1 ? y0 : y1, b = y0 < y1 ? y1 : y0;
  if (!noFill)
    for (int32_t y = t < 0 ? 0 : t; y <= b && y < fr.h; ++y)
      for (int32_t x = l < 0 ? 0 : l; x <= r && x < fr.w; ++x) fr.Set(x, y, fill);
  SisDrawThickLine(f, w, h, l, t, l, b, thickness, colour, 1, 0);
  SisDrawThickLine(f, w, h, l, b, r, b, thickness, colour, 1, 0);
  SisDrawThickLine(f, w, h, r, b, r, t, thickness, colour, 1, 0);
  SisDrawThickLine(f, w, h, r, t, l, t, thickness, colour, 1, 0);
  return 0;
}

int SisFillHalfPlane(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                     uint32_t colour) {
  const int64_t dx = x1 - x0, dy = y1 - y0;
  for (int32_t y = 0; y < static_cast<int32_t>(h); ++y)
    for (int32_t x = 0; x < static_cast<int32_t>(w); ++x)
      if (dx * (y - y0) - dy * (x - x0) < 0) f[y * static_cast<int32_t>(w) + x] = static_cast<uint8_t>(colour);
  return 0;
}

int SisMaskOutsideRect(uint8_t* f, uint32_t w, uint32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                       uint32_t colour) {
  const int32_t W = static_cast<int32_t>(w), H = static_cast<int32_t>(h);
  auto lim = [](int32_t v, int32_t hi) { return v < 0 ? 0 : v > hi ? hi : v; };
  int32_t l = x0 < x1 ? x0 : x1, r = x0 < x1 ? x1 : x0, t = y0 < y1 ? y0 : y1, b = y0 < y1 ? y1 : y0;
  l = lim(l, W - 1);
  r = lim(r, W - 1);
  t = lim(t, H - 1);
  b = lim(b, H - 1);
  if (l == r || t == b) return 0;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      if (y < t || y > b || x < l || x > r) f[y * W + x] = static_cast<uint8_t>(colour);
  return 0;
}

int SisMaskOutsideEllipse(uint8_t* f, uint32_t w, uint32_t h, int32_t cx, int32_t cy, int32_t rx,
                          int32_t ry, uint32_t colour) {
  if (rx == 0 || ry == 0) return 0;
  const Frame fr{f, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  const int64_t a = Abs(rx), b = Abs(ry);
  SisMaskOutsideRect(f, w, h, static_cast<int32_t>(cx - a), static_cast<int32_t>(cy - b),
                     static_cast<int32_t>(cx + a), static_cast<int32_t>(cy + b), colour);
  for (int64_t y = -b; y <= 0; ++y)
    for (int64_t x = -a; x * x * b * b + y * y * a * a >= a * a * b * b; ++x) {
      const int32_t xi = static_cast<int32_t>(x), yi = static_cast<int32_t>(y);
      fr.Set(cx + xi, cy + yi, colour);
      fr.Set(cx - xi, cy + yi, colour);
      fr.Set(cx + xi, cy - yi, colour);
      fr.Set(cx - xi, cy - yi, colour);
      if (x > 0) break;
    }
  return 0;
}

namespace {

constexpr uint8_t kLevel3[8] = {0, 32, 64, 96, 128, 160, 192, 255};
constexpr uint8_t kLevel2[4] = {0, 64, 128, 255};

uint8_t Blend(uint8_t s, uint8_t d, uint32_t alpha) {
  auto mix = [&](uint32_t ds, uint32_t ss, uint32_t lift) {
    const uint32_t v = ((ds * (256 - alpha) + ss * alpha) >> 8) + lift;
    return v > 255 ? 255u : v;
  };
  const uint32_t r = mix(kLevel3[d >> 5], kLevel3[s >> 5], 16);
  const uint32_t g = mix(kLevel3[d >> 2 & 7], kLevel3[s >> 2 & 7], 16);
  const uint32_t b = mix(kLevel2[d & 3], kLevel2[s & 3], 32);
  return static_cast<uint8_t>((r & 0xE0) | (g >> 5) << 2 | b >> 6);
}

}  // namespace

int SisBlendImages(const uint8_t* src, uint8_t* dst, const BlitBitmap* d, const SafObject* o,
                   uint32_t count) {
  const uint32_t alpha = static_cast<uint32_t>(d->opacity & 0xFF) + 1;
  if (d->keyMode != 2) {
    for (uint32_t i = 0; i < count; ++i) dst[i] = Blend(src[i], dst[i], alpha);
    return 0;
  }
  // Groups of four, the last one cut to the count.
  for (uint32_t i = 0; i < count; i += 4) {
    const uint32_t n = count - i < 4 ? count - i : 4;
    bool all = true;
    for (uint32_t k = 0; k < n; ++k) all = all && src[i + k] == o->key;
    if (all) continue;
    for (uint32_t k = 0; k < n; ++k)
      if (src[i + k] != o->key) dst[i + k] = Blend(src[i + k], dst[i + k], alpha);
  }
  return 0;
}
