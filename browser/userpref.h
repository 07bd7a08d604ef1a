// The user preferences (module 81), kept in the settings section "user".
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace UserPrefMsg {
constexpr uint32_t Started = 0x5100, Failed = 0x5101, Stopped = 0x5102;
}

// Creates the task, which reads section "user" and answers 0x5100, or 0x5101
// with the error as the first argument when it cannot start.
void UserPrefStartTask(TskmanTask* requester);
// Sends 257 with the requester to the task, which answers 0x5102 and removes
// itself (at once when there is no task).
void UserPrefStopTask(TskmanTask* requester);
