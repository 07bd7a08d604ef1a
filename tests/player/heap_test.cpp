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
  uint32_t Block(void* p) { return AnimHeap_BlockSize(&heap, p); }
  std::vector<uint8_t> arena;
  AnimHeap heap{};
};

struct SizeCase {
  int32_t request;
  uint32_t block;
};

class HeapRequestSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(HeapRequestSize, RoundsToTheBlockSize) {
  Heap h;
  void* p = AnimHeap_Alloc(&h.heap, GetParam().request);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(h.Block(p), GetParam().block);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeapRequestSize,
                         ::testing::Values(SizeCase{0, 16}, SizeCase{-5, 16}, SizeCase{1, 16}, SizeCase{8, 16},
                                           SizeCase{9, 24}, SizeCase{100, 112}, SizeCase{600, 608},
                                           SizeCase{20000, 20008}));

TEST(AnimHeap, FreeThenAllocOfTheSameSizeReturnsTheSameBlock) {
  Heap h;
  void* a = AnimHeap_Alloc(&h.heap, 40);
  AnimHeap_Alloc(&h.heap, 40);
  AnimHeap_Free(&h.heap, a);
  EXPECT_EQ(AnimHeap_Alloc(&h.heap, 40), a);
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
  void* a = AnimHeap_Alloc(&h.heap, 100000);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(AnimHeap_Alloc(&h.heap, 200000), nullptr);
  EXPECT_EQ(h.heap.abortFlag, 1u);
  EXPECT_EQ(AnimHeap_Check(&h.heap), nullptr);
  EXPECT_NE(AnimHeap_Alloc(&h.heap, 1000), nullptr);
  EXPECT_EQ(AnimHeap_Alloc(&h.heap, 0x7FFFFFFF), nullptr);
  EXPECT_EQ(AnimHeap_Malloc(&h.heap, 300000), nullptr);
}

TEST(AnimHeap, FreeIgnoresPointersOutsideTheArena) {
  Heap h;
  void* a = AnimHeap_Alloc(&h.heap, 64);
  int local = 0;
  AnimHeap_Free(&h.heap, &local);
  AnimHeap_Free(&h.heap, nullptr);
  AnimHeap_Free(&h.heap, h.arena.data() + 200000);  // beyond the break
  EXPECT_EQ(h.heap.quick, kAnimHeapNone);
  AnimHeap_Free(&h.heap, a);
  EXPECT_NE(h.heap.quick, kAnimHeapNone);
}

TEST(AnimHeap, AnUnalignedArenaStillGivesAlignedBlocks) {
  std::vector<uint8_t> arena(256008);
  AnimHeap heap{};
  AnimHeap_Reset(&heap, arena.data() + 3);
  for (int n : {1, 17, 600, 9000}) {
    void* p = AnimHeap_Alloc(&heap, n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
  }
  EXPECT_EQ(AnimHeap_Check(&heap), nullptr);
}

// A request just under a growth step on an arena off its alignment: the
// piece taken must still hold it, and nothing is written past the arena.
TEST(AnimHeap, GrowingOnAnUnalignedArenaAlwaysHoldsTheRequest) {
  for (uint32_t shift = 1; shift < 8; ++shift) {
    for (int32_t request : {16368, 253936, 8184, 8176}) {
      std::vector<uint8_t> arena(256008 + 64, 0xEE);
      AnimHeap heap{};
      AnimHeap_Reset(&heap, arena.data() + shift);
      void* p = AnimHeap_Alloc(&heap, request);
      if (p) {
        EXPECT_GE(AnimHeap_BlockSize(&heap, p), static_cast<uint32_t>(request) + 8) << shift << " " << request;
        void* q = AnimHeap_Alloc(&heap, 24);
        if (q) std::memset(q, 1, 24);
        const char* fault = AnimHeap_Check(&heap);
        EXPECT_EQ(fault, nullptr) << shift << " " << request << ": " << fault;
      }
      for (size_t i = shift + kAnimHeapArena; i < arena.size(); ++i) ASSERT_EQ(arena[i], 0xEE) << shift << " " << request;
    }
  }
}

TEST(AnimHeap, ResetDiscardsEveryBlock) {
  Heap h;
  for (int i = 0; i < 100; ++i) AnimHeap_Alloc(&h.heap, 100 + i);
  AnimHeap_Reset(&h.heap, h.arena.data());
  EXPECT_EQ(h.heap.bytesInUse, 0u);
  EXPECT_NE(AnimHeap_Alloc(&h.heap, 200000), nullptr);
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
        int32_t n;
        const uint32_t kind = rng() % 10;
        if (kind < 6) n = static_cast<int32_t>(rng() % 64);
        else if (kind < 9) n = static_cast<int32_t>(rng() % 1200);
        else n = static_cast<int32_t>(rng() % 30000);
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

struct NumberCase {
  const char* text;
  double value;
};

class AnimNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(AnimNumber, ParsesText) { EXPECT_DOUBLE_EQ(AnimStr_ToNumber(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Texts, AnimNumber,
                         ::testing::Values(NumberCase{"", 0}, NumberCase{"  42", 42}, NumberCase{"-3.5", -3.5},
                                           NumberCase{"+7", 7}, NumberCase{"1.25e2", 125}, NumberCase{"2E3", 2000},
                                           NumberCase{"5d-1", 0.5}, NumberCase{"12abc", 12},
                                           NumberCase{"1e+2", 1}, NumberCase{"\t5", 0}, NumberCase{".5", 0.5}));

}  // namespace
