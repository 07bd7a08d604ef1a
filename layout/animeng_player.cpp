// The player record of one animated image and its frame operations; the
// frame timer runs on the page-animation task.
#include "layout/animeng.h"

namespace {

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
