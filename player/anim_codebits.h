// JPEG's entropy-coding pieces the bitmap codec and the video decoder share:
// a bit reader that never reads past its data, the extension of a value of
// `size` bits to a signed number, the zigzag order and the luminance AC code
// table of the published standard (ITU-T T.81, Table K.5).
#pragma once

#include <cstdint>

// Most significant bit first; past the end every bit reads 0 and `exhausted`
// says so, so no input can make a loop run for ever.
struct AnimCodeBits {
  const uint8_t* data;
  uint32_t length;
  uint64_t bit;  // position from the start
  bool Exhausted() const { return bit >= uint64_t{length} * 8; }
  uint32_t Bit() {
    const uint64_t byte = bit >> 3;
    const uint32_t value = byte < length ? (data[byte] >> (7 - (bit & 7))) & 1 : 0;
    ++bit;
    return value;
  }
  uint32_t Bits(uint32_t n) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < n; ++i) value = value << 1 | Bit();
    return value;
  }
  uint64_t BytesRead() const { return (bit + 7) >> 3; }
};

// A value of `size` bits, extended to a signed number as JPEG does.
int32_t AnimCode_Extend(uint32_t value, uint32_t size);
// The next (run << 4 | size) symbol of the AC table. A bit string that is
// no code of the table reads as an end of block (0).
uint32_t AnimCode_AcSymbol(AnimCodeBits* in);
// Natural (row by row) position of each zigzag index.
extern const uint8_t kAnimZigzag[64];
