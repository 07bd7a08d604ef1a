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

// The user preference flags, read from section "user" when the task starts.
namespace UserPrefFlag {
constexpr uint32_t Tp = 3;  // "tp": pushes must carry an accepted "push-flag" header
}
constexpr uint32_t kUserPrefFlags = 4;
// A user preference flag: 1 when set, 0 when clear, unknown, or while there
// is no user-preferences task.
uint32_t UserPrefGetFlag(uint32_t index);
