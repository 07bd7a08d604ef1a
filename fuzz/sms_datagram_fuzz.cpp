// Datagrams reach the bridge from any program on the network: any bytes must
// decode to a record whose lengths stay inside its buffers, or be dropped,
// and nothing may be left allocated.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/sms.h"
#include "host/smsbridge.h"
#include "kernel/heap.h"
#include "net/netbuf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65535) return 0;
  static std::vector<uint64_t> arena(1 << 15);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t before = HeapGetStats().freeBytes;
  NetBufChain* chain = NetBufAlloc(static_cast<uint32_t>(size));
  if (!chain) return 0;
  NetBufWrite(chain, data, 0, static_cast<uint32_t>(size));
  SmsReceived* r = SmsBridgeDecode(chain);
  if (r) {
    if (r->addressLength + 4u > size || std::strlen(r->address) > r->addressLength) std::abort();
    if (HeapRequestedSizeOf(r->data) < r->dataLength) std::abort();
    // Port-addressed forms carry their header inside the datagram.
    if (r->kind == 2 && r->headerLength > size) std::abort();
    SmsRelease(nullptr, r, 0);
  }
  NetBufRelease(&chain);
  if (HeapGetStats().freeBytes != before || HeapValidate()) std::abort();
  return 0;
}
