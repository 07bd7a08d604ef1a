// Best fit and merging, misuse under the sanitizer, and a
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
  std::vector<uint64_t> buf_;
};

// An arena of blocks end to end: `sizes` are the requested sizes in address
// order, `tail` free bytes follow them, and the blocks in `freed` are freed in
// that order.
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
    }
    for (int i : layout.freed) HeapBlockFree(blk_[i]);
  }
  std::vector<uint8_t*> blk_;
};

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
        // Surplus 32 in a, 8 in b; an 8-byte surplus stays inside the block.
        FitCase{"SmallestSurplusBeatsLowerAddress", {{56, 8, 32, 8}, {0, 2}, 256}, 24, 2, 40},
        // Freeing merges with the neighbour below, or with both.
        FitCase{"FreeBelowGrows", {{24, 24, 24, 24, 24}, {1, 2}}, 56, 1, 64},
        FitCase{"MiddleOfThreeJoinsAll", {{24, 24, 24, 24, 24}, {1, 3, 2}}, 88, 1, 96}),
    [](const auto& info) { return info.param.name; });

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
  for (uint32_t seed : {1u, 1234u}) {
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
