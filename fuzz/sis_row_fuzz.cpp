// Handset-image bodies as the image/sis row gets them from the fetch layer:
// the first byte picks the block size and whether a length is announced,
// the rest is the body. Whatever the bytes, the row ends with an animation
// or its error code, reads and writes only its own areas of the work
// buffer (the bytes past them keep a fill pattern), every band lies inside
// its allocation, and the heap is back where it started once the load goes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/url.h"
#include "content/content_rows.h"
#include "content/handset_rows.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

volatile uint16_t gSink;

void Touch(const ContentImageFrame* frame) {
  for (uint32_t i = 0; i < frame->bandCount; ++i) {
    const PglSurface* band = frame->bands[i];
    Check(band && band->width == frame->width);
    const auto* pixels = reinterpret_cast<const uint16_t*>(PglPixels(band));
    gSink = pixels[(band->height - 1) * band->pitch + band->width - 1];
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((4u << 20) / 8);
  static const bool ready =
      (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 1 || size > 70000) return 0;
  const uint32_t block = (data[0] & 0x7F) + 1u;
  const bool announce = (data[0] & 0x80) != 0;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  UrlModuleContext module{};
  module.workBuffer = static_cast<uint8_t*>(MemAlloc(kUrlWorkBufferSize, Use::Data, Mod::TestCode));
  Check(module.workBuffer != nullptr);
  module.workBufferSize = kUrlWorkBufferSize;
  LibcMemSet(module.workBuffer + WorkArea::SisNeeds, 0xA5, kUrlWorkBufferSize - WorkArea::SisNeeds);

  UrlParsed url{};
  Check(UrlParse(&url, "qortest://h/fuzz.sis", 0) == kOk);
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  Check(load != nullptr);
  if (announce) load->announcedLength = static_cast<uint32_t>(size - 1);

  size_t at = 1;
  Result r = kOk;
  for (;;) {
    if (at < size) {
      const size_t n = size - at < block ? size - at : block;
      Check(UrlLoadDeliver(load, data + at, static_cast<uint32_t>(n)) == kOk);
      at += n;
    }
    if (at >= size) load->endOfData = 1;
    r = SisContentProcess(&module, load);
    if (r != kOk || (load->events & UrlEvent::Complete)) break;
    Check(at < size);  // with the data ended the row always finishes
  }
  Check(r == kOk || r == SisRowErr::Malformed || r == SisRowErr::NoMemory);
  Check(load->handlerState == nullptr);
  for (QueueNode* n = load->output.head; n; n = n->next) {
    auto* image = reinterpret_cast<ContentImage*>(n);
    Check(image->kind == ContentKind::Animation);
    for (const ContentImageFrame* f = image->firstFrame; f; f = f->next) {
      Check(f->width <= image->width && f->height <= image->height);
      Touch(f);
    }
  }
  for (uint32_t i = WorkArea::SisNeeds; i < kUrlWorkBufferSize; ++i)
    Check(module.workBuffer[i] == 0xA5);
  SisContentRelease(&module, load);
  UrlLoadFree(load);
  MemFree(&module.workBuffer);
  Check(HeapValidate() == nullptr);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
