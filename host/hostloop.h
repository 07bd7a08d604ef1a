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

// A wait that the loop's pump runs (a host dialog waiting for its answer)
// keeps the engine running: it calls HostLoopPassInPump, which takes one
// pass of the loop (poll and step) and answers how long to wait before the
// next one (HostLoopSleepMs), or -1 when no pass may run now: outside the
// pump (a wait opened from inside a step, whose step is never re-entered, or
// one before or after the loop) or once the loop is ending. HostLoopInPump
// says whether the loop is in its pump; HostLoopEnding that the loop has its
// final result or the host's quit, so that the wait should end too.
bool HostLoopInPump();
int32_t HostLoopPassInPump();
bool HostLoopEnding();

// How long the loop sleeps after a step that returned `result` when no window
// message waited: 10 ms when nothing ran, 5 ms after an idle message.
int32_t HostLoopSleepMs(Result result);

// How many passes in a row, up to the last, found no task to run: an engine
// that waits for the user sleeps, and this count keeps growing.
uint32_t HostLoopQuietPasses();
