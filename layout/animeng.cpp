#include "layout/animeng.h"

#include "kernel/tskman.h"

namespace {
Result AnimEngTaskHandler(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }
}  // namespace

Result AnimEngTaskCreate() {
  TskmanTask* task = nullptr;
  return TskmanCreateTask(&task, Mod::AnimEng, AnimEngTaskHandler, nullptr);
}

void AnimEngTaskDelete() {
  if (TskmanTask* task = TskmanFind(Mod::AnimEng)) TskmanDestroyTask(task);
}
