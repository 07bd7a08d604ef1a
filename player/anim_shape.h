// Shape drawing: reads a shape character's records each time it is drawn,
// turns them under the object's matrix and colour transform into edges for
// the rasterizer, strokes every line segment as a filled rectangle, and can
// keep the edges of one object so an unchanged object redraws without
// reading its records again.
#pragma once

#include <cstdint>

#include "player/anim_raster.h"
#include "player/anim_stream.h"

struct AnimStroke {
  int32_t x0, y0, x1, y1;  // device units
  uint32_t first;          // first segment after a move
  const AnimPaint* line;
  uint32_t width;  // the line style's width in movie units
  AnimStroke* next;
};

// A style set pushed by a draw, with the paints its edges point at.
struct AnimDrawSet {
  AnimStyleSet styles;
  uint32_t owned;  // the style arrays were read by the draw (not the shape's own)
  AnimPaint* paints;  // fills then lines
  AnimDrawSet* next;
};

// The renderer's cache words of one display object, and what the cached
// edges were made under: the device matrix, the colour transform, the
// raster's mode (smooth edges run over doubled rows) and the pool's epoch.
// A cache made under anything else is drawn afresh.
struct AnimShapeCache {
  uint8_t hasCache;
  uint8_t hasCxform;
  uint8_t smooth;
  uint8_t lost;  // the heap could not hold part of it: given up at the end
  uint32_t epoch;
  AnimEdgeCache* first;
  AnimEdgeCache* current;
  AnimDrawSet* sets;
  AnimMatrix device;
  AnimCxform cxform;
  // Kept caches stand in one list, so that emptying the pool lets each go
  // without a walk over every object: the next one, and the link that
  // points at this one (none while it is not listed).
  AnimShapeCache* nextKept;
  AnimShapeCache** keptLink;
};

// The reader state over a shape's record bytes.
struct AnimBits {
  const uint8_t* data;
  uint32_t size;
  uint32_t pos;
  uint32_t bitsLeft;
  uint32_t bitBuffer;
  uint32_t overrun;  // a read went past the record bytes
};

void AnimBits_Reset(AnimBits* b, const uint8_t* data, uint32_t size);
uint32_t AnimBits_ReadFlag(AnimBits* b);
uint32_t AnimBits_ReadU(AnimBits* b, uint32_t n);
int32_t AnimBits_ReadS(AnimBits* b, uint32_t n);
uint32_t AnimBits_ReadU8(AnimBits* b);
uint32_t AnimBits_ReadU16(AnimBits* b);
void AnimBits_ReadMatrix(AnimBits* b, AnimMatrix* m);

// One shape record as read: an edge (straight, or curved with its control
// deltas), a style change (flags 1 move, 2 fill 0, 4 fill 1, 8 line, 16 new
// styles, and the fields of those set) or the end record.
struct AnimShapeRecord {
  enum Kind : uint32_t { kEnd, kChange, kEdge } kind;
  uint32_t flags;
  int32_t mx, my;
  uint32_t fill0, fill1, line;
  uint32_t straight;
  int32_t cdx, cdy, dx, dy;
};

// Reads one record: 0 at the end record or when the bytes run out (the
// reader's overrun flag tells which), else 1. A new-styles record's style
// arrays follow it in the bytes; the caller reads them.
uint32_t AnimShape_ReadRecord(AnimBits* b, AnimShapeRecord* out, uint32_t fillBits, uint32_t lineBits);

// Results of drawing.
inline constexpr uint32_t kAnimShapeDrawn = 0;
inline constexpr uint32_t kAnimShapeBad = 1;      // a record or style index outside its table
inline constexpr uint32_t kAnimShapeAborted = 2;  // the heap ran out

// Draws one shape under the object's matrix (the raster's view matrix is put
// in front of it). With cache, a filled cache is replayed and an empty one is
// filled by the draw; without, the draw leaves the edge pool as it found it.
uint32_t AnimShape_Draw(AnimRaster* r, const AnimShape* shape, const AnimMatrix* matrix, const AnimCxform* cxform,
                        AnimShapeCache* cache);
// The drawing loop under AnimShape_Draw: a valid cache is replayed, else the
// records are read into edges and strokes; textPaint fills the indexes of a
// shape without fill arrays.
uint32_t AnimShape_Render(AnimRaster* r, const AnimMatrix* matrix, const AnimCxform* cxform, const AnimShape* shape,
                          AnimShapeCache* cache, const AnimPaint* textPaint);
// A new shape character's header and fields; its styles and records are
// the tag's to fill. Free releases the styles, the records and the shape.
void AnimShape_Init(AnimShape* shape, uint16_t id, uint32_t hasAlpha, AnimDictNode** dictionary);
void AnimShape_Free(AnimPlayer* p, AnimShape* shape);
// Frees what a cache holds and empties it.
void AnimShapeCache_Free(AnimRaster* r, AnimShapeCache* cache);
void AnimShapeCache_Release(AnimPlayer* p, AnimShapeCache* cache);
// Lets every listed cache go, and the one a draw uses as the draw allows
// (AnimPlayer::cacheInUse); true when any block went. For the allocator.
bool AnimShapeCache_LetGoAll(AnimPlayer* p, AnimRaster* r);
// Lists a kept cache at the head of `kept` (once).
void AnimShapeCache_List(AnimShapeCache** kept, AnimShapeCache* cache);
// True when the cache holds edges made under this matrix, colour transform
// and pool: only then may it be replayed.
bool AnimShapeCache_Valid(const AnimRaster* r, const AnimShapeCache* cache, const AnimMatrix* matrix,
                          const AnimCxform* cxform);
// Draws a valid cache again: every edge run as it was saved, then its
// strokes, each alone.
void AnimShape_ReplayCache(AnimRaster* r, const AnimMatrix* matrix, AnimShapeCache* cache);
// True when fewer than a quarter of the edge pool's entries are free: the
// caller then resets the pool and drops every object's cache.
bool AnimRaster_PoolLow(const AnimRaster* r);
void AnimStyles_Free(AnimPlayer* p, AnimFillStyle* fills, uint32_t count);

// Draws a morph shape at a ratio from 0 (its start) to 65535 (its end),
// interpolating every point and style value; morphs are never cached.
uint32_t AnimMorph_Draw(AnimRaster* r, const AnimMorph* morph, const AnimMatrix* matrix, const AnimCxform* cxform,
                        uint32_t ratio);
uint32_t AnimMorph_Render(AnimRaster* r, const AnimMatrix* matrix, const AnimCxform* cxform, const AnimMorph* morph,
                          uint32_t ratio, const AnimPaint* textPaint);
void AnimMorph_Init(AnimMorph* morph, uint16_t id, AnimDictNode** dictionary);
void AnimMorph_FreeStyles(AnimPlayer* p, AnimMorphFill* fills, uint32_t count);
void AnimMorph_Free(AnimPlayer* p, AnimMorph* morph);
// The union of the start and end bounds, whatever the ratio.
void AnimMorph_Bounds(const AnimMorph* morph, AnimRect* out);
