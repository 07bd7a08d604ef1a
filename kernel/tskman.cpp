// The task manager: the ring of posted events, the scheduler step, the idle
// round-robin, and the tick-driven timers.
#include "kernel/tskman.h"

#include <cstddef>
#include <deque>

#include "host/platform/shell.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kRingMask = kTskmanRingSize - 1;
constexpr int kBuiltinTimers = 8;

struct TimerRoot {
  ListHead running;
  ListHead pool;
  ListHead expired;
  bool tickRunning;
  TskmanTimer builtin[kBuiltinTimers];
};

TskmanRoot*& gRoot = gTskmanHot.root;
TskmanObserver& gObserver = gTskmanHot.observer;
constexpr uint32_t kNoFailure = 0xFFFFFFFF;
uint32_t gFailCreateId = kNoFailure;
TimerRoot* gTimers = nullptr;
// The last serial given out. Never reset, not even by a new TskmanInit: a
// name cannot outlive the engine, but a counter that only climbs needs no
// argument about that. Pointer-sized, so 64 bits on the hosts we build for:
// a billion tasks a second would take centuries to wrap it (tasks are made
// per request, a handful a second). On a 32-bit host it wraps after four
// billion tasks, and then only a name kept across all of them could be
// mistaken.
uintptr_t gLastSerial = 0;

// Events posted while the ring is full wait here, in order, and move into the
// ring as slots free up. This is host memory: the ring itself never grows.
std::deque<TskmanEvent> gOverflow;
std::deque<TskmanEvent>& Overflow() { return gOverflow; }
// The inline paths see only the count.
void OverflowCounted() { gTskmanHot.overflowed = static_cast<uint32_t>(gOverflow.size()); }

TskmanTask* TaskOf(ListNode* node) { return reinterpret_cast<TskmanTask*>(node); }

Result NullHandler(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }

uint32_t RingCount() { return gRoot->write - gRoot->read; }

void RingPut(const TskmanEvent& event) {
  gRoot->ring[gRoot->write & kRingMask] = event;
  ++gRoot->write;
}

// A slot has been consumed: the oldest waiting overflow event takes it.
void RefillFromOverflow() {
  auto& overflow = Overflow();
  if (!overflow.empty() && RingCount() < kTskmanRingSize) [[unlikely]] {
    RingPut(overflow.front());
    overflow.pop_front();
    OverflowCounted();
  }
}

// Calls f on every pending event in delivery order; f returns false to stop.
template <class F>
void ForEachPending(F f) {
  for (uint32_t i = gRoot->read; i != gRoot->write; ++i)
    if (!f(gRoot->ring[i & kRingMask])) return;
  for (TskmanEvent& event : Overflow())
    if (!f(event)) return;
}

TskmanTask* IdleFindPrev(TskmanTask* task) {
  TskmanTask* prev = nullptr;
  for (TskmanTask* t = gRoot->idleFirst; t && t != task; t = t->idleNext) prev = t;
  return prev;
}

Result Dispatch(TskmanTask* task, const TskmanEvent& event) {
  if (gObserver) gObserver(task, event.message, event.arg1, event.arg2);
  gRoot->current = task;
  Result result = task->handler(task->context, event.message, event.arg1, event.arg2);
  gRoot->current = nullptr;
  return result;
}

}  // namespace

TskmanHot gTskmanHot{};

Result TskmanInit() {
  gRoot = static_cast<TskmanRoot*>(MemAllocZero(sizeof(TskmanRoot), Use::Context, Mod::Tskman));
  gTimers = static_cast<TimerRoot*>(MemAllocZero(sizeof(TimerRoot), Use::Context, Mod::Tskman));
  if (gRoot && gTimers) {
    ListInit(&gRoot->tasks);
    ListInit(&gTimers->running);
    ListInit(&gTimers->pool);
    ListInit(&gTimers->expired);
    for (TskmanTimer& timer : gTimers->builtin) {
      timer.pooled = 1;
      ListAppend(&gTimers->pool, &timer.link);
    }
    Overflow().clear();
    OverflowCounted();
    if (TskmanCreateTaskEx(&gRoot->nullTask, 0, NullHandler, nullptr, false) == kOk) return kOk;
  }
  MemFree(&gTimers);
  MemFree(&gRoot);
  return kTskmanNoMemory;
}

void TskmanShutdown() {
  if (!gRoot) return;
  if (gTimers && gTimers->tickRunning) {
    gTimers->tickRunning = false;
    ShellStopTick();
  }
  MemFree(&gTimers);
  TskmanDestroyTask(gRoot->nullTask);
  Overflow().clear();
  OverflowCounted();
  MemFree(&gRoot);
}

Result TskmanCreateTaskEx(TskmanTask** out, uint32_t id, TskmanHandler handler, void* context,
                          bool postStart) {
  TskmanTask* task = nullptr;
  if (id == gFailCreateId)
    gFailCreateId = kNoFailure;
  else
    task = static_cast<TskmanTask*>(MemAllocZero(sizeof(TskmanTask), Use::Task, Mod::Tskman));
  *out = task;
  if (!task) return kTskmanNoMemory;
  task->id = id;
  task->serial = ++gLastSerial;
  task->handler = handler;
  task->context = context;
  ListAppend(&gRoot->tasks, &task->link);
  if (postStart) TskmanPost(task, TskMsg::Start, reinterpret_cast<uintptr_t>(task), 0);
  return kOk;
}

Result TskmanCreateTask(TskmanTask** out, uint32_t id, TskmanHandler handler, void* context) {
  return TskmanCreateTaskEx(out, id, handler, context, true);
}

void TskmanDestroyTask(TskmanTask* task) {
  if (!task) return;
  // Keep the cursors on live tasks.
  if (gRoot->broadcastCursor == &task->link) gRoot->broadcastCursor = task->link.next;
  if (task->idleListed) TskmanSetIdle(task, false);
  ListRemove(&task->link);
  if (gRoot->current == task) gRoot->current = nullptr;
  // The null task goes last, at shutdown, when nothing is delivered any more.
  TskmanTask* heir = gRoot->nullTask;
  if (task != heir) {
    ForEachPending([&](TskmanEvent& event) {
      if (event.target == task) event.target = heir;
      return true;
    });
    // A timer its owner left running must not post to a freed record.
    for (ListHead* list : {&gTimers->running, &gTimers->expired})
      for (ListNode* n = ListFirst(list); n; n = ListNext(n)) {
        auto* timer = reinterpret_cast<TskmanTimer*>(n);
        if (timer->task == task) timer->task = heir;
      }
  }
  MemFree(&task);
}

void TskmanFindTask(TskmanTask** out, uint32_t id) { *out = TskmanFind(id); }

TskmanTask* TskmanFind(uint32_t id) {
  if (!gRoot) return nullptr;
  for (ListNode* n = ListFirst(&gRoot->tasks); n; n = ListNext(n))
    if (TaskOf(n)->id == id) return TaskOf(n);
  return nullptr;
}

TskmanTask* TskmanNextTask(TskmanTask* task) {
  if (!gRoot) return nullptr;
  ListNode* n = task ? ListNext(&task->link) : ListFirst(&gRoot->tasks);
  return n ? TaskOf(n) : nullptr;
}

bool TskmanIsAlive(const TskmanTask* task) {
  if (!task) return false;
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t))
    if (t == task) return true;
  return false;
}

TskmanRef TskmanRefOf(TskmanTask* task) {
  // The record of a task that has gone is not read: it may be free memory.
  if (!TskmanIsAlive(task)) return TskmanRef{task, 0};
  return TskmanRef{task, task->serial};
}

bool TskmanRefAlive(const TskmanRef& ref) {
  if (!ref.task || ref.serial == 0) return false;
  // Compared only once the record is found in the list, where it is a task.
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t))
    if (t == ref.task) return t->serial == ref.serial;
  return false;
}

TskmanTask* TskmanRefTask(const TskmanRef& ref) {
  return TskmanRefAlive(ref) ? ref.task : nullptr;
}

void TskmanGetContext(void** out, const TskmanTask* task) { *out = task->context; }
void TskmanSetContext(TskmanTask* task, void* context) { task->context = context; }

[[gnu::cold]] void TskmanPostOverflow(TskmanTask* task, uint32_t message, uintptr_t arg1,
                                     uintptr_t arg2) {
  // The inline post found the ring full or events already waiting behind it.
  Overflow().push_back(TskmanEvent{task, message, arg1, arg2});
  OverflowCounted();
}

void TskmanBroadcast(uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  TskmanPost(nullptr, message, arg1, arg2);
}

Result TskmanSend(TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  return task->handler(task->context, message, arg1, arg2);
}

void TskmanPurgeEvents(TskmanTask* task, uint32_t message, uintptr_t arg1, int32_t count) {
  if (!task) return;
  ForEachPending([&](TskmanEvent& event) {
    if (count == 0) return false;
    if (event.target == task && (message == 0 || (event.message == message && event.arg1 == arg1))) {
      event.target = gRoot->nullTask;
      if (count > 0) --count;
    }
    return true;
  });
}

void TskmanTakeEvents(TskmanTask* task, TskmanTaker take, void* user) {
  if (!take) return;
  // A sifter that takes every event.
  struct Taking {
    TskmanTaker take;
    void* user;
  } taking{take, user};
  TskmanSiftEvents(
      task,
      [](void* u, uint32_t message, uintptr_t* arg1, uintptr_t* arg2) {
        const auto* t = static_cast<const Taking*>(u);
        t->take(t->user, message, *arg1, *arg2);
        return true;
      },
      &taking);
}

void TskmanSiftEvents(TskmanTask* task, TskmanSifter sift, void* user) {
  if (!task || !sift) return;
  const uint32_t ringEnd = gRoot->write;
  const std::size_t overflowEnd = Overflow().size();
  // The event is found again by its index after the sifter ran: a post may
  // move the overflow.
  auto siftOne = [&](auto slot) {
    if (slot().target != task) return;
    TskmanEvent event = slot();
    const bool take = sift(user, event.message, &event.arg1, &event.arg2);
    TskmanEvent& at = slot();
    at.arg1 = event.arg1;
    at.arg2 = event.arg2;
    if (take) at.target = gRoot->nullTask;
  };
  for (uint32_t i = gRoot->read; i != ringEnd; ++i)
    siftOne([&]() -> TskmanEvent& { return gRoot->ring[i & kRingMask]; });
  for (std::size_t i = 0; i < overflowEnd && i < Overflow().size(); ++i)
    siftOne([&]() -> TskmanEvent& { return Overflow()[i]; });
}

void TskmanSetIdle(TskmanTask* task, bool on) {
  if (on) {
    if (task->idleListed) return;
    task->idleNext = gRoot->idleFirst;
    gRoot->idleFirst = task;
    task->idleListed = true;
    return;
  }
  if (!task->idleListed) return;
  TskmanTask* prev = IdleFindPrev(task);
  if (prev)
    prev->idleNext = task->idleNext;
  else
    gRoot->idleFirst = task->idleNext;
  if (gRoot->idleCursor == task) gRoot->idleCursor = task->idleNext;
  task->idleNext = nullptr;
  task->idleListed = false;
}

Result TskmanStepGeneral() {
  if (gRoot->read != gRoot->write) {
    TskmanEvent event = gRoot->ring[gRoot->read & kRingMask];
    if (event.target) {
      ++gRoot->read;
      RefillFromOverflow();
      return Dispatch(event.target, event);
    }
    // A broadcast stays at the head of the ring until every task has had it:
    // one task per step, then one last step that consumes it.
    ListNode* node = gRoot->broadcastCursor ? gRoot->broadcastCursor : gRoot->tasks.first;
    if (node->next == nullptr) {
      gRoot->broadcastCursor = nullptr;
      ++gRoot->read;
      RefillFromOverflow();
      return kOk;
    }
    gRoot->broadcastCursor = node->next;
    return Dispatch(TaskOf(node), event);
  }
  if (gRoot->idleFirst) {
    TskmanTask* task = gRoot->idleCursor ? gRoot->idleCursor : gRoot->idleFirst;
    gRoot->idleCursor = task->idleNext;
    Dispatch(task, TskmanEvent{task, TskMsg::Idle, 0, 0});
    return kTskmanIdleRan;
  }
  return kTskmanNothingRan;
}

void TskmanSetObserver(TskmanObserver observer) { gObserver = observer; }
void TskmanFailNextCreate(uint32_t id) { gFailCreateId = id; }

TskmanTask* TskmanGetCurrentTask() { return gRoot ? gRoot->current : nullptr; }
uint32_t TskmanPendingCount() { return RingCount() + static_cast<uint32_t>(Overflow().size()); }
TskmanTask* TskmanNullTask() { return gRoot ? gRoot->nullTask : nullptr; }

// ---- timers ----------------------------------------------------------------

Result TskmanTimerStartTick() {
  if (gTimers->tickRunning) return kOk;
  Result failed = static_cast<Result>(ShellStartTick());
  if (failed) return failed;
  gTimers->tickRunning = true;
  return kOk;
}

void TskmanTimerStopTick() {
  if (gTimers->tickRunning && ListIsEmpty(&gTimers->running)) {
    gTimers->tickRunning = false;
    ShellStopTick();
  }
}

bool TskmanTickRunning() { return gTimers && gTimers->tickRunning; }

Result TskmanStartTimer(TskmanTimer** out, TskmanTask* task, uintptr_t user, int repeat,
                        uint32_t milliseconds) {
  *out = nullptr;
  if (Result r = TskmanTimerStartTick(); r != kOk) return r;
  auto* timer = reinterpret_cast<TskmanTimer*>(ListPopFront(&gTimers->pool));
  if (!timer) {
    timer = static_cast<TskmanTimer*>(MemAllocZero(sizeof(TskmanTimer), Use::Task, Mod::Tskman));
    if (!timer) {
      TskmanTimerStopTick();
      return kTskmanNoMemory;
    }
  }
  // Rounded up to whole ticks; a request of 0 ms still waits one tick.
  uint64_t ticks = (static_cast<uint64_t>(milliseconds) + kTskmanTickMs - 1) / kTskmanTickMs;
  if (ticks == 0) ticks = 1;
  timer->task = task;
  timer->user = user;
  timer->remaining = static_cast<uint32_t>(ticks);
  timer->period = repeat ? static_cast<uint32_t>(ticks) : 0;
  timer->fired = 0;
  ListAppend(&gTimers->running, &timer->link);
  *out = timer;
  return kOk;
}

void TskmanCancelTimer(TskmanTimer** handle) {
  TskmanTimer* timer = *handle;
  if (!timer) return;
  ListRemove(&timer->link);
  TskmanTimerStopTick();
  if (timer->fired)
    TskmanPurgeEvents(timer->task, TskMsg::Timer, reinterpret_cast<uintptr_t>(timer),
                      timer->period ? -1 : 1);
  if (timer->pooled)
    ListAppend(&gTimers->pool, &timer->link);
  else
    MemFree(&timer);
  *handle = nullptr;
}

void TskmanTimerTick() {
  ListNode* n = ListFirst(&gTimers->running);
  while (n) {
    ListNode* next = ListNext(n);
    auto* timer = reinterpret_cast<TskmanTimer*>(n);
    if (--timer->remaining == 0) {
      TskmanPost(timer->task, TskMsg::Timer, reinterpret_cast<uintptr_t>(timer), timer->user);
      timer->fired = 1;
      if (timer->period) {
        timer->remaining = timer->period;
      } else {
        ListRemove(&timer->link);
        ListAppend(&gTimers->expired, &timer->link);
      }
    }
    n = next;
  }
  TskmanTimerStopTick();
}
