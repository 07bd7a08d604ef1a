// The content-type row of compiled scripts: the load's bytes are collected
// and parsed into a unit, which goes on the load's output list as a parsed
// object {kind 1, unit} for the script task to run.
#pragma once
#include "browser/url.h"

struct WmlsUnit;

// Kinds of parsed objects a load of compiled script carries.
namespace WmlsObject {
constexpr uint32_t Unit = 1;
}

struct WmlsParsedObject {
  QueueNode link;  // on the load's output list
  uint32_t kind;
  WmlsUnit* unit;  // owned by the load: freed with its output
};

// Called for each delivery of data and once more when none is queued; 0, or
// WmlsErr::Failed when the bytes give no unit, for whatever cause: whether
// memory ran out is left on the load (UrlFailedForMemory). The load is
// complete once the unit is parsed or refused.
Result WmlsContentProcess(UrlModuleContext* module, UrlLoad* load);
// Frees the collector state and its buffer.
Result WmlsContentRelease(UrlModuleContext* module, UrlLoad* load);
// The unit the row parsed for the load, or null. It stays the load's: a
// user keeps a request on the load while it runs the unit.
WmlsUnit* WmlsUnitOfLoad(const UrlLoad* load);
