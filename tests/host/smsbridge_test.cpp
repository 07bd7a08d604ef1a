// The SMS datagram bridge with a UDP peer on loopback: its start and stop,
// the forms of the datagram body, malformed datagrams and sending.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/sms.h"
#include "host/smsbridge.h"
#include "host/smsservice.h"
#include "kernel/heap.h"
#include "host/platform/files.h"
#include "host/platform/sockets.h"
#include "kernel/mem.h"
#include "net/netsock.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/failure_record.h"
#include "tests/support/poll_until.h"
#include "tests/support/udp_ports.h"

namespace {

// A push as the bridge's port form carries it: {0}, then the destination
// port 2948.
const std::string kPush = std::string{2, 2, 1, 3} + "5" + std::string("\0\x0B\x84", 3) + "pushed";

// What the Sms task kept of a record before freeing it.
struct Seen {
  std::string address;
  uint32_t addressLength, kind, headerLength, type, port;
  std::string data;
  int32_t time;
};

class SmsBridgeTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    platform->now = 1234567;
    peer = LoopbackUdpSocket(0);
    std::vector<uint16_t> ports = FreeUdpPorts(2);
    ASSERT_EQ(ports.size(), 2u);
    bridgePort = ports[0];
    peerPort = ports[1];
    SmsBridgeSetPorts(bridgePort, peerPort);
  }
  void TearDown() override {
    if (TskmanFind(Mod::SmsBridge)) {
      SmsBridgeStop();
      Run([] { return !TskmanFind(Mod::SmsBridge); });
    }
    ::close(peer);
    SmsBridgeSetPorts(kSmsBridgePort, kSmsPeerPort);
    sms.reset();
    EngineFixture::TearDown();
  }

  bool Run(const std::function<bool()>& done) {
    return PollUntil(done, [this] {
      Tick();
      Pump();
    });
  }
  void StartBridge() {
    SmsBridgeStart(&host);
    ASSERT_TRUE(Run([&] { return !platform->states.empty(); }));
    ASSERT_EQ(platform->states.size(), 1u);
    ASSERT_EQ(platform->states[0].state, 6);
  }
  void MakeSmsTask() {
    sms = std::make_unique<Recorder>(Mod::Sms, [this](Recorder&, const Received& r) {
      if (r.message == SmsMsg::Received) {
        auto* rec = reinterpret_cast<SmsReceived*>(r.arg1);
        seen.push_back({rec->address, rec->addressLength, rec->kind, rec->headerLength, rec->type,
                        rec->port, std::string(reinterpret_cast<char*>(rec->data), rec->dataLength),
                        rec->time});
        SmsRelease(nullptr, rec, 0);
      }
      return kOk;
    });
  }
  void SendToBridge(const std::string& datagram) { SendToLoopback(peer, bridgePort, datagram); }
  // Sends and waits for the n-th record.
  const Seen* Deliver(const std::string& datagram) {
    size_t want = seen.size() + 1;
    SendToBridge(datagram);
    if (!Run([&] { return seen.size() >= want; })) return nullptr;
    return &seen.back();
  }
  static std::string Head(uint8_t type, uint8_t kind, const std::string& address, uint8_t h) {
    return std::string{static_cast<char>(type), static_cast<char>(kind),
                       static_cast<char>(address.size()), static_cast<char>(h)} + address;
  }

  int host = 0;  // the host context handed through
  int peer = -1;
  uint16_t bridgePort = 0, peerPort = 0;
  std::unique_ptr<Recorder> sms;
  std::vector<Seen> seen;
};

TEST_F(SmsBridgeTest, AStopBeforeTheSocketIsBoundStillEndsCleanly) {
  SmsBridgeStart(&host);
  SmsBridgeStop();
  ASSERT_TRUE(Run([&] { return TskmanFind(Mod::SmsBridge) == nullptr; }));
  ASSERT_FALSE(platform->states.empty());
  EXPECT_EQ(platform->states.back().state, 7);
}

// A stop at any step of the start ends the bridge cleanly: the services'
// stop is told once, the socket layer it started is stopped, and the port
// is free again.
TEST_F(SmsBridgeTest, AStopAtAnyStepOfTheStartEndsCleanly) {
  int bound = 0;  // starts that got as far as the bound socket
  for (int steps = 0; steps <= 24; ++steps) {
    SCOPED_TRACE(steps);
    platform->states.clear();
    SmsBridgeStart(&host);
    for (int i = 0; i < steps; ++i) {
      if (TskmanPendingCount() > 0)
        TskmanStep();
      else
        Tick();
    }
    SmsBridgeStop();
    ASSERT_TRUE(Run([&] { return !TskmanFind(Mod::SmsBridge) && !TskmanFind(Mod::Net); }));
    ASSERT_FALSE(platform->states.empty());
    EXPECT_EQ(platform->states.back().state, 7);
    EXPECT_EQ(platform->states.back().status, 0u);
    bound += platform->states.size() == 2;
    const int fd = LoopbackUdpSocket(bridgePort);
    EXPECT_GE(fd, 0);
    ::close(fd);
  }
  EXPECT_GT(bound, 0);
  EXPECT_LT(bound, 25);
}

TEST_F(SmsBridgeTest, StartBindsThePortAndStopCancelsClosesAndEndsTheServicesPhase) {
  StartBridge();
  EXPECT_EQ(platform->states[0].host, &host);
  EXPECT_EQ(LoopbackUdpSocket(bridgePort), -1);  // taken by the bridge
  SmsBridgeStop();
  ASSERT_TRUE(Run([&] { return platform->states.size() == 2; }));
  EXPECT_EQ(platform->states[1].state, 7);
  EXPECT_EQ(TskmanFind(Mod::Net), nullptr);  // it started the socket layer, so it stops it
  int fd = LoopbackUdpSocket(bridgePort);
  EXPECT_GE(fd, 0);
  ::close(fd);
}

// Whether an IPv4 datagram socket can take the port on that address (the
// whole of 127/8 is this machine's loopback, so no other machine is needed).
bool CanBind(const char* dotted, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, dotted, &a.sin_addr);
  const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

// The bridge listens on the loopback address alone unless told another, so
// no other machine can hand the handset messages or pushes.
TEST_F(SmsBridgeTest, TheSocketIsBoundToLoopbackOrTheAddressSet) {
  const struct {
    const char* set;
    const char* bound;
    const char* free;
  } cases[] = {{nullptr, "127.0.0.1", "127.0.0.2"}, {"127.0.0.2", "127.0.0.2", "127.0.0.1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bound);
    ASSERT_TRUE(SmsBridgeSetAddress(c.set));
    platform->states.clear();
    StartBridge();
    EXPECT_STREQ(SmsBridgeAddress(), c.bound);
    EXPECT_FALSE(CanBind(c.bound, bridgePort));
    EXPECT_TRUE(CanBind(c.free, bridgePort));
    SmsBridgeStop();
    ASSERT_TRUE(Run([&] { return !TskmanFind(Mod::SmsBridge); }));
  }
  // Text that is no dotted address changes nothing.
  EXPECT_FALSE(SmsBridgeSetAddress("0.0.0.0.0"));
  EXPECT_FALSE(SmsBridgeSetAddress("localhost"));
  EXPECT_STREQ(SmsBridgeAddress(), "127.0.0.2");
  SmsBridgeSetAddress(nullptr);
}

// A port another program holds fails the start to the services' stop, and
// the stop says why, so that the host can tell the user.
TEST_F(SmsBridgeTest, WithThePortTakenTheStartFailsToTheServicesStop) {
  const int taken = HoldUdpPort(bridgePort);
  ASSERT_GE(taken, 0);
  SmsBridgeStart(&host);
  ASSERT_TRUE(Run([&] { return !platform->states.empty(); }));
  EXPECT_EQ(platform->states[0].state, 7);
  EXPECT_TRUE(ResultFailed(platform->states[0].status));
  ASSERT_TRUE(Run([&] { return !TskmanFind(Mod::SmsBridge); }));
  EXPECT_EQ(TskmanFind(Mod::Net), nullptr);
  ::close(taken);
}

// Further stops change nothing, with the bridge running or gone.
TEST_F(SmsBridgeTest, RepeatedStopsChangeNothing) {
  StartBridge();
  SmsBridgeStop();
  SmsBridgeStop();
  ASSERT_TRUE(Run([&] { return platform->states.size() == 2; }));
  SmsBridgeStop();  // no task: nothing
  Pump();
  EXPECT_EQ(platform->states.size(), 2u);
  EXPECT_EQ(platform->states[1].status, 0u);
}

TEST_F(SmsBridgeTest, EveryFormOfTheBodyBecomesItsRecord) {
  StartBridge();
  MakeSmsTask();
  struct Case {
    const char* what;
    std::string datagram;
    std::string address;
    uint32_t kind, headerLength, port;
    std::string data;
  };
  const Case cases[] = {
      {"a plain body is the user data", Head(2, 0, "123", 0) + "0123456789", "123", 0, 0, 0,
       "0123456789"},
      // Outside the port-addressed kind the header length is passed on as it
      // is, not taken as a length within the body.
      {"a header length past a plain body", Head(2, 0, "1", 5) + "abc", "1", 0, 5, 0, "abc"},
      // Kind 2, first body byte 0: H - 2 header bytes, the port, the user data.
      {"a port body leaves the port out of the data",
       Head(2, 2, "+4412", 5) + std::string("\x00\x01\x02\x0B\x84", 5) + "payload", "+4412",
       2, 3, 0x0B84, std::string("\x00\x01\x02", 3) + "payload"},
      // The data buffer is the datagram's length less the address, all zero.
      {"an unknown port body", Head(2, 2, "12", 1) + "\x05rest", "12", 2, 1, 0,
       std::string(4 + 5, '\0')},
      // A first body byte of 1: the header alone, its length kept.
      {"a header-only body keeps the header", Head(2, 2, "1", 3) + "\x01\x07\x08xy", "1", 2, 3, 0,
       std::string("\x01\x07\x08\0\0", 5)},
      {"another kind with a header length and no body", Head(2, 7, "1", 200), "1", 7, 200, 0,
       ""},
      {"a plain body with its header", Head(2, 1, "9", 2) + "HHdata", "9", 1, 2, 0, "HHdata"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Seen* r = Deliver(c.datagram);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->address, c.address);
    EXPECT_EQ(r->kind, c.kind);
    EXPECT_EQ(r->headerLength, c.headerLength);
    if (c.port) {
      EXPECT_EQ(r->port, c.port);
    }
    EXPECT_EQ(r->data, c.data);
    EXPECT_EQ(r->time, 1234567);
  }
}

TEST_F(SmsBridgeTest, MalformedDatagramsAreDroppedAndTheNextStillArrives) {
  StartBridge();
  MakeSmsTask();
  SendToBridge(Head(1, 0, "1", 0) + "not a short message");
  SendToBridge(std::string("\x02\x00\x09\x00" "123", 7));      // address past the end
  SendToBridge(Head(2, 2, "1", 5) + "\x01" "bc");               // header past the end
  SendToBridge(Head(2, 2, "1", 1) + std::string("\x00" "x", 2)); // no room for the port
  SendToBridge(Head(2, 0, "1", 0) + std::string(300, 'x'));     // more than a message holds
  SendToBridge(std::string("\x02\x00", 2));                     // no head
  const Seen* r = Deliver(Head(2, 0, "77", 0) + "fine");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(r->data, "fine");
}

class SmsBridgeSendTest : public SmsBridgeTest {
 protected:
  void SetUp() override {
    SmsBridgeTest::SetUp();
    receiver = LoopbackUdpSocket(peerPort, 2000);
    ASSERT_GE(receiver, 0);
  }
  void TearDown() override {
    ::close(receiver);
    SmsBridgeTest::TearDown();
  }
  std::string Received1() { return ReceiveDatagram(receiver); }
  SmsOutgoing Message(uint32_t kind, const std::string& bytes) {
    SmsOutgoing m{};
    std::strcpy(m.destination, "+4412");
    m.kind = kind;
    m.type = SmsType::Message;
    m.data = NetBufAlloc(static_cast<uint32_t>(bytes.size()));
    NetBufWrite(m.data, bytes.data(), 0, static_cast<uint32_t>(bytes.size()));
    return m;
  }
  int receiver = -1;
};

TEST_F(SmsBridgeSendTest, APortMessageCarriesThePortsInItsHeader) {
  StartBridge();
  MakeSmsTask();
  SmsOutgoing m = Message(SmsKind::Port, std::string(9, '\0') + "body");
  const uint8_t port[6] = {0x05, 0x04, 0x0B, 0x84, 0x23, 0xF0};
  SmsBridgeSend(nullptr, &m, nullptr, 9, 4, 0, 9, port);
  ASSERT_TRUE(Run([&] { return sms->Count(SmsMsg::SendResult) == 1; }));
  EXPECT_EQ(Received1(), std::string("\x02\x02\x06\x0B" "+4412\0", 10) +
                             std::string("\x00\x23\xF0\x00\x00\x00\x00\x0B\x84", 9) +
                             std::string("\x0B\x84", 2) + "body");
  NetBufRelease(&m.data);
}

// The host's sockets failing: a socket that does not open ends the start
// with its reason; a failed receive is tried again; a failed send is
// answered as failed.
class SmsBridgeSocketFailureTest : public SmsBridgeSendTest {
 protected:
  void SetUp() override {
    real = PlatformSockets();
    ops = real;
    ops.ctx = this;
    PlatformSocketsInstall(&ops);
    SmsBridgeSendTest::SetUp();
  }
  void TearDown() override {
    SmsBridgeSendTest::TearDown();
    PlatformSocketsInstall(nullptr);
  }
  static SmsBridgeSocketFailureTest* Self(void* ctx) {
    return static_cast<SmsBridgeSocketFailureTest*>(ctx);
  }
  // The real receive, failed `failures` times first; a datagram read then
  // takes the heap whole and stops the bridge (stopAtRead), or leaves the
  // heap `cut` bytes.
  static long Receive(void* ctx, int fd, void* buffer, size_t size, sockaddr* from,
                      socklen_t* fromLength, uint32_t* dropped) {
    SmsBridgeSocketFailureTest* self = Self(ctx);
    if (self->failures > 0) {
      --self->failures;
      return kSocketFailed;
    }
    const long n = self->real.receiveFrom(self->real.ctx, fd, buffer, size, from, fromLength, dropped);
    if (n > 0 && self->stopAtRead) {
      self->stopAtRead = false;
      self->eaten = EatHeapFinely(0);
      SmsBridgeStop();
    }
    if (n > 0 && self->cut >= 0) {
      self->eaten = EatHeapFinely(static_cast<uint32_t>(self->cut));
      self->cut = -1;
    }
    return n;
  }

 public:
  PlatformSocketOps real{}, ops{};
  int failures = 0;  // calls of the failing operation still to fail
  int opened = -1;   // the descriptor of the last socket opened
  int64_t cut = -1;  // the heap left once the next datagram is read, or none
  bool stopAtRead = false;  // the next read takes the heap whole and stops the bridge
  std::vector<void*> eaten;
};

TEST_F(SmsBridgeSocketFailureTest, ASocketThatDoesNotOpenEndsTheStartWithItsReason) {
  ops.open = [](void*, bool, int*) { return -1; };
  SmsBridgeStart(&host);
  ASSERT_TRUE(Run([&] { return !platform->states.empty(); }));
  EXPECT_EQ(platform->states[0].state, 7);
  EXPECT_TRUE(ResultFailed(platform->states[0].status));
  ASSERT_TRUE(Run([&] { return !TskmanFind(Mod::SmsBridge); }));
}

TEST_F(SmsBridgeSocketFailureTest, AFailedReceiveIsTriedAgain) {
  ops.receiveFrom = Receive;
  StartBridge();
  MakeSmsTask();
  failures = 2;
  const Seen* r = Deliver(Head(2, 0, "5", 0) + "after two failures");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->data, "after two failures");
  EXPECT_EQ(failures, 0);
}

// A burst that waits in the socket all arrives at once: each receive the
// bridge arms after a datagram is served without waiting for the next poll,
// so the socket's buffer is emptied as fast as the engine takes messages.
// The datagrams are sent before the engine looks; the engine is stepped as
// the host's loop steps it, and each tick is given only once the socket has
// something to read, so a slow machine takes longer but never more ticks.
TEST_F(SmsBridgeSocketFailureTest, ABurstWaitingInTheSocketArrivesWithoutAPollForEach) {
  ops.open = [](void* ctx, bool stream, int* family) {
    SmsBridgeSocketFailureTest* self = Self(ctx);
    self->opened = self->real.open(self->real.ctx, stream, family);
    return self->opened;
  };
  StartBridge();
  MakeSmsTask();
  ASSERT_GE(opened, 0);
  Pump();
  constexpr size_t kBurst = 100;
  for (size_t i = 0; i < kBurst; ++i)
    SendToBridge(Head(2, 0, "5", 0) + "burst " + std::to_string(i));
  int ticks = 0;
  const bool all = PollUntil([&] { return seen.size() >= kBurst; }, [&] {
    Settle();
    if (seen.size() >= kBurst) return;
    pollfd readable{opened, POLLIN, 0};
    if (::poll(&readable, 1, 0) == 1) {
      Tick();
      ++ticks;
    }
  });
  ASSERT_TRUE(all) << seen.size() << " of " << kBurst << " arrived";
  EXPECT_LE(ticks, 10);
  for (size_t i = 0; i < kBurst; ++i) EXPECT_EQ(seen[i].data, "burst " + std::to_string(i));
}

// Datagrams sent with no pause while the engine does not look: each one
// arrives or is counted in what is said, once, whatever the socket's buffer
// holds: what the system grants the bridge, or a buffer the test shrinks
// so that it surely overflows.
class SmsBridgeBurstTest : public SmsBridgeSocketFailureTest,
                           public ::testing::WithParamInterface<int> {};

TEST_P(SmsBridgeBurstTest, EachDatagramArrivesOrItsDropIsSaid) {
  ops.open = [](void* ctx, bool stream, int* family) {
    SmsBridgeSocketFailureTest* self = Self(ctx);
    const int fd = self->real.open(self->real.ctx, stream, family);
    const int shrunk = GetParam();
    if (fd >= 0 && shrunk) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &shrunk, sizeof shrunk);
    return fd;
  };
  FailureRecord record;
  StartBridge();
  MakeSmsTask();
  Pump();
  constexpr size_t kBurst = 2000;
  for (size_t i = 0; i < kBurst; ++i) SendToBridge(Head(2, 0, "5", 0) + "burst " + std::to_string(i));
  const auto said = [&] {
    size_t n = 0;
    for (const std::string& line : record.said) {
      EXPECT_NE(line.find(" dropped by the system before th"), std::string::npos) << line;
      n += std::stoul(line);
    }
    return n;
  };
  EXPECT_TRUE(Run([&] { return seen.size() + said() >= kBurst; }))
      << seen.size() << " arrived, " << said() << " said";
  Settle();
  EXPECT_EQ(seen.size() + said(), kBurst) << seen.size() << " arrived";
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_NE(seen[i].data, seen[i - 1].data);
  if (GetParam()) {
    EXPECT_GT(said(), 0u);
  }
}

// 0: the buffer as the bridge asks for it.
INSTANTIATE_TEST_SUITE_P(Buffers, SmsBridgeBurstTest, ::testing::Values(0, 4096));

// While the stop takes what waits in the socket, the rest of the engine
// takes the heap down to what this leaves before each of the bridge's steps
// (-1: it takes nothing).
int64_t gHeapLeft = -1;
std::vector<void*> gEaten;
void TakeTheHeap(const TskmanTask* task, uint32_t, uintptr_t, uintptr_t) {
  if (gHeapLeft < 0 || task->id != Mod::SmsBridge) return;
  for (void* p : EatHeapFinely(static_cast<uint32_t>(gHeapLeft))) gEaten.push_back(p);
}

// Datagrams that wait in the socket when the stop comes are each taken or
// counted in what is said, however little the heap leaves and whether or
// not the socket fails on the way, also one the socket layer read for the
// receive that waited as the stop came: none goes with the socket unsaid.
TEST_F(SmsBridgeSocketFailureTest, DatagramsWaitingAtTheStopAreTakenOrSaid) {
  struct Row {
    const char* what;
    int64_t heapLeft;
    bool socketFails;  // the stop's first read fails
    bool someTaken;
    bool stopAtRead;  // the stop comes as the waiting receive reads, the heap then full
  };
  const Row rows[] = {{"a heap with room", -1, false, true, false},
                      {"a full heap", 0, false, false, false},
                      {"a heap with room for a few", 2048, false, true, false},
                      {"a socket that fails", -1, true, false, false},
                      {"a stop as the waiting receive reads", -1, false, false, true}};
  ops.open = [](void* ctx, bool stream, int* family) {
    SmsBridgeSocketFailureTest* self = Self(ctx);
    return self->opened = self->real.open(self->real.ctx, stream, family);
  };
  ops.receiveFrom = Receive;
  constexpr uint32_t kWaiting = 40;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FailureRecord record;
    platform->states.clear();
    seen.clear();
    StartBridge();
    MakeSmsTask();
    Settle();
    // Each datagram takes the same room in the socket: once the first is
    // seen there, the room of all of them tells that all have come.
    const auto waiting = [&] {
      uint32_t memory[SK_MEMINFO_VARS] = {};
      socklen_t length = sizeof memory;
      ::getsockopt(opened, SOL_SOCKET, SO_MEMINFO, memory, &length);
      return memory[SK_MEMINFO_RMEM_ALLOC];
    };
    SendToBridge(Head(2, 0, "5", 0) + "w00");
    uint32_t one = 0;
    ASSERT_TRUE(PollUntil([&] { return (one = waiting()) > 0; }));
    for (uint32_t i = 1; i < kWaiting; ++i) SendToBridge(Head(2, 0, "5", 0) + "w" + std::to_string(10 + i));
    ASSERT_TRUE(PollUntil([&] { return waiting() >= one * kWaiting; }));
    gHeapLeft = row.heapLeft;
    TskmanSetObserver(TakeTheHeap);
    failures = row.socketFails ? 1 : 0;
    stopAtRead = row.stopAtRead;
    if (!row.stopAtRead) SmsBridgeStop();
    EXPECT_TRUE(PollUntil([&] { return !TskmanFind(Mod::SmsBridge); }, [&] {
      Tick();
      Settle();
    }));
    TskmanSetObserver(nullptr);
    for (void* p : gEaten) MemFreeRaw(p);
    gEaten.clear();
    for (void* p : eaten) MemFreeRaw(p);
    eaten.clear();
    Settle();
    uint32_t said = 0;
    for (const std::string& line : record.said) {
      EXPECT_TRUE(line.find(" not enough memory") != std::string::npos ||
                  line.find(" the emulator stopped before th") != std::string::npos)
          << line;
      said += line[0] == 'a' ? 1 : static_cast<uint32_t>(std::stoul(line));
    }
    EXPECT_EQ(seen.size() + said, kWaiting) << seen.size() << " taken";
    EXPECT_LE(record.said.size(), 2u);  // as a count
    EXPECT_EQ(!seen.empty(), row.someTaken) << seen.size() << " taken";
  }
}

TEST_F(SmsBridgeSocketFailureTest, AFailedSendIsAnsweredAsFailed) {
  ops.sendTo = [](void*, int, const void*, size_t, const sockaddr*, socklen_t) -> long {
    return kSocketFailed;
  };
  StartBridge();
  MakeSmsTask();
  SmsOutgoing m = Message(0, "lost");
  SmsBridgeSend(nullptr, &m, nullptr, 0, 0, 0, 0, nullptr);
  ASSERT_TRUE(Run([&] { return sms->Count(SmsMsg::SendResult) == 1; }));
  EXPECT_NE(sms->log.back().arg1, 0u);
  NetBufRelease(&m.data);
}

// Whatever the heap leaves once a datagram is read from the socket, its
// message reaches the Sms task or its loss for want of memory is said, once;
// the bridge goes on receiving. The socket layer loses a datagram before
// anyone has looked at its bytes, so a push is said as a received message.
TEST_F(SmsBridgeSocketFailureTest, AMessageTheHeapCannotTakeIsSaidAndTheNextStillArrives) {
  ops.receiveFrom = Receive;
  FailureRecord record;
  StartBridge();
  MakeSmsTask();
  for (const std::string& datagram : {Head(2, 0, "5", 0) + "kept or said", kPush}) {
    uint32_t arrived = 0, said = 0;
    for (int64_t reserve = 0; reserve <= 1024; reserve += 8) {
      ++platform->now;  // a loss in a second of its own is said at once
      record.said.clear();
      seen.clear();
      cut = reserve;
      SendToBridge(datagram);
      ASSERT_TRUE(Run([&] { return cut < 0; })) << reserve;
      for (int i = 0; i < 8; ++i) Pump();
      for (void* p : eaten) MemFreeRaw(p);
      eaten.clear();
      if (seen.size() == 1) {
        ++arrived;
        EXPECT_TRUE(record.said.empty()) << reserve;
      } else {
        ++said;
        EXPECT_TRUE(seen.empty()) << reserve;
        EXPECT_EQ(record.said, std::vector<std::string>{"a received message: not enough memory"})
            << reserve;
      }
    }
    EXPECT_GT(arrived, 0u);
    EXPECT_GT(said, 0u);
  }
  const Seen* r = Deliver(Head(2, 0, "5", 0) + "after");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->data, "after");
}

// The heap taken whole as the bridge gets a datagram the socket layer read,
// while gEatenAtRead is set; the datagrams it got.
std::vector<void*>* gEatenAtRead = nullptr;
uint32_t gBridgeReads = 0;
void EatAtRead(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t) {
  if (task->id != Mod::SmsBridge || message != NetMsg::Received) return;
  ++gBridgeReads;
  if (gEatenAtRead) *gEatenAtRead = EatHeapFinely(0);
}

// A message whose bytes the bridge holds but the heap cannot take is said as
// what its addressing makes it: a push as a pushed message, in the bridge's
// port form or with a user-data header; any other as a received one. A push
// in segments is one message, however many of its segments go: its loss is
// said once, by the end of the service's stop, as the routing says its own.
TEST_F(SmsBridgeTest, AMessageTheHeapCannotTakeOnceReadIsSaidAsWhatItIs) {
  const std::string pushed = "a pushed message: not enough memory";
  const std::string received = "a received message: not enough memory";
  // Segment `sequence` of a push of two in the port form, under reference 7.
  const auto segment = [](int sequence) {
    return std::string{2, 2, 1, 5} + "5" +
           std::string{0, 2, static_cast<char>(sequence - 1), 0x0B, static_cast<char>(0x84)} +
           std::string{0, 7} + "half " + std::to_string(sequence);
  };
  const struct {
    const char* what;
    std::vector<std::pair<std::string, bool>> datagrams;  // each, and whether the heap is full for it
    std::vector<std::string> said;
  } rows[] = {
      {"a text", {{Head(2, 0, "5", 0) + "lost", true}}, {received}},
      {"a push in the port form", {{kPush, true}}, {pushed}},
      // Element 5: 16-bit ports, the destination first.
      {"a push with a user-data header",
       {{Head(2, 0, "5", 7) + std::string("\x06\x05\x04\x0B\x84\x23\xF0", 7) + "lost", true}},
       {pushed}},
      {"a message to another port", {{Head(2, 2, "5", 3) + std::string("\0\x13\x88", 3) + "lost", true}},
       {received}},
      {"a push in two segments, both lost", {{segment(1), true}, {segment(2), true}}, {pushed}},
      {"a push in two segments, the second lost", {{segment(1), false}, {segment(2), true}}, {pushed}},
      {"a push in two segments, the first lost", {{segment(1), true}, {segment(2), false}}, {pushed}},
  };
  FailureRecord record;
  StartBridge();
  std::vector<void*> eaten;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ++platform->now;  // a loss in a second of its own is said at once
    record.said.clear();
    ASSERT_EQ(SmsServiceStart(), kOk);
    TskmanSetObserver(EatAtRead);
    for (const auto& [datagram, full] : row.datagrams) {
      gEatenAtRead = full ? &eaten : nullptr;
      const uint32_t before = gBridgeReads;
      SendToBridge(datagram);
      EXPECT_TRUE(Run([&] { return gBridgeReads > before; }));
      gEatenAtRead = nullptr;
      for (int i = 0; i < 8; ++i) Pump();
      for (void* p : eaten) MemFreeRaw(p);
      eaten.clear();
    }
    TskmanSetObserver(nullptr);
    SmsServiceStop();
    Pump();
    ASSERT_EQ(TskmanFind(Mod::Sms), nullptr);
    EXPECT_EQ(record.said, row.said);
  }
}

}  // namespace
