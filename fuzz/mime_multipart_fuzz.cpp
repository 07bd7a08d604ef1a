// Multipart documents cut into chunks: the first byte picks the chunk size.
// Any bytes end in parts or an answer of the parser; every callback string
// is terminated inside its allocation and the heap is back where it started.
#include <cstdint>
#include <cstring>

#include "content/mime_multipart.h"
#include "fuzz/content_fuzz.h"

namespace {

volatile size_t gSink;

int Begin(void*, const char* location, const char* id, int root) {
  gSink = (location ? std::strlen(location) : 0) + (id ? std::strlen(id) : 0);
  Check(root == 0 || root == 1);
  return 1;
}

int Header(void*, uint32_t which, const char* value) {
  Check(which >= 1 && which <= 4 && value);
  gSink = std::strlen(value);
  return 1;
}

int Data(void*, const uint8_t* bytes, uint32_t length) {
  Check(bytes ? length > 0 : length == 0);
  if (length) gSink = bytes[0] + bytes[length - 1];
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzArenaOnce();
  if (size < 1 || size > 100000) return 0;
  const uint32_t block = data[0] + 1u;
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  MimeMultipartParser* parser = nullptr;
  Check(MimeMultipartCreate(&parser, nullptr, Begin, Header, Data) == MimeParse::Ok);
  for (size_t at = 1; at < size;) {
    const size_t n = size - at < block ? size - at : block;
    const uint32_t r = MimeMultipartParse(parser, data + at, static_cast<uint32_t>(n));
    Check(r <= MimeParse::Broken);
    at += n;
  }
  Check(MimeMultipartEnd(parser) <= MimeParse::Broken);
  MimeMultipartFree(&parser);
  Check(parser == nullptr);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
