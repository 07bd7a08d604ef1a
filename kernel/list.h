// The intrusive containers every engine record is linked with.
//
// ListHead is the classic three-word head {first, tail, last} whose tail word
// is always 0: the head itself serves as the node before the first and its
// tail word as the node after the last, so inserting and removing never test
// for the ends. A walk runs from first while node->next is not null.
#pragma once
#include <cstdint>

struct ListNode {
  ListNode* next;
  ListNode* prev;
};

struct ListHead {
  ListNode* first;
  ListNode* tail;  // always null
  ListNode* last;
};

void ListInit(ListHead* head);
// after null: at the front; after = ListEnd(head): at the end; else behind `after`.
void ListInsert(ListHead* head, ListNode* after, ListNode* node);
// Behind a node, or at the front when given the head (as a node).
void ListInsertAfter(ListNode* position, ListNode* node);
void ListAppend(ListHead* head, ListNode* node);
void ListRemove(ListNode* node);
ListNode* ListPopFront(ListHead* head);
ListNode* ListPopBack(ListHead* head);

// The head and its tail word seen as nodes.
inline ListNode* ListHeadNode(ListHead* head) { return reinterpret_cast<ListNode*>(head); }
inline ListNode* ListEnd(ListHead* head) { return reinterpret_cast<ListNode*>(&head->tail); }
inline bool ListIsEmpty(const ListHead* head) { return head->first->next == nullptr; }
// Walk helpers that answer null past the ends.
inline ListNode* ListFirst(ListHead* head) { return head->first->next ? head->first : nullptr; }
inline ListNode* ListLast(ListHead* head) { return head->last->prev ? head->last : nullptr; }
inline ListNode* ListNext(ListNode* node) { return node->next->next ? node->next : nullptr; }
inline ListNode* ListPrev(ListNode* node) { return node->prev->prev ? node->prev : nullptr; }

// The singly linked queue: a record's first word is its next link.
struct QueueNode {
  QueueNode* next;
};

struct Queue {
  QueueNode* head;
  QueueNode* tail;
};

void QueueAppend(Queue* queue, QueueNode* node);
void QueuePushFront(Queue* queue, QueueNode* node);
void QueueRemove(Queue* queue, QueueNode* node);
QueueNode* QueuePopFront(Queue* queue);
void QueueReplace(Queue* queue, QueueNode* old, QueueNode* replacement);

// The engine's shared trivial functions, for empty slots of its tables and
// for hooks that have nothing to do.
void* UtilNoOp();
int ReturnOne();
void NoOp();
