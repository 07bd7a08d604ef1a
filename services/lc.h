// The local content store (module 74): content pushed to the handset and
// kept for the browser. For now it is started and stopped with the services.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

#include "kernel/tskman.h"

namespace LcMsg {
constexpr uint32_t Started = Msg(Mod::LocalContent, 0x00), Stopped = Msg(Mod::LocalContent, 0x09);
}

// Creates the task, which posts 0x4A00 to the requester.
void LcStartTask(TskmanTask* requester);
// Posts 262 to the task, which answers 0x4A09; without the task 0x4A09 is
// posted at once.
void LcStopTask(TskmanTask* requester);
