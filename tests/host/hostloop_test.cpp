// The main loop's rules: what it sleeps after each kind of step, and what
// ends it.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "host/hostloop.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/recorder.h"

namespace {

// A scripted step source: each pass takes the next result and whether a
// window message waited; the loop's calls are logged.
struct FakeSteps {
  struct Pass {
    Result result;
    bool messages;
  };
  std::deque<Pass> script;
  std::vector<int32_t> sleeps;
  int polls = 0;
  int steps = 0;
  bool pendingMessages = false;
  bool quit = false;


  HostLoopOps Ops() {
    return {this,
            [](void* c) { ++static_cast<FakeSteps*>(c)->polls; },
            [](void* c) {
              auto* self = static_cast<FakeSteps*>(c);
              ++self->steps;
              Pass pass = self->script.empty() ? Pass{kUiStartFinished, false} : self->script.front();
              if (!self->script.empty()) self->script.pop_front();
              self->pendingMessages = pass.messages;
              return pass.result;
            },
            [](void* c) { return static_cast<FakeSteps*>(c)->pendingMessages; },
            [](void* c, int32_t ms) { static_cast<FakeSteps*>(c)->sleeps.push_back(ms); },
            [](void* c) { return static_cast<FakeSteps*>(c)->quit; }};
  }
};

// The loop runs over the real task manager, whose queue decides the nap
// after an idle step.
class HostLoopTest : public EngineFixture {};

TEST_F(HostLoopTest, SleepsTenAfterNothingRanFiveAfterIdleAndNotAfterWork) {
  FakeSteps fake;
  // A module's own code 0x8000 is work done, not an empty scheduler.
  fake.script = {{kTskmanNothingRan, false}, {kTskmanIdleRan, false}, {kOk, false},
                 {0x80190003, false}, {0x80198000, false}, {kUiStartFinished, false}};
  EXPECT_EQ(HostRunLoop(fake.Ops()), kUiStartFinished);
  EXPECT_EQ(fake.sleeps, (std::vector<int32_t>{10, 5}));
  EXPECT_EQ(fake.polls, 6);
}

// An idle step that queued work is followed at once; one that left nothing
// queued is followed by the nap.
TEST_F(HostLoopTest, AnIdleStepThatQueuedWorkIsFollowedAtOnce) {
  Recorder target(97);
  struct Passes {
    TskmanTask* target;
    int pass;
    std::vector<int32_t> sleeps;
  } passes{target.task(), 0, {}};
  HostLoopOps ops{&passes, [](void*) {},
                  [](void* c) -> Result {
                    auto* self = static_cast<Passes*>(c);
                    switch (self->pass++) {
                      case 0: TskmanPost(self->target, 0x6101, 0, 0); return kTskmanIdleRan;
                      case 1:
                        while (TskmanPendingCount()) TskmanStep();
                        return kTskmanIdleRan;
                      default: return kUiStartFinished;
                    }
                  },
                  [](void*) { return false; },
                  [](void* c, int32_t ms) { static_cast<Passes*>(c)->sleeps.push_back(ms); },
                  [](void*) { return false; }};
  EXPECT_EQ(HostRunLoop(ops), kUiStartFinished);
  EXPECT_EQ(passes.sleeps, (std::vector<int32_t>{5}));
  ASSERT_FALSE(target.log.empty());
  EXPECT_EQ(target.log.back().message, 0x6101u);
}

TEST_F(HostLoopTest, OnlyTheStartupTasksFinalResultEndsTheLoop) {
  FakeSteps fake;
  // Results ending in 7 from other modules keep the emulator running.
  fake.script = {{0x80190007, false}, {0x00000007, false}, {0x80188007, false},
                 {kUiStartFinished, false}, {kOk, false}};
  EXPECT_EQ(HostRunLoop(fake.Ops()), kUiStartFinished);
  EXPECT_EQ(fake.steps, 4);
  EXPECT_EQ(fake.script.size(), 1u);
}

// A wait the pump runs (a host dialog) takes the loop's passes, and the
// loop goes on with their result: the last one it takes ends the loop. A
// wait opened from inside a step takes none, as does one outside the loop.
TEST_F(HostLoopTest, AWaitInThePumpTakesPassesButNeverFromInsideAStep) {
  struct Waits {
    FakeSteps fake;
    HostLoopOps steps;  // the fake's
    std::vector<int32_t> inStep, inPump;
    bool ending = false;
  } waits;
  waits.steps = waits.fake.Ops();
  EXPECT_EQ(HostLoopPassInPump(), -1);
  EXPECT_FALSE(HostLoopInPump());
  waits.fake.script = {{kTskmanNothingRan, false}, {kTskmanNothingRan, false},
                       {kOk, false}, {kUiStartFinished, false}, {kOk, false}};
  HostLoopOps ops = waits.steps;
  ops.ctx = &waits;
  ops.poll = [](void* c) { static_cast<Waits*>(c)->steps.poll(&static_cast<Waits*>(c)->fake); };
  ops.step = [](void* c) {
    auto* self = static_cast<Waits*>(c);
    self->inStep.push_back(HostLoopPassInPump());
    return self->steps.step(&self->fake);
  };
  ops.pumpMessages = [](void* c) {
    auto* self = static_cast<Waits*>(c);
    // The first pump waits, taking passes until the loop ends.
    if (self->inPump.empty())
      while (!HostLoopEnding()) self->inPump.push_back(HostLoopPassInPump());
    self->ending = HostLoopEnding();
    return true;
  };
  ops.sleep = [](void* c, int32_t ms) { static_cast<Waits*>(c)->fake.sleeps.push_back(ms); };
  ops.quitRequested = [](void* c) { return static_cast<Waits*>(c)->fake.quit; };
  EXPECT_EQ(HostRunLoop(ops), kUiStartFinished);
  // The loop's own step, then three in the wait, the last of them final.
  EXPECT_EQ(waits.fake.steps, 4);
  EXPECT_EQ(waits.fake.polls, 4);
  EXPECT_EQ(waits.inStep, (std::vector<int32_t>{-1, -1, -1, -1}));
  EXPECT_EQ(waits.inPump, (std::vector<int32_t>{10, 0, -1}));
  EXPECT_TRUE(waits.ending);
  EXPECT_TRUE(waits.fake.sleeps.empty());
  EXPECT_FALSE(HostLoopEnding());
}

}  // namespace
