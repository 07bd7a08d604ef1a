// The allocation wrappers: the free-on-failure flag and the evict-and-retry
// loop.
#include "kernel/mem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "kernel/heap.h"
#include "kernel/modules.h"

namespace {

// A stand-in for the object cache: evicting frees the most recently held block.
std::vector<void*> gHeld;
int gEvictCalls = 0;

int FakeEvict() {
  ++gEvictCalls;
  if (gHeld.empty()) return 0;
  MemFreeRaw(gHeld.back());
  gHeld.pop_back();
  return 1;
}

class MemTest : public ::testing::Test {
 protected:
  void Init(uint32_t usable) {
    HeapArenaInit(nullptr, 0);  // the buffer is the heap's until handed back
    buf_.assign(usable / 8 + 4, 0);
    HeapArenaInit(buf_.data(), usable + 16);
  }
  void SetUp() override {
    gHeld.clear();
    gEvictCalls = 0;
    MemSetEvictor(FakeEvict);
  }
  void TearDown() override {
    EXPECT_EQ(HeapValidate(), nullptr);
    MemSetEvictor(nullptr);
    gHeld.clear();
    HeapArenaInit(nullptr, 0);
  }
  // Fills the arena with `count` 64-byte blocks held by the fake cache.
  void HoldBlocks(int count) {
    for (int i = 0; i < count; ++i) {
      void* p = MemAlloc(56, Use::Data, Mod::Cache);
      ASSERT_NE(p, nullptr);
      gHeld.push_back(p);
    }
  }
  std::vector<uint64_t> buf_;
};

// --- Eviction ---

// Over an arena full of eight cached 64-byte blocks, a request evicts one
// block at a time until it fits or nothing is left.
TEST_F(MemTest, AFailedRequestEvictsUntilItFits) {
  const struct {
    uint32_t bytes;
    bool evictor, fits;
    int evictCalls;  // the last call of a failing run is the one that reports nothing
  } rows[] = {{120, true, true, 2}, {10000, true, false, 9}, {8, false, false, 0}};
  for (const auto& row : rows) {
    Init(8 * 64);
    gHeld.clear();
    gEvictCalls = 0;
    HoldBlocks(8);
    MemSetEvictor(row.evictor ? FakeEvict : nullptr);
    EXPECT_EQ(MemAllocZero(row.bytes, Use::Data, Mod::Url) != nullptr, row.fits) << row.bytes;
    EXPECT_EQ(gEvictCalls, row.evictCalls) << row.bytes;
    EXPECT_EQ(gHeld.size(), 8u - (row.evictor ? std::min(row.evictCalls, 8) : 0)) << row.bytes;
    EXPECT_EQ(HeapValidate(), nullptr);
  }
  MemSetEvictor(FakeEvict);
}

TEST_F(MemTest, FailedResizeKeepsTheBlockUnlessAskedToFreeIt) {
  Init(4 * 64);
  auto* p = static_cast<uint8_t*>(MemAlloc(56, Use::Data, Mod::Url));
  std::memset(p, 0x22, 56);
  HoldBlocks(3);
  EXPECT_EQ(MemRealloc(p, 1000, 0, Mod::Url), nullptr);
  EXPECT_EQ(gEvictCalls, 4);
  EXPECT_EQ(HeapRequestedSizeOf(p), 56u);
  for (int i = 0; i < 56; ++i) EXPECT_EQ(p[i], 0x22) << i;

  uint8_t* keep = p;
  EXPECT_EQ(MemReallocZero(p, 1000, 1, Mod::Url), nullptr);
  EXPECT_EQ(p, keep);  // the caller's pointer is not cleared
  const HeapStats s = HeapGetStats();
  EXPECT_EQ(s.freeBlocks, 1u);
  EXPECT_EQ(s.freeBytes, 4u * 64u);
}

}  // namespace
