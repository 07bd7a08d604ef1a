// The host's main loop: one thread steps the modem and the task manager and
// pumps the window messages, sleeping when the engine has nothing to do.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct HostLoopOps {
  void* ctx;
  void (*poll)(void* ctx);         // the modem's dial step and line events
  Result (*step)(void* ctx);       // one scheduler step
  bool (*pumpMessages)(void* ctx); // dispatches every waiting window message; false when none waited
  void (*sleep)(void* ctx, int32_t milliseconds);
  bool (*quitRequested)(void* ctx);  // the host's own reason to stop
};

// Runs until the start-up task's final result or the host's quit flag;
// returns the last step's result.
Result HostRunLoop(const HostLoopOps& ops);

// How long the loop sleeps after a step that returned `result` when no window
// message waited: 10 ms when nothing ran, 5 ms after an idle message.
int32_t HostLoopSleepMs(Result result);

// How many passes in a row, up to the last, found no task to run: an engine
// that waits for the user sleeps, and this count keeps growing.
uint32_t HostLoopQuietPasses();
