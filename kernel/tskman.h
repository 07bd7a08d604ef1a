// The task manager: cooperative tasks, the event ring, and the 50 ms timers.
//
// Every engine module is a task with one handler. Events are posted into a
// ring and delivered one per TskmanStep; a send calls the handler at once.
// Timers count host ticks of 50 ms and post message 261 to their task.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

using TskmanHandler = Result (*)(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

struct TskmanTask {
  ListNode link;  // in the task list, creation order
  uint32_t id;
  void* context;
  TskmanHandler handler;
  TskmanTask* idleNext;  // the idle list runs through here
  bool idleListed;
  // Stamped at creation from a counter that only goes up: a record freed and
  // made again for another task gets a new serial, so a name kept from the
  // first task cannot pass for the second (see TskmanRef).
  uintptr_t serial;
};

// A task named so that the name outlives the task: whoever keeps a task
// pointer past the moment it was handed over keeps it as a TskmanRef, taken
// while the task was known to stand (the current task, one just made, one
// named by a send or a message at its receipt). The pointer alone cannot
// tell its task from a later one made in the same freed record; the serial
// can. A task that stops waiting takes its name out of messages still queued
// for others (TskmanSiftEvents), so a name read from a message at receipt
// is its sender's.
struct TskmanRef {
  TskmanTask* task;
  uintptr_t serial;  // 0 for no task, or one that had already gone
  bool operator==(const TskmanRef&) const = default;
};

struct TskmanEvent {
  TskmanTask* target;  // null: every task in turn
  uint32_t message;
  uintptr_t arg1;
  uintptr_t arg2;
};

struct TskmanTimer {
  ListNode link;  // running list, expired list or pool
  uint32_t pooled;
  uint32_t fired;
  TskmanTask* task;
  uintptr_t user;
  uint32_t remaining;
  uint32_t period;  // 0: one-shot
};

// The task manager's own messages and results.
namespace TskMsg {
constexpr uint32_t Start = 256, Stop = 257, Idle = 258, Timer = 261, Stop2 = 262;
}
constexpr Result kTskmanNoMemory = ResultError(Mod::Tskman, Err::NoMemory);
constexpr Result kTskmanNothingRan = ResultError(Mod::Tskman, 0x8000);
constexpr Result kTskmanIdleRan = ResultError(Mod::Tskman, 0x8001);
constexpr uint32_t kTskmanRingSize = 32;
constexpr uint32_t kTskmanTickMs = 50;

Result TskmanInit();
void TskmanShutdown();

Result TskmanCreateTask(TskmanTask** out, uint32_t id, TskmanHandler handler, void* context);
Result TskmanCreateTaskEx(TskmanTask** out, uint32_t id, TskmanHandler handler, void* context,
                          bool postStart);
void TskmanDestroyTask(TskmanTask* task);
void TskmanFindTask(TskmanTask** out, uint32_t id);
TskmanTask* TskmanFind(uint32_t id);  // the same, as a value
// The task after `task` in creation order (the first task for null); null at
// the end.
TskmanTask* TskmanNextTask(TskmanTask* task);
// Whether `task` still stands: tasks are named by pointer in messages, and one
// that has ended must not be posted to (the post would find freed memory).
bool TskmanIsAlive(const TskmanTask* task);
// The name of `task` as it stands now: a task that is not standing (or null)
// gives a name that never passes TskmanRefAlive.
TskmanRef TskmanRefOf(TskmanTask* task);
// Whether the very task the name was taken from still stands; like
// TskmanIsAlive, one walk of the task list.
bool TskmanRefAlive(const TskmanRef& ref);
// The task, while it stands; null once it has gone.
TskmanTask* TskmanRefTask(const TskmanRef& ref);
void TskmanGetContext(void** out, const TskmanTask* task);
void TskmanSetContext(TskmanTask* task, void* context);

inline void TskmanPost(TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2);
void TskmanBroadcast(uint32_t message, uintptr_t arg1, uintptr_t arg2);
Result TskmanSend(TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2);
// message 0 matches every event of the task, otherwise message and arg1 both;
// count -1 purges all matches.
void TskmanPurgeEvents(TskmanTask* task, uint32_t message, uintptr_t arg1, int32_t count);
// Takes every event waiting for the task out of the queue, in order, and
// hands each to `take`: a task about to end answers or frees what was
// posted to it, so that nobody waits for it and nothing it carries is lost.
// Events posted while taking are left queued (the null task gets them when
// the task is destroyed).
using TskmanTaker = void (*)(void* user, uint32_t message, uintptr_t arg1, uintptr_t arg2);
void TskmanTakeEvents(TskmanTask* task, TskmanTaker take, void* user);
// Shows every event waiting for the task to `sift`, in order: it may change
// the arguments in place, and answers true to take the event out of the
// queue (what it carries is then the sifter's). It may post; what it posts is
// not shown to it. A task that stops waiting for its requests takes its name
// out of those still queued for others, and their answers queued for itself.
using TskmanSifter = bool (*)(void* user, uint32_t message, uintptr_t* arg1, uintptr_t* arg2);
void TskmanSiftEvents(TskmanTask* task, TskmanSifter sift, void* user);
void TskmanSetIdle(TskmanTask* task, bool on);

inline Result TskmanStep();
TskmanTask* TskmanGetCurrentTask();
uint32_t TskmanPendingCount();  // ring and overflow together
TskmanTask* TskmanNullTask();

Result TskmanStartTimer(TskmanTimer** out, TskmanTask* task, uintptr_t user, int repeat,
                        uint32_t milliseconds);
void TskmanCancelTimer(TskmanTimer** timer);
void TskmanTimerTick();
Result TskmanTimerStartTick();
void TskmanTimerStopTick();
bool TskmanTickRunning();

// Watching and fault injection, for the trace log and the tests: the
// observer sees every delivered event before its handler does; the next
// creation of a task with the given id fails as if memory had run out.
using TskmanObserver = void (*)(const TskmanTask* task, uint32_t message, uintptr_t arg1,
                                uintptr_t arg2);
void TskmanSetObserver(TskmanObserver observer);
void TskmanFailNextCreate(uint32_t id);

// ---- the common cases of post and step, inline --------------------------------

struct TskmanRoot {
  ListHead tasks;          // creation order, the null task first
  TskmanTask* idleFirst;   // idle list, through TskmanTask::idleNext
  TskmanTask* nullTask;
  uint32_t read;           // free-running; slot = index & 31
  uint32_t write;
  TskmanTask* current;
  ListNode* broadcastCursor;  // next task of the broadcast at the head; null: none yet
  TskmanTask* idleCursor;     // next idle task; null: start at the first
  TskmanEvent ring[kTskmanRingSize];
};

// Everything the inline paths read, side by side.
struct TskmanHot {
  TskmanRoot* root;
  uint32_t overflowed;      // events waiting behind a full ring
  TskmanObserver observer;
};
extern TskmanHot gTskmanHot;

// The rare paths: a post that finds the ring full or others already waiting,
// and a step that meets a broadcast, idle time, an observer or waiting events.
void TskmanPostOverflow(TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2);
Result TskmanStepGeneral();

inline void TskmanPost(TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  TskmanRoot* root = gTskmanHot.root;
  const uint32_t write = root->write;
  if (gTskmanHot.overflowed == 0 && write - root->read < kTskmanRingSize) [[likely]] {
    root->ring[write & (kTskmanRingSize - 1)] = TskmanEvent{task, message, arg1, arg2};
    root->write = write + 1;
    return;
  }
  TskmanPostOverflow(task, message, arg1, arg2);
}

inline Result TskmanStep() {
  TskmanRoot* root = gTskmanHot.root;
  const uint32_t read = root->read;
  if (read != root->write && gTskmanHot.overflowed == 0 && !gTskmanHot.observer) [[likely]] {
    const TskmanEvent& slot = root->ring[read & (kTskmanRingSize - 1)];
    TskmanTask* task = slot.target;
    if (task) [[likely]] {
      const uint32_t message = slot.message;
      const uintptr_t arg1 = slot.arg1, arg2 = slot.arg2;
      root->read = read + 1;
      root->current = task;
      const Result result = task->handler(task->context, message, arg1, arg2);
      // Read again: the handler may have stopped the task manager.
      gTskmanHot.root->current = nullptr;
      return result;
    }
  }
  return TskmanStepGeneral();
}
