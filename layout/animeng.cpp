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

uint32_t DelayOf(const AnimEngPlayer* player) {
  const uint32_t delay =
      player->delays && player->frame < player->frameCount ? player->delays[player->frame] : 0;
  return delay ? delay : 1000;
}

void Draw(AnimEngPlayer* player) {
  ++player->shown;
  if (player->draw) player->draw(player);
}

void StartTimer(AnimEngPlayer* player) {
  if (player->timer) return;
  if (TskmanTask* task = TskmanFind(Mod::AnimEng))
    TskmanStartTimer(&player->timer, task, reinterpret_cast<uintptr_t>(player), 1,
                     DelayOf(player));
}

}  // namespace

Result AnimEngTaskCreate() {
  TskmanTask* task = nullptr;
  return TskmanCreateTask(&task, Mod::AnimEng, AnimEngTaskHandler, nullptr);
}

void AnimEngTaskDelete() {
  if (TskmanTask* task = TskmanFind(Mod::AnimEng)) TskmanDestroyTask(task);
}

void AnimEngRestart(AnimEngPlayer* player) {
  player->frame = 0;
  player->paused = 0;
  Draw(player);
  StartTimer(player);
}

void AnimEngStepOnce(AnimEngPlayer* player) {
  if (player->frameCount == 0) return;
  player->frame = (player->frame + 1) % player->frameCount;
  Draw(player);
}

void AnimEngShowFirst(AnimEngPlayer* player) {
  player->frame = 0;
  Draw(player);
}

void AnimEngRewind(AnimEngPlayer* player) {
  TskmanCancelTimer(&player->timer);
  player->paused |= AnimEngPause::Stopped;
  player->frame = 0;
}

void AnimEngResume(AnimEngPlayer* player) {
  player->paused = 0;
  TskmanCancelTimer(&player->timer);
  StartTimer(player);
}

void AnimEngStop(AnimEngPlayer* player) {
  TskmanCancelTimer(&player->timer);
  player->paused |= AnimEngPause::Stopped;
  AnimEngShowFirst(player);
}
