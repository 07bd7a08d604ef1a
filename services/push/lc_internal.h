// What the local content push application hands its task.
#pragma once
#include <cstdint>

#include "kernel/config.h"
#include "services/push/lc.h"

// A finished item of a push: an entry, or (last) the document's index.
// `lost` is set on the items after an entry that could not be stored, so
// that the index never names a part that is not there.
struct LcQueued {
  LcQueued* next;
  LcEntry* entry;
  LcList* index;
  uint32_t lost;
};

// A stored value a part of the document being stored took the place of.
struct LcReplaced {
  LcReplaced* next;
  char* name;
  uint8_t* value;
  uint32_t length;
  ConfigKind kind;
};

// Says on standard error that a pushed document was lost for want of
// memory before it reached the store; a fixed text, so it needs none.
void LcSayPushLost();
