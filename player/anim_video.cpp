// The QYVP video decoder. The stream's numbers are big-endian. Frames that
// arrive more than half an interval late are dropped undecoded; the bits of
// a frame's AC section are read in place, and a section that runs out ends
// its block.
#include "player/anim_video.h"

#include <cstring>

#include "player/anim_codebits.h"
#include "player/anim_player.h"

namespace {

// Left shifts of the AC values by natural position.
constexpr uint8_t kShift[64] = {6, 4, 4, 4, 5, 5, 6, 7, 4, 4, 4, 5, 5, 6, 7, 7, 4, 4, 5, 5, 6, 7,
                                7, 7, 4, 5, 5, 6, 7, 7, 7, 8, 5, 5, 6, 7, 7, 7, 8, 8, 5, 6, 7, 7,
                                7, 8, 8, 8, 6, 7, 7, 7, 8, 8, 8, 8, 7, 7, 7, 8, 8, 8, 8, 8};

struct SoundCode {
  uint8_t code;
  uint32_t bit;
};
constexpr SoundCode kSoundCodes[] = {{0, 0},     {10, 1},    {20, 2},    {21, 4},     {22, 64},
                                     {30, 16},   {31, 32},   {40, 128},  {41, 256},   {42, 512},
                                     {43, 1024}, {50, 2048}, {51, 4096}, {60, 8192}};

uint32_t Be16(const uint8_t* d) { return uint32_t{d[0]} << 8 | d[1]; }
uint32_t Be32(const uint8_t* d) { return uint32_t{d[0]} << 24 | uint32_t{d[1]} << 16 | uint32_t{d[2]} << 8 | d[3]; }

// One block's coefficients, dequantised in natural order.
void DecodeBlock(AnimCodeBits* b, uint8_t dc, int16_t* out) {
  std::memset(out, 0, 64 * sizeof(int16_t));
  out[0] = static_cast<int16_t>(dc * 64);
  for (uint32_t k = 1; k < 64 && !b->Exhausted();) {
    const uint32_t rs = AnimCode_AcSymbol(b);
    if (rs == 0) break;  // end of block
    const uint32_t run = rs >> 4, size = rs & 15;
    if (size == 0) {
      if (run != 15) break;
      k += 16;
      continue;
    }
    k += run;
    if (k >= 64) break;
    const uint32_t at = kAnimZigzag[k];
    out[at] = static_cast<int16_t>(static_cast<uint32_t>(AnimCode_Extend(b->Bits(size), size)) << kShift[at]);
    ++k;
  }
}

// The shift-and-add network over eight values taken `stride` apart; the
// outputs go through `finish`.
template <typename Finish>
void Butterfly(int16_t* v, int stride, Finish finish) {
  const int32_t x0 = v[0], x1 = v[stride], x2 = v[2 * stride], x3 = v[3 * stride], x4 = v[4 * stride],
                x5 = v[5 * stride], x6 = v[6 * stride], x7 = v[7 * stride];
  const int32_t a = (x0 >> 1) - x4;
  const int32_t b = x0 - a;
  const int32_t c = (x6 >> 3) - (x6 >> 1) + x2;
  const int32_t d = (c >> 1) - (c >> 3) + x6;
  const int32_t e = (x5 >> 1) + x3;
  const int32_t f = (x1 >> 3) + x7;
  const int32_t g = (e >> 3) - e + x5;
  const int32_t p = x1 - e;
  const int32_t q = (p >> 3) + (p >> 1) + (g - f);
  const int32_t s = (q >> 3) - (q >> 1) + p;
  const int32_t out[8] = {e + x1 + (b + c), s + (d + a), q + (a - d), (f + g) + (b - c),
                          (b - c) - (f + g), (a - d) - q, (d + a) - s, (b + c) - (e + x1)};
  for (int i = 0; i < 8; ++i) v[i * stride] = static_cast<int16_t>(finish(out[i]));
}

bool RestZero(const int16_t* v, int stride) {
  for (int i = 1; i < 8; ++i)
    if (v[i * stride]) return false;
  return true;
}

uint8_t Clamp8(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

void AnimVideo_PutMacroblock(AnimPlayer* p, const int16_t (*blocks)[64], int32_t left, int32_t top) {
  for (int32_t row = 0; row < 16; ++row) {
    uint16_t* out = p->frameBuffer + static_cast<size_t>(top + row) * static_cast<size_t>(p->frameWidth) + left;
    for (int32_t col = 0; col < 16; ++col) {
      const int16_t* luma = blocks[(row >> 3) * 2 + (col >> 3)];
      const int32_t y = luma[(row & 7) * 8 + (col & 7)] - 16;
      const int32_t chroma = (row >> 1) * 8 + (col >> 1);
      const int32_t u = blocks[4][chroma] - 128, v = blocks[5][chroma] - 128;
      const uint8_t r = Clamp8((1192 * y + 1634 * v) >> 10);
      const uint8_t g = Clamp8((1192 * y - 400 * u - 832 * v) >> 10);
      const uint8_t b = Clamp8((1192 * y + 2066 * u) >> 10);
      out[col] = static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    }
  }
}

namespace {

void Close(AnimPlayer* p) {
  AnimVideo& v = p->video;
  if (!v.open) return;
  AnimHook_Notify(p, kAnimNotifyProgress, 1, 0, 0, 0);
  if (v.sound) AnimHook_SoundStop(p, -1, v.soundBit & 0xFF);
  AnimPlayer_Free(p, v.owned);
  v = AnimVideo{};
  AnimHook_Notify(p, kAnimNotifyClose, 0, 0, 0, 0);
}

uint32_t Open(AnimPlayer* p, const AnimVideoArgs* args) {
  // The video takes the whole heap: every earlier player allocation goes.
  AnimHeap_Reset(&p->heap, p->workBuffer, kAnimHeapArena);
  p->heap.abortFlag = 0;
  p->movie = nullptr;
  p->stack = nullptr;
  p->stackDepth = p->stackFloor = 0;
  for (auto& bucket : p->variables) bucket = nullptr;
  // Nor may the allocator let go of decoded bitmaps or a cache in the old heap.
  AnimBitmap_ResetCache(&p->bitmaps);
  p->cacheInUse = nullptr;
  AnimVideo& v = p->video;
  v = AnimVideo{};
  v.startTime = AnimHook_Clock(p);
  if (!args) return 0;
  const uint8_t* data = args->data;
  uint32_t size = args->size;
  if (!data) {
    // From host storage: the stream is read whole into the heap.
    v.owned = static_cast<uint8_t*>(AnimHook_ReadFile(p, args->name, &size, args->offset, 0, 0));
    data = v.owned;
  }
  if (!data || size < 16) return 0;
  if (std::memcmp(data, "QYVP", 4) != 0) {
    AnimPlayer_Free(p, v.owned);
    v.owned = nullptr;
    return 1;
  }
  v.framesPerSecond = data[10];
  v.width = static_cast<int32_t>(Be16(data + 11));
  v.height = static_cast<int32_t>(Be16(data + 13));
  // Frames without a rate or of a size the blocks do not tile are no video.
  if (v.framesPerSecond == 0 || v.width == 0 || v.height == 0 || (v.width & 15) || (v.height & 15)) {
    AnimPlayer_Free(p, v.owned);
    v = AnimVideo{};
    return 1;
  }
  for (const SoundCode& s : kSoundCodes)
    if (s.code == data[15]) v.soundBit = s.bit;
  v.data = data;
  v.size = size;
  v.interval = 1000 / v.framesPerSecond;
  for (uint32_t at = 16; at + 5 <= size;) {
    const uint32_t type = data[at];
    const uint32_t length = Be32(data + at + 1);
    const uint32_t start = at + 5;
    const uint32_t end = length > size - start ? size : start + length;
    if (type == 1) {
      v.position = start;
      v.videoEnd = end;
    } else if (type == 2) {
      v.sound = data + start;
      v.soundLength = end - start;
    } else {
      break;
    }
    at = end;
  }
  const int64_t fw = p->frameWidth, fh = p->frameHeight;
  int64_t x = (int64_t{args->centreX} - 50 * int64_t{v.width} + 50) / 100;
  int64_t y = (int64_t{args->centreY} - 50 * int64_t{v.height} + 50) / 100;
  if (x + v.width > fw) x = fw - v.width;
  else if (x < 0) x = 0;
  if (y + v.height > fh) y = fh - v.height;
  else if (y < 0) y = 0;
  v.x = static_cast<int32_t>(x);
  v.y = static_cast<int32_t>(y);
  v.open = 1;
  AnimHook_Notify(p, kAnimNotifyProgress, 1, static_cast<int32_t>(v.interval), 1, 0);
  if (v.sound) {
    AnimSound sound{};
    sound.typeBit = v.soundBit;
    sound.data = const_cast<uint8_t*>(v.sound);
    sound.dataSize = v.soundLength;
    AnimHook_SoundStart(p, &sound, 0xFFFFFFFFu, 0);
  }
  return 0;
}

uint32_t Next(AnimPlayer* p) {
  AnimVideo& v = p->video;
  if (!v.open || v.ended) return kAnimVideoEnded;
  const uint32_t frameSize = v.position + 2 <= v.videoEnd ? Be16(v.data + v.position) : 0;
  if (frameSize == 0 || frameSize > v.videoEnd - v.position - 2) {
    v.ended = 1;
    AnimHook_Notify(p, kAnimNotifyProgress, 1, 0, 0, 0);
    return kAnimVideoEnded;
  }
  const uint32_t elapsed = AnimHook_Clock(p) - v.startTime;
  if (elapsed <= v.nextFrameTime + v.interval / 2 &&
      AnimVideo_DecodeFrame(p, v.data + v.position + 2, frameSize))
    AnimHook_Notify(p, kAnimNotifyRedraw, v.x, v.y, v.x + v.width, v.y + v.height);
  v.nextFrameTime += v.interval;
  v.position += frameSize + 2;
  return 0;
}

}  // namespace

void AnimVideo_Noop() {}

void AnimVideo_Idct(int16_t* block) {
  for (int col = 0; col < 8; ++col) {
    int16_t* c = block + col;
    if (RestZero(c, 8)) {
      const auto flat = static_cast<int16_t>(c[0] >> 1);
      for (int i = 0; i < 8; ++i) c[i * 8] = flat;
    } else {
      Butterfly(c, 8, [](int32_t x) { return x; });
    }
  }
  for (int row = 0; row < 8; ++row) {
    int16_t* r = block + row * 8;
    if (RestZero(r, 1)) {
      const auto flat = static_cast<int16_t>(r[0] >> 5);
      for (int i = 0; i < 8; ++i) r[i] = flat;
    } else {
      Butterfly(r, 1, [](int32_t x) { return x >> 4; });
    }
  }
}

bool AnimVideo_DecodeFrame(AnimPlayer* p, const uint8_t* frame, uint32_t size) {
  const AnimVideo& v = p->video;
  const uint32_t macroblocks = static_cast<uint32_t>(v.width / 16) * static_cast<uint32_t>(v.height / 16);
  const uint64_t dcBytes = uint64_t{macroblocks} * 6;
  if (dcBytes + 2 > size) return false;
  const uint32_t acBytes = Be16(frame + dcBytes);
  if (dcBytes + 2 + acBytes > size) return false;
  AnimCodeBits bits{frame + dcBytes + 2, acBytes, 0};
  const uint8_t* dc = frame;
  int16_t blocks[6][64];
  uint32_t index = 0;
  for (int32_t row = 0; row < v.height; row += 16) {
    for (int32_t col = 0; col < v.width; col += 16, ++index) {
      for (int b = 0; b < 6; ++b) {
        DecodeBlock(&bits, dc[index * 6 + b], blocks[b]);
        AnimVideo_Idct(blocks[b]);
      }
      const int32_t left = v.x + col, top = v.y + row;
      // Only macroblocks wholly inside the frame are drawn.
      if (left >= 0 && top >= 0 && left + 16 <= p->frameWidth && top + 16 <= p->frameHeight && p->frameBuffer)
        AnimVideo_PutMacroblock(p, blocks, left, top);
    }
  }
  return true;
}

uint32_t AnimVideo_Open(AnimPlayer* p, uint32_t operation, const AnimVideoArgs* args) {
  switch (operation) {
    case kAnimVideoOpen: AnimVideo_Noop(); return Open(p, args);
    case kAnimVideoNext: return Next(p);
    default: Close(p); return 0;
  }
}
