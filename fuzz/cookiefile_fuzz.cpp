// trnscookie.dat is read back at start from whatever the folder holds: any
// bytes load all or nothing, the jar's byte count follows the records it
// gets, and what is saved from the jar loads again to its lasting records.
// The harness works in a private folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/private_folder.h"
#include "host/cookiefile.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool EnterPrivateFolder() {
  return !FuzzPrivateFolder("cookie-fuzz", true).empty();
}

using Bodies = std::vector<std::string>;

Bodies Lasting(const CookieJar* jar) {
  Bodies out;
  for (const CookieRecord* r = jar->first; r; r = r->next)
    if (CookieRecordIsLasting(r))
      out.emplace_back(reinterpret_cast<const char*>(r) + kCookieHeaderSize,
                       r->size - kCookieHeaderSize);
  return out;
}

uintptr_t Count(const CookieJar* jar) {
  uintptr_t bytes = 0;
  for (const CookieRecord* r = jar->first; r; r = r->next) bytes += r->size;
  return bytes;
}

void Empty(CookieJar* jar) {
  while (CookieRecord* r = jar->first) {
    jar->first = r->next;
    MemFree(&r);
  }
  jar->bytes = 0;
}

void WriteFile(const uint8_t* data, size_t size) {
  if (std::FILE* f = std::fopen(kCookieFile, "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((1u << 20) / 8);
  static const bool folder = EnterPrivateFolder();
  if (!folder || size > 2 * kCookieFileMax) return 0;
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  if (TskmanInit() != kOk) return 0;
  // The real cookies task keeps the jar; nothing is stepped, so it never
  // reaches the settings store.
  TskmanTask* starter = nullptr;
  TskmanCreateTask(&starter, 97, [](void*, uint32_t, uintptr_t, uintptr_t) { return kOk; },
                   nullptr);
  CookiesStartTask(starter);
  CookieJar* jar = CookiesGetJar();
  if (!jar) return 0;

  WriteFile(data, size);
  if (HostCookieFileLoad()) {
    Check(size < kCookieFileMax);
    Check(jar->bytes == Count(jar));
    const Bodies first = Lasting(jar);
    Check(HostCookieFileSave());
    Empty(jar);
    Check(HostCookieFileLoad());
    Check(jar->bytes == Count(jar));
    // Saved in list order while they fit, read back in reverse.
    Bodies again = Lasting(jar);
    Check(again.size() <= first.size());
    for (size_t i = 0; i < again.size(); ++i) Check(again[again.size() - 1 - i] == first[i]);
  } else {
    Check(jar->first == nullptr && jar->bytes == 0);
  }
  Empty(jar);
  CookiesStopTask(starter);
  TskmanDestroyTask(starter);
  TskmanShutdown();
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);
  return 0;
}
