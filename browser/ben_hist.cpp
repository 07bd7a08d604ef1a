#include "browser/ben_hist.h"

#include "browser/hist.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/modules.h"

namespace {
BenHistory* gHistory = nullptr;
}

void BenBackStackClear(BenBackStack* stack) {
  for (BenBackSlot& slot : stack->slots) {
    MemFree(&slot.text1);
    MemFree(&slot.text2);
    MemFree(&slot.item);
  }
  LibcMemSet(stack, 0, sizeof(*stack));
}

void BenBackStackPush(BenBackStack* stack, const char* address) {
  char* copy = address ? LibcStrDup(address) : nullptr;
  if (!copy) return;
  const uint32_t slot = stack->first ? (stack->last + 1) % kBenBackSlots : 0;
  BenBackSlot& s = stack->slots[slot];
  MemFree(&s.text1);
  MemFree(&s.text2);
  MemFree(&s.item);
  s = {};
  s.text1 = copy;
  stack->last = slot;
  if (stack->first < kBenBackSlots) ++stack->first;
}

// The pointer left by a browser that never ended (an engine torn down under
// it) belongs to a heap that is gone: it is dropped, not freed.
BenHistory* BenHistoryOpen(bool* unread) {
  if (unread) *unread = false;
  gHistory = static_cast<BenHistory*>(MemAllocZero(sizeof(BenHistory), Use::Context, Mod::Ben));
  if (!gHistory) return nullptr;
  HistLoad(gHistory->list.bytes, kBenHistoryBlockSize);
  IntHistLoad(&gHistory->back);
  // A history kept that memory could not read (said by the load) is not
  // this run's to replace at its end: the browser runs without one, as when
  // its block is not had.
  if (HistLoadShortOfMemory()) {
    if (unread) *unread = true;
    BenBackStackClear(&gHistory->back);
    MemFree(&gHistory);
  }
  return gHistory;
}

void BenHistoryClose() {
  if (!gHistory) return;
  HistSave(gHistory->list.bytes, kBenHistoryBlockSize);
  IntHistSave(&gHistory->back);
  BenBackStackClear(&gHistory->back);
  MemFree(&gHistory);
}

BenHistory* BenHistoryCurrent() { return gHistory; }
