// The modem driver against the modem simulator: dialling and its answers,
// the answer time-out on an injected clock, both ways of hanging up, the
// carrier, data, and the events the attached task receives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <utility>

#include "host/handset_host.h"
#include "host/platform/handset.h"
#include "host/modem.h"
#include "host/serial.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/poll_until.h"
#include "tools/modemsim.h"

namespace {

class ModemTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    HostHandsetInstall();
    ASSERT_TRUE(sim.Start());
    oldLines = SerialSetLineOps(sim.LineOps());
    oldSleep = SerialSetSleep([](uint32_t) {});
    platform->now = 1000;
    engine = std::make_unique<Recorder>(97);
    Pump();
  }
  void TearDown() override {
    ModemClose();
    SerialSetSleep(oldSleep);
    SerialSetLineOps(oldLines);
    sim.Stop();
    ::unlink(ini.c_str());
    engine.reset();
    EngineFixture::TearDown();
  }

  void Open(const std::string& extra = "") {
    std::ofstream(ini) << "[modem]\nport=" << sim.Path() << "\n" << extra;
    ASSERT_EQ(ModemOpenIni(ini), 0);
    ASSERT_EQ(ModemAttach(&modem, engine->task()), kOk);
  }

  bool Until(const std::function<bool()>& done) {
    return PollUntil(done, [this] { Passes(1); });
  }
  bool UntilEvent(uint32_t message) {
    return Until([&] { return engine->Count(message) > 0; });
  }
  void Passes(int n) {
    for (int i = 0; i < n; ++i) {
      ModemDialPoll();
      ModemPostEvents();
      Pump();
    }
  }
  void Connect() {
    ModemDial(modem, "5551234", 0);
    ASSERT_TRUE(UntilEvent(ModemMsg::Connected));
    engine->log.clear();
  }
  std::vector<Received> Events() const {
    std::vector<Received> out;
    for (const Received& r : engine->log)
      if (r.message != TskMsg::Start) out.push_back(r);
    return out;
  }

  ModemSim sim;
  const SerialLineOps* oldLines = nullptr;
  SerialSleepFn oldSleep = nullptr;
  std::unique_ptr<Recorder> engine;
  ModemState* modem = nullptr;
  std::string ini = "/tmp/qor-modem-" + std::to_string(::getpid()) + ".ini";
};

// Attaching tells the modem that DTR hangs up; a data number dials with its
// own prefix, and a connect answer with its speed connects.
TEST_F(ModemTest, AttachingSetsDtrAndAConnectAnswerConnects) {
  Open("call=ATDT\ncalld=ATDP\n");
  ASSERT_TRUE(sim.WaitForCommands(1, 30000));
  EXPECT_EQ(sim.Commands()[0], "AT&D2");
  sim.SetDialAnswer("CONNECT 115200");
  ModemDial(modem, "5551234", 1);
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Dialling);
  ASSERT_TRUE(UntilEvent(ModemMsg::Connected));
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::Connected, 1, 0}}));
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Connected);
  EXPECT_EQ(sim.Commands().back(), "ATDT5551234");
}

// A second failed dial whose answer comes before the events of the first have
// been looked at again is still told.
TEST_F(ModemTest, TwoFailedDialsBackToBackAreBothTold) {
  Open();
  sim.SetDialAnswer("BUSY");
  ModemDial(modem, "1", 0);
  ASSERT_TRUE(UntilEvent(ModemMsg::DialFailed));
  sim.SetDialAnswer("NO CARRIER");
  ModemDial(modem, "2", 0);
  // Only the line is read until the dial has ended, then the events once.
  ASSERT_TRUE(PollUntil([] { return ModemCurrentStep() == ModemStep::Idle; }, ModemDialPoll));
  ModemPostEvents();
  Pump();
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::DialFailed, kModemBusy, 0},
                                             {ModemMsg::DialFailed, kModemNoAnswer, 0}}));
}

TEST_F(ModemTest, ADialWithoutAnswerFailsOnceItsTimeOutHasPassed) {
  Open("timeout=30\n");
  sim.SetDialAnswer("");
  ModemDial(modem, "1", 0);
  ASSERT_TRUE(sim.WaitForCommands(2, 30000));  // AT&D2 and the dial
  platform->now = 1030;
  Passes(5);
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Dialling);
  platform->now = 1031;
  Passes(1);
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::DialFailed, kModemNoAnswer, 0}}));
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Idle);
}

TEST_F(ModemTest, HangingUpByDtrEscapesAfterTheGuardTimeAndEndsOnOk) {
  Open("guardtime=2\n");
  Connect();
  ModemHangUp(modem);
  EXPECT_FALSE(sim.Dtr());
  EXPECT_EQ(ModemCurrentStep(), ModemStep::HangUpStarted);
  platform->now = 1003;
  Passes(1);
  EXPECT_TRUE(sim.Dtr());
  EXPECT_EQ(ModemCurrentStep(), ModemStep::HangUpSent);
  ASSERT_TRUE(UntilEvent(ModemMsg::HungUp));
  EXPECT_EQ(sim.Commands().back(), "ATH");
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Idle);
  Passes(3);
  // Hung up on purpose: no "dropped" besides the hang-up.
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::HungUp, 0, 0}}));
}

TEST_F(ModemTest, OnlyWithTheCableWatchedIsACarrierDropReported) {
  Open();
  Connect();
  sim.DropCarrier();
  Passes(3);
  EXPECT_TRUE(Events().empty());
  ModemClose();
  Open("cable=1\n");
  Connect();
  sim.DropCarrier();
  Passes(1);
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::Dropped, kModemDropped, 0}}));
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Idle);
}

// "BUSY", "DELAYED" and any part of them read as busy; anything else as no
// answer.
TEST(ModemFailureCodeTest, BusyAndDelayedAndTheirPartsAreBusy) {
  const std::pair<const char*, uint32_t> rows[] = {
      {"BUSY", 0x8001}, {"DELAYED", 0x8001},    {"LAY", 0x8001},
      {"NO CARRIER", 0x8000}, {"BUSY NOW", 0x8000}, {"", 0x8000},
  };
  for (const auto& [answer, code] : rows) EXPECT_EQ(ModemFailureCode(answer), code) << answer;
}

TEST_F(ModemTest, AtTheTimeOutAPartialAnswerGivesItsCode) {
  Open("timeout=30\n");
  sim.SetDialAnswer("");
  ModemDial(modem, "1", 0);
  ASSERT_TRUE(sim.WaitForCommands(2, 30000));
  sim.SendRaw("\r\nBUS");
  ASSERT_TRUE(Until([&] { return ModemAvailable(modem) == 3; }));
  platform->now = 1031;
  Passes(1);
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::DialFailed, kModemBusy, 0}}));
}

TEST_F(ModemTest, AHangUpWithoutAnAnswerEndsAtTheTimeOut) {
  Open("guardtime=2\nhangup_ok=NEVER\ntimeout=5\n");
  Connect();
  ModemHangUp(modem);
  platform->now = 1003;
  Passes(1);
  ASSERT_EQ(ModemCurrentStep(), ModemStep::HangUpSent);
  Passes(20);
  EXPECT_EQ(ModemCurrentStep(), ModemStep::HangUpSent);
  platform->now = 1011;  // past 5 x the guard time from the start
  Passes(1);
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Idle);
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::HungUp, 0, 0}}));
}

TEST_F(ModemTest, HangingUpByReopeningThePortReportsAtOnce) {
  Open("dtrhup=0\n");
  Connect();
  ModemHangUp(modem);
  EXPECT_EQ(ModemCurrentStep(), ModemStep::Idle);
  Passes(3);
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::HungUp, 0, 0}}));
  // The port is open again: the next dial goes out.
  ModemDial(modem, "7", 0);
  ASSERT_TRUE(UntilEvent(ModemMsg::Connected));
}

TEST_F(ModemTest, HangingUpWhileIdleOnlyReports) {
  Open();
  ModemHangUp(modem);
  Pump();
  EXPECT_EQ(Events(), (std::vector<Received>{{ModemMsg::HungUp, 0, 0}}));
}

TEST_F(ModemTest, DataIsAnnouncedOnceUntilTheEngineAsksForItsCount) {
  Open();
  Connect();
  sim.SendRaw("hello");
  ASSERT_TRUE(UntilEvent(ModemMsg::Data));
  sim.SendRaw(" world");
  ASSERT_TRUE(Until([&] { return ModemAvailable(modem) == 11; }));
  EXPECT_EQ(engine->Count(ModemMsg::Data), 1u);
  char buffer[16] = {};
  EXPECT_EQ(ModemRead(modem, buffer, sizeof buffer), 11u);
  EXPECT_STREQ(buffer, "hello world");
  sim.SendRaw("!");
  ASSERT_TRUE(Until([&] { return engine->Count(ModemMsg::Data) == 2; }));
}

TEST_F(ModemTest, WritesGoOutOnlyWhileConnectedAndFullOnesReportRoom) {
  Open();
  ModemWrite(modem, "lost", 4);
  Connect();
  std::string block(32, 'w');
  ModemWrite(modem, block.data(), 32);
  ModemWrite(modem, "tail", 4);
  EXPECT_EQ(ModemWriteRoom(modem), 32u);
  ASSERT_TRUE(Until([&] { return sim.Data().size() == 36; }));
  EXPECT_EQ(sim.Data(), block + "tail");
  EXPECT_EQ(engine->Count(ModemMsg::WriteRoom), 1u);
}

// A port that cannot be opened fails the open and says why, naming the
// setting it came from.
TEST_F(ModemTest, APortThatCannotBeOpenedFailsTheOpenAndSaysWhy) {
  const std::pair<const char*, const char*> rows[] = {
      {"/nonexistent/tty", "/nonexistent/tty (from "},
      {"COM0", "\"COM0\" (from "},
      {"/dev/null", "/dev/null (from "},
  };
  for (const auto& [port, begins] : rows) {
    std::ofstream(ini) << "[modem]\nport=" << port << "\n";
    EXPECT_EQ(ModemOpenIni(ini), -1) << port;
    const std::string why = ModemOpenFailure();
    EXPECT_EQ(why.rfind(begins, 0), 0u) << why;
    EXPECT_NE(why.find(ini), std::string::npos) << why;
  }
  ModemDialPoll();  // without a port nothing happens
}

TEST_F(ModemTest, TheDeviceIdIsEightDigitsWithoutTerminator) {
  char buffer[9];
  buffer[8] = '!';
  ShellGetDeviceId(engine->task(), buffer);
  Pump();
  EXPECT_EQ(std::string(buffer, 9), "12345678!");
  EXPECT_EQ(Events(), (std::vector<Received>{{0x4700, 0, 8}}));
  for (Result r : {PalScardOpen(), PalScardClose(), PalScardTransmit()})
    EXPECT_EQ(r, kPalScardNotSupported);
}

}  // namespace
