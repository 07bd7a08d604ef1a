// The headers push reception reads from a pushed object: lines "name:value"
// become the load's headers (the first line its content type); the choice
// of application and the push-flag check answer without fault, and a
// choice is always a row that exists.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "browser/url.h"
#include "kernel/heap.h"
#include "services/push/notify.h"
#include "services/service_rows.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static std::vector<uint64_t> arena(1u << 16);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  ServiceRowsInstall();
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n')
      lines.emplace_back();
    else
      lines.back() += data[i] ? static_cast<char>(data[i]) : ' ';
  }
  UrlParsed url;
  Check(UrlParse(&url, "push:+4917012345.1", 0) == 0);
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  UrlSetContentTypeMime(load, lines[0].c_str());
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string::npos) continue;
    UrlAddHeader(load, lines[i].substr(0, colon).c_str(), lines[i].c_str() + colon + 1);
  }
  uint32_t appClass = 0, row = 0;
  if (NotifySelectApp(load, &appClass, &row)) Check(appClass >= 1 && appClass <= 3 && row < 2);
  const char* flag = nullptr;
  if (UrlGetHeader(load, "push-flag", &flag) == 0) NotifyPushFlagPasses(flag);
  UrlLoadFree(load);
  ServiceRowsRemove();
  Check(HeapGetStats().freeBytes == freeAtStart);
  return 0;
}
