// The kept push messages outlive the emulator: push reception writes them
// into the settings section "inbox" when it stops and puts them back into
// the cache and the kept list when it starts.
#pragma once
#include <cstdint>

#include "kernel/config.h"

struct UrlLoad;

constexpr char kNotifyStoreSection[] = "inbox";

// A connectivity message keeps its document (content type, headers and
// body) beside its record while that document takes at most
// kNotifyStoreDocLimit bytes in the section, and while the documents of the
// whole inbox stay within kNotifyStoreDocBudget bytes, taken in list order:
// the section shares its storage class's quota (8000 bytes unless the host
// sets another) with the repository and local content. A message whose
// document does not fit is kept by its name alone, as an inbox written
// before documents were kept holds it, and comes back with an empty object.
constexpr uint32_t kNotifyStoreDocLimit = 2048;
constexpr uint32_t kNotifyStoreDocBudget = 4096;

// Clears the open section and writes the listed messages in list order
// (push messages with their record; with `documents`, connectivity
// messages with their document where it fits), with the last push serial
// given. *documentBytes: what the documents written take.
Result NotifyStoreWrite(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count,
                        bool documents, uint32_t* documentBytes);
// Puts every stored message back (checked as it is read; a damaged one is
// skipped, as is one whose record or document the heap cannot hold), each
// kept and listed again, and moves the push serial past every kept name.
// A document that does not read leaves its message as one kept by name.
void NotifyStoreRestore(ConfigHandle* handle);
