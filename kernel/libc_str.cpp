// Memory and 8-bit string routines of the C-library layer.
#include "kernel/libc.h"

#include "kernel/mem.h"
#include "kernel/modules.h"

namespace {

// A word store into a byte buffer; may_alias keeps it defined for any
// buffer the caller hands in.
using LibcWord = uint32_t __attribute__((may_alias));

int LibcFold(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Bytes compare as signed, so 0x80 and up sort before ASCII.
int LibcSigned(char c) { return static_cast<signed char>(c); }

bool LibcStartsWithI(const char* s, const char* t) {
  for (; *t; ++s, ++t)
    if (LibcFold(*s) != LibcFold(*t)) return false;
  return true;
}

}  // namespace

void* LibcMemSet(void* dest, int byte, uint32_t n) {
  auto* p = static_cast<uint8_t*>(dest);
  const auto b = static_cast<uint8_t>(byte);
  while (n && reinterpret_cast<uintptr_t>(p) % 4) {
    *p++ = b;
    --n;
  }
  const uint32_t word = b * 0x01010101u;
  for (; n >= 4; n -= 4, p += 4) *reinterpret_cast<LibcWord*>(p) = word;
  while (n--) *p++ = b;
  return dest;
}

void* LibcMemCopy(void* dest, const void* src, uint32_t n) {
  auto* d = static_cast<uint8_t*>(dest);
  const auto* s = static_cast<const uint8_t*>(src);
  while (n--) *d++ = *s++;
  return dest;
}

void* LibcMemMove(void* dest, const void* src, uint32_t n) {
  const auto d = reinterpret_cast<uintptr_t>(dest);
  const auto s = reinterpret_cast<uintptr_t>(src);
  // Only a destination inside (src, src + n) would overwrite bytes not yet read.
  if (d <= s || d >= s + n) return LibcMemCopy(dest, src, n);
  auto* dp = static_cast<uint8_t*>(dest) + n;
  const auto* sp = static_cast<const uint8_t*>(src) + n;
  while (n--) *--dp = *--sp;
  return dest;
}

int LibcMemCompare(const void* a, const void* b, uint32_t n) {
  const auto* p = static_cast<const uint8_t*>(a);
  const auto* q = static_cast<const uint8_t*>(b);
  for (; n; --n, ++p, ++q)
    if (*p != *q) return *p - *q;
  return 0;
}

uint32_t LibcStrLen(const char* s) {
  const char* e = s;
  while (*e) ++e;
  return static_cast<uint32_t>(e - s);
}

char* LibcStrCopy(char* dest, const char* s) {
  char* d = dest;
  while ((*d++ = *s++)) {
  }
  return dest;
}

char* LibcStrCat(char* dest, const char* s) {
  LibcStrCopy(dest + LibcStrLen(dest), s);
  return dest;
}

char* LibcStrNCopy(char* dest, const char* s, uint32_t n) {
  uint32_t i = 0;
  for (; i < n && s[i]; ++i) dest[i] = s[i];
  for (; i < n; ++i) dest[i] = 0;
  return dest;
}

int LibcStrCmp(const char* s, const char* t) {
  for (; *s && *s == *t; ++s, ++t) {
  }
  return LibcSigned(*s) - LibcSigned(*t);
}

int LibcStrNCmp(const char* s, const char* t, uint32_t n) {
  if (!n) return 0;
  for (; --n && *s && *s == *t; ++s, ++t) {
  }
  return LibcSigned(*s) - LibcSigned(*t);
}

int LibcStrICmp(const char* s, const char* t) {
  int a, b;
  do {
    a = LibcFold(LibcSigned(*s++));
    b = LibcFold(LibcSigned(*t++));
  } while (a && a == b);
  return a - b;
}

int LibcStrNICmp(const char* s, const char* t, uint32_t n) {
  for (; n; --n, ++s, ++t) {
    const int a = LibcFold(LibcSigned(*s));
    const int b = LibcFold(LibcSigned(*t));
    if (a != b || !a) return a - b;
  }
  return 0;
}

const char* LibcStrChr(const char* s, int c) {
  const char ch = static_cast<char>(c);
  for (;; ++s) {
    if (*s == ch) return s;
    if (!*s) return nullptr;
  }
}

const char* LibcStrRChr(const char* s, int c) {
  const char ch = static_cast<char>(c);
  if (!ch) return nullptr;
  const char* last = nullptr;
  for (; *s; ++s)
    if (*s == ch) last = s;
  return last;
}

const char* LibcStrStr(const char* s, const char* t) {
  if (!*t) return s;
  const uint32_t n = LibcStrLen(t);
  for (; *s; ++s)
    if (*s == *t && !LibcStrNCmp(s, t, n)) return s;
  return nullptr;
}

const char* LibcStrIStr(const char* s, const char* t) {
  if (!*t) return nullptr;
  for (; *s; ++s)
    if (LibcStartsWithI(s, t)) return s;
  return nullptr;
}

char* LibcStrDup(const char* s) {
  const uint32_t n = LibcStrLen(s) + 1;
  auto* d = static_cast<char*>(MemAlloc(n, Use::String, Mod::Libc));
  if (d) LibcMemCopy(d, s, n);
  return d;
}

char* LibcStrNDup(const char* s, uint32_t n) {
  // n + 1 would wrap to an empty block that n bytes are then written into.
  if (n == UINT32_MAX) return nullptr;
  auto* d = static_cast<char*>(MemAlloc(n + 1, Use::String, Mod::Libc));
  if (!d) return nullptr;
  LibcStrNCopy(d, s, n);
  d[n] = 0;
  return d;
}
