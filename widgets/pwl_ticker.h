// The ticker (module 78): one task and one shared repeating timer that drive
// every control that moves by itself. Each entry tells its control through
// message 14 how many of its periods have passed.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"
#include "kernel/tskman.h"

struct PwlControl;

namespace PwlTickerState {
constexpr uint32_t Stopped = 0, Paused = 1, Running = 2;
}

// The task's messages; argument 1 is the entry where one is named.
namespace PwlTickerMsg {
constexpr uint32_t Halt = 0x4e00, Pause = 0x4e01, Run = 0x4e02, Remove = 0x4e03,
                   PauseAll = 0x4e04, ResumeAll = 0x4e05;
}

constexpr Result kPwlTickerNoMemory = 0x804e0001;
// Counter units one timer message adds; the timer is asked for this many
// milliseconds and fires once a 50 ms tick.
constexpr int32_t kPwlTickerStep = 10;

struct PwlTickerEntry {
  QueueNode link;
  uint32_t state;  // PwlTickerState
  uint32_t value;  // the creator's, never read here
  int32_t period;  // counter units per period, at least 1
  int32_t counter;
  PwlControl* control;
};

struct PwlTicker {
  TskmanTask* task;
  TskmanTimer* timer;  // exists while an entry runs and the ticker is not paused
  uint32_t state;      // 2 running, 1 paused as a whole
  Queue entries;
  uint32_t running;  // entries in state 2
};

Result PwlTickerStart();
void PwlTickerStop();
PwlTicker* PwlTickerGetContext();
Result PwlTickerHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// A new stopped entry at the tail; kPwlTickerNoMemory without memory or
// while the ticker has no context.
Result PwlTickerAdd(PwlControl* control, uint32_t value, int32_t period, PwlTickerEntry** out);
void PwlTickerRun(PwlTickerEntry* entry);
void PwlTickerPause(PwlTickerEntry* entry);
void PwlTickerHalt(PwlTickerEntry* entry);
void PwlTickerRemove(PwlTickerEntry* entry);
void PwlTickerPauseAll();
void PwlTickerResumeAll();
// One timer message's worth of counting.
void PwlTickerTick(PwlTicker* ticker);
