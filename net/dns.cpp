#include "net/dns.h"

namespace {
Result DnsTaskHandler(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }
}  // namespace

void DnsStartTask(TskmanTask* requester) {
  TskmanTask* task = nullptr;
  Result r = TskmanCreateTask(&task, Mod::Dns, DnsTaskHandler, nullptr);
  if (r == kOk)
    TskmanPost(requester, DnsMsg::Started, 0, 0);
  else
    TskmanPost(requester, DnsMsg::StartFailed, 0, r);
}

void DnsStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(Mod::Dns)) TskmanDestroyTask(task);
  TskmanPost(requester, DnsMsg::Stopped, 0, 0);
}
