// Detection of a document's encoding: the data arrives one byte per chunk,
// detection runs after each, and the decision and the bytes it leaves agree
// with detection over the whole data at once. UTF-16 readers then read the
// rest without a fault.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kernel/heap.h"
#include "kernel/lng.h"
#include "kernel/datachunk.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void EnsureHeap() {
  static std::vector<uint64_t> heap;
  if (heap.empty()) {
    heap.assign((1u << 20) / 8, 0);
    HeapArenaInit(heap.data(), 1u << 20);
  }
}

struct Outcome {
  int decided;
  uint32_t mib;
  uint32_t left;
};

Outcome Detect(const uint8_t* data, uint32_t size, uint32_t step) {
  Queue queue{nullptr, nullptr};
  LngChainCursor cursor;
  LngChainCursorInit(&cursor, &queue);
  Outcome out{0, 0, 0};
  for (uint32_t i = 0; i < size && !out.decided; i += step) {
    UtilDataChunkAppend(&queue, data + i, size - i < step ? size - i : step, Mod::Lng);
    out.decided = LngDetectCharset(&out.mib, &cursor);
  }
  // Whatever was not appended yet is appended now, as the rest of the document.
  uint32_t appended = 0;
  for (QueueNode* n = queue.head; n; n = n->next) appended += UtilDataChunkOf(n)->remaining;
  out.left = appended;
  LngReadCharFn read = nullptr;
  LngGetCharReader(&read, out.mib == 0 ? Mib::Utf16Le : out.mib);
  Result result = kOk;
  while (result != kLngEndOfData) read(&result, &queue);
  UtilDataChunkFreeQueue(&queue);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64) return 0;
  EnsureHeap();
  const uint32_t n = static_cast<uint32_t>(size);
  const Outcome whole = Detect(data, n, n ? n : 1);
  const Outcome bytewise = Detect(data, n, 1);
  Check(whole.decided == bytewise.decided && whole.mib == bytewise.mib);
  if (whole.decided) {
    // A mark is consumed; data known by its zero bytes keeps them all.
    const uint32_t consumed = n - whole.left;
    Check(consumed == 0 || consumed == 2 || consumed == 3);
    Check(consumed == 0 || whole.mib != 0);
  }
  Check(HeapValidate() == nullptr);
  return 0;
}
