// Cookies (module 59): the cookie jar kept in section "cookies".
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace CookiesMsg {
constexpr uint32_t Started = 0, Stopped = 1;
}

// Creates the task, which loads "cookies"; the requester receives message 0,
// also when the task cannot be created.
void CookiesStartTask(TskmanTask* requester);
// Writes "cookies" when they changed and cookies are on, stops the task; the
// requester receives message 1.
void CookiesStopTask(TskmanTask* requester);
