// The document a kept connectivity message carries in the inbox section,
// read from arbitrary bytes: a record that does not read leaves the load
// untouched, one that reads is put back whole and written again byte for
// byte, and everything is freed with the load. Seeds are records as the
// store writes them for "push:fuzz.1": the 721-byte document of
// tests/data/prov/full.wbxml with its content type and SEC and MAC
// headers, one without headers or body, and one with a header of empty
// name and value.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/url.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/notify_store_doc.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
constexpr char kName[] = "push:fuzz.1";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  static std::vector<uint64_t> arena(1u << 17);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  UrlParsed url;
  Check(UrlParse(&url, kName, 0) == 0);
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  load->typeId = UrlType::ConnectivityWbxml;
  load->contentClass = 2;
  const auto length = static_cast<uint32_t>(size);
  const NotifyStoreDocRead read =
      NotifyStoreDocRestore(load, kName, LibcStrLen(kName), size ? data : nullptr, length);
  Check(read != NotifyStoreDocRead::NoMemory);
  if (read == NotifyStoreDocRead::Unread) {
    Check(!load->headers && !load->output.head && load->charset == 0);
  } else {
    Check(UtilDataChunkQueueBytes(&load->output) == load->delivered);
    Check(NotifyStoreDocSize(load) == length);
    ConfigHandle* handle = nullptr;
    Check(ConfigCreate(&handle) == 0);
    Check(NotifyStoreDocWrite(handle, "d0", load, length) == 0);
    const uint8_t* again = nullptr;
    uint32_t againLength = 0;
    ConfigKind kind{};
    Check(ConfigGetRaw(handle, "d0", 0, &again, &againLength, &kind) == 0);
    Check(againLength == length);
    for (uint32_t i = 0; i < length; ++i) Check(again[i] == data[i]);
    ConfigFreeHandle(&handle);
  }
  load->closed = 1;
  UrlLoadFree(load);
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
