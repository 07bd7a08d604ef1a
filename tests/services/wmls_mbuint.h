// The unit format's variable-length integers, for the tests and fuzz
// targets that write units of their own.
#pragma once
#include <cstdint>
#include <vector>

inline void WmlsMbUInt(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  do {
    tmp[n++] = v & 0x7F;
    v >>= 7;
  } while (v);
  while (n > 1) out.push_back(tmp[--n] | 0x80);
  out.push_back(tmp[0]);
}
