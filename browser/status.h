// The status indicator (module 82): the handset's status icons. For now it
// is started and stopped with the services.
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace StatusMsg {
constexpr uint32_t Started = 0x5200, Stop = 0x5201;
}
constexpr Result kStatusNoMemory = 0x80520001;

// Creates the task, which answers 0x5200 on its start message; 0x80520001
// when memory runs out (no answer then).
Result StatusCreateTask(TskmanTask* requester);
// Sends 0x5201 to the task, which removes itself; no answer.
void StatusStopTask(TskmanTask* requester);
