// The socket layer's task, its sockets and their request queues.
#include "host/platform/sockets.h"
#include "kernel/libc.h"
#include "kernel/list.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netsockhost.h"

namespace {

constexpr uint32_t kPollMs = 50;
// The host's descriptors, kept outside the engine heap: an engine shut down
// without NetCleanup leaves its heap behind, but its sockets must still be
// closed when the layer starts again.
constexpr uint32_t kMaxSockets = 64;
int gDescriptors[kMaxSockets];
bool gDescriptorsReady = false;

// The largest UDP payload; a received datagram lands here before its chain
// is made.
uint8_t gDatagram[65536];

enum class Op : uint32_t { Recv, Send, Close };

struct NetRequest {
  ListNode link;
  Op op;
  TskmanTask* caller;
  uint32_t callerId;
  uintptr_t cookie;
  NetBufChain** chainOut;
  NetSockAddr* from;
  uint32_t* fromLength;
  NetBufChain* chain;  // a send's datagram, owned until sent or failed
  NetSockAddr to;
};

struct NetSocket {
  ListNode link;
  uint32_t handle;  // slot + 1
  int fd;
  int hostFamily;
  ListHead requests;
  // The last receive took a datagram: more may wait behind it. The socket's
  // buffer holds only so many, so a burst must not wait a poll for each.
  bool mayHoldMore;
  uint32_t dropped;  // the system's count of datagrams it dropped here, as told
  bool datagram;     // what waits unread at the close is counted
};

struct NetLayer {
  TskmanTask* task;
  TskmanTimer* timer;
  ListHead sockets;
};

NetLayer* gNet = nullptr;
TskmanTask* gNetTask = nullptr;

// The layer as long as its task is the engine's module-23 task; an engine
// that was shut down and started again has none (and its old heap must not
// be read).
NetLayer* Layer() {
  if (gNet && gNetTask && TskmanFind(Mod::Net) == gNetTask) return gNet;
  gNet = nullptr;
  gNetTask = nullptr;
  return nullptr;
}

void CloseStaleDescriptors() {
  if (!gDescriptorsReady) {
    for (int& fd : gDescriptors) fd = -1;
    gDescriptorsReady = true;
  }
  for (int& fd : gDescriptors)
    if (fd >= 0) {
      PlatformSockets().close(PlatformSockets().ctx, fd);
      fd = -1;
    }
}

// A task that was destroyed since it queued its request gets no answer.
void Answer(TskmanTask* caller, uint32_t callerId, uint32_t message, uintptr_t a1, uintptr_t a2) {
  if (caller && TskmanFind(callerId) == caller) TskmanPost(caller, message, a1, a2);
}
void AnswerNow(TskmanTask* caller, uint32_t message, uintptr_t a1, uintptr_t a2) {
  if (caller) TskmanPost(caller, message, a1, a2);
}

NetSocket* FindSocket(NetLayer* net, uintptr_t handle) {
  for (ListNode* n = ListFirst(&net->sockets); n; n = ListNext(n))
    if (reinterpret_cast<NetSocket*>(n)->handle == handle) return reinterpret_cast<NetSocket*>(n);
  return nullptr;
}

uint32_t AnswerOf(Op op) {
  switch (op) {
    case Op::Recv: return NetMsg::Received;
    case Op::Send: return NetMsg::Sent;
    case Op::Close: return NetMsg::Closed;
  }
  return 0;
}

void FreeRequest(NetRequest* request) {
  ListRemove(&request->link);
  NetBufRelease(&request->chain);
  MemFree(&request);
}

void FailRequest(NetRequest* request, Result error) {
  Answer(request->caller, request->callerId, AnswerOf(request->op) | kMsgFailed, request->cookie,
         error);
  FreeRequest(request);
}

bool AnyRequest(NetLayer* net) {
  for (ListNode* n = ListFirst(&net->sockets); n; n = ListNext(n))
    if (!ListIsEmpty(&reinterpret_cast<NetSocket*>(n)->requests)) return true;
  return false;
}

Result Enqueue(NetLayer* net, NetSocket* socket, NetRequest* request) {
  ListAppend(&socket->requests, &request->link);
  if (!net->timer) {
    if (Result r = TskmanStartTimer(&net->timer, net->task, 0, 1, kPollMs); r != kOk) {
      FreeRequest(request);
      return r;
    }
  }
  return kOk;
}

NetRequest* NewRequest(Op op, TskmanTask* caller, uintptr_t cookie) {
  auto* request =
      static_cast<NetRequest*>(MemAllocZero(sizeof(NetRequest), Use::Data, Mod::Net));
  if (request) {
    request->op = op;
    request->caller = caller;
    request->callerId = caller ? caller->id : 0;
    request->cookie = cookie;
  }
  return request;
}

NetRequest* FirstOf(NetSocket* socket, Op op) {
  for (ListNode* n = ListFirst(&socket->requests); n; n = ListNext(n))
    if (reinterpret_cast<NetRequest*>(n)->op == op) return reinterpret_cast<NetRequest*>(n);
  return nullptr;
}

void DestroySocket(NetSocket* socket) {
  PlatformSockets().close(PlatformSockets().ctx, socket->fd);
  gDescriptors[socket->handle - 1] = -1;
  ListRemove(&socket->link);
  MemFree(&socket);
}

// A receive served at once was never queued: it is answered where it stands.
void EndReceive(NetRequest* request, bool queued) {
  if (queued) FreeRequest(request);
}
void FailReceive(NetRequest* request, Result error, bool queued) {
  Answer(request->caller, request->callerId, NetMsg::Received | kMsgFailed, request->cookie, error);
  EndReceive(request, queued);
}

// One datagram for the first waiting receive; false when none was ready.
bool ServeReceive(NetSocket* socket, NetRequest* request, bool queued = true) {
  sockaddr_storage sender{};
  socklen_t senderLength = sizeof sender;
  const PlatformSocketOps& host = PlatformSockets();
  uint32_t dropped = socket->dropped;
  const long n = host.receiveFrom(host.ctx, socket->fd, gDatagram, sizeof gDatagram,
                                  reinterpret_cast<sockaddr*>(&sender), &senderLength, &dropped);
  // The count only grows (and wraps): one that went back is no news.
  const uint32_t more = dropped - socket->dropped;
  if (more != 0 && more < 0x80000000u) {
    socket->dropped = dropped;
    Answer(request->caller, request->callerId, NetMsg::Dropped, request->cookie, more);
  }
  if (n == kSocketWouldBlock) {
    socket->mayHoldMore = false;
    return false;
  }
  // A failing socket waits for the poll: it must not spin.
  socket->mayHoldMore = n >= 0;
  if (n < 0) {
    FailReceive(request, kNetSystem, queued);
    return true;
  }
  NetBufChain* chain = NetBufAlloc(static_cast<uint32_t>(n));
  if (!chain) {
    FailReceive(request, kNetNoMemory, queued);  // the datagram is lost
    return true;
  }
  NetBufWrite(chain, gDatagram, 0, static_cast<uint32_t>(n));
  *request->chainOut = chain;
  if (request->from) NetFromHost(sender, request->from);
  if (request->fromLength) *request->fromLength = kNetSockAddrSize;
  Answer(request->caller, request->callerId, NetMsg::Received, request->cookie,
         static_cast<uintptr_t>(n));
  EndReceive(request, queued);
  return true;
}

// Sends the first waiting datagram; false when the socket had no room.
bool ServeSend(NetSocket* socket, NetRequest* request) {
  sockaddr_storage to{};
  socklen_t toLength = 0;
  if (!NetToHost(request->to, socket->hostFamily, &to, &toLength)) {
    FailRequest(request, kNetBadArg);
    return true;
  }
  uint32_t length = NetBufLength(request->chain);
  if (length > sizeof gDatagram) {
    FailRequest(request, kNetBadArg);
    return true;
  }
  NetBufRead(request->chain, gDatagram, 0, length);
  const PlatformSocketOps& host = PlatformSockets();
  const long n = host.sendTo(host.ctx, socket->fd, gDatagram, length,
                             reinterpret_cast<sockaddr*>(&to), toLength);
  if (n == kSocketWouldBlock) return false;
  if (n < 0) {
    FailRequest(request, kNetSystem);
  } else {
    Answer(request->caller, request->callerId, NetMsg::Sent, request->cookie, 0);
    FreeRequest(request);
  }
  return true;
}

// Reads and drops up to `most` datagrams that wait, without the heap: how
// many went, and in *dropped the system's drops since the last told of.
uint32_t Discard(NetSocket* socket, uint32_t most, uint32_t* dropped) {
  *dropped = 0;
  const PlatformSocketOps& host = PlatformSockets();
  uint32_t gone = 0, count = socket->dropped;
  for (; gone < most; ++gone) {
    sockaddr_storage sender{};
    socklen_t senderLength = sizeof sender;
    if (host.receiveFrom(host.ctx, socket->fd, gDatagram, sizeof gDatagram,
                         reinterpret_cast<sockaddr*>(&sender), &senderLength, &count) < 0)
      break;
  }
  // The count only grows (and wraps): one that went back is no news.
  if (const uint32_t more = count - socket->dropped; more != 0 && more < 0x80000000u) {
    socket->dropped = count;
    *dropped = more;
  }
  return gone;
}

// Datagrams that wait unread at the close would go with the socket unseen:
// the close reads them away and tells their count to the owner to say.
constexpr uint32_t kCloseDiscardMost = 1u << 16;

void ServeClose(NetSocket* socket, NetRequest* close) {
  TskmanTask* caller = close->caller;
  uint32_t callerId = close->callerId;
  uintptr_t cookie = close->cookie;
  FreeRequest(close);
  while (ListNode* n = ListFirst(&socket->requests))
    FailRequest(reinterpret_cast<NetRequest*>(n), kNetCancelled);
  uint32_t dropped = 0;
  const uint32_t unread = socket->datagram ? Discard(socket, kCloseDiscardMost, &dropped) : 0;
  DestroySocket(socket);
  if (dropped) Answer(caller, callerId, NetMsg::Dropped, cookie, dropped);
  Answer(caller, callerId, NetMsg::Closed, cookie, unread);
}

// One pass over every socket: a poll without waiting, then what is ready.
void Poll(NetLayer* net) {
  SocketPollEntry entries[kMaxSockets];
  uint32_t count = 0;
  for (ListNode* n = ListFirst(&net->sockets); n && count < kMaxSockets; n = ListNext(n)) {
    auto* socket = reinterpret_cast<NetSocket*>(n);
    entries[count++] = {socket->fd, FirstOf(socket, Op::Recv) != nullptr,
                        FirstOf(socket, Op::Send) != nullptr, false, false};
  }
  const PlatformSocketOps& host = PlatformSockets();
  if (count) host.poll(host.ctx, entries, count);
  // The sockets are polled in list order, and serving one may close it, so
  // each is matched to its entry by descriptor before it is served.
  ListNode* n = ListFirst(&net->sockets);
  while (n) {
    auto* socket = reinterpret_cast<NetSocket*>(n);
    n = ListNext(n);
    const SocketPollEntry* entry = nullptr;
    for (uint32_t i = 0; i < count; ++i)
      if (entries[i].fd == socket->fd) entry = &entries[i];
    if (entry && entry->writable)
      while (NetRequest* send = FirstOf(socket, Op::Send))
        if (!ServeSend(socket, send)) break;
    // Only a poll that looked for datagrams learns that none waits. After a
    // run of datagrams a receive still asks: finding none, it learns what the
    // system dropped behind the last one.
    const bool runEnded = entry && entry->wantRead && !entry->readable && socket->mayHoldMore;
    if (entry && entry->wantRead && !entry->readable) socket->mayHoldMore = false;
    if ((entry && entry->readable) || runEnded)
      if (NetRequest* receive = FirstOf(socket, Op::Recv)) ServeReceive(socket, receive);
    if (NetRequest* close = FirstOf(socket, Op::Close)) ServeClose(socket, close);
  }
  if (!AnyRequest(net)) TskmanCancelTimer(&net->timer);
}

// A receive armed on a socket that may hold datagrams is served as soon as
// the engine has nothing else to do: at once when it keeps up, and never
// before what the last datagram set going is done, so a burst waits in the
// socket rather than in the engine's memory. Otherwise the timer's poll
// finds the next one.
void ServeWhenIdle(NetLayer* net) {
  bool any = false;
  for (ListNode* n = ListFirst(&net->sockets); n && !any; n = ListNext(n)) {
    auto* socket = reinterpret_cast<NetSocket*>(n);
    any = socket->mayHoldMore && FirstOf(socket, Op::Recv);
  }
  TskmanSetIdle(net->task, any);
}

Result NetTaskHandler(void* context, uint32_t message, uintptr_t, uintptr_t) {
  auto* net = static_cast<NetLayer*>(context);
  if ((message == TskMsg::Timer || message == TskMsg::Idle) && net == Layer()) {
    Poll(net);
    ServeWhenIdle(net);
  }
  return kOk;
}

int OpenHostSocket(uint32_t type, int* hostFamily) {
  const PlatformSocketOps& host = PlatformSockets();
  return host.open(host.ctx, type == kNetStream, hostFamily);
}

}  // namespace

Result NetStartup(TskmanTask* requester, uintptr_t) {
  if (Layer()) {
    AnswerNow(requester, NetMsg::Started, 0, 0);
    return kOk;
  }
  CloseStaleDescriptors();
  auto* net = static_cast<NetLayer*>(MemAllocZero(sizeof(NetLayer), Use::Context, Mod::Net));
  if (!net) return kNetNoMemory;
  ListInit(&net->sockets);
  if (TskmanCreateTaskEx(&net->task, Mod::Net, NetTaskHandler, net, false) != kOk) {
    MemFree(&net);
    return kNetNoMemory;
  }
  gNet = net;
  gNetTask = net->task;
  AnswerNow(requester, NetMsg::Started, 0, 0);
  return kOk;
}

void NetCleanup(TskmanTask* requester, uintptr_t) {
  if (NetLayer* net = Layer()) {
    while (ListNode* n = ListFirst(&net->sockets)) {
      auto* socket = reinterpret_cast<NetSocket*>(n);
      while (ListNode* r = ListFirst(&socket->requests)) FreeRequest(reinterpret_cast<NetRequest*>(r));
      DestroySocket(socket);
    }
    TskmanCancelTimer(&net->timer);
    TskmanDestroyTask(net->task);
    MemFree(&net);
    gNet = nullptr;
    gNetTask = nullptr;
  }
  AnswerNow(requester, NetMsg::Stopped, 0, 0);
}

Result NetSocketCreate(TskmanTask* caller, uintptr_t cookie, uint32_t family, uint32_t type,
                       uint32_t protocol) {
  constexpr uint32_t kFailed = NetMsg::Created | kMsgFailed;
  NetLayer* net = Layer();
  Result error = kOk;
  if (!net) error = kNetNotStarted;
  else if (family != kNetFamily) error = kNetBadFamily;
  else if (!((type == kNetDatagram && (protocol == kNetUdp || protocol == 0)) ||
             (type == kNetStream && (protocol == kNetTcp || protocol == 0))))
    error = kNetBadArg;
  uint32_t slot = 0;
  while (error == kOk && slot < kMaxSockets && gDescriptors[slot] >= 0) ++slot;
  if (error == kOk && slot == kMaxSockets) error = kNetTooMany;
  auto* socket = error == kOk ? static_cast<NetSocket*>(
                                    MemAllocZero(sizeof(NetSocket), Use::Data, Mod::Net))
                              : nullptr;
  if (error == kOk && !socket) error = kNetNoMemory;
  if (error == kOk) {
    socket->fd = OpenHostSocket(type, &socket->hostFamily);
    socket->datagram = type == kNetDatagram;
    if (socket->fd < 0) {
      MemFree(&socket);
      error = kNetSystem;
    }
  }
  if (error != kOk) {
    AnswerNow(caller, kFailed, cookie, error);
    return error;
  }
  socket->handle = slot + 1;
  gDescriptors[slot] = socket->fd;
  ListInit(&socket->requests);
  ListAppend(&net->sockets, &socket->link);
  AnswerNow(caller, NetMsg::Created, cookie, socket->handle);
  return kOk;
}

Result NetBind(TskmanTask* caller, uintptr_t cookie, uintptr_t handle, const NetSockAddr* address,
               uint32_t addressLength) {
  constexpr uint32_t kFailed = NetMsg::Bound | kMsgFailed;
  NetLayer* net = Layer();
  NetSocket* socket = net ? FindSocket(net, handle) : nullptr;
  sockaddr_storage local{};
  socklen_t localLength = 0;
  Result error = kOk;
  if (!net) error = kNetNotStarted;
  else if (!socket) error = kNetNoSocket;
  else if (!address || addressLength < kNetSockAddrSize) error = kNetBadArg;
  else if (address->family != kNetFamily) error = kNetBadFamily;
  else if (!NetToHost(*address, socket->hostFamily, &local, &localLength)) error = kNetBadArg;
  else if (PlatformSockets().bind(PlatformSockets().ctx, socket->fd,
                                   reinterpret_cast<sockaddr*>(&local), localLength) != 0)
    error = kNetSystem;
  if (error != kOk) {
    AnswerNow(caller, kFailed, cookie, error);
    return error;
  }
  AnswerNow(caller, NetMsg::Bound, cookie, 0);
  return kOk;
}

Result NetRecvFrom(TskmanTask* caller, uintptr_t cookie, uintptr_t handle, NetBufChain** chain,
                   uint32_t flags, NetSockAddr* from, uint32_t* fromLength) {
  constexpr uint32_t kFailed = NetMsg::Received | kMsgFailed;
  NetLayer* net = Layer();
  NetSocket* socket = net ? FindSocket(net, handle) : nullptr;
  Result error = kOk;
  if (!net) error = kNetNotStarted;
  else if (!socket) error = kNetNoSocket;
  else if (!chain || (fromLength && from && *fromLength < kNetSockAddrSize)) error = kNetBadArg;
  if (error == kOk && (flags & kNetRecvNoWait)) {
    // Served at once, so asked without the heap: each datagram that waits
    // is read, and one the heap cannot take is answered as lost, however
    // full memory is.
    NetRequest now{};
    now.op = Op::Recv;
    now.caller = caller;
    now.callerId = caller ? caller->id : 0;
    now.cookie = cookie;
    now.chainOut = chain;
    now.from = from;
    now.fromLength = fromLength;
    if (!ServeReceive(socket, &now, false)) FailReceive(&now, kNetEmpty, false);
    return kOk;
  }
  NetRequest* request = error == kOk ? NewRequest(Op::Recv, caller, cookie) : nullptr;
  if (error == kOk && !request) error = kNetNoMemory;
  if (error == kOk) {
    request->chainOut = chain;
    request->from = from;
    request->fromLength = fromLength;
    error = Enqueue(net, socket, request);
    if (error == kOk && socket->mayHoldMore) ServeWhenIdle(net);
  }
  if (error != kOk) AnswerNow(caller, kFailed, cookie, error);
  return error;
}


Result NetSendTo(TskmanTask* caller, uintptr_t cookie, uintptr_t handle, NetBufChain* chain,
                 const NetSockAddr* address, uint32_t addressLength) {
  constexpr uint32_t kFailed = NetMsg::Sent | kMsgFailed;
  NetLayer* net = Layer();
  NetSocket* socket = net ? FindSocket(net, handle) : nullptr;
  Result error = kOk;
  if (!net) error = kNetNotStarted;
  else if (!socket) error = kNetNoSocket;
  else if (!chain || !address || addressLength < kNetSockAddrSize) error = kNetBadArg;
  else if (address->family != kNetFamily) error = kNetBadFamily;
  NetRequest* request = error == kOk ? NewRequest(Op::Send, caller, cookie) : nullptr;
  if (error == kOk && !request) error = kNetNoMemory;
  if (error != kOk) {
    NetBufRelease(&chain);
    AnswerNow(caller, kFailed, cookie, error);
    return error;
  }
  request->chain = chain;
  LibcMemCopy(&request->to, address, kNetSockAddrSize);
  error = Enqueue(net, socket, request);
  if (error != kOk) AnswerNow(caller, kFailed, cookie, error);
  return error;
}

Result NetCancelSocket(TskmanTask* caller, uintptr_t cookie, uintptr_t handle) {
  NetLayer* net = Layer();
  NetSocket* socket = net ? FindSocket(net, handle) : nullptr;
  if (!socket) {
    Result error = net ? kNetNoSocket : kNetNotStarted;
    AnswerNow(caller, NetMsg::Cancelled | kMsgFailed, cookie, error);
    return error;
  }
  while (ListNode* n = ListFirst(&socket->requests))
    FailRequest(reinterpret_cast<NetRequest*>(n), kNetCancelled);
  AnswerNow(caller, NetMsg::Cancelled, cookie, 0);
  return kOk;
}

Result NetClose(TskmanTask* caller, uintptr_t cookie, uintptr_t handle) {
  constexpr uint32_t kFailed = NetMsg::Closed | kMsgFailed;
  NetLayer* net = Layer();
  NetSocket* socket = net ? FindSocket(net, handle) : nullptr;
  Result error = kOk;
  if (!net) error = kNetNotStarted;
  else if (!socket || FirstOf(socket, Op::Close)) error = kNetNoSocket;
  NetRequest* request = error == kOk ? NewRequest(Op::Close, caller, cookie) : nullptr;
  if (error == kOk && !request) error = kNetNoMemory;
  if (error == kOk) error = Enqueue(net, socket, request);
  if (error != kOk) AnswerNow(caller, kFailed, cookie, error);
  return error;
}
