// PglViewportLine: a line of any direction between two surface points, cut
// to the viewport's rectangle by moving each end point outside onto it.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"

namespace {

struct Pt {
  int64_t x, y;
};

struct Box {
  int64_t left, top, right, bottom;  // inclusive
};

// Region code: 1 left of the box, 2 at or right of its right end, 4 at or
// below its bottom end, 8 above it.
uint32_t Code(const Box& b, Pt p) {
  uint32_t c = 0;
  if (p.x < b.left) c |= 1;
  if (p.x > b.right) c |= 2;
  if (p.y > b.bottom) c |= 4;
  if (p.y < b.top) c |= 8;
  return c;
}

bool OnBorder(const Box& b, Pt p) {
  return Code(b, p) == 0 && (p.x == b.left || p.x == b.right || p.y == b.top || p.y == b.bottom);
}

int64_t Abs(int64_t v) { return v < 0 ? -v : v; }

// An exact diagonal crosses the edges at whole pixels: each edge named by p's
// code is tried in turn, and the first crossing on the border is taken.
uint32_t MoveDiagonal(const Box& b, Pt* p, Pt q) {
  const int64_t slope = (q.x - p->x) / (q.y - p->y);  // +1 or -1
  const int64_t c = p->y - slope * p->x;               // y = slope * x + c
  const uint32_t code = Code(b, *p);
  for (uint32_t bit = 1; bit <= 8; bit <<= 1) {
    if (!(code & bit)) continue;
    Pt at;
    if (bit == 1 || bit == 2) {
      at.x = bit == 1 ? b.left : b.right;
      at.y = slope * at.x + c;
    } else {
      at.y = bit == 4 ? b.bottom : b.top;
      at.x = slope * (at.y - c);
    }
    if (OnBorder(b, at)) {
      *p = at;
      break;
    }
  }
  return Code(b, *p);
}

// Any other line: a search over fractions n / d of the segment from p to q
// (n odd, d a power of two) for a point on the border.
uint32_t MoveBySearch(const Box& b, Pt* p, Pt q) {
  constexpr int64_t kDeepest = 16384;
  // Each round is at most 14 halvings; the bound only guards against a
  // search that cannot move p at all.
  constexpr int kMaxRounds = 64;
  const uint32_t qCode = Code(b, q);
  Pt delta{q.x - p->x, q.y - p->y};
  Pt prev = *p;
  int64_t n = 1, d = 2;
  int smallOutside = 0, rounds = 0;
  for (;;) {
    const Pt at{p->x + delta.x * n / d, p->y + delta.y * n / d};
    const uint32_t code = Code(b, at);
    if (code == 0 && OnBorder(b, at)) {
      *p = at;
      break;
    }
    const int64_t mx = Abs(at.x - prev.x), my = Abs(at.y - prev.y);
    if (mx == 0 && my == 0) {
      *p = at;
      break;
    }
    if (mx <= 1 && my <= 1) {
      if (code == 0 || ++smallOutside == 2) {
        *p = at;
        break;
      }
    }
    const bool towardP = code == 0 || (code & qCode);
    prev = at;
    if (d >= kDeepest) {
      if (towardP) {
        const int64_t num = (n - 1) / 2, den = d / 2;
        *p = {p->x + delta.x * num / den, p->y + delta.y * num / den};
      } else {
        *p = at;
      }
      delta = {q.x - p->x, q.y - p->y};
      n = 1;
      d = 2;
      if (++rounds > kMaxRounds) break;
      continue;
    }
    n = towardP ? 2 * n - 1 : 2 * n + 1;
    d *= 2;
  }
  return Code(b, *p);
}

uint32_t MoveOnto(const Box& b, Pt* p, Pt q) {
  if (Code(b, *p) == 0) return 0;
  const int64_t dx = q.x - p->x, dy = q.y - p->y;
  if (dy != 0 && Abs(dx) == Abs(dy)) return MoveDiagonal(b, p, q);
  return MoveBySearch(b, p, q);
}

}  // namespace

Result PglViewportLine(const PglViewport* viewport, const PglDrawArgs* args, uint16_t colour) {
  if (!viewport->width || !viewport->height) return kOk;
  const Box box{viewport->x, viewport->y, int64_t{viewport->x} + viewport->width - 1,
                int64_t{viewport->y} + viewport->height - 1};
  Pt a{args->left, args->top}, b{args->right, args->bottom};
  if (Code(box, a) & Code(box, b)) return kOk;
  if (MoveOnto(box, &a, b)) return kOk;
  if (MoveOnto(box, &b, a)) return kOk;
  if (a.y > b.y) {
    const Pt t = a;
    a = b;
    b = t;
  }
  // Both ends now lie inside the box, which lies on 32-bit coordinates.
  const PglLine line{static_cast<int32_t>(a.x), static_cast<int32_t>(a.y),
                     static_cast<int32_t>(b.x), static_cast<int32_t>(b.y)};
  return PglDrawLine(viewport->surface, &line, colour);
}
