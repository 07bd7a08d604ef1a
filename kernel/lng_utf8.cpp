// UTF-8 and the UTF-16 byte-pair readers.
//
// Decoding checks every sequence: a bad lead or continuation byte, an
// overlong form, an encoded surrogate or a code point past U+10FFFF gives
// U+FFFD and consumes one byte, so that a broken sequence never swallows the
// markup that follows it. The length, decode and read paths share the rule.
#include "kernel/libc.h"

#include "kernel/lng.h"
#include "kernel/lng_tables.h"
#include "kernel/datachunk.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr int kIllFormed = -1, kIncomplete = 0;

uint32_t Limit(const uint32_t* capacity) {
  return capacity && *capacity ? *capacity : UINT32_MAX;
}

// The length of the sequence at p with its code point, kIncomplete when the
// `available` bytes end inside a sequence that is well formed so far, or
// kIllFormed. Each byte is checked before the next is read, so a terminator
// inside a sequence stops the reading there.
int Sequence(const uint8_t* p, uint32_t available, uint32_t* point) {
  const uint8_t b0 = p[0];
  if (b0 < 0x80) {
    *point = b0;
    return 1;
  }
  int length;
  uint8_t low = 0x80, high = 0xBF;  // range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;   // overlong below U+0800
    if (b0 == 0xED) high = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;   // overlong below U+10000
    if (b0 == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return kIllFormed;
  }
  uint32_t cp = b0 & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if (static_cast<uint32_t>(i) >= available) return kIncomplete;
    const uint8_t b = p[i];
    if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return kIllFormed;
    cp = cp << 6 | (b & 0x3F);
  }
  *point = cp;
  return length;
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char16_t Finish(Result* result, char16_t unit) {
  if (unit == 0 && result) *result = kOk;
  return unit;
}

char16_t ReadPair(Result* result, Queue* queue, bool bigEndian) {
  uint8_t b[2];
  if (LngChainPeek(queue, b, 2) < 2) {
    if (result) *result = kLngEndOfData;
    return 0;
  }
  LngChainSkip(queue, 2);
  return Finish(result, bigEndian ? static_cast<char16_t>(b[0] << 8 | b[1])
                                  : static_cast<char16_t>(b[1] << 8 | b[0]));
}

}  // namespace

char16_t LngUtf8ReadChar(Result* result, Queue* queue) {
  uint8_t bytes[4];
  const uint32_t got = LngChainPeek(queue, bytes, 4);
  if (got == 0) {
    if (result) *result = kLngEndOfData;
    return 0;
  }
  uint32_t point = 0;
  const int length = Sequence(bytes, got, &point);
  if (length == kIncomplete) {
    if (result) *result = kLngEndOfData;
    return 0;
  }
  if (length == kIllFormed) {
    LngChainSkip(queue, 1);
    return kReplacement;
  }
  if (length < 4) {
    LngChainSkip(queue, static_cast<uint32_t>(length));
    return Finish(result, static_cast<char16_t>(point));
  }
  // The queue itself remembers that the high half went out: the character's
  // bytes stay at the head until its low half is read.
  UtilDataChunk* head = UtilDataChunkHead(queue);
  if (head->halfRead == head->offset + 1) {
    head->halfRead = 0;
    LngChainSkip(queue, 4);
    return static_cast<char16_t>(0xDC00 | (point & 0x3FF));
  }
  head->halfRead = head->offset + 1;
  return static_cast<char16_t>(0xD800 | ((point - 0x10000) >> 10));
}

uint32_t LngUtf8WideLength(uint32_t* units, const char16_t* string) {
  uint32_t bytes = 0, n = 0;
  for (; string[n]; ++n) {
    const char16_t u = string[n];
    if (u < 0x80) {
      bytes += 1;
    } else if (u < 0x800) {
      bytes += 2;
    } else if (IsHigh(u) && IsLow(string[n + 1])) {
      bytes += 4;
      ++n;
    } else {
      bytes += 3;
    }
  }
  if (units) *units = n;
  return bytes;
}

uint32_t LngUtf8Encode(const char16_t* units, uint32_t count, uint8_t* dest, uint32_t* capacity) {
  const uint32_t limit = Limit(capacity);
  uint32_t i = 0, out = 0;
  while (i < count) {
    const char16_t u = units[i];
    uint8_t b[4];
    uint32_t length, used = 1;
    if (u < 0x80) {
      b[0] = static_cast<uint8_t>(u);
      length = 1;
    } else if (u < 0x800) {
      b[0] = static_cast<uint8_t>(0xC0 | u >> 6);
      b[1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
      length = 2;
    } else if (IsHigh(u) && i + 1 == count) {
      break;  // its low half may come with the next buffer
    } else if (IsHigh(u) && IsLow(units[i + 1])) {
      const uint32_t cp = 0x10000 + ((u - 0xD800u) << 10) + (units[i + 1] - 0xDC00u);
      b[0] = static_cast<uint8_t>(0xF0 | cp >> 18);
      b[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
      b[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      b[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
      length = 4;
      used = 2;
    } else {
      // A lone surrogate has no UTF-8 form; the decoder would read its
      // three-byte pattern back as U+FFFD, so that is what is written.
      const char16_t c = IsHigh(u) || IsLow(u) ? kReplacement : u;
      b[0] = static_cast<uint8_t>(0xE0 | c >> 12);
      b[1] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      b[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      length = 3;
    }
    if (length > limit - out) break;
    for (uint32_t k = 0; k < length; ++k) dest[out + k] = b[k];
    out += length;
    i += used;
  }
  if (capacity) *capacity = out;
  return i;
}

uint32_t LngUtf8ByteLength(uint32_t* bytes, const char* text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  uint32_t i = 0, units = 0;
  while (p[i]) {
    uint32_t point;
    // A terminator inside a sequence makes it ill-formed, never read past.
    const int length = Sequence(p + i, 4, &point);
    if (length <= 0) {
      i += 1;
      units += 1;
    } else {
      i += static_cast<uint32_t>(length);
      units += length == 4 ? 2 : 1;
    }
  }
  if (bytes) *bytes = i;
  return units;
}

uint32_t LngUtf8Decode(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity) {
  const uint32_t limit = Limit(capacity);
  uint32_t i = 0, out = 0;
  while (i < count) {
    uint32_t point = 0;
    const int length = Sequence(bytes + i, count - i, &point);
    if (length == kIncomplete) break;  // the rest may come with the next buffer
    const uint32_t need = length == 4 ? 2 : 1;
    if (need > limit - out) break;
    if (length == kIllFormed) {
      dest[out++] = kReplacement;
      i += 1;
    } else if (length == 4) {
      dest[out++] = static_cast<char16_t>(0xD800 | ((point - 0x10000) >> 10));
      dest[out++] = static_cast<char16_t>(0xDC00 | (point & 0x3FF));
      i += 4;
    } else {
      dest[out++] = static_cast<char16_t>(point);
      i += static_cast<uint32_t>(length);
    }
  }
  if (capacity) *capacity = out;
  return i;
}

char16_t LngUtf16LeReadChar(Result* result, Queue* queue) { return ReadPair(result, queue, false); }
char16_t LngUtf16BeReadChar(Result* result, Queue* queue) { return ReadPair(result, queue, true); }

uint32_t LngUtf16ByteLength(uint32_t* bytes, const char* text) {
  uint32_t n = 0;
  for (;; ++n) {
    char16_t unit;
    LibcMemCopy(&unit, text + 2 * n, sizeof unit);  // the text need not be aligned
    if (!unit) break;
  }
  if (bytes) *bytes = 2 * n;
  return n;
}

uint32_t LngUtf16Copy(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity) {
  const uint32_t limit = Limit(capacity);
  const uint32_t n = count / 2 < limit ? count / 2 : limit;
  if (n) LibcMemCopy(dest, bytes, 2 * n);
  if (capacity) *capacity = n;
  return 2 * n;
}
