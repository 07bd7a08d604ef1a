// The browser's history records as the browser instance keeps them: the
// history list in one block of fixed size, and the back stack of 16 slots.
// The browser core reads and writes their insides; the history files (hist.h)
// keep them between runs.
#pragma once
#include <cstdint>

// The history list's entries (BenHistoryEntry), kept whole in one block; its
// layout is the browser core's own, the files store it byte for byte.
constexpr uint32_t kBenHistoryBlockSize = 31466;
struct BenHistoryBlock {
  uint8_t bytes[kBenHistoryBlockSize];
};

constexpr int kBenBackSlots = 16;
constexpr uint32_t kBenBackItemSize = 20;

// One page on the back stack. The texts (8-bit, NUL-terminated) and the item
// (kBenBackItemSize bytes) are owned by the stack and allocated with module
// id 25; each may be null.
struct BenBackSlot {
  uint32_t value1;
  uint32_t value2;
  uint16_t value3;
  char* text1;
  char* text2;
  uint8_t* item;
};

// The back stack that BenFindHistoryEntry walks, a ring of slots: the first
// word counts the pages on it (0 for an empty stack), the last word is the
// slot of the most recent one, whose address is its first text.
struct BenBackStack {
  uint32_t first;
  BenBackSlot slots[kBenBackSlots];
  uint32_t last;
};

// Frees every slot's texts and item and zeroes the whole stack.
void BenBackStackClear(BenBackStack* stack);
// Puts a copy of the address on top; a full stack loses its oldest page.
void BenBackStackPush(BenBackStack* stack, const char* address);

// The history of the running browser: the block and the back stack, loaded
// from the files when the browser window is created and saved when it ends.
struct BenHistory {
  BenHistoryBlock list;
  BenBackStack back;
};

// Allocates the browser's history, loads both files into it and makes it the
// current one; a list that cannot be loaded starts empty (zeroed), and so
// does the back stack. Null when memory is short: the browser then runs
// without history; `unread` (when given) then tells whether it was a kept
// file memory could not read whole, which the load said.
BenHistory* BenHistoryOpen(bool* unread = nullptr);
// Saves both files and frees the current history; nothing when there is none.
void BenHistoryClose();
// The history of the running browser window, or null.
BenHistory* BenHistoryCurrent();
