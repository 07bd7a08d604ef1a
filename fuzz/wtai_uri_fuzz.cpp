// Telephony links come from any page: any wtai:, tel:, dialto: or smsto:
// URI is either refused with the module's code or becomes one request whose
// task ends with its answer, and nothing is left allocated.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "browser/benvar.h"
#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "services/wtai/wtai.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  static std::vector<uint64_t> arena(1u << 15);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  MemSetEvictor(nullptr);
  if (TskmanInit() != kOk) return 0;
  const uint32_t start = HeapGetStats().freeBytes;

  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  BenBrowser browser{};
  BenBrowserInit(&browser);
  browser.accessOk = size & 1;
  UrlRequestRec request{};
  request.browser = &browser;
  UrlParsed parsed;
  if (UrlParse(&parsed, text.c_str(), 0) == kOk) {
    if (UrlLoad* load = UrlLoadCreate(&parsed)) {
      const Result r = WtaiSchemeStart(&request, load);
      Check(r == kOk || ResultModule(r) == Mod::WtlWtai);
      WtaiSchemeStep(&request, load);
      UrlLoadFree(load);
    }
    UrlFreeParsed(&parsed);
  }
  // No browser, status or SMS task stands: every request is refused and its
  // task ends with the answer.
  for (int i = 0; i < 1000 && TskmanPendingCount(); ++i) TskmanStep();
  Check(TskmanFind(Mod::WtlWtai) == nullptr && TskmanFind(Mod::WtlWtai2) == nullptr);
  BenFreeVarList(&browser);
  Check(HeapGetStats().freeBytes == start);
  TskmanShutdown();
  Check(HeapValidate() == nullptr);
  return 0;
}
