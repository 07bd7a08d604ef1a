#include "host/smsservice.h"

#include "host/sms.h"
#include "host/smsbridge.h"
#include "host/smsconcat.h"
#include "host/wappush.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netbuf.h"
#include "services/sms/sms.h"
#include "services/smsmsg.h"

namespace {

struct Pending {
  Pending* next;
  TskmanTask* requester;
  SmsSendRequestRec* request;
  bool cancelled;
};

struct SmsService {
  TskmanTask* task;
  Pending* waiting;  // oldest first
  Pending* sending;  // handed to the bridge, its outcome not yet come
  SmsConcat* pushes;
  TskmanTimer* ageing;
  SmsState routing;  // the engine's routing of the other messages
  bool stopping;
};

SmsService* gService;

void FreeRequest(SmsSendRequestRec* request) {
  if (!request) return;
  MemFree(&request->reference);
  if (request->message) {
    NetBufRelease(&request->message->data);
    MemFree(&request->message);
  }
  MemFree(&request);
}

// Answers the requester and frees the request; a requester that is gone is
// told nothing.
void Answer(Pending* p, Result outcome) {
  if (!p->cancelled && TskmanIsAlive(p->requester)) {
    char16_t* reference = p->request ? p->request->reference : nullptr;
    if (p->request) p->request->reference = nullptr;
    if (outcome == kOk)
      TskmanPost(p->requester, SmsServiceMsg::Sent, reinterpret_cast<uintptr_t>(reference), 0);
    else
      TskmanPost(p->requester, SmsServiceMsg::NotSent, reinterpret_cast<uintptr_t>(reference),
                 outcome);
  }
  if (TskmanIsAlive(p->requester)) TskmanPost(p->requester, SmsServiceMsg::RequestOver, 0, 0);
  FreeRequest(p->request);
  MemFree(&p);
}

// Hands the oldest waiting message to the bridge; its outcome comes back as
// 0x3802.
void SendNext(SmsService* s) {
  if (s->sending || !s->waiting || s->stopping) return;
  Pending* p = s->waiting;
  s->waiting = p->next;
  p->next = nullptr;
  s->sending = p;
  const SmsMessage* m = p->request->message;
  SmsOutgoing out{};
  LibcStrNCopy(out.destination, m->sender, kSmsAddressSize - 1);
  out.kind = m->kind;
  out.type = SmsType::Message;
  out.headerPresent = m->headerLength > 0;
  out.data = m->data;
  const uint32_t length = m->data ? NetBufLength(m->data) : 0;
  const uint32_t header = m->headerLength < length ? m->headerLength : length;
  SmsBridgeSend(nullptr, &out, nullptr, header, length - header, 0, header, nullptr);
}

void OnSend(SmsService* s, TskmanTask* requester, SmsSendRequestRec* request) {
  if (!request) return;
  auto* p = static_cast<Pending*>(MemAllocZero(sizeof(Pending), Use::Data, Mod::Sms));
  if (!p) {
    if (TskmanIsAlive(requester)) {
      TskmanPost(requester, SmsServiceMsg::NotSent, reinterpret_cast<uintptr_t>(request->reference),
                 kSmsRequestNoMemory);
      request->reference = nullptr;
      TskmanPost(requester, SmsServiceMsg::RequestOver, 0, 0);
    }
    FreeRequest(request);
    return;
  }
  p->requester = requester;
  p->request = request;
  if (!request->message || s->stopping) {
    Answer(p, s->stopping ? kSmsServiceStopped : kSmsRequestNoMessage);
    return;
  }
  Pending** end = &s->waiting;
  while (*end) end = &(*end)->next;
  *end = p;
  SendNext(s);
}

void OnCancel(SmsService* s, TskmanTask* requester, uint32_t value) {
  for (Pending** at = &s->waiting; *at;) {
    Pending* p = *at;
    if (p->requester == requester && p->request->value == value) {
      *at = p->next;
      p->cancelled = true;
      Answer(p, kOk);
    } else {
      at = &p->next;
    }
  }
  if (s->sending && s->sending->requester == requester && s->sending->request->value == value)
    s->sending->cancelled = true;
}

void OnSendResult(SmsService* s, uintptr_t result) {
  Pending* p = s->sending;
  if (!p) return;
  s->sending = nullptr;
  Answer(p, static_cast<Result>(result));
  SendNext(s);
}

void StartAgeing(SmsService* s) {
  if (!s->ageing && s->pushes)
    TskmanStartTimer(&s->ageing, s->task, kSmsPushAgeingTimer, 1, kSmsPushAgeingMs);
}

void OnReceived(SmsService* s, SmsReceived* m) {
  SmsAddressing a;
  SmsReadAddressing(m, &a);
  if (!(a.hasPort && a.port == kWapPushPort)) {
    const SmsInMessage in{static_cast<uint32_t>(m->time), m->kind, m->address, m->dataLength,
                          m->headerLength, m->data, m->type, m->port};
    SmsRoute(&s->routing, &in);
    return;
  }
  const uint32_t header = m->headerLength < m->dataLength ? m->headerLength : m->dataLength;
  const uint8_t* payload = m->data + header;
  const uint32_t length = m->dataLength - header;
  if (a.total < 2) {
    WapPushPlace(m->address, payload, length);
    return;
  }
  uint8_t* whole = nullptr;
  uint32_t wholeLength = 0;
  SmsConcatAdd(&s->pushes, m->address, a.reference, a.total, a.sequence, payload, length, &whole,
               &wholeLength);
  if (whole) {
    WapPushPlace(m->address, whole, wholeLength);
    MemFree(&whole);
  }
  StartAgeing(s);
}

void OnTimer(SmsService* s, uintptr_t user) {
  if (user == kSmsPushAgeingTimer) {
    if (SmsConcatAge(&s->pushes) == 0) TskmanCancelTimer(&s->ageing);
    return;
  }
  SmsAge(&s->routing);
}

void Stop(SmsService* s) {
  s->stopping = true;
  if (Pending* p = s->sending) {
    s->sending = nullptr;
    Answer(p, kSmsServiceStopped);
  }
  while (Pending* p = s->waiting) {
    s->waiting = p->next;
    Answer(p, kSmsServiceStopped);
  }
  SmsConcatFreeAll(&s->pushes);
  SmsStateFree(&s->routing);
  TskmanCancelTimer(&s->ageing);
  TskmanTask* task = s->task;
  if (gService == s) gService = nullptr;
  MemFree(&s);
  TskmanDestroyTask(task);
}

}  // namespace

SmsState* SmsServiceRouting() { return gService ? &gService->routing : nullptr; }

Result SmsServiceHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* s = static_cast<SmsService*>(context);
  if (message == TskMsg::Start) {
    s->task = reinterpret_cast<TskmanTask*>(arg1);
    return kOk;
  }
  if (!s) return kOk;
  switch (message) {
    case SmsServiceMsg::Send:
      OnSend(s, reinterpret_cast<TskmanTask*>(arg1), reinterpret_cast<SmsSendRequestRec*>(arg2));
      break;
    case SmsServiceMsg::Cancel:
      OnCancel(s, reinterpret_cast<TskmanTask*>(arg1), static_cast<uint32_t>(arg2));
      break;
    case SmsMsg::SendResult:
      OnSendResult(s, arg1);
      break;
    case SmsMsg::Received: {
      auto* m = reinterpret_cast<SmsReceived*>(arg1);
      if (m && !s->stopping) OnReceived(s, m);
      SmsRelease(nullptr, m, 0);
      break;
    }
    case TskMsg::Timer:
      OnTimer(s, arg2);
      break;
    case SmsServiceOwnMsg::Stop:
      Stop(s);
      break;
    default:
      // Settings notices and messages meant for other tasks.
      break;
  }
  return kOk;
}

Result SmsServiceStart() {
  if (TskmanFind(Mod::Sms)) return kOk;
  auto* s = static_cast<SmsService*>(MemAllocZero(sizeof(SmsService), Use::Context, Mod::Sms));
  if (!s) return ResultError(Mod::Sms, Err::NoMemory);
  if (TskmanCreateTask(&s->task, Mod::Sms, SmsServiceHandler, s) != kOk) {
    MemFree(&s);
    return ResultError(Mod::Sms, Err::NoMemory);
  }
  gService = s;
  return kOk;
}

void SmsServiceStop() {
  if (gService && TskmanFind(Mod::Sms) == gService->task)
    TskmanPost(gService->task, SmsServiceOwnMsg::Stop, 0, 0);
}

uint32_t SmsServicePendingPushes() { return gService ? SmsConcatCount(gService->pushes) : 0; }
