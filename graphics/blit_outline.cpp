// Outline masks of placements at depths 1 and 2. A row pass spans each row
// from its first to its last set pixel (or from a marked edge), a column
// pass then cuts each column above its first and below its last set pixel.
// Where a span jumps inward by more than five pixels from its neighbour and
// the object is solid near the jump, the neighbour's end is kept, so that
// ragged or clipped outlines do not leave notches in the mask.
#include "graphics/blit_outline.h"

namespace {

constexpr int32_t kBridge = 5;  // a span may narrow this much unchecked
constexpr int32_t kProbe = 3;   // the inside test's distance from a new end

struct Sides {
  bool left, right, top, bottom;  // the object is cut on that side
  int32_t leftX, rightX, topY, bottomY;  // where its edge marks go
};

Sides SidesOf(const BlitHullPlanes& p, const BlitBitmap* d, const BlitBox& u) {
  const int32_t w = static_cast<int32_t>(p.width), h = static_cast<int32_t>(p.height);
  const bool clip = d->extra != 0;
  Sides s;
  s.left = u.left < 0 || clip;
  s.top = u.top < 0 || clip;
  s.right = u.right > w - 1 || (clip && d->clipRight <= w - 1);
  s.bottom = u.bottom > h - 1 || (clip && d->clipBottom <= h - 1);
  s.leftX = clip ? d->clipLeft : 0;
  s.rightX = clip ? d->clipRight : w - 1;
  s.topY = clip ? d->clipTop : 0;
  s.bottomY = clip ? d->clipBottom : h - 1;
  return s;
}

template <uint32_t D>
class Planes {
 public:
  Planes(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o) : p_(p), d_(d), o_(o) {}

  bool Pixel(int32_t x, int32_t y) const { return Get(p_.pixels, x, y) != 0; }
  bool Marked(int32_t x, int32_t y) const { return Get(p_.mask, x, y) != 0; }
  // The whole mask byte holding the pixel.
  bool MarkedByte(int32_t x, int32_t y) const { return p_.mask[Bit(x, y) >> 3] != 0; }
  void Set(int32_t x, int32_t y, bool on) const {
    const uint32_t bit = Bit(x, y), m = kOnes << (8 - D - (bit & 7));
    uint8_t& b = p_.mask[bit >> 3];
    b = static_cast<uint8_t>(on ? b | m : b & ~m);
  }
  bool Inside(int32_t x, int32_t y) const { return BlitInsideHull(d_, o_, D, x, y) == 1; }

  // Sets the span's mask bits; the bytes it touches are written whole, so
  // their other pixels become clear.
  void WriteSpan(int32_t y, int32_t start, int32_t end) const {
    const uint32_t first = Bit(start, y) >> 3, last = Bit(end, y) >> 3;
    const uint32_t rowBit = static_cast<uint32_t>(y) * p_.width * D;
    for (uint32_t k = first; k <= last; ++k) {
      uint32_t v = 0;
      for (uint32_t i = 0; i < 8 / D; ++i) {
        const int32_t x = static_cast<int32_t>((k * 8 + i * D - rowBit) / D);
        if (x >= start && x <= end) v |= kOnes << (8 - D - i * D);
      }
      p_.mask[k] = static_cast<uint8_t>(v);
    }
  }

 private:
  static constexpr uint32_t kOnes = (1u << D) - 1;
  uint32_t Bit(int32_t x, int32_t y) const {
    return (static_cast<uint32_t>(y) * p_.width + static_cast<uint32_t>(x)) * D;
  }
  uint32_t Get(const uint8_t* plane, int32_t x, int32_t y) const {
    const uint32_t bit = Bit(x, y);
    return plane[bit >> 3] >> (8 - D - (bit & 7)) & kOnes;
  }

  const BlitHullPlanes& p_;
  const BlitBitmap* d_;
  const SafObject* o_;
};

// First and last marked points of a row or column of the box (marks only).
struct Extent {
  bool any = false;
  int32_t first = 0, last = 0;
  void Add(int32_t i) {
    if (!any) first = i;
    last = i;
    any = true;
  }
};

// One span of the row or column pass after bridging; `prev` carries the
// previous row's or column's span and takes this one.
struct Bridge {
  Extent prev;
  template <typename InsideAt>
  void Apply(int32_t* start, int32_t* end, InsideAt inside) {
    if (prev.any && *start - prev.first > kBridge && (inside(*start - kProbe) || inside(prev.first + kBridge)))
      *start = prev.first;
    if (prev.any && prev.last - *end > kBridge && (inside(*end + kProbe) || inside(prev.last - kBridge)))
      *end = prev.last;
    prev.any = true;
    prev.first = *start;
    prev.last = *end;
  }
};

template <uint32_t D>
void Mark(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o, const BlitBox& u, const BlitBox& b) {
  const Planes<D> pl(p, d, o);
  const Sides s = SidesOf(p, d, u);
  const int32_t w = static_cast<int32_t>(p.width), h = static_cast<int32_t>(p.height);
  auto column = [&](int32_t x) {
    if (x < 0 || x >= w) return;
    for (int32_t y = b.top; y <= b.bottom; ++y)
      if (pl.Inside(x, y)) pl.Set(x, y, true);
  };
  auto row = [&](int32_t y) {
    if (y < 0 || y >= h) return;
    for (int32_t x = b.left; x <= b.right; ++x)
      if (pl.Inside(x, y)) pl.Set(x, y, true);
  };
  if (s.left) column(s.leftX);
  if (s.right) column(s.rightX);
  if (s.top) row(s.topY);
  if (s.bottom) row(s.bottomY);
}

template <uint32_t D>
void Fill(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o, const BlitBox& u, const BlitBox& b) {
  const Planes<D> pl(p, d, o);
  const Sides s = SidesOf(p, d, u);
  // What the edges marked, before the passes write over the mask.
  Extent topMarks, bottomMarks, leftMarks, rightMarks;
  for (int32_t x = b.left; x <= b.right; ++x) {
    if (pl.Marked(x, b.top)) topMarks.Add(x);
    if (pl.Marked(x, b.bottom)) bottomMarks.Add(x);
  }
  for (int32_t y = b.top; y <= b.bottom; ++y) {
    if (pl.Marked(b.left, y)) leftMarks.Add(y);
    if (pl.Marked(b.right, y)) rightMarks.Add(y);
  }
  // A cut side's marked row or column is left to its marks. The bottom and
  // right count only where their marks lie on the box's own edge.
  const bool topCut = s.top, leftCut = s.left;
  const bool bottomCut = s.bottom && s.bottomY == b.bottom && bottomMarks.any;
  const bool rightCut = s.right && s.rightX == b.right && rightMarks.any;

  // Row pass.
  Bridge rows;
  int32_t y0 = b.top, y1 = b.bottom;
  if (topCut) {
    y0 = b.top + 1;
    rows.prev = topMarks;
  }
  if (bottomCut) {
    y1 = b.bottom - 1;
  } else {
    for (; y1 >= b.top; --y1) {
      bool any = false;
      for (int32_t x = b.left; x <= b.right && !any; ++x) any = pl.Pixel(x, y1);
      if (any) break;
    }
    if (y1 < b.top) return;  // the object left nothing in the box
  }
  for (int32_t y = y0; y <= y1; ++y) {
    Extent occupied;
    for (int32_t x = b.left; x <= b.right; ++x)
      if (pl.Pixel(x, y)) occupied.Add(x);
    int32_t start = -1, end = -1;
    if (pl.MarkedByte(b.left, y))
      start = b.left;
    else if (occupied.any)
      start = occupied.first;
    if (pl.MarkedByte(b.right, y))
      end = b.right;
    else if (occupied.any)
      end = occupied.last;
    if (start < 0 || end < 0 || start > end) {
      rows.prev.any = false;  // a gap across the object ends the bridging
      continue;
    }
    rows.Apply(&start, &end, [&](int32_t x) { return pl.Inside(x, y); });
    pl.WriteSpan(y, start, end);
  }

  // Column pass.
  Bridge columns;
  int32_t x0 = b.left, x1 = b.right;
  if (leftCut) {
    x0 = b.left + 1;
    columns.prev = leftMarks;
  }
  if (rightCut) {
    x1 = b.right - 1;
  } else {
    for (; x1 >= b.left; --x1) {
      bool any = false;
      for (int32_t y = b.top; y <= b.bottom && !any; ++y) any = pl.Pixel(x1, y);
      if (any) break;
    }
  }
  for (int32_t x = x0; x <= x1; ++x) {
    Extent occupied;
    for (int32_t y = b.top; y <= b.bottom; ++y)
      if (pl.Pixel(x, y)) occupied.Add(y);
    if (!occupied.any) {
      for (int32_t y = b.top; y <= b.bottom; ++y) pl.Set(x, y, false);
      columns.prev.any = false;
      continue;
    }
    int32_t start = topCut && pl.Marked(x, b.top) ? b.top : occupied.first;
    int32_t end = bottomCut && pl.Marked(x, b.bottom) ? b.bottom : occupied.last;
    columns.Apply(&start, &end, [&](int32_t y) { return pl.Inside(x, y); });
    for (int32_t y = b.top; y < start; ++y) pl.Set(x, y, false);
    for (int32_t y = end + 1; y <= b.bottom; ++y) pl.Set(x, y, false);
  }
}

bool Usable(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o, const BlitBox& b) {
  if (!p.pixels || !p.mask || !d || !o || !o->pixels || (p.depth != 1 && p.depth != 2)) return false;
  return b.left >= 0 && b.top >= 0 && b.left <= b.right && b.top <= b.bottom &&
         b.right < static_cast<int32_t>(p.width) && b.bottom < static_cast<int32_t>(p.height);
}

}  // namespace

int BlitInsideHull(const BlitBitmap* d, const SafObject* o, uint32_t depth, int32_t x, int32_t y) {
  const int64_t dx = int64_t{x} - d->x, dy = int64_t{y} - d->y;
  int64_t u = dx, v = dy;
  if (d->angle) {
    const int64_t s = kBlitSine[d->angle], c = kBlitCosine[d->angle];
    u = (c * dx + s * dy + 8192) >> 14;
    v = (c * dy - s * dx + 8192) >> 14;
  }
  if (d->xScaleMode || d->yScaleMode) {
    u = (u * BlitScaleStepX(d)) >> 8;
    v = (v * BlitScaleStepY(d)) >> 8;
  }
  const int64_t w = o->width, h = o->height;
  if (u < 0 || v < 0 || u >= w || v >= h) return -1;
  if (d->hflip) u = w - 1 - u;
  if (d->vflip) v = h - 1 - v;
  const uint32_t row = o->width * depth / 8, mask = (1u << depth) - 1;
  auto at = [&](int64_t px, int64_t py) {
    const uint32_t bit = static_cast<uint32_t>(px) * depth;
    return (o->pixels[static_cast<uint32_t>(py) * row + (bit >> 3)] >> (8 - depth - (bit & 7)) & mask) != 0;
  };
  bool right = false, left = false, below = false, above = false;
  for (int64_t i = u; i < w && !right; ++i) right = at(i, v);
  for (int64_t i = u; i >= 0 && !left; --i) left = at(i, v);
  for (int64_t i = v; i < h && !below; ++i) below = at(u, i);
  for (int64_t i = v; i >= 0 && !above; --i) above = at(u, i);
  return right && left && below && above ? 1 : 0;
}

void BlitMarkHullEdges(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o,
                       const BlitBox& unclipped, const BlitBox& clipped) {
  if (!Usable(p, d, o, clipped)) return;
  if (p.depth == 1)
    Mark<1>(p, d, o, unclipped, clipped);
  else
    Mark<2>(p, d, o, unclipped, clipped);
}

void BlitFillHullMask(const BlitHullPlanes& p, const BlitBitmap* d, const SafObject* o,
                      const BlitBox& unclipped, const BlitBox& clipped) {
  if (!Usable(p, d, o, clipped)) return;
  if (p.depth == 1)
    Fill<1>(p, d, o, unclipped, clipped);
  else
    Fill<2>(p, d, o, unclipped, clipped);
}
