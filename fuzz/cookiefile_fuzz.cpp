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

Bodies Lasting(const uintptr_t* jar) {
  Bodies out;
  for (auto* r = reinterpret_cast<const CookieRecord*>(jar[0]); r; r = r->next) {
    const bool session = r->size >= (kCookieSessionWord + 1) * sizeof(uintptr_t) &&
                         reinterpret_cast<const uintptr_t*>(r)[kCookieSessionWord] != 0;
    if (!session)
      out.emplace_back(reinterpret_cast<const char*>(r) + kCookieHeaderSize,
                       r->size - kCookieHeaderSize);
  }
  return out;
}

uintptr_t Count(const uintptr_t* jar) {
  uintptr_t bytes = 0;
  for (auto* r = reinterpret_cast<const CookieRecord*>(jar[0]); r; r = r->next) bytes += r->size;
  return bytes;
}

void Empty(uintptr_t* jar) {
  while (auto* r = reinterpret_cast<CookieRecord*>(jar[0])) {
    jar[0] = reinterpret_cast<uintptr_t>(r->next);
    MemFree(&r);
  }
  jar[5] = 0;
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
  uintptr_t jar[6] = {};
  TskmanTask* task = nullptr;
  TskmanCreateTask(&task, Mod::Cookies, [](void*, uint32_t, uintptr_t, uintptr_t) { return kOk; },
                   jar);

  WriteFile(data, size);
  if (HostCookieFileLoad()) {
    Check(size < kCookieFileMax);
    Check(jar[5] == Count(jar));
    const Bodies first = Lasting(jar);
    Check(HostCookieFileSave());
    Empty(jar);
    Check(HostCookieFileLoad());
    Check(jar[5] == Count(jar));
    // Saved in list order while they fit, read back in reverse.
    Bodies again = Lasting(jar);
    Check(again.size() <= first.size());
    for (size_t i = 0; i < again.size(); ++i) Check(again[again.size() - 1 - i] == first[i]);
  } else {
    Check(jar[0] == 0 && jar[5] == 0);
  }
  Empty(jar);
  TskmanDestroyTask(task);
  TskmanShutdown();
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);
  return 0;
}
