// The SMS datagram bridge with a UDP peer on loopback: its start and stop,
// every form of the datagram body, malformed datagrams, sending, and the
// engine heap over many datagrams. The bridge and its peer get ports the
// system has free.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "host/sms.h"
#include "host/smsbridge.h"
#include "kernel/heap.h"
#include "net/netsock.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/udp_ports.h"

namespace {

int HostSocket(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  timeval wait{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

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
    peer = ::socket(AF_INET, SOCK_DGRAM, 0);
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

  // Ticks and pumps until the condition holds (at most 3 s).
  bool Run(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
      Pump();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      Tick();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
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
  void SendToBridge(const std::string& datagram) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(bridgePort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(peer, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
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

TEST_F(SmsBridgeTest, StartBindsThePortAndStopCancelsClosesAndEndsTheServicesPhase) {
  StartBridge();
  EXPECT_EQ(platform->states[0].host, &host);
  EXPECT_EQ(platform->states[0].status, 0u);
  EXPECT_EQ(HostSocket(bridgePort), -1);  // taken by the bridge
  SmsBridgeStop();
  SmsBridgeStop();  // a second stop changes nothing
  ASSERT_TRUE(Run([&] { return platform->states.size() == 2; }));
  Pump();
  EXPECT_EQ(platform->states[1].state, 7);
  EXPECT_EQ(platform->states[1].status, 0u);
  EXPECT_EQ(TskmanFind(Mod::SmsBridge), nullptr);
  EXPECT_EQ(TskmanFind(Mod::Net), nullptr);  // it started the socket layer, so it stops it
  int fd = HostSocket(bridgePort);
  EXPECT_GE(fd, 0);
  ::close(fd);
  SmsBridgeStop();  // no task: nothing
  Pump();
  EXPECT_EQ(platform->states.size(), 2u);
}

TEST_F(SmsBridgeTest, WithThePortTakenTheStartFailsToTheServicesStop) {
  int taken = ::socket(AF_INET6, SOCK_DGRAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(bridgePort);
  int off = 0;
  ::setsockopt(taken, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  SmsBridgeStart(&host);
  ASSERT_TRUE(Run([&] { return !platform->states.empty(); }));
  EXPECT_EQ(platform->states[0].state, 7);
  // The stop says why, so that the host can tell the user.
  EXPECT_TRUE(ResultFailed(platform->states[0].status));
  EXPECT_EQ(TskmanFind(Mod::SmsBridge), nullptr);
  ::close(taken);
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
      {"a header within a plain body", Head(2, 1, "9", 2) + "HHdata", "9", 1, 2, 0, "HHdata"},
      // Outside the port-addressed kind the header length is passed on as it
      // is, not taken as a length within the body.
      {"a header length past a plain body", Head(2, 0, "1", 5) + "abc", "1", 0, 5, 0, "abc"},
      {"no body", Head(2, 7, "1", 200), "1", 7, 200, 0, ""},
      // Kind 2, first body byte 0: H - 2 header bytes, the port, the user data.
      {"a port body leaves the port out of the data",
       Head(2, 2, "+4412", 5) + std::string("\x00\x01\x02\x0B\x84", 5) + "payload", "+4412",
       2, 3, 0x0B84, std::string("\x00\x01\x02", 3) + "payload"},
      {"a header-only body keeps the header and its length",
       Head(2, 2, "1", 3) + std::string("\x01\x07\x08", 3) + "xy", "1", 2, 3, 0,
       std::string("\x01\x07\x08\0\0", 5)},
      // The data buffer is the datagram's length less the address, all zero.
      {"an unknown port body", Head(2, 2, "12", 1) + "\x05rest", "12", 2, 1, 0,
       std::string(4 + 5, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Seen* r = Deliver(c.datagram);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->address, c.address);
    EXPECT_EQ(r->addressLength, c.address.size());
    EXPECT_EQ(r->kind, c.kind);
    EXPECT_EQ(r->type, 2u);
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
  SendToBridge(std::string("\x02\x00", 2));                     // no head
  SendToBridge(Head(2, 0, "1", 0) + std::string(300, 'x'));     // more than a message holds
  const Seen* r = Deliver(Head(2, 0, "77", 0) + "fine");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(r->data, "fine");
}

TEST_F(SmsBridgeTest, TheHeapIsWholeAgainAfterManyDatagrams) {
  StartBridge();
  // Without an Sms task each record is freed on arrival. A datagram on
  // loopback is there when its send returns, so one poll takes it.
  const uint32_t unclaimedBefore = HeapGetStats().freeBytes;
  for (int i = 0; i < 50; ++i) {
    SendToBridge(Head(2, 0, "5550", 0) + "unclaimed " + std::to_string(i));
    Tick();
    Pump();
  }
  EXPECT_EQ(HeapGetStats().freeBytes, unclaimedBefore);
  MakeSmsTask();
  Pump();
  const uint32_t claimedBefore = HeapGetStats().freeBytes;
  ASSERT_NE(Deliver(Head(2, 2, "1", 4) + std::string("\x00\x01\x00\x00", 4) + "x"), nullptr);
  for (int i = 0; i < 49; ++i)
    ASSERT_NE(Deliver(Head(2, 0, "5551", 0) + "claimed " + std::to_string(i)), nullptr) << i;
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(HeapGetStats().freeBytes, claimedBefore);
  EXPECT_EQ(HeapValidate(), nullptr);
}

class SmsBridgeSendTest : public SmsBridgeTest {
 protected:
  void SetUp() override {
    SmsBridgeTest::SetUp();
    receiver = HostSocket(peerPort);
    ASSERT_GE(receiver, 0);
  }
  void TearDown() override {
    ::close(receiver);
    SmsBridgeTest::TearDown();
  }
  std::string Received1() {
    char buffer[1024];
    ssize_t n = ::recv(receiver, buffer, sizeof buffer, 0);
    return n < 0 ? "<none>" : std::string(buffer, static_cast<size_t>(n));
  }
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

TEST_F(SmsBridgeSendTest, APlainMessageGoesOutWithItsHeadAddressAndData) {
  StartBridge();
  MakeSmsTask();
  SmsOutgoing m = Message(0, "HHhello");
  SmsSend(nullptr, &m, "127.0.0.1", 2, 5, 0, 2, nullptr);
  ASSERT_TRUE(Run([&] { return sms->Count(SmsMsg::SendResult) == 1; }));
  EXPECT_EQ(sms->log.back().arg1, 0u);
  EXPECT_EQ(Received1(), std::string("\x02\x00\x06\x02" "+4412\0" "HH" "hello", 17));
  NetBufRelease(&m.data);
}

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
  // Without a port element the defaults stand in.
  SmsBridgeSend(nullptr, &m, nullptr, 9, 4, 0, 9, nullptr);
  ASSERT_TRUE(Run([&] { return sms->Count(SmsMsg::SendResult) == 2; }));
  EXPECT_EQ(Received1().substr(10, 11),
            std::string("\x00\x01\x00\x00\x00\x00\x00\x02\x03\x02\x03", 11));
  NetBufRelease(&m.data);
}

TEST_F(SmsBridgeSendTest, OnlyShortMessagesAreSentAndBadPeersAreReported) {
  StartBridge();
  MakeSmsTask();
  SmsOutgoing m = Message(0, "x");
  m.type = 1;
  SmsBridgeSend(nullptr, &m, nullptr, 0, 1, 0, 0, nullptr);
  m.type = SmsType::Message;
  SmsBridgeSend(nullptr, &m, "127.0.0.300", 0, 1, 0, 0, nullptr);
  Pump();
  EXPECT_EQ(sms->Messages(), std::vector<uint32_t>{SmsMsg::SendResult});
  EXPECT_EQ(sms->log.back().arg1, kNetBadText);
  NetBufRelease(&m.data);
}

}  // namespace
