// The content-data chunk and its queue.
#include "kernel/datachunk.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace {

class DataChunkTest : public HeapFixture {
 protected:
  void TearDown() override { UtilDataChunkFreeQueue(&queue_); }
  Result Add(const std::vector<uint8_t>& bytes) {
    return UtilDataChunkAppend(&queue_, bytes.data(), static_cast<uint32_t>(bytes.size()),
                               Mod::Net);
  }
  Queue queue_{nullptr, nullptr};
};

TEST_F(DataChunkTest, AnEmptyAppendQueuesNothing) {
  EXPECT_EQ(UtilDataChunkAppend(&queue_, nullptr, 0, Mod::Net), kOk);
  EXPECT_EQ(queue_.head, nullptr);
  EXPECT_EQ(UtilDataChunkAppend(nullptr, nullptr, 1, Mod::Net),
            ResultError(Mod::Net, Err::BadArg));
}

TEST_F(DataChunkTest, TakeConsumesAcrossChunksAndFreesThem) {
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  Add({1, 2, 3});
  Add({4, 5});
  uint8_t out[8] = {};
  EXPECT_EQ(UtilDataChunkTake(&queue_, out, 4), 4u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
  UtilDataChunk* head = UtilDataChunkHead(&queue_);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->offset, 1u);
  EXPECT_EQ(head->remaining, 1u);
  EXPECT_EQ(UtilDataChunkTake(&queue_, out, 8), 1u);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(queue_.head, nullptr);
  EXPECT_EQ(queue_.tail, nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
  EXPECT_EQ(HeapValidate(), nullptr);
}

class DataChunkTinyHeapTest : public HeapFixture {
 protected:
  DataChunkTinyHeapTest() : HeapFixture(256) {}
};

TEST_F(DataChunkTinyHeapTest, OutOfMemoryLeavesTheQueueAlone) {
  Queue queue{nullptr, nullptr};
  std::vector<uint8_t> big(1000, 1);
  EXPECT_EQ(UtilDataChunkAppend(&queue, big.data(), 1000, Mod::Net),
            ResultError(Mod::Net, Err::NoMemory));
  EXPECT_EQ(queue.head, nullptr);
  EXPECT_EQ(UtilDataChunkNew(big.data(), 0xFFFFFFF8u, Mod::Net), nullptr);
}

}  // namespace
