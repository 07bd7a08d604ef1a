// The WBXML decoder over arbitrary bytes: decoded whole and decoded in
// pieces of a size the last byte picks, it gives the same callbacks and the
// same answer; texts come NUL-terminated; everything it allocated is freed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "markup/wbxml.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Log {
  WbxmlHandler handler;
  std::u16string text;
};

Log* Self(WbxmlHandler* h) { return reinterpret_cast<Log*>(h); }

void Add(WbxmlHandler* h, char16_t kind, uint32_t token, const char16_t* text, uint32_t length) {
  std::u16string& log = Self(h)->text;
  log += kind;
  log += static_cast<char16_t>(token);
  log += static_cast<char16_t>(token >> 16);
  if (text) {
    Check(text[length] == 0);
    log.append(text, length);
  }
}

Result OnStart(WbxmlHandler* h, const char16_t* id, uint32_t number) {
  uint32_t n = 0;
  while (id && id[n]) ++n;
  Add(h, u'S', number, id, n);
  return 0;
}
Result OnText(WbxmlHandler* h, const char16_t* text, uint32_t length) {
  Check(length > 0);
  Add(h, u'T', 0, text, length);
  return 0;
}
Result OnBegin(WbxmlHandler* h, uint32_t token) {
  Add(h, u'B', token, nullptr, 0);
  return 0;
}
Result OnEnd(WbxmlHandler* h, uint32_t token) {
  Add(h, u'E', token, nullptr, 0);
  // An element end token past 0x7F stops the document with a handler answer.
  return token == 0x17F ? 7 : 0;
}
Result OnAttribute(WbxmlHandler* h, uint32_t token, const char16_t* value, uint32_t length) {
  Add(h, u'A', token, value, length);
  return 0;
}
Result OnEndAttributes(WbxmlHandler* h) {
  Add(h, u'Z', 0, nullptr, 0);
  return 0;
}
const char* OnAttributeText(WbxmlHandler*, uint32_t token) {
  static const char* const kTexts[] = {nullptr, "http://", "caf\xC3\xA9", "\xF0\x9F\x98\x80",
                                       "\xC3"};
  return kTexts[token % 5];
}
uint32_t OnLiteral(WbxmlHandler* h, int attribute, const char16_t* name, uint32_t length) {
  Add(h, u'L', static_cast<uint32_t>(attribute), name, length);
  return length;
}

Result Run(const uint8_t* data, uint32_t size, uint32_t piece, Log* log) {
  log->handler = {OnStart, nullptr, OnText, OnBegin, OnEnd, OnAttribute, OnEndAttributes,
                  OnAttributeText, OnLiteral};
  WbxmlDecoder* decoder = nullptr;
  if (WbxmlDecoderCreate(&decoder) != kOk) return 0xFFFF;
  Queue queue{};
  Result r = 0;
  for (uint32_t at = 0; at < size && r == 0; at += piece) {
    const uint32_t n = size - at < piece ? size - at : piece;
    Check(UtilDataChunkAppend(&queue, data + at, n, Mod::TestCode) == kOk);
    r = WbxmlDecode(decoder, &log->handler, &queue);
  }
  if (r == 0) r = WbxmlDecodeEnd(decoder);
  Check(r != 0);
  WbxmlDecoderFree(decoder);
  UtilDataChunkFreeQueue(&queue);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  static std::vector<uint64_t> arena(1u << 18);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  const uint32_t n = static_cast<uint32_t>(size);
  const uint32_t piece = n ? 1 + data[n - 1] % 17 : 1;
  Log whole, pieces;
  const Result a = Run(data, n, n ? n : 1, &whole);
  const Result b = Run(data, n, piece, &pieces);
  // Out of memory may strike at different points when the buffers grow in
  // other steps; any other answer and the callbacks must agree.
  if (a != kWbxmlNoMemory && b != kWbxmlNoMemory) {
    Check(a == b);
    Check(whole.text == pieces.text);
  }
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
