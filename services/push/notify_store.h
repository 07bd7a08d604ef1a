// The kept push messages outlive the emulator: push reception writes them
// into the settings section "inbox" when it stops and puts them back into
// the cache and the kept list when it starts.
#pragma once
#include <cstdint>

#include "kernel/config.h"

struct UrlLoad;

constexpr char kNotifyStoreSection[] = "inbox";

// Clears the open section and writes the messages (those with a push record)
// in list order.
Result NotifyStoreWrite(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count);
// Puts every stored message back (checked as it is read; a damaged one is
// skipped), each kept and listed again.
void NotifyStoreRestore(ConfigHandle* handle);
