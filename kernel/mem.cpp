// The engine's allocation wrappers: the heap plus the out-of-memory policy.
// A failed request evicts one cached object and is tried again, for as long
// as the evictor reports that it freed something.
#include "kernel/mem.h"

#include "kernel/heap.h"

namespace {

MemEvictFn gMemEvict = nullptr;

inline bool MemEvictOne() { return gMemEvict && gMemEvict() != 0; }

void* MemAllocRetry(uint32_t size, bool zero) {
  void* p;
  do {
    p = zero ? HeapBlockCalloc(size) : HeapBlockAlloc(size);
  } while (!p && MemEvictOne());
  return p;
}

void* MemReallocRetry(void* p, uint32_t size, int freeOnFailure, bool zero) {
  if (!p) return nullptr;
  void* q = nullptr;
  // The heap answers 0 bytes with null whatever is free: no point evicting.
  if (size != 0) {
    do {
      q = zero ? HeapBlockReallocZero(p, size) : HeapBlockRealloc(p, size);
    } while (!q && MemEvictOne());
  }
  if (!q && freeOnFailure) HeapBlockFree(p);
  return q;
}

}  // namespace

void MemSetEvictor(MemEvictFn evict) { gMemEvict = evict; }

void* MemAlloc(uint32_t size, uint32_t /*use*/, uint32_t /*module*/) {
  return size ? MemAllocRetry(size, false) : nullptr;
}

void* MemAllocZero(uint32_t size, uint32_t /*use*/, uint32_t /*module*/) {
  return size ? MemAllocRetry(size, true) : nullptr;
}

void* MemRealloc(void* p, uint32_t size, int freeOnFailure, uint32_t /*module*/) {
  return MemReallocRetry(p, size, freeOnFailure, false);
}

void* MemReallocZero(void* p, uint32_t size, int freeOnFailure, uint32_t /*module*/) {
  return MemReallocRetry(p, size, freeOnFailure, true);
}

void MemFreeRaw(void* p) { HeapBlockFree(p); }

bool MemCouldHold(uint32_t size) {
  const uint32_t need = HeapNeed(size);
  return need != 0 && need <= HeapGetStats().arenaBytes;
}
