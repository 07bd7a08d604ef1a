// WBMP bodies as the fetch layer hands them over: the first byte picks the
// block size, the rest is the body. Any bytes end as an image or an error
// code; every band lies inside its allocation and the heap is back where it
// started once the output is freed.
#include "content/wbmp.h"
#include "fuzz/content_fuzz.h"

namespace {

volatile uint16_t gSink;

void FreeImage(ContentImage* image) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FuzzStreamDecoder<WBmpDecoder>(data + 1, size - 1, data[0] + 1u, 0, WBmpDecodeStep,
                                 WBmpErr::Malformed, WBmpErr::NoMemory, FreeImage);
  return 0;
}
