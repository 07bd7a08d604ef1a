// Bitmap characters and the player's DCT bitmap code: a JPEG-like block code
// (4:2:0 macroblocks in YIQ, power-of-two quantisation picked by a quality
// index, an optional run-length alpha plane). A coded bitmap is decoded only
// when a fill draws it, into a table that holds two decoded images; a third
// one evicts the one decoded longest ago.
#pragma once

#include <cstdint>

#include "player/anim_stream.h"

struct AnimHeap;

// The body of a bitmap character (type 5).
struct AnimBitmap {
  uint32_t width, height, rowBytes;  // set when the image is decoded
  uint32_t heldAsPixels;             // 0: `data` holds the coded image
  int32_t codedLength;               // -1 until the coded data is known
  uint8_t* data;                     // coded image, or 5-5-5 pixels when held as pixels
  uint8_t* alpha;                    // alpha plane of a bitmap held as pixels
  uint32_t reserved;
  uint32_t value;
  AnimChar header;
};

// Sets the header, clears the flag, data and alpha, and marks the coded
// length unknown (-1).
void AnimBitmap_Init(AnimBitmap* bitmap, uint32_t id, uint32_t value);

// One decoded image: 5-5-5 pixels stored high byte first, and its alpha
// plane (width x height bytes) or none.
struct AnimDecodedBitmap {
  int32_t key;  // the bitmap character's id; -1 free
  uint16_t width, height, rowBytes;
  uint8_t* pixels;
  uint8_t* alpha;
};

constexpr uint32_t kAnimDecodedSlots = 2;
struct AnimBitmapTable {
  AnimDecodedBitmap slots[kAnimDecodedSlots];
  uint32_t counter;  // the slot reused next
};

// Two free slots, counter 0 (at movie start; nothing is freed).
void AnimBitmap_ResetCache(AnimBitmapTable* table);
// Frees every slot's pixels and alpha plane and empties the table.
void AnimBitmap_FreeAll(AnimBitmapTable* table, AnimHeap* heap);
// The slot that holds the bitmap's pixels, decoding it into the slot reused
// next when no slot holds it. -1 when it cannot be decoded (no coded data,
// or the heap ran out: the abort flag is set then).
int32_t AnimBitmap_Decode(AnimBitmapTable* table, AnimHeap* heap, AnimBitmap* bitmap);

// Decodes one coded image into a free slot; 0. Data that ends early reads as
// zero bits; sizes the heap cannot hold raise its abort flag and leave the
// slot with what was allocated.
int32_t AnimDct_Decode(AnimHeap* heap, const uint8_t* data, uint32_t length,
                       AnimDecodedBitmap* slot);
