// The heap's block arithmetic, best fit, merging, the resize paths, and a
// randomized run against a model of the live blocks.
#include "kernel/heap.h"

#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "kernel/mem.h"
#include "kernel/modules.h"

namespace {

class HeapTest : public ::testing::Test {
 protected:
  // An arena whose usable part is exactly `usable` bytes after the head.
  uint32_t Init(uint32_t usable) {
    HeapArenaInit(nullptr, 0);  // the buffer is the heap's until handed back
    buf_.assign(usable / 8 + 4, 0);
    return HeapArenaInit(buf_.data(), usable + 16);
  }
  void TearDown() override {
    EXPECT_EQ(HeapValidate(), nullptr);
    HeapArenaInit(nullptr, 0);
  }
  static uint8_t* Alloc(uint32_t n) {
    auto* p = static_cast<uint8_t*>(HeapBlockAlloc(n));
    EXPECT_NE(p, nullptr) << "alloc " << n;
    return p;
  }
  static void Fill(uint8_t* p, uint32_t n, uint8_t seed) {
    for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(seed + i * 7);
  }
  static bool Holds(const uint8_t* p, uint32_t n, uint8_t seed) {
    for (uint32_t i = 0; i < n; ++i)
      if (p[i] != static_cast<uint8_t>(seed + i * 7)) return false;
    return true;
  }
  std::vector<uint64_t> buf_;
};

// --- Block sizes and the arena ---

TEST_F(HeapTest, BlockSizeRoundsToEightWithHeader) {
  for (uint32_t n = 1; n <= 8; ++n) EXPECT_EQ(HeapNeed(n), 16u) << n;
  EXPECT_EQ(HeapNeed(9), 24u);
  EXPECT_EQ(HeapNeed(12), 24u);
  EXPECT_EQ(HeapNeed(16), 24u);
  EXPECT_EQ(HeapNeed(17), 32u);
  EXPECT_EQ(HeapNeed(UINT32_MAX - 15), 0xFFFFFFF8u);
  EXPECT_EQ(HeapNeed(UINT32_MAX - 14), 0u);  // would wrap round
  EXPECT_EQ(HeapNeed(UINT32_MAX), 0u);
}

TEST_F(HeapTest, SmallRequestsTakeSixteenBytesAndTwelveTakesTwentyFour) {
  Init(1024);
  for (uint32_t n = 1; n <= 7; ++n) {
    const HeapStats before = HeapGetStats();
    uint8_t* p = Alloc(n);
    EXPECT_EQ(HeapBlockSizeOf(p), 16u);
    EXPECT_EQ(HeapRequestedSizeOf(p), n);
    EXPECT_EQ(before.freeBytes - HeapGetStats().freeBytes, 16u);
  }
  uint8_t* p = Alloc(12);
  EXPECT_EQ(HeapBlockSizeOf(p), 24u);
}

TEST_F(HeapTest, ZeroBytesAndOversizedRequestsYieldNull) {
  Init(1024);
  EXPECT_EQ(HeapBlockAlloc(0), nullptr);
  EXPECT_EQ(HeapBlockAlloc(1024), nullptr);  // the header does not fit
  EXPECT_EQ(HeapBlockAlloc(UINT32_MAX), nullptr);
  EXPECT_EQ(HeapBlockCalloc(UINT32_MAX - 3), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, 1024u);
  EXPECT_NE(HeapBlockAlloc(1016), nullptr);  // exactly the arena
  EXPECT_EQ(HeapGetStats().freeBlocks, 0u);
}

TEST_F(HeapTest, MisalignedBlockIsRoundedToEight) {
  std::vector<uint64_t> raw(200);
  auto* start = reinterpret_cast<uint8_t*>(raw.data()) + 3;
  // 5 bytes skipped to reach alignment, 1000 - 5 rounded down to 992, less the head.
  EXPECT_EQ(HeapArenaInit(start, 1000), 976u);
  for (int i = 0; i < 10; ++i) {
    void* p = HeapBlockAlloc(1 + i * 5);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    EXPECT_TRUE(HeapOwns(p));
  }
  EXPECT_EQ(HeapValidate(), nullptr);
  HeapArenaInit(nullptr, 0);
}

TEST_F(HeapTest, TooSmallArenaIsEmpty) {
  std::vector<uint64_t> raw(8);
  EXPECT_EQ(HeapArenaInit(raw.data(), 31), 0u);
  EXPECT_EQ(HeapBlockAlloc(1), nullptr);
  EXPECT_EQ(HeapValidate(), nullptr);
  EXPECT_EQ(HeapArenaInit(raw.data(), 10), 0u);
  EXPECT_EQ(HeapBlockAlloc(1), nullptr);
  EXPECT_EQ(HeapArenaInit(raw.data(), 32), 16u);
  EXPECT_NE(HeapBlockAlloc(8), nullptr);
  EXPECT_EQ(HeapBlockAlloc(1), nullptr);
  HeapArenaInit(nullptr, 0);
}

TEST_F(HeapTest, ReinitialisingStartsAFreshArena) {
  Init(512);
  Alloc(100);
  Alloc(200);
  EXPECT_EQ(Init(512), 512u);
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.largestFree, 512u);
}

TEST_F(HeapTest, CallocClearsTheWholeDataArea) {
  Init(256);
  uint8_t* p = Alloc(40);
  Alloc(200);  // the rest of the arena
  std::memset(p, 0xAB, 40);
  HeapBlockFree(p);
  // A 30-byte request takes the 48-byte hole whole, slack included.
  auto* q = static_cast<uint8_t*>(HeapBlockCalloc(30));
  ASSERT_EQ(q, p);
  ASSERT_EQ(HeapBlockSizeOf(q), 48u);
  ASAN_UNPOISON_MEMORY_REGION(q, 40);  // the slack past 30 bytes is poisoned
  for (int i = 0; i < 40; ++i) EXPECT_EQ(q[i], 0) << i;
}

// --- Best fit ---

TEST_F(HeapTest, EqualSurplusChoosesTheLowerAddress) {
  Init(1024);
  uint8_t* a = Alloc(40);  // 48-byte blocks
  Alloc(8);
  uint8_t* b = Alloc(40);
  Alloc(8);
  HeapBlockFree(b);
  HeapBlockFree(a);
  EXPECT_EQ(Alloc(16), a);
  EXPECT_EQ(Alloc(40), b);
}

TEST_F(HeapTest, ExactFitLaterBeatsAnEarlierLargerBlock) {
  Init(1024);
  uint8_t* a = Alloc(56);  // 64
  Alloc(8);
  uint8_t* b = Alloc(24);  // 32
  Alloc(8);
  HeapBlockFree(a);
  HeapBlockFree(b);
  EXPECT_EQ(Alloc(24), b);
  EXPECT_EQ(HeapBlockSizeOf(b), 32u);
}

TEST_F(HeapTest, SmallestSurplusBeatsLowerAddress) {
  Init(1024);
  uint8_t* a = Alloc(56);  // 64
  Alloc(8);
  uint8_t* b = Alloc(32);  // 40
  Alloc(8);
  HeapBlockFree(a);
  HeapBlockFree(b);
  uint8_t* p = Alloc(24);  // needs 32: surplus 32 in a, 8 in b
  EXPECT_EQ(p, b);
  EXPECT_EQ(HeapBlockSizeOf(p), 40u);  // an 8-byte surplus stays inside
}

// --- Freeing and merging ---

class HeapFreeTest : public HeapTest {
 protected:
  // Five 32-byte blocks filling the arena exactly.
  void SetUp() override {
    Init(5 * 32);
    for (auto& b : blk_) b = Alloc(24);
    EXPECT_EQ(HeapGetStats().freeBlocks, 0u);
  }
  uint8_t* blk_[5];
};

TEST_F(HeapFreeTest, NoFreeNeighboursAddsSeparateBlocks) {
  HeapBlockFree(blk_[3]);
  HeapBlockFree(blk_[1]);  // goes in front of the existing free block
  EXPECT_EQ(HeapValidate(), nullptr);
  HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 2u);
  EXPECT_EQ(s.largestFree, 32u);
  HeapBlockFree(blk_[0]);  // merges with [1], in front of the list
  HeapBlockFree(blk_[4]);  // merges with [3], at the back
  s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 2u);
  EXPECT_EQ(s.largestFree, 64u);
}

TEST_F(HeapFreeTest, FreeBlockBelowGrows) {
  HeapBlockFree(blk_[1]);
  HeapBlockFree(blk_[2]);
  EXPECT_EQ(HeapGetStats().freeBlocks, 1u);
  EXPECT_EQ(Alloc(56), blk_[1]);
}

TEST_F(HeapFreeTest, FreeBlockAboveIsTakenOver) {
  HeapBlockFree(blk_[2]);
  HeapBlockFree(blk_[1]);
  EXPECT_EQ(HeapGetStats().freeBlocks, 1u);
  EXPECT_EQ(Alloc(56), blk_[1]);
}

TEST_F(HeapFreeTest, MiddleOfThreeJoinsAllThree) {
  HeapBlockFree(blk_[1]);
  HeapBlockFree(blk_[3]);
  HeapBlockFree(blk_[2]);
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.largestFree, 96u);
  EXPECT_EQ(Alloc(88), blk_[1]);
}

TEST_F(HeapFreeTest, FreeingEverythingInAnyOrderLeavesOneBlock) {
  for (int i : {4, 0, 2, 1, 3}) HeapBlockFree(blk_[i]);
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.largestFree, 160u);
}

TEST_F(HeapFreeTest, NullAndForeignPointersAreIgnored) {
  int local = 0;
  HeapBlockFree(nullptr);
  HeapBlockFree(&local);
  HeapBlockFree(blk_[2] + 4);  // not a block's data address
  EXPECT_EQ(HeapGetStats().freeBlocks, 0u);
}

// --- Resizing ---

TEST_F(HeapTest, ResizeToZeroFailsAndKeepsTheBlock) {
  Init(256);
  uint8_t* p = Alloc(20);
  Fill(p, 20, 1);
  EXPECT_EQ(HeapBlockRealloc(p, 0), nullptr);
  EXPECT_EQ(HeapRequestedSizeOf(p), 20u);
  EXPECT_TRUE(Holds(p, 20, 1));
  EXPECT_EQ(HeapBlockRealloc(nullptr, 10), nullptr);
  EXPECT_EQ(HeapBlockRealloc(p, UINT32_MAX), nullptr);
  EXPECT_TRUE(Holds(p, 20, 1));
}

TEST_F(HeapTest, ShrinkWithSmallSurplusOnlyRecordsTheSize) {
  Init(256);
  uint8_t* p = Alloc(40);  // 48
  EXPECT_EQ(HeapBlockRealloc(p, 30), p);
  EXPECT_EQ(HeapBlockSizeOf(p), 48u);
  EXPECT_EQ(HeapRequestedSizeOf(p), 30u);
}

TEST_F(HeapTest, ShrinkWithLargeSurplusFreesTheTail) {
  Init(64 + 16);
  uint8_t* p = Alloc(56);
  uint8_t* s = Alloc(8);
  Fill(p, 24, 3);
  EXPECT_EQ(HeapBlockRealloc(p, 24), p);
  EXPECT_EQ(HeapBlockSizeOf(p), 32u);
  EXPECT_TRUE(Holds(p, 24, 3));
  HeapStats st = HeapGetStats();
  EXPECT_EQ(st.freeBlocks, 1u);
  EXPECT_EQ(st.freeBytes, 32u);
  EXPECT_EQ(Alloc(24), p + 32);
  EXPECT_LT(p + 32, s);
}

TEST_F(HeapTest, ShrinkMergesTheSurplusWithAFreeBlockBehind) {
  Init(64 + 32);
  uint8_t* p = Alloc(56);
  uint8_t* q = Alloc(24);
  HeapBlockFree(q);
  EXPECT_EQ(HeapBlockRealloc(p, 24), p);
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.largestFree, 64u);
}

TEST_F(HeapTest, GrowIntoFreeSpaceBehindKeepsTheAddress) {
  Init(4096);
  uint8_t* p = Alloc(24);
  Fill(p, 24, 5);
  EXPECT_EQ(HeapBlockRealloc(p, 1000), p);
  EXPECT_EQ(HeapBlockSizeOf(p), 1008u);
  EXPECT_EQ(HeapRequestedSizeOf(p), 1000u);
  EXPECT_TRUE(Holds(p, 24, 5));
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.freeBytes, 4096u - 1008u);
}

TEST_F(HeapTest, GrowAbsorbsASmallRemainderBehind) {
  Init(32 + 40 + 16);
  uint8_t* p = Alloc(24);  // 32
  uint8_t* q = Alloc(32);  // 40
  Alloc(8);
  HeapBlockFree(q);
  EXPECT_EQ(HeapBlockRealloc(p, 56), p);  // 64 of 72
  EXPECT_EQ(HeapBlockSizeOf(p), 72u);
  EXPECT_EQ(HeapGetStats().freeBlocks, 0u);
}

TEST_F(HeapTest, GrowSlidesDownIntoTheFreeBlockBefore) {
  Init(32 + 32 + 16);
  uint8_t* a = Alloc(24);
  uint8_t* p = Alloc(24);
  Alloc(8);
  Fill(p, 24, 9);
  HeapBlockFree(a);
  uint8_t* q = static_cast<uint8_t*>(HeapBlockRealloc(p, 40));  // 48 of 64
  EXPECT_EQ(q, a);
  EXPECT_TRUE(Holds(q, 24, 9));
  EXPECT_EQ(HeapBlockSizeOf(q), 48u);
  EXPECT_EQ(HeapRequestedSizeOf(q), 40u);
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.freeBytes, 16u);
}

TEST_F(HeapTest, SlideAbsorbsASmallRemainder) {
  Init(32 + 32 + 16);
  uint8_t* a = Alloc(24);
  uint8_t* p = Alloc(24);
  Alloc(8);
  Fill(p, 24, 11);
  HeapBlockFree(a);
  uint8_t* q = static_cast<uint8_t*>(HeapBlockRealloc(p, 48));  // 56 of 64
  EXPECT_EQ(q, a);
  EXPECT_TRUE(Holds(q, 24, 11));
  EXPECT_EQ(HeapBlockSizeOf(q), 64u);
  EXPECT_EQ(HeapGetStats().freeBlocks, 0u);
}

TEST_F(HeapTest, SlideByLessThanTheContentsMovesThemIntact) {
  Init(16 + 208 + 16);
  uint8_t* a = Alloc(8);    // 16
  uint8_t* p = Alloc(200);  // 208
  Alloc(8);
  Fill(p, 200, 23);
  HeapBlockFree(a);
  uint8_t* q = static_cast<uint8_t*>(HeapBlockRealloc(p, 208));  // source and target overlap
  EXPECT_EQ(q, a);
  EXPECT_TRUE(Holds(q, 200, 23));
}

TEST_F(HeapTest, SlideRemainderJoinsTheFreeBlockBehind) {
  Init(64 + 32 + 16 + 16);
  uint8_t* a = Alloc(56);  // 64
  uint8_t* p = Alloc(24);  // 32
  uint8_t* c = Alloc(8);   // 16, too small to grow into
  Alloc(8);
  Fill(p, 24, 13);
  HeapBlockFree(a);
  HeapBlockFree(c);
  uint8_t* q = static_cast<uint8_t*>(HeapBlockRealloc(p, 48));  // 56 of 96
  EXPECT_EQ(q, a);
  EXPECT_TRUE(Holds(q, 24, 13));
  EXPECT_EQ(HeapValidate(), nullptr);
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.largestFree, 40u + 16u);
}

TEST_F(HeapTest, SlideTakesTheBlocksBeforeAndBehind) {
  Init(32 * 3 + 16);
  uint8_t* a = Alloc(24);
  uint8_t* p = Alloc(24);
  uint8_t* c = Alloc(24);
  Alloc(8);
  Fill(p, 24, 15);
  HeapBlockFree(a);
  HeapBlockFree(c);
  uint8_t* q = static_cast<uint8_t*>(HeapBlockRealloc(p, 72));  // 80 of 96
  EXPECT_EQ(q, a);
  EXPECT_TRUE(Holds(q, 24, 15));
  EXPECT_EQ(HeapBlockSizeOf(q), 80u);
  HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.freeBytes, 16u);
  EXPECT_EQ(HeapValidate(), nullptr);

  Fill(q, 72, 17);
  uint8_t* r = static_cast<uint8_t*>(HeapBlockRealloc(q, 88));  // grows over the 16 left
  EXPECT_EQ(r, a);
  EXPECT_TRUE(Holds(r, 72, 17));
  EXPECT_EQ(HeapGetStats().freeBlocks, 0u);
}

TEST_F(HeapTest, GrowWithoutRoomNearbyCopiesElsewhere) {
  Init(1024);
  uint8_t* p = Alloc(24);
  Alloc(8);
  Fill(p, 24, 19);
  uint8_t* q = static_cast<uint8_t*>(HeapBlockRealloc(p, 200));
  ASSERT_NE(q, nullptr);
  EXPECT_GT(q, p);
  EXPECT_TRUE(Holds(q, 24, 19));
  EXPECT_EQ(HeapRequestedSizeOf(q), 200u);
  EXPECT_EQ(HeapGetStats().freeBlocks, 2u);  // the old block and the tail
  EXPECT_EQ(Alloc(24), p);
}

TEST_F(HeapTest, FailedGrowKeepsTheOldBlock) {
  Init(32 + 16 + 64);
  uint8_t* p = Alloc(24);
  Alloc(8);
  Fill(p, 24, 21);
  EXPECT_EQ(HeapBlockRealloc(p, 100), nullptr);  // 112 > 32 + 64
  EXPECT_TRUE(Holds(p, 24, 21));
  EXPECT_EQ(HeapRequestedSizeOf(p), 24u);
  EXPECT_EQ(HeapGetStats().freeBytes, 64u);
}

// --- Validation finds damage ---

TEST_F(HeapTest, ValidateReportsDamagedHeaders) {
  Init(256);
  uint8_t* p = Alloc(24);
  Alloc(24);
  HeapBlockFree(p);
  auto* freeWords = reinterpret_cast<uint32_t*>(p - 8);
  ASAN_UNPOISON_MEMORY_REGION(freeWords, 16);  // headers are poisoned
  const uint32_t end = freeWords[3];
  freeWords[3] = end + 8;
  EXPECT_NE(HeapValidate(), nullptr);
  freeWords[3] = end;
  ASSERT_EQ(HeapValidate(), nullptr);

  uint8_t* q = Alloc(24);
  auto* used = reinterpret_cast<uint32_t*>(q - 8);
  ASAN_UNPOISON_MEMORY_REGION(used, 8);
  used[0] = 36;
  EXPECT_NE(HeapValidate(), nullptr);
  used[0] = 32;
  used[1] = 30;  // more than the block holds
  EXPECT_NE(HeapValidate(), nullptr);
  used[1] = 24;
}

// --- What the sanitizer sees inside the arena ---

// Every slot of the arena that is not a live block's requested bytes is
// poisoned: headers, the slack behind a request, free blocks.
TEST_F(HeapTest, OnlyRequestedBytesAreAddressable) {
#if !QOR_HEAP_POISONS
  GTEST_SKIP() << "the arena is poisoned only in AddressSanitizer builds";
#else
  Init(1024);
  auto* p = Alloc(13);
  auto* q = Alloc(40);
  auto* r = Alloc(100);
  EXPECT_EQ(__asan_region_is_poisoned(p, 13), nullptr);
  EXPECT_EQ(__asan_address_is_poisoned(p + 13), 1);
  EXPECT_EQ(__asan_address_is_poisoned(p - 1), 1);     // its header
  EXPECT_EQ(__asan_address_is_poisoned(q + 40), 1);    // the next block's header
  HeapBlockFree(q);
  EXPECT_EQ(__asan_address_is_poisoned(q), 1);
  // Grown in place, into the slot q left: every new byte opens.
  p = static_cast<uint8_t*>(HeapBlockRealloc(p, 50));
  EXPECT_EQ(__asan_region_is_poisoned(p, 50), nullptr);
  EXPECT_EQ(__asan_address_is_poisoned(p + 50), 1);
  // Shrunk: the cut bytes close again.
  r = static_cast<uint8_t*>(HeapBlockRealloc(r, 20));
  EXPECT_EQ(__asan_region_is_poisoned(r, 20), nullptr);
  EXPECT_EQ(__asan_address_is_poisoned(r + 20), 1);
  // Moved elsewhere: the old place is closed, the new one open.
  Alloc(8);  // takes the space behind r
  uint8_t* old = r;
  r = static_cast<uint8_t*>(HeapBlockRealloc(r, 600));
  ASSERT_NE(r, old);
  EXPECT_EQ(__asan_region_is_poisoned(r, 600), nullptr);
  EXPECT_EQ(__asan_address_is_poisoned(old), 1);
  // A new arena hands the old one back whole.
  std::vector<uint64_t> other(64);
  HeapArenaInit(other.data(), 512);
  EXPECT_EQ(__asan_region_is_poisoned(buf_.data(), buf_.size() * 8), nullptr);
  HeapArenaInit(nullptr, 0);
  EXPECT_EQ(__asan_region_is_poisoned(other.data(), 512), nullptr);
#endif
}

using HeapDeathTest = HeapTest;

TEST_F(HeapDeathTest, WritingPastABlockIsReported) {
  if (!QOR_HEAP_POISONS) GTEST_SKIP() << "the arena is poisoned only in AddressSanitizer builds";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (uint32_t n : {13u, 16u}) {  // inside the last granule, and at the next header
    EXPECT_DEATH(
        {
          Init(1024);
          auto* p = static_cast<volatile uint8_t*>(MemAlloc(n, Use::Data, Mod::TestCode));
          MemAlloc(8, Use::Data, Mod::TestCode);
          p[n] = 1;
        },
        "AddressSanitizer: use-after-poison")
        << n;
  }
}

TEST_F(HeapDeathTest, ReadingAFreedBlockIsReported) {
  if (!QOR_HEAP_POISONS) GTEST_SKIP() << "the arena is poisoned only in AddressSanitizer builds";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Init(1024);
        void* block = MemAlloc(32, Use::Data, Mod::TestCode);
        MemAlloc(8, Use::Data, Mod::TestCode);
        auto* p = static_cast<volatile uint8_t*>(block);
        MemFree(&block);
        const uint8_t seen = p[4];
        (void)seen;
      },
      "AddressSanitizer: use-after-poison");
}

TEST_F(HeapDeathTest, FreeingABlockTwiceIsReported) {
  if (!QOR_HEAP_POISONS) GTEST_SKIP() << "the arena is poisoned only in AddressSanitizer builds";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Init(1024);
        void* block = MemAlloc(32, Use::Data, Mod::TestCode);
        void* copy = block;
        MemFree(&block);
        MemFree(&copy);
      },
      "AddressSanitizer: use-after-poison");
}

// --- Randomized run against a model ---

struct ModelBlock {
  uint8_t* p;
  std::vector<uint8_t> bytes;  // what the block must hold
};

class HeapModel {
 public:
  explicit HeapModel(uint32_t seed) : rng_(seed) {}

  uint32_t RandomSize() {
    const uint32_t r = rng_() % 100;
    if (r < 70) return 1 + rng_() % 64;
    if (r < 95) return 65 + rng_() % 960;
    return 1025 + rng_() % 7168;
  }

  void FillTail(ModelBlock& b, size_t from) {
    for (size_t i = from; i < b.bytes.size(); ++i) b.bytes[i] = static_cast<uint8_t>(rng_());
    std::memcpy(b.p + from, b.bytes.data() + from, b.bytes.size() - from);
  }

  void Step() {
    const uint32_t op = live_.empty() ? 0 : rng_() % 100;
    uint32_t n = RandomSize();
    if (op < 40) {
      const bool zero = op >= 30;
      auto* p = static_cast<uint8_t*>(zero ? HeapBlockCalloc(n) : HeapBlockAlloc(n));
      if (!p) {
        ++failures_;
        EXPECT_LT(HeapGetStats().largestFree, HeapNeed(n)) << "a fitting block was missed";
        return;
      }
      if (zero) {
        const uint32_t area = HeapBlockSizeOf(p) - 8;
        ASAN_UNPOISON_MEMORY_REGION(p, area);
        for (uint32_t i = 0; i < area; ++i) ASSERT_EQ(p[i], 0) << "calloc byte " << i;
      }
      live_.push_back({p, std::vector<uint8_t>(n)});
      FillTail(live_.back(), 0);
      return;
    }
    const size_t k = rng_() % live_.size();
    if (op < 70) {
      HeapBlockFree(live_[k].p);
      live_.erase(live_.begin() + static_cast<ptrdiff_t>(k));
      return;
    }
    const bool zero = op >= 88;
    ModelBlock& b = live_[k];
    const size_t old = b.bytes.size();
    // Half the resizes grow a little, as buffers being filled do; those are
    // the ones that find their neighbours free.
    if (rng_() % 2) n = static_cast<uint32_t>(old + 1 + rng_() % (2 * old + 64));
    auto* q = static_cast<uint8_t*>(zero ? HeapBlockReallocZero(b.p, n) : HeapBlockRealloc(b.p, n));
    if (!q) {
      ++failures_;
      EXPECT_LT(HeapGetStats().largestFree, HeapNeed(n));
      return;
    }
    const size_t kept = std::min<size_t>(old, n);
    ASSERT_EQ(std::memcmp(q, b.bytes.data(), kept), 0) << "resize lost contents";
    b.p = q;
    b.bytes.resize(n);
    if (zero) {
      for (size_t i = kept; i < n; ++i) ASSERT_EQ(q[i], 0) << "zeroing resize byte " << i;
    } else {
      FillTail(b, kept);
    }
  }

  void Check() {
    uint64_t used = 0;
    for (const ModelBlock& b : live_) {
      ASSERT_EQ(reinterpret_cast<uintptr_t>(b.p) % 8, 0u);
      ASSERT_EQ(HeapRequestedSizeOf(b.p), b.bytes.size());
      ASSERT_GE(HeapBlockSizeOf(b.p), HeapNeed(static_cast<uint32_t>(b.bytes.size())));
      ASSERT_EQ(std::memcmp(b.p, b.bytes.data(), b.bytes.size()), 0) << "block contents changed";
      used += HeapBlockSizeOf(b.p);
    }
    const HeapStats s = HeapGetStats();
    ASSERT_EQ(used + s.freeBytes, s.arenaBytes);
  }

  void FreeAll() {
    std::shuffle(live_.begin(), live_.end(), rng_);
    for (ModelBlock& b : live_) HeapBlockFree(b.p);
    live_.clear();
  }

  int failures_ = 0;

 private:
  std::mt19937 rng_;
  std::vector<ModelBlock> live_;
};

TEST_F(HeapTest, RandomOperationsKeepTheArenaSound) {
  for (uint32_t seed : {1u, 7u, 1234u, 99991u}) {
    SCOPED_TRACE(seed);
    const uint32_t usable = Init(48 * 1024);
    HeapModel model(seed);
    for (int step = 0; step < 3000; ++step) {
      model.Step();
      ASSERT_FALSE(HasFatalFailure()) << "step " << step;
      const char* fault = HeapValidate();
      ASSERT_EQ(fault, nullptr) << "step " << step << ": " << fault;
      model.Check();
      ASSERT_FALSE(HasFatalFailure()) << "step " << step;
    }
    EXPECT_GT(model.failures_, 0) << "the run never exhausted the arena";
    model.FreeAll();
    ASSERT_EQ(HeapValidate(), nullptr);
    const HeapStats s = HeapGetStats();
    EXPECT_EQ(s.freeBlocks, 1u);
    EXPECT_EQ(s.largestFree, usable);
  }
}

}  // namespace
