// Skin buttons with their long-press repeat, typed digits and taps, as the
// handset commands they send.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/hostinput.h"
#include "host/hostsettings.h"
#include "host/platform/shell.h"
#include "host/skin.h"
#include "tests/support/command_watch.h"
#include "tests/support/engine_fixture.h"

namespace {

using Cmd = SentCommand;

// The commands reach a stand-in UI task through the real task manager.
class HostInputTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ui = std::make_unique<Recorder>(Mod::Ui);
    HostSettingsClear(&settings);
    settings.repeatDelayMs = 220;
    settings.repeatIntervalMs = 30;
    ShellSkinReset();
    // "Pad 6" at (100, 200) 20 x 10 gives "next"; "Pad 5" gives "select".
    ShellSkinSetButton(0, {230, 100, 200, 20, 10, 1, 100, 200, 20, 10});
    ShellSkinSetButton(1, {229, 10, 20, 30, 40, 1, 10, 20, 30, 40});
    ShellSkinMapCommand("next", 230);
    ShellSkinMapCommand("select", 229);
    ops = {this,
           [](void* c, int32_t ms) { Self(c)->log.push_back("timer " + std::to_string(ms)); },
           [](void* c) { Self(c)->log.push_back("stop"); },
           [](void* c, int32_t i, bool pressed) {
             Self(c)->log.push_back((pressed ? "down " : "up ") + std::to_string(i));
           },
           [](void* c, bool on) { Self(c)->log.push_back(on ? "capture" : "release"); },
           [](void* c) { Self(c)->log.push_back("language"); }};
    HostInputInstall(&ops);
  }
  void TearDown() override {
    HostInputInstall(nullptr);
    ShellSkinReset();
    ui.reset();
    EngineFixture::TearDown();
  }
  static HostInputTest* Self(void* c) { return static_cast<HostInputTest*>(c); }
  std::vector<Cmd> Sent() {
    Pump();
    return watch.seen;
  }

  CommandWatch watch;
  std::unique_ptr<Recorder> ui;

  HostSettings settings;
  HostInputOps ops;
  std::vector<std::string> log;
};

TEST_F(HostInputTest, AShortPressOfARepeatingButtonSendsItsCommandOnceOnRelease) {
  HostButtonDown(&settings, 105, 205, false);
  EXPECT_TRUE(Sent().empty());
  HostButtonUp(&settings, false);
  // The argument is the button's index in the table.
  EXPECT_EQ(Sent(), (std::vector<Cmd>{{3, 0}}));
  EXPECT_EQ(log, (std::vector<std::string>{"down 0", "capture", "timer 220", "stop", "up 0",
                                           "release"}));
}

TEST_F(HostInputTest, AHeldButtonRepeatsThenSendsItsReleaseCommand) {
  HostButtonDown(&settings, 105, 205, false);
  HostRepeatTimer(&settings);
  HostRepeatTimer(&settings);
  HostButtonUp(&settings, false);
  EXPECT_EQ(Sent(), (std::vector<Cmd>{{24, 0}, {24, 0}, {25, 0}}));
  EXPECT_EQ(log[2], "timer 220");
  EXPECT_EQ(log[3], "timer 30");
  EXPECT_EQ(log[4], "timer 30");
}

TEST_F(HostInputTest, TypedDigitsGoThroughTheSkinMapping) {
  ShellKeyMapAdd(224, '0');
  HostKeyDown(&settings, HostKey::Other, false);
  HostCharTyped(&settings, U'0');  // access key: a character
  HostCharTyped(&settings, U'6');  // "Pad 6" is mapped to "next"
  HostCharTyped(&settings, U'a');  // not a handset key
  EXPECT_EQ(Sent(), (std::vector<Cmd>{{27, '0'}, {3, 0}}));
}

TEST_F(HostInputTest, ATapSendsItsPositionPacked) {
  HostDisplayTap(&settings, 37, 120);
  EXPECT_EQ(Sent(), (std::vector<Cmd>{{11, (120u << 16) | 37u}}));
}

}  // namespace
