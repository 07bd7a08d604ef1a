#include "player/anim_shape.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "player/anim_dct.h"
#include "player/anim_player.h"

void AnimBits_Reset(AnimBits* b, const uint8_t* data, uint32_t size) {
  b->data = data;
  b->size = data ? size : 0;
  b->pos = 0;
  b->bitsLeft = 0;
  b->bitBuffer = 0;
  b->overrun = 0;
}

uint32_t AnimBits_ReadU(AnimBits* b, uint32_t n) {
  // Most significant bit first, as many bits of the current byte at a time
  // as the field still needs.
  uint32_t v = 0;
  while (n > 0) {
    if (b->bitsLeft == 0) {
      if (b->pos >= b->size) {
        b->overrun = 1;
        return 0;
      }
      b->bitBuffer = b->data[b->pos++];
      b->bitsLeft = 8;
    }
    const uint32_t take = n < b->bitsLeft ? n : b->bitsLeft;
    b->bitsLeft -= take;
    v = (v << take) | ((b->bitBuffer >> b->bitsLeft) & ((1u << take) - 1));
    n -= take;
  }
  return v;
}

uint32_t AnimBits_ReadFlag(AnimBits* b) { return AnimBits_ReadU(b, 1); }

int32_t AnimBits_ReadS(AnimBits* b, uint32_t n) {
  if (n == 0) return 0;
  const uint32_t v = AnimBits_ReadU(b, n);
  if (n >= 32) return static_cast<int32_t>(v);
  const uint32_t sign = 1u << (n - 1);
  return static_cast<int32_t>((v ^ sign) - sign);
}

uint32_t AnimBits_ReadU8(AnimBits* b) {
  b->bitsLeft = 0;
  if (b->pos >= b->size) {
    b->overrun = 1;
    return 0;
  }
  return b->data[b->pos++];
}

uint32_t AnimBits_ReadU16(AnimBits* b) {
  const uint32_t lo = AnimBits_ReadU8(b);
  return lo | (AnimBits_ReadU8(b) << 8);
}

void AnimBits_ReadMatrix(AnimBits* b, AnimMatrix* m) {
  b->bitsLeft = 0;
  AnimMatrix_SetIdentity(m);
  if (AnimBits_ReadFlag(b)) {
    const uint32_t n = AnimBits_ReadU(b, 5);
    m->a = static_cast<float>(AnimBits_ReadS(b, n)) / 65536.0f;
    m->d = static_cast<float>(AnimBits_ReadS(b, n)) / 65536.0f;
  }
  if (AnimBits_ReadFlag(b)) {
    const uint32_t n = AnimBits_ReadU(b, 5);
    m->c = static_cast<float>(AnimBits_ReadS(b, n)) / 65536.0f;
    m->b = static_cast<float>(AnimBits_ReadS(b, n)) / 65536.0f;
  }
  const uint32_t n = AnimBits_ReadU(b, 5);
  m->tx = AnimBits_ReadS(b, n);
  m->ty = AnimBits_ReadS(b, n);
}

uint32_t AnimShape_ReadRecord(AnimBits* b, AnimShapeRecord* out, uint32_t fillBits, uint32_t lineBits) {
  AnimShapeRecord& r = *out;
  r = AnimShapeRecord{};
  if (AnimBits_ReadFlag(b)) {
    r.kind = AnimShapeRecord::kEdge;
    r.straight = AnimBits_ReadFlag(b);
    const uint32_t n = AnimBits_ReadU(b, 4) + 2;
    if (r.straight) {
      if (AnimBits_ReadFlag(b)) {
        r.dx = AnimBits_ReadS(b, n);
        r.dy = AnimBits_ReadS(b, n);
      } else if (AnimBits_ReadFlag(b)) {
        r.dy = AnimBits_ReadS(b, n);
      } else {
        r.dx = AnimBits_ReadS(b, n);
      }
    } else {
      r.cdx = AnimBits_ReadS(b, n);
      r.cdy = AnimBits_ReadS(b, n);
      r.dx = AnimBits_ReadS(b, n);
      r.dy = AnimBits_ReadS(b, n);
    }
    return b->overrun ? 0 : 1;
  }
  r.flags = AnimBits_ReadU(b, 5);
  if (b->overrun || r.flags == 0) return 0;
  r.kind = AnimShapeRecord::kChange;
  if (r.flags & 1) {
    const uint32_t n = AnimBits_ReadU(b, 5);
    r.mx = AnimBits_ReadS(b, n);
    r.my = AnimBits_ReadS(b, n);
  }
  if (r.flags & 2) r.fill0 = AnimBits_ReadU(b, fillBits);
  if (r.flags & 4) r.fill1 = AnimBits_ReadU(b, fillBits);
  if (r.flags & 8) r.line = AnimBits_ReadU(b, lineBits);
  return 1;
}

void AnimStyles_Free(AnimPlayer* p, AnimFillStyle* fills, uint32_t count) {
  for (uint32_t i = 0; fills && i < count; ++i) {
    if (fills[i].ramp) AnimPlayer_Free(p, fills[i].ramp);
    fills[i].ramp = nullptr;
    if (AnimBitmapFill* b = fills[i].bitmapFill) {
      if (b->alphaTable) AnimPlayer_Free(p, b->alphaTable);
      AnimPlayer_Free(p, b);
      fills[i].bitmapFill = nullptr;
    }
  }
}

bool AnimRaster_PoolLow(const AnimRaster* r) { return r->edgeCapacity - r->nextFree < r->edgeCapacity / 4; }

namespace {

uint8_t Channel(int32_t c, int32_t mul, int32_t add) {
  const int32_t v = ((c * mul) >> 8) + add;
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

void Transform(const AnimCxform* cx, uint8_t r, uint8_t g, uint8_t b, uint8_t a, AnimPaint* out) {
  if (cx) {
    r = Channel(r, cx->rMul, cx->rAdd);
    g = Channel(g, cx->gMul, cx->gAdd);
    b = Channel(b, cx->bMul, cx->bAdd);
    a = Channel(a, cx->aMul, cx->aAdd);
  }
  out->color16 = AnimColor_To16(r, g, b);
  out->alpha = a;
}

struct Path {
  AnimRaster* r;
  AnimPlayer* p;
  const AnimCxform* cx;
  AnimMatrix m;
  bool mirrored;
  int32_t x, y;  // current point, device units
  uint32_t segments;  // since the last move
  uint32_t firstSegment;
  const AnimPaint* fill0;
  const AnimPaint* fill1;
  const AnimPaint* line;
  uint32_t lineWidth;
  AnimStroke* strokes;
  AnimStroke** strokeTail;
  AnimShapeCache* cache;  // when this draw fills a cache
  AnimDictNode* const* dictionary;
  int32_t poolStart;
  bool failed;
};

bool Aborted(const Path* path) { return AnimPlayer_Aborted(path->p) != 0; }

// Reading a record (its bits, its points through the matrix), or preparing
// a style for a draw, takes about as long as two steps of edge work; a
// gradient's ramp or an alpha table made for a draw, one step an entry.
constexpr uint32_t kRecordSteps = 2;
constexpr uint32_t kTableSteps = 256;

// Whether the draw still fills its cache: the allocator gives a cache being
// filled up when a block the player needs is refused (AnimShapeCache_LetGoAll).
bool Caching(const Path* path) { return path->cache && path->p->cacheInUse == path->cache; }

// Every segment offered is the draw's work, whatever it fills or strokes.
void Emit(Path* path, int32_t x1, int32_t y1) {
  AnimRaster_CountSteps(path->r, 1);
  if (path->line) {
    auto* s = static_cast<AnimStroke*>(AnimPlayer_Alloc(path->p, sizeof(AnimStroke)));
    if (!s) return;
    *s = AnimStroke{path->x, path->y, x1, y1, path->firstSegment, path->line, path->lineWidth, nullptr};
    *path->strokeTail = s;
    path->strokeTail = &s->next;
  }
  path->firstSegment = 0;
  if (path->fill0 || path->fill1) {
    if (path->mirrored) AnimRaster_AddEdge(path->r, path->x, path->y, x1, y1, path->fill1, path->fill0);
    else AnimRaster_AddEdge(path->r, path->x, path->y, x1, y1, path->fill0, path->fill1);
  }
  path->x = x1;
  path->y = y1;
}

void Subdivide(Path* path, int32_t cx, int32_t cy, int32_t ax, int32_t ay, int depth) {
  const int32_t x0 = path->x, y0 = path->y;
  auto lo = [](int32_t a, int32_t b, int32_t c) { return a < b ? (a < c ? a : c) : (b < c ? b : c); };
  auto hi = [](int32_t a, int32_t b, int32_t c) { return a > b ? (a > c ? a : c) : (b > c ? b : c); };
  const int64_t span = static_cast<int64_t>(hi(x0, cx, ax)) - lo(x0, cx, ax) + hi(y0, cy, ay) - lo(y0, cy, ay);
  if (depth > 0 && span >= 64) {
    const int32_t c1x = static_cast<int32_t>((static_cast<int64_t>(x0) + cx) >> 1);
    const int32_t c1y = static_cast<int32_t>((static_cast<int64_t>(y0) + cy) >> 1);
    const int32_t c2x = static_cast<int32_t>((static_cast<int64_t>(cx) + ax) >> 1);
    const int32_t c2y = static_cast<int32_t>((static_cast<int64_t>(cy) + ay) >> 1);
    const int32_t mx = static_cast<int32_t>((static_cast<int64_t>(c1x) + c2x) >> 1);
    const int32_t my = static_cast<int32_t>((static_cast<int64_t>(c1y) + c2y) >> 1);
    Subdivide(path, c1x, c1y, mx, my, depth - 1);
    if (Aborted(path)) return;
    Subdivide(path, c2x, c2y, ax, ay, depth - 1);
    return;
  }
  Emit(path, ax, ay);
}

// Path building, in shape units mapped by the draw's matrix; the fills and
// the line the segments take are the path's current ones.
void AnimOutline_MoveTo(Path* path, int32_t x, int32_t y) {
  AnimMatrix_Apply(&path->m, x, y, &path->x, &path->y);
  path->segments = 0;
  path->firstSegment = 1;
}

void AnimOutline_LineTo(Path* path, int32_t x, int32_t y) {
  int32_t x1, y1;
  AnimMatrix_Apply(&path->m, x, y, &x1, &y1);
  ++path->segments;
  Emit(path, x1, y1);
}

// A quadratic curve, flattened into at most eight segments.
void AnimOutline_CurveTo(Path* path, int32_t controlX, int32_t controlY, int32_t anchorX, int32_t anchorY) {
  int32_t cx, cy, ax, ay;
  AnimMatrix_Apply(&path->m, controlX, controlY, &cx, &cy);
  AnimMatrix_Apply(&path->m, anchorX, anchorY, &ax, &ay);
  ++path->segments;
  Subdivide(path, cx, cy, ax, ay, 3);
}

// The edge run of one cache record (or the draw's scratch edges) and its strokes.
void StrokeOne(AnimRaster* r, const AnimStroke* s, float scaleA) {
  int32_t w = static_cast<int32_t>(std::fabs(static_cast<float>(s->width) * scaleA));
  if (w < 49) w = 32;
  const int64_t dx = static_cast<int64_t>(s->x1) - s->x0, dy = static_cast<int64_t>(s->y1) - s->y0;
  // Squares of segments spanning the whole coordinate range saturate.
  const uint64_t adx = static_cast<uint64_t>(dx < 0 ? -dx : dx), ady = static_cast<uint64_t>(dy < 0 ? -dy : dy);
  uint64_t sum = 0, sq = 0xFFFFFFFFull;
  if (adx <= 0xFFFFFFFFull && ady <= 0xFFFFFFFFull && !__builtin_add_overflow(adx * adx, ady * ady, &sum) &&
      sum < sq)
    sq = sum;
  const int64_t len = 2 * static_cast<int64_t>(AnimISqrt(static_cast<uint32_t>(sq)));
  if (len <= 0) return;
  const int64_t a = (static_cast<int64_t>(s->y0) - s->y1) * w / len;
  const int64_t b = dx * w / len;
  const int64_t x0 = s->x0, y0 = s->y0, x1 = s->x1, y1 = s->y1;
  // Corners of a segment at the edge of the coordinate range are held
  // inside it.
  auto c = [](int64_t v) {
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
  };
  const int32_t pool = r->nextFree;
  AnimRaster_AddEdge(r, c(x0 - b + a), c(y0 + b + a), c(x1 + b + a), c(y1 + b - a), nullptr, s->line);
  AnimRaster_AddEdge(r, c(x0 - b - a), c(y0 - b + a), c(x1 + b - a), c(y1 - b - a), s->line, nullptr);
  AnimRaster_AddEdge(r, c(x1 + b + a), c(y1 + b - a), c(x1 + b - a), c(y1 - b - a), nullptr, s->line);
  AnimRaster_AddEdge(r, c(x0 - b + a), c(y0 + b + a), c(x0 - b - a), c(y0 - b + a), s->line, nullptr);
  AnimRaster_Render(r, 0, nullptr);
  r->nextFree = pool;
}

void FreeStrokes(AnimPlayer* p, AnimStroke* s) {
  while (s) {
    AnimStroke* next = s->next;
    AnimPlayer_Free(p, s);
    s = next;
  }
}

// Renders the edges gathered since the last flush (saving them into the
// current cache record when the draw caches, else giving their pool entries
// back), then strokes every pending line segment alone.
void AnimShape_Flush(Path* path) {
  AnimRaster* r = path->r;
  AnimEdgeCache* rec = Caching(path) ? path->cache->current : nullptr;
  AnimRaster_Render(r, 0, rec);
  if (Aborted(path)) return;
  // A bitmap decoded while the spans were drawn may have had the cache
  // given up: the draw keeps nothing from here on.
  rec = Caching(path) ? path->cache->current : nullptr;
  if (rec) rec->endEdge = r->nextFree;
  else r->nextFree = path->poolStart;
  for (AnimStroke* s = path->strokes; s; s = s->next) StrokeOne(r, s, path->m.a);
  if (rec) {
    AnimStroke** tail = &rec->strokes;
    while (*tail) tail = &(*tail)->next;
    *tail = path->strokes;
  } else {
    FreeStrokes(path->p, path->strokes);
  }
  path->strokes = nullptr;
  path->strokeTail = &path->strokes;
}

AnimEdgeCache* NewCacheRecord(Path* path) {
  // Without room for it the shape is drawn all the same, only not kept.
  auto* rec = static_cast<AnimEdgeCache*>(AnimPlayer_AllocCopy(path->p, sizeof(AnimEdgeCache)));
  if (!rec) return nullptr;
  *rec = AnimEdgeCache{};
  rec->lastBucket = -1;
  rec->firstEdge = rec->endEdge = path->r->nextFree;
  if (path->cache->current) path->cache->current->next = rec;
  else path->cache->first = rec;
  path->cache->current = rec;
  return rec;
}

// Device pixels to fill space for the span fillers: the inverse of the
// draw's matrix times the fill's, its terms scaled and its translation
// multiplied into the fillers' fixed point.
void SpanMapping(const Path* path, const AnimMatrix& fill, float scale, uint32_t translate, AnimPaint& paint) {
  AnimMatrix m, inv;
  AnimMatrix_Concat(&m, &path->m, &fill);
  AnimMatrix_Invert(&inv, &m);
  paint.a = inv.a * scale;
  paint.b = inv.b * scale;
  paint.c = inv.c * scale;
  paint.d = inv.d * scale;
  paint.tx = static_cast<int32_t>(static_cast<uint32_t>(inv.tx) * translate);
  paint.ty = static_cast<int32_t>(static_cast<uint32_t>(inv.ty) * translate);
}

// A gradient's span parameters and ramp for this draw's matrix and colour
// transform; a ramp that cannot be had leaves the fill undrawn.
void PrepareGradient(Path* path, AnimFillStyle& f, AnimPaint& paint) {
  if (!f.ramp) {
    f.ramp = static_cast<uint8_t*>(AnimPlayer_TryAlloc(path->p, 2048));
    if (!f.ramp) {
      f.type = 128;
      paint.kind = 128;
      return;
    }
    std::memset(f.ramp, 0, 2048);
  }
  if (f.type == 0x10) {
    AnimMatrix g, inv;
    AnimMatrix_Concat(&g, &path->m, &f.matrix);
    AnimMatrix_Invert(&inv, &g);
    paint.a = inv.a * 32.0f;
    paint.b = inv.b * 32.0f;
    paint.tx = static_cast<int32_t>(static_cast<uint32_t>(inv.tx) + 16384u);
  } else {
    SpanMapping(path, f.matrix, 64.0f, 2u, paint);
  }
  AnimRaster_CountSteps(path->r, kTableSteps);
  paint.ramp = f.ramp;
  paint.translucent = 0;
  const uint32_t count = f.count < 8 ? f.count : 8;
  if (count == 0) return;
  auto stop = [&](uint32_t k, uint8_t* c) {
    const AnimGradientRecord& g = f.records[k];
    c[0] = g.r;
    c[1] = g.g;
    c[2] = g.b;
    c[3] = g.a;
    if (path->cx) {
      c[0] = Channel(g.r, path->cx->rMul, path->cx->rAdd);
      c[1] = Channel(g.g, path->cx->gMul, path->cx->gAdd);
      c[2] = Channel(g.b, path->cx->bMul, path->cx->bAdd);
      c[3] = Channel(g.a, path->cx->aMul, path->cx->aAdd);
    }
  };
  for (uint32_t k = count - 1; k-- > 0;) {
    const uint32_t r0 = f.records[k].ratio, r1 = f.records[k + 1].ratio;
    if (r1 <= r0) continue;  // out-of-order stops leave their stretch as it was
    uint8_t c0[4], c1[4];
    stop(k, c0);
    stop(k + 1, c1);
    if (c0[3] < 255 || c1[3] < 255) paint.translucent = 1;
    for (int ch = 0; ch < 4; ++ch) {
      const int32_t step = ((static_cast<int32_t>(c1[ch]) - c0[ch]) * 65536) / static_cast<int32_t>(r1 - r0);
      for (uint32_t j = r0; j <= r1; ++j) {
        const int32_t value = (static_cast<int32_t>(c0[ch]) << 16) + static_cast<int32_t>(j - r0) * step;
        f.ramp[8 * j + ch] = static_cast<uint8_t>(value >> 16);
      }
    }
  }
  // A lone stop (or stops on one ratio) colours its own entry.
  const uint32_t lo = f.records[0].ratio, hi = f.records[count - 1].ratio;
  if (count == 1 || lo == hi) {
    uint8_t c[4];
    stop(0, c);
    if (c[3] < 255) paint.translucent = 1;
    std::memcpy(f.ramp + 8 * lo, c, 4);
  }
  for (uint32_t j = 0; j < lo; ++j) std::memcpy(f.ramp + 8 * j, f.ramp + 8 * lo, 4);
  for (uint32_t j = hi + 1; j < 256; ++j) std::memcpy(f.ramp + 8 * j, f.ramp + 8 * hi, 4);
}

int32_t ClampByte(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// A bitmap fill's texel mapping and alpha for this draw. The bitmap is found
// by id at the first draw and decoded now, so the span filler normally finds
// it in its slot; a fill whose bitmap is missing or cannot be decoded is not
// drawn.
void PrepareBitmap(Path* path, AnimFillStyle& f, AnimPaint& paint) {
  paint.kind = 128;
  if (!f.bitmapFill) {
    f.bitmapFill = static_cast<AnimBitmapFill*>(AnimPlayer_Alloc(path->p, sizeof(AnimBitmapFill)));
    if (!f.bitmapFill) return;
    f.bitmapFill->bitmapId = f.bitmapId;
    f.bitmapFill->dictionary = path->dictionary;
  }
  AnimBitmapFill* fill = f.bitmapFill;
  if (!fill->bitmap && fill->dictionary) {
    AnimChar* c = AnimDict_Find(*fill->dictionary, fill->bitmapId);
    if (c && c->type == kAnimBitmap) fill->bitmap = static_cast<AnimBitmap*>(c->body);
  }
  AnimBitmap* bitmap = fill->bitmap;
  if (!bitmap) return;
  bool alphaPlane;
  paint.slot = -1;
  if (bitmap->heldAsPixels) {
    alphaPlane = bitmap->alpha != nullptr;
  } else {
    paint.slot = AnimBitmap_Decode(path->p, bitmap);
    if (paint.slot < 0) {
      // Not decoded for want of the step's work: the next step draws it,
      // so this draw is not kept.
      //PROBE if (path->cache && AnimWork_Spent(path->p)) path->cache->lost = 1;
      return;
    }
    alphaPlane = path->p->bitmaps.slots[paint.slot].alpha != nullptr;
  }
  SpanMapping(path, f.matrix, 4096.0f, 128u, paint);
  paint.bitmap = bitmap;
  paint.alphaTable = nullptr;
  paint.alpha = 255;
  const AnimCxform* cx = path->cx;
  if (cx && !alphaPlane) {
    paint.alpha = static_cast<uint32_t>(ClampByte((cx->aMul * 255 + cx->aAdd * 256) >> 8));
  } else if (cx) {
    if (!fill->alphaTable) {
      fill->alphaTable = static_cast<uint8_t*>(AnimPlayer_Alloc(path->p, 256));
      if (!fill->alphaTable) return;
    }
    AnimRaster_CountSteps(path->r, kTableSteps);
    // Clamped, not wrapped: a doubling transform keeps opaque texels opaque.
    for (int32_t i = 0; i < 256; ++i)
      fill->alphaTable[i] = static_cast<uint8_t>(ClampByte((cx->aMul * i + cx->aAdd * 256) >> 8));
    paint.alphaTable = fill->alphaTable;
  }
  paint.kind = f.type;
}

// A cached draw's paints keep their own ramps and alpha tables: another
// object's draw of the same shape rebuilds the style's under its own
// colour transform.
void KeepTables(Path* path, AnimDrawSet* set) {
  for (uint32_t i = 0; i < set->styles.fillCount; ++i) {
    AnimPaint& paint = set->paints[i];
    const bool gradient = paint.kind == 0x10 || paint.kind == 0x12;
    if (gradient && paint.ramp) {
      auto* copy = static_cast<uint8_t*>(AnimPlayer_AllocCopy(path->p, 2048));
      if (!copy) {
        path->cache->lost = 1;
        return;
      }
      std::memcpy(copy, paint.ramp, 2048);
      paint.ramp = copy;
      paint.ownsTables |= 1;
    }
    if (!gradient && paint.alphaTable) {
      auto* copy = static_cast<uint8_t*>(AnimPlayer_AllocCopy(path->p, 256));
      if (!copy) {
        path->cache->lost = 1;
        return;
      }
      std::memcpy(copy, paint.alphaTable, 256);
      paint.alphaTable = copy;
      paint.ownsTables |= 2;
    }
  }
}

void FreeTables(AnimPlayer* p, AnimDrawSet* set) {
  for (uint32_t i = 0; set->paints && i < set->styles.fillCount; ++i) {
    AnimPaint& paint = set->paints[i];
    if (paint.ownsTables & 1) AnimPlayer_Free(p, const_cast<uint8_t*>(paint.ramp));
    if (paint.ownsTables & 2) AnimPlayer_Free(p, const_cast<uint8_t*>(paint.alphaTable));
    paint.ownsTables = 0;
  }
}

// Colours (through the colour transform), ramps, texel mappings and alpha
// of a set's fills for this draw.
bool AnimStyles_PrepareFills(Path* path, AnimDrawSet* set) {
  const AnimStyleSet& styles = set->styles;
  for (uint32_t i = 0; i < styles.fillCount; ++i) {
    const AnimFillStyle& f = styles.fills[i];
    AnimPaint& paint = set->paints[i];
    AnimRaster_CountSteps(path->r, kRecordSteps);
    paint.kind = f.type;
    Transform(path->cx, f.r, f.g, f.b, f.a, &paint);
    if (f.type == 0x10 || f.type == 0x12) PrepareGradient(path, styles.fills[i], paint);
    else if (f.type == 0x40 || f.type == 0x41) PrepareBitmap(path, styles.fills[i], paint);
    if (AnimPlayer_Aborted(path->p)) return false;
  }
  if (Caching(path)) KeepTables(path, set);
  return true;
}

// Line colours through the colour transform; a stroke fills as a solid.
void AnimStyles_PrepareLines(Path* path, AnimDrawSet* set) {
  const AnimStyleSet& styles = set->styles;
  for (uint32_t i = 0; i < styles.lineCount; ++i) {
    const AnimLineStyle& l = styles.lines[i];
    AnimPaint& paint = set->paints[styles.fillCount + i];
    AnimRaster_CountSteps(path->r, kRecordSteps);
    paint.kind = 0;
    Transform(path->cx, l.r, l.g, l.b, l.a, &paint);
  }
}

// Paints for one style set, prepared under the draw's colour transform.
AnimDrawSet* PushSet(Path* path, AnimDrawSet** sets, const AnimStyleSet& styles, bool owned) {
  auto* set = static_cast<AnimDrawSet*>(AnimPlayer_Alloc(path->p, sizeof(AnimDrawSet)));
  if (!set) return nullptr;
  set->styles = styles;
  set->owned = owned ? 1 : 0;
  set->next = *sets;
  *sets = set;
  const uint32_t n = styles.fillCount + styles.lineCount;
  if (n) {
    set->paints = static_cast<AnimPaint*>(AnimPlayer_Alloc(path->p, static_cast<int32_t>(sizeof(AnimPaint) * n)));
    if (!set->paints) return nullptr;
  }
  if (!AnimStyles_PrepareFills(path, set)) return nullptr;
  AnimStyles_PrepareLines(path, set);
  return set;
}

void FreeSets(AnimPlayer* p, AnimDrawSet* set) {
  while (set) {
    AnimDrawSet* next = set->next;
    FreeTables(p, set);
    if (set->owned) {
      AnimStyles_Free(p, set->styles.fills, set->styles.fillCount);
      AnimPlayer_Free(p, set->styles.fills);
      AnimPlayer_Free(p, set->styles.lines);
    }
    AnimPlayer_Free(p, set->paints);
    AnimPlayer_Free(p, set);
    set = next;
  }
}

uint32_t ReadCount(AnimBits* b) {
  uint32_t n = AnimBits_ReadU8(b);
  if (n == 255) n = AnimBits_ReadU16(b);
  return n;
}

void ReadColor(AnimBits* b, bool alpha, uint8_t* c) {
  for (int i = 0; i < 3; ++i) c[i] = static_cast<uint8_t>(AnimBits_ReadU8(b));
  c[3] = alpha ? static_cast<uint8_t>(AnimBits_ReadU8(b)) : 255;
}

// A fill style array: a count (255: a 16-bit count follows), then per
// entry its kind byte and a colour, a gradient or a bitmap id and matrix.
bool AnimShape_ReadFillStyles(Path* path, AnimBits* b, bool alpha, AnimStyleSet* out) {
  const uint32_t fills = ReadCount(b);
  if (b->overrun || fills > b->size - b->pos) return false;
  if (fills) {
    out->fills = static_cast<AnimFillStyle*>(AnimPlayer_Alloc(path->p, static_cast<int32_t>(sizeof(AnimFillStyle) * fills)));
    if (!out->fills) return false;
    out->fillCount = fills;
  }
  for (uint32_t i = 0; i < fills; ++i) {
    AnimFillStyle& f = out->fills[i];
    const uint32_t kind = AnimBits_ReadU8(b);
    AnimMatrix_SetIdentity(&f.matrix);
    if (kind & 0x10) {
      f.type = kind & 0x12;
      AnimBits_ReadMatrix(b, &f.matrix);
      const uint32_t count = AnimBits_ReadU8(b);
      for (uint32_t k = 0; k < count && !b->overrun; ++k) {
        uint8_t c[4];
        const uint8_t ratio = static_cast<uint8_t>(AnimBits_ReadU8(b));
        ReadColor(b, alpha, c);
        if (k < 8) f.records[k] = AnimGradientRecord{ratio, c[0], c[1], c[2], c[3]};
      }
      f.count = count < 8 ? count : 8;
    } else if (kind & 0x40) {
      f.type = kind & 0x41;
      f.bitmapId = AnimBits_ReadU16(b);
      AnimBits_ReadMatrix(b, &f.matrix);
    } else {
      uint8_t c[4];
      ReadColor(b, alpha, c);
      f.type = 0;
      f.r = c[0];
      f.g = c[1];
      f.b = c[2];
      f.a = c[3];
    }
  }
  return !b->overrun;
}

// A line style array: a count, then per entry a width and a colour.
bool AnimShape_ReadLineStyles(Path* path, AnimBits* b, bool alpha, AnimStyleSet* out) {
  const uint32_t lines = ReadCount(b);
  if (b->overrun || lines > b->size - b->pos) return false;
  if (lines) {
    out->lines = static_cast<AnimLineStyle*>(AnimPlayer_Alloc(path->p, static_cast<int32_t>(sizeof(AnimLineStyle) * lines)));
    if (!out->lines) return false;
    out->lineCount = lines;
  }
  for (uint32_t i = 0; i < lines; ++i) {
    AnimLineStyle& l = out->lines[i];
    l.width = AnimBits_ReadU16(b);
    uint8_t c[4];
    ReadColor(b, alpha, c);
    l.r = c[0];
    l.g = c[1];
    l.b = c[2];
    l.a = c[3];
  }
  return !b->overrun;
}

// A new-styles record's arrays; false when they run past the records.
bool ReadStyles(Path* path, AnimBits* b, bool alpha, AnimStyleSet* out) {
  *out = AnimStyleSet{};
  return AnimShape_ReadFillStyles(path, b, alpha, out) && AnimShape_ReadLineStyles(path, b, alpha, out);
}

// A cache's runs with their saved heads and strokes; true when any went.
bool FreeRuns(AnimPlayer* p, AnimEdgeCache* rec) {
  const bool any = rec != nullptr;
  while (rec) {
    AnimEdgeCache* next = rec->next;
    AnimPlayer_Free(p, rec->savedBuckets);
    AnimPlayer_Free(p, rec->savedFills);
    FreeStrokes(p, rec->strokes);
    AnimPlayer_Free(p, rec);
    rec = next;
  }
  return any;
}

}  // namespace

void AnimShape_ReplayCache(AnimRaster* r, const AnimMatrix* matrix, AnimShapeCache* cache) {
  AnimMatrix device;
  AnimMatrix_Concat(&device, &r->view, matrix);
  for (AnimEdgeCache* rec = cache->first; rec; rec = rec->next) {
    AnimRaster_Render(r, 1, rec);
    for (const AnimStroke* s = rec->strokes; s; s = s->next) StrokeOne(r, s, device.a);
  }
}

void AnimShapeCache_Release(AnimPlayer* p, AnimShapeCache* cache) {
  FreeRuns(p, cache->first);
  FreeSets(p, cache->sets);
  if (cache->keptLink) {
    *cache->keptLink = cache->nextKept;
    if (cache->nextKept) cache->nextKept->keptLink = cache->keptLink;
  }
  *cache = AnimShapeCache{};
}

namespace {

// A cache being filled given up: its runs (saved heads, strokes already
// drawn) and its copies of ramps and alpha tables go at once, the paints
// taking the style's own again (they hold the same for this draw); the draw
// goes on keeping nothing and lets the cache go at its end.
bool Abandon(AnimPlayer* p, AnimShapeCache* cache) {
  bool any = FreeRuns(p, cache->first);
  cache->first = cache->current = nullptr;
  for (AnimDrawSet* set = cache->sets; set; set = set->next)
    for (uint32_t i = 0; set->paints && i < set->styles.fillCount; ++i) {
      AnimPaint& paint = set->paints[i];
      const AnimFillStyle& f = set->styles.fills[i];
      if (paint.ownsTables & 1) {
        AnimPlayer_Free(p, const_cast<uint8_t*>(paint.ramp));
        paint.ramp = f.ramp;
        any = true;
      }
      if (paint.ownsTables & 2) {
        AnimPlayer_Free(p, const_cast<uint8_t*>(paint.alphaTable));
        paint.alphaTable = f.bitmapFill ? f.bitmapFill->alphaTable : nullptr;
        any = true;
      }
      paint.ownsTables = 0;
    }
  cache->lost = 1;
  return any;
}

// The coded bitmaps a cache's paints show, decoded before the replay, as a
// draw from the records decodes them when it prepares its fills: letting
// the cache go for them then leaves the draw to the records.
void DecodeCachedBitmaps(AnimPlayer* p, AnimShapeCache* cache) {
  for (AnimDrawSet* set = cache->sets; set; set = set->next)
    for (uint32_t i = 0; set->paints && i < set->styles.fillCount; ++i) {
      AnimPaint& paint = set->paints[i];
      if ((paint.kind != 0x40 && paint.kind != 0x41) || !paint.bitmap || paint.bitmap->heldAsPixels) continue;
      const int32_t slot = AnimBitmap_Decode(p, paint.bitmap);
      if (AnimPlayer_Aborted(p) || p->cacheInUse != cache) return;
      if (slot >= 0) paint.slot = slot;
    }
}

}  // namespace

bool AnimShapeCache_LetGoAll(AnimPlayer* p, AnimRaster* r) {
  bool any = false;
  AnimShapeCache* inUse = p->cacheInUse;
  if (inUse && p->cacheUse == kAnimCacheFilling) {
    any = Abandon(p, inUse);
    p->cacheInUse = nullptr;
  } else if (inUse && p->cacheUse == kAnimCacheToReplay) {
    any = inUse->first != nullptr;
    AnimShapeCache_Release(p, inUse);
    p->cacheInUse = nullptr;
  } else if (inUse && p->cacheUse == kAnimCacheReplaying) {
    // Its runs are being drawn: it goes when the replay ends.
    p->cacheUse = kAnimCacheReplayingLetGo;
  }
  for (AnimShapeCache** link = &r->keptCaches; *link;) {
    if (*link == p->cacheInUse) {
      link = &(*link)->nextKept;
      continue;
    }
    any = true;
    AnimShapeCache_Release(p, *link);
  }
  return any;
}

void AnimShapeCache_List(AnimShapeCache** kept, AnimShapeCache* cache) {
  if (cache->keptLink) return;
  cache->nextKept = *kept;
  if (*kept) (*kept)->keptLink = &cache->nextKept;
  cache->keptLink = kept;
  *kept = cache;
}

void AnimShapeCache_Free(AnimRaster* r, AnimShapeCache* cache) { AnimShapeCache_Release(r->player, cache); }

bool AnimShapeCache_Valid(const AnimRaster* r, const AnimShapeCache* cache, const AnimMatrix* matrix,
                          const AnimCxform* cxform) {
  if (!cache->hasCache || cache->epoch != r->cacheEpoch || cache->smooth != r->smooth) return false;
  AnimMatrix device;
  AnimMatrix_Concat(&device, &r->view, matrix);
  if (std::memcmp(&device, &cache->device, sizeof device) != 0) return false;
  if ((cxform != nullptr) != (cache->hasCxform != 0)) return false;
  return !cxform || std::memcmp(cxform, &cache->cxform, sizeof *cxform) == 0;
}

uint32_t AnimShape_Draw(AnimRaster* r, const AnimShape* shape, const AnimMatrix* matrix, const AnimCxform* cxform,
                        AnimShapeCache* cache) {
  if (!r->ready) return kAnimShapeBad;
  // Glyphs carry no fill arrays: they fill with the text colour.
  AnimPaint textPaint{};
  textPaint.color16 = r->text16;
  textPaint.alpha = r->text[3];
  return AnimShape_Render(r, matrix, cxform, shape, cache, &textPaint);
}

namespace {

uint32_t RenderShape(AnimRaster* r, const AnimMatrix* matrix, const AnimCxform* cxform, const AnimShape* shape,
                     AnimShapeCache* cache, const AnimPaint* textPaint) {
  AnimPlayer* const player = r->player;
  if (cache && AnimShapeCache_Valid(r, cache, matrix, cxform)) {
    player->cacheInUse = cache;
    player->cacheUse = kAnimCacheToReplay;
    DecodeCachedBitmaps(player, cache);
    if (AnimPlayer_Aborted(player)) {
      if (player->cacheInUse == cache) player->cacheInUse = nullptr;
      return kAnimShapeAborted;
    }
    if (player->cacheInUse == cache) {
      player->cacheUse = kAnimCacheReplaying;
      AnimShape_ReplayCache(r, matrix, cache);
      const bool letGo = player->cacheUse == kAnimCacheReplayingLetGo;
      player->cacheInUse = nullptr;
      if (letGo) AnimShapeCache_Release(player, cache);
      return AnimPlayer_Aborted(player) ? kAnimShapeAborted : kAnimShapeDrawn;
    }
    // Let go for a bitmap it shows: drawn from the records, keeping nothing.
    cache = nullptr;
  }
  if (cache) AnimShapeCache_Release(player, cache);
  if (cache && r->cacheMode == 1) cache = nullptr;
  const uint32_t droppedBefore = r->edgesDropped;
  Path path{};
  path.r = r;
  path.p = r->player;
  path.cx = cxform;
  path.strokeTail = &path.strokes;
  path.poolStart = r->nextFree;
  path.dictionary = shape->dictionary;
  AnimMatrix_Concat(&path.m, &r->view, matrix);
  path.mirrored = path.m.a * path.m.d < 0;
  AnimDrawSet* sets = nullptr;
  if (cache) {
    path.cache = cache;
    player->cacheInUse = cache;
    player->cacheUse = kAnimCacheFilling;
    if (NewCacheRecord(&path)) {
      cache->device = path.m;
      cache->hasCxform = cxform ? 1 : 0;
      if (cxform) cache->cxform = *cxform;
      cache->epoch = r->cacheEpoch;
      cache->smooth = r->smooth;
    } else {
      path.cache = cache = nullptr;
      player->cacheInUse = nullptr;
    }
  }
  AnimDrawSet* current = PushSet(&path, &sets, shape->styles, false);
  // The cache holds the draw's sets as they are pushed: giving it up lets
  // their copies of tables go.
  if (cache) cache->sets = sets;
  AnimBits bits;
  AnimBits_Reset(&bits, shape->records, shape->recordSize);
  uint32_t fillBits = shape->fillBits, lineBits = shape->lineBits;
  int32_t sx = 0, sy = 0;  // current point in shape units
  bool moved = false;
  auto moveTo = [&](int32_t x, int32_t y) {
    sx = x;
    sy = y;
    AnimOutline_MoveTo(&path, x, y);
    moved = true;
  };
  auto selectFill = [&](uint32_t index, const AnimPaint** out) {
    if (index == 0) *out = nullptr;
    else if (current->styles.fillCount == 0 && !current->owned) {
      // The text colour of the moment: such a draw is not kept.
      *out = textPaint;
      if (cache) cache->lost = 1;
    }
    else if (index <= current->styles.fillCount) *out = &current->paints[index - 1];
    else path.failed = true;
  };
  AnimShapeRecord rec;
  while (current && !path.failed && !AnimPlayer_Aborted(path.p)) {
    const uint32_t more = AnimShape_ReadRecord(&bits, &rec, fillBits, lineBits);
    // Every record read is the draw's work, with a fill or without.
    AnimRaster_CountSteps(r, kRecordSteps);
    if (bits.overrun) {
      path.failed = true;
      break;
    }
    if (!more) break;  // the end record
    if (rec.kind == AnimShapeRecord::kEdge) {
      if (!moved) moveTo(0, 0);
      if (rec.straight) {
        sx = static_cast<int32_t>(static_cast<uint32_t>(sx) + static_cast<uint32_t>(rec.dx));
        sy = static_cast<int32_t>(static_cast<uint32_t>(sy) + static_cast<uint32_t>(rec.dy));
        AnimOutline_LineTo(&path, sx, sy);
      } else {
        const int32_t csx = static_cast<int32_t>(static_cast<uint32_t>(sx) + static_cast<uint32_t>(rec.cdx));
        const int32_t csy = static_cast<int32_t>(static_cast<uint32_t>(sy) + static_cast<uint32_t>(rec.cdy));
        sx = static_cast<int32_t>(static_cast<uint32_t>(csx) + static_cast<uint32_t>(rec.dx));
        sy = static_cast<int32_t>(static_cast<uint32_t>(csy) + static_cast<uint32_t>(rec.dy));
        AnimOutline_CurveTo(&path, csx, csy, sx, sy);
      }
      continue;
    }
    const uint32_t flags = rec.flags;
    const int32_t mx = rec.mx, my = rec.my;
    const uint32_t f0 = rec.fill0, f1 = rec.fill1, ln = rec.line;
    if (flags & 16) {
      AnimStyleSet styles;
      const bool ok = ReadStyles(&path, &bits, shape->hasAlpha != 0, &styles);
      AnimRaster_CountSteps(r, kRecordSteps * (styles.fillCount + styles.lineCount));
      AnimDrawSet* pushed = nullptr;
      if (!AnimPlayer_Aborted(path.p)) pushed = PushSet(&path, &sets, styles, true);
      if (cache) cache->sets = sets;
      if (!pushed) {
        if (!sets || sets->styles.fills != styles.fills) {
          AnimStyles_Free(path.p, styles.fills, styles.fillCount);
          AnimPlayer_Free(path.p, styles.fills);
          AnimPlayer_Free(path.p, styles.lines);
        }
        break;
      }
      current = pushed;
      if (!ok) {
        path.failed = true;
        break;
      }
      bits.bitsLeft = 0;
      fillBits = AnimBits_ReadU(&bits, 4);
      lineBits = AnimBits_ReadU(&bits, 4);
    }
    if (bits.overrun) {
      path.failed = true;
      break;
    }
    if (flags & 2) selectFill(f0, &path.fill0);
    if (flags & 4) selectFill(f1, &path.fill1);
    if (flags & 8) {
      if (ln == 0) {
        path.line = nullptr;
      } else if (ln <= current->styles.lineCount) {
        path.line = &current->paints[current->styles.fillCount + ln - 1];
        path.lineWidth = current->styles.lines[ln - 1].width;
      } else {
        path.failed = true;
      }
    }
    if (path.failed) break;
    if (flags & 1) {
      if (path.segments == 0) {
        const bool pending = r->lastBucket >= 0 || path.strokes;
        AnimShape_Flush(&path);
        if (AnimPlayer_Aborted(path.p)) break;
        if (Caching(&path) && pending && !NewCacheRecord(&path)) cache->lost = 1;
      }
      moveTo(mx, my);
    }
  }
  if (!AnimPlayer_Aborted(path.p)) AnimShape_Flush(&path);
  if (cache && player->cacheInUse == cache) player->cacheInUse = nullptr;
  if (path.failed || AnimPlayer_Aborted(path.p)) {
    // A shape that failed leaves nothing behind: no cache, no edges.
    FreeStrokes(path.p, path.strokes);
    AnimRaster_EmptyBuckets(r);
    r->nextFree = path.poolStart;
    if (cache) {
      cache->sets = sets;
      AnimShapeCache_Free(r, cache);
    } else {
      FreeSets(path.p, sets);
    }
    return AnimPlayer_Aborted(path.p) ? kAnimShapeAborted : kAnimShapeBad;
  }
  if (cache) {
    cache->sets = sets;
    // Edges the pool had no room for are missing from the kept ones too.
    bool lost = cache->lost != 0 || r->edgesDropped != droppedBefore;
    for (const AnimEdgeCache* rec = cache->first; rec; rec = rec->next) lost = lost || rec->lost;
    if (lost) {
      // Drawn, but the heap could not keep it: the edges go back to the pool.
      AnimShapeCache_Release(path.p, cache);
      r->nextFree = path.poolStart;
    } else {
      cache->hasCache = 1;
    }
  } else {
    FreeSets(path.p, sets);
  }
  return kAnimShapeDrawn;
}

}  // namespace

uint32_t AnimShape_Render(AnimRaster* r, const AnimMatrix* matrix, const AnimCxform* cxform, const AnimShape* shape,
                          AnimShapeCache* cache, const AnimPaint* textPaint) {
  const uint32_t result = RenderShape(r, matrix, cxform, shape, cache, textPaint);
  AnimRaster_TakeWork(r);
  return result;
}

namespace {

int32_t Add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

int32_t Lerp(int32_t a, int32_t b, uint32_t ratio) {
  // The product wraps as a signed 32-bit one would; the shift is arithmetic.
  const auto product = static_cast<int32_t>((static_cast<uint32_t>(b) - static_cast<uint32_t>(a)) * ratio);
  return Add(a, product >> 16);
}

float LerpF(float a, float b, uint32_t ratio) {
  return a + (b - a) * static_cast<float>(ratio) * (1.0f / 65536.0f);
}

void LerpMatrix(const AnimMatrix& s, const AnimMatrix& e, uint32_t ratio, AnimMatrix* out) {
  out->a = LerpF(s.a, e.a, ratio);
  out->b = LerpF(s.b, e.b, ratio);
  out->c = LerpF(s.c, e.c, ratio);
  out->d = LerpF(s.d, e.d, ratio);
  out->tx = Lerp(s.tx, e.tx, ratio);
  out->ty = Lerp(s.ty, e.ty, ratio);
}

uint8_t LerpByte(uint8_t a, uint8_t b, uint32_t ratio) { return static_cast<uint8_t>(Lerp(a, b, ratio)); }

// One record of either outline of a morph, with its edge as a quadratic
// curve from the given current point.
struct MorphRecord {
  enum Kind { kEnd, kChange, kEdge, kBad } kind;
  uint32_t flags;
  int32_t mx, my;
  uint32_t fill0, fill1, line;
  int32_t cdx, cdy, dx, dy;
  bool straight;
};

// Morph outlines carry no new styles: a record with them, or one that runs
// past the bytes, is bad. A straight edge is a curve whose control point is
// its midpoint.
MorphRecord ReadMorphRecord(AnimRaster* raster, AnimBits* b, uint32_t fillBits, uint32_t lineBits) {
  AnimShapeRecord rec;
  AnimShape_ReadRecord(b, &rec, fillBits, lineBits);
  AnimRaster_CountSteps(raster, kRecordSteps);
  MorphRecord r{};
  r.kind = rec.kind == AnimShapeRecord::kEdge     ? MorphRecord::kEdge
           : rec.kind == AnimShapeRecord::kChange ? MorphRecord::kChange
                                                  : MorphRecord::kEnd;
  r.flags = rec.flags;
  r.mx = rec.mx;
  r.my = rec.my;
  r.fill0 = rec.fill0;
  r.fill1 = rec.fill1;
  r.line = rec.line;
  r.straight = rec.straight != 0;
  r.dx = rec.dx;
  r.dy = rec.dy;
  r.cdx = r.straight ? rec.dx >> 1 : rec.cdx;
  r.cdy = r.straight ? rec.dy >> 1 : rec.cdy;
  if ((rec.flags & 16) || b->overrun) r.kind = MorphRecord::kBad;
  return r;
}

// Control point and anchor of an edge from (x, y); the point moves to the anchor.
void Advance(const MorphRecord& r, int32_t* x, int32_t* y, int32_t* cx, int32_t* cy) {
  *cx = Add(*x, r.cdx);
  *cy = Add(*y, r.cdy);
  if (r.straight) {
    *x = Add(*x, r.dx);
    *y = Add(*y, r.dy);
  } else {
    *x = Add(*cx, r.dx);
    *y = Add(*cy, r.dy);
  }
}

// The morph's styles at one ratio as an ordinary style set.
bool AnimMorph_Styles(AnimPlayer* p, const AnimMorph* m, uint32_t ratio, AnimStyleSet* out) {
  *out = AnimStyleSet{};
  if (m->fillCount) {
    out->fills = static_cast<AnimFillStyle*>(AnimPlayer_Alloc(p, static_cast<int32_t>(sizeof(AnimFillStyle) * m->fillCount)));
    if (!out->fills) return false;
    out->fillCount = m->fillCount;
  }
  for (uint32_t i = 0; i < m->fillCount; ++i) {
    const AnimMorphFill& f = m->fills[i];
    AnimFillStyle& o = out->fills[i];
    o.type = f.type;
    o.r = LerpByte(f.start[0], f.end[0], ratio);
    o.g = LerpByte(f.start[1], f.end[1], ratio);
    o.b = LerpByte(f.start[2], f.end[2], ratio);
    o.a = LerpByte(f.start[3], f.end[3], ratio);
    LerpMatrix(f.startMatrix, f.endMatrix, ratio, &o.matrix);
    o.bitmapId = f.bitmapId;
    o.count = f.count;
    for (uint32_t k = 0; k < f.count && k < 8; ++k) {
      const AnimMorphGradientRecord& g = f.records[k];
      o.records[k] = AnimGradientRecord{LerpByte(g.startRatio, g.endRatio, ratio),
                                        LerpByte(g.startColor[0], g.endColor[0], ratio),
                                        LerpByte(g.startColor[1], g.endColor[1], ratio),
                                        LerpByte(g.startColor[2], g.endColor[2], ratio),
                                        LerpByte(g.startColor[3], g.endColor[3], ratio)};
    }
  }
  if (m->lineCount) {
    out->lines = static_cast<AnimLineStyle*>(AnimPlayer_Alloc(p, static_cast<int32_t>(sizeof(AnimLineStyle) * m->lineCount)));
    if (!out->lines) return false;
    out->lineCount = m->lineCount;
  }
  for (uint32_t i = 0; i < m->lineCount; ++i) {
    const AnimMorphLine& l = m->lines[i];
    AnimLineStyle& o = out->lines[i];
    o.width = static_cast<uint32_t>(Lerp(static_cast<int32_t>(l.startWidth), static_cast<int32_t>(l.endWidth), ratio));
    o.r = LerpByte(l.start[0], l.end[0], ratio);
    o.g = LerpByte(l.start[1], l.end[1], ratio);
    o.b = LerpByte(l.start[2], l.end[2], ratio);
    o.a = LerpByte(l.start[3], l.end[3], ratio);
  }
  return true;
}

}  // namespace

void AnimMorph_Bounds(const AnimMorph* m, AnimRect* out) {
  out->xmin = m->bounds.xmin < m->endBounds.xmin ? m->bounds.xmin : m->endBounds.xmin;
  out->ymin = m->bounds.ymin < m->endBounds.ymin ? m->bounds.ymin : m->endBounds.ymin;
  out->xmax = m->bounds.xmax > m->endBounds.xmax ? m->bounds.xmax : m->endBounds.xmax;
  out->ymax = m->bounds.ymax > m->endBounds.ymax ? m->bounds.ymax : m->endBounds.ymax;
}

uint32_t AnimMorph_Draw(AnimRaster* r, const AnimMorph* morph, const AnimMatrix* matrix, const AnimCxform* cxform,
                        uint32_t ratio) {
  if (!r->ready) return kAnimShapeBad;
  AnimPaint textPaint{};
  textPaint.color16 = r->text16;
  textPaint.alpha = r->text[3];
  return AnimMorph_Render(r, matrix, cxform, morph, ratio > 65535 ? 65535 : ratio, &textPaint);
}

namespace {

uint32_t RenderMorph(AnimRaster* r, const AnimMatrix* matrix, const AnimCxform* cxform, const AnimMorph* morph,
                     uint32_t ratio, const AnimPaint* textPaint) {
  Path path{};
  path.r = r;
  path.p = r->player;
  path.cx = cxform;
  path.strokeTail = &path.strokes;
  path.poolStart = r->nextFree;
  path.dictionary = morph->dictionary;
  AnimMatrix_Concat(&path.m, &r->view, matrix);
  path.mirrored = path.m.a * path.m.d < 0;
  AnimStyleSet styles;
  AnimDrawSet* sets = nullptr;
  const bool built = AnimMorph_Styles(path.p, morph, ratio, &styles);
  AnimDrawSet* set = nullptr;
  if (built) set = PushSet(&path, &sets, styles, true);
  if (!set) {
    if (!sets || sets->styles.fills != styles.fills) {
      AnimStyles_Free(path.p, styles.fills, styles.fillCount);
      AnimPlayer_Free(path.p, styles.fills);
      AnimPlayer_Free(path.p, styles.lines);
    }
    FreeSets(path.p, sets);
    return kAnimShapeAborted;
  }
  // The end outline is a shape of its own: its index-bits byte comes first.
  AnimBits start, end;
  AnimBits_Reset(&start, morph->startEdges, morph->startSize);
  AnimBits_Reset(&end, morph->endEdges, morph->endSize);
  AnimBits_ReadU8(&end);
  int32_t sx = 0, sy = 0, ex = 0, ey = 0;
  bool moved = false;
  auto moveTo = [&](int32_t x, int32_t y) {
    AnimOutline_MoveTo(&path, x, y);
    moved = true;
  };
  auto curve = [&](const MorphRecord& a, const MorphRecord& b) {
    int32_t scx, scy, ecx, ecy;
    Advance(a, &sx, &sy, &scx, &scy);
    Advance(b, &ex, &ey, &ecx, &ecy);
    AnimOutline_CurveTo(&path, Lerp(scx, ecx, ratio), Lerp(scy, ecy, ratio), Lerp(sx, ex, ratio), Lerp(sy, ey, ratio));
  };
  auto flushIfEmpty = [&]() {
    if (path.segments == 0) AnimShape_Flush(&path);
  };
  const uint32_t fillBits = morph->fillBits, lineBits = morph->lineBits;
  while (!path.failed && !AnimPlayer_Aborted(path.p)) {
    const MorphRecord a = ReadMorphRecord(r, &start, fillBits, lineBits);
    if (a.kind == MorphRecord::kEnd) break;
    if (a.kind == MorphRecord::kBad) {
      path.failed = true;
      break;
    }
    if (a.kind == MorphRecord::kChange) {
      auto select = [&](uint32_t index, const AnimPaint** outPaint) {
        if (index == 0) *outPaint = nullptr;
        else if (set->styles.fillCount == 0) *outPaint = textPaint;
        else if (index <= set->styles.fillCount) *outPaint = &set->paints[index - 1];
        else path.failed = true;
      };
      if (a.flags & 2) select(a.fill0, &path.fill0);
      if (a.flags & 4) select(a.fill1, &path.fill1);
      if (a.flags & 8) {
        if (a.line == 0) {
          path.line = nullptr;
        } else if (a.line <= set->styles.lineCount) {
          path.line = &set->paints[set->styles.fillCount + a.line - 1];
          path.lineWidth = set->styles.lines[a.line - 1].width;
        } else {
          path.failed = true;
        }
      }
      if (path.failed || !(a.flags & 1)) continue;
      flushIfEmpty();
      sx = a.mx;
      sy = a.my;
      const MorphRecord b = ReadMorphRecord(r, &end, 0, 0);
      if (b.kind == MorphRecord::kChange) {
        if (b.flags & 1) {
          ex = b.mx;
          ey = b.my;
        }
        moveTo(Lerp(sx, ex, ratio), Lerp(sy, ey, ratio));
      } else if (b.kind == MorphRecord::kEdge) {
        if (!moved) moveTo(0, 0);
        moveTo(Lerp(sx, ex, ratio), Lerp(sy, ey, ratio));
        const MorphRecord next = ReadMorphRecord(r, &start, fillBits, lineBits);
        if (next.kind != MorphRecord::kEdge) {
          path.failed = true;
          break;
        }
        curve(next, b);
      } else {
        path.failed = true;
      }
      continue;
    }
    if (!moved) moveTo(0, 0);
    MorphRecord b = ReadMorphRecord(r, &end, 0, 0);
    if (b.kind == MorphRecord::kChange) {
      flushIfEmpty();
      if (b.flags & 1) {
        ex = b.mx;
        ey = b.my;
      }
      moveTo(Lerp(sx, ex, ratio), Lerp(sy, ey, ratio));
      b = ReadMorphRecord(r, &end, 0, 0);
    }
    if (b.kind != MorphRecord::kEdge) {
      path.failed = true;
      break;
    }
    curve(a, b);
  }
  if (!AnimPlayer_Aborted(path.p)) AnimShape_Flush(&path);
  FreeStrokes(path.p, path.strokes);
  AnimRaster_EmptyBuckets(r);
  r->nextFree = path.poolStart;
  FreeSets(path.p, sets);
  if (AnimPlayer_Aborted(path.p)) return kAnimShapeAborted;
  return path.failed ? kAnimShapeBad : kAnimShapeDrawn;
}

}  // namespace

uint32_t AnimMorph_Render(AnimRaster* r, const AnimMatrix* matrix, const AnimCxform* cxform, const AnimMorph* morph,
                          uint32_t ratio, const AnimPaint* textPaint) {
  const uint32_t result = RenderMorph(r, matrix, cxform, morph, ratio, textPaint);
  AnimRaster_TakeWork(r);
  return result;
}

void AnimShape_Init(AnimShape* shape, uint16_t id, uint32_t hasAlpha, AnimDictNode** dictionary) {
  *shape = AnimShape{};
  AnimChar_InitHeader(&shape->header, kAnimShape, id, shape);
  shape->hasAlpha = hasAlpha;
  shape->dictionary = dictionary;
}

void AnimShape_Free(AnimPlayer* p, AnimShape* shape) {
  AnimStyles_Free(p, shape->styles.fills, shape->styles.fillCount);
  AnimPlayer_Free(p, shape->styles.fills);
  AnimPlayer_Free(p, shape->styles.lines);
  AnimPlayer_Free(p, shape->records);
  AnimPlayer_Free(p, shape);
}

void AnimMorph_Init(AnimMorph* morph, uint16_t id, AnimDictNode** dictionary) {
  *morph = AnimMorph{};
  AnimChar_InitHeader(&morph->header, kAnimMorph, id, morph);
  morph->dictionary = dictionary;
}

void AnimMorph_FreeStyles(AnimPlayer* p, AnimMorphFill* fills, uint32_t count) {
  for (uint32_t i = 0; fills && i < count; ++i) {
    AnimPlayer_Free(p, fills[i].startRamp);
    AnimPlayer_Free(p, fills[i].endRamp);
  }
  AnimPlayer_Free(p, fills);
}

void AnimMorph_Free(AnimPlayer* p, AnimMorph* morph) {
  AnimMorph_FreeStyles(p, morph->fills, morph->fillCount);
  AnimPlayer_Free(p, morph->lines);
  AnimPlayer_Free(p, morph->startEdges);
  AnimPlayer_Free(p, morph->endEdges);
  AnimPlayer_Free(p, morph);
}
