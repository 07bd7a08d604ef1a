// Engine allocation: every engine module allocates through these, from the
// one heap. A failed request evicts one cached object and tries again for as
// long as something could be evicted.
#pragma once
#include <cstdint>

// Tags that every allocation names. The heap accepts them and stores neither.
namespace Use {
constexpr uint32_t Data = 1, Task = 2, String = 3, Context = 4;
}

void* MemAlloc(uint32_t size, uint32_t use, uint32_t module);
void* MemAllocZero(uint32_t size, uint32_t use, uint32_t module);
// A null pointer yields null. When the resize fails and freeOnFailure is
// non-zero, the old block is freed (the caller's pointer is left alone).
void* MemRealloc(void* p, uint32_t size, int freeOnFailure, uint32_t module);
void* MemReallocZero(void* p, uint32_t size, int freeOnFailure, uint32_t module);
void MemFreeRaw(void* p);
// Whether the heap could ever give a block of `size` bytes, all else freed:
// a larger request fails whatever is evicted for it.
bool MemCouldHold(uint32_t size);

// Frees *pp and nulls it; nothing when it already holds null.
template <class T>
inline void MemFree(T** pp) {
  if (*pp) {
    MemFreeRaw(const_cast<void*>(static_cast<const void*>(*pp)));
    *pp = nullptr;
  }
}

// The eviction the allocators call after a failed heap request: answers 1
// when it freed something (the request is then tried again), 0 when nothing
// is left to evict. While the URL module runs, the module's is installed (the
// object cache's objects, then the module's work buffer); none by default.
using MemEvictFn = int (*)();
void MemSetEvictor(MemEvictFn evict);
