// UTF-16 string routines of the C-library layer. Units compare unsigned.
#include "kernel/libc.h"

#include "kernel/mem.h"
#include "kernel/modules.h"

namespace {

int LibcWFold(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

}  // namespace

uint32_t LibcWStrLen(const char16_t* w) {
  const char16_t* e = w;
  while (*e) ++e;
  return static_cast<uint32_t>(e - w);
}

char16_t* LibcWStrCopy(char16_t* dest, const char16_t* w) {
  char16_t* d = dest;
  while ((*d++ = *w++)) {
  }
  return dest;
}

char16_t* LibcWStrCat(char16_t* dest, const char16_t* w) {
  LibcWStrCopy(dest + LibcWStrLen(dest), w);
  return dest;
}

char16_t* LibcWStrNCopy(char16_t* dest, const char16_t* w, uint32_t n) {
  uint32_t i = 0;
  for (; i < n && w[i]; ++i) dest[i] = w[i];
  for (; i < n; ++i) dest[i] = 0;
  return dest;
}

int LibcWStrCmp(const char16_t* w, const char16_t* v) {
  for (; *w && *w == *v; ++w, ++v) {
  }
  return int{*w} - int{*v};
}

int LibcWStrNCmp(const char16_t* w, const char16_t* v, uint32_t n) {
  if (!n) return 0;
  for (; --n && *w && *w == *v; ++w, ++v) {
  }
  return int{*w} - int{*v};
}

int LibcWStrICmp(const char16_t* w, const char16_t* v) {
  int a, b;
  do {
    a = LibcWFold(*w++);
    b = LibcWFold(*v++);
  } while (a && a == b);
  return a - b;
}

int LibcStrWStrNICmp(const char* s, const char16_t* w, uint32_t n) {
  for (; n; --n, ++s, ++w) {
    const int a = LibcWFold(static_cast<uint8_t>(*s));
    const int b = LibcWFold(*w);
    if (a != b || !a) return a - b;
  }
  return 0;
}

const char16_t* LibcWStrChr(const char16_t* w, char16_t unit) {
  for (;; ++w) {
    if (*w == unit) return w;
    if (!*w) return nullptr;
  }
}

const char16_t* LibcWStrStr(const char16_t* w, const char16_t* v) {
  if (!*v) return w;
  const uint32_t n = LibcWStrLen(v);
  for (; *w; ++w)
    if (*w == *v && !LibcWStrNCmp(w, v, n)) return w;
  return nullptr;
}

char16_t* LibcWStrDup(const char16_t* w) {
  const uint32_t bytes = (LibcWStrLen(w) + 1) * 2;
  auto* d = static_cast<char16_t*>(MemAlloc(bytes, Use::String, Mod::Libc));
  if (d) LibcWStrCopy(d, w);
  return d;
}
