// PNG bodies as the fetch layer hands them over: the first byte picks the
// block size (low seven bits) and whether the length was announced (top
// bit), the rest is the body. Any bytes end as an image or an error code;
// bands lie inside their allocations, libpng's own memory comes back, and
// the heap is where it started once the output is freed.
#include "content/png.h"
#include "fuzz/content_fuzz.h"

namespace {

volatile uint16_t gSink;

void FreeImage(ContentImage* image) {
  Check(image->kind == ContentKind::Banded);
  uint32_t rows = 0;
  for (uint32_t i = 0; i < image->bandCount; ++i) {
    PglSurface* band = image->bands[i];
    Check(band && band->width == image->width);
    const auto* pixels = reinterpret_cast<const uint16_t*>(PglPixels(band));
    gSink = pixels[(band->height - 1) * band->pitch + band->width - 1];
    rows += band->height;
    MemFree(&image->bands[i]);
  }
  Check(rows == 0 || rows == image->height);
  MemFree(&image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzWholeBodyDecoder<PngDecoder>(data, size, PngDecodeStep, PngErr::BadData, PngErr::NoMemory,
                                  FreeImage);
  return 0;
}
