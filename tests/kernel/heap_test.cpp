// The heap's block arithmetic, best fit, merging, the resize paths, and a
// randomized run against a model of the live blocks.
#include "kernel/heap.h"

#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>
#include <ostream>
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
  EXPECT_EQ(HeapArenaInit(raw.data(), 32), 16u);
  EXPECT_NE(HeapBlockAlloc(8), nullptr);
  EXPECT_EQ(HeapBlockAlloc(1), nullptr);
  HeapArenaInit(nullptr, 0);
}

// --- Best fit, merging and resizing, against the bytes each block must hold ---

// An arena of blocks end to end: `sizes` are the requested sizes in address
// order, `tail` free bytes follow them, and the blocks in `freed` are freed in
// that order. Every live block is filled with its own bytes.
struct Layout {
  std::vector<uint32_t> sizes;
  std::vector<int> freed = {};
  uint32_t tail = 0;
};

class HeapLayoutTest : public HeapTest {
 protected:
  void Build(const Layout& layout) {
    uint32_t total = layout.tail;
    for (uint32_t n : layout.sizes) total += HeapNeed(n);
    Init(total);
    for (size_t i = 0; i < layout.sizes.size(); ++i) {
      blk_.push_back(Alloc(layout.sizes[i]));
      if (i) {
        ASSERT_EQ(blk_[i], blk_[i - 1] + HeapNeed(layout.sizes[i - 1]));
      }
      Fill(blk_[i], layout.sizes[i], static_cast<uint8_t>(i * 31));
    }
    for (int i : layout.freed) HeapBlockFree(blk_[i]);
  }
  std::vector<uint8_t*> blk_;
};

constexpr int kElsewhere = -1, kRefused = -2;

// Allocating n after the layout lands on block `at` (its address).
struct FitCase {
  const char* name;
  Layout layout;
  uint32_t n;
  int at;
  uint32_t blockSize;
  friend void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }
};

class HeapFitTest : public HeapLayoutTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(HeapFitTest, TakesTheBestBlock) {
  const FitCase& c = GetParam();
  Build(c.layout);
  uint8_t* p = Alloc(c.n);
  EXPECT_EQ(p, blk_[c.at]);
  EXPECT_EQ(HeapBlockSizeOf(p), c.blockSize);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeapFitTest,
    ::testing::Values(
        // Equal 48-byte holes: the lower address is split.
        FitCase{"EqualSurplusLowerAddress", {{40, 8, 40, 8}, {2, 0}, 256}, 16, 0, 24},
        FitCase{"ExactFitBeatsEarlierLarger", {{56, 8, 24, 8}, {0, 2}, 256}, 24, 2, 32},
        // Surplus 32 in a, 8 in b; an 8-byte surplus stays inside the block.
        FitCase{"SmallestSurplusBeatsLowerAddress", {{56, 8, 32, 8}, {0, 2}, 256}, 24, 2, 40},
        // Freeing merges with the neighbours below, above, or both.
        FitCase{"FreeBelowGrows", {{24, 24, 24, 24, 24}, {1, 2}}, 56, 1, 64},
        FitCase{"FreeAboveIsTakenOver", {{24, 24, 24, 24, 24}, {2, 1}}, 56, 1, 64},
        FitCase{"MiddleOfThreeJoinsAll", {{24, 24, 24, 24, 24}, {1, 3, 2}}, 88, 1, 96}),
    [](const auto& info) { return info.param.name; });

TEST_F(HeapLayoutTest, NullAndForeignPointersAreIgnored) {
  Build({{24, 24, 24}});
  int local = 0;
  HeapBlockFree(nullptr);
  HeapBlockFree(&local);
  HeapBlockFree(blk_[1] + 4);  // not a block's data address
  EXPECT_EQ(HeapGetStats().freeBlocks, 0u);
}

// Resizing block `target` to `to`: where the block ends up (a block's address,
// somewhere new, or refused with the block kept), its size, and the free list.
struct ResizeCase {
  const char* name;
  Layout layout;
  int target;
  uint32_t to;
  int at;
  uint32_t blockSize;
  uint32_t freeBlocks, freeBytes;
  friend void PrintTo(const ResizeCase& c, std::ostream* os) { *os << c.name; }
};

class HeapResizeTest : public HeapLayoutTest, public ::testing::WithParamInterface<ResizeCase> {};

TEST_P(HeapResizeTest, KeepsTheContents) {
  const ResizeCase& c = GetParam();
  Build(c.layout);
  uint8_t* old = blk_[c.target];
  const uint32_t oldSize = c.layout.sizes[c.target];
  const uint8_t seed = static_cast<uint8_t>(c.target * 31);
  auto* q = static_cast<uint8_t*>(HeapBlockRealloc(old, c.to));
  if (c.at == kRefused) {
    EXPECT_EQ(q, nullptr);
    EXPECT_EQ(HeapRequestedSizeOf(old), oldSize);
    EXPECT_TRUE(Holds(old, oldSize, seed));
  } else {
    ASSERT_NE(q, nullptr);
    if (c.at == kElsewhere)
      EXPECT_GT(q, old);
    else
      EXPECT_EQ(q, blk_[c.at]);
    EXPECT_TRUE(Holds(q, std::min(oldSize, c.to), seed));
    EXPECT_EQ(HeapRequestedSizeOf(q), c.to);
    if (c.blockSize) {
      EXPECT_EQ(HeapBlockSizeOf(q), c.blockSize);
    }
  }
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, c.freeBlocks);
  EXPECT_EQ(s.freeBytes, c.freeBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeapResizeTest,
    ::testing::Values(
        ResizeCase{"ToZeroIsRefused", {{20}, {}, 224}, 0, 0, kRefused, 0, 1, 224},
        ResizeCase{"BeyondTheArenaIsRefused", {{20}, {}, 224}, 0, UINT32_MAX, kRefused, 0, 1, 224},
        ResizeCase{"ShrinkWithSmallSurplusOnlyRecordsTheSize", {{40}, {}, 208}, 0, 30, 0, 48, 1, 208},
        ResizeCase{"ShrinkWithLargeSurplusFreesTheTail", {{56, 8}}, 0, 24, 0, 32, 1, 32},
        ResizeCase{"ShrinkMergesTheSurplusBehind", {{56, 24}, {1}}, 0, 24, 0, 32, 1, 64},
        ResizeCase{"GrowIntoFreeSpaceBehind", {{24}, {}, 4064}, 0, 1000, 0, 1008, 1, 4096 - 1008},
        ResizeCase{"GrowAbsorbsASmallRemainderBehind", {{24, 32, 8}, {1}}, 0, 56, 0, 72, 0, 0},
        ResizeCase{"GrowTakesAnExactFitBehind", {{72, 8, 8}, {1}}, 0, 88, 0, 96, 0, 0},
        ResizeCase{"GrowSlidesDownIntoTheBlockBefore", {{24, 24, 8}, {0}}, 1, 40, 0, 48, 1, 16},
        ResizeCase{"SlideAbsorbsASmallRemainder", {{24, 24, 8}, {0}}, 1, 48, 0, 64, 0, 0},
        // The source and target overlap.
        ResizeCase{"SlideByLessThanTheContents", {{8, 200, 8}, {0}}, 1, 208, 0, 224, 0, 0},
        // The 16-byte block behind is too small to grow into alone.
        ResizeCase{"SlideRemainderJoinsTheBlockBehind", {{56, 24, 8, 8}, {0, 2}}, 1, 48, 0, 56, 1, 56},
        ResizeCase{"SlideTakesTheBlocksBeforeAndBehind", {{24, 24, 24, 8}, {0, 2}}, 1, 72, 0, 80, 1, 16},
        // The old block and the tail stay free.
        ResizeCase{"WithoutRoomNearbyCopiesElsewhere", {{24, 8}, {}, 976}, 0, 200, kElsewhere, 208, 2, 1024 - 48 - 208 + 32},
        ResizeCase{"FailedGrowKeepsTheOldBlock", {{24, 8}, {}, 64}, 0, 100, kRefused, 0, 1, 64}),
    [](const auto& info) { return info.param.name; });

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

// Each fault is reported where it happens, before the free list is damaged.
TEST_F(HeapDeathTest, MisuseInsideTheArenaIsReported) {
  if (!QOR_HEAP_POISONS) GTEST_SKIP() << "the arena is poisoned only in AddressSanitizer builds";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int fault = 0; fault < 4; ++fault) {
    EXPECT_DEATH(
        {
          Init(1024);
          // 13 bytes: the write lands inside the last granule; 16: on the next header.
          const uint32_t n = fault == 1 ? 16 : 13;
          void* block = MemAlloc(n, Use::Data, Mod::TestCode);
          MemAlloc(8, Use::Data, Mod::TestCode);
          auto* p = static_cast<volatile uint8_t*>(block);
          if (fault < 2) p[n] = 1;  // writing past the block
          void* copy = block;
          MemFree(&block);
          if (fault == 2) (void)p[4];  // reading a freed block
          if (fault == 3) MemFree(&copy);  // freeing it twice
        },
        "AddressSanitizer: use-after-poison")
        << fault;
  }
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
