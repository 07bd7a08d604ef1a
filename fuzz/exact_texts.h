// Pieces the toolkit targets share: a check that aborts the run, and texts
// of the input each copied into its own exact-size block, so that a read
// past a text's terminator is caught by the sanitizer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// The blocks of one run, freed at its end.
class FuzzTexts {
 public:
  // A block of `units` units holding `text` at its start; the caller ends it.
  char16_t* Add(const std::vector<char16_t>& text, size_t units) {
    auto* block = static_cast<char16_t*>(std::malloc(units * 2));
    size_t n = 0;
    for (char16_t u : text) block[n++] = u;
    blocks.push_back(block);
    return block;
  }
  // Reads texts of 16-bit little-endian units from data[i] on, each ended by
  // a 0 unit, until `most` are kept or an empty one ends them; `keep` adds
  // each one's block. Where the bytes after them begin.
  template <class Keep>
  size_t Read(const uint8_t* data, size_t size, size_t i, size_t most, Keep keep) {
    std::vector<char16_t> current;
    while (i + 1 < size && blocks.size() < most) {
      const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
      i += 2;
      if (unit) {
        current.push_back(unit);
        continue;
      }
      if (current.empty()) break;
      keep(current);
      current.clear();
    }
    return i;
  }
  void Free() {
    for (char16_t* b : blocks) std::free(b);
    blocks.clear();
  }

  std::vector<char16_t*> blocks;
};
