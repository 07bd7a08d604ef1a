// Bitmap characters and the player's DCT bitmap code: a JPEG-like block code
// (4:2:0 macroblocks in YIQ, power-of-two quantisation picked by a quality
// index, an optional run-length alpha plane). A coded bitmap is decoded only
// when a fill draws it, into a table that holds two decoded images; a third
// one evicts the one decoded longest ago. What a step's drawing evicts is
// held until the next step (as a copy that gives way), so a frame showing
// more bitmaps than the table holds decodes each of them once, not once a
// span.
#pragma once

#include <cstdint>

#include "player/anim_stream.h"

struct AnimPlayer;

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
  // The character decoded: levels are movies of their own, whose bitmaps
  // may share an id.
  const AnimBitmap* owner;
};

// Whether a slot holds that bitmap character's pixels.
inline bool AnimBitmap_Holds(const AnimDecodedBitmap& slot, const AnimBitmap* bitmap) {
  return slot.key == static_cast<int32_t>(bitmap->header.id) && slot.owner == bitmap;
}

constexpr uint32_t kAnimDecodedSlots = 2;
// The evicted images a step may hold besides the slots: a collage of
// thumbnails in one shape fits; a frame showing more decodes again.
constexpr uint32_t kAnimHeldDecoded = 14;
struct AnimBitmapTable {
  AnimDecodedBitmap slots[kAnimDecodedSlots];
  uint32_t counter;  // the slot reused next
  // Evicted while a step draws, kept until the next step starts (or until
  // a block the player needs wants their room); heldNext is the one given
  // up next when all are taken.
  AnimDecodedBitmap held[kAnimHeldDecoded];
  uint32_t heldNext;
};

// Two free slots, counter 0, nothing held (at movie start and when the heap
// is reset; nothing is freed).
void AnimBitmap_ResetCache(AnimBitmapTable* table);

// The functions below work on the player's table (p->bitmaps) and take
// their blocks through the player's allocator (AnimPlayer_Alloc): the
// copies of what can be drawn again give way for what the decoder needs.
// Frees every slot's pixels and alpha plane and empties the table.
void AnimBitmap_FreeAll(AnimPlayer* p);
// Frees the slot holding that character's pixels (the character goes).
void AnimBitmap_Forget(AnimPlayer* p, const AnimBitmap* bitmap);
// Frees the images held for the step's frames (a step starts, or their room
// is needed). True when any went.
bool AnimBitmap_LetGoHeld(AnimPlayer* p);
// The slot that holds the bitmap's pixels. When no slot holds it, the slot
// reused next is filled: with the image held for the step when there is
// one (no decode), otherwise by decoding it; what the slot held is held for
// the step. -1 when it cannot be decoded (no coded data, or the heap ran
// out: the abort flag is set then).
int32_t AnimBitmap_Decode(AnimPlayer* p, AnimBitmap* bitmap);

// Decodes one coded image into a free slot; 0. Data that ends early reads as
// zero bits; sizes the heap cannot hold raise the abort flag and leave the
// slot with what was allocated.
int32_t AnimDct_Decode(AnimPlayer* p, const uint8_t* data, uint32_t length,
                       AnimDecodedBitmap* slot);
