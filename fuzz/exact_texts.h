// Pieces the toolkit targets share: a check that aborts the run, and texts
// of the input each copied into its own exact-size block, so that a read
// past a text's terminator is caught by the sanitizer.
#pragma once
#include <cstddef>
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
  void Free() {
    for (char16_t* b : blocks) std::free(b);
    blocks.clear();
  }

  std::vector<char16_t*> blocks;
};
