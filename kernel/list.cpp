// The intrusive doubly linked list and the singly linked queue. Neither
// allocates: the links live in the records.
#include "kernel/list.h"

void ListInit(ListHead* head) {
  head->first = ListEnd(head);
  head->tail = nullptr;
  head->last = ListHeadNode(head);
}

void ListInsertAfter(ListNode* position, ListNode* node) {
  ListNode* next = position->next;
  node->next = next;
  node->prev = position;
  next->prev = node;
  position->next = node;
}

void ListInsert(ListHead* head, ListNode* after, ListNode* node) {
  if (!after)
    after = ListHeadNode(head);
  else if (after == ListEnd(head))
    after = head->last;
  ListInsertAfter(after, node);
}

void ListAppend(ListHead* head, ListNode* node) { ListInsertAfter(head->last, node); }

void ListRemove(ListNode* node) {
  // A node that is on no list has null links; removing it again is harmless.
  if (!node->next || !node->prev) return;
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->next = nullptr;
  node->prev = nullptr;
}

ListNode* ListPopFront(ListHead* head) {
  if (ListIsEmpty(head)) return nullptr;
  ListNode* node = head->first;
  ListRemove(node);
  return node;
}

ListNode* ListPopBack(ListHead* head) {
  if (ListIsEmpty(head)) return nullptr;
  ListNode* node = head->last;
  ListRemove(node);
  return node;
}

void QueueAppend(Queue* queue, QueueNode* node) {
  node->next = nullptr;
  if (queue->tail)
    queue->tail->next = node;
  else
    queue->head = node;
  queue->tail = node;
}

void QueuePushFront(Queue* queue, QueueNode* node) {
  node->next = queue->head;
  queue->head = node;
  if (!queue->tail) queue->tail = node;
}

void QueueRemove(Queue* queue, QueueNode* node) {
  QueueNode* prev = nullptr;
  for (QueueNode* n = queue->head; n; prev = n, n = n->next) {
    if (n != node) continue;
    if (prev)
      prev->next = n->next;
    else
      queue->head = n->next;
    if (queue->tail == n) queue->tail = prev;
    n->next = nullptr;
    return;
  }
}

QueueNode* QueuePopFront(Queue* queue) {
  QueueNode* node = queue->head;
  if (!node) return nullptr;
  queue->head = node->next;
  if (!queue->head) queue->tail = nullptr;
  node->next = nullptr;
  return node;
}

void QueueReplace(Queue* queue, QueueNode* old, QueueNode* replacement) {
  QueueNode* prev = nullptr;
  for (QueueNode* n = queue->head; n; prev = n, n = n->next) {
    if (n != old) continue;
    replacement->next = old->next;
    if (prev)
      prev->next = replacement;
    else
      queue->head = replacement;
    if (queue->tail == old) queue->tail = replacement;
    return;
  }
}

void* UtilNoOp() { return nullptr; }

int ReturnOne() { return 1; }

void NoOp() {}
