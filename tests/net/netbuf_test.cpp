// Buffer chains: sizes in 140-byte blocks, reads and writes across block
// edges, reference counts, and what a failed allocation leaves behind.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
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

// Growing writes, joins and front trims, each checked against a plain string
// holding the bytes the chain should hold.
namespace {

std::string Contents(const NetBufChain* chain) {
  std::string s(NetBufLength(chain), '\0');
  NetBufRead(chain, s.data(), 0, static_cast<uint32_t>(s.size()));
  return s;
}

std::string RandomBytes(std::mt19937& rng, uint32_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

class NetBufEditTest : public HeapFixture {};

TEST_F(NetBufEditTest, RandomGrowingWritesJoinsAndTrimsMatchAStringModel) {
  const uint32_t before = HeapGetStats().freeBytes;
  std::mt19937 rng(1234);
  for (int round = 0; round < 200; ++round) {
    NetBufChain* chain = NetBufAlloc(0);
    std::string model;
    for (int op = 0; op < 30; ++op) {
      switch (rng() % 4) {
        case 0: {  // write anywhere, possibly past the end
          uint32_t offset = rng() % (model.size() + 300);
          std::string bytes = RandomBytes(rng, rng() % 400);
          ASSERT_EQ(NetBufWriteGrow(chain, bytes.data(), offset, static_cast<uint32_t>(bytes.size())),
                    kOk);
          if (offset + bytes.size() > model.size()) model.resize(offset + bytes.size(), '\0');
          model.replace(offset, bytes.size(), bytes);
          break;
        }
        case 1: {  // join a chain made of written pieces
          std::string bytes = RandomBytes(rng, rng() % 300);
          NetBufChain* tail = NetBufAlloc(0);
          uint32_t at = 0;
          while (at < bytes.size()) {
            uint32_t piece = 1 + rng() % (static_cast<uint32_t>(bytes.size()) - at);
            ASSERT_EQ(NetBufWriteGrow(tail, bytes.data() + at, at, piece), kOk);
            at += piece;
          }
          chain = NetBufConcat(chain, tail);
          model += bytes;
          break;
        }
        case 2: {  // trim, sometimes past the end
          uint32_t count = rng() % (model.size() + 20);
          ASSERT_EQ(NetBufTrim(&chain, count), kOk);
          model.erase(0, count);
          break;
        }
        default: {  // read a random range back
          uint32_t offset = rng() % (model.size() + 1);
          uint32_t count = rng() % 300;
          std::string back(count, '\0');
          uint32_t got = NetBufRead(chain, back.data(), offset, count);
          back.resize(got);
          ASSERT_EQ(back, model.substr(offset, count));
        }
      }
      ASSERT_EQ(NetBufLength(chain), model.size());
      ASSERT_EQ(Contents(chain), model) << "round " << round << " op " << op;
    }
    NetBufRelease(&chain);
  }
  EXPECT_EQ(HeapGetStats().freeBytes, before);
  EXPECT_EQ(HeapValidate(), nullptr);
}

TEST_F(NetBufEditTest, ConcatOfNothingAnswersTheOtherChain) {
  NetBufChain* tail = NetBufAlloc(5);
  EXPECT_EQ(NetBufConcat(nullptr, tail), tail);
  NetBufRelease(&tail);
}

TEST_F(NetBufEditTest, TrimmingEverythingLeavesOneEmptyBlock) {
  const uint32_t before = HeapGetStats().freeBytes;
  NetBufChain* chain = NetBufAlloc(400);
  ASSERT_EQ(NetBufTrim(&chain, 1000), kOk);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->next, nullptr);
  EXPECT_EQ(NetBufLength(chain), 0u);
  EXPECT_EQ(NetBufWriteGrow(chain, "ab", 0, 2), kOk);
  EXPECT_EQ(Contents(chain), "ab");
  NetBufRelease(&chain);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

TEST_F(NetBufEditTest, CuttingIntoASharedBlockLeavesTheOtherChainWhole) {
  const uint32_t before = HeapGetStats().freeBytes;
  std::string bytes(200, 'x');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  NetBufChain* chain = NetBufAlloc(200);
  NetBufWrite(chain, bytes.data(), 0, 200);
  NetBufChain* other = chain->next;  // the second block (60 bytes) also held elsewhere
  ++other->refs;
  ASSERT_EQ(NetBufTrim(&chain, 150), kOk);
  EXPECT_EQ(Contents(chain), bytes.substr(150));
  EXPECT_EQ(Contents(other), bytes.substr(140));
  // The copy is the chain's own: writing either side leaves the other alone.
  ASSERT_EQ(NetBufWriteGrow(other, "!!", 0, 2), kOk);
  ASSERT_EQ(NetBufWriteGrow(chain, "?", 50, 1), kOk);
  EXPECT_EQ(Contents(other), "!!" + bytes.substr(142));
  EXPECT_EQ(Contents(chain), bytes.substr(150) + "?");
  NetBufRelease(&chain);
  NetBufRelease(&other);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

// Growing a chain whose last block another chain shares: the other chain
// keeps its bytes and blocks, and outlives this one.
TEST_F(NetBufTest, GrowingPastASharedLastBlockLeavesTheOtherChainAlone) {
  const uint32_t before = HeapGetStats().freeBytes;
  std::string bytes(200, 'x');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  for (uint32_t grow : {1u, 80u, 500u}) {
    NetBufChain* chain = NetBufAlloc(200);
    NetBufWrite(chain, bytes.data(), 0, 200);
    NetBufChain* other = chain->next;  // the last block (60 bytes), also held elsewhere
    ++other->refs;
    const std::string more(grow, '+');
    ASSERT_EQ(NetBufWriteGrow(chain, more.data(), 200, grow), kOk) << grow;
    EXPECT_EQ(Contents(chain), bytes + more) << grow;
    EXPECT_EQ(Contents(other), bytes.substr(140)) << grow;
    NetBufRelease(&chain);
    EXPECT_EQ(Contents(other), bytes.substr(140)) << grow;
    NetBufRelease(&other);
    EXPECT_EQ(HeapGetStats().freeBytes, before) << grow;
  }
  // One shared block is the chain itself: it cannot grow, and nothing changes.
  NetBufChain* chain = NetBufAlloc(10);
  NetBufWrite(chain, bytes.data(), 0, 10);
  NetBufChain* other = chain;
  ++other->refs;
  EXPECT_EQ(NetBufWriteGrow(chain, "!", 10, 1), kNetBufShared);
  EXPECT_EQ(Contents(other), bytes.substr(0, 10));
  NetBufRelease(&chain);
  NetBufRelease(&other);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
  EXPECT_EQ(HeapValidate(), nullptr);
}

class TinyHeapNetBufEditTest : public HeapFixture {
 protected:
  TinyHeapNetBufEditTest() : HeapFixture(1024) {}
};

TEST_F(TinyHeapNetBufEditTest, WithoutMemoryGrowingAndCuttingLeaveTheChainAsItWas) {
  NetBufChain* chain = NetBufAlloc(100);
  std::string bytes(100, 'q');
  NetBufWrite(chain, bytes.data(), 0, 100);
  std::string big(140 * 20, 'z');
  EXPECT_EQ(NetBufWriteGrow(chain, big.data(), 50, static_cast<uint32_t>(big.size())),
            kNetBufNoMemory);
  EXPECT_EQ(Contents(chain), bytes);
  // Fill the heap, then cut into a shared block: the copy cannot be made.
  std::vector<NetBufChain*> hogs;
  while (NetBufChain* hog = NetBufAlloc(0)) hogs.push_back(hog);
  ++chain->refs;
  EXPECT_EQ(NetBufTrim(&chain, 10), kNetBufNoMemory);
  EXPECT_EQ(Contents(chain), bytes);
  --chain->refs;
  for (NetBufChain* hog : hogs) NetBufRelease(&hog);
  NetBufRelease(&chain);
  EXPECT_EQ(HeapValidate(), nullptr);
}

}  // namespace
