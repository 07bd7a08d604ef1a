#include "net/dns.h"

#include "kernel/tskservice.h"

namespace {
Result DnsTaskHandler(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }

constexpr TskService kDns{.module = Mod::Dns,
                          .handler = DnsTaskHandler,
                          .failed = DnsMsg::StartFailed,
                          .errorArg = 2,
                          .stopped = DnsMsg::Stopped};
}  // namespace

// The resolver answers as soon as its task exists.
void DnsStartTask(TskmanTask* requester) {
  if (TskServiceStart(kDns, requester) == kOk) TskmanPost(requester, DnsMsg::Started, 0, 0);
}

void DnsStopTask(TskmanTask* requester) { TskServiceStop(kDns, requester); }
