// The engine heap against glibc on one browser-like allocation trace: many
// string-sized blocks, some medium records, a few large buffers, frees in
// no particular order and buffers that grow. Both replay the same list, so
// the ratio of the two timings is the heap's cost.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/modules.h"

namespace {

enum class MemOpKind : uint8_t { Alloc, Free, Realloc };

struct MemOp {
  MemOpKind kind;
  uint32_t slot;
  uint32_t size;
};

struct MemTrace {
  std::vector<MemOp> ops;
  uint32_t slots = 0;
};

uint32_t MemTraceSize(std::mt19937& rng) {
  const uint32_t r = rng() % 100;
  if (r < 80) return 8 + rng() % 57;        // strings, small records
  if (r < 97) return 200 + rng() % 1801;    // nodes, headers, small images
  return 8 * 1024 + rng() % (24 * 1024 + 1);  // page text, decoded bands
}

// Fixed seed: every run and both allocators see the same operations.
const MemTrace& MemGetTrace() {
  static const MemTrace trace = [] {
    MemTrace t;
    std::mt19937 rng(20240601);
    std::vector<uint32_t> live, freeSlots;
    std::vector<uint32_t> sizeOf;
    for (int i = 0; i < 40000; ++i) {
      const uint32_t r = rng() % 100;
      // Keep about a thousand blocks live, as a loaded page does.
      const bool mustFree = live.size() > 1400;
      const uint32_t freeShare = live.size() > 600 ? 45 : 15;
      if (!live.empty() && (mustFree || r < freeShare)) {
        const size_t k = rng() % live.size();
        t.ops.push_back({MemOpKind::Free, live[k], 0});
        freeSlots.push_back(live[k]);
        live[k] = live.back();
        live.pop_back();
      } else if (!live.empty() && r < freeShare + 10) {
        const size_t k = rng() % live.size();
        const uint32_t old = sizeOf[live[k]];
        if (old >= 64 * 1024) continue;
        const uint32_t grown = old + old / 4 + 1 + rng() % (old + 16);
        t.ops.push_back({MemOpKind::Realloc, live[k], grown});
        sizeOf[live[k]] = grown;
      } else {
        uint32_t slot;
        if (freeSlots.empty()) {
          slot = t.slots++;
          sizeOf.push_back(0);
        } else {
          slot = freeSlots.back();
          freeSlots.pop_back();
        }
        const uint32_t size = MemTraceSize(rng);
        t.ops.push_back({MemOpKind::Alloc, slot, size});
        sizeOf[slot] = size;
        live.push_back(slot);
      }
    }
    std::shuffle(live.begin(), live.end(), rng);
    for (uint32_t slot : live) t.ops.push_back({MemOpKind::Free, slot, 0});
    return t;
  }();
  return trace;
}

constexpr uint32_t kMemArenaBytes = 4 * 1024 * 1024;

// Replays the trace once; false when the heap ran out.
bool MemReplayEngine(const MemTrace& trace, std::vector<void*>& slot) {
  for (const MemOp& op : trace.ops) {
    switch (op.kind) {
      case MemOpKind::Alloc:
        slot[op.slot] = MemAlloc(op.size, Use::Data, Mod::TestCode);
        if (!slot[op.slot]) return false;
        static_cast<char*>(slot[op.slot])[0] = 1;
        break;
      case MemOpKind::Realloc:
        slot[op.slot] = MemRealloc(slot[op.slot], op.size, 0, Mod::TestCode);
        if (!slot[op.slot]) return false;
        break;
      case MemOpKind::Free:
        MemFree(&slot[op.slot]);
        break;
    }
  }
  return true;
}

bool MemReplayGlibc(const MemTrace& trace, std::vector<void*>& slot) {
  for (const MemOp& op : trace.ops) {
    switch (op.kind) {
      case MemOpKind::Alloc:
        slot[op.slot] = std::malloc(op.size);
        if (!slot[op.slot]) return false;
        static_cast<char*>(slot[op.slot])[0] = 1;
        break;
      case MemOpKind::Realloc: {
        void* p = std::realloc(slot[op.slot], op.size);
        if (!p) return false;
        slot[op.slot] = p;
        break;
      }
      case MemOpKind::Free:
        std::free(slot[op.slot]);
        slot[op.slot] = nullptr;
        break;
    }
  }
  return true;
}

void BM_MemEngineHeap(benchmark::State& state) {
  const MemTrace& trace = MemGetTrace();
  std::vector<uint64_t> arena(kMemArenaBytes / 8);
  HeapArenaInit(arena.data(), kMemArenaBytes);
  MemSetEvictor(nullptr);
  std::vector<void*> slot(trace.slots, nullptr);
  for (auto _ : state) {
    if (!MemReplayEngine(trace, slot)) {
      state.SkipWithError("engine heap exhausted");
      break;
    }
    benchmark::ClobberMemory();
  }
  if (HeapValidate() || HeapGetStats().freeBlocks != 1) state.SkipWithError("arena left unsound");
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(trace.ops.size()));
  HeapArenaInit(nullptr, 0);
}
BENCHMARK(BM_MemEngineHeap);

void BM_MemGlibc(benchmark::State& state) {
  const MemTrace& trace = MemGetTrace();
  std::vector<void*> slot(trace.slots, nullptr);
  for (auto _ : state) {
    if (!MemReplayGlibc(trace, slot)) {
      state.SkipWithError("malloc failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(trace.ops.size()));
}
BENCHMARK(BM_MemGlibc);

}  // namespace
