// Buffer chains: sizes in 140-byte blocks, reads and writes across block
// edges, reference counts, and what a failed allocation leaves behind.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "kernel/heap.h"
#include "net/netbuf.h"
#include "tests/support/engine_fixture.h"

namespace {

class NetBufTest : public HeapFixture {};

uint32_t Blocks(const NetBufChain* chain) {
  uint32_t n = 0;
  for (; chain; chain = chain->next) ++n;
  return n;
}

TEST_F(NetBufTest, ChainsTakeAsManyBlocksAsThePayloadNeeds) {
  for (auto [length, blocks] : {std::pair{0u, 1u}, {1u, 1u}, {140u, 1u}, {141u, 2u}, {420u, 3u}}) {
    NetBufChain* chain = NetBufAlloc(length);
    ASSERT_NE(chain, nullptr) << length;
    EXPECT_EQ(NetBufLength(chain), length);
    EXPECT_EQ(Blocks(chain), blocks) << length;
    NetBufRelease(&chain);
    EXPECT_EQ(chain, nullptr);
  }
}

TEST_F(NetBufTest, WritesAndReadsCrossBlockEdgesWithoutGrowing) {
  NetBufChain* chain = NetBufAlloc(300);
  std::vector<uint8_t> bytes(300);
  std::iota(bytes.begin(), bytes.end(), 0);
  EXPECT_EQ(NetBufWrite(chain, bytes.data(), 0, 300), 300u);
  std::vector<uint8_t> back(20, 0xEE);
  EXPECT_EQ(NetBufRead(chain, back.data(), 130, 20), 20u);
  EXPECT_EQ(back, std::vector<uint8_t>(bytes.begin() + 130, bytes.begin() + 150));
  // Past the end nothing is written or read, and the chain keeps its size.
  EXPECT_EQ(NetBufWrite(chain, bytes.data(), 290, 20), 10u);
  EXPECT_EQ(NetBufRead(chain, back.data(), 295, 20), 5u);
  EXPECT_EQ(NetBufRead(chain, back.data(), 300, 1), 0u);
  EXPECT_EQ(NetBufLength(chain), 300u);
  NetBufRelease(&chain);
}

TEST_F(NetBufTest, ReleaseFreesOnlyBlocksWithoutReferences) {
  const uint32_t before = HeapGetStats().freeBytes;
  NetBufChain* chain = NetBufAlloc(200);
  NetBufChain* tail = chain->next;
  ++tail->refs;  // the tail is shared with another owner
  NetBufRelease(&chain);
  EXPECT_EQ(tail->refs, 1u);
  EXPECT_LT(HeapGetStats().freeBytes, before);
  NetBufRelease(&tail);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

class TinyHeapNetBufTest : public HeapFixture {
 protected:
  TinyHeapNetBufTest() : HeapFixture(1024) {}
};

TEST_F(TinyHeapNetBufTest, AFailedAllocationGivesNullAndFreesThePartialChain) {
  const uint32_t before = HeapGetStats().freeBytes;
  EXPECT_EQ(NetBufAlloc(140 * 20), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
  EXPECT_EQ(HeapValidate(), nullptr);
}

}  // namespace
