// The serial port over a pseudo-terminal: opening, the receive ring and its
// line taking, writes, and the modem-control lines through their seam.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <termios.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/serial.h"
#include "tests/support/poll_until.h"
#include "tools/modemsim.h"

namespace {

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start());
    port = SerialOpen(sim.Path().c_str(), 115200);
    ASSERT_NE(port, nullptr);
  }
  void TearDown() override {
    SerialClose(port);
    sim.Stop();
  }

  // Sends bytes from the far side and polls until the ring holds `total`.
  void Receive(const std::string& bytes, uint32_t total) {
    sim.SendRaw(bytes);
    PollUntil([&] { return SerialAvailable(port) >= total; }, [&] { SerialPoll(port); });
    ASSERT_EQ(SerialAvailable(port), total);
  }

  ModemSim sim;
  SerialPort* port = nullptr;
  char line[kSerialLineSize];
};

TEST(SerialNamesTest, PortNamesAndSpeeds) {
  const std::pair<const char*, const char*> names[] = {
      {"COM12", "/dev/ttyS11"}, {"COM1", "/dev/ttyS0"}, {"/dev/pts/7", "/dev/pts/7"},
      {"COM0", nullptr},        {"COM", nullptr},       {"COM1x", nullptr},
      {"LPT1", nullptr},        {"ttyS0", nullptr},     {"", nullptr}};
  for (const auto& [name, device] : names) {
    char path[64] = {};
    EXPECT_EQ(SerialDevicePath(name, path, sizeof path), device != nullptr) << name;
    if (device) {
      EXPECT_STREQ(path, device);
    }
  }
  const std::pair<uint32_t, uint32_t> speeds[] = {{9600, 9600},     {19200, 19200},
                                                  {38400, 38400},   {57600, 57600},
                                                  {115200, 115200}, {4800, 9600},
                                                  {230400, 9600}};
  for (const auto& [asked, speed] : speeds) EXPECT_EQ(SerialLineSpeed(asked), speed) << asked;
}

TEST(SerialOpenTest, RefusesWhatIsNoFreeTerminal) {
  EXPECT_EQ(SerialOpen("/nonexistent/tty", 9600), nullptr);
  EXPECT_EQ(SerialOpen("/dev/null", 9600), nullptr);  // no terminal settings to read
}

TEST_F(SerialTest, APortInUseCannotBeOpenedAgain) {
  EXPECT_EQ(SerialOpen(sim.Path().c_str(), 9600), nullptr);
}

// A line takes its ending along; prompts come without one; bytes with the
// high bit set separate lines; a ring of separators drains away.
TEST_F(SerialTest, LinesArePromptsOrEndedByLineEndsAndHighBitBytes) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"\r\nOK\r\n", {"OK"}},
      {"\r\n> ", {"> "}},
      {"CLIENTSERVER", {"CLIENTSERVER"}},
      {"AB\x80" "CD\xFF", {"AB", "CD"}},
      {std::string(512, '\n'), {}},
  };
  for (const Case& c : cases) {
    Receive(c.bytes, static_cast<uint32_t>(c.bytes.size()));
    for (const std::string& want : c.lines) {
      char* end = SerialReadLine(port, line);
      ASSERT_NE(end, nullptr) << want;
      EXPECT_EQ(std::string(line, end), want);
    }
    EXPECT_EQ(SerialReadLine(port, line), nullptr);
    EXPECT_EQ(SerialAvailable(port), 0u);
  }
}

TEST_F(SerialTest, AFullRingWithoutAnEndingIsHandedOverInsteadOfStalling) {
  Receive(std::string(512, 'A'), 512);
  EXPECT_EQ(SerialPoll(port), 0u);  // no room
  char* end = SerialReadLine(port, line);
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end - line, 512);
  EXPECT_EQ(std::string(line), std::string(512, 'A'));
  EXPECT_EQ(SerialAvailable(port), 0u);
}

TEST_F(SerialTest, AWrappingPollFillsTheEndThenTheStartInOneStep) {
  std::string first(510, 'a');
  Receive(first, 510);
  char sink[500];
  EXPECT_EQ(SerialRead(port, sink, 500), 500u);
  // Let all 502 bytes reach the terminal before the one poll under test.
  std::string second = "yz" + std::string(500, 'b');
  sim.SendRaw(second);
  int waiting = 0;
  ASSERT_TRUE(PollUntil([&] { return ::ioctl(port->fd, FIONREAD, &waiting) == 0 && waiting == 502; }));
  EXPECT_EQ(SerialPoll(port), 502u);
  EXPECT_EQ(SerialAvailable(port), 512u);
  EXPECT_EQ(port->ring[510], 'y');
  EXPECT_EQ(port->ring[511], 'z');
  EXPECT_EQ(port->ring[499], 'b');
  EXPECT_EQ(port->ring[500], 'a');  // the ten unread bytes stay
  char rest[512];
  EXPECT_EQ(SerialRead(port, rest, sizeof rest), 512u);
  EXPECT_EQ(std::string(rest, 12), "aaaaaaaaaayz");
}

// The line is opened raw at its speed; one it does not know opens at 9600.
TEST_F(SerialTest, TheLineIsRawAtItsSpeedAndAnOddSpeedOpensAt9600) {
  for (auto [asked, code] : {std::pair<uint32_t, speed_t>{19200, B19200}, {38400, B38400},
                             {57600, B57600}, {230400, B9600}}) {
    SerialClose(port);
    port = SerialOpen(sim.Path().c_str(), asked);
    ASSERT_NE(port, nullptr);
    termios line{};
    ASSERT_EQ(::tcgetattr(port->fd, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), code) << asked;
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  }
}

TEST_F(SerialTest, APartialLineWaitsWholeForItsEnding) {
  Receive("CONN", 4);
  EXPECT_EQ(SerialReadLine(port, line), nullptr);
  EXPECT_EQ(SerialAvailable(port), 4u);
  Receive("ECT 9600\r", 13);
  ASSERT_NE(SerialReadLine(port, line), nullptr);
  EXPECT_STREQ(line, "CONNECT 9600");
}

// Hex goes out as upper-case pairs, also past the writer's own buffer.
TEST_F(SerialTest, HexWritesAreUpperCasePairs) {
  uint8_t bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<uint8_t>(i * 13);
  SerialWriteHex(port, bytes, sizeof bytes);
  SerialWrite(port, "\r", 1);
  ASSERT_TRUE(sim.WaitForCommands(1, 30000));
  std::string expected;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    expected += pair;
  }
  EXPECT_EQ(sim.Commands()[0], expected);
}

// A pseudo-terminal has no carrier line and refuses DTR; the simulator's
// seam has both. 2 drops DTR, 1 raises it, other modes leave it.
TEST_F(SerialTest, TheModemLinesGoThroughTheirSeam) {
  EXPECT_EQ(SerialCarrier(port), 0);
  SerialSetDtr(port, 1);
  const SerialLineOps* old = SerialSetLineOps(sim.LineOps());
  for (auto [value, raised] : {std::pair{2, false}, {3, false}, {1, true}, {3, true}}) {
    SerialSetDtr(port, value);
    EXPECT_EQ(sim.Dtr(), raised) << value;
  }
  sim.SetDialAnswer("CONNECT");
  SerialWrite(port, "ATD1\r", 5);
  ASSERT_TRUE(sim.WaitForCommands(1, 30000));
  EXPECT_TRUE(PollUntil([&] { return sim.Carrier(); }));
  EXPECT_EQ(SerialCarrier(port), 1);
  SerialSetLineOps(old);
}

}  // namespace
