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

// Reads the mb_u_int at `at`, which is moved past it.
inline uint32_t WmlsReadMbUInt(const std::vector<uint8_t>& in, size_t& at) {
  uint32_t v = 0;
  while (at < in.size()) {
    const uint8_t b = in[at++];
    v = v << 7 | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return v;
}

// A compiled unit taken apart after its header: the constant count, the
// character set, and the bytes after them. Join puts it together again with
// the size of the rest in the header.
struct WmlsUnitSplit {
  uint8_t version = 1;
  uint32_t count = 0, charset = 0;
  std::vector<uint8_t> rest;

  static WmlsUnitSplit Of(const std::vector<uint8_t>& unit) {
    WmlsUnitSplit s;
    size_t at = 0;
    s.version = unit.empty() ? 0 : unit[at++];
    WmlsReadMbUInt(unit, at);
    s.count = WmlsReadMbUInt(unit, at);
    s.charset = WmlsReadMbUInt(unit, at);
    s.rest.assign(unit.begin() + static_cast<long>(at), unit.end());
    return s;
  }
  std::vector<uint8_t> Join() const {
    std::vector<uint8_t> body;
    WmlsMbUInt(body, count);
    WmlsMbUInt(body, charset);
    body.insert(body.end(), rest.begin(), rest.end());
    std::vector<uint8_t> unit{version};
    WmlsMbUInt(unit, static_cast<uint32_t>(body.size()));
    unit.insert(unit.end(), body.begin(), body.end());
    return unit;
  }
};

// The unit with its first constant, a text, made of `type` (4 or 6) and
// claiming `claim` bytes where it holds only its own few.
inline std::vector<uint8_t> WmlsClaimText(const std::vector<uint8_t>& unit, uint32_t claim,
                                          uint8_t type = 4) {
  WmlsUnitSplit s = WmlsUnitSplit::Of(unit);
  size_t at = 1;
  WmlsReadMbUInt(s.rest, at);  // the length it has
  std::vector<uint8_t> rest{type};
  WmlsMbUInt(rest, claim);
  rest.insert(rest.end(), s.rest.begin() + static_cast<long>(at), s.rest.end());
  s.rest = rest;
  return s.Join();
}
