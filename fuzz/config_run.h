// The settings task as the targets that go through it run it: a fresh heap
// in the target's arena, the kernel, a start task and a client task that
// keeps what its opens are answered, and the settings task started. Once
// the settings task has stopped, the heap must hold just what it held
// before the start, and be sound.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/tskman.h"

namespace config_run {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Runs the ring until it is empty; a run that never drains is a fault.
inline void Pump() {
  for (int steps = 0; TskmanPendingCount() > 0; ++steps) {
    Check(steps < 100000);
    TskmanStep();
  }
}

// The last answer to the client's open, and how many it has had.
struct Answer {
  Result status = 0;
  ConfigHandle* handle = nullptr;
  int answers = 0;
};

inline Result Client(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* a = static_cast<Answer*>(context);
  if (a && message == ConfigMsg::Opened) {
    a->status = static_cast<Result>(arg1);
    a->handle = reinterpret_cast<ConfigHandle*>(arg2);
    ++a->answers;
  }
  return kOk;
}

class Run {
 public:
  // False where the kernel does not start: the input is skipped.
  bool Start(std::vector<uint64_t>& arena) {
    HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
    if (TskmanInit() != kOk) return false;
    TskmanCreateTask(&starter_, Mod::UiStart, Client, nullptr);
    TskmanCreateTask(&client, 70, Client, &answer);
    Pump();
    freeBefore_ = HeapGetStats().freeBytes;
    Check(ConfigStart(starter_) == kOk);
    Pump();
    return true;
  }
  void Stop() {
    ConfigStop();
    Pump();
  }
  // After Stop: nothing of the run stays, and the kernel goes.
  void Finish() {
    Check(HeapGetStats().freeBytes == freeBefore_);
    TskmanDestroyTask(client);
    TskmanDestroyTask(starter_);
    TskmanShutdown();
    Check(HeapValidate() == nullptr);
  }
  Answer answer;
  TskmanTask* client = nullptr;

 private:
  TskmanTask* starter_ = nullptr;
  uint32_t freeBefore_ = 0;
};

}  // namespace config_run
