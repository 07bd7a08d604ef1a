// The channel-document row over arbitrary bytes: the load ends with its
// records or a code, and freeing the load leaves the heap as it was.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/url.h"
#include "kernel/heap.h"
#include "services/channels/rep.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  static std::vector<uint64_t> arena(1u << 18);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  UrlParsed url{};
  if (UrlParse(&url, "http://h/c/doc.chc", 0) == kOk) {
    if (UrlLoad* load = UrlLoadCreate(&url)) {
      load->expiry = size ? static_cast<int32_t>(data[0]) << 20 : 0;
      const auto n = static_cast<uint32_t>(size);
      const uint32_t half = n / 2;
      UrlLoadDeliver(load, data, half);
      Check(RepContentProcess(nullptr, load) == kOk);  // waits for the whole body
      UrlLoadDeliver(load, data + half, n - half);
      load->endOfData = 1;
      const Result r = RepContentProcess(nullptr, load);
      Check(r == kOk ? (load->events & UrlEvent::Complete) != 0 : (r >> 16) == 0x803E);
      RepContentRelease(nullptr, load);
      UrlLoadFree(load);
    }
    UrlFreeParsed(&url);
  }
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
