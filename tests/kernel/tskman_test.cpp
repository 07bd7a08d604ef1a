// The scheduler: posting, broadcasts, destruction, idle tasks and the ring's
// overflow.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr uint32_t kMsgA = 0x4201, kMsgB = 0x4202;

class TskmanTest : public EngineFixture {};

TEST_F(TskmanTest, PostedEventsArriveInOrderAndTheStepReturnsTheHandlersResult) {
  Recorder task(70);
  task.answer = 0x80468001;
  Pump();
  TskmanPost(task.task(), kMsgA, 1, 2);
  TskmanPost(task.task(), kMsgB, 3, 4);
  EXPECT_EQ(Step(), 0x80468001u);
  EXPECT_EQ(Step(), 0x80468001u);
  EXPECT_EQ(task.log.back(), (Received{kMsgB, 3, 4}));
  EXPECT_EQ(task.Messages(), (std::vector<uint32_t>{kMsgA, kMsgB}));
}

TEST_F(TskmanTest, BroadcastTakesOneStepPerTaskPlusOneAndHoldsBackLaterEvents) {
  Recorder a(70), b(71);
  Pump();
  TskmanBroadcast(kMsgA, 5, 6);
  TskmanPost(a.task(), kMsgB, 0, 0);
  // Three tasks with the null task: three deliveries, then the consuming step.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Step(), kOk);
  EXPECT_EQ(a.Messages(), (std::vector<uint32_t>{kMsgA}));
  EXPECT_EQ(b.Messages(), (std::vector<uint32_t>{kMsgA}));
  EXPECT_EQ(TskmanPendingCount(), 2u);
  EXPECT_EQ(Step(), kOk);
  EXPECT_EQ(TskmanPendingCount(), 1u);
  Step();
  EXPECT_EQ(a.Messages(), (std::vector<uint32_t>{kMsgA, kMsgB}));
}

TEST_F(TskmanTest, DestroyingTheNextTaskOfABroadcastSkipsIt) {
  Recorder* victim = nullptr;
  Recorder a(70, [&](Recorder&, const Received& e) {
    if (e.message == kMsgA) victim->Destroy();
    return kOk;
  });
  Recorder b(71), c(72);
  victim = &b;
  Pump();
  TskmanBroadcast(kMsgA, 0, 0);
  Pump();
  EXPECT_EQ(a.Count(kMsgA), 1u);
  EXPECT_EQ(b.Count(kMsgA), 0u);
  EXPECT_EQ(c.Count(kMsgA), 1u);
}

// A task about to end takes what is queued for it, in order, from the ring
// and from behind it; what the taker posts, to itself too, stays queued and
// is delivered as usual.
TEST_F(TskmanTest, TakingATasksEventsHandsThemOverInOrderAndLeavesTheRest) {
  Recorder ending(70), other(71);
  Pump();
  for (uint32_t i = 0; i < kTskmanRingSize + 4; ++i)
    TskmanPost(i % 2 ? other.task() : ending.task(), kMsgA, i, 0);
  struct Taken {
    std::vector<uintptr_t> args;
    TskmanTask* self;
    TskmanTask* other;
  } taken{{}, ending.task(), other.task()};
  TskmanTakeEvents(
      ending.task(),
      [](void* user, uint32_t message, uintptr_t arg1, uintptr_t) {
        auto* t = static_cast<Taken*>(user);
        EXPECT_EQ(message, kMsgA);
        t->args.push_back(arg1);
        TskmanPost(t->self, kMsgB, arg1, 0);
        TskmanPost(t->other, kMsgB, arg1, 0);
      },
      &taken);
  std::vector<uintptr_t> even;
  for (uint32_t i = 0; i < kTskmanRingSize + 4; i += 2) even.push_back(i);
  EXPECT_EQ(taken.args, even);
  Pump();
  EXPECT_EQ(ending.Count(kMsgA), 0u);
  EXPECT_EQ(ending.Count(kMsgB), even.size());
  EXPECT_EQ(other.Count(kMsgA), even.size());
  EXPECT_EQ(other.Count(kMsgB), even.size());
}

// Sifting a task's queue shows each waiting event in order, from the ring
// and from behind it: a changed argument is delivered changed, a taken event
// is not delivered, and what the sifter posts is neither shown nor lost.
TEST_F(TskmanTest, SiftingATasksEventsChangesOrTakesEachInPlace) {
  Recorder sifted(70), other(71);
  Pump();
  for (uint32_t i = 0; i < kTskmanRingSize + 4; ++i)
    TskmanPost(i % 2 ? other.task() : sifted.task(), i % 3 ? kMsgA : kMsgB, i, 0);
  struct Seen {
    std::vector<uintptr_t> args;
    TskmanTask* self;
  } seen{{}, sifted.task()};
  TskmanSiftEvents(
      sifted.task(),
      [](void* user, uint32_t message, uintptr_t* arg1, uintptr_t* arg2) {
        auto* s = static_cast<Seen*>(user);
        s->args.push_back(*arg1);
        TskmanPost(s->self, kMsgB, 1000 + *arg1, 0);
        if (message == kMsgB) return true;
        *arg2 = *arg1 + 1;
        return false;
      },
      &seen);
  std::vector<uintptr_t> even;
  std::vector<Received> kept;
  for (uint32_t i = 0; i < kTskmanRingSize + 4; i += 2) {
    even.push_back(i);
    if (i % 3) kept.push_back(Received{kMsgA, i, i + 1});
  }
  for (uint32_t i = 0; i < kTskmanRingSize + 4; i += 2) kept.push_back(Received{kMsgB, 1000 + i, 0});
  EXPECT_EQ(seen.args, even);
  Pump();
  sifted.log.erase(sifted.log.begin());  // the start message
  EXPECT_EQ(sifted.log, kept);
  EXPECT_EQ(other.Count(kMsgA) + other.Count(kMsgB), even.size());
}

// A name kept past its task's end must not pass for a task made later in the
// same freed record, though the pointers are equal.
TEST_F(TskmanTest, ANameKeptFromAnEndedTaskDoesNotPassForOneMadeInItsRecord) {
  auto first = std::make_unique<Recorder>(70);
  const TskmanRef kept = TskmanRefOf(first->task());
  TskmanTask* record = first->task();
  EXPECT_TRUE(TskmanRefAlive(kept));
  EXPECT_EQ(TskmanRefTask(kept), record);
  first.reset();
  EXPECT_FALSE(TskmanRefAlive(kept));
  Recorder next(70);
  ASSERT_EQ(next.task(), record) << "the heap gave the record elsewhere: the case is not met";
  EXPECT_TRUE(TskmanIsAlive(record));
  EXPECT_FALSE(TskmanRefAlive(kept));
  EXPECT_EQ(TskmanRefTask(kept), nullptr);
  EXPECT_TRUE(TskmanRefAlive(TskmanRefOf(next.task())));
  // A name taken of a task already gone never passes, nor does none.
  EXPECT_FALSE(TskmanRefAlive(TskmanRefOf(nullptr)));
  Recorder other(71);
  TskmanTask* gone = other.task();
  other.Destroy();
  const TskmanRef late = TskmanRefOf(gone);
  Recorder again(71);
  EXPECT_FALSE(TskmanRefAlive(late));
}

TEST_F(TskmanTest, ABroadcastBehindAFullRingStillReachesEveryone) {
  Recorder a(70), b(71);
  Pump();
  for (int i = 0; i < 40; ++i) TskmanPost(a.task(), kMsgA, 0, 0);
  TskmanBroadcast(kMsgB, 0, 0);
  Pump();
  EXPECT_EQ(a.Count(kMsgA), 40u);
  EXPECT_EQ(a.Count(kMsgB), 1u);
  EXPECT_EQ(b.Count(kMsgB), 1u);
}

using TskmanIdleTest = TskmanTest;

TEST_F(TskmanIdleTest, UnsettingTheTaskUnderTheCursorMovesTheCursorOn) {
  Recorder a(70), b(71), c(72);
  Pump();
  TskmanSetIdle(c.task(), true);
  TskmanSetIdle(b.task(), true);
  TskmanSetIdle(a.task(), true);  // a, b, c
  Step();                         // a; the cursor now designates b
  TskmanSetIdle(b.task(), false);
  Step();
  EXPECT_EQ(c.Count(TskMsg::Idle), 1u);
  EXPECT_EQ(b.Count(TskMsg::Idle), 0u);
  Step();
  EXPECT_EQ(a.Count(TskMsg::Idle), 2u);
}

}  // namespace
