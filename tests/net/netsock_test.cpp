// The socket layer over loopback: its start and stop, datagrams both ways
// with the address translation, cancelling, closing, and refusals.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "host/platform/sockets.h"
#include "kernel/heap.h"
#include "net/netsock.h"
#include "net/netsockhost.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr uintptr_t kCookie = 0x77;

// A plain loopback UDP socket of the test, on an ephemeral port.
struct Peer {
  int fd = -1;
  uint16_t port = 0;
  Peer() {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    timeval wait{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~Peer() { ::close(fd); }
  std::string Receive(uint16_t* from) {
    char buffer[2048];
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ssize_t got = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&a), &n);
    if (from) *from = ntohs(a.sin_port);
    return got < 0 ? std::string("<none>") : std::string(buffer, static_cast<size_t>(got));
  }
  void SendTo(uint16_t to, const std::string& bytes) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(to);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
};

class NetSockTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    user = std::make_unique<Recorder>(97);
  }
  void TearDown() override {
    NetCleanup(nullptr, 0);
    user.reset();
    EngineFixture::TearDown();
  }

  // Ticks and pumps until the user task received the message (or 3 s).
  const Received* WaitFor(uint32_t message) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
      Pump();
      for (const Received& r : user->log)
        if (r.message == message) return &r;
      if (std::chrono::steady_clock::now() > deadline) return nullptr;
      Tick();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  uintptr_t OpenBound() {
    EXPECT_EQ(NetStartup(user->task(), 0), kOk);
    NetSocketCreate(user->task(), kCookie, kNetFamily, kNetDatagram, kNetUdp);
    const Received* created = WaitFor(NetMsg::Created);
    EXPECT_NE(created, nullptr);
    if (!created) return 0;
    uintptr_t socket = created->arg2;
    NetSockAddr any{};
    any.family = kNetFamily;
    NetBind(user->task(), kCookie, socket, &any, kNetSockAddrSize);
    EXPECT_NE(WaitFor(NetMsg::Bound), nullptr);
    return socket;
  }

  NetSockAddr Loopback(uint16_t port) {
    NetSockAddr a{};
    a.port = NetSwap16(port);
    EXPECT_EQ(NetAddrFromText("127.0.0.1", kNetFamily, &a, kNetSockAddrSize), kOk);
    return a;
  }

  // The engine's socket greets the peer, so the peer learns its port, and
  // the peer answers with "one" and "two", which wait in the socket.
  void TwoWaiting(uintptr_t socket, Peer& peer, uint16_t* enginePort) {
    NetBufChain* out = NetBufAlloc(2);
    NetBufWrite(out, "hi", 0, 2);
    const NetSockAddr to = Loopback(peer.port);
    ASSERT_EQ(NetSendTo(user->task(), kCookie, socket, out, &to, kNetSockAddrSize), kOk);
    ASSERT_NE(WaitFor(NetMsg::Sent), nullptr);
    ASSERT_EQ(peer.Receive(enginePort), "hi");
    peer.SendTo(*enginePort, "one");
    peer.SendTo(*enginePort, "two");
  }

  // Whether the receive of this cookie has been answered with a datagram.
  bool ReceivedFor(uintptr_t cookie) const {
    for (const Received& r : user->log)
      if (r.message == NetMsg::Received && r.arg1 == cookie) return true;
    return false;
  }

  std::unique_ptr<Recorder> user;
};

TEST(NetAddrTest, DottedTextBecomesAnIpv4MappedAddressAndKeepsThePort) {
  NetSockAddr a{};
  a.port = 0x1234;
  ASSERT_EQ(NetAddrFromText("192.168.0.255", kNetFamily, &a, kNetSockAddrSize), kOk);
  const uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168, 0, 255};
  EXPECT_EQ(std::memcmp(a.address, mapped, 16), 0);
  EXPECT_EQ(a.family, kNetFamily);
  EXPECT_EQ(a.port, 0x1234);
}

TEST(NetAddrTest, RefusesWhatIsNoDottedAddress) {
  NetSockAddr a{};
  for (const char* text : {"", "1.2.3", "1.2.3.4.5", "256.0.0.1", "1.2.3.4x", "1..2.3", "0001.2.3.4",
                           " 1.2.3.4", "a.b.c.d"})
    EXPECT_EQ(NetAddrFromText(text, kNetFamily, &a, kNetSockAddrSize), kNetBadText) << text;
  EXPECT_EQ(NetAddrFromText("1.2.3.4", 2, &a, kNetSockAddrSize), kNetBadFamily);
  EXPECT_EQ(NetAddrFromText("1.2.3.4", kNetFamily, &a, 16), kNetBadArg);
  EXPECT_EQ(NetAddrFromText(nullptr, kNetFamily, &a, kNetSockAddrSize), kNetBadArg);
  EXPECT_EQ(NetSwap16(0x1234), 0x3412);
}

// The engine's one address layout against the host's families: an IPv6
// host takes every address whole; an IPv4-only host takes mapped addresses
// and the any address, and refuses true IPv6 ones and other families.
TEST(NetAddrTest, AddressesCrossToTheHostsFamilyAndBack) {
  struct Row {
    const char* name;
    uint16_t family;
    int hostFamily;
    uint8_t address[16];
    bool crosses;
  };
  const Row rows[] = {
      {"mapped_v6", kNetFamily, AF_INET6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 10, 1, 2, 3}, true},
      {"mapped_v4", kNetFamily, AF_INET, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 10, 1, 2, 3}, true},
      {"any_v4", kNetFamily, AF_INET, {}, true},
      {"true_v6_on_v4", kNetFamily, AF_INET, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, false},
      {"true_v6", kNetFamily, AF_INET6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, true},
      {"other_family", 2, AF_INET6, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    NetSockAddr in{};
    in.family = row.family;
    in.port = NetSwap16(8080);
    std::memcpy(in.address, row.address, 16);
    if (row.hostFamily == AF_INET6) {
      in.flowInfo = 7;
      in.scopeId = 3;
    }
    sockaddr_storage host{};
    socklen_t length = 0;
    ASSERT_EQ(NetToHost(in, row.hostFamily, &host, &length), row.crosses);
    if (!row.crosses) continue;
    EXPECT_EQ(host.ss_family, row.hostFamily);
    EXPECT_EQ(length, row.hostFamily == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    NetSockAddr back{};
    ASSERT_TRUE(NetFromHost(host, &back));
    EXPECT_EQ(back.family, kNetFamily);
    EXPECT_EQ(back.port, in.port);
    EXPECT_EQ(back.flowInfo, in.flowInfo);
    EXPECT_EQ(back.scopeId, in.scopeId);
    // The any address comes back from an IPv4 host as the mapped any address.
    uint8_t want[16];
    std::memcpy(want, row.address, 16);
    if (row.hostFamily == AF_INET) want[10] = want[11] = 0xFF;
    EXPECT_EQ(std::memcmp(back.address, want, 16), 0);
  }
  sockaddr_storage local{};
  local.ss_family = AF_UNIX;
  NetSockAddr out{};
  EXPECT_FALSE(NetFromHost(local, &out));
}

TEST_F(NetSockTest, StartupAndCleanupAnswerTheRequesterAndOwnTheirTask) {
  ASSERT_EQ(NetStartup(user->task(), 0), kOk);
  Pump();
  EXPECT_EQ(user->Messages(), std::vector<uint32_t>{NetMsg::Started});
  EXPECT_NE(TskmanFind(Mod::Net), nullptr);
  NetCleanup(user->task(), 0);
  Pump();
  EXPECT_EQ(user->Messages(), (std::vector<uint32_t>{NetMsg::Started, NetMsg::Stopped}));
  EXPECT_EQ(TskmanFind(Mod::Net), nullptr);
}

TEST_F(NetSockTest, WithoutTheLayerASocketIsRefusedByItsFailureEvent) {
  EXPECT_EQ(NetSocketCreate(user->task(), kCookie, kNetFamily, kNetDatagram, kNetUdp),
            kNetNotStarted);
  Pump();
  ASSERT_EQ(user->log.size(), 2u);
  EXPECT_EQ(user->log[1], (Received{NetMsg::Created | kMsgFailed, kCookie, kNetNotStarted}));
}

TEST_F(NetSockTest, DatagramsGoBothWaysWithTheSenderTranslated) {
  uintptr_t socket = OpenBound();
  Peer peer;
  NetBufChain* out = NetBufAlloc(5);
  NetBufWrite(out, "hello", 0, 5);
  NetSockAddr to = Loopback(peer.port);
  ASSERT_EQ(NetSendTo(user->task(), kCookie, socket, out, &to, kNetSockAddrSize), kOk);
  ASSERT_NE(WaitFor(NetMsg::Sent), nullptr);
  uint16_t enginePort = 0;
  EXPECT_EQ(peer.Receive(&enginePort), "hello");

  NetBufChain* in = nullptr;
  NetSockAddr from{};
  uint32_t fromLength = kNetSockAddrSize;
  ASSERT_EQ(NetRecvFrom(user->task(), kCookie, socket, &in, 0, &from, &fromLength), kOk);
  std::string reply(300, 'x');
  peer.SendTo(enginePort, reply);
  const Received* got = WaitFor(NetMsg::Received);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->arg1, kCookie);
  EXPECT_EQ(got->arg2, 300u);
  ASSERT_NE(in, nullptr);
  std::string back(300, 0);
  EXPECT_EQ(NetBufRead(in, back.data(), 0, 300), 300u);
  EXPECT_EQ(back, reply);
  NetBufRelease(&in);
  EXPECT_EQ(fromLength, kNetSockAddrSize);
  NetSockAddr expected = Loopback(peer.port);
  EXPECT_EQ(std::memcmp(&from, &expected, kNetSockAddrSize), 0);
  // Nothing waits any more: the poll timer, and with it the tick, stops.
  EXPECT_FALSE(platform->tickRunning);
}

TEST_F(NetSockTest, CancelFailsEveryQueuedRequestThenAnswers) {
  uintptr_t socket = OpenBound();
  NetBufChain* in = nullptr;
  NetRecvFrom(user->task(), 1, socket, &in, 0, nullptr, nullptr);
  NetRecvFrom(user->task(), 2, socket, &in, 0, nullptr, nullptr);
  user->log.clear();
  ASSERT_EQ(NetCancelSocket(user->task(), 3, socket), kOk);
  Pump();
  EXPECT_EQ(user->log, (std::vector<Received>{{NetMsg::Received | kMsgFailed, 1, kNetCancelled},
                                              {NetMsg::Received | kMsgFailed, 2, kNetCancelled},
                                              {NetMsg::Cancelled, 3, 0}}));
  EXPECT_EQ(in, nullptr);
}

TEST_F(NetSockTest, ACloseFreesThePortAndForgetsTheHandle) {
  uintptr_t socket = OpenBound();
  const uint32_t heapWithSocket = HeapGetStats().freeBytes;
  ASSERT_EQ(NetClose(user->task(), 4, socket), kOk);
  const Received* closed = WaitFor(NetMsg::Closed);
  ASSERT_NE(closed, nullptr);
  EXPECT_EQ(closed->arg1, 4u);
  EXPECT_GT(HeapGetStats().freeBytes, heapWithSocket);
  user->log.clear();
  NetClose(user->task(), 5, socket);
  NetCancelSocket(user->task(), 6, socket);
  Pump();
  EXPECT_EQ(user->log, (std::vector<Received>{{NetMsg::Closed | kMsgFailed, 5, kNetNoSocket},
                                              {NetMsg::Cancelled | kMsgFailed, 6, kNetNoSocket}}));
}

// What waits unread when the socket closes goes with it, counted for its
// owner to tell.
TEST_F(NetSockTest, ACloseCountsTheDatagramsThatWaitedUnread) {
  uintptr_t socket = OpenBound();
  Peer peer;
  uint16_t enginePort = 0;
  TwoWaiting(socket, peer, &enginePort);
  user->log.clear();
  ASSERT_EQ(NetClose(user->task(), 7, socket), kOk);
  const Received* closed = WaitFor(NetMsg::Closed);
  ASSERT_NE(closed, nullptr);
  EXPECT_EQ(closed->arg1, 7u);
  EXPECT_EQ(closed->arg2, 2u);
}

TEST_F(NetSockTest, ARefusedSendStillConsumesItsChain) {
  uintptr_t socket = OpenBound();
  const uint32_t before = HeapGetStats().freeBytes;
  NetBufChain* out = NetBufAlloc(10);
  NetSockAddr to = Loopback(9);
  to.family = 2;
  EXPECT_EQ(NetSendTo(user->task(), kCookie, socket, out, &to, kNetSockAddrSize), kNetBadFamily);
  Pump();
  EXPECT_EQ(user->log.back(), (Received{NetMsg::Sent | kMsgFailed, kCookie, kNetBadFamily}));
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

TEST_F(NetSockTest, BindingAPortInUseFails) {
  Peer taken;
  uintptr_t socket = 0;
  ASSERT_EQ(NetStartup(user->task(), 0), kOk);
  NetSocketCreate(user->task(), kCookie, kNetFamily, kNetDatagram, kNetUdp);
  Pump();
  socket = user->log.back().arg2;
  NetSockAddr at = Loopback(taken.port);
  EXPECT_EQ(NetBind(user->task(), kCookie, socket, &at, kNetSockAddrSize), kNetSystem);
  Pump();
  EXPECT_EQ(user->log.back(), (Received{NetMsg::Bound | kMsgFailed, kCookie, kNetSystem}));
}

// Every call refuses what it cannot serve, synchronously and with the
// failure form of its answer carrying the same code; nothing stays queued.
TEST_F(NetSockTest, EachCallRefusesWhatItCannotServeWithItsFailureAnswer) {
  const uintptr_t socket = OpenBound();
  ASSERT_NE(socket, 0u);
  TskmanTask* t = user->task();
  const NetSockAddr to = Loopback(9);
  NetSockAddr foreign = to;
  foreign.family = 2;
  NetBufChain* out = nullptr;
  NetSockAddr from{};
  uint32_t shortLength = 8;
  constexpr uintptr_t kNone = 0xBAD;
  const auto chain = [] { return NetBufAlloc(4); };
  struct Row {
    const char* name;
    std::function<Result()> call;
    uint32_t answer;
    Result code;
  };
  const Row rows[] = {
      {"create_family", [&] { return NetSocketCreate(t, kCookie, 2, kNetDatagram, kNetUdp); },
       NetMsg::Created, kNetBadFamily},
      {"create_udp_stream", [&] { return NetSocketCreate(t, kCookie, kNetFamily, kNetStream, kNetUdp); },
       NetMsg::Created, kNetBadArg},
      {"create_tcp_datagram",
       [&] { return NetSocketCreate(t, kCookie, kNetFamily, kNetDatagram, kNetTcp); },
       NetMsg::Created, kNetBadArg},
      {"create_type", [&] { return NetSocketCreate(t, kCookie, kNetFamily, 9, 0); }, NetMsg::Created,
       kNetBadArg},
      {"bind_no_socket", [&] { return NetBind(t, kCookie, kNone, &to, kNetSockAddrSize); },
       NetMsg::Bound, kNetNoSocket},
      {"bind_no_address", [&] { return NetBind(t, kCookie, socket, nullptr, kNetSockAddrSize); },
       NetMsg::Bound, kNetBadArg},
      {"bind_short", [&] { return NetBind(t, kCookie, socket, &to, 8); }, NetMsg::Bound, kNetBadArg},
      {"bind_family", [&] { return NetBind(t, kCookie, socket, &foreign, kNetSockAddrSize); },
       NetMsg::Bound, kNetBadFamily},
      {"recv_no_socket", [&] { return NetRecvFrom(t, kCookie, kNone, &out, 0, nullptr, nullptr); },
       NetMsg::Received, kNetNoSocket},
      {"recv_no_chain", [&] { return NetRecvFrom(t, kCookie, socket, nullptr, 0, nullptr, nullptr); },
       NetMsg::Received, kNetBadArg},
      {"recv_short_from", [&] { return NetRecvFrom(t, kCookie, socket, &out, 0, &from, &shortLength); },
       NetMsg::Received, kNetBadArg},
      {"send_no_socket", [&] { return NetSendTo(t, kCookie, kNone, chain(), &to, kNetSockAddrSize); },
       NetMsg::Sent, kNetNoSocket},
      {"send_no_chain", [&] { return NetSendTo(t, kCookie, socket, nullptr, &to, kNetSockAddrSize); },
       NetMsg::Sent, kNetBadArg},
      {"send_no_address", [&] { return NetSendTo(t, kCookie, socket, chain(), nullptr, kNetSockAddrSize); },
       NetMsg::Sent, kNetBadArg},
      {"send_short", [&] { return NetSendTo(t, kCookie, socket, chain(), &to, 4); }, NetMsg::Sent,
       kNetBadArg},
      {"send_family", [&] { return NetSendTo(t, kCookie, socket, chain(), &foreign, kNetSockAddrSize); },
       NetMsg::Sent, kNetBadFamily},
      {"cancel_no_socket", [&] { return NetCancelSocket(t, kCookie, kNone); }, NetMsg::Cancelled,
       kNetNoSocket},
      {"close_no_socket", [&] { return NetClose(t, kCookie, kNone); }, NetMsg::Closed, kNetNoSocket},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    user->log.clear();
    EXPECT_EQ(row.call(), row.code);
    Pump();
    ASSERT_EQ(user->log.size(), 1u);
    EXPECT_EQ(user->log[0], (Received{row.answer | kMsgFailed, kCookie, static_cast<uintptr_t>(row.code)}));
  }
  EXPECT_EQ(out, nullptr);
}

// A datagram larger than one datagram can be is refused when its turn comes.
TEST_F(NetSockTest, ADatagramPastTheLargestSizeFailsWhenItsTurnComes) {
  const uintptr_t socket = OpenBound();
  ASSERT_NE(socket, 0u);
  const std::string big(65537, 'x');
  NetBufChain* chain = NetBufAlloc(static_cast<uint32_t>(big.size()));
  ASSERT_NE(chain, nullptr);
  NetBufWrite(chain, big.data(), 0, static_cast<uint32_t>(big.size()));
  const NetSockAddr to = Loopback(9);
  ASSERT_EQ(NetSendTo(user->task(), kCookie, socket, chain, &to, kNetSockAddrSize), kOk);
  const Received* failed = WaitFor(NetMsg::Sent | kMsgFailed);
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->arg2, static_cast<uintptr_t>(kNetBadArg));
}

// The host's sockets refusing a call: the refusal comes back to the
// requester as the failure form of its answer, nothing is left waiting.
struct FailingSockets {
  enum Call { Open, Send } failing;
  const PlatformSocketOps* posix;
  static const FailingSockets* Self(void* ctx) { return static_cast<FailingSockets*>(ctx); }
  PlatformSocketOps ops{
      this,
      [](void* ctx, bool stream, int* family) {
        return Self(ctx)->failing == Open ? -1 : Self(ctx)->posix->open(nullptr, stream, family);
      },
      [](void* ctx, int fd, const sockaddr* a, socklen_t n) {
        return Self(ctx)->posix->bind(nullptr, fd, a, n);
      },
      [](void* ctx, int fd, void* b, size_t n, sockaddr* from, socklen_t* fromLength,
         uint32_t* dropped) {
        return Self(ctx)->posix->receiveFrom(nullptr, fd, b, n, from, fromLength, dropped);
      },
      [](void* ctx, int fd, const void* b, size_t n, const sockaddr* to, socklen_t toLength) {
        return Self(ctx)->failing == Send ? kSocketFailed
                                          : Self(ctx)->posix->sendTo(nullptr, fd, b, n, to, toLength);
      },
      [](void* ctx, int fd) { Self(ctx)->posix->close(nullptr, fd); },
      [](void* ctx, SocketPollEntry* e, uint32_t n) { Self(ctx)->posix->poll(nullptr, e, n); },
  };
};

TEST_F(NetSockTest, RefusalsOfTheHostsSocketsComeBackAsFailureAnswers) {
  const PlatformSocketOps* posix = &PlatformSockets();
  FailingSockets open{FailingSockets::Open, posix};
  PlatformSocketsInstall(&open.ops);
  ASSERT_EQ(NetStartup(user->task(), 0), kOk);
  NetSocketCreate(user->task(), kCookie, kNetFamily, kNetDatagram, kNetUdp);
  EXPECT_NE(WaitFor(NetMsg::Created | kMsgFailed), nullptr);
  NetCleanup(nullptr, 0);
  user->log.clear();

  FailingSockets send{FailingSockets::Send, posix};
  PlatformSocketsInstall(&send.ops);
  Peer peer;
  const uintptr_t socket = OpenBound();
  ASSERT_NE(socket, 0u);
  NetBufChain* chain = NetBufAlloc(3);
  NetBufWrite(chain, "abc", 0, 3);
  const NetSockAddr to = Loopback(peer.port);
  NetSendTo(user->task(), kCookie, socket, chain, &to, kNetSockAddrSize);
  const Received* failed = WaitFor(NetMsg::Sent | kMsgFailed);
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->arg2, static_cast<uintptr_t>(kNetSystem));
  PlatformSocketsInstall(nullptr);
}

// The host's sockets as they are, with the descriptor of the last one the
// layer opened kept, so that a test can see what waits in it.
struct WatchedSockets {
  const PlatformSocketOps* posix = &PlatformSockets();
  int opened = -1;
  PlatformSocketOps ops{};
  WatchedSockets() {
    ops = *posix;
    ops.ctx = this;
    ops.open = [](void* ctx, bool stream, int* family) {
      auto* self = static_cast<WatchedSockets*>(ctx);
      self->opened = self->posix->open(self->posix->ctx, stream, family);
      return self->opened;
    };
    PlatformSocketsInstall(&ops);
  }
  ~WatchedSockets() { PlatformSocketsInstall(nullptr); }
  // Whether a datagram waits, after up to 5 s for one to come.
  bool Readable() const {
    pollfd entry{opened, POLLIN, 0};
    return ::poll(&entry, 1, 5000) == 1;
  }
};

// A receive armed after one that took a datagram is served without waiting
// for the poll, for more may wait behind it, but only once the engine has
// done everything else queued: a burst waits in the socket, not in the
// engine's memory. One armed when the socket was found empty waits for the
// poll, and the layer does not spin meanwhile.
TEST_F(NetSockTest, AReceiveIsServedAtOnceOnlyWhileDatagramsMayWait) {
  WatchedSockets sockets;
  const uintptr_t socket = OpenBound();
  ASSERT_GE(sockets.opened, 0);
  Peer peer;
  uint16_t enginePort = 0;
  ASSERT_NO_FATAL_FAILURE(TwoWaiting(socket, peer, &enginePort));
  NetBufChain* in[4] = {};
  ASSERT_EQ(NetRecvFrom(user->task(), 1, socket, &in[1], 0, nullptr, nullptr), kOk);
  ASSERT_NE(WaitFor(NetMsg::Received), nullptr);
  ASSERT_TRUE(sockets.Readable());
  // Work the first datagram set going comes first: a chain of events, as
  // a routed message makes.
  constexpr uint32_t kWork = 0x7001;
  TskmanPost(user->task(), kWork, 3, 0);
  ASSERT_EQ(NetRecvFrom(user->task(), 2, socket, &in[2], 0, nullptr, nullptr), kOk);
  for (int link = 2; link >= 0; --link) {
    Pump();
    EXPECT_FALSE(ReceivedFor(2)) << "served while the engine had work queued";
    if (link) TskmanPost(user->task(), kWork, static_cast<uintptr_t>(link), 0);
  }
  Settle();
  ASSERT_TRUE(ReceivedFor(2)) << "the second datagram waited for a poll";
  std::string two(3, 0);
  NetBufRead(in[2], two.data(), 0, 3);
  EXPECT_EQ(two, "two");

  // Nothing waits: the third receive is looked at once, then left to the
  // poll, and the engine falls quiet.
  ASSERT_EQ(NetRecvFrom(user->task(), 3, socket, &in[3], 0, nullptr, nullptr), kOk);
  EXPECT_LT(Settle(), 10);
  EXPECT_EQ(Settle(), 0);
  peer.SendTo(enginePort, "three");
  ASSERT_TRUE(sockets.Readable());
  Settle();
  EXPECT_FALSE(ReceivedFor(3));
  Tick();
  Settle();
  EXPECT_TRUE(ReceivedFor(3));
  for (NetBufChain*& chain : in) NetBufRelease(&chain);
}

// A poll that comes while no receive is armed learns nothing of what waits
// in the socket: the receive armed after it, behind one that took a
// datagram, is still served as soon as the engine is idle, not a poll later.
// (The poll runs here because another socket's receive keeps it going.)
TEST_F(NetSockTest, AReceiveArmedAfterAPollThatWantedNothingIsStillServedAtOnce) {
  WatchedSockets sockets;
  const uintptr_t other = OpenBound();
  NetBufChain* idle = nullptr;
  ASSERT_EQ(NetRecvFrom(user->task(), 9, other, &idle, 0, nullptr, nullptr), kOk);
  user->log.clear();
  const uintptr_t socket = OpenBound();
  Peer peer;
  uint16_t enginePort = 0;
  ASSERT_NO_FATAL_FAILURE(TwoWaiting(socket, peer, &enginePort));
  NetBufChain* in[3] = {};
  ASSERT_EQ(NetRecvFrom(user->task(), 1, socket, &in[1], 0, nullptr, nullptr), kOk);
  ASSERT_NE(WaitFor(NetMsg::Received), nullptr);
  ASSERT_TRUE(sockets.Readable());
  // The poll runs before the next receive is armed.
  Tick();
  Settle();
  ASSERT_EQ(NetRecvFrom(user->task(), 2, socket, &in[2], 0, nullptr, nullptr), kOk);
  Settle();
  EXPECT_TRUE(ReceivedFor(2)) << "the second datagram waited for a poll";
  for (NetBufChain*& chain : in) NetBufRelease(&chain);
  NetBufRelease(&idle);
}

// A receive that does not wait is answered at once: with each datagram
// that waits, in order, then with kNetEmpty; the poll plays no part.
TEST_F(NetSockTest, AReceiveThatDoesNotWaitTakesWhatWaitsThenAnswersEmpty) {
  WatchedSockets sockets;
  const uintptr_t socket = OpenBound();
  Peer peer;
  uint16_t enginePort = 0;
  ASSERT_NO_FATAL_FAILURE(TwoWaiting(socket, peer, &enginePort));
  ASSERT_TRUE(sockets.Readable());
  user->log.clear();
  NetBufChain* in[3] = {};
  for (uintptr_t cookie : {0, 1, 2})
    ASSERT_EQ(NetRecvFrom(user->task(), cookie, socket, &in[cookie], kNetRecvNoWait, nullptr,
                          nullptr),
              kOk);
  Pump();
  ASSERT_EQ(user->log.size(), 3u);
  for (uintptr_t cookie : {0, 1}) {
    EXPECT_EQ(user->log[cookie].message, NetMsg::Received);
    std::string text(3, 0);
    NetBufRead(in[cookie], text.data(), 0, 3);
    EXPECT_EQ(text, cookie ? "two" : "one");
  }
  EXPECT_EQ(user->log[2].message, NetMsg::Received | kMsgFailed);
  EXPECT_EQ(user->log[2].arg2, static_cast<uintptr_t>(kNetEmpty));
  EXPECT_EQ(in[2], nullptr);
  for (NetBufChain*& chain : in) NetBufRelease(&chain);
}

}  // namespace
