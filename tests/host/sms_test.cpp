// Short messages through a phone on a serial port: the PDU coding both ways
// and the AT dialogue against the simulator, with deliveries to the Sms task.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "host/serial.h"
#include "host/sms.h"
#include "net/netbuf.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/poll_until.h"
#include "tools/modemsim.h"

namespace {

// The example of GSM 03.40: "How are you?" from +31641600986, 7-bit data.
const char kExamplePdu[] = "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07";
constexpr uint32_t kExampleLength = 30;
// 8-bit data to port 0x0B84 with a port-addressing header, no service centre.
const char kPortPdu[] = "00440B911346610089F600F52080629173140809" "0605040B8423F0" "6869";
constexpr uint32_t kPortLength = 28;

std::string Text(const SmsReceived* r) {
  return std::string(reinterpret_cast<const char*>(r->data), r->dataLength);
}

std::string Hex(const uint8_t* bytes, uint32_t n) {
  std::string out;
  char pair[3];
  for (uint32_t i = 0; i < n; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    out += pair;
  }
  return out;
}

class SmsPduTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    SmsSetConsoleTrace(false);
  }
};

TEST_F(SmsPduTest, DecodesTheGsmExampleInEitherCaseAndEightBitDataWithAPortHeader) {
  std::string lower = kExamplePdu;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& pdu : {std::string(kExamplePdu), lower}) {
    SmsReceived* r = SmsDecodePdu(pdu.c_str(), kExampleLength);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->address, "+31641600986");
    EXPECT_EQ(Text(r), "How are you?");  // the twelfth from the high bits of the eleventh octet
    EXPECT_EQ(r->headerLength, 0);
    SmsRelease(nullptr, r, 0);
  }
  SmsReceived* r = SmsDecodePdu(kPortPdu, kPortLength);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->headerLength, 7);
  ASSERT_EQ(r->dataLength, 9);
  EXPECT_EQ(Hex(r->data, 9), "0605040B8423F06869");
  SmsRelease(nullptr, r, 0);
}

TEST_F(SmsPduTest, RefusesPdusThatDoNotHoldWhatTheyAnnounce) {
  std::string pdu = kExamplePdu;
  EXPECT_EQ(SmsDecodePdu(pdu.c_str(), kExampleLength - 1), nullptr);  // wrong line length
  EXPECT_EQ(SmsDecodePdu((pdu + "00").c_str(), kExampleLength), nullptr);
  // The user-data length claims 13 septets, which need 12 octets.
  std::string longer = pdu;
  longer.replace(52, 2, "0D");
  EXPECT_EQ(SmsDecodePdu(longer.c_str(), kExampleLength), nullptr);
  // The header's length octet points past the user data.
  std::string header = kPortPdu;
  header.replace(40, 2, "09");
  EXPECT_EQ(SmsDecodePdu(header.c_str(), kPortLength), nullptr);
  // Any character that is no hex digit: in the header, the user data's first,
  // a middle one and its last.
  for (size_t at : {size_t{20}, size_t{54}, size_t{61}, sizeof kExamplePdu - 2}) {
    std::string bad = kExamplePdu;
    bad[at] = 'G';
    EXPECT_EQ(SmsDecodePdu(bad.c_str(), kExampleLength), nullptr) << at;
  }
}

TEST_F(SmsPduTest, AFillerNibbleEndsTheOriginatorWhereverItComes) {
  struct Case {
    const char* digits;  // the originator's octets after the type
    const char* number;
  };
  const Case cases[] = {
      {"13F6610089F6", "+316"},          // in the second octet
      {"F346610089F6", "+3"},            // in the first
      {"1346610089A6", "+31641600986"},  // no filler: the last digit is dropped by the count
  };
  for (const Case& c : cases) {
    std::string pdu = kExamplePdu;
    pdu.replace(22, 12, c.digits);
    SmsReceived* r = SmsDecodePdu(pdu.c_str(), kExampleLength);
    ASSERT_NE(r, nullptr) << c.digits;
    EXPECT_STREQ(r->address, c.number) << c.digits;
    EXPECT_EQ(r->addressLength, std::strlen(c.number)) << c.digits;
    EXPECT_EQ(Text(r), "How are you?") << c.digits;  // the octets after it are read as before
    SmsRelease(nullptr, r, 0);
  }
}

class SmsSubmitTest : public HeapFixture {
 protected:
  SmsOutgoing Message(const std::string& bytes) {
    SmsOutgoing m{};
    std::strcpy(m.destination, "+31641600986");
    m.kind = SmsKind::Port;
    m.type = SmsType::Message;
    m.data = NetBufAlloc(static_cast<uint32_t>(bytes.size()));
    NetBufWrite(m.data, bytes.data(), 0, static_cast<uint32_t>(bytes.size()));
    return m;
  }
};

TEST_F(SmsSubmitTest, LaysOutASubmitWithHeaderPortAndValidity) {
  SmsOutgoing m = Message(std::string("\x02\xAA\xBB", 3) + "data");
  m.headerPresent = 1;
  m.validity = 3600;  // 12 units of five minutes
  const uint8_t port[6] = {0x05, 0x04, 0x0B, 0x84, 0x23, 0xF0};
  uint8_t pdu[kSmsPduSize];
  uint32_t sc = 0;
  uint32_t n = SmsEncodeSubmit(&m, "+4412", 3, 4, 0, 3, port, pdu, &sc);
  EXPECT_EQ(sc, 4u);
  EXPECT_EQ(Hex(pdu, n), "03914421" "51" "00" "0B911346610089F6" "00F7" "0B" "0D"
                         "08AABB" "05040B8423F0" "64617461");
  NetBufRelease(&m.data);
}

// The phone's dialogue, against the simulator.
class SmsComTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    SmsSetConsoleTrace(false);
    ASSERT_TRUE(sim.Start());
    oldSleep = SerialSetSleep([](uint32_t) {});
  }
  void TearDown() override {
    SmsComClose();
    SerialSetSleep(oldSleep);
    sim.Stop();
    ::unlink(ini.c_str());
    sms.reset();
    EngineFixture::TearDown();
  }

  void OpenReady() {
    std::ofstream(ini) << "[sms]\nport=" << sim.Path() << "\nspeed=9600\n";
    SmsPort* handle = nullptr;
    ASSERT_EQ(SmsComOpenIni(&handle, nullptr, ini), 0);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(Until([] { return SmsComState() == SmsComStep::Ready; }));
  }
  bool Until(const std::function<bool()>& done) {
    return PollUntil(done, [this] {
      SmsComPoll();
      Pump();
    });
  }
  // The Sms task, which frees what it receives.
  void MakeSmsTask() {
    sms = std::make_unique<Recorder>(Mod::Sms, [this](Recorder&, const Received& r) {
      if (r.message == SmsMsg::Received) {
        auto* record = reinterpret_cast<SmsReceived*>(r.arg1);
        addresses.push_back(record->address);
        texts.push_back(Text(record));
        SmsRelease(nullptr, record, 0);
      }
      return kOk;
    });
  }

  ModemSim sim;
  SerialSleepFn oldSleep = nullptr;
  std::unique_ptr<Recorder> sms;
  std::vector<std::string> addresses, texts;
  std::string ini = "/tmp/qor-sms-" + std::to_string(::getpid()) + ".ini";
};

// The phone is set up for PDU mode; a broken PDU is dropped and the next
// still reaches the Sms task.
TEST_F(SmsComTest, OpeningSetsUpPduModeAndDeliveriesReachTheSmsTask) {
  OpenReady();
  EXPECT_EQ(sim.Commands(), (std::vector<std::string>{"AT+CMGF=0", "AT+CSMS=0", "AT+CNMI=2,2"}));
  MakeSmsTask();
  sim.DeliverSms(kExamplePdu, kExampleLength + 1);
  sim.DeliverSms(kExamplePdu, kExampleLength);
  ASSERT_TRUE(Until([&] { return texts.size() == 1; }));
  EXPECT_EQ(sms->Count(SmsMsg::Received), 1u);
  EXPECT_EQ(texts[0], "How are you?");
  EXPECT_EQ(addresses[0], "+31641600986");
}

TEST_F(SmsComTest, APduLineArrivingOnALaterPassIsStillDecoded) {
  OpenReady();
  MakeSmsTask();
  sim.SendRaw("\r\n+CMT: ,28\r\n");
  ASSERT_TRUE(Until([] { return true; }));
  std::string pdu = kPortPdu;
  sim.SendRaw(pdu.substr(0, 20));
  for (int i = 0; i < 5; ++i) Until([] { return true; });
  EXPECT_TRUE(texts.empty());
  sim.SendRaw(pdu.substr(20) + "\r\n");
  ASSERT_TRUE(Until([&] { return texts.size() == 1; }));
  EXPECT_EQ(texts[0], std::string("\x06\x05\x04\x0B\x84\x23\xF0hi", 9));
}

TEST_F(SmsComTest, ASendGoesThroughThePromptAndReportsTheResult) {
  OpenReady();
  MakeSmsTask();
  SmsOutgoing m{};
  std::strcpy(m.destination, "+31641600986");
  m.type = SmsType::Message;
  m.data = NetBufAlloc(5);
  NetBufWrite(m.data, "hello", 0, 5);
  SmsSend(nullptr, &m, "+4412", 0, 5, 0, 0, nullptr);
  ASSERT_TRUE(Until([&] { return sms->Count(SmsMsg::SendResult) == 1; }));
  EXPECT_EQ(sms->log.back(), (Received{SmsMsg::SendResult, 0, 0}));
  // 18 octets past the four of the service centre.
  EXPECT_EQ(sim.Commands()[3], "AT+CMGS=018");
  EXPECT_EQ(sim.SentPdus(), std::vector<std::string>{"03914421" "0100" "0B911346610089F6" "00F7" "05" "68656C6C6F"});
  sim.SetSendSucceeds(false);
  SmsComSend(&m, nullptr, 0, 5, 0, 0, nullptr);
  ASSERT_TRUE(Until([&] { return sms->Count(SmsMsg::SendResult) == 2; }));
  EXPECT_EQ(sms->log.back(), (Received{SmsMsg::SendResult, 1, 0}));
  EXPECT_EQ(SmsComState(), SmsComStep::Ready);
  NetBufRelease(&m.data);
}

TEST_F(SmsPduTest, AnyCharacterThatIsNoHexDigitRefusesThePdu) {
  // The user data begins at character 54; its first, a middle and its last.
  for (size_t at : {size_t{54}, size_t{61}, sizeof kExamplePdu - 2}) {
    std::string bad = kExamplePdu;
    bad[at] = 'G';
    EXPECT_EQ(SmsDecodePdu(bad.c_str(), kExampleLength), nullptr) << at;
    bad[at] = ' ';
    EXPECT_EQ(SmsDecodePdu(bad.c_str(), kExampleLength), nullptr) << at;
  }
}

TEST_F(SmsPduTest, LongOriginatorsAreCappedToTheirSpace) {
  // 31 digits with "+" would need 33 bytes; the text stops at 31 characters.
  std::string pdu = "0004" "1F91" + std::string(32, '1') + "00F5" "20806291731408" "01" "41";
  SmsReceived* r = SmsDecodePdu(pdu.c_str(), static_cast<uint32_t>(pdu.size() / 2 - 1));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::strlen(r->address), 31u);
  EXPECT_EQ(r->address[0], '+');
  SmsRelease(nullptr, r, 0);
  std::string tooLong = "0004" "2091" + std::string(32, '1') + "00F5" "20806291731408" "01" "41";
  EXPECT_EQ(SmsDecodePdu(tooLong.c_str(), static_cast<uint32_t>(tooLong.size() / 2 - 1)), nullptr);
}

TEST(SmsNumberTest, EncodesDigitsInSemiOctets) {
  uint8_t out[16];
  uint32_t digits = 0;
  ASSERT_EQ(SmsEncodeNumber("+31641600986", out, &digits), 7u);
  EXPECT_EQ(digits, 11u);
  EXPECT_EQ(Hex(out, 7), "911346610089F6");
  ASSERT_EQ(SmsEncodeNumber("0-123", out, &digits), 3u);
  EXPECT_EQ(digits, 4u);
  EXPECT_EQ(Hex(out, 3), "811032");
  EXPECT_EQ(SmsEncodeNumber("", out, &digits), 0u);
  EXPECT_EQ(digits, 0u);
}

TEST(SmsAddressTest, DottedAddressesNeedThreeDotsAfterTheFirstCharacter) {
  EXPECT_TRUE(SmsIsIpAddress("127.0.0.1"));
  EXPECT_FALSE(SmsIsIpAddress("+3164.16.0"));
  EXPECT_FALSE(SmsIsIpAddress(".1.2.3"));
  EXPECT_FALSE(SmsIsIpAddress(""));
  EXPECT_FALSE(SmsIsIpAddress(nullptr));
}

TEST_F(SmsSubmitTest, WithoutACentreTheFieldIsOneZeroOctet) {
  SmsOutgoing m = Message("x");
  uint8_t pdu[kSmsPduSize];
  uint32_t sc = 9;
  uint32_t n = SmsEncodeSubmit(&m, nullptr, 0, 1, 0, 0, nullptr, pdu, &sc);
  EXPECT_EQ(sc, 1u);
  EXPECT_EQ(Hex(pdu, n), "00" "01" "00" "0B911346610089F6" "00F7" "01" "78");
  NetBufRelease(&m.data);
}

TEST_F(SmsSubmitTest, LongValiditiesAndOversizedMessages) {
  SmsOutgoing m = Message(std::string(141, 'x'));
  uint8_t pdu[kSmsPduSize];
  uint32_t sc = 0;
  EXPECT_EQ(SmsEncodeSubmit(&m, nullptr, 0, 141, 0, 0, nullptr, pdu, &sc), 0u);
  EXPECT_EQ(SmsEncodeSubmit(&m, nullptr, 0, 135, 0, 0, pdu, pdu, &sc), 0u);  // 135 + port element
  m.validity = 300 * 145;
  uint32_t n = SmsEncodeSubmit(&m, nullptr, 0, 140, 0, 0, nullptr, pdu, &sc);
  ASSERT_EQ(n, 1u + 2 + 8 + 2 + 1 + 1 + 140);
  EXPECT_EQ(pdu[1], 0x11);
  EXPECT_EQ(pdu[13], 0xA7);
  NetBufRelease(&m.data);
}

TEST_F(SmsComTest, TheIpPortMeansNoPhone) {
  std::ofstream(ini) << "[sms]\nport=ip\n";
  SmsPort* handle = nullptr;
  EXPECT_EQ(SmsComOpenIni(&handle, nullptr, ini), 0);
  SmsComPoll();
  EXPECT_TRUE(sim.Commands().empty());
}

TEST_F(SmsComTest, AMissingPortFailsTheSerialOpenButNotThePortOpen) {
  std::ofstream(ini) << "[sms]\nport=/nonexistent/tty\n";
  SmsPort* handle = nullptr;
  EXPECT_EQ(SmsComOpenIni(&handle, nullptr, ini), -1);
}

TEST_F(SmsComTest, ABrokenPduIsDroppedAndTheNextOneStillArrives) {
  OpenReady();
  MakeSmsTask();
  sim.DeliverSms(kExamplePdu, kExampleLength + 1);
  sim.DeliverSms(kExamplePdu, kExampleLength);
  ASSERT_TRUE(Until([&] { return texts.size() == 1; }));
  EXPECT_EQ(sms->Count(SmsMsg::Received), 1u);
}

TEST_F(SmsComTest, WithoutAnSmsTaskDeliveriesAreFreed) {
  OpenReady();
  sim.DeliverSms(kExamplePdu, kExampleLength);
  for (int i = 0; i < 100; ++i) Until([] { return true; });
  MakeSmsTask();
  sim.DeliverSms(kPortPdu, kPortLength);
  // The first went before the task existed; the leak check of the sanitizer
  // build sees that it was freed.
  ASSERT_TRUE(Until([&] { return texts.size() == 1; }));
  EXPECT_EQ(addresses[0], "+31641600986");
}

TEST_F(SmsComTest, AnOversizedSendIsRefusedAndSaidSo) {
  OpenReady();
  MakeSmsTask();
  SmsOutgoing m{};
  m.type = SmsType::Message;
  m.data = NetBufAlloc(200);
  SmsComSend(&m, nullptr, 0, 200, 0, 0, nullptr);
  Pump();
  EXPECT_EQ(sms->Count(SmsMsg::SendResult), 1u);
  EXPECT_NE(sms->log.back().arg1, 0u);
  EXPECT_EQ(SmsComState(), SmsComStep::Ready);
  NetBufRelease(&m.data);
}

}  // namespace
