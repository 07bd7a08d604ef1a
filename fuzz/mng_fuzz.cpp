// MNG bodies as the fetch layer hands them over: the first byte picks the
// block size (low seven bits) and whether the length was announced (top
// bit), the rest is the body. Any bytes end as an animation or an error
// code; frames lie inside the canvas, bands inside their allocations,
// libmng's own memory comes back, and the heap is where it started once the
// output is freed.
#include "content/mng.h"
#include "fuzz/content_fuzz.h"

namespace {

volatile uint16_t gSink;

void FreeImage(ContentImage* image) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzWholeBodyDecoder<MngDecoder>(data, size, MngDecodeStep, MngErr::BadData, MngErr::NoMemory,
                                  FreeImage);
  return 0;
}
