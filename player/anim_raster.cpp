#include "player/anim_raster.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "player/anim_dct.h"
#include "player/anim_player.h"

namespace {

int32_t Bound(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

uint16_t* Row(AnimRaster* r, int32_t row) {
  return reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(r->pixels) + static_cast<intptr_t>(row) * r->rowPitch);
}

int32_t BucketLimit(const AnimRaster* r) { return r->smooth ? 2 * r->height - 2 : r->height - 1; }

// The first sample row at or below an edge's top, and its bucket.
int64_t FirstSample(const AnimRaster* r, int64_t top) {
  return top <= (r->smooth ? 63 : 31) ? 0 : (top + 31) & ~int64_t{31};
}
int32_t SampleBucket(const AnimRaster* r, int32_t top) { return static_cast<int32_t>(FirstSample(r, top) >> 5); }

// The span fillers take a span's ends as the whole frame cuts them and write
// only the pixel columns minX..maxX this render redraws: which pixels a span
// covers, and how much, never depends on how much of the frame is redrawn.

}  // namespace

// Plain mode, one colour: opaque spans write their pixels, translucent ones
// blend them; a fraction at the right end takes one more pixel.
void AnimSpan_Solid(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                    int32_t maxX) {
  uint16_t* px = Row(r, row);
  const int32_t first = x0 >> 5, last = x1 >> 5;
  const uint16_t c = static_cast<uint16_t>(s->color16);
  int32_t end = last;
  if (first != last && (x1 & 31) && last + 1 < r->width) end = last + 1;
  const int32_t from = first > minX ? first : minX, to = end < maxX ? end : maxX;
  if (s->alpha >= 255) {
    for (int32_t x = from; x <= to; ++x) px[x] = c;
    return;
  }
  if (first == last) {
    if (first < minX || first > maxX) return;
    const int32_t lp = 255 - 8 * (x0 & 31), rp = 8 * (x1 & 31);
    const int32_t cover = rp + lp - 255;
    px[first] = AnimColor_Blend(px[first], c, static_cast<uint32_t>(static_cast<int32_t>(s->alpha) * cover) >> 8);
    return;
  }
  for (int32_t x = from; x <= to; ++x) px[x] = AnimColor_Blend(px[x], c, s->alpha);
}

// Smooth mode, one colour: the colour row takes the colour and the
// coverage row half of each sub-row's coverage.
void AnimSpan_SolidAA(AnimRaster* r, const AnimPaint* s, int32_t /*row*/, int32_t x0, int32_t x1, int32_t minX,
                      int32_t maxX) {
  const int32_t first = x0 >> 5, last = x1 >> 5;
  const uint16_t c = static_cast<uint16_t>(s->color16);
  const bool opaque = s->alpha >= 255;
  const uint32_t alpha = s->alpha;
  auto part = [&](int32_t cover) -> uint32_t {
    return opaque ? static_cast<uint32_t>(cover) >> 1 : (static_cast<uint32_t>(cover) * alpha) >> 9;
  };
  auto add = [&](int32_t x, uint32_t cover) {
    if (x < minX || x > maxX) return;
    r->colourRow[x] = c;
    r->coverageRow[x] += cover;
  };
  const int32_t lp = 255 - 8 * (x0 & 31), rp = 8 * (x1 & 31);
  if (first == last) {
    add(first, part(rp + lp - 255));
  } else {
    int32_t x = first;
    if (x0 & 31) add(x++, part(lp));
    const uint32_t full = opaque ? 127 : alpha >> 1;
    for (; x <= last; ++x) add(x, full);
    if (x1 & 31) add(last + 1, part(rp));
  }
  if (r->rowMinX < 0 || x0 < r->rowMinX) r->rowMinX = x0;
  const int32_t right = (x1 & 31) ? x1 + 32 : x1;
  if (right > r->rowMaxX) r->rowMaxX = right;
}

namespace {

int32_t Trunc(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483520.0f) return INT32_MAX;
  if (v <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Ramp index of a gradient at (u, v), both already in the span's fixed point.
template <bool kRadial>
uint32_t RampIndex(int32_t u, int32_t v) {
  if (!kRadial) {
    const int32_t i = u >> 7;
    return static_cast<uint32_t>(i < 0 ? 0 : i > 255 ? 255 : i);
  }
  const int64_t x = u >> 7, y = v >> 7;
  const int64_t sum = x * x + y * y;
  return sum < 65536 ? AnimISqrt(static_cast<uint32_t>(sum)) : 255;
}

// The four gradient fillers share their walk: ramp coordinates at the span's
// first column, stepped by whole increments per column.
template <bool kRadial, bool kSmooth>
void GradientSpan(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX, int32_t maxX) {
  if (!s->ramp) return;
  const int32_t first = x0 >> 5, last = x1 >> 5;
  const float fx = static_cast<float>(first), fy = static_cast<float>(row);
  int32_t u = static_cast<int32_t>(static_cast<uint32_t>(Trunc(s->a * fx + s->b * fy)) + static_cast<uint32_t>(s->tx));
  int32_t v = static_cast<int32_t>(static_cast<uint32_t>(Trunc(s->c * fx + s->d * fy)) + static_cast<uint32_t>(s->ty));
  const int32_t du = Trunc(s->a), dv = Trunc(s->c);
  const int32_t lp = 255 - 8 * (x0 & 31), rp = 8 * (x1 & 31);
  uint16_t* px = kSmooth ? nullptr : Row(r, row);
  for (int32_t x = first; x <= last && x < r->width; ++x) {
    const uint8_t* c = s->ramp + 8 * RampIndex<kRadial>(u, v);
    u = static_cast<int32_t>(static_cast<uint32_t>(u) + static_cast<uint32_t>(du));
    v = static_cast<int32_t>(static_cast<uint32_t>(v) + static_cast<uint32_t>(dv));
    if (x < minX) continue;
    if (x > maxX) break;
    const uint16_t c16 = static_cast<uint16_t>(AnimColor_To16(c[0], c[1], c[2]));
    if (!kSmooth) {
      if (!s->translucent) {
        px[x] = c16;
      } else {
        uint8_t out[3];
        AnimColor_Blend24(px[x], c, c[3], out);
        px[x] = static_cast<uint16_t>(AnimColor_To16(out[0], out[1], out[2]));
      }
      continue;
    }
    int32_t cover = 255;
    if (first == last) cover = rp + lp - 255;
    else if (x == first && (x0 & 31)) cover = lp;
    else if (x == last && (x1 & 31)) cover = rp;
    const uint32_t add = s->translucent ? (static_cast<uint32_t>(cover) * c[3]) >> 9 : static_cast<uint32_t>(cover) >> 1;
    r->colourRow[x] = c16;
    r->coverageRow[x] += add;
  }
  if (kSmooth) {
    if (r->rowMinX < 0 || x0 < r->rowMinX) r->rowMinX = x0;
    if (x1 > r->rowMaxX) r->rowMaxX = x1;
  }
}

}  // namespace

void AnimSpan_Linear(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                     int32_t maxX) {
  GradientSpan<false, false>(r, s, row, x0, x1, minX, maxX);
}
void AnimSpan_Radial(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                     int32_t maxX) {
  GradientSpan<true, false>(r, s, row, x0, x1, minX, maxX);
}
void AnimSpan_LinearAA(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                       int32_t maxX) {
  GradientSpan<false, true>(r, s, row, x0, x1, minX, maxX);
}
void AnimSpan_RadialAA(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                       int32_t maxX) {
  GradientSpan<true, true>(r, s, row, x0, x1, minX, maxX);
}

namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// Narrows [lo, hi] to the steps k where 0 <= start + k x step < limit.
void KeepInside(int64_t start, int64_t step, int64_t limit, int64_t* lo, int64_t* hi) {
  // The steps inside form one run: when both ends lie in it, so does all between.
  if (*lo > *hi) return;
  const int64_t atLo = start + *lo * step, atHi = start + *hi * step;
  if (atLo >= 0 && atLo < limit && atHi >= 0 && atHi < limit) return;
  int64_t from, to;
  if (step == 0) {
    if (start >= 0 && start < limit) return;
    from = 1;
    to = 0;
  } else if (step > 0) {
    from = CeilDiv(-start, step);
    to = FloorDiv(limit - 1 - start, step);
  } else {
    from = CeilDiv(start - limit + 1, -step);
    to = FloorDiv(start, -step);
  }
  if (from > *lo) *lo = from;
  if (to < *hi) *hi = to;
}

// The 5-5-5 texel at column tu of a texel row (stored high byte first).
uint16_t BigEndianTexel(const uint8_t* texels, uint32_t tu) {
  uint16_t t;
  std::memcpy(&t, texels + 2 * static_cast<size_t>(tu), 2);
  return static_cast<uint16_t>(__builtin_bswap16(t));
}

// n texels of one texel row, u (texel x 128) stepped by du per column; every
// u met lies inside the row.
// Kept out of line: inlined into the span filler it loses its registers.
[[gnu::noinline]] void WalkTexelRow(uint16_t* out, const uint8_t* texels, uint32_t u, uint32_t du, int32_t n) {
  int32_t i = 0;
  for (; i + 4 <= n; i += 4, u += 4 * du) {
    out[i] = BigEndianTexel(texels, u >> 7);
    out[i + 1] = BigEndianTexel(texels, (u + du) >> 7);
    out[i + 2] = BigEndianTexel(texels, (u + 2 * du) >> 7);
    out[i + 3] = BigEndianTexel(texels, (u + 3 * du) >> 7);
  }
  for (; i < n; ++i, u += du) out[i] = BigEndianTexel(texels, u >> 7);
}

// Steps texels into frame columns from..to of a row, column x taking texel
// (origin + x step) >> 7, and copies them into the held row when one is given.
void StepTexelColumns(uint16_t* row, uint16_t* held, const uint8_t* texels, int64_t origin, int64_t step,
                      int32_t from, int32_t to) {
  const auto n = static_cast<size_t>(to - from + 1);
  WalkTexelRow(row + from, texels, static_cast<uint32_t>(origin + from * step), static_cast<uint32_t>(step),
               static_cast<int32_t>(n));
  if (held) std::memcpy(held + from, row + from, n * 2);
}

// Opaque texels of one texel row into frame columns a..b of a row, where
// column x takes texel (origin + x step) >> 7. Columns the last such span
// wrote with the same texel row and mapping are copied from the texel row
// held; the rest are stepped, and held when the pixel row below falls on the
// same texel row under the same mapping.
void CopyTexelRow(AnimRaster* r, const AnimPaint* s, uint16_t* row, const uint8_t* texels, int64_t origin,
                  int64_t step, int32_t a, int32_t b, bool keepForBelow) {
  AnimRaster::TexelRun& run = r->texelRun;
  uint16_t* held = r->texelRow;
  if (held && run.bitmap == s->bitmap && run.texels == texels && run.origin == origin && run.step == step &&
      a <= run.to + 1 && b >= run.from - 1) {
    const int32_t from = a > run.from ? a : run.from, to = b < run.to ? b : run.to;
    if (from <= to) std::memcpy(row + from, held + from, static_cast<size_t>(to - from + 1) * 2);
    if (a < run.from) {
      StepTexelColumns(row, held, texels, origin, step, a, run.from - 1);
      run.from = a;
    }
    if (b > run.to) {
      StepTexelColumns(row, held, texels, origin, step, run.to + 1, b);
      run.to = b;
    }
    return;
  }
  if (!keepForBelow) held = nullptr;
  StepTexelColumns(row, held, texels, origin, step, a, b);
  if (held) run = AnimRaster::TexelRun{s->bitmap, texels, origin, step, a, b};
}

}  // namespace

// Texels of a bitmap fill; pixels whose texel lies outside the bitmap keep
// what they had (neither kind repeats the image). The smooth mode draws each
// sub-row straight into the frame.
void AnimSpan_Bitmap(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                     int32_t maxX) {
  AnimBitmap* bitmap = s->bitmap;
  if (!bitmap) return;
  const uint8_t* pixels;
  const uint8_t* alphaPlane;
  uint32_t width, height, rowBytes;
  if (bitmap->heldAsPixels) {
    pixels = bitmap->data;
    alphaPlane = bitmap->alpha;
    width = bitmap->width;
    height = bitmap->height;
    rowBytes = bitmap->rowBytes;
  } else {
    AnimBitmapTable* table = &r->player->bitmaps;
    int32_t slot = s->slot;
    if (slot < 0 || slot >= static_cast<int32_t>(kAnimDecodedSlots) || !AnimBitmap_Holds(table->slots[slot], bitmap)) {
      slot = AnimBitmap_Decode(r->player, bitmap);
      if (slot < 0) return;
    }
    const AnimDecodedBitmap& d = table->slots[slot];
    pixels = d.pixels;
    alphaPlane = d.alpha;
    width = d.width;
    height = d.height;
    rowBytes = d.rowBytes;
  }
  if (!pixels) return;
  const int32_t first = x0 >> 5;
  const int32_t last = (x1 >> 5) < r->width ? x1 >> 5 : r->width - 1;
  const bool opaque = !alphaPlane && s->alpha >= 255;
  AnimRaster::BitmapRun& done = r->bitmapRun;
  // The row's other sub-row drew this very span already (see below).
  if (opaque && r->smooth && done.paint == s && done.row == row && done.bucket != r->bucket && done.first == first &&
      done.last == last)
    return;
  const float fx = static_cast<float>(first), fy = static_cast<float>(row);
  const int32_t tu = Trunc(s->a * fx + s->b * fy);
  const int64_t u0 = static_cast<int32_t>(static_cast<uint32_t>(tu) + static_cast<uint32_t>(s->tx));
  const int64_t v0 = static_cast<int32_t>(static_cast<uint32_t>(Trunc(s->c * fx + s->d * fy)) + static_cast<uint32_t>(s->ty));
  const int64_t du = Trunc(s->a), dv = Trunc(s->c);
  // The columns whose texel lies inside the bitmap form one run: find it
  // once instead of testing every pixel.
  int64_t lo = 0, hi = last - first;
  KeepInside(u0, du, static_cast<int64_t>(width) << 7, &lo, &hi);
  KeepInside(v0, dv, static_cast<int64_t>(height) << 7, &lo, &hi);
  if (lo < minX - first) lo = minX - first;
  if (hi > maxX - first) hi = maxX - first;
  if (first < 0 || lo > hi) return;
  uint16_t* px = Row(r, row) + first;
  int64_t u = u0 + lo * du, v = v0 + lo * dv;
  auto texelAt = [&](int64_t tu, int64_t tv) {
    return BigEndianTexel(pixels + static_cast<size_t>(tv) * rowBytes, static_cast<uint32_t>(tu));
  };
  if (opaque) {
    // Opaque texels are copied; a mapping without rotation stays on one texel
    // row, and the pixel row below from the same column may take the same
    // texels.
    bool keepForBelow = false;
    if (dv == 0 && s->d > -128.0f && s->d < 128.0f) {
      const float below = fy + 1.0f;
      const auto vBelow =
          static_cast<int32_t>(static_cast<uint32_t>(Trunc(s->c * fx + s->d * below)) + static_cast<uint32_t>(s->ty));
      keepForBelow = (vBelow >> 7) == (v0 >> 7) && Trunc(s->a * fx + s->b * below) == tu;
    }
    auto copy = [&](int64_t from, int64_t to) {
      if (from > to) return;
      if (dv == 0) {
        CopyTexelRow(r, s, Row(r, row), pixels + static_cast<size_t>(v0 >> 7) * rowBytes, u0 - first * du, du,
                     static_cast<int32_t>(first + from), static_cast<int32_t>(first + to), keepForBelow);
        return;
      }
      // Inside the run u and v stay within the bitmap: 32 bits step them.
      auto cu = static_cast<uint32_t>(u0 + from * du), cv = static_cast<uint32_t>(v0 + from * dv);
      const auto su = static_cast<uint32_t>(du), sv = static_cast<uint32_t>(dv);
      for (int64_t k = from; k <= to; ++k, cu += su, cv += sv) px[k] = texelAt(cu >> 7, cv >> 7);
    };
    if (!r->smooth) {
      copy(lo, hi);
      return;
    }
    // The smooth mode draws a pixel row's two sub-rows straight into the
    // frame. An opaque texel depends on the pixel alone, and the spans of one
    // sub-row never overlap, so the columns this fill already wrote in the
    // row's other sub-row (during the same render) hold this texel still.
    int64_t skipFrom = 1, skipTo = 0;
    if (done.paint == s && done.row == row && done.bucket != r->bucket) {
      skipFrom = done.from - first > lo ? done.from - first : lo;
      skipTo = done.to - first < hi ? done.to - first : hi;
    }
    if (skipFrom > skipTo) {
      copy(lo, hi);
    } else {
      copy(lo, skipFrom - 1);
      copy(skipTo + 1, hi);
    }
    done = AnimRaster::BitmapRun{s, row, r->bucket, first, last, first + lo, first + hi};
    return;
  }
  const size_t alphaPitch = rowBytes / 2;
  for (int64_t k = lo; k <= hi; ++k, u += du, v += dv) {
    const int64_t tu = u >> 7, tv = v >> 7;
    const uint16_t colour = texelAt(tu, tv);
    uint32_t alpha = s->alpha;
    if (alphaPlane) {
      alpha = alphaPlane[static_cast<size_t>(tv) * alphaPitch + static_cast<size_t>(tu)];
      if (s->alphaTable) alpha = s->alphaTable[alpha];
    }
    px[k] = alpha >= 255 ? colour : AnimColor_Blend(px[k], colour, alpha);
  }
}

namespace {

// A span is cut to the frame, the same whatever part of it is redrawn; the
// area being redrawn only limits which of its pixels are written. (Cut to
// that area, a span would start or end at another pixel and so cover its
// end pixels otherwise than a whole redraw does.)
void DrawSpan(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1) {
  if (x1 <= x0) return;
  const int32_t right = (r->width - 1) * 32;
  if (x1 < 0 || x0 > right) return;
  if (x0 < 0) x0 = 0;
  if (x1 > right) x1 = right;
  if (x1 < x0) return;
  const int32_t dirtyLeft = (r->dirtyXMin + 31) >> 5, dirtyRight = r->dirtyXMax >> 5;
  const int32_t minX = r->clipLeft > dirtyLeft ? r->clipLeft : dirtyLeft;
  const int32_t maxX = r->clipRight < dirtyRight ? r->clipRight : dirtyRight;
  // Every filler writes within the span's pixels and the one after.
  if ((x1 >> 5) + 1 < minX || (x0 >> 5) > maxX) return;
  r->pixelsSpanned += static_cast<uint32_t>((x1 - x0) >> 5) + 1;
  switch (s->kind) {
    case 0: (r->smooth ? AnimSpan_SolidAA : AnimSpan_Solid)(r, s, row, x0, x1, minX, maxX); break;
    case 0x10: (r->smooth ? AnimSpan_LinearAA : AnimSpan_Linear)(r, s, row, x0, x1, minX, maxX); break;
    case 0x12: (r->smooth ? AnimSpan_RadialAA : AnimSpan_Radial)(r, s, row, x0, x1, minX, maxX); break;
    case 0x40:
    case 0x41: AnimSpan_Bitmap(r, s, row, x0, x1, minX, maxX); break;
    default: break;  // 128: a fill that cannot be drawn
  }
}

// A shape filled from more coded bitmaps than are decoded is drawn in
// passes, one bitmap's spans each (the last pass draws every other fill),
// so that one decoded image at a time serves the whole shape: the pass
// draws the spans of order[pass]. Without passes one pass draws all.
struct Passes {
  const AnimBitmap* const* order;
  int32_t count, pass;
};

const AnimBitmap* CodedBitmap(const AnimPaint* s) {
  if ((s->kind != 0x40 && s->kind != 0x41) || !s->bitmap || s->bitmap->heldAsPixels) return nullptr;
  return s->bitmap;
}

// Whether the pass being drawn draws this fill's spans.
bool InPass(const Passes* passes, const AnimPaint* s) {
  if (!passes) return true;
  const AnimBitmap* b = CodedBitmap(s);
  if (passes->pass + 1 < passes->count) return b && b == passes->order[passes->pass];
  for (int32_t i = 0; b && i + 1 < passes->count; ++i)
    if (passes->order[i] == b) return false;
  return true;
}

bool Connected(const AnimEdge* e, const AnimEdge* n) {
  return (e->xBottom == n->xTop && e->yBottom == n->yTop) || (e->xTop == n->xBottom && e->yTop == n->yBottom);
}

// Walks the active list pairwise and fills between neighbours, settling which
// side of each edge is inside as it goes.
void DrawRowSpans(AnimRaster* r, AnimEdge* active, int32_t row, const Passes* passes) {
  if (!active) return;
  if (active->left && !active->right) {
    active->right = active->left;
    active->left = nullptr;
  }
  uint32_t count = 0;
  for (AnimEdge* e = active; e->nextActive; e = e->nextActive) {
    AnimEdge* n = e->nextActive;
    if (e->right != n->left && e->right != n->right && n->left == n->right) n->left = n->right = e->right;
    if (Connected(e, n)) {
      n->left = e->left;
      n->right = e->right;
      continue;
    }
    ++count;
    const AnimPaint* s;
    if (e->right == n->left) {
      s = e->right;
    } else if (e->right == n->right) {
      if ((count & 1) == 0 || e->right) {
        const AnimPaint* t = n->left;
        n->left = n->right;
        n->right = t;
        s = e->right;
      } else {
        s = n->left;
      }
    } else if (!n->right) {
      n->right = n->left;
      n->left = nullptr;
      s = e->right;
    } else if (!e->right) {
      s = n->left;
    } else {
      s = e->right;
    }
    if (s && InPass(passes, s)) DrawSpan(r, s, row, e->x >> 8, n->x >> 8);
  }
}

// Drops edges that end above this sample row, steps the rest one row on.
AnimEdge* StepActive(AnimRaster* r, AnimEdge* active, int32_t b) {
  const int32_t extra = r->smooth ? 64 : 1;
  uint32_t steps = 0;
  AnimEdge** link = &active;
  while (*link) {
    AnimEdge* e = *link;
    ++steps;
    const int32_t e2 = (e->yBottom >> 5) == r->lastBucket ? extra : 0;
    if (32 * b < e->yBottom + e2) {
      e->x = Bound(static_cast<int64_t>(e->x) + static_cast<int64_t>(e->slope) * 32);
      link = &e->nextActive;
    } else {
      *link = e->nextActive;
    }
  }
  // Edges that crossed since the last row swap places (a stable insertion
  // sort: the list is nearly in order, and equal x keeps its order).
  AnimEdge* sorted = nullptr;
  AnimEdge* last = nullptr;
  while (active) {
    AnimEdge* e = active;
    active = e->nextActive;
    e->nextActive = nullptr;
    if (!last || last->x <= e->x) {  // still in order: append
      if (last) last->nextActive = e;
      else sorted = e;
      last = e;
      continue;
    }
    AnimEdge** at = &sorted;
    while ((*at)->x <= e->x) {
      at = &(*at)->nextActive;
      ++steps;
    }
    e->nextActive = *at;
    *at = e;
  }
  r->edgeSteps += steps;
  return sorted;
}

bool GoesBefore(const AnimEdge* fresh, const AnimEdge* old) {
  if (fresh->x != old->x) return fresh->x < old->x;
  if (fresh->xTop == old->xTop && fresh->slope < old->slope) return true;
  if (fresh->xBottom == old->xBottom && fresh->slope > old->slope) return true;
  return false;
}

// Each new edge is placed against the list with earlier new ones of the
// same bucket included, so ties between them follow the slope rule too. The
// bucket is in x order, so the search for each starts at the first entry
// whose x reaches the previous one's: everything before lies strictly left.
AnimEdge* Merge(AnimRaster* r, AnimEdge* active, AnimEdge* bucket) {
  uint32_t steps = 0;
  AnimEdge** from = &active;
  for (AnimEdge* e = bucket; e; e = e->nextInBucket) {
    ++steps;
    while (*from && (*from)->x < e->x) {
      from = &(*from)->nextActive;
      ++steps;
    }
    AnimEdge** link = from;
    while (*link && !GoesBefore(e, *link)) {
      link = &(*link)->nextActive;
      ++steps;
    }
    e->nextActive = *link;
    *link = e;
  }
  r->edgeSteps += steps;
  return active;
}

// Every pixel from the row's leftmost span to its rightmost is blended,
// however few the spans filled: a draw's compositing is work of its own.
void Composite(AnimRaster* r, int32_t row) {
  if (r->rowMinX <= -1) return;
  uint16_t* px = Row(r, row);
  int32_t last = r->rowMaxX >> 5;
  if (last >= r->width) last = r->width - 1;
  const int32_t first = r->rowMinX >> 5;
  if (last >= first) r->pixelsSpanned += static_cast<uint32_t>(last - first + 1);
  for (int32_t x = first; x <= last; ++x) {
    uint32_t cover = r->coverageRow[x];
    if (cover > 255) cover = 255;
    px[x] = AnimColor_Blend(px[x], r->colourRow[x], cover);
    r->coverageRow[x] = 0;
    r->colourRow[x] = 0;
  }
}

void RenderBuckets(AnimRaster* r, const Passes* passes) {
  AnimEdge* active = nullptr;
  if (!r->smooth) {
    for (int32_t b = r->firstBucket; b <= r->lastBucket; ++b) {
      active = StepActive(r, active, b);
      active = Merge(r, active, r->buckets[b]);
      const int32_t y = 32 * b;
      if (y >= r->dirtyYMin && y <= r->dirtyYMax && b >= r->clipTop && b <= r->clipBottom)
        DrawRowSpans(r, active, b, passes);
    }
    return;
  }
  int32_t b = r->firstBucket;
  while (b <= r->lastBucket) {
    const int32_t row = b >> 1;
    const int32_t rowEnd = 2 * row + 1;
    r->rowMinX = r->rowMaxX = -1;
    bool cleared = false;
    for (; b <= rowEnd && b <= r->lastBucket; ++b) {
      active = StepActive(r, active, b);
      active = Merge(r, active, r->buckets[b]);
      const int32_t y = 16 * b;
      if (y < r->dirtyYMin || y > r->dirtyYMax) continue;
      // The rows start empty: compositing empties what the spans filled.
      cleared = true;
      r->bucket = b;
      if (row >= r->clipTop && row <= r->clipBottom) DrawRowSpans(r, active, row, passes);
    }
    if (cleared) Composite(r, row);
  }
}

// At most this many passes: the coded bitmaps met after the first seven
// are drawn together in the last pass.
constexpr int32_t kMaxPasses = 8;

bool Decoded(const AnimBitmapTable& table, const AnimBitmap* bitmap) {
  for (const AnimDecodedBitmap& d : table.slots)
    if (AnimBitmap_Holds(d, bitmap)) return true;
  for (const AnimDecodedBitmap& d : table.held)
    if (AnimBitmap_Holds(d, bitmap)) return true;
  return false;
}

// The coded bitmaps the buckets' edges fill with, in the order the walk
// meets them (at most kMaxPasses), and the number of edges.
int32_t PassBitmaps(AnimRaster* r, const AnimBitmap** order, int32_t* edges) {
  int32_t n = 0, count = 0;
  for (int32_t b = r->firstBucket; b <= r->lastBucket; ++b)
    for (const AnimEdge* e = r->buckets[b]; e; e = e->nextInBucket) {
      ++count;
      for (const AnimPaint* s : {e->left, e->right}) {
        const AnimBitmap* bitmap = s ? CodedBitmap(s) : nullptr;
        if (!bitmap || n == kMaxPasses) continue;
        int32_t i = 0;
        while (i < n && order[i] != bitmap) ++i;
        if (i == n) order[n++] = bitmap;
      }
    }
  *edges = count;
  return n;
}

// Saves (store) or restores every bucket edge's fills, and puts each edge
// back at its first sample row: each pass walks the edges from where the
// shape's walk starts, as a replay does.
void StartState(AnimRaster* r, const AnimPaint** fills, bool store) {
  for (int32_t b = r->firstBucket; b <= r->lastBucket; ++b)
    for (AnimEdge* e = r->buckets[b]; e; e = e->nextInBucket, fills += 2) {
      if (store) {
        fills[0] = e->left;
        fills[1] = e->right;
        continue;
      }
      e->x = e->xFirst;
      e->left = fills[0];
      e->right = fills[1];
      e->nextActive = nullptr;
      ++r->edgeSteps;
    }
}

// Draws the buckets in one pass, or, when their fills hold more than one
// coded bitmap not all decoded, in one pass per bitmap: drawn in one pass,
// every pixel row would take each bitmap in turn and decode it again. The
// passes draw in the order the walk meets the bitmaps (left to right at the
// first row), as the same fills drawn as shapes of their own one after the
// other; the other fills go in the last pass, after every bitmap, as the
// smooth mode composites a row after the bitmaps written into it.
void RenderByBitmap(AnimRaster* r) {
  const AnimBitmap* order[kMaxPasses];
  int32_t edges = 0;
  const int32_t n = PassBitmaps(r, order, &edges);
  bool all = true;
  for (int32_t i = 0; i < n && all; ++i) all = Decoded(r->player->bitmaps, order[i]);
  const AnimPaint** fills = nullptr;
  if (n > 1 && !all)
    fills = static_cast<const AnimPaint**>(
        AnimPlayer_AllocCopy(r->player, static_cast<int32_t>(sizeof(AnimPaint*)) * 2 * edges));
  // Without room for the fills' start the shape is drawn in one pass.
  if (!fills) {
    RenderBuckets(r, nullptr);
    return;
  }
  // The look for the bitmaps, and each pass's walk, are edge work.
  r->edgeSteps += static_cast<uint32_t>(edges);
  StartState(r, fills, true);
  Passes passes{order, n, 0};
  for (; passes.pass < n; ++passes.pass) {
    if (passes.pass > 0) StartState(r, fills, false);
    r->bitmapRun = AnimRaster::BitmapRun{};
    r->texelRun = AnimRaster::TexelRun{};
    RenderBuckets(r, &passes);
  }
  AnimPlayer_Free(r->player, fills);
}

}  // namespace

uint32_t AnimColor_To16(uint32_t r, uint32_t g, uint32_t b) {
  return ((r & 0xF8) << 7) | ((g & 0xF8) << 2) | ((b & 0xFF) >> 3);
}

uint16_t AnimColor_Blend(uint16_t destination, uint16_t source, uint32_t alpha) {
  if (alpha == 0) return destination;
  auto mix = [alpha](uint32_t d, uint32_t s) -> uint32_t {
    const int32_t dd = static_cast<int32_t>(d << 3), ss = static_cast<int32_t>(s << 3);
    return static_cast<uint32_t>(((ss - dd) * static_cast<int32_t>(alpha) + dd * 256) >> 8);
  };
  const uint32_t r = mix((destination >> 10) & 31, (source >> 10) & 31);
  const uint32_t g = mix((destination >> 5) & 31, (source >> 5) & 31);
  const uint32_t b = mix(destination & 31, source & 31);
  return static_cast<uint16_t>(AnimColor_To16(r, g, b));
}

void AnimColor_Blend24(uint16_t destination, const uint8_t* source, uint32_t alpha, uint8_t* out) {
  const uint32_t d[3] = {((destination >> 10) & 31u) << 3, ((destination >> 5) & 31u) << 3, (destination & 31u) << 3};
  for (int i = 0; i < 3; ++i) {
    if (alpha == 0) {
      out[i] = static_cast<uint8_t>(d[i]);
      continue;
    }
    const int32_t dd = static_cast<int32_t>(d[i]);
    out[i] = static_cast<uint8_t>(((static_cast<int32_t>(source[i]) - dd) * static_cast<int32_t>(alpha) + dd * 256) >> 8);
  }
}

namespace {
// Every context starts a new cache epoch, so an edge cache made over an
// earlier context (another mode, a freed pool) is never replayed.
std::atomic<uint32_t> contextEpochs{0};
}  // namespace

bool AnimRaster_Init(AnimRaster* r, AnimPlayer* player, uint16_t* pixels, int32_t width, int32_t height,
                     int32_t pitch, bool smooth) {
  AnimShapeCache* const kept = r->keptCaches;
  std::memset(r, 0, sizeof *r);
  r->keptCaches = kept;
  r->cacheEpoch = (contextEpochs.fetch_add(1) + 1) << 16;
  r->player = player;
  r->edgeCapacity = kAnimEdgeCapacity;
  r->width = width;
  r->height = height;
  r->smooth = smooth ? 1 : 0;
  r->pixels = pixels;
  r->rowPitch = pitch;
  r->bucketCount = smooth ? 2 * height : height;
  r->firstBucket = r->bucketCount;
  r->lastBucket = -1;
  AnimMatrix_SetIdentity(&r->view);
  r->clipLeft = 0;
  r->clipRight = width - 1;
  r->clipTop = 0;
  r->clipBottom = height - 1;
  r->dirtyXMin = 0;
  r->dirtyXMax = 32 * width - 1;
  r->dirtyYMin = 0;
  r->dirtyYMax = 32 * height - 1;
  r->background[3] = 255;
  r->text[3] = 255;
  // The pool, by far the largest table, first: made again for a quality
  // change it takes the old pool's place before smaller tables split it.
  r->pool = static_cast<AnimEdge*>(AnimPlayer_Alloc(player, static_cast<int32_t>(sizeof(AnimEdge)) * kAnimEdgeCapacity));
  if (AnimPlayer_Aborted(player)) return false;
  r->buckets = static_cast<AnimEdge**>(
      AnimPlayer_Alloc(player, static_cast<int32_t>(sizeof(AnimEdge*)) * r->bucketCount));
  if (AnimPlayer_Aborted(player)) return false;
  r->bucketTails = static_cast<AnimEdge**>(
      AnimPlayer_Alloc(player, static_cast<int32_t>(sizeof(AnimEdge*)) * r->bucketCount));
  if (AnimPlayer_Aborted(player)) return false;
  r->texelRow = static_cast<uint16_t*>(AnimPlayer_Alloc(player, static_cast<int32_t>(sizeof(uint16_t)) * width));
  if (AnimPlayer_Aborted(player)) return false;
  if (smooth) {
    r->colourRow = static_cast<uint16_t*>(AnimPlayer_Alloc(player, static_cast<int32_t>(sizeof(uint16_t)) * width));
    if (AnimPlayer_Aborted(player)) return false;
    r->coverageRow =
        static_cast<uint32_t*>(AnimPlayer_Alloc(player, static_cast<int32_t>(sizeof(uint32_t)) * width));
    if (AnimPlayer_Aborted(player)) return false;
  }
  r->ready = 1;
  return true;
}

void AnimRaster_Free(AnimRaster* r) {
  AnimPlayer* p = r->player;
  if (!p) return;
  if (r->buckets) AnimPlayer_Free(p, r->buckets);
  if (r->bucketTails) AnimPlayer_Free(p, r->bucketTails);
  if (r->pool) AnimPlayer_Free(p, r->pool);
  if (r->texelRow) AnimPlayer_Free(p, r->texelRow);
  if (r->colourRow) AnimPlayer_Free(p, r->colourRow);
  if (r->coverageRow) AnimPlayer_Free(p, r->coverageRow);
  if (r->backgroundImage) AnimPlayer_Free(p, r->backgroundImage);
  if (r->backgroundName) AnimPlayer_Free(p, r->backgroundName);
  AnimShapeCache* const kept = r->keptCaches;
  std::memset(r, 0, sizeof *r);
  r->keptCaches = kept;
}

void AnimRaster_AddEdge(AnimRaster* r, int32_t x0In, int32_t y0In, int32_t x1In, int32_t y1In,
                        const AnimPaint* fill0, const AnimPaint* fill1) {
  if (!r->ready) return;
  ++r->edgeSteps;
  ++r->bucketSteps;
  // The slope comes from the true end points, however far outside the frame
  // they lie, and only then is the edge cut to the frame: 64-bit throughout.
  int64_t x0 = x0In, y0 = y0In, x1 = x1In, y1 = y1In;
  if (r->smooth) {
    y0 *= 2;
    y1 *= 2;
  }
  if (y0 == y1) return;
  const AnimPaint* left;
  const AnimPaint* right;
  if (y0 < y1) {
    left = fill1;
    right = fill0;
  } else {
    left = fill0;
    right = fill1;
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const int64_t last = 32 * int64_t{r->height} - 32;
  const int64_t bottomLimit = r->smooth ? 2 * last : last;
  if ((r->smooth ? y0 / 2 : y0) > last || y1 < 0) return;
  const int64_t slope = (x1 - x0) * 256 / (y1 - y0);
  int64_t top = y0, bottom = y1, xTop = x0, xBottom = x1;
  if (top < 0) {
    xTop = (x0 * 256 - slope * top) >> 8;
    top = 0;
  }
  if (bottom > bottomLimit) {
    xBottom = (x1 * 256 + (bottomLimit - bottom) * slope) >> 8;
    bottom = bottomLimit;
  }
  if (top >= bottom) return;
  const int64_t s = FirstSample(r, top);
  if (s >= bottom) return;
  const auto bucket = static_cast<int32_t>(s >> 5);
  if (bucket > BucketLimit(r)) return;
  ++r->edgesOffered;
  if (r->nextFree >= r->edgeCapacity) {
    ++r->edgesDropped;
    return;
  }
  AnimEdge* const placedBefore = r->nextFree > 0 ? &r->pool[r->nextFree - 1] : nullptr;
  AnimEdge* e = &r->pool[r->nextFree++];
  // Top and bottom now lie inside the frame; an x far outside it only has
  // to stay outside, so the x values saturate.
  e->xTop = Bound(xTop);
  e->xBottom = Bound(xBottom);
  e->yTop = static_cast<int32_t>(top);
  e->yBottom = static_cast<int32_t>(bottom);
  e->slope = Bound(slope);
  e->x = e->xFirst = Bound(xTop * 256 + (s - top) * slope);
  e->left = left;
  e->right = right;
  e->nextActive = nullptr;
  if (bucket < r->firstBucket) r->firstBucket = bucket;
  int32_t lastBucket = static_cast<int32_t>((bottom + 31) >> 5);
  if (lastBucket > BucketLimit(r)) lastBucket = BucketLimit(r);
  if (lastBucket > r->lastBucket) r->lastBucket = lastBucket;
  // Outlines mostly come in x order: an edge at or right of the bucket's
  // last one goes after it at once. Else the search starts at the edge
  // placed before this one (the pool's entry before it: the buckets hold no
  // older one once it is placed) when that lies in the same bucket at or
  // left of it (so do all before it), else at the head; each step is the
  // draw's work.
  AnimEdge*& head = r->buckets[bucket];
  AnimEdge*& tail = r->bucketTails[bucket];
  if (!head || tail->x <= e->x) {
    e->nextInBucket = nullptr;
    if (head) tail->nextInBucket = e;
    else head = e;
    tail = e;
    return;
  }
  AnimEdge** link = &head;
  if (placedBefore && SampleBucket(r, placedBefore->yTop) == bucket && placedBefore->x <= e->x)
    link = &placedBefore->nextInBucket;
  uint32_t steps = 0;
  while ((*link)->x <= e->x) {
    link = &(*link)->nextInBucket;
    ++steps;
  }
  r->edgeSteps += steps;
  r->bucketSteps += steps;
  e->nextInBucket = *link;
  *link = e;
}

void AnimRaster_Render(AnimRaster* r, uint32_t mode, AnimEdgeCache* cache) {
  if (!r->ready) return;
  if (mode == 1) {
    if (cache) r->edgeSteps += cache->steps;
    if (!cache || !cache->savedBuckets || cache->lastBucket < cache->firstBucket) return;
    const size_t n = static_cast<size_t>(cache->lastBucket - cache->firstBucket + 1);
    std::memcpy(r->buckets + cache->firstBucket, cache->savedBuckets, n * sizeof(AnimEdge*));
    r->firstBucket = cache->firstBucket;
    r->lastBucket = cache->lastBucket;
    // Drawing steps each edge's x and settles which side is inside by
    // moving its fills: a replay starts from both as they were added.
    const AnimPaint** fills = cache->savedFills;
    for (int32_t i = cache->firstEdge; i < cache->endEdge && i < r->edgeCapacity; ++i, fills += 2) {
      AnimEdge& e = r->pool[i];
      e.x = e.xFirst;
      e.left = fills[0];
      e.right = fills[1];
      e.nextActive = nullptr;
    }
  } else if (cache) {
    cache->steps += r->bucketSteps;
  }
  if (mode != 1 && cache && r->lastBucket >= 0) {
    AnimPlayer* p = r->player;
    if (cache->savedBuckets) AnimPlayer_Free(p, cache->savedBuckets);
    if (cache->savedFills) AnimPlayer_Free(p, cache->savedFills);
    cache->savedBuckets = nullptr;
    cache->savedFills = nullptr;
    const int32_t buckets = r->lastBucket - r->firstBucket + 1;
    const int32_t edges = r->nextFree - cache->firstEdge;
    // A cache the heap cannot hold is given up, not the draw.
    cache->savedBuckets =
        static_cast<AnimEdge**>(AnimPlayer_AllocCopy(p, static_cast<int32_t>(sizeof(AnimEdge*)) * buckets));
    if (edges > 0)
      cache->savedFills =
          static_cast<const AnimPaint**>(AnimPlayer_AllocCopy(p, static_cast<int32_t>(sizeof(AnimPaint*)) * 2 * edges));
    if (!cache->savedBuckets || (edges > 0 && !cache->savedFills)) {
      cache->lost = 1;
    } else {
      std::memcpy(cache->savedBuckets, r->buckets + r->firstBucket, sizeof(AnimEdge*) * static_cast<size_t>(buckets));
      for (int32_t i = 0; i < edges; ++i) {
        cache->savedFills[2 * i] = r->pool[cache->firstEdge + i].left;
        cache->savedFills[2 * i + 1] = r->pool[cache->firstEdge + i].right;
      }
      cache->firstBucket = r->firstBucket;
      cache->lastBucket = r->lastBucket;
    }
  }
  r->bitmapRun = AnimRaster::BitmapRun{};
  r->texelRun = AnimRaster::TexelRun{};
  if (r->lastBucket >= 0) RenderByBitmap(r);
  AnimRaster_EmptyBuckets(r);
  AnimRaster_TakeWork(r);
}

void AnimRaster_TakeWork(AnimRaster* r) {
  const uint32_t units = r->pixelsSpanned / kAnimPixelsPerWork + r->edgeSteps / kAnimEdgeStepsPerWork;
  r->pixelsSpanned %= kAnimPixelsPerWork;
  r->edgeSteps %= kAnimEdgeStepsPerWork;
  if (units && r->player) AnimWork_Take(r->player, units);
}

void AnimRaster_ResetPool(AnimRaster* r) {
  r->nextFree = 0;
  ++r->cacheEpoch;
}

void AnimRaster_EmptyBuckets(AnimRaster* r) {
  for (int32_t b = r->firstBucket; b <= r->lastBucket && b < r->bucketCount; ++b) r->buckets[b] = nullptr;
  r->lastBucket = -1;
  r->firstBucket = r->bucketCount;
  r->bucketSteps = 0;
}

void AnimRaster_SetBackground(AnimRaster* r, uint8_t red, uint8_t green, uint8_t blue) {
  r->background[0] = red;
  r->background[1] = green;
  r->background[2] = blue;
  r->backgroundSet = 1;
}

void AnimRaster_ClearFrame(AnimRaster* r) {
  if (!r->pixels || r->clipRight < r->clipLeft) return;
  // A kept background picture is the frame's background whether or not a
  // colour was ever set.
  if (r->backgroundName && r->backgroundImage) {
    AnimRaster_CopyImage(r);
    return;
  }
  if (!r->backgroundSet) return;
  const uint16_t c = static_cast<uint16_t>(AnimColor_To16(r->background[0], r->background[1], r->background[2]));
  // One row filled, then copied into the others.
  uint16_t* first = Row(r, r->clipTop) + r->clipLeft;
  const size_t n = static_cast<size_t>(r->clipRight - r->clipLeft + 1);
  for (size_t x = 0; x < n; ++x) first[x] = c;
  for (int32_t y = r->clipTop + 1; y <= r->clipBottom; ++y) std::memcpy(Row(r, y) + r->clipLeft, first, n * 2);
}

void AnimRaster_CopyImage(AnimRaster* r) {
  if (!r->pixels || !r->backgroundImage || r->clipRight < r->clipLeft) return;
  const size_t n = static_cast<size_t>(r->clipRight - r->clipLeft + 1) * 2;
  for (int32_t y = r->clipTop; y <= r->clipBottom; ++y) {
    const auto* from = reinterpret_cast<const uint8_t*>(r->backgroundImage) + static_cast<intptr_t>(y) * r->rowPitch;
    std::memcpy(Row(r, y) + r->clipLeft, reinterpret_cast<const uint16_t*>(from) + r->clipLeft, n);
  }
}
