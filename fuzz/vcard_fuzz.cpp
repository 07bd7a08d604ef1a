// vCard bodies: the first byte picks the character set the load names (none,
// UTF-8, Latin-1, UTF-16), the rest is the body. Any bytes end in the tree or
// a result code of the row, and the heap is back where it started once the
// tree is freed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "content/vcalca.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/lng.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 17);
  static const bool ready = (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 1 || size > 100000) return 0;
  static const uint32_t kCharsets[] = {0, Mib::Utf8, Mib::Latin1, Mib::Utf16Le, Mib::Utf16Be};
  const uint32_t charset = kCharsets[data[0] % 5];
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  char16_t* text = nullptr;
  uint32_t length = 0;
  Result r = VcDecodeBody(data + 1, static_cast<uint32_t>(size - 1), charset, &text, &length,
                          Mod::WtlVcard);
  if (r == kOk) {
    ConfigHandle* tree = nullptr;
    Check(ConfigCreate(&tree) == kOk);
    if (text) r = VcardParse(text, length, tree);
    Check(r == kOk || r == kVcardBadStructure || r == kVcardBadStructure || r == kVcardNoMemory);
    ConfigFreeHandle(&tree);
  }
  MemFree(&text);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
