// Routing of received short messages to the application tasks that claim
// them, and delivery of whole messages as SmsMessage records.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netbuf.h"
#include "services/sms/sms.h"
#include "services/sms/sms_internal.h"

namespace {

uint8_t AsciiLower(uint8_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

uint8_t HeaderLength(const SmsInMessage* m) {
  return m->headerLength < m->dataLength ? m->headerLength : m->dataLength;
}

bool Matches(const SmsAppRegistration* r, const SmsInMessage* m) {
  if (r->kind == 2 && m->headerLength == 0) return false;
  if (r->kind == 0 && m->kind != 0) return false;
  if (r->kind == 1 && m->kind == 0) return false;
  if (r->kind == 2 && m->kind == 2)
    return m->cls == 2 && m->dataLength > 0 && (m->data[0] == 0 || m->data[0] == 1);
  const uint32_t header = HeaderLength(m);
  if (r->offset < 0 || r->length < 0) return false;
  if (static_cast<uint32_t>(r->offset) + static_cast<uint32_t>(r->length) >
      m->dataLength - header)
    return false;
  const uint8_t* at = m->data + header + r->offset;
  for (int8_t i = 0; i < r->length; ++i) {
    uint8_t a = at[i], b = r->pattern[i];
    if (r->kind == 0) {
      a = static_cast<uint8_t>(AsciiLower(a));
      b = static_cast<uint8_t>(AsciiLower(b));
    }
    if (a != b) return false;
  }
  return true;
}

}  // namespace

void SmsCountLost(SmsState* state, const TskmanRef& app) {
  if (TskmanRefAlive(app)) ++state->lostShortOfMemory;
}

void SmsMessageFree(SmsMessage** message) {
  if (!*message) return;
  NetBufRelease(&(*message)->data);
  MemFree(message);
}

bool SmsDeliver(const TskmanRef& app, const SmsInMessage* m, NetBufChain* data, uint8_t headerLength) {
  // A claim may outlive its task: the message then goes nowhere, not to a
  // task made since in its record, and no memory it lacks is a loss.
  if (!TskmanRefAlive(app)) {
    NetBufRelease(&data);
    return true;
  }
  auto* record = static_cast<SmsMessage*>(MemAllocZero(sizeof(SmsMessage), Use::Data, Mod::Sms));
  if (!record) {
    NetBufRelease(&data);
    return false;
  }
  LibcStrNCopy(record->sender, m->sender ? m->sender : "", kSmsAddressSize - 1);
  record->kind = m->kind;
  record->cls = m->cls;
  record->source = m->source;
  record->headerLength = headerLength;
  record->data = data;
  if (m->kind != 2) {
    if (NetBufTrim(&record->data, headerLength) != kOk) {
      SmsMessageFree(&record);
      return false;
    }
    record->headerLength = 0;
  }
  TskmanPost(app.task, SmsServiceMsg::Delivered, reinterpret_cast<uintptr_t>(record), 0);
  return true;
}

Result SmsRegisterApp(SmsState* state, TskmanTask* task, uint32_t kind, int8_t offset,
                      const uint8_t* pattern, uint8_t length) {
  if (length > kSmsPatternMax) return ResultError(Mod::Sms, Err::BadArg);
  auto* r = static_cast<SmsAppRegistration*>(
      MemAllocZero(sizeof(SmsAppRegistration), Use::Data, Mod::Sms));
  if (!r) return ResultError(Mod::Sms, Err::NoMemory);
  r->task = TskmanRefOf(task);
  r->kind = kind;
  r->offset = offset;
  r->length = static_cast<int8_t>(length);
  for (uint8_t i = 0; i < length; ++i) r->pattern[i] = pattern[i];
  SmsAppRegistration** end = &state->registrations;
  while (*end) end = &(*end)->next;
  *end = r;
  return kOk;
}

void SmsUnregisterApp(SmsState* state, TskmanTask* task) {
  for (SmsAppRegistration** at = &state->registrations; *at;) {
    SmsAppRegistration* r = *at;
    // By the pointer: a claim left by an earlier task there goes too.
    if (r->task.task == task) {
      *at = r->next;
      MemFree(&r);
    } else {
      at = &r->next;
    }
  }
}

TskmanRef SmsFindAppByContent(SmsState* state, const SmsInMessage* message) {
  for (SmsAppRegistration* r = state->registrations; r; r = r->next)
    if (Matches(r, message)) return r->task;
  return TskmanRef{};
}

namespace {

// The task that claims the message, and its segment header.
TskmanRef Claimant(SmsState* state, const SmsInMessage* message, SmsSegmentHeader* header) {
  if (!message || (message->dataLength && !message->data)) return TskmanRef{};
  TskmanRef app = SmsFindAppByContent(state, message);
  *header = SmsSegmentHeader{};
  // The count and the sequence are read only where the header holds them.
  if (message->kind == 2 && HeaderLength(message) >= 3 && message->data[0] == 0) {
    header->reference = static_cast<uint16_t>(message->port);
    header->total = message->data[1];
    header->sequence = static_cast<uint8_t>(message->data[2] + 1);
    if (!app.task)
      app = SmsFindReassemblyApp(state, header->reference, message->sender, header->total);
  }
  return app;
}

}  // namespace

TskmanTask* SmsRoute(SmsState* state, const SmsInMessage* message) {
  SmsSegmentHeader header;
  const TskmanRef app = Claimant(state, message, &header);
  if (app.task) SmsOnSegment(state, message, &header, app);
  return app.task;
}

TskmanTask* SmsRouteLost(SmsState* state, const SmsInMessage* message) {
  SmsSegmentHeader header;
  const TskmanRef app = Claimant(state, message, &header);
  if (!app.task) return nullptr;
  if (header.total >= 2)
    SmsSegmentLost(state, message, &header, app);
  else
    SmsCountLost(state, app);
  return app.task;
}

void SmsOnSegment(SmsState* state, const SmsInMessage* message, const SmsSegmentHeader* header,
                  const TskmanRef& app) {
  if (header->total >= 2) return SmsReassemble(state, message, header, app);
  NetBufChain* data = NetBufAlloc(message->dataLength);
  if (data) NetBufWrite(data, message->data, 0, message->dataLength);
  if (!data || !SmsDeliver(app, message, data, HeaderLength(message))) SmsCountLost(state, app);
}
