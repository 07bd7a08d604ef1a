// The engine as a benchmark uses it, brought up when the benchmark begins and
// taken down when it ends: the heap, the task manager, the toolkit with its
// ticker, and the body font at 10 points. Every benchmark sets up what it
// uses, so they run in any order and any selection.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "host/fontft.h"

// The iterations a benchmark with a fixed count runs: one each where
// QOR_BENCH_QUICK is set, as in the shuffled run of the tests, which shows
// that every benchmark runs in any order, not what it measures.
inline bool BenchQuick() { return std::getenv("QOR_BENCH_QUICK") != nullptr; }
inline int64_t BenchIterations(int64_t n) { return BenchQuick() ? 1 : n; }

namespace BenchPart {
constexpr uint32_t Tasks = 1, Toolkit = 2, Ticker = 4, Font = 8;
}

class BenchEngine {
 public:
  // The engine heap always; the parts asked for on top of it.
  explicit BenchEngine(uint32_t parts);
  ~BenchEngine();
  BenchEngine(const BenchEngine&) = delete;
  BenchEngine& operator=(const BenchEngine&) = delete;

  // Everything asked for came up.
  bool ok() const { return ok_; }
  FontInstance* font() const { return font_; }

 private:
  bool ok_ = false;
  bool tasks_ = false, toolkit_ = false, fonts_ = false;
  FontInstance* font_ = nullptr;
};
