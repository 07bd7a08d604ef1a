// Short messages come from any peer: every received message's header is
// read for its port and segment, segments of pushes are put back together,
// and a whole push goes to push delivery. The input is a run of datagrams,
// each a length byte and that many bytes; each goes through the bridge's
// decoder to the real SMS service, with push reception standing by. Whatever
// arrives, the service stays whole, and once it and the fetch layer have
// stopped nothing is left allocated.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/cache.h"
#include "browser/url.h"
#include "host/sms.h"
#include "host/smsbridge.h"
#include "host/smsservice.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netbuf.h"
#include "services/push/notify.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

uint32_t gPlaced = 0;

// What push reception does with a pushed object: reads it and lets it go.
Result Reception(void*, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (message != NotifyMsg::Push) return kOk;
  char* url = reinterpret_cast<char*>(arg1);
  UrlParsed parsed;
  Check(UrlParse(&parsed, url, 0) == kOk);
  UrlLoad* load = CacheFindByName(&parsed);
  UrlFreeParsed(&parsed);
  Check(load != nullptr);
  CacheRemove(load);
  UrlLoadClearFlags(load, UrlFlag::Kept);
  MemFree(&url);
  ++gPlaced;
  return kOk;
}

Result Owner(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }

void Pump() {
  for (int i = 0; i < 100000 && TskmanPendingCount() > 0; ++i) TskmanStep();
  Check(TskmanPendingCount() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((1u << 20) / 8);
  if (size > 8192) return 0;
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8));
  MemSetEvictor(nullptr);
  SmsSetConsoleTrace(false);
  Check(TskmanInit() == kOk);
  TskmanTask* owner = nullptr;
  TskmanTask* reception = nullptr;
  Check(TskmanCreateTask(&owner, Mod::TestHarness, Owner, nullptr) == kOk);
  Check(TskmanCreateTask(&reception, Mod::Notify, Reception, nullptr) == kOk);
  Pump();
  const uint32_t before = HeapGetStats().freeBytes;
  UrlTaskContext* urlTask = nullptr;
  Check(UrlStartTask(&urlTask, owner) == kOk);
  Check(SmsServiceStart() == kOk);
  Pump();

  for (size_t at = 0; at < size;) {
    const size_t n = data[at] < size - at - 1 ? data[at] : size - at - 1;
    NetBufChain* datagram = NetBufAlloc(static_cast<uint32_t>(n));
    Check(datagram != nullptr);
    NetBufWrite(datagram, data + at + 1, 0, static_cast<uint32_t>(n));
    if (SmsReceived* record = SmsBridgeDecode(datagram)) SmsDeliver(record);
    NetBufRelease(&datagram);
    Pump();
    at += n + 1;
  }

  SmsServiceStop();
  Pump();
  Check(TskmanFind(Mod::Sms) == nullptr);
  UrlStopTask(urlTask);
  Pump();
  Check(UrlGetModule() == nullptr);
  Check(HeapGetStats().freeBytes == before);
  TskmanDestroyTask(reception);
  TskmanDestroyTask(owner);
  TskmanShutdown();
  Check(HeapValidate() == nullptr);
  return 0;
}
