// The adver element's inline images come from pages: nbmp text or base64
// handset images, or status text. The first byte picks the source type, the
// rest is the inline value, one character per byte. Whatever the text, the
// decoder answers, frees the text, reads and writes only its areas of the
// work buffer, and leaves nothing behind (no status indicator runs here, so
// every image it made is freed again).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "browser/url.h"
#include "content/handset_rows.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((2u << 20) / 8);
  static const bool ready =
      (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 1 || size > 100000) return 0;
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  auto* work = static_cast<uint8_t*>(MemAlloc(kUrlWorkBufferSize, Use::Data, Mod::TestCode));
  Check(work != nullptr);
  LibcMemSet(work + WorkArea::SisNeeds, 0xA5, kUrlWorkBufferSize - WorkArea::SisNeeds);

  HtmlImageObject record{};
  record.sourceType = data[0] % 4;
  record.workBuffer = work;
  record.workBufferSize = kUrlWorkBufferSize;
  const size_t n = size - 1;
  record.text = static_cast<char16_t*>(MemAlloc(static_cast<uint32_t>((n + 1) * 2), Use::String,
                                                Mod::TestCode));
  Check(record.text != nullptr);
  for (size_t i = 0; i < n; ++i) record.text[i] = data[1 + i];
  record.text[n] = 0;

  const Result r = HtmlImageObjectDecode(&record);
  Check(r == 3 || r == NbmpRowErr::Malformed || r == NbmpRowErr::NoMemory ||
        r == SisRowErr::Malformed || r == SisRowErr::NoMemory || r == kHtmlObjectNoMemory ||
        ResultFailed(r));
  Check(record.text == nullptr);
  // Compared in one call: a byte loop here cost more than the decode.
  static const std::vector<uint8_t> fill(kUrlWorkBufferSize - WorkArea::SisNeeds, 0xA5);
  Check(std::memcmp(work + WorkArea::SisNeeds, fill.data(), fill.size()) == 0);
  MemFree(&work);
  Check(HeapValidate() == nullptr);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
