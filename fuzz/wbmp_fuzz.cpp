// WBMP bodies as the fetch layer hands them over: the first byte picks the
// block size, the rest is the body. Any bytes end as an image or an error
// code; every band lies inside its allocation and the heap is back where it
// started once the output is freed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "content/wbmp.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

volatile uint16_t gSink;

void FreeOutput(Queue* output) {
  while (QueueNode* node = QueuePopFront(output)) {
    auto* image = reinterpret_cast<ContentImage*>(node);
    uint32_t rows = 0;
    for (uint32_t i = 0; i < image->bandCount; ++i) {
      PglSurface* band = image->bands[i];
      Check(band && band->width == image->width && band->pitch >= band->width);
      // Reads the band's last pixel: it lies inside the allocation.
      const auto* pixels = reinterpret_cast<const uint16_t*>(PglPixels(band));
      gSink = pixels[(band->height - 1) * band->pitch + band->width - 1];
      rows += band->height;
      MemFree(&image->bands[i]);
    }
    Check(rows <= image->height);
    MemFree(&image);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 17);
  static const bool ready = (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 1 || size > 100000) return 0;
  const uint32_t block = data[0] + 1u;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  Queue input{}, output{};
  ContentFeed feed{&input, 0, &output, 0, 0};
  WBmpDecoder* state = nullptr;
  size_t at = 1;
  Result r = kOk;
  for (;;) {
    if (at < size) {
      const size_t n = size - at < block ? size - at : block;
      Check(UtilDataChunkAppend(&input, data + at, static_cast<uint32_t>(n), Mod::TestCode) == kOk);
      at += n;
    }
    if (at >= size) feed.endOfData = 1;
    r = WBmpDecodeStep(&state, &feed);
    if (r != kOk || (feed.events & ContentEvent::Done)) break;
    Check(at < size);  // with the data ended the decoder always finishes
  }
  Check(r == kOk || r == WBmpErr::Malformed || r == WBmpErr::NoMemory);
  Check(state == nullptr);
  WBmpDecodeRelease(&state);
  UtilDataChunkFreeQueue(&input);
  FreeOutput(&output);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
