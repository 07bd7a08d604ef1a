// The ticker: its periods over the 50 ms tick, the shared timer that runs
// only while an entry runs, pause, halt and resume of entries and of the
// whole ticker, its messages, and stopping with entries left.
#include <vector>

#include "tests/widgets/pwl_fixture.h"
#include "widgets/pwl_ticker.h"

namespace {

class TickerTest : public PwlFixture {
 protected:
  void SetUp() override {
    PwlFixture::SetUp();
    ticker = PwlTickerGetContext();
    ASSERT_NE(ticker, nullptr);
    gTestLog.answer = [this](PwlControl* c, uint32_t message, uintptr_t, void* data) {
      if (message == PwlMsg::TickerPeriods) heard.push_back({c, *static_cast<int32_t*>(data)});
      return kOk;
    };
    a = Make(PwlType::Marquee, 1, {0, 0, 9, 9});
    b = Make(PwlType::Marquee, 2, {0, 10, 9, 19});
  }

  PwlTickerEntry* Add(PwlControl* c, int32_t period) {
    PwlTickerEntry* e = nullptr;
    EXPECT_EQ(PwlTickerAdd(c, 7, period, &e), kOk);
    return e;
  }
  // n engine ticks, each followed by the ticker's timer message.
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      Tick();
      Pump();
    }
  }

  struct Heard {
    PwlControl* control;
    int32_t periods;
  };
  std::vector<Heard> heard;
  PwlTicker* ticker = nullptr;
  PwlControl* a = nullptr;
  PwlControl* b = nullptr;
};

TEST_F(TickerTest, StartsWithTheToolkitAndStopsWithIt) {
  EXPECT_EQ(ticker->state, PwlTickerState::Running);
  EXPECT_EQ(ticker->timer, nullptr);
  EXPECT_EQ(ticker->running, 0u);
  PwlShutdown();
  EXPECT_EQ(TskmanFind(Mod::Ticker), nullptr);
}

TEST_F(TickerTest, PeriodFortyHearsOnceEveryFourthTick) {
  PwlTickerRun(Add(a, 40));
  Ticks(3);
  EXPECT_TRUE(heard.empty());
  Ticks(1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].control, a);
  EXPECT_EQ(heard[0].periods, 1);
  Ticks(4);
  EXPECT_EQ(heard.size(), 2u);
  // Period 5: two periods pass in one tick.
  PwlTickerRun(Add(b, 5));
  Ticks(1);
  EXPECT_EQ(heard.back().control, b);
  EXPECT_EQ(heard.back().periods, 2);
}

TEST_F(TickerTest, TheTimerRunsWhileAnyEntryRuns) {
  PwlTickerEntry* x = Add(a, 40);
  PwlTickerEntry* y = Add(b, 40);
  PwlTickerRun(x);
  PwlTickerRun(y);
  PwlTickerRun(y);  // running already: counted once
  EXPECT_EQ(ticker->running, 2u);
  PwlTickerHalt(x);
  EXPECT_NE(ticker->timer, nullptr);
  PwlTickerHalt(y);
  EXPECT_EQ(ticker->timer, nullptr);
  EXPECT_EQ(ticker->running, 0u);
  // Nothing runs: the host's tick stops too.
  EXPECT_FALSE(platform->tickRunning);
  PwlTickerRun(x);
  PwlTickerRemove(y);
  PwlTickerRemove(x);
  EXPECT_EQ(ticker->timer, nullptr);
  EXPECT_EQ(ticker->entries.head, nullptr);
  EXPECT_EQ(ticker->entries.tail, nullptr);
}

TEST_F(TickerTest, PauseKeepsTheCounterAndHaltStartsAgain) {
  PwlTickerEntry* e = Add(a, 40);
  PwlTickerRun(e);
  Ticks(2);
  PwlTickerPause(e);
  EXPECT_EQ(e->state, PwlTickerState::Paused);
  EXPECT_EQ(e->counter, 20);
  Ticks(3);
  PwlTickerRun(e);
  Ticks(2);
  EXPECT_EQ(heard.size(), 1u);

  PwlTickerHalt(e);
  Ticks(2);
  PwlTickerRun(e);
  EXPECT_EQ(e->counter, 0);
  Ticks(3);
  EXPECT_EQ(heard.size(), 1u);
  Ticks(1);
  EXPECT_EQ(heard.size(), 2u);
}

TEST_F(TickerTest, PauseAllHoldsEveryEntryAndResumeAllGoesOn) {
  PwlTickerEntry* e = Add(a, 40);
  PwlTickerRun(e);
  PwlTickerPauseAll();
  EXPECT_EQ(ticker->state, PwlTickerState::Paused);
  EXPECT_EQ(ticker->timer, nullptr);
  EXPECT_EQ(e->state, PwlTickerState::Running);
  EXPECT_EQ(ticker->running, 1u);
  // Running another entry meanwhile does not bring the timer back early.
  PwlTickerRun(Add(b, 40));
  EXPECT_EQ(ticker->timer, nullptr);
  Ticks(8);
  EXPECT_TRUE(heard.empty());
  PwlTickerResumeAll();
  EXPECT_NE(ticker->timer, nullptr);
  Ticks(4);
  EXPECT_EQ(heard.size(), 2u);
  // With nothing running, resuming starts no timer.
  PwlTickerHalt(e);
  PwlTickerRemove(reinterpret_cast<PwlTickerEntry*>(ticker->entries.tail));
  PwlTickerPauseAll();
  PwlTickerResumeAll();
  EXPECT_EQ(ticker->timer, nullptr);
}

TEST_F(TickerTest, MessagesReachTheSameOperations) {
  PwlTickerEntry* e = Add(a, 40);
  TskmanTask* task = TskmanFind(Mod::Ticker);
  TskmanPost(task, PwlTickerMsg::Run, reinterpret_cast<uintptr_t>(e), 0);
  Pump();
  EXPECT_EQ(e->state, PwlTickerState::Running);
  TskmanPost(task, PwlTickerMsg::Pause, reinterpret_cast<uintptr_t>(e), 0);
  Pump();
  EXPECT_EQ(e->state, PwlTickerState::Paused);
  TskmanPost(task, PwlTickerMsg::Run, reinterpret_cast<uintptr_t>(e), 0);
  TskmanPost(task, PwlTickerMsg::Halt, reinterpret_cast<uintptr_t>(e), 0);
  Pump();
  EXPECT_EQ(e->state, PwlTickerState::Stopped);
  TskmanPost(task, PwlTickerMsg::Run, reinterpret_cast<uintptr_t>(e), 0);
  TskmanPost(task, PwlTickerMsg::PauseAll, 0, 0);
  Pump();
  EXPECT_EQ(ticker->state, PwlTickerState::Paused);
  TskmanPost(task, PwlTickerMsg::ResumeAll, 0, 0);
  Pump();
  EXPECT_EQ(ticker->state, PwlTickerState::Running);
  TskmanPost(task, PwlTickerMsg::PauseAll, 0, 0);
  Pump();
  // A message naming an entry removed after it was posted is dropped.
  TskmanPost(task, PwlTickerMsg::Remove, reinterpret_cast<uintptr_t>(e), 0);
  TskmanPost(task, PwlTickerMsg::Run, reinterpret_cast<uintptr_t>(e), 0);
  Pump();
  EXPECT_EQ(ticker->entries.head, nullptr);
  EXPECT_EQ(ticker->running, 0u);
}

TEST_F(TickerTest, StoppingFreesEntriesLeftAndLaterCallsFindNothing) {
  PwlTickerRun(Add(a, 40));
  Add(b, 40);
  PwlTickerStop();
  EXPECT_EQ(TskmanFind(Mod::Ticker), nullptr);
  EXPECT_FALSE(platform->tickRunning);
  PwlTickerEntry* e = reinterpret_cast<PwlTickerEntry*>(1);
  EXPECT_EQ(PwlTickerAdd(a, 0, 40, &e), kPwlTickerNoMemory);
  EXPECT_EQ(e, nullptr);
  PwlTickerPauseAll();  // no ticker: nothing happens
  // The toolkit starts it again when asked.
  ASSERT_EQ(PwlTickerStart(), kOk);
  Pump();
  EXPECT_NE(PwlTickerGetContext(), nullptr);
}

}  // namespace
