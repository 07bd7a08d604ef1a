// The security task (module 49) of the cryptographic provider: it keeps the
// random seed in the settings section "security".
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace EcapiMsg {
constexpr uint32_t Started = 0x3100, Stopped = 0x3102;
}
constexpr Result kEcapiNoMemory = 0x80310001;
constexpr uint32_t kEcapiSeedBytes = 20;

// Creates the task, which reads "randseed" (at most 20 bytes) and posts
// 0x3100 to the requester, seed found or not; 0x80310001 when memory runs out
// (no answer then).
Result EcapiStartSeedTask(TskmanTask* requester);
// Writes the seed back, posts 0x3102 to the requester and removes the task.
void EcapiStopSeedTask(TskmanTask* requester);
