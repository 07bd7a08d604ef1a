// WSP push PDUs arrive from the network: any bytes must read onto a load
// or be refused with the reader's code, a body found must lie inside the
// PDU, and freeing the load must leave nothing allocated.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "browser/url.h"
#include "host/wappush.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65535) return 0;
  static std::vector<uint64_t> arena(1u << 15);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  MemSetEvictor(nullptr);
  const uint32_t before = HeapGetStats().freeBytes;
  UrlParsed url;
  if (UrlParse(&url, "push:fuzz.1", 0) != kOk) std::abort();
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  if (!load) std::abort();
  // An exact copy, so a read past the input is a read past its block.
  std::vector<uint8_t> pdu(data, data + size);
  WapPushInfo info;
  const Result r = WapPushParse(pdu.data(), static_cast<uint32_t>(size), load, &info);
  if (r == kOk) {
    if (info.bodyOffset > size || info.bodyLength != size - info.bodyOffset) std::abort();
    for (const UrlHeader* h = load->headers; h; h = h->next)
      if (!h->name || !h->value || HeapRequestedSizeOf(h->value) < std::strlen(h->value) + 1)
        std::abort();
  } else if (r != kWapPushMalformed && r != kWapPushNotPush && r != kWapPushNoMemory) {
    std::abort();
  }
  UrlLoadFree(load);
  if (HeapGetStats().freeBytes != before || HeapValidate()) std::abort();
  return 0;
}
