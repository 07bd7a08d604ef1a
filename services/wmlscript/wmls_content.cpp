#include "services/wmlscript/wmls_content.h"

#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"

namespace {

// The load's output free for parsed objects: the unit goes with its record.
void FreeParsed(UrlLoad*, QueueNode* object) {
  auto* parsed = reinterpret_cast<WmlsParsedObject*>(object);
  WmlsUnitFree(&parsed->unit);
  MemFree(&parsed);
}

}  // namespace

Result WmlsContentProcess(UrlModuleContext*, UrlLoad* load) {
  auto* state = static_cast<WmlsCollector*>(load->handlerState);
  // Once the scheme has delivered the last byte, whatever is queued is the
  // rest of the unit: it is taken and the unit parsed in this call (a header
  // cut short would otherwise wait for bytes that never come).
  const int ended = load->endOfData ? 1 : 0;
  WmlsUnit* unit = nullptr;
  bool noMemory = false;
  Result r = WmlsCollect(&state, &load->input, ended, &unit, &noMemory);
  load->handlerState = state;
  if (r == kOk && !ended) return kOk;
  if (unit) {
    auto* parsed = static_cast<WmlsParsedObject*>(
        MemAllocZero(sizeof(WmlsParsedObject), Use::Data, Mod::WtlWmlsPrsr));
    if (parsed) {
      parsed->kind = WmlsObject::Unit;
      parsed->unit = unit;
      load->outputFree = FreeParsed;
      UrlLoadAddOutput(load, &parsed->link);
    } else {
      WmlsUnitFree(&unit);
      r = WmlsErr::Failed;
      noMemory = true;
    }
  }
  // The one code cannot say why: the requester reads that on the load.
  if (r != kOk) load->failure = noMemory ? UrlFailure::NoMemory : UrlFailure::Other;
  WmlsCollectorRelease(&state);
  load->handlerState = nullptr;
  load->events |= UrlEvent::Complete;
  return r;
}

Result WmlsContentRelease(UrlModuleContext*, UrlLoad* load) {
  auto* state = static_cast<WmlsCollector*>(load->handlerState);
  WmlsCollectorRelease(&state);
  load->handlerState = nullptr;
  return kOk;
}

WmlsUnit* WmlsUnitOfLoad(const UrlLoad* load) {
  if (!load || load->outputFree != FreeParsed) return nullptr;
  for (const QueueNode* n = load->output.head; n; n = n->next) {
    const auto* parsed = reinterpret_cast<const WmlsParsedObject*>(n);
    if (parsed->kind == WmlsObject::Unit && parsed->unit) return parsed->unit;
  }
  return nullptr;
}
