// Decimal parsing against an independent model, and formatting round trips
// in every radix.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/libc.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Blanks, one sign, digits; the value wraps to 32 bits.
int32_t Model(const char* s) {
  while (*s == ' ' || (*s >= 9 && *s <= 13)) ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  uint64_t v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) v = (v * 10 + static_cast<uint64_t>(*s - '0')) & 0xFFFFFFFFu;
  return static_cast<int32_t>(static_cast<uint32_t>(negative ? (0 - v) & 0xFFFFFFFFu : v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::vector<char> text(size + 1, 0);
  std::vector<char16_t> wide(size + 1, 0);
  for (size_t i = 0; i < size; ++i) {
    text[i] = static_cast<char>(data[i]);
    wide[i] = data[i];
  }
  const int32_t value = LibcAtoI(text.data());
  Check(value == Model(text.data()));
  Check(LibcWtoI(wide.data()) == value);

  char buf[40];
  char16_t wbuf[40];
  Check(LibcAtoI(LibcItoA(value, buf, 10)) == value);
  const int radix = size ? data[0] % 40 : 10;
  LibcItoA(value, buf, radix);
  LibcIntToWStr(value, wbuf, radix);
  const uint32_t len = LibcStrLen(buf);
  Check(len <= 33);
  for (uint32_t i = 0; i <= len; ++i) Check(wbuf[i] == static_cast<uint8_t>(buf[i]));
  if (radix < 2 || radix > 36) {
    Check(len == 0);
  } else if (radix == 10) {
    Check(std::strtoll(buf, nullptr, 10) == value);
  } else {
    Check(buf[0] != '-' && std::strtoull(buf, nullptr, radix) == static_cast<uint32_t>(value));
  }
  return 0;
}
