#include "host/smsservice.h"

#include "host/sms.h"
#include "host/smsbridge.h"
#include "host/smsaddress.h"
#include "host/wappush.h"
#include "host/platform/files.h"
#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/ubstore.h"
#include "net/netbuf.h"
#include "services/push/notify_store.h"
#include "services/sms/sms.h"
#include "services/smsmsg.h"

namespace {

struct Pending {
  Pending* next;
  TskmanRef requester;  // named as its request was received
  SmsSendRequestRec* request;
  bool cancelled;
};

struct SmsService {
  TskmanTask* task;
  Pending* waiting;  // oldest first
  Pending* sending;  // handed to the bridge, its outcome not yet come
  SmsState routing;  // the engine's routing and reassembly of every message
  uint32_t ageingTicks;  // routing timer fires since the last ageing pass
  bool stopping;
};

// The routing's class of the messages to the push port: the push placement
// claims them (kind 2), and only them.
constexpr uint32_t kPushClass = 2;
constexpr uint32_t kOtherClass = 0;
// The routing's timer fires every tick while reassemblies wait; a lifetime
// unit is one second of them, so that a message waits a minute for its rest.
constexpr uint32_t kTicksPerAgeingPass = 1000 / kTskmanTickMs;

SmsService* gService;

// Routes one received message; one the routing dropped for want of memory
// is said, once for all its segments, as push delivery says its own. One
// the bridge could not take in (`lost`) is counted by the routing the same
// way; one nobody claims is said as it is.
void Route(SmsService* s, const SmsInMessage* in, bool push, bool lost) {
  const uint32_t before = s->routing.lostShortOfMemory;
  const TskmanTask* app = lost ? SmsRouteLost(&s->routing, in) : SmsRoute(&s->routing, in);
  if (s->routing.lostShortOfMemory != before || (lost && !app)) NotifySayLost(push);
}

// A message whose rest never came is said as one lost: who sent it and how
// many of its segments came.
void SayUnfinished(const char* sender, uint32_t came, uint32_t total, const TskmanRef& app) {
  const bool push = gService && app == TskmanRefOf(gService->task);
  char what[360];
  char number[12];
  LibcStrCopy(what, push ? "a pushed message from " : "a received message from ");
  const char* who = sender && *sender ? sender : "an unknown sender";
  const uint32_t at = LibcStrLen(what), n = LibcStrLen(who) < 255 ? LibcStrLen(who) : 255;
  LibcMemCopy(what + at, who, n);
  what[at + n] = 0;
  LibcStrCat(what, ": ");
  LibcItoA(static_cast<int32_t>(came), number, 10);
  LibcStrCat(what, number);
  LibcStrCat(what, " of its ");
  LibcItoA(static_cast<int32_t>(total), number, 10);
  LibcStrCat(what, number);
  LibcStrCat(what, " segments came, the rest never did");
  PlatformSayLost(what);
}

// A push past what a message holds, said with its sender.
void SayTooLong(const char* sender) {
  char what[360] = "a pushed message from ";
  const char* who = sender && *sender ? sender : "an unknown sender";
  const uint32_t at = LibcStrLen(what), n = LibcStrLen(who) < 255 ? LibcStrLen(who) : 255;
  LibcMemCopy(what + at, who, n);
  what[at + n] = 0;
  LibcStrCat(what, ": a segment longer than a message holds");
  PlatformSayLost(what);
}

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
  if (!p->cancelled && TskmanRefAlive(p->requester)) {
    char16_t* reference = p->request ? p->request->reference : nullptr;
    if (p->request) p->request->reference = nullptr;
    if (outcome == kOk)
      TskmanPost(p->requester.task, SmsServiceMsg::Sent, reinterpret_cast<uintptr_t>(reference), 0);
    else
      TskmanPost(p->requester.task, SmsServiceMsg::NotSent, reinterpret_cast<uintptr_t>(reference),
                 outcome);
  }
  if (TskmanRefAlive(p->requester)) TskmanPost(p->requester.task, SmsServiceMsg::RequestOver, 0, 0);
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

// The requester is named at receipt: one that ended before this came
// cancelled its request first, and the service's answer to that reaches no
// one else.
void OnSend(SmsService* s, const TskmanRef& requester, SmsSendRequestRec* request) {
  if (!request) return;
  auto* p = static_cast<Pending*>(MemAllocZero(sizeof(Pending), Use::Data, Mod::Sms));
  if (!p) {
    if (TskmanRefAlive(requester)) {
      TskmanPost(requester.task, SmsServiceMsg::NotSent,
                 reinterpret_cast<uintptr_t>(request->reference), kSmsRequestNoMemory);
      request->reference = nullptr;
      TskmanPost(requester.task, SmsServiceMsg::RequestOver, 0, 0);
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

void OnCancel(SmsService* s, const TskmanRef& requester, uint32_t value) {
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

// A message to the push port goes to the routing in one form whichever
// coding it came in: the bridge's port form {0, count, number - 1} for a
// segment, {0} for a whole message, then the payload; the reference rides
// in the port field, where the routing reads it.
void RoutePush(SmsService* s, const SmsReceived* m, const SmsAddressing& a, bool lost) {
  const uint32_t header = m->headerLength < m->dataLength ? m->headerLength : m->dataLength;
  const uint32_t length = m->dataLength - header;
  const bool segment = a.total >= 2;
  const uint8_t lead[3] = {0, a.total, static_cast<uint8_t>(a.sequence - 1)};
  const uint32_t leadLength = segment ? 3 : 1;
  if (leadLength + length > 0xFF) {
    // More than a message holds: the routing counts it lost, once for all
    // its segments as for one the bridge could not take, and it is said.
    const SmsInMessage cut{static_cast<uint32_t>(m->time), SmsKind::Port, m->address,
                           static_cast<uint8_t>(leadLength), static_cast<uint8_t>(leadLength),
                           lead, kPushClass, a.reference};
    const uint32_t before = s->routing.lostShortOfMemory;
    const TskmanTask* app = SmsRouteLost(&s->routing, &cut);
    if (s->routing.lostShortOfMemory == before && app) return;  // its message was said
    if (lost)
      NotifySayLost(true);
    else
      SayTooLong(m->address);
    return;
  }
  uint8_t data[0x100];
  LibcMemCopy(data, lead, leadLength);
  LibcMemCopy(data + leadLength, m->data + header, length);
  const SmsInMessage in{static_cast<uint32_t>(m->time), SmsKind::Port, m->address,
                        static_cast<uint8_t>(leadLength + length), static_cast<uint8_t>(leadLength),
                        data, kPushClass, a.reference};
  Route(s, &in, true, lost);
}

// A received message to the routing, or, `lost`, its loss.
void OnReceived(SmsService* s, const SmsReceived* m, bool lost) {
  SmsAddressing a;
  SmsReadAddressing(m, &a);
  if (SmsAddressingIsPush(a)) return RoutePush(s, m, a, lost);
  const SmsInMessage in{static_cast<uint32_t>(m->time), m->kind, m->address, m->dataLength,
                        m->headerLength, m->data, kOtherClass, m->port};
  Route(s, &in, false, lost);
}

// A whole push, its lead still on the front, goes to push delivery. One
// lost for want of memory, or because push reception has stopped taking
// pushes, is said, as push reception says one it could not keep; a push
// that is no push goes without a word.
void PlacePush(SmsMessage* message) {
  const uint32_t length = message->data ? NetBufLength(message->data) : 0;
  const uint32_t lead = message->headerLength < length ? message->headerLength : length;
  auto* pdu = static_cast<uint8_t*>(MemAlloc(length ? length : 1, Use::Data, Mod::Sms));
  Result r = pdu ? kOk : kWapPushNoMemory;
  if (pdu && NetBufRead(message->data, pdu, 0, length) == length)
    r = WapPushPlace(message->sender, pdu + lead, length - lead);
  if (r == kWapPushNoMemory)
    NotifySayLost(true);
  else if (r == kWapPushNoReceiver)
    NotifySayStoppedFirst(true);  // push reception has stopped, or is saving
  MemFree(&pdu);
  SmsMessageFree(&message);
}

void OnTimer(SmsService* s) {
  if (++s->ageingTicks < kTicksPerAgeingPass) {
    TskmanCancelTimer(&s->routing.timer);
    SmsStartTimer(&s->routing);
    return;
  }
  s->ageingTicks = 0;
  SmsAge(&s->routing);
}

// What is still queued for the service as it ends: a send request is
// answered as stopped, a received message freed and said, and a whole push
// goes on to push reception, which takes pushes until its own stop saves.
void TakeLeftover(void* user, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* s = static_cast<SmsService*>(user);
  if (message == SmsServiceMsg::Send) {
    OnSend(s, TskmanRefOf(reinterpret_cast<TskmanTask*>(arg1)),
           reinterpret_cast<SmsSendRequestRec*>(arg2));
  } else if (message == SmsMsg::Received) {
    if (arg1) NotifySayStoppedFirst(false);
    SmsRelease(nullptr, reinterpret_cast<SmsReceived*>(arg1), 0);
  } else if (message == SmsServiceMsg::Delivered) {
    if (auto* m = reinterpret_cast<SmsMessage*>(arg1)) PlacePush(m);
  }
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
  TskmanTakeEvents(s->task, TakeLeftover, s);
  SmsStateFree(&s->routing);
  SmsOnUnfinished(nullptr);
  NotifySayLostCount();
  TskmanTask* task = s->task;
  if (gService == s) gService = nullptr;
  MemFree(&s);
  TskmanDestroyTask(task);
}

}  // namespace

SmsState* SmsServiceRouting() { return gService ? &gService->routing : nullptr; }

void SmsServiceSayLost(const SmsReceived* message) {
  if (gService && !gService->stopping && TskmanFind(Mod::Sms) == gService->task)
    return OnReceived(gService, message, true);
  SmsAddressing a;
  SmsReadAddressing(message, &a);
  NotifySayLost(SmsAddressingIsPush(a));
}

Result SmsServiceHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* s = static_cast<SmsService*>(context);
  if (message == TskMsg::Start) {
    s->task = reinterpret_cast<TskmanTask*>(arg1);
    return kOk;
  }
  if (!s) return kOk;
  switch (message) {
    case SmsServiceMsg::Send:
      OnSend(s, TskmanRefOf(reinterpret_cast<TskmanTask*>(arg1)),
             reinterpret_cast<SmsSendRequestRec*>(arg2));
      break;
    case SmsServiceMsg::Cancel:
      OnCancel(s, TskmanRefOf(reinterpret_cast<TskmanTask*>(arg1)), static_cast<uint32_t>(arg2));
      break;
    case SmsMsg::SendResult:
      OnSendResult(s, arg1);
      break;
    case SmsMsg::Received: {
      auto* m = reinterpret_cast<SmsReceived*>(arg1);
      if (m && !s->stopping) OnReceived(s, m, false);
      SmsRelease(nullptr, m, 0);
      break;
    }
    case SmsServiceMsg::Delivered:
      PlacePush(reinterpret_cast<SmsMessage*>(arg1));
      break;
    case TskMsg::Timer:
      OnTimer(s);
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
  // The push placement is the service's own claim, made before any message
  // can come: pushes in the routing's push class, whole or in segments.
  // Its offset is negative so that no pattern matches: a message of another
  // kind with a header (a text in segments, a message to another port) is
  // never taken for a push.
  if (SmsRegisterApp(&s->routing, s->task, 2, -1, nullptr, 0) != kOk) {
    TskmanDestroyTask(s->task);
    MemFree(&s);
    return ResultError(Mod::Sms, Err::NoMemory);
  }
  gService = s;
  SmsOnUnfinished(SayUnfinished);
  return kOk;
}

void SmsServiceStop() {
  if (gService && TskmanFind(Mod::Sms) == gService->task)
    TskmanPost(gService->task, SmsServiceOwnMsg::Stop, 0, 0);
}

