// MNG bodies as the fetch layer hands them over: the first byte picks the
// block size (low seven bits) and whether the length was announced (top
// bit), the rest is the body. Any bytes end as an animation or an error
// code; frames lie inside the canvas, bands inside their allocations,
// libmng's own memory comes back, and the heap is where it started once the
// output is freed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "content/mng.h"
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
    Check(image->kind == ContentKind::Animation);
    uint32_t count = 0;
    for (ContentImageFrame* frame = image->firstFrame; frame; ++count) {
      Check(uint32_t{frame->left} + frame->width <= image->width);
      Check(uint32_t{frame->top} + frame->height <= image->height);
      for (uint32_t i = 0; i < frame->bandCount; ++i) {
        PglSurface* band = frame->bands[i];
        Check(band && band->width == frame->width);
        const auto* pixels = reinterpret_cast<const uint16_t*>(PglPixels(band));
        gSink = pixels[(band->height - 1) * band->pitch + band->width - 1];
        MemFree(&frame->bands[i]);
      }
      ContentImageFrame* next = frame->next;
      MemFree(&frame);
      frame = next;
    }
    Check(count == image->frameCount);
    MemFree(&image);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 18);
  static const bool ready =
      (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 1 || size > 100000) return 0;
  const uint32_t block = (data[0] & 0x7F) + 1u;
  const bool announce = data[0] & 0x80;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  auto* work = static_cast<uint8_t*>(MemAlloc(256000, Use::Data, Mod::TestCode));
  Check(work != nullptr);
  ContentSource source{announce ? static_cast<uint32_t>(size - 1) : 0, 0, work, 256000};
  Queue input{}, output{};
  ContentFeed feed{&input, 0, &output, 0, 0};
  MngDecoder* state = nullptr;
  size_t at = 1;
  Result r = kOk;
  for (;;) {
    if (at < size) {
      const size_t n = size - at < block ? size - at : block;
      Check(UtilDataChunkAppend(&input, data + at, static_cast<uint32_t>(n), Mod::TestCode) == kOk);
      at += n;
      source.deliveredCount = static_cast<uint32_t>(at - 1);
    }
    if (at >= size) feed.endOfData = 1;
    r = MngDecodeStep(&state, &feed, &source);
    if (r != kOk || (feed.events & ContentEvent::Done)) break;
    Check(at < size);
  }
  Check(r == kOk || r == MngErr::BadData || r == MngErr::NoMemory);
  Check(state == nullptr);
  UtilDataChunkFreeQueue(&input);
  FreeOutput(&output);
  MemFree(&work);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
