// The URL module's work buffer: taken at the module's start, given way to
// the rest of the engine when the heap runs short, taken again for a user.
#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

bool gTaking;  // a take frees cached objects, never the buffer itself

// The allocators' eviction while the module runs: the cached objects first,
// as before there was anything else to free, then the buffer nobody holds.
int EvictOne() {
  if (CacheFreeOne()) return 1;
  if (gTaking) return 0;
  UrlModuleContext* module = UrlGetModule();
  if (!module || !module->workBuffer || module->workHolds) return 0;
  MemFree(&module->workBuffer);
  module->workBufferSize = 0;
  module->workGaveWay = 1;
  return 1;
}

// The buffer comes before the cached objects, as it gives way only after
// them: what the cache holds never keeps a user from it.
void Take(UrlModuleContext* module) {
  gTaking = true;
  module->workBuffer = static_cast<uint8_t*>(MemAlloc(kUrlWorkBufferSize, Use::Data, Mod::Url));
  while (module->workBuffer && HeapGetStats().freeBytes < kUrlWorkBufferReserve && CacheFreeOne()) {
  }
  gTaking = false;
  if (module->workBuffer && HeapGetStats().freeBytes < kUrlWorkBufferReserve)
    MemFree(&module->workBuffer);
  module->workBufferSize = module->workBuffer ? kUrlWorkBufferSize : 0;
}

}  // namespace

void UrlWorkBufferTake(UrlModuleContext* module) {
  MemSetEvictor(EvictOne);
  Take(module);
}

uint8_t* UrlWorkBufferHold(UrlModuleContext* module) {
  if (!module) return nullptr;
  if (module->workHolds++ == 0 && !module->workBuffer && module->workGaveWay) {
    Take(module);
    if (module->workBuffer) module->workGaveWay = 0;
  }
  return module->workBuffer;
}

void UrlWorkBufferLetGo(UrlModuleContext* module) {
  if (module && module->workHolds) --module->workHolds;
}
