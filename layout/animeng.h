// Page animation (module 21): the task that steps the animated images of
// pages, and the player record of one animated image.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "kernel/tskman.h"

// Pause bits of a player.
namespace AnimEngPause {
constexpr uint32_t Stopped = 0x1, Held = 0x2;
}

struct AnimEngPlayer {
  uint32_t frameCount;
  uint32_t frame;          // the current frame
  const uint32_t* delays;  // milliseconds per frame, frameCount of them, or null
  uint32_t paused;         // AnimEngPause
  TskmanTimer* timer;      // the frame timer while it runs
  uint32_t shown;          // frames drawn, for those who watch
  // Draws the current frame; null draws nothing.
  void (*draw)(AnimEngPlayer* player);
};

Result AnimEngTaskCreate();
void AnimEngTaskDelete();

// Frame 0 again, and the frame timer started unless it runs.
void AnimEngRestart(AnimEngPlayer* player);
// The next frame once, without the timer.
void AnimEngStepOnce(AnimEngPlayer* player);
// Draws the first frame and makes it current.
void AnimEngShowFirst(AnimEngPlayer* player);
// Stops and makes the first frame current.
void AnimEngRewind(AnimEngPlayer* player);
// Clears the pause bits and runs the timer with the current frame's delay.
void AnimEngResume(AnimEngPlayer* player);
// Cancels the timer and shows the first frame.
void AnimEngStop(AnimEngPlayer* player);
