// Form replies cut into chunks: the first byte picks the chunk size. Any
// bytes end in pairs whose names are never empty, and the heap is back where
// it started.
#include <cstdint>

#include "content/form_reply.h"
#include "fuzz/content_fuzz.h"

namespace {

volatile char16_t gSink;

void Set(void*, const char16_t* name, const char16_t* value) {
  Check(name && name[0]);
  const char16_t* v = value ? value : u"";
  while (*v) gSink = *v++;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzArenaOnce();
  if (size < 1 || size > 100000) return 0;
  const uint32_t block = data[0] + 1u;
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  FormReplyParser parser;
  FormReplyInit(&parser, nullptr, Set);
  for (size_t at = 1; at < size;) {
    const size_t n = size - at < block ? size - at : block;
    const Result r = FormReplyFeed(&parser, data + at, static_cast<uint32_t>(n));
    Check(r == kOk || r == FormCode::NoMemory);
    at += n;
  }
  const Result r = FormReplyEnd(&parser);
  Check(r == kOk || r == FormCode::NoMemory);
  FormReplyFree(&parser);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
