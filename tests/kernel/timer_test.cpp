// Timers: tick rounding, cancelling with the purge of queued expiries, and
// the host tick that runs exactly while a timer does.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/tskman.h"
#include "tests/support/engine_fixture.h"

namespace {

class TimerTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    owner = std::make_unique<Recorder>(70);
    Pump();
  }
  void TearDown() override {
    owner.reset();
    EngineFixture::TearDown();
  }
  TskmanTimer* Start(uintptr_t user, int repeat, uint32_t ms) {
    TskmanTimer* timer = nullptr;
    EXPECT_EQ(TskmanStartTimer(&timer, owner->task(), user, repeat, ms), kOk);
    return timer;
  }
  // The user values of the expiries delivered so far.
  std::vector<uintptr_t> Fired() {
    Pump();
    std::vector<uintptr_t> users;
    for (const Received& r : owner->log)
      if (r.message == TskMsg::Timer) users.push_back(r.arg2);
    return users;
  }
  std::unique_ptr<Recorder> owner;
};

TEST_F(TimerTest, MillisecondsRoundUpToWholeTicks) {
  TskmanTimer* t10 = Start(10, 0, 10);
  TskmanTimer* t50 = Start(50, 0, 50);
  TskmanTimer* t51 = Start(51, 0, 51);
  TskmanTimer* t0 = Start(0, 0, 0);  // no wrap: one tick as well
  Tick();
  EXPECT_EQ(Fired(), (std::vector<uintptr_t>{10, 50, 0}));
  Tick();
  EXPECT_EQ(Fired(), (std::vector<uintptr_t>{10, 50, 0, 51}));
  for (TskmanTimer* t : {t10, t50, t51, t0}) TskmanCancelTimer(&t);
}

TEST_F(TimerTest, TheHostTickRunsExactlyWhileATimerRuns) {
  EXPECT_FALSE(platform->tickRunning);
  TskmanTimer* once = Start(1, 0, 50);
  EXPECT_TRUE(platform->tickRunning);
  Tick();
  EXPECT_FALSE(platform->tickRunning);  // the one-shot has expired
  TskmanTimer* rep = Start(2, 1, 50);
  EXPECT_TRUE(platform->tickRunning);
  Tick(3);
  EXPECT_TRUE(platform->tickRunning);
  TskmanCancelTimer(&rep);
  EXPECT_FALSE(platform->tickRunning);
  TskmanCancelTimer(&once);
  EXPECT_EQ(platform->tickStarts, 2);
}

TEST_F(TimerTest, CancellingARepeatingTimerRemovesAllItsQueuedExpiries) {
  TskmanTimer* timer = Start(1, 1, 50);
  TskmanTimer* other = Start(2, 1, 50);
  Tick(3);  // six expiries queued, none delivered
  TskmanCancelTimer(&timer);
  EXPECT_EQ(Fired(), (std::vector<uintptr_t>{2, 2, 2}));
  TskmanCancelTimer(&other);
}

}  // namespace
