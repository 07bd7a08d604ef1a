// The built-in file decompressor: a bit stream, most significant bit first,
// of literals and back-references.
//
//   code 0-3, 5 bits v    literal 32 * code + v        (bytes below 128)
//   code 4-5, 6 bits v    literal 128 + 64 * (code-4) + v
//   code 6, 13 bits v     copy, distance v + 320
//   code 7, 1, 6 bits v   copy, distance v
//   code 7, 0, 8 bits v   copy, distance v + 64
//
// A copy's length follows as k one bits and a zero, then for k > 0 a field of
// k + 1 bits plus 2^(k+1); k = 0 means 3. Codes stop once fewer than 9 bits of
// the input are left; when exactly the last byte is left untouched, it is the
// last output byte as it stands.
#include <bit>

#include "kernel/qorrom.h"

namespace {

// The bits of the chain, refilled a token at a time. Past the end of the
// input the reader yields zero bits; `used` tells whether a token needed them.
struct QorRomBits {
  const QorRomInBlock* block;
  const uint8_t* p;
  const uint8_t* end;
  uint64_t pending;  // at the top, the next bit first
  uint32_t count;    // bits in `pending`
  uint64_t used;     // bits taken so far
};

void QorRomBitsEnter(QorRomBits* r, const QorRomInBlock* block) {
  while (block && block->length == 0) block = block->next;
  r->block = block;
  if (block) {
    r->p = block->data + block->offset;
    r->end = r->p + block->length;
  } else {
    r->p = r->end = nullptr;
  }
}

// Tops the pending bits up to at least 57, enough for the longest token (39).
inline void QorRomBitsRefill(QorRomBits* r) {
  if (r->count > 56) return;
  if (r->end - r->p >= 8) {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = word << 8 | r->p[i];
    r->pending |= word >> r->count;
    r->p += (63 - r->count) >> 3;
    r->count |= 56;
    return;
  }
  while (r->count <= 56) {
    uint64_t byte = 0;
    if (r->p == r->end && r->block) QorRomBitsEnter(r, r->block->next);
    if (r->p != r->end) byte = *r->p++;
    r->pending |= byte << (56 - r->count);
    r->count += 8;
  }
}

inline uint32_t QorRomBitsTake(QorRomBits* r, uint32_t n) {
  const auto value = static_cast<uint32_t>(r->pending >> (64 - n));
  r->pending <<= n;
  r->count -= n;
  r->used += n;
  return value;
}

}  // namespace

int QorRomDecodeStream(const QorRomInBlock* input, uint8_t* output, uint32_t* capacity) {
  uint64_t inputBytes = 0;
  for (const QorRomInBlock* b = input; b; b = b->next) inputBytes += b->length;
  const uint32_t room = *capacity;
  *capacity = 0;
  if (inputBytes == 0) return 0;
  const uint64_t limit = inputBytes * 8;
  const uint64_t stop = limit - 8;

  QorRomBits r{};
  QorRomBitsEnter(&r, input);
  uint32_t pos = 0;
  while (r.used < stop) {
    QorRomBitsRefill(&r);
    const uint32_t code = QorRomBitsTake(&r, 3);
    if (code < 6) {
      const uint32_t byte = code < 4 ? code * 32 + QorRomBitsTake(&r, 5)
                                     : 128 + (code - 4) * 64 + QorRomBitsTake(&r, 6);
      if (pos >= room) return 0;
      output[pos++] = static_cast<uint8_t>(byte);
    } else {
      uint32_t distance;
      if (code == 6)
        distance = QorRomBitsTake(&r, 13) + 320;
      else if (QorRomBitsTake(&r, 1))
        distance = QorRomBitsTake(&r, 6);
      else
        distance = QorRomBitsTake(&r, 8) + 64;
      const auto ones = static_cast<uint32_t>(std::countl_one(r.pending));
      if (ones >= 12) return 0;
      QorRomBitsTake(&r, ones + 1);
      const uint32_t length = ones == 0 ? 3 : QorRomBitsTake(&r, ones + 1) + (2u << ones);
      if (distance == 0 || distance > pos || length > room - pos) return 0;
      const uint8_t* from = output + pos - distance;
      uint8_t* to = output + pos;
      // Byte by byte: an overlapping copy repeats what it has just written.
      for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
      pos += length;
    }
    if (r.used > limit) return 0;
  }
  if (r.used == stop) {
    QorRomBitsRefill(&r);
    if (pos >= room) return 0;
    output[pos++] = static_cast<uint8_t>(QorRomBitsTake(&r, 8));
  }
  *capacity = pos;
  return 1;
}

int QorRomDecompress(const uint8_t* input, uint32_t length, uint8_t* image, uint32_t* capacity) {
  const QorRomInBlock block{nullptr, input, length, 0};
  const uint32_t expected = *capacity;
  return QorRomDecodeStream(&block, image + 4, capacity) && *capacity == expected;
}
