// The resolver (module 24): turns host names into addresses. For now it is
// started and stopped with the services.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

#include "kernel/tskman.h"

namespace DnsMsg {
constexpr uint32_t Started = Msg(Mod::Net, 0x11), Stopped = Msg(Mod::Net, 0x13), StartFailed = Msg(Mod::Net, 0x91);
}

// Creates the task and posts 0x1711 to the requester, or 0x1791 with the
// error as the second argument.
void DnsStartTask(TskmanTask* requester);
// Stops the resolver and posts 0x1713 to the requester when done.
void DnsStopTask(TskmanTask* requester);
