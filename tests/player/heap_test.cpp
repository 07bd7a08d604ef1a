#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "player/anim_heap.h"

namespace {

struct Heap {
  Heap() : arena(256000) { AnimHeap_Reset(&heap, arena.data()); }
  ~Heap() {
    const char* fault = AnimHeap_Check(&heap);
    EXPECT_EQ(fault, nullptr) << fault;
  }
  std::vector<uint8_t> arena;
  AnimHeap heap{};
};

TEST(AnimHeap, RequestsRoundToAlignedBlocks) {
  Heap h;
  for (const auto& [request, block] : {std::pair{-5, 16u}, {8, 16u}, {9, 24u}, {20000, 20008u}}) {
    void* p = AnimHeap_Alloc(&h.heap, request);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(AnimHeap_BlockSize(&h.heap, p), block) << request;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
  }
}

uint32_t QuickLength(const AnimHeap& heap) {
  uint32_t n = 0;
  for (uint32_t c = heap.quick; c != kAnimHeapNone; c = *reinterpret_cast<const uint32_t*>(heap.base + c + 4)) ++n;
  return n;
}

TEST(AnimHeap, FrequentSmallSizesArePreCarvedOntoTheQuickList) {
  Heap h;
  // Each split for 24 bytes raises the bin's count; once it is above 1 a
  // split carves further 24-byte blocks onto the quick list at once.
  auto* a = static_cast<uint8_t*>(AnimHeap_Alloc(&h.heap, 16));
  auto* b = static_cast<uint8_t*>(AnimHeap_Alloc(&h.heap, 16));
  EXPECT_EQ(b, a + 24);
  EXPECT_EQ(QuickLength(h.heap), 0u);
  auto* c = static_cast<uint8_t*>(AnimHeap_Alloc(&h.heap, 16));  // count 2: one extra block
  EXPECT_EQ(QuickLength(h.heap), 1u);
  auto* d = static_cast<uint8_t*>(AnimHeap_Alloc(&h.heap, 16));  // served from the quick list
  EXPECT_EQ(d, c + 24);
  EXPECT_EQ(QuickLength(h.heap), 0u);
  AnimHeap_Alloc(&h.heap, 16);  // count 4: three extra blocks
  EXPECT_EQ(QuickLength(h.heap), 3u);
  EXPECT_EQ(h.heap.bins[3].count, 8u);  // one split and three carved blocks
}

TEST(AnimHeap, ARequestTooLargeFailsSetsTheAbortFlagAndTheHeapStaysUsable) {
  Heap h;
  ASSERT_NE(AnimHeap_Alloc(&h.heap, 100000), nullptr);
  EXPECT_EQ(AnimHeap_Alloc(&h.heap, 200000), nullptr);
  EXPECT_EQ(h.heap.abortFlag, 1u);
  EXPECT_NE(AnimHeap_Alloc(&h.heap, 1000), nullptr);
  EXPECT_EQ(AnimHeap_Alloc(&h.heap, 0x7FFFFFFF), nullptr);
}

struct Live {
  uint8_t* p;
  int32_t n;
  uint8_t fill;
};

// Random alloc and free runs: every block keeps its bytes, no two blocks
// overlap, and the walker finds every invariant intact after each step.
TEST(AnimHeap, RandomisedRunsKeepEveryInvariant) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    Heap h;
    std::mt19937 rng(seed);
    std::vector<Live> live;
    for (int step = 0; step < 3000; ++step) {
      const uint32_t pick = rng() % 100;
      if (pick < 55 || live.empty()) {
        const uint32_t kind = rng() % 10;
        const int32_t n = static_cast<int32_t>(rng() % (kind < 6 ? 64 : kind < 9 ? 1200 : 30000));
        auto* p = static_cast<uint8_t*>(AnimHeap_Malloc(&h.heap, n));
        if (!p) continue;
        ASSERT_GE(AnimHeap_BlockSize(&h.heap, p), static_cast<uint32_t>(n > 0 ? n : 0) + 8);
        const auto fill = static_cast<uint8_t>(rng());
        if (n > 0) std::memset(p, fill, static_cast<size_t>(n));
        live.push_back({p, n, fill});
      } else {
        const size_t i = rng() % live.size();
        for (int32_t k = 0; k < live[i].n; ++k) ASSERT_EQ(live[i].p[k], live[i].fill) << "seed " << seed;
        AnimHeap_Free(&h.heap, live[i].p);
        live[i] = live.back();
        live.pop_back();
      }
      if (step % 50 == 0) {
        const char* fault = AnimHeap_Check(&h.heap);
        ASSERT_EQ(fault, nullptr) << fault << " seed " << seed << " step " << step;
      }
    }
    for (const Live& l : live)
      for (int32_t k = 0; k < l.n; ++k) ASSERT_EQ(l.p[k], l.fill);
    const char* fault = AnimHeap_Check(&h.heap);
    ASSERT_EQ(fault, nullptr) << fault;
    for (const Live& l : live) AnimHeap_Free(&h.heap, l.p);
    EXPECT_EQ(h.heap.bytesInUse, 0u);
    // With everything freed the whole arena can be had again in pieces.
    EXPECT_NE(AnimHeap_Malloc(&h.heap, 60000), nullptr) << "seed " << seed;
  }
}

TEST(AnimHeap, TextsParseAsNumbersUpToTheFirstStrayCharacter) {
  const std::pair<const char*, double> cases[] = {{"  42", 42}, {"1.25e2", 125}, {"5d-1", 0.5},
                                                  {"12abc", 12}, {"1e+2", 1},    {"\t5", 0}};
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(AnimStr_ToNumber(text), value) << text;
}

}  // namespace
