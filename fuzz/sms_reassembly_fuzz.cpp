// Segments arrive from the network side in any order and any shape: the
// input is a run of messages {kind, header length, port, length, bytes...}
// routed one after the other to one application. Each whole message the
// application gets holds no more than its segments brought, and once the
// reassemblies have aged out nothing is left allocated.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netbuf.h"
#include "services/sms/sms.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

uint32_t gDelivered;
uint32_t gBytes;

Result App(void*, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (message != SmsServiceMsg::Delivered) return kOk;
  auto* m = reinterpret_cast<SmsMessage*>(arg1);
  gBytes += NetBufLength(m->data);
  ++gDelivered;
  SmsMessageFree(&m);
  return kOk;
}

Result Service(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  static std::vector<uint64_t> arena(1u << 15);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  MemSetEvictor(nullptr);
  if (TskmanInit() != kOk) return 0;
  TskmanTask* app = nullptr;
  TskmanTask* service = nullptr;
  if (TskmanCreateTaskEx(&app, Mod::TestCode, App, nullptr, false) != kOk ||
      TskmanCreateTaskEx(&service, Mod::Sms, Service, nullptr, false) != kOk) {
    TskmanShutdown();
    return 0;
  }
  const uint32_t start = HeapGetStats().freeBytes;
  SmsState state{};
  for (uint32_t kind = 0; kind < 3; ++kind) SmsRegisterApp(&state, app, kind, 0, nullptr, 0);
  gDelivered = 0;
  gBytes = 0;
  uint32_t brought = 0;
  size_t at = 0;
  while (at + 4 <= size) {
    const uint8_t length = data[at + 3];
    if (at + 4 + length > size) break;
    const char* sender = (data[at] & 0x80) ? "+4911" : "+4922";
    const SmsInMessage m{0, data[at] & 3u, sender, length, data[at + 1], data + at + 4, 2, data[at + 2]};
    SmsRoute(&state, &m);
    brought += length;
    while (TskmanPendingCount()) TskmanStep();
    at += 4 + length;
  }
  Check(gBytes <= brought);
  for (int i = 0; i < kSmsLifetime && SmsReassemblyCount(&state); ++i) SmsAge(&state);
  Check(SmsReassemblyCount(&state) == 0);
  SmsStateFree(&state);
  while (TskmanPendingCount()) TskmanStep();
  Check(HeapGetStats().freeBytes == start);
  TskmanShutdown();
  Check(HeapValidate() == nullptr);
  return 0;
}
