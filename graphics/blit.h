// The bitmap placing family of the animation renderer: puts a decoded
// object into a frame buffer of its own depth (1, 2, 4 or 8 bits, packed
// from the most significant bit, rows without padding), mirrored, scaled,
// rotated and keyed as the placement says. Dispatchers choose one
// specialised loop per placement; every loop computes the same mapping.
#pragma once
#include <cstdint>

#include "graphics/saf.h"

// The placement descriptor, as a placement command fills it.
struct BlitBitmap {
  uint32_t object;  // the object's index, low byte
  int32_t x, y;     // destination of the object's top-left pixel
  uint8_t vflip, hflip;
  uint8_t further;  // kept, read by nobody
  uint32_t keyMode;  // 0 plain, 1 outline-masked, 2 keyed, 3 OR
  uint8_t xScaleMode, yScaleMode;  // 0 none, 1 shrink, 2 enlarge
  uint8_t xFactor, yFactor;        // 1/256 units
  uint8_t blend;
  uint8_t rotate;
  uint8_t angle;  // 256ths of a turn; 0 none
  uint32_t extra;  // a clip rectangle follows
  int32_t clipLeft, clipRight, clipTop, clipBottom;
  int32_t opacity;  // -1 without blending
};

// Inclusive destination rectangle a call may write.
struct BlitClip {
  int32_t left, top, right, bottom;
};

// Sine and cosine of a 256th-of-a-turn angle, scaled by 16,384.
extern const int16_t kBlitSine[256];
extern const int16_t kBlitCosine[256];

// 8.8 steps: one source pixel per destination pixel is 256.
uint32_t BlitScaleStepX(const BlitBitmap* d);
uint32_t BlitScaleStepY(const BlitBitmap* d);

// Each returns 0 when done. The packed dispatcher takes depth 1, 2, 4 or 8
// (1 for any other); the clip is further limited to the destination.
int BlitDispatchPacked(const uint8_t* src, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                       const BlitBitmap* d, const SafObject* o, const BlitClip* clip, uint32_t depth);
int BlitDispatchA(const uint8_t* src, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                  const BlitBitmap* d, const SafObject* o, const BlitClip* clip);
int BlitDispatch8Bit(const uint8_t* src, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                     const BlitBitmap* d, const SafObject* o, const BlitClip* clip);
