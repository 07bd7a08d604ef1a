// What the local content push application hands its task.
#pragma once
#include <cstdint>

#include "services/push/lc.h"

// A finished item of a push: an entry, or (last) the document's index.
struct LcQueued {
  LcQueued* next;
  LcEntry* entry;
  uint8_t* index;
};
