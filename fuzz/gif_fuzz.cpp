// GIF bodies as the fetch layer hands them over: the first byte picks the
// block size (low seven bits) and fitting to a 120-pixel screen (top bit),
// the rest is the body. Any bytes end as an animation or an error code;
// frames lie inside the image, bands inside their allocations, and the heap
// is back where it started once the output is freed.
#include <cstdint>
#include <vector>

#include "content/gif.h"
#include "fuzz/content_fuzz.h"
#include "host/platform/shell.h"

namespace {

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

void FreeImage(ContentImage* image) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint16_t> screen(120 * 160);
  static const bool ready = (ShellSetScreenGeometry(120, 160, screen.data()), true);
  (void)ready;
  if (size < 1) return 0;
  const uint32_t flags = data[0] & 0x80 ? ContentRequest::FitToScreen : 0;
  FuzzStreamDecoder<GifDecoder>(data + 1, size - 1, (data[0] & 0x7F) + 1u, flags, GifDecodeStep,
                                GifErr::BadData, GifErr::NoMemory, FreeImage);
  return 0;
}
