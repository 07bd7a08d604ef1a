// The local content store's stored forms over arbitrary bytes: an entry and
// an index read back only when every offset lies inside; a read entry packs
// again and reads the same. The bytes also go through the push application
// as a pushed body (no task: the document is dropped whole).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "services/push/lc.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  static std::vector<uint64_t> arena(1u << 17);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  const auto n = static_cast<uint32_t>(size);
  Result error = 0;
  if (LcEntry* entry = LcEntryUnpack(data, n, &error)) {
    for (uint32_t kind = 0; kind < 3; ++kind)
      if (const char* h = LcEntryHeader(entry, kind)) Check(std::strlen(h) < n);
    uint32_t length = 0;
    uint8_t* packed = LcEntryPack(entry, &length);
    LcEntry* again = packed ? LcEntryUnpack(packed, length, &error) : nullptr;
    Check(again && again->dataUsed == entry->dataUsed &&
          std::memcmp(again->data, entry->data, entry->dataUsed) == 0);
    LcEntryFree(&again);
    MemFree(&packed);
    LcEntryFree(&entry);
  }
  if (LcListValid(data, n)) {
    int32_t at = -1;
    while (const char* name = LcListNext(data, &at)) Check(std::strlen(name) < n);
    if (const char* root = LcListMarked(data)) Check(std::strlen(root) < n);
  }
  uintptr_t cookie = 0;
  if (LcPushOpen("push:fuzz.1", &cookie) == 0) {
    // No bytes end the push: pieces are never empty.
    const uint32_t half = n / 2;
    if (half) LcPushData(data, half, cookie);
    if (n - half) LcPushData(data + half, n - half, cookie);
    LcPushData(nullptr, 0, cookie);
  }
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
