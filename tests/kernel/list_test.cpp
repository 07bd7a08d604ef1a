// The intrusive list with its head doubling as both end nodes, and the
// singly linked queue.
#include "kernel/list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item {
  ListNode link;
  int value;
};

std::vector<int> Forward(ListHead* head) {
  std::vector<int> out;
  for (ListNode* n = ListFirst(head); n; n = ListNext(n))
    out.push_back(reinterpret_cast<Item*>(n)->value);
  return out;
}

std::vector<int> Backward(ListHead* head) {
  std::vector<int> out;
  for (ListNode* n = ListLast(head); n; n = ListPrev(n))
    out.insert(out.begin(), reinterpret_cast<Item*>(n)->value);
  return out;
}

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ListInit(&head_);
    for (int i = 0; i < 5; ++i) item_[i] = Item{{nullptr, nullptr}, i};
  }
  // Both walks must agree, which checks every back link.
  std::vector<int> Contents() {
    std::vector<int> f = Forward(&head_);
    EXPECT_EQ(f, Backward(&head_));
    return f;
  }
  ListNode* N(int i) { return &item_[i].link; }
  ListHead head_;
  Item item_[5];
};

using V = std::vector<int>;

TEST_F(ListTest, EmptyListHasNoEnds) {
  EXPECT_TRUE(ListIsEmpty(&head_));
  EXPECT_EQ(head_.tail, nullptr);
  EXPECT_EQ(ListFirst(&head_), nullptr);
  EXPECT_EQ(ListLast(&head_), nullptr);
  EXPECT_EQ(ListPopFront(&head_), nullptr);
  EXPECT_EQ(ListPopBack(&head_), nullptr);
  EXPECT_TRUE(ListIsEmpty(&head_));
}

TEST_F(ListTest, InsertAtFrontBackAndAfterANode) {
  ListAppend(&head_, N(2));
  ListInsert(&head_, nullptr, N(0));        // front
  ListInsert(&head_, ListEnd(&head_), N(4));  // end
  ListInsert(&head_, N(0), N(1));           // behind a node
  ListInsertAfter(N(2), N(3));
  EXPECT_EQ(Contents(), (V{0, 1, 2, 3, 4}));
  ListRemove(N(0));
  ListInsertAfter(ListHeadNode(&head_), N(0));  // the head as a node: front
  EXPECT_EQ(Contents(), (V{0, 1, 2, 3, 4}));
  EXPECT_EQ(head_.tail, nullptr);
}

TEST_F(ListTest, RemoveAnywhereClearsTheLinks) {
  for (int i = 0; i < 5; ++i) ListAppend(&head_, N(i));
  ListRemove(N(2));
  ListRemove(N(0));
  ListRemove(N(4));
  EXPECT_EQ(Contents(), (V{1, 3}));
  for (int i : {0, 2, 4}) {
    EXPECT_EQ(N(i)->next, nullptr);
    EXPECT_EQ(N(i)->prev, nullptr);
  }
  ListRemove(N(0));  // no longer linked: nothing
  ListRemove(N(1));
  ListRemove(N(3));
  EXPECT_TRUE(ListIsEmpty(&head_));
  EXPECT_EQ(ListLast(&head_), nullptr);
}

TEST_F(ListTest, PopTakesFromEitherEnd) {
  for (int i = 0; i < 4; ++i) ListAppend(&head_, N(i));
  ListNode* n = ListPopFront(&head_);
  EXPECT_EQ(n, N(0));
  EXPECT_EQ(n->next, nullptr);
  EXPECT_EQ(n->prev, nullptr);
  n = ListPopBack(&head_);
  EXPECT_EQ(n, N(3));
  EXPECT_EQ(n->next, nullptr);
  EXPECT_EQ(Contents(), (V{1, 2}));
  EXPECT_EQ(ListPopBack(&head_), N(2));
  EXPECT_EQ(ListPopBack(&head_), N(1));
  EXPECT_EQ(ListPopBack(&head_), nullptr);
  EXPECT_TRUE(ListIsEmpty(&head_));
  ListAppend(&head_, N(4));  // still usable once emptied
  EXPECT_EQ(Contents(), (V{4}));
}

// --- Queue ---

struct QItem {
  QueueNode link;
  int value;
};

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 5; ++i) item_[i] = QItem{{reinterpret_cast<QueueNode*>(1)}, i};
  }
  std::vector<int> Contents() {
    std::vector<int> out;
    QueueNode* last = nullptr;
    for (QueueNode* n = q_.head; n; n = n->next) {
      out.push_back(reinterpret_cast<QItem*>(n)->value);
      last = n;
    }
    EXPECT_EQ(q_.tail, last) << "tail is not the last node";
    return out;
  }
  QueueNode* N(int i) { return &item_[i].link; }
  Queue q_{nullptr, nullptr};
  QItem item_[5];
};

TEST_F(QueueTest, AppendAndPopAreFirstInFirstOut) {
  for (int i = 0; i < 3; ++i) QueueAppend(&q_, N(i));
  EXPECT_EQ(Contents(), (V{0, 1, 2}));
  QueueNode* n = QueuePopFront(&q_);
  EXPECT_EQ(n, N(0));
  EXPECT_EQ(n->next, nullptr);
  EXPECT_EQ(QueuePopFront(&q_), N(1));
  EXPECT_EQ(QueuePopFront(&q_), N(2));
  EXPECT_EQ(q_.tail, nullptr);
  EXPECT_EQ(QueuePopFront(&q_), nullptr);
}

TEST_F(QueueTest, PushFrontOnEmptyQueueSetsTheTail) {
  QueuePushFront(&q_, N(1));
  EXPECT_EQ(q_.tail, N(1));
  QueuePushFront(&q_, N(0));
  QueueAppend(&q_, N(2));
  EXPECT_EQ(Contents(), (V{0, 1, 2}));
}

TEST_F(QueueTest, RemoveKeepsHeadAndTailRight) {
  for (int i = 0; i < 4; ++i) QueueAppend(&q_, N(i));
  QueueRemove(&q_, N(3));
  EXPECT_EQ(q_.tail, N(2));
  QueueRemove(&q_, N(0));
  EXPECT_EQ(q_.head, N(1));
  QueueRemove(&q_, N(4));  // not queued
  EXPECT_EQ(Contents(), (V{1, 2}));
  QueueRemove(&q_, N(1));
  QueueRemove(&q_, N(2));
  EXPECT_EQ(q_.head, nullptr);
  EXPECT_EQ(q_.tail, nullptr);
  QueueAppend(&q_, N(4));
  EXPECT_EQ(Contents(), (V{4}));
}

TEST_F(QueueTest, ReplaceTakesTheOldNodesPlace) {
  for (int i = 0; i < 3; ++i) QueueAppend(&q_, N(i));
  QueueReplace(&q_, N(0), N(3));
  QueueReplace(&q_, N(2), N(4));
  EXPECT_EQ(Contents(), (V{3, 1, 4}));
  QueueReplace(&q_, N(1), N(0));
  EXPECT_EQ(Contents(), (V{3, 0, 4}));
  QueueReplace(&q_, N(2), N(1));  // not queued: nothing
  EXPECT_EQ(Contents(), (V{3, 0, 4}));
  Queue one{nullptr, nullptr};
  QueueAppend(&one, N(2));
  QueueReplace(&one, N(2), N(1));
  EXPECT_EQ(one.head, N(1));
  EXPECT_EQ(one.tail, N(1));
  EXPECT_EQ(N(1)->next, nullptr);
}

}  // namespace
