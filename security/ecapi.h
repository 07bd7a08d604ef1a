// The security task (module 49) of the cryptographic provider: it keeps the
// random seed in the settings section "security".
#pragma once
#include <cstdint>

#include "kernel/modules.h"

#include "kernel/tskman.h"

namespace EcapiMsg {
constexpr uint32_t Started = Msg(Mod::Ecapi, 0x00), Stopped = Msg(Mod::Ecapi, 0x02);
}
constexpr Result kEcapiNoMemory = ResultError(Mod::Ecapi, Err::NoMemory);
constexpr uint32_t kEcapiSeedBytes = 20;

// Creates the task, which reads "randseed" (at most 20 bytes) and posts
// 0x3100 to the requester, seed found or not; 0x80310001 when memory runs out
// (no answer then).
Result EcapiStartSeedTask(TskmanTask* requester);
// Writes the seed back, posts 0x3102 to the requester and removes the task.
void EcapiStopSeedTask(TskmanTask* requester);
