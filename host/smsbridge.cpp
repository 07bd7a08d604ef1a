#include "host/smsbridge.h"

#include <cstring>

#include "host/platform/files.h"
#include "host/platform/hoststate.h"
#include "host/platform/shell.h"
#include "host/sms.h"
#include "host/smsservice.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/ubstore.h"
#include "net/netsock.h"
#include "services/push/notify_store.h"

namespace {

constexpr uint32_t kUseRecord = 0x23;
constexpr uint32_t kRetryMs = 1000;

struct SmsBridge {
  uintptr_t socket;
  TskmanTask* task;
  NetBufChain* received;
  NetSockAddr local;
  NetSockAddr sender;
  uint32_t senderLength;
  NetSockAddr peer;
  void* host;
  // The socket layer is a service of the start-up chain; an engine started
  // without it gets it from the bridge, which then stops it again.
  bool ownsNet;
  bool hasSocket;
  bool bound;
  bool stopping;
  bool armFailed;
  bool draining;     // the stop takes what waits in the socket before it closes
  uint32_t drained;  // datagrams the stop has taken so far
  TskmanTimer* retry;
  Result failure;  // why the start failed, reported with the stop
};

// Host order; set by the host before the start.
uint16_t gLocalPort = kSmsBridgePort;
uint16_t gPeerPort = kSmsPeerPort;
char gAddress[16] = "127.0.0.1";

// Datagrams the system dropped before the bridge could read them are said
// as received messages that could not be kept: what they were is unknown.
void SayDropped(uint32_t count) {
  if (count == 0) return;
  char what[96];
  LibcItoA(static_cast<int32_t>(count), what, 10);
  LibcStrCat(what, count == 1 ? " received message: dropped by the system before it could be read"
                              : " received messages: dropped by the system before they could be read");
  PlatformSayLost(what);
}

// A failure answer whose word is 0 still reports a failure.
Result FailureOf(uintptr_t error) {
  return error != 0 ? static_cast<Result>(error) : ResultError(Mod::SmsBridge, Err::NotFound);
}

SmsBridge* gBridge = nullptr;
TskmanTask* gBridgeTask = nullptr;

// The running bridge, while its task is the engine's module-56 task.
SmsBridge* Bridge() {
  if (gBridge && gBridgeTask && TskmanFind(Mod::SmsBridge) == gBridgeTask) return gBridge;
  gBridge = nullptr;
  gBridgeTask = nullptr;
  return nullptr;
}

void ArmReceive(SmsBridge* b) {
  b->senderLength = kNetSockAddrSize;
  if (NetRecvFrom(b->task, kSmsBridgeCookie, b->socket, &b->received, 0, &b->sender,
                  &b->senderLength) != kOk)
    b->armFailed = true;  // its failure answer is on the way
}

// What waited in the socket when the stop came was sent before the stop:
// it is taken, one datagram after the other, before the socket closes;
// each once the engine has done what the one before set going, as the run
// takes them, so that a burst waits in the socket rather than in memory. A
// peer that keeps sending is cut off after this many.
constexpr uint32_t kDrainMost = 16384;

void DrainNext(SmsBridge* b) {
  b->senderLength = kNetSockAddrSize;
  if (NetRecvFrom(b->task, kSmsBridgeStopCookie, b->socket, &b->received, kNetRecvNoWait,
                  &b->sender, &b->senderLength) != kOk)
    b->armFailed = true;  // answered at once, a failure too
}

void DrainWhenIdle(SmsBridge* b) { TskmanSetIdle(b->task, true); }

// The drain is over: whatever the socket still holds (a peer cut off, a
// socket that failed, what came since) the close counts, and it is said
// when the close answers.
void EndDrain(SmsBridge* b) {
  b->draining = false;
  TskmanSetIdle(b->task, false);
  NetClose(b->task, kSmsBridgeStopCookie, b->socket);
}

void Finish(SmsBridge* b) {
  TskmanTask* task = b->task;
  void* host = b->host;
  Result failure = b->failure;
  TskmanCancelTimer(&b->retry);
  NetBufRelease(&b->received);
  MemFree(&b);
  gBridge = nullptr;
  gBridgeTask = nullptr;
  TskmanDestroyTask(task);
  NotifySayLostCount();
  HostStateChanged(host, HostState::BridgeDown, failure);
}

void Closed(SmsBridge* b) {
  b->hasSocket = false;
  if (b->ownsNet)
    NetCleanup(b->task, 0);  // Finish follows its answer
  else
    Finish(b);
}

void CreateSocket(SmsBridge* b) {
  NetSocketCreate(b->task, kSmsBridgeCookie, kNetFamily, kNetDatagram, kNetUdp);
}

Result OnStart(void* host, TskmanTask* task) {
  auto* b = static_cast<SmsBridge*>(MemAllocZero(sizeof(SmsBridge), Use::Context, Mod::SmsBridge));
  if (!b) {
    TskmanDestroyTask(task);
    HostStateChanged(host, HostState::BridgeDown, kSmsNoMemory);
    return kSmsNoMemory;
  }
  b->task = task;
  b->host = host;
  TskmanSetContext(task, b);
  gBridge = b;
  gBridgeTask = task;
  if (TskmanFind(Mod::Net)) {
    CreateSocket(b);
    return kOk;
  }
  b->ownsNet = true;
  if (Result r = NetStartup(task, 0); r != kOk) {
    b->ownsNet = false;
    b->failure = r;
    Finish(b);
    return r;
  }
  return kOk;
}

// A short message the heap could not take, said by what its bytes make it.
void SayLost(const NetBufChain* datagram);

}  // namespace

Result SmsBridgeHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (message == TskMsg::Start) return OnStart(context, reinterpret_cast<TskmanTask*>(arg1));
  auto* b = static_cast<SmsBridge*>(context);
  switch (message) {
    case NetMsg::Started:
      if (b->stopping)
        Closed(b);
      else
        CreateSocket(b);
      break;
    case NetMsg::Started | kMsgFailed:
      b->ownsNet = false;
      b->failure = FailureOf(arg2);
      Finish(b);
      break;
    case NetMsg::Created:
      b->socket = arg2;
      b->hasSocket = true;
      if (b->stopping) {
        NetClose(b->task, arg1, b->socket);
        break;
      }
      b->local = NetSockAddr{};
      NetAddrFromText(gAddress, kNetFamily, &b->local, kNetSockAddrSize);  // checked when set
      b->local.port = NetSwap16(gLocalPort);
      NetBind(b->task, kSmsBridgeCookie, b->socket, &b->local, kNetSockAddrSize);
      break;
    case NetMsg::Bound:
      if (b->stopping) {
        NetCancelSocket(b->task, kSmsBridgeStopCookie, b->socket);
        break;
      }
      b->bound = true;
      ArmReceive(b);
      HostStateChanged(b->host, HostState::BrowserStarting, 0);
      break;
    case NetMsg::Received: {
      bool noMemory = false;
      if (SmsReceived* record = SmsBridgeDecode(b->received, &noMemory))
        SmsDeliver(record);
      else if (noMemory)
        SayLost(b->received);
      NetBufRelease(&b->received);
      if (!b->stopping)
        ArmReceive(b);
      else if (b->draining && ++b->drained < kDrainMost)
        DrainWhenIdle(b);
      else if (b->draining)
        EndDrain(b);
      break;
    }
    case TskMsg::Idle:
      TskmanSetIdle(b->task, false);
      if (b->draining) DrainNext(b);
      break;
    case NetMsg::Dropped:
      SayDropped(static_cast<uint32_t>(arg2));
      break;
    case NetMsg::Received | kMsgFailed:
      if (b->draining) {
        // A datagram the heap could not take is said, and the next one
        // taken; an empty or failing socket has nothing more to give.
        const bool lostOne = arg2 == kNetNoMemory;
        b->armFailed = false;
        if (lostOne) NotifySayLost(false);
        if (lostOne && ++b->drained < kDrainMost) {
          DrainWhenIdle(b);
          break;
        }
        EndDrain(b);
        break;
      }
      // A receive that was queued and then failed short of memory read a
      // datagram it could not keep, also where the stop came after it.
      if (!b->armFailed && arg2 == kNetNoMemory) NotifySayLost(false);
      if (b->stopping || arg2 == kNetCancelled) break;
      if (b->armFailed) {
        // The receive could not even be queued: try again a little later
        // rather than spin on the failure.
        b->armFailed = false;
        if (!b->retry) TskmanStartTimer(&b->retry, b->task, 0, 0, kRetryMs);
      } else {
        ArmReceive(b);
      }
      break;
    case TskMsg::Timer:
      TskmanCancelTimer(&b->retry);
      if (!b->stopping && b->bound) ArmReceive(b);
      break;
    case NetMsg::Sent:
      SmsPostSendResult(0);
      break;
    case NetMsg::Sent | kMsgFailed:
      SmsPostSendResult(arg2);
      break;
    case SmsMsg::BridgeStop:
      if (b->stopping) break;
      b->stopping = true;
      TskmanCancelTimer(&b->retry);
      // A socket still being made or bound is closed when its answer comes.
      if (b->bound) NetCancelSocket(b->task, kSmsBridgeStopCookie, b->socket);
      break;
    case NetMsg::Bound | kMsgFailed:
      if (!b->stopping) b->failure = FailureOf(arg2);
      NetClose(b->task, arg1, b->socket);
      break;
    case NetMsg::Cancelled:
      // The receive that waited is gone: what the socket holds is taken now.
      b->draining = true;
      DrainNext(b);
      break;
    case NetMsg::Cancelled | kMsgFailed:
      NetClose(b->task, arg1, b->socket);
      break;
    case NetMsg::Created | kMsgFailed:
      if (!b->stopping) b->failure = FailureOf(arg2);
      Closed(b);
      break;
    case NetMsg::Closed:
      // What the socket held unread when it closed.
      if (arg2) NotifySayStoppedFirst(false, static_cast<uint32_t>(arg2));
      Closed(b);
      break;
    case NetMsg::Closed | kMsgFailed:
      Closed(b);
      break;
    case NetMsg::Stopped:
      Finish(b);
      break;
    default:
      break;
  }
  return kOk;
}

void SmsBridgeStart(void* host) {
  TskmanTask* task = nullptr;
  if (TskmanCreateTask(&task, Mod::SmsBridge, SmsBridgeHandler, host) != kOk)
    HostStateChanged(host, HostState::BridgeDown, kSmsNoMemory);
}

void SmsBridgeSetPorts(uint16_t local, uint16_t peer) {
  if (local != 0) gLocalPort = local;
  if (peer != 0) gPeerPort = peer;
}

bool SmsBridgeSetAddress(const char* dotted) {
  if (!dotted) dotted = kSmsBridgeAddress;
  NetSockAddr check{};
  if (LibcStrLen(dotted) >= sizeof gAddress ||
      NetAddrFromText(dotted, kNetFamily, &check, kNetSockAddrSize) != kOk)
    return false;
  LibcStrCopy(gAddress, dotted);
  return true;
}

const char* SmsBridgeAddress() { return gAddress; }

uint16_t SmsBridgeLocalPort() { return gLocalPort; }
uint16_t SmsBridgePeerPort() { return gPeerPort; }

void SmsBridgeStop() {
  if (TskmanTask* task = TskmanFind(Mod::SmsBridge)) TskmanPost(task, SmsMsg::BridgeStop, 0, 0);
}

namespace {

// A datagram's message as the bridge's record holds it, read into room of
// the caller's (no engine memory): the address's bytes and the data.
struct Parsed {
  SmsReceived record;
  char address[0x100];
  uint8_t data[0x100];
};

// False when the datagram is no short message or does not hold what its
// head announces.
bool Parse(const NetBufChain* datagram, Parsed* out) {
  const uint32_t length = NetBufLength(datagram);
  uint8_t head[kSmsDatagramHead];
  if (NetBufRead(datagram, head, 0, kSmsDatagramHead) != kSmsDatagramHead) return false;
  if (head[0] != SmsType::Message) return false;
  const uint32_t a = head[2], h = head[3];
  if (kSmsDatagramHead + a > length) return false;
  const uint32_t bodyAt = kSmsDatagramHead + a;
  const uint32_t body = length - bodyAt;
  uint8_t first = 0;
  NetBufRead(datagram, &first, bodyAt, 1);

  enum class Form { Plain, Port, HeaderOnly, Unknown };
  Form form = Form::Plain;
  if (head[1] == SmsKind::Port) {
    if (body == 0)
      form = Form::Unknown;
    else
      form = first == 0 ? Form::Port : first == 1 ? Form::HeaderOnly : Form::Unknown;
  }
  // A port-addressed datagram's header (with the port, in the port form) lies
  // in its body; other kinds only pass the header length on.
  if (form != Form::Plain && h > body) return false;
  if (form == Form::Port && h < 2) return false;  // no room for the port
  uint32_t dataLength = form == Form::Port ? body - 2 : form == Form::Unknown ? length - a : body;
  if (dataLength > 0xFF) return false;  // more than a short message holds

  SmsReceived* record = &out->record;
  *record = SmsReceived{};
  record->origin = SmsOrigin::Bridge;
  record->address = out->address;
  record->data = out->data;
  LibcMemSet(out->address, 0, sizeof out->address);
  LibcMemSet(out->data, 0, sizeof out->data);
  NetBufRead(datagram, record->address, kSmsDatagramHead, a);
  record->addressLength = static_cast<uint8_t>(a);
  record->dataLength = static_cast<uint8_t>(dataLength);
  switch (form) {
    case Form::Plain:
      record->headerLength = static_cast<uint8_t>(h);
      NetBufRead(datagram, record->data, bodyAt, body);
      break;
    case Form::Port: {
      record->headerLength = static_cast<uint8_t>(h - 2);
      uint8_t port[2];
      NetBufRead(datagram, record->data, bodyAt, h - 2);
      NetBufRead(datagram, port, bodyAt + h - 2, 2);
      NetBufRead(datagram, record->data + h - 2, bodyAt + h, body - h);
      record->port = static_cast<uint16_t>(port[0] << 8 | port[1]);
      break;
    }
    case Form::HeaderOnly:
      record->headerLength = static_cast<uint8_t>(h);
      NetBufRead(datagram, record->data, bodyAt, h);
      break;
    case Form::Unknown:
      record->headerLength = static_cast<uint8_t>(h);
      break;
  }
  record->time = LibcTime(nullptr);
  record->type = SmsType::Message;
  record->kind = head[1];
  return true;
}

void SayLost(const NetBufChain* datagram) {
  Parsed parsed;
  if (Parse(datagram, &parsed)) SmsServiceSayLost(&parsed.record);
}

}  // namespace

SmsReceived* SmsBridgeDecode(const NetBufChain* datagram, bool* noMemory) {
  if (noMemory) *noMemory = false;
  Parsed parsed;
  if (!Parse(datagram, &parsed)) return nullptr;
  const SmsReceived& from = parsed.record;
  auto* record = static_cast<SmsReceived*>(
      MemAllocZero(sizeof(SmsReceived), kUseRecord, Mod::SmsBridge));
  if (record) {
    *record = from;
    record->address = static_cast<char*>(MemAllocZero(from.addressLength + 1u, Use::String, Mod::SmsBridge));
    record->data = static_cast<uint8_t*>(
        MemAllocZero(from.dataLength > 0 ? from.dataLength : 1u, Use::Data, Mod::SmsBridge));
  }
  if (!record || !record->address || !record->data) {
    if (record) SmsRelease(nullptr, record, 0);
    if (noMemory) *noMemory = true;
    return nullptr;
  }
  LibcMemCopy(record->address, from.address, from.addressLength);
  LibcMemCopy(record->data, from.data, from.dataLength);
  return record;
}

void SmsBridgeSend(SmsPort*, const SmsOutgoing* message, const char* peer, uint32_t dataOffset,
                   uint32_t dataLength, uint32_t headerOffset, uint32_t headerLength,
                   const uint8_t* portElement) {
  if (!message || message->type != SmsType::Message) return;
  SmsBridge* b = Bridge();
  if (!b || !b->bound || b->stopping) {
    SmsPostSendResult(ResultError(Mod::SmsBridge, Err::NotFound));
    return;
  }
  b->peer = NetSockAddr{};
  b->peer.port = NetSwap16(gPeerPort);
  if (Result r = NetAddrFromText(peer ? peer : "127.0.0.1", kNetFamily, &b->peer, kNetSockAddrSize);
      r != kOk) {
    SmsPostSendResult(r);
    return;
  }
  uint8_t header[0xFF];
  const uint32_t a = static_cast<uint32_t>(strnlen(message->destination, kSmsNumberSize - 1)) + 1;
  if (headerLength > sizeof header - 2 || dataLength > 0xFFFF ||
      NetBufRead(message->data, header, headerOffset, headerLength) != headerLength) {
    SmsPostSendResult(ResultError(Mod::SmsBridge, Err::BadArg));
    return;
  }
  const bool portForm = message->kind == SmsKind::Port && headerLength > 0 && header[0] == 0;
  uint8_t port[2] = {2, 3};
  if (portForm) {
    // The port element's ports go into the header: source at 1-2, destination at 7-8.
    const uint8_t source[2] = {portElement ? portElement[4] : uint8_t{1},
                               portElement ? portElement[5] : uint8_t{0}};
    if (portElement) {
      port[0] = portElement[2];
      port[1] = portElement[3];
    }
    for (uint32_t i : {1u, 2u})
      if (i < headerLength) header[i] = source[i - 1];
    for (uint32_t i : {7u, 8u})
      if (i < headerLength) header[i] = port[i - 7];
  }
  const uint32_t portBytes = portForm ? 2 : 0;
  const uint32_t total = kSmsDatagramHead + a + headerLength + portBytes + dataLength;
  NetBufChain* chain = NetBufAlloc(total);
  if (!chain) {
    SmsPostSendResult(kSmsNoMemory);
    return;
  }
  const uint8_t head[kSmsDatagramHead] = {static_cast<uint8_t>(message->type),
                                          static_cast<uint8_t>(message->kind),
                                          static_cast<uint8_t>(a),
                                          static_cast<uint8_t>(headerLength + portBytes)};
  uint32_t at = 0;
  at += NetBufWrite(chain, head, at, kSmsDatagramHead);
  at += NetBufWrite(chain, message->destination, at, a - 1);
  const uint8_t zero = 0;
  at += NetBufWrite(chain, &zero, at, 1);
  at += NetBufWrite(chain, header, at, headerLength);
  at += NetBufWrite(chain, port, at, portBytes);
  uint8_t piece[kNetBufPayload];
  for (uint32_t done = 0; done < dataLength;) {
    uint32_t n = dataLength - done < sizeof piece ? dataLength - done : sizeof piece;
    if (NetBufRead(message->data, piece, dataOffset + done, n) != n) {
      NetBufRelease(&chain);
      SmsPostSendResult(ResultError(Mod::SmsBridge, Err::BadArg));
      return;
    }
    at += NetBufWrite(chain, piece, at, n);
    done += n;
  }
  // A refusal comes back as the send's failure answer.
  NetSendTo(b->task, kSmsBridgeSendCookie, b->socket, chain, &b->peer, kNetSockAddrSize);
}
