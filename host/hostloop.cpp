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
}

uint32_t HostLoopQuietPasses() { return gQuietPasses; }

// Only the start-up task's own last result ends the loop: a module's error
// code that happens to end in 7 must not quit the emulator.
Result HostRunLoop(const HostLoopOps& ops) {
  Result result = kOk;
  gQuietPasses = 0;
  while (result != kUiStartFinished && !ops.quitRequested(ops.ctx)) {
    ops.poll(ops.ctx);
    result = ops.step(ops.ctx);
    gQuietPasses = result == kTskmanNothingRan ? gQuietPasses + 1 : 0;
    if (!ops.pumpMessages(ops.ctx)) {
      if (int32_t ms = HostLoopSleepMs(result)) ops.sleep(ops.ctx, ms);
    }
  }
  return result;
}
