// GIF bodies as the fetch layer hands them over: the first byte picks the
// block size (low seven bits) and fitting to a 120-pixel screen (top bit),
// the rest is the body. Any bytes end as an animation or an error code;
// frames lie inside the image, bands inside their allocations, and the heap
// is back where it started once the output is freed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "content/gif.h"
#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

volatile uint16_t gSink;

void FreeBands(ContentImageFrame* frame) {
  for (uint32_t i = 0; i < frame->bandCount; ++i) {
    PglSurface* band = frame->bands[i];
    if (!band) continue;
    Check(band->width == frame->width && band->pitch >= band->width);
    const auto* pixels = reinterpret_cast<const uint16_t*>(PglPixels(band));
    gSink = pixels[(band->height - 1) * band->pitch + band->width - 1];
    MemFree(&frame->bands[i]);
  }
}

void FreeOutput(Queue* output) {
  while (QueueNode* node = QueuePopFront(output)) {
    auto* image = reinterpret_cast<ContentImage*>(node);
    uint32_t count = 0;
    for (ContentImageFrame* frame = image->firstFrame; frame;) {
      Check(uint32_t{frame->left} + frame->width <= image->width);
      Check(uint32_t{frame->top} + frame->height <= image->height);
      ContentImageFrame* next = frame->next;
      FreeBands(frame);
      MemFree(&frame);
      frame = next;
      ++count;
    }
    Check(count == image->frameCount);
    MemFree(&image);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 18);
  static std::vector<uint16_t> screen(120 * 160);
  static const bool ready = (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)),
                             ShellSetScreenGeometry(120, 160, screen.data()), true);
  (void)ready;
  if (size < 1 || size > 100000) return 0;
  const uint32_t block = (data[0] & 0x7F) + 1u;
  const uint32_t flags = data[0] & 0x80 ? ContentRequest::FitToScreen : 0;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  Queue input{}, output{};
  ContentFeed feed{&input, 0, &output, 0, flags};
  GifDecoder* state = nullptr;
  size_t at = 1;
  Result r = kOk;
  for (;;) {
    if (at < size) {
      const size_t n = size - at < block ? size - at : block;
      Check(UtilDataChunkAppend(&input, data + at, static_cast<uint32_t>(n), Mod::TestCode) == kOk);
      at += n;
    }
    if (at >= size) feed.endOfData = 1;
    r = GifDecodeStep(&state, &feed);
    if (r != kOk || (feed.events & ContentEvent::Done)) break;
    Check(at < size);
  }
  Check(r == kOk || r == GifErr::BadData || r == GifErr::NoMemory);
  Check(state == nullptr);
  UtilDataChunkFreeQueue(&input);
  FreeOutput(&output);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
