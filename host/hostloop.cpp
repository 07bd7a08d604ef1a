#include "host/hostloop.h"

#include "kernel/tskman.h"
#include "kernel/uistart.h"

int32_t HostLoopSleepMs(Result result) {
  if (result == kTskmanNothingRan) return 10;
  // An idle step that set work going (a datagram taken while more may wait
  // in the socket) is followed at once, or a burst would wait a nap for each.
  if (result == kTskmanIdleRan) return TskmanPendingCount() ? 0 : 5;
  return 0;
}

namespace {

uint32_t gQuietPasses = 0;
// The loop that runs, its last step's result, and whether it is in its
// pump: only then may a wait the pump runs take passes of its own.
const HostLoopOps* gLoop = nullptr;
Result gLast = kOk;
bool gPumping = false;

void Pass(const HostLoopOps& ops) {
  ops.poll(ops.ctx);
  gLast = ops.step(ops.ctx);
  gQuietPasses = gLast == kTskmanNothingRan ? gQuietPasses + 1 : 0;
}

// Only the start-up task's own last result ends the loop: a module's error
// code that happens to end in 7 must not quit the emulator.
bool Over(const HostLoopOps& ops) {
  return gLast == kUiStartFinished || ops.quitRequested(ops.ctx);
}

}  // namespace

uint32_t HostLoopQuietPasses() { return gQuietPasses; }

Result HostRunLoop(const HostLoopOps& ops) {
  gQuietPasses = 0;
  gLast = kOk;
  gLoop = &ops;
  while (!Over(ops)) {
    Pass(ops);
    gPumping = true;
    const bool messages = ops.pumpMessages(ops.ctx);
    gPumping = false;
    // A wait in the pump may have taken the last pass.
    if (!messages && !Over(ops)) {
      if (int32_t ms = HostLoopSleepMs(gLast)) ops.sleep(ops.ctx, ms);
    }
  }
  gLoop = nullptr;
  return gLast;
}

bool HostLoopInPump() { return gLoop && gPumping; }

int32_t HostLoopPassInPump() {
  if (!HostLoopInPump() || Over(*gLoop)) return -1;
  // The pass's own step may open a wait of its own (a message box), which
  // must not step the engine again from inside that step.
  gPumping = false;
  Pass(*gLoop);
  gPumping = true;
  return Over(*gLoop) ? -1 : HostLoopSleepMs(gLast);
}

bool HostLoopEnding() { return gLoop && Over(*gLoop); }
