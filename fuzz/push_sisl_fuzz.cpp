// SI and SL documents over arbitrary bytes: the content row reads the body
// as it arrives in pieces (a size the last byte picks), records what it can,
// and frees everything with the load. The first byte's low bit chooses SL.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "services/push/sisl.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384 || size == 0) return 0;
  static std::vector<uint64_t> arena(1u << 18);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  UrlParsed url;
  Check(UrlParse(&url, "push:fuzz.1", 0) == 0);
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  load->typeId = data[0] & 1 ? UrlType::Slc : UrlType::Sic;
  load->contentClass = 8;
  const uint32_t n = static_cast<uint32_t>(size - 1);
  const uint32_t piece = 1 + data[size - 1] % 61;
  for (uint32_t at = 0; at < n && !(load->events & UrlEvent::Complete); at += piece) {
    UtilDataChunkAppend(&load->input, data + 1 + at, at + piece > n ? n - at : piece, Mod::Url);
    if (at + piece >= n) load->endOfData = 1;
    if (SiSlContentProcess(nullptr, load) != 0) break;
  }
  SiSlContentRelease(nullptr, load);
  // Whatever record came out reads within its own allocation.
  if (const PushRecord* r = PushRecordOf(load); r && r->type == PushRecordType::Si) {
    const auto* si = reinterpret_cast<const SiRecord*>(r);
    for (uint16_t index : {si->href, si->siId, si->created, si->expires, si->text})
      if (const char16_t* f = SiField(si, index))
        while (*f) ++f;
  }
  // The stored form of a record: read back only when whole, and written
  // again the same.
  PushRecord* back = nullptr;
  if (PushRecordLoad(data, n, &back) == kOk) {
    std::vector<uint8_t> again(PushRecordStore(back, nullptr));
    PushRecordStore(back, again.data());
    PushRecord* twice = nullptr;
    Check(PushRecordLoad(again.data(), static_cast<uint32_t>(again.size()), &twice) == kOk);
    Check(twice != nullptr);
    MemFree(&twice);
    MemFree(&back);
  }
  // What follows the document's end stays queued, as it does on a load.
  UtilDataChunkFreeQueue(&load->input);
  load->closed = 1;
  UrlLoadFree(load);
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
