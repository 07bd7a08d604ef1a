// The intrusive list with its head doubling as both end nodes, and the
// singly linked queue, each run through random operations against a model.
#include "kernel/list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

namespace {

constexpr int kNodes = 8;

TEST(ListTest, RandomOperationsMatchAModel) {
  ListNode node[kNodes] = {};
  ListHead head;
  ListInit(&head);
  std::deque<int> model;
  auto id = [&](ListNode* n) { return n ? static_cast<int>(n - node) : -1; };
  std::mt19937 rng(5);
  for (int step = 0; step < 4000; ++step) {
    const int i = static_cast<int>(rng() % kNodes);
    const auto at = std::find(model.begin(), model.end(), i);
    const bool linked = at != model.end();
    switch (rng() % 8) {
      case 0:
        if (!linked) ListAppend(&head, &node[i]), model.push_back(i);
        break;
      case 6:
        // No node to follow puts it in front; the end node, at the end.
        if (!linked) ListInsert(&head, nullptr, &node[i]), model.push_front(i);
        break;
      case 7:
        if (!linked) ListInsert(&head, ListEnd(&head), &node[i]), model.push_back(i);
        break;
      case 1:
        // The head as a node puts it in front.
        if (!linked) ListInsertAfter(ListHeadNode(&head), &node[i]), model.push_front(i);
        break;
      case 2:
        if (!linked && !model.empty()) {
          const int behind = model[rng() % model.size()];
          ListInsert(&head, &node[behind], &node[i]);
          model.insert(std::find(model.begin(), model.end(), behind) + 1, i);
        }
        break;
      case 3:
        // An unlinked node is left alone.
        ListRemove(&node[i]);
        if (linked) model.erase(at);
        EXPECT_EQ(node[i].next, nullptr);
        EXPECT_EQ(node[i].prev, nullptr);
        break;
      case 4:
        EXPECT_EQ(id(ListPopFront(&head)), model.empty() ? -1 : model.front());
        if (!model.empty()) model.pop_front();
        break;
      case 5:
        EXPECT_EQ(id(ListPopBack(&head)), model.empty() ? -1 : model.back());
        if (!model.empty()) model.pop_back();
        break;
    }
    // Both walks agree with the model, which checks every back link.
    std::vector<int> forward, backward;
    for (ListNode* n = ListFirst(&head); n; n = ListNext(n)) forward.push_back(id(n));
    for (ListNode* n = ListLast(&head); n; n = ListPrev(n)) backward.insert(backward.begin(), id(n));
    ASSERT_EQ(forward, std::vector<int>(model.begin(), model.end())) << step;
    ASSERT_EQ(backward, forward) << step;
    ASSERT_EQ(ListIsEmpty(&head), model.empty());
    ASSERT_EQ(head.tail, nullptr);
  }
}

TEST(QueueTest, RandomOperationsMatchAModel) {
  QueueNode node[kNodes] = {};
  Queue q{nullptr, nullptr};
  std::deque<int> model;
  auto id = [&](QueueNode* n) { return n ? static_cast<int>(n - node) : -1; };
  std::mt19937 rng(9);
  for (int step = 0; step < 4000; ++step) {
    const int i = static_cast<int>(rng() % kNodes);
    const auto at = std::find(model.begin(), model.end(), i);
    const bool queued = at != model.end();
    switch (rng() % 5) {
      case 0:
        if (!queued) QueueAppend(&q, &node[i]), model.push_back(i);
        break;
      case 1:
        if (!queued) QueuePushFront(&q, &node[i]), model.push_front(i);
        break;
      case 2:
        // A node not queued is left alone.
        QueueRemove(&q, &node[i]);
        if (queued) {
          model.erase(at);
          EXPECT_EQ(node[i].next, nullptr);
        }
        break;
      case 3:
        EXPECT_EQ(id(QueuePopFront(&q)), model.empty() ? -1 : model.front());
        if (!model.empty()) model.pop_front();
        break;
      case 4: {
        // A node not queued takes the place of one that is.
        const int other = static_cast<int>(rng() % kNodes);
        const auto old = std::find(model.begin(), model.end(), other);
        if (queued || other == i) break;
        QueueReplace(&q, &node[other], &node[i]);
        if (old != model.end()) *old = i;
        break;
      }
    }
    std::vector<int> walk;
    QueueNode* last = nullptr;
    for (QueueNode* n = q.head; n && walk.size() <= kNodes; last = n, n = n->next) walk.push_back(id(n));
    ASSERT_EQ(walk, std::vector<int>(model.begin(), model.end())) << step;
    ASSERT_EQ(q.tail, last) << step;
  }
}

}  // namespace
