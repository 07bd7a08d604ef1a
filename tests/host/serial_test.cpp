// The serial port over a pseudo-terminal: opening, and the receive ring and
// its line taking.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <cstring>
#include <string>
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
  char path[64];
  ASSERT_TRUE(SerialDevicePath("COM12", path, sizeof path));
  EXPECT_STREQ(path, "/dev/ttyS11");
  for (const char* bad : {"COM0", "COM1x", "ttyS0"})
    EXPECT_FALSE(SerialDevicePath(bad, path, sizeof path)) << bad;
  EXPECT_EQ(SerialLineSpeed(57600), 57600u);
  EXPECT_EQ(SerialLineSpeed(230400), 9600u);
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

}  // namespace
