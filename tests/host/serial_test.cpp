// The serial port over a pseudo-terminal: opening, the receive ring and its
// line taking, writes, and the modem-control lines through their seam.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/serial.h"
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
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (SerialAvailable(port) < total && std::chrono::steady_clock::now() < deadline) {
      SerialPoll(port);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(SerialAvailable(port), total);
  }

  ModemSim sim;
  SerialPort* port = nullptr;
  char line[kSerialLineSize];
};

TEST(SerialNamesTest, PortNamesAndSpeeds) {
  char path[64];
  ASSERT_TRUE(SerialDevicePath("COM1", path, sizeof path));
  EXPECT_STREQ(path, "/dev/ttyS0");
  ASSERT_TRUE(SerialDevicePath("COM12", path, sizeof path));
  EXPECT_STREQ(path, "/dev/ttyS11");
  ASSERT_TRUE(SerialDevicePath("/dev/pts/7", path, sizeof path));
  EXPECT_STREQ(path, "/dev/pts/7");
  for (const char* bad : {"COM0", "COM", "COM1x", "LPT1", "ttyS0", ""})
    EXPECT_FALSE(SerialDevicePath(bad, path, sizeof path)) << bad;
  for (uint32_t speed : {9600u, 19200u, 38400u, 57600u, 115200u}) EXPECT_EQ(SerialLineSpeed(speed), speed);
  EXPECT_EQ(SerialLineSpeed(4800), 9600u);
  EXPECT_EQ(SerialLineSpeed(230400), 9600u);
}

TEST(SerialOpenTest, RefusesWhatIsNoFreeTerminal) {
  EXPECT_EQ(SerialOpen("/nonexistent/tty", 9600), nullptr);
  char file[] = "/tmp/qor-serial-XXXXXX";
  int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SerialOpen(file, 9600), nullptr);  // no terminal settings to read
  ::close(fd);
  ::unlink(file);
}

TEST_F(SerialTest, APortInUseCannotBeOpenedAgain) {
  EXPECT_EQ(SerialOpen(sim.Path().c_str(), 9600), nullptr);
}

TEST_F(SerialTest, AnOddSpeedOpensAt9600) {
  SerialClose(port);
  port = SerialOpen(sim.Path().c_str(), 230400);
  ASSERT_NE(port, nullptr);
  termios line{};
  ASSERT_EQ(::tcgetattr(port->fd, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
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

TEST_F(SerialTest, APartialLineWaitsWholeForItsEnding) {
  Receive("CONN", 4);
  EXPECT_EQ(SerialReadLine(port, line), nullptr);
  EXPECT_EQ(SerialAvailable(port), 4u);
  Receive("ECT 9600\r", 13);
  ASSERT_NE(SerialReadLine(port, line), nullptr);
  EXPECT_STREQ(line, "CONNECT 9600");
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
  for (int i = 0; i < 3000 && waiting < 502; ++i) {
    ::ioctl(port->fd, FIONREAD, &waiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(waiting, 502);
  EXPECT_EQ(SerialPoll(port), 502u);
  EXPECT_EQ(SerialAvailable(port), 512u);
  EXPECT_EQ(port->ring[510], 'y');
  EXPECT_EQ(port->ring[511], 'z');
  EXPECT_EQ(port->ring[0], 'b');
  EXPECT_EQ(port->ring[499], 'b');
  EXPECT_EQ(port->ring[500], 'a');  // the ten unread bytes stay
  char rest[512];
  EXPECT_EQ(SerialRead(port, rest, 0), 0u);
  EXPECT_EQ(SerialRead(port, rest, sizeof rest), 512u);
  EXPECT_EQ(std::string(rest, 12), "aaaaaaaaaayz");
}

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

TEST_F(SerialTest, TheModemLinesGoThroughTheirSeam) {
  EXPECT_EQ(SerialCarrier(port), 0);  // a pseudo-terminal has no carrier line
  const SerialLineOps* old = SerialSetLineOps(sim.LineOps());
  SerialSetDtr(port, 2);
  EXPECT_FALSE(sim.Dtr());
  SerialSetDtr(port, 3);
  EXPECT_FALSE(sim.Dtr());
  SerialSetDtr(port, 1);
  EXPECT_TRUE(sim.Dtr());
  sim.SetDialAnswer("CONNECT");
  SerialWrite(port, "ATD1\r", 5);
  ASSERT_TRUE(sim.WaitForCommands(1, 30000));
  for (int i = 0; i < 3000 && !sim.Carrier(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(SerialCarrier(port), 1);
  SerialSetLineOps(old);
}

}  // namespace
