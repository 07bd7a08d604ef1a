// Built-in paths: any text opens a file of the recorded size or nothing,
// and every opened file goes back to the heap it came from.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kernel/heap.h"
#include "kernel/qorrom.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return 0;
  alignas(16) static uint8_t block[1 << 20];
  static const bool ready = HeapArenaInit(block, sizeof block) > 0;
  Check(ready);
  std::vector<char> path(data, data + size);
  path.push_back('\0');

  const uint32_t freeBefore = HeapGetStats().freeBytes;
  uint32_t stored = 0, expanded = 0;
  const uint8_t* entry = QorRomFind(path.data(), &stored, &expanded);
  uint32_t openedSize = 0;
  const uint8_t* file = QorRomOpen(path.data(), &openedSize);
  // No romfiles folder here: a host path is the only other source.
  if (file && entry && path[0] == '/') Check(openedSize == expanded);
  QorRomRelease(file);
  Check(HeapGetStats().freeBytes == freeBefore);
  Check(HeapValidate() == nullptr);
  return 0;
}
