// The scheduler: posting, sending, broadcasts, destruction, purging, idle
// tasks and the ring's overflow.
#include <gtest/gtest.h>

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

TEST_F(TskmanTest, SendCallsTheHandlerAtOnceAndLeavesTheRingAlone) {
  Recorder task(70);
  task.answer = 0x80460002;
  EXPECT_EQ(TskmanPendingCount(), 1u);  // the start message
  EXPECT_EQ(TskmanSend(task.task(), kMsgA, 7, 8), 0x80460002u);
  EXPECT_EQ(task.log.back(), (Received{kMsgA, 7, 8}));
  EXPECT_EQ(TskmanPendingCount(), 1u);
  EXPECT_EQ(TskmanGetCurrentTask(), nullptr);
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

TEST_F(TskmanTest, EventsOfADestroyedTaskGoToTheNullTask) {
  Recorder task(70);
  task.answer = 0x80460005;
  Pump();
  for (int i = 0; i < 3; ++i) TskmanPost(task.task(), kMsgA, i, 0);
  task.Destroy();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Step(), kOk);
  EXPECT_EQ(TskmanPendingCount(), 0u);
  EXPECT_EQ(task.Messages(), std::vector<uint32_t>{});
}

TEST_F(TskmanTest, AHandlerMayDestroyItsOwnTask) {
  Recorder task(70, [](Recorder& self, const Received& e) {
    if (e.message == kMsgA) self.Destroy();
    return kOk;
  });
  Pump();
  TskmanPost(task.task(), kMsgA, 0, 0);
  TskmanPost(task.task(), kMsgB, 0, 0);
  Pump();
  EXPECT_EQ(task.Messages(), (std::vector<uint32_t>{kMsgA}));
  EXPECT_EQ(TskmanFind(70), nullptr);
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

TEST_F(TskmanTest, PurgeWithACountRetargetsOnlyTheOldestMatches) {
  Recorder task(70);
  Pump();
  TskmanPost(task.task(), TskMsg::Timer, 1, 10);
  TskmanPost(task.task(), TskMsg::Timer, 2, 20);
  TskmanPost(task.task(), TskMsg::Timer, 1, 30);
  TskmanPurgeEvents(task.task(), TskMsg::Timer, 1, 1);
  Pump();
  ASSERT_EQ(task.log.size(), 3u);
  EXPECT_EQ(task.log[1].arg2, 20u);
  EXPECT_EQ(task.log[2].arg2, 30u);
}

TEST_F(TskmanTest, TheRingKeepsOrderBeyondThirtyTwoPendingEvents) {
  Recorder task(70);
  Pump();
  for (uintptr_t i = 0; i < 100; ++i) TskmanPost(task.task(), kMsgA, i, 0);
  EXPECT_EQ(TskmanPendingCount(), 100u);
  // Posts made while the ring drains still queue behind the waiting ones.
  Step();
  TskmanPost(task.task(), kMsgB, 100, 0);
  Pump();
  ASSERT_EQ(task.log.size(), 102u);
  for (uintptr_t i = 0; i < 100; ++i) EXPECT_EQ(task.log[1 + i].arg1, i);
  EXPECT_EQ(task.log.back(), (Received{kMsgB, 100, 0}));
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

// The observer sees every delivery before the handler does, whichever way
// the step takes: a targeted event, a broadcast share, an idle message.
struct ObservedEvent {
  uint32_t taskId;
  uint32_t message;
  uintptr_t arg1;
  size_t handledBefore;  // deliveries the handlers had seen when observed
  bool operator==(const ObservedEvent&) const = default;
};
std::vector<ObservedEvent> gObserved;
size_t gHandled = 0;

void RecordObserved(const TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t) {
  gObserved.push_back({task->id, message, arg1, gHandled});
}

TEST_F(TskmanTest, TheObserverSeesEveryDeliveryBeforeItsHandler) {
  auto count = [](Recorder&, const Received&) {
    ++gHandled;
    return kOk;
  };
  Recorder a(70, count), b(71, count);
  Pump();
  gObserved.clear();
  gHandled = 0;
  TskmanSetObserver(RecordObserved);
  TskmanPost(a.task(), kMsgA, 5, 0);
  TskmanBroadcast(kMsgB, 6, 0);
  TskmanSetIdle(b.task(), true);
  EXPECT_EQ(Step(), kOk);  // a's event
  EXPECT_EQ(Step(), kOk);  // the null task's share of the broadcast
  EXPECT_EQ(Step(), kOk);  // a's share
  EXPECT_EQ(Step(), kOk);  // b's share
  EXPECT_EQ(Step(), kOk);  // the broadcast consumed
  EXPECT_EQ(Step(), kTskmanIdleRan);
  TskmanSetObserver(nullptr);
  TskmanPost(a.task(), kMsgA, 7, 0);
  Step();
  TskmanSetIdle(b.task(), false);
  EXPECT_EQ(gObserved, (std::vector<ObservedEvent>{{70, kMsgA, 5, 0},
                                                   {0, kMsgB, 6, 1},
                                                   {70, kMsgB, 6, 1},
                                                   {71, kMsgB, 6, 2},
                                                   {71, TskMsg::Idle, 0, 3}}));
  EXPECT_EQ(gHandled, 5u);
}

// ---- idle tasks ------------------------------------------------------------

class TskmanIdleTest : public EngineFixture {};

TEST_F(TskmanIdleTest, IdleTasksAreServedRoundRobinWhenTheRingIsEmpty) {
  Recorder a(70), b(71);
  Pump();
  TskmanSetIdle(a.task(), true);
  TskmanSetIdle(b.task(), true);  // front of the list: b, a
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Step(), kTskmanIdleRan);
  EXPECT_EQ(a.Count(TskMsg::Idle), 2u);
  EXPECT_EQ(b.Count(TskMsg::Idle), 2u);
  EXPECT_EQ(b.log[1].message, TskMsg::Idle);
}

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

TEST_F(TskmanIdleTest, DestroyingAnIdleTaskTakesItOffTheIdleList) {
  Recorder a(70), b(71);
  Pump();
  TskmanSetIdle(a.task(), true);
  TskmanSetIdle(b.task(), true);
  Step();  // b; the cursor designates a
  a.Destroy();
  EXPECT_EQ(Step(), kTskmanIdleRan);
  EXPECT_EQ(b.Count(TskMsg::Idle), 2u);
  b.Destroy();
  EXPECT_EQ(Step(), kTskmanNothingRan);
}

// ---- memory ----------------------------------------------------------------

TEST(TskmanMemoryTest, InitAndCreationReportOutOfMemory) {
  alignas(16) static uint8_t tiny[512];
  HeapArenaInit(tiny, sizeof tiny);
  MemSetEvictor(nullptr);
  EXPECT_EQ(TskmanInit(), kTskmanNoMemory);
  EXPECT_EQ(HeapValidate(), nullptr);
  EXPECT_EQ(HeapGetStats().freeBlocks, 1u);  // what it made was given back

  alignas(16) static uint8_t small[2600];
  HeapArenaInit(small, sizeof small);
  ASSERT_EQ(TskmanInit(), kOk);
  TskmanTask* task = reinterpret_cast<TskmanTask*>(1);
  Result r = kOk;
  for (int i = 0; i < 100 && r == kOk; ++i)
    r = TskmanCreateTask(&task, 70, [](void*, uint32_t, uintptr_t, uintptr_t) { return kOk; },
                         nullptr);
  EXPECT_EQ(r, kTskmanNoMemory);
  EXPECT_EQ(task, nullptr);
  TskmanShutdown();
}

}  // namespace
