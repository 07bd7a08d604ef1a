// Push reception (module 69): receives pushed messages for the inbox. For
// now it is started and stopped with the services.
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace NotifyMsg {
constexpr uint32_t Stop = 0x4505, Stopped = 0x4506, Started = 0x4507;
}
constexpr Result kNotifyNoMemory = 0x80450001;

// Creates the task, which answers 0x4507 to the requester when started;
// 0x80450001 when it cannot be created (no answer then).
Result NotifyStartTask(TskmanTask* requester);
// Marks the task as stopping and posts 0x4505 to it; it answers 0x4506 to
// the task that started it.
void NotifyStopTask();
