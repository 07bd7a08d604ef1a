// The document a kept connectivity message carries, written beside the
// message's own record in the "inbox" section and put back with it. Only
// push reception's store uses these.
#pragma once
#include <cstdint>

#include "kernel/config.h"

struct UrlLoad;

// The bytes the message's document takes in the section; 0 when the message
// has no document to keep (not a connectivity message, or an object whose
// output is not plain data).
uint32_t NotifyStoreDocSize(const UrlLoad* message);
// Writes the document of the message under the key `key` (size as above).
Result NotifyStoreDocWrite(ConfigHandle* handle, const char* key, const UrlLoad* message,
                           uint32_t size);

enum class NotifyStoreDocRead : uint32_t {
  Restored,  // the load holds the document again
  Unread,    // no document for this message or one that does not read: the load is untouched
  NoMemory,  // the document reads but could not be put back whole
};
// Puts the stored document of the message stored under `name` (its bytes
// as the message record holds them, without NUL) into the load. After
// NoMemory the load holds part of it and is to be let go.
NotifyStoreDocRead NotifyStoreDocRestore(UrlLoad* load, const char* name, uint32_t nameLength,
                                         const uint8_t* bytes, uint32_t length);
