// The variable-substitution task (module 77) that fills the built-in page
// templates. For now it is started and stopped with the browser phase.
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace VarParseMsg {
constexpr uint32_t Ready = 0x4D00, Stopped = 0x4D06;
}

// Creates the task; the requester receives 0x4D00 when it is ready, or at
// once when the task cannot be created.
Result VarParseStartTask(TskmanTask* requester);
// Asks the task to stop; the requester receives 0x4D06 when it has, at once
// when no such task runs.
void VarParseStopTask(TskmanTask* requester);
