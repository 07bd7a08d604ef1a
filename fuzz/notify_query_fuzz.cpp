// The inbox pages' queries: notify://view?int=URL&ext=URL and
// notify://delete?int=URL read the message's address and where to go next
// from the query as it arrives. Byte 0 picks the page (view, delete, a
// capitalised view, browse); the rest up to a zero byte is the query. One
// pushed message lies in the cache under push:+4917012345.1. Whatever the
// query, the page is built in a few steps, only a view marks a message
// viewed, no page without "int=" sets where to go next, and once the load
// and the cache are gone nothing stays behind.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "browser/benvar.h"
#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/notify_scheme.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr char kMessage[] = "push:+4917012345.1";
const char* const kPages[] = {"view", "delete", "VIEW", "browse"};

UrlLoad* NewLoad(const char* url) {
  UrlParsed parsed{};
  if (UrlParse(&parsed, url, 0) != kOk) return nullptr;
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  return load;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  static std::vector<uint64_t> arena((2u << 20) / 8);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  CacheInit();
  BenBrowser browser{};
  BenBrowserInit(&browser);

  UrlLoad* message = NewLoad(kMessage);
  Check(message != nullptr);
  CacheAdd(message);
  const std::string query(reinterpret_cast<const char*>(data + 1),
                          strnlen(reinterpret_cast<const char*>(data + 1), size - 1));
  const char* page = kPages[data[0] & 3];
  UrlLoad* load = NewLoad((std::string("notify://") + page).c_str());
  Check(load != nullptr);
  MemFree(&load->url.query);
  load->url.query = LibcStrDup(query.c_str());
  Check(load->url.query != nullptr);

  UrlRequestRec request{};
  request.browser = &browser;
  request.load = load;
  Check(NotifySchemeStart(&request, load) == kOk);
  for (int step = 0; !load->endOfData; ++step) {
    Check(step < 4);
    const Result r = NotifySchemeStep(&request, load);
    Check(r == kOk || r == kNotifyPageNoMemory);
  }
  Check(NotifySchemeClose(&request, load) == kOk);
  Check(load->schemeRecord == 0);

  const bool view = LibcStrICmp(page, "view") == 0;
  if (!view) Check(!(message->flags & UrlFlag::Viewed));
  if (query.find("int=") == std::string::npos)
    Check(BenGetVar(&browser, u"HXPNotify_Redirect") == nullptr);

  UrlLoadFree(load);
  CacheClear();
  BenClearVars(&browser);
  Check(HeapValidate() == nullptr);
  Check(HeapGetStats().freeBytes == freeAtStart);
  return 0;
}
