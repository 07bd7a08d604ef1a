// The kept push messages outlive the emulator: push reception writes them
// into the settings section "inbox" when it stops and puts them back into
// the cache and the kept list when it starts.
#pragma once
#include <cstdint>

#include "kernel/config.h"

struct UrlLoad;

constexpr char kNotifyStoreSection[] = "inbox";

// Clears the open section and writes the listed messages in list order
// (push messages with their record), with the last push serial given.
Result NotifyStoreWrite(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count);
// Puts every stored message back (checked as it is read; a damaged one is
// skipped), each kept and listed again, and moves the push serial past
// every kept name.
void NotifyStoreRestore(ConfigHandle* handle);
