#include "layout/animeng.h"

namespace {

// The frame timers post to the task with the player as their user value.
Result AnimEngTaskHandler(void*, uint32_t message, uintptr_t, uintptr_t user) {
  if (message != TskMsg::Timer || !user) return kOk;
  auto* player = reinterpret_cast<AnimEngPlayer*>(user);
  if (player->paused) return kOk;
  AnimEngStepOnce(player);
  return kOk;
}

}  // namespace

Result AnimEngTaskCreate() {
  TskmanTask* task = nullptr;
  return TskmanCreateTask(&task, Mod::AnimEng, AnimEngTaskHandler, nullptr);
}

void AnimEngTaskDelete() {
  if (TskmanTask* task = TskmanFind(Mod::AnimEng)) TskmanDestroyTask(task);
}
