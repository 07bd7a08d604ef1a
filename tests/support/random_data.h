// Seeded random test data, the same on every machine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// n bytes drawn evenly from the first `alphabet` values.
inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n, uint32_t alphabet = 256) {
  std::vector<uint8_t> b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng() % alphabet);
  return b;
}

// Bytes with short repeats over a small alphabet, as images have: past the
// first `reach` bytes, all but one in `odds` copy one of the `reach` before.
inline std::vector<uint8_t> RandomRepeats(uint32_t seed, size_t n, uint32_t reach,
                                          uint32_t alphabet, uint32_t odds = 3) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i)
    d[i] = i > reach && rng() % odds ? d[i - 1 - rng() % reach]
                                     : static_cast<uint8_t>(rng() % alphabet);
  return d;
}
