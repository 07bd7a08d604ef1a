// What the handset image sources share: the decoder's global state, the
// bounded MSB-first bit reader and the variants' entry points.
#pragma once
#include <cstdint>

#include "graphics/sis.h"

struct SisDecoder {
  uint8_t* work;
  uint32_t workSize;
  uint32_t used;  // work bytes taken by decoded animation objects
  uint8_t* model;
  uint32_t modelSize;
  uint32_t frameWidth, frameHeight;
  uint32_t maxDepth;
  uint32_t kind;
  uint32_t parsed, scratchReady, jobOpened;
  uint32_t headerLength;
  uint32_t paletteKind;
  uint32_t paletteReady;
  uint8_t palette[768];
  // The image in hand and the output being written.
  const uint8_t* data;
  uint32_t length;
  uint8_t* out;
  uint32_t outSize;
  uint32_t outOffset;  // where the next frame record goes
  // The header of a SIS image, as the probe reports it.
  SisImageInfo info;
};

extern SisDecoder gSis;

// Big-endian bytes.
inline uint32_t SisU16(const uint8_t* p) { return static_cast<uint32_t>(p[0] << 8 | p[1]); }
// The output's words are the handset's own: little-endian.
inline void SisPutWord(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// An MSB-first bit cursor over a bounded buffer. Bits past the end read as
// 0 and mark the cursor bad, so a parser checks once at a convenient point.
struct SisBits {
  const uint8_t* data;
  uint32_t length;  // bytes
  uint32_t pos;     // bits from data
  bool bad;

  uint32_t Peek(uint32_t n) const {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t at = pos + i;
      const uint32_t bit = at / 8 < length ? data[at / 8] >> (7 - at % 8) & 1 : 0;
      v = v << 1 | bit;
    }
    return v;
  }
  void Skip(uint32_t n) {
    if (pos + n > length * 8) bad = true;
    pos += n;
  }
  uint32_t Read(uint32_t n) {
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  void Align() { pos = (pos + 7) & ~7u; }
};

// Writes the five words of a frame record at the running output offset and
// returns its pixel area, or null when the output has no room for it.
uint8_t* SisBeginRecord(uint32_t width, uint32_t height, uint32_t delay, uint32_t pixelBytes);

// One-bit variant.
const uint8_t* SisMonoParseHeader(const uint8_t* data, uint32_t length);
int32_t SisMonoDecodeFrames(const uint8_t* data, uint32_t length, int32_t frame);

// Two-bit variant.
const uint8_t* SisGrayParseHeader(const uint8_t* data, uint32_t length);
int SisGrayParseLayers(const uint8_t* data, uint32_t length);
int SisGrayDecodeFrames(int32_t frame);
uint32_t SisGrayPlaneCount();
