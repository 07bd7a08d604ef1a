// The rasterizer: edges in 1/32 pixel sorted into one bucket per sample row,
// scan-converted into the host's 16-bit 5-5-5 frame buffer. The plain mode
// samples each pixel row once and writes pixels directly; the smooth mode
// samples twice per row and blends through a colour row and a coverage row.
#pragma once

#include <cstdint>

#include "player/anim_stream.h"

struct AnimPlayer;
struct AnimShapeCache;

inline constexpr int32_t kAnimEdgeCapacity = 1800;
// Drawing work that costs a host step's budget as much as one object a walk
// meets: pixels filled or composited, and edge work (records read, segments
// offered, edges placed in their buckets, active edges walked per row).
inline constexpr uint32_t kAnimPixelsPerWork = 512;
inline constexpr uint32_t kAnimEdgeStepsPerWork = 32;
// A coded bitmap decoded costs as much for every 16 pixels of its
// macroblocks (one unit more for the tables each decode builds): a pixel
// decoded takes about as long as 32 filled.
inline constexpr uint32_t kAnimDecodedPixelsPerWork = 16;
// The raster's cacheMode: shape objects keep their edges as their frames
// decide, keep none, or all keep theirs.
inline constexpr uint32_t kAnimCacheByFrame = 0, kAnimCacheNone = 1, kAnimCacheAll = 2;

struct AnimBitmap;

// What an edge fills with, prepared for one draw: a solid colour already
// through the colour transform, a gradient, a bitmap, or a kind the span
// fillers skip.
struct AnimPaint {
  uint32_t kind;     // 0 solid; 0x10 linear; 0x12 radial; 0x40 / 0x41 bitmap; 128 nothing
  uint32_t color16;  // 5-5-5
  uint32_t alpha;    // 0-255
  // Gradients: device pixel to ramp space (u = a x + b y + tx, v = c x + d y + ty),
  // the ramp of 256 entries of R, G, B, A and 4 spare bytes, and whether any
  // stop is translucent.
  // Bitmaps: device pixel to texel x 128 in the same terms.
  float a, b, c, d;
  int32_t tx, ty;
  const uint8_t* ramp;
  uint32_t translucent;
  // Bitmaps: the character, the slot of the decoded-bitmap table it was
  // decoded into (looked up again by id when another bitmap took the slot),
  // and the alpha table mapping its alpha plane, or none.
  AnimBitmap* bitmap;
  int32_t slot;
  const uint8_t* alphaTable;
  // A cached draw keeps its own copies of the ramp (1) and the alpha table
  // (2): the style's own are rebuilt by every other draw of the shape.
  uint32_t ownsTables;
};

struct AnimEdge {
  int32_t xTop, xBottom;
  int32_t yBottom, yTop;
  int32_t slope;   // x change per y unit x 256
  int32_t x;       // current x x 256
  int32_t xFirst;  // x at the first sample row x 256, for cache replay
  const AnimPaint* left;
  const AnimPaint* right;
  AnimEdge* nextInBucket;
  AnimEdge* nextActive;
};

// A run of cached edges: the bucket heads as they stood before a render (the
// range firstBucket..lastBucket only), the pool range their edges occupy and
// the fills each edge was added with, so the run can be drawn again unchanged.
struct AnimEdgeCache {
  int32_t firstBucket, lastBucket;
  AnimEdge** savedBuckets;
  int32_t firstEdge, endEdge;
  struct AnimStroke* strokes;
  AnimEdgeCache* next;
  const AnimPaint** savedFills;  // left, right of every edge of the run
  uint32_t lost;                 // the heap could not hold the saved heads
  uint32_t steps;                // the edge work of adding the run's edges
};

struct AnimRaster {
  AnimPlayer* player;
  int32_t edgeCapacity;
  int32_t width, height;
  uint32_t ready;
  uint32_t smooth;
  uint32_t backgroundSet;
  int32_t firstBucket, lastBucket;
  int32_t bucketCount;
  // The edge work that brought the buckets' edges in since they were last
  // emptied (the records read and segments offered with them too): a cached
  // run keeps it, and its every replay costs it again, as a draw from the
  // records would.
  uint32_t bucketSteps;
  AnimEdge** buckets;
  AnimEdge** bucketTails;  // the last edge of each non-empty bucket's list
  AnimEdge* pool;
  int32_t nextFree;
  int32_t dirtyXMin, dirtyXMax, dirtyYMin, dirtyYMax;
  AnimMatrix view;
  // Edge work not yet taken from the step's work: every record read, every
  // segment offered, every edge added, every step taken finding an edge's
  // place in its bucket, and every active edge walked at each sample row,
  // with the steps that keep that list in order.
  uint32_t edgeSteps;
  uint16_t* pixels;
  uint16_t* colourRow;
  uint32_t* coverageRow;
  int32_t rowMinX, rowMaxX;
  int32_t rowPitch;  // bytes
  int32_t clipLeft, clipRight, clipTop, clipBottom;
  // Edge caches made under another pool (before a reset or a new context)
  // carry another epoch and are never replayed.
  uint32_t cacheEpoch;
  // The objects' caches that keep edges of this pool, listed (the list
  // outlives a remade context: its caches go with their objects).
  AnimShapeCache* keptCaches;
  // Pixels not yet taken from the step's work: those of the spans filled
  // (sub-rows counted apart) and those the smooth mode composites.
  uint32_t pixelsSpanned;
  // Which shape objects keep their edges: 0 those their clip's frame leaves
  // alone, 1 none, 2 all (the last two for comparing the ways of drawing).
  uint32_t cacheMode;
  // Edges that reached the pool, and those of them it had no room for: a
  // draw's share tells how much room its character needs.
  uint32_t edgesOffered, edgesDropped;
  // The frame as the background sprite left it (rows of rowPitch bytes,
  // allocated once) and that sprite's name; while the name is set, clearing
  // copies the image.
  uint16_t* backgroundImage;
  char* backgroundName;
  uint8_t background[4];
  uint8_t text[4];
  uint32_t text16;
  // The smooth mode's sub-row being drawn, and the last opaque bitmap span
  // written straight into the frame in this render.
  int32_t bucket;
  struct BitmapRun {
    const AnimPaint* paint;
    int32_t row, bucket;
    int32_t first, last;  // the span's pixel columns
    int64_t from, to;     // the pixel columns written
  } bitmapRun;
  // The texels the last opaque bitmap span without rotation wrote, by frame
  // column (width entries), so that the next pixel rows on the same texel row
  // copy them instead of stepping through the bitmap again. Emptied by every
  // render.
  uint16_t* texelRow;
  struct TexelRun {
    const AnimBitmap* bitmap;
    const uint8_t* texels;  // the texel row
    int64_t origin, step;   // texel x 128 at frame column 0, and per column
    int32_t from, to;       // the frame columns held
  } texelRun;
};

uint32_t AnimColor_To16(uint32_t r, uint32_t g, uint32_t b);
uint16_t AnimColor_Blend(uint16_t destination, uint16_t source, uint32_t alpha);
// Mixes an 8-bit source colour into a 5-5-5 pixel; R, G, B bytes out.
void AnimColor_Blend24(uint16_t destination, const uint8_t* source, uint32_t alpha, uint8_t* out);

// Sets up the context over a frame buffer (pitch in bytes); false when the
// heap could not hold its tables (the abort flag is then set).
bool AnimRaster_Init(AnimRaster* r, AnimPlayer* player, uint16_t* pixels, int32_t width, int32_t height,
                     int32_t pitch, bool smooth);
void AnimRaster_Free(AnimRaster* r);
void AnimRaster_AddEdge(AnimRaster* r, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const AnimPaint* fill0,
                        const AnimPaint* fill1);
// Edge work done for the edges being gathered (records read, segments
// offered): it joins the run a cache keeps.
inline void AnimRaster_CountSteps(AnimRaster* r, uint32_t steps) {
  r->edgeSteps += steps;
  r->bucketSteps += steps;
}
// The drawing work counted so far, taken from the host step's work (what
// falls short of a whole unit waits for the next): every render and every
// read of records ends with it, whoever asked for the drawing.
void AnimRaster_TakeWork(AnimRaster* r);
// Mode 0 draws the buckets filled since the last render, saving them into
// cache when one is given; mode 1 replays cache. Both leave the buckets empty.
void AnimRaster_Render(AnimRaster* r, uint32_t mode, AnimEdgeCache* cache);
// The span fillers the render draws each span of a fill with, by its kind
// and the mode: the span's ends x0 and x1 (1/32 pixel) as the frame cuts
// them, writing only the pixel columns minX to maxX of the area redrawn.
// The plain ones write the frame's row; the smooth ones (AA) the colour and
// coverage rows, except the bitmap filler, which writes the frame's row in
// both modes.
void AnimSpan_Solid(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX, int32_t maxX);
void AnimSpan_SolidAA(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX, int32_t maxX);
void AnimSpan_Linear(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX, int32_t maxX);
void AnimSpan_Radial(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX, int32_t maxX);
void AnimSpan_LinearAA(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                       int32_t maxX);
void AnimSpan_RadialAA(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX,
                       int32_t maxX);
void AnimSpan_Bitmap(AnimRaster* r, const AnimPaint* s, int32_t row, int32_t x0, int32_t x1, int32_t minX, int32_t maxX);
void AnimRaster_SetBackground(AnimRaster* r, uint8_t red, uint8_t green, uint8_t blue);
void AnimRaster_ClearFrame(AnimRaster* r);
// Copies the area being redrawn from the background image buffer.
void AnimRaster_CopyImage(AnimRaster* r);
// Empties the edge pool; caches made before are no longer replayed.
void AnimRaster_ResetPool(AnimRaster* r);
// Empties the buckets without drawing them.
void AnimRaster_EmptyBuckets(AnimRaster* r);
