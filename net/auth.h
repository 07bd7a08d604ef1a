// Authentication (module 58): the passwords kept in section "passwords".
#pragma once
#include <cstdint>

#include "kernel/modules.h"

#include "kernel/tskman.h"

namespace AuthMsg {
constexpr uint32_t Started = Msg(Mod::Authentication, 0x02), Stopped = Msg(Mod::Authentication, 0x03);
}

// Creates the task, which loads "passwords"; the requester receives 0x3A02,
// also when the task cannot be created.
void AuthStartTask(TskmanTask* requester);
// Writes "passwords" when they changed, stops the task; the requester
// receives 0x3A03.
void AuthStopTask(TskmanTask* requester);
