// Number parsing and formatting, base64 quads and small record helpers of
// the C-library layer.
#include "kernel/libc.h"

#include "kernel/mem.h"

namespace {

template <class Ch>
bool LibcIsBlank(Ch c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// Accumulates unsigned so an overlong number wraps to 32 bits without
// signed overflow.
template <class Ch>
int32_t LibcParseDecimal(const Ch* s) {
  while (LibcIsBlank(*s)) ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  uint32_t value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) value = value * 10 + static_cast<uint32_t>(*s - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

template <class Ch>
Ch* LibcFormatInt(int32_t value, Ch* dest, int radix) {
  Ch* d = dest;
  if (radix < 2 || radix > 36) {
    *d = 0;
    return dest;
  }
  auto magnitude = static_cast<uint32_t>(value);
  if (radix == 10 && value < 0) {
    *d++ = '-';
    magnitude = 0u - magnitude;  // also right for INT32_MIN
  }
  Ch digits[32];
  int n = 0;
  const auto base = static_cast<uint32_t>(radix);
  do {
    const uint32_t r = magnitude % base;
    digits[n++] = static_cast<Ch>(r < 10 ? '0' + r : 'A' + (r - 10));
    magnitude /= base;
  } while (magnitude);
  while (n) *d++ = digits[--n];
  *d = 0;
  return dest;
}

constexpr char kLibcBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kLibcBase64None = 64;

// The search starts where the character's class begins in the alphabet.
uint8_t LibcBase64Value(uint8_t c) {
  int from = 62;
  if (c >= 'A' && c <= 'Z') from = 0;
  else if (c >= 'a' && c <= 'z') from = 26;
  else if (c >= '0' && c <= '9') from = 52;
  for (int i = from; i < 64; ++i)
    if (static_cast<uint8_t>(kLibcBase64Alphabet[i]) == c) return static_cast<uint8_t>(i);
  return kLibcBase64None;
}

}  // namespace

int32_t LibcAtoI(const char* s) { return LibcParseDecimal(s); }

int32_t LibcWtoI(const char16_t* w) { return LibcParseDecimal(w); }

char* LibcItoA(int32_t value, char* dest, int radix) {
  return LibcFormatInt(value, dest, radix);
}

char16_t* LibcIntToWStr(int32_t value, char16_t* dest, int radix) {
  return LibcFormatInt(value, dest, radix);
}

int LibcBase64DecodeQuads(uint8_t* dest, uint32_t* count, const char* text, uint32_t length) {
  uint32_t out = 0;
  uint8_t q[4];
  int kept = 0;
  for (uint32_t i = 0; i < length; ++i) {
    const auto c = static_cast<uint8_t>(text[i]);
    const uint8_t v = LibcBase64Value(c);
    if (v == kLibcBase64None && c != '=') continue;  // line breaks, junk
    q[kept++] = v;
    if (kept < 4) continue;
    kept = 0;
    if (q[0] == kLibcBase64None || q[1] == kLibcBase64None) break;
    dest[out++] = static_cast<uint8_t>(q[0] << 2 | q[1] >> 4);
    if (q[2] == kLibcBase64None) continue;
    dest[out++] = static_cast<uint8_t>((q[1] & 0x0F) << 4 | q[2] >> 2);
    if (q[3] == kLibcBase64None) continue;
    dest[out++] = static_cast<uint8_t>((q[2] & 0x03) << 6 | q[3]);
  }
  *count = out;
  return 1;
}

uint32_t LibcBase64Decode(const char* text, uint32_t length, uint8_t* bytes, uint32_t* count) {
  uint32_t out = 0, bits = 0;
  int held = 0;  // bits waiting in `bits`
  for (uint32_t i = 0; i < length && text[i] != '='; ++i) {
    const uint8_t v = LibcBase64Value(static_cast<uint8_t>(text[i]));
    if (v == kLibcBase64None) continue;
    bits = (bits << 6 | v) & 0xFFFFFF;
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes[out++] = static_cast<uint8_t>(bits >> held);
    }
  }
  if (count) *count = out;
  return out;
}

int LibcHexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

namespace {

// The length of the line end at text[i] (CR LF, LF or a lone CR), 0 for none.
uint32_t LineEnd(const char* text, uint32_t length, uint32_t i) {
  if (i >= length) return 0;
  if (text[i] == '\n') return 1;
  if (text[i] != '\r') return 0;
  return i + 1 < length && text[i + 1] == '\n' ? 2 : 1;
}

}  // namespace

uint32_t LibcQpDecode(const char* text, uint32_t length, uint8_t* output) {
  uint32_t out = 0;
  for (uint32_t i = 0; i < length;) {
    const char c = text[i];
    if (c == ' ' || c == '\t') {
      // Blanks that only trail the line are padding.
      uint32_t j = i;
      while (j < length && (text[j] == ' ' || text[j] == '\t')) ++j;
      if (j == length || LineEnd(text, length, j)) {
        i = j;
        continue;
      }
      output[out++] = static_cast<uint8_t>(c);
      ++i;
      continue;
    }
    if (c != '=') {
      output[out++] = static_cast<uint8_t>(c);
      ++i;
      continue;
    }
    if (i + 1 == length) break;  // a soft break at the end of the text
    if (const uint32_t end = LineEnd(text, length, i + 1)) {
      i += 1 + end;  // soft line break
      continue;
    }
    // i + 1 < length here: an "=" ending the text was taken above.
    const int high = LibcHexDigit(text[i + 1]);
    const int low = i + 2 < length ? LibcHexDigit(text[i + 2]) : -1;
    if (high >= 0 && low >= 0) {
      output[out++] = static_cast<uint8_t>(high << 4 | low);
      i += 3;
    } else {
      output[out++] = '=';
      ++i;
    }
  }
  return out;
}

void LibcFreePtrArray(void*** handle) {
  void** slots = *handle;
  if (!slots) return;
  for (int i = 0; i < kLibcPtrArraySlots; ++i) MemFree(&slots[i]);
  MemFree(handle);
}

void UtilSetPair(uint32_t* record, uint32_t a, uint32_t b) {
  record[0] = a;
  record[1] = b;
}
