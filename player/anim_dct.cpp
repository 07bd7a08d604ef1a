// The DCT bitmap code and the table of decoded bitmaps.
#include "player/anim_dct.h"

#include <cstring>

#include "player/anim_codebits.h"
#include "player/anim_player.h"

namespace {

// --- bits --------------------------------------------------------------------

// The luminance DC size categories of the JPEG standard: 00 for 0, 010 to
// 110 for 1 to 5, then a run of 1 bits ended by a 0 for 6 to 11.
uint32_t DcSize(AnimCodeBits* in) {
  const uint32_t two = in->Bits(2);
  if (two == 0) return 0;
  const uint32_t three = two << 1 | in->Bit();
  if (three < 7) return three - 1;
  uint32_t size = 6;
  while (size < 12 && in->Bit()) ++size;
  return size > 11 ? 11 : size;
}

// --- quantisation ------------------------------------------------------------

// Shift amounts per quality, in natural order.
constexpr uint8_t kLuma[8][64] = {
    {3, 2, 2, 3, 3, 4, 4, 5, 2, 2, 2, 3, 3, 4, 5, 4, 2, 2, 3, 3, 4, 4, 5, 4, 2, 3, 3, 4, 5, 5, 5, 5,
     3, 3, 4, 4, 5, 6, 6, 5, 3, 4, 4, 5, 5, 6, 6, 6, 4, 5, 5, 5, 6, 6, 6, 6, 5, 5, 5, 5, 6, 6, 6, 6},
    {4, 3, 3, 4, 4, 5, 5, 6, 3, 3, 3, 4, 4, 5, 6, 5, 3, 3, 4, 4, 5, 5, 6, 5, 3, 4, 4, 5, 6, 6, 6, 6,
     4, 4, 5, 5, 6, 7, 7, 6, 4, 5, 5, 6, 6, 7, 7, 7, 5, 6, 6, 6, 7, 7, 7, 7, 6, 6, 6, 6, 7, 7, 7, 7},
    {4, 4, 4, 5, 5, 6, 6, 7, 4, 4, 4, 5, 5, 6, 7, 6, 4, 4, 5, 5, 6, 6, 7, 7, 4, 5, 5, 6, 7, 7, 7, 7,
     5, 5, 6, 6, 7, 8, 8, 7, 5, 6, 6, 7, 7, 8, 8, 8, 6, 7, 7, 7, 8, 8, 8, 8, 7, 7, 7, 7, 8, 8, 8, 8},
    {4, 5, 5, 6, 6, 7, 7, 7, 5, 5, 5, 6, 6, 7, 7, 7, 5, 5, 6, 6, 7, 7, 7, 7, 5, 6, 6, 7, 8, 8, 8, 8,
     6, 6, 7, 7, 8, 8, 8, 8, 6, 7, 7, 8, 8, 8, 8, 8, 7, 7, 8, 8, 8, 8, 8, 8, 7, 8, 8, 8, 8, 8, 8, 8},
    {5, 6, 6, 7, 7, 8, 8, 8, 6, 6, 6, 7, 7, 8, 8, 8, 6, 6, 7, 7, 8, 8, 8, 8, 6, 7, 7, 8, 9, 9, 9, 9,
     7, 7, 8, 8, 9, 9, 9, 9, 7, 8, 8, 9, 9, 9, 9, 9, 8, 8, 9, 9, 9, 9, 9, 9, 8, 9, 9, 9, 9, 9, 9, 9},
    {2, 1, 1, 2, 2, 3, 3, 4, 1, 1, 2, 2, 3, 3, 4, 4, 1, 2, 2, 3, 3, 4, 4, 5, 2, 2, 3, 3, 4, 5, 5, 5,
     2, 3, 3, 4, 5, 5, 5, 5, 3, 3, 4, 5, 5, 5, 5, 5, 3, 4, 5, 5, 5, 5, 5, 5, 4, 4, 5, 5, 5, 5, 5, 5},
    {2, 1, 1, 1, 1, 2, 2, 3, 1, 1, 1, 2, 2, 2, 3, 3, 1, 1, 2, 2, 2, 3, 3, 4, 1, 2, 2, 2, 3, 3, 4, 4,
     1, 2, 2, 3, 3, 4, 4, 4, 2, 2, 3, 3, 4, 4, 4, 4, 2, 3, 3, 4, 4, 4, 4, 4, 3, 3, 4, 4, 4, 4, 4, 4},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
     1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
};
// Chroma rows 0 to 4 give their first 32 entries; the rest repeat one value.
constexpr uint8_t kChromaHead[5][32] = {
    {3, 3, 3, 3, 4, 5, 5, 5, 3, 3, 3, 5, 5, 5, 5, 5, 3, 4, 5, 5, 5, 5, 5, 5, 4, 5, 5, 5, 5, 5, 5, 5},
    {4, 4, 4, 4, 5, 6, 6, 6, 4, 4, 4, 6, 6, 6, 6, 6, 4, 5, 6, 6, 6, 6, 6, 6, 5, 6, 6, 6, 6, 6, 6, 6},
    {4, 5, 5, 5, 6, 7, 7, 7, 5, 5, 5, 7, 7, 7, 7, 7, 5, 6, 7, 7, 7, 7, 7, 7, 6, 7, 7, 7, 7, 7, 7, 7},
    {4, 6, 6, 6, 7, 8, 8, 8, 6, 6, 6, 8, 8, 8, 8, 8, 6, 7, 8, 8, 8, 8, 8, 8, 7, 8, 8, 8, 8, 8, 8, 8},
    {5, 6, 7, 7, 8, 9, 9, 9, 6, 7, 7, 8, 9, 9, 9, 9, 7, 7, 8, 9, 9, 9, 9, 9, 8, 9, 9, 9, 9, 9, 9, 9},
};
constexpr uint8_t kChromaTail[5] = {5, 6, 7, 8, 9};
constexpr uint8_t kChroma5[64] = {2, 2, 2, 3, 3, 4, 4, 4, 2, 2, 3, 3, 4, 4, 4, 5, 2, 3, 3, 4, 4, 4,
                                  5, 5, 3, 3, 4, 4, 4, 5, 5, 5, 3, 4, 4, 4, 5, 5, 5, 5, 4, 4, 4, 5,
                                  5, 5, 5, 5, 4, 4, 5, 5, 5, 5, 5, 5, 4, 5, 5, 5, 5, 5, 5, 5};
constexpr uint8_t kChroma6[64] = {2, 2, 2, 2, 2, 2, 3, 3, 2, 2, 2, 2, 3, 3, 4, 4, 2, 2, 2, 3, 3, 4,
                                  4, 4, 2, 2, 3, 3, 4, 4, 4, 4, 2, 3, 3, 4, 4, 4, 4, 5, 2, 3, 4, 4,
                                  4, 4, 5, 5, 3, 4, 4, 4, 4, 5, 5, 5, 3, 4, 4, 4, 5, 5, 5, 5};

uint32_t ChromaShift(uint32_t quality, uint32_t at) {
  if (quality < 5) return at < 32 ? kChromaHead[quality][at] : kChromaTail[quality];
  if (quality == 5) return kChroma5[at];
  if (quality == 6) return kChroma6[at];
  return 1;
}

// --- the inverse transform ---------------------------------------------------

// The integer inverse DCT of the MPEG-2 reference decoder (Chen-Wang).
constexpr int32_t W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// Coefficients reach the transform within what a real image gives; larger
// ones (only in damaged data) are held there so no product overflows.
constexpr int32_t kCoefficientLimit = 2047;

int32_t Clip(const int16_t* clip, int64_t value) {
  if (value < -512) value = -512;
  if (value > 511) value = 511;
  return clip[static_cast<int32_t>(value) + 512];
}

// The sums are taken in 64 bits: for the coefficients of real images they
// equal the 32-bit ones, and damaged data cannot overflow them.
void IdctRow(int32_t* b) {
  int64_t x1 = b[4] * 2048, x2 = b[6], x3 = b[2], x4 = b[1], x5 = b[7], x6 = b[5], x7 = b[3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const int32_t dc = b[0] * 8;
    for (int i = 0; i < 8; ++i) b[i] = dc;
    return;
  }
  int64_t x0 = b[0] * 2048 + 128;
  int64_t x8 = W7 * (x4 + x5);
  x4 = x8 + (W1 - W7) * x4;
  x5 = x8 - (W1 + W7) * x5;
  x8 = W3 * (x6 + x7);
  x6 = x8 - (W3 - W5) * x6;
  x7 = x8 - (W3 + W5) * x7;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2);
  x2 = x1 - (W2 + W6) * x2;
  x3 = x1 + (W2 - W6) * x3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  b[0] = static_cast<int32_t>((x7 + x1) >> 8);
  b[1] = static_cast<int32_t>((x3 + x2) >> 8);
  b[2] = static_cast<int32_t>((x0 + x4) >> 8);
  b[3] = static_cast<int32_t>((x8 + x6) >> 8);
  b[4] = static_cast<int32_t>((x8 - x6) >> 8);
  b[5] = static_cast<int32_t>((x0 - x4) >> 8);
  b[6] = static_cast<int32_t>((x3 - x2) >> 8);
  b[7] = static_cast<int32_t>((x7 - x1) >> 8);
}

void IdctColumn(int32_t* b, const int16_t* clip) {
  int64_t x1 = int64_t{b[8 * 4]} * 256, x2 = b[8 * 6], x3 = b[8 * 2], x4 = b[8 * 1],
          x5 = b[8 * 7], x6 = b[8 * 5], x7 = b[8 * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const int32_t value = Clip(clip, (int64_t{b[0]} + 32) >> 6);
    for (int i = 0; i < 8; ++i) b[8 * i] = value;
    return;
  }
  int64_t x0 = int64_t{b[0]} * 256 + 8192;
  int64_t x8 = W7 * (x4 + x5) + 4;
  x4 = (x8 + (W1 - W7) * x4) >> 3;
  x5 = (x8 - (W1 + W7) * x5) >> 3;
  x8 = W3 * (x6 + x7) + 4;
  x6 = (x8 - (W3 - W5) * x6) >> 3;
  x7 = (x8 - (W3 + W5) * x7) >> 3;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2) + 4;
  x2 = (x1 - (W2 + W6) * x2) >> 3;
  x3 = (x1 + (W2 - W6) * x3) >> 3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  b[8 * 0] = Clip(clip, (x7 + x1) >> 14);
  b[8 * 1] = Clip(clip, (x3 + x2) >> 14);
  b[8 * 2] = Clip(clip, (x0 + x4) >> 14);
  b[8 * 3] = Clip(clip, (x8 + x6) >> 14);
  b[8 * 4] = Clip(clip, (x8 - x6) >> 14);
  b[8 * 5] = Clip(clip, (x0 - x4) >> 14);
  b[8 * 6] = Clip(clip, (x3 - x2) >> 14);
  b[8 * 7] = Clip(clip, (x7 - x1) >> 14);
}

// --- blocks and macroblocks --------------------------------------------------

enum Component { kY = 0, kI = 1, kQ = 2 };

struct Work {
  AnimCodeBits in;
  uint32_t quality;
  int16_t* clip;   // 1,024 entries for inputs -512 to 511
  int16_t* luma;   // 16 x 16
  int16_t* chroma[2];  // I and Q, 8 x 8 each
  uint8_t* mb[3];  // one macroblock's R, G, B, 16 x 16 each
  uint8_t* plane[3];
};

// Reads one block's coefficients with its DC (difference + predictor) and
// writes its 64 samples, rows of `pitch`, to `out`.
void DecodeBlock(Work* w, int32_t predictor, bool chroma, int32_t* dcOut, int16_t* out,
                 uint32_t pitch) {
  int32_t coefficients[64] = {};
  const uint32_t dcSize = DcSize(&w->in);
  int32_t dc = AnimCode_Extend(w->in.Bits(dcSize), dcSize) + predictor;
  // Predictors chain across the image: hold them in a range no data needs.
  if (dc > 32767) dc = 32767;
  if (dc < -32768) dc = -32768;
  *dcOut = dc;
  coefficients[0] = dc;
  for (uint32_t k = 1; k < 64;) {
    const uint32_t symbol = AnimCode_AcSymbol(&w->in);
    const uint32_t run = symbol >> 4, size = symbol & 15;
    if (size == 0) {
      if (run != 15) break;  // end of block
      k += 16;
      continue;
    }
    k += run;
    if (k >= 64) break;
    coefficients[kAnimZigzag[k]] = AnimCode_Extend(w->in.Bits(size), size);
    ++k;
  }
  int32_t block[64];
  for (uint32_t at = 0; at < 64; ++at) {
    const uint32_t shift = chroma ? ChromaShift(w->quality, at) : kLuma[w->quality][at];
    int64_t value = int64_t{coefficients[at]} * (int64_t{1} << shift);
    if (value > kCoefficientLimit) value = kCoefficientLimit;
    if (value < -kCoefficientLimit - 1) value = -kCoefficientLimit - 1;
    block[at] = static_cast<int32_t>(value);
  }
  for (int row = 0; row < 8; ++row) IdctRow(block + 8 * row);
  for (int column = 0; column < 8; ++column) IdctColumn(block + column, w->clip);
  for (uint32_t r = 0; r < 8; ++r)
    for (uint32_t c = 0; c < 8; ++c) out[r * pitch + c] = static_cast<int16_t>(block[r * 8 + c]);
}

uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// The DC predictors: the previous macroblock's and the first of the row
// above's, per component.
struct Predictors {
  int32_t previous[3];
  int32_t rowFirst[3];
};

void DecodeMacroblock(Work* w, Predictors* p, bool imageFirst, bool rowFirst) {
  int32_t dc[3];
  for (int component = 0; component < 3; ++component) {
    const int32_t predictor =
        imageFirst ? 0 : rowFirst ? p->rowFirst[component] : p->previous[component];
    if (component == kY) {
      DecodeBlock(w, predictor, false, &dc[kY], w->luma, 16);
      // The other three luma blocks are told from this macroblock's first.
      int32_t ignored;
      DecodeBlock(w, dc[kY], false, &ignored, w->luma + 8, 16);
      DecodeBlock(w, dc[kY], false, &ignored, w->luma + 8 * 16, 16);
      DecodeBlock(w, dc[kY], false, &ignored, w->luma + 8 * 16 + 8, 16);
    } else {
      DecodeBlock(w, predictor, true, &dc[component], w->chroma[component - 1], 8);
    }
  }
  for (int component = 0; component < 3; ++component) {
    p->previous[component] = dc[component];
    if (rowFirst) p->rowFirst[component] = dc[component];
  }
  for (uint32_t r = 0; r < 16; ++r)
    for (uint32_t c = 0; c < 16; ++c) {
      const int32_t y = w->luma[r * 16 + c] + 128;
      const int32_t i = w->chroma[0][(r / 2) * 8 + c / 2];
      const int32_t q = w->chroma[1][(r / 2) * 8 + c / 2];
      w->mb[0][r * 16 + c] = Clamp255(y + ((31 * i + 20 * q) >> 5));
      w->mb[1][r * 16 + c] = Clamp255(y - ((21 * q + 9 * i) >> 5));
      w->mb[2][r * 16 + c] = Clamp255(y + ((5 * (11 * q - 7 * i)) >> 5));
    }
}

// The decoder's blocks are the player's needs: the copies give way first.
void* Take(AnimPlayer* player, uint64_t bytes) {
  if (bytes > 0x7FFFFFFF) {
    player->heap.abortFlag = 1;
    return nullptr;
  }
  return AnimPlayer_Alloc(player, static_cast<int32_t>(bytes ? bytes : 1));
}

void Give(AnimPlayer* player, void* p) {
  if (p) AnimPlayer_Free(player, p);
}

void FreeWork(AnimPlayer* player, Work* w) {
  Give(player, w->clip);
  Give(player, w->luma);
  Give(player, w->chroma[0]);
  Give(player, w->chroma[1]);
  for (uint8_t* b : w->mb) Give(player, b);
  for (uint8_t* b : w->plane) Give(player, b);
}

void ReadAlpha(const uint8_t* data, uint32_t length, uint32_t offset, uint8_t* alpha,
               uint64_t size) {
  std::memset(alpha, 0, size);
  AnimCodeBits in{data, length, uint64_t{offset} * 8};
  uint64_t at = 0;
  while (at < size && !in.Exhausted()) {
    const uint8_t value = static_cast<uint8_t>(in.Bits(8));
    const uint32_t n = in.Bits(4);
    uint64_t count = in.Bits(n);
    if (count > size - at) count = size - at;
    std::memset(alpha + at, value, count);
    at += count;
  }
}

}  // namespace

// A free slot.
constexpr AnimDecodedBitmap kFreeSlot{-1, 0, 0, 0, nullptr, nullptr, nullptr};

void AnimBitmap_Init(AnimBitmap* bitmap, uint32_t id, uint32_t value) {
  bitmap->header.id = id;
  bitmap->header.type = kAnimBitmap;
  bitmap->header.body = bitmap;
  bitmap->heldAsPixels = 0;
  bitmap->data = nullptr;
  bitmap->alpha = nullptr;
  bitmap->reserved = 0;
  bitmap->codedLength = -1;
  bitmap->value = value;
}

namespace {

void Empty(AnimPlayer* player, AnimDecodedBitmap* slot) {
  Give(player, slot->pixels);
  Give(player, slot->alpha);
  *slot = kFreeSlot;
}

}  // namespace

void AnimBitmap_ResetCache(AnimBitmapTable* table) {
  for (AnimDecodedBitmap& slot : table->slots) slot = kFreeSlot;
  for (AnimDecodedBitmap& slot : table->held) slot = kFreeSlot;
  table->counter = 0;
  table->heldNext = 0;
}

void AnimBitmap_FreeAll(AnimPlayer* player) {
  AnimBitmapTable* table = &player->bitmaps;
  for (AnimDecodedBitmap& slot : table->slots) Empty(player, &slot);
  AnimBitmap_LetGoHeld(player);
  table->counter = 0;
}

void AnimBitmap_Forget(AnimPlayer* player, const AnimBitmap* bitmap) {
  for (AnimDecodedBitmap& slot : player->bitmaps.slots)
    if (slot.owner == bitmap) Empty(player, &slot);
  for (AnimDecodedBitmap& slot : player->bitmaps.held)
    if (slot.owner == bitmap) Empty(player, &slot);
}

bool AnimBitmap_LetGoHeld(AnimPlayer* player) {
  AnimBitmapTable* table = &player->bitmaps;
  bool any = false;
  for (AnimDecodedBitmap& slot : table->held) {
    any |= slot.pixels != nullptr || slot.alpha != nullptr;
    Empty(player, &slot);
  }
  table->heldNext = 0;
  return any;
}

int32_t AnimBitmap_Decode(AnimPlayer* player, AnimBitmap* bitmap) {
  AnimBitmapTable* table = &player->bitmaps;
  const auto id = static_cast<int32_t>(bitmap->header.id);
  for (uint32_t i = 0; i < kAnimDecodedSlots; ++i)
    if (AnimBitmap_Holds(table->slots[i], bitmap)) return static_cast<int32_t>(i);
  if (bitmap->heldAsPixels || !bitmap->data || bitmap->codedLength < 0) return -1;
  const uint32_t index = table->counter % kAnimDecodedSlots;
  AnimDecodedBitmap* slot = &table->slots[index];
  // Held for the step: it changes places with the slot's image, which is
  // held in its stead.
  for (AnimDecodedBitmap& held : table->held) {
    if (!AnimBitmap_Holds(held, bitmap)) continue;
    AnimDecodedBitmap was = *slot;
    *slot = held;
    held = kFreeSlot;
    if (was.key >= 0)
      held = was;
    else
      Empty(player, &was);
    table->counter = (index + 1) % kAnimDecodedSlots;
    return static_cast<int32_t>(index);
  }
  // A decode is the step's work wherever a draw asks for it (a frame showing
  // more coded bitmaps than it can hold asks again span by span): once the
  // step's work is spent nothing more is decoded, and the fill is not drawn.
  if (AnimWork_Spent(player)) return -1;
  // The slot's image is held for the rest of the step, in a free place or
  // in that of the one held longest.
  if (slot->key >= 0 && slot->pixels) {
    uint32_t at = table->heldNext;
    for (uint32_t i = 0; i < kAnimHeldDecoded; ++i)
      if (!table->held[i].pixels && !table->held[i].alpha) {
        at = i;
        break;
      }
    if (at == table->heldNext) table->heldNext = (at + 1) % kAnimHeldDecoded;
    Empty(player, &table->held[at]);
    table->held[at] = *slot;
    *slot = kFreeSlot;
  }
  Empty(player, slot);
  AnimDct_Decode(player, bitmap->data, static_cast<uint32_t>(bitmap->codedLength), slot);
  const uint32_t padded = ((slot->width + 15u) & ~15u) * ((slot->height + 15u) & ~15u);
  AnimWork_Take(player, padded / kAnimDecodedPixelsPerWork + 1);
  if (AnimPlayer_Aborted(player)) return -1;
  slot->key = id;
  slot->owner = bitmap;
  bitmap->width = slot->width;
  bitmap->height = slot->height;
  bitmap->rowBytes = slot->rowBytes;
  table->counter = (index + 1) % kAnimDecodedSlots;
  return static_cast<int32_t>(index);
}

int32_t AnimDct_Decode(AnimPlayer* player, const uint8_t* data, uint32_t length,
                       AnimDecodedBitmap* slot) {
  Work w{};
  w.in = AnimCodeBits{data, length, 0};
  w.in.Bits(32);
  const uint32_t width = w.in.Bits(16), height = w.in.Bits(16);
  const uint32_t alphaOffset = w.in.Bits(16) << 16 | w.in.Bits(16);
  w.in.Bits(1);
  w.quality = w.in.Bits(3);
  w.in.Bits(4);
  slot->width = static_cast<uint16_t>(width);
  slot->height = static_cast<uint16_t>(height);
  const uint64_t area = uint64_t{width} * height;
  const uint32_t padWidth = (width + 15) & ~15u, padHeight = (height + 15) & ~15u;

  // The planes hold one row of macroblocks, packed into the pixels before
  // the next is decoded: nothing crosses a macroblock row, and a frame's
  // collage of photos then leaves room for the photos' own pixels. An image
  // shorter than a row takes no more than its own rows.
  const uint64_t band = uint64_t{width} * (height < 16 ? height : 16);
  for (uint8_t*& plane : w.plane)
    if (!(plane = static_cast<uint8_t*>(Take(player, band)))) return FreeWork(player, &w), 0;
  if (!(w.luma = static_cast<int16_t*>(Take(player, 256 * 2))) ||
      !(w.chroma[0] = static_cast<int16_t*>(Take(player, 64 * 2))) ||
      !(w.chroma[1] = static_cast<int16_t*>(Take(player, 64 * 2))))
    return FreeWork(player, &w), 0;
  for (uint8_t*& b : w.mb)
    if (!(b = static_cast<uint8_t*>(Take(player, 256)))) return FreeWork(player, &w), 0;
  if (!(slot->pixels = static_cast<uint8_t*>(Take(player, area * 2)))) return FreeWork(player, &w), 0;
  if (!(w.clip = static_cast<int16_t*>(Take(player, 1024 * 2)))) return FreeWork(player, &w), 0;
  for (int32_t i = -512; i < 512; ++i)
    w.clip[i + 512] = static_cast<int16_t>(i < -256 ? -256 : i > 255 ? 255 : i);

  Predictors predictors{};
  for (uint32_t top = 0; top < padHeight; top += 16) {
    for (uint32_t left = 0; left < padWidth; left += 16) {
      DecodeMacroblock(&w, &predictors, top == 0 && left == 0, left == 0);
      for (uint32_t r = 0; r < 16 && top + r < height; ++r)
        for (uint32_t c = 0; c < 16 && left + c < width; ++c)
          for (int k = 0; k < 3; ++k) w.plane[k][uint64_t{r} * width + left + c] = w.mb[k][r * 16 + c];
    }
    const uint64_t first = uint64_t{top} * width;
    const uint64_t count = (height - top < 16 ? height - top : 16) * uint64_t{width};
    for (uint64_t i = 0; i < count; ++i) {
      const uint32_t pixel = (w.plane[0][i] >> 3) << 10 | (w.plane[1][i] >> 3) << 5 | w.plane[2][i] >> 3;
      slot->pixels[2 * (first + i)] = static_cast<uint8_t>(pixel >> 8);
      slot->pixels[2 * (first + i) + 1] = static_cast<uint8_t>(pixel);
    }
  }
  const uint64_t colourBytes = w.in.BytesRead();

  slot->rowBytes = static_cast<uint16_t>(2 * width);
  FreeWork(player, &w);

  if (colourBytes < length) {
    slot->alpha = static_cast<uint8_t*>(Take(player, area));
    if (!slot->alpha) return 0;
    ReadAlpha(data, length, alphaOffset, slot->alpha, area);
  }
  return 0;
}
