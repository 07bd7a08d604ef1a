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

// The pointer left by a browser that never ended (an engine torn down under
// it) belongs to a heap that is gone: it is dropped, not freed.
BenHistory* BenHistoryOpen() {
  gHistory = static_cast<BenHistory*>(MemAllocZero(sizeof(BenHistory), Use::Context, Mod::Ben));
  if (!gHistory) return nullptr;
  HistLoad(gHistory->list.bytes, kBenHistoryBlockSize);
  IntHistLoad(&gHistory->back);
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
