// How the host takes a close in each of its states, with no engine running:
// only the host's own marks are looked at; and the text a failed start shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/smsbridge.h"

namespace {

class HostStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostSettingsClear(&s);
    s.hostState = HostState::Starting;
  }
  HostSettings s;
};

TEST_F(HostStateTest, ACloseBeforeTheBrowserWindowExistsWaitsForIt) {
  s.hostState = HostState::BrowserRunning;  // the browser phase has begun
  HostOnClose(&s);
  EXPECT_TRUE(s.closePending);
  HostOnStateChanged(&s, HostState::BrowserRunning, 0);
  EXPECT_TRUE(s.browserUp);
  EXPECT_TRUE(s.stopping);
  EXPECT_FALSE(s.closePending);
}

TEST_F(HostStateTest, AHeldCloseDuringTheBridgeStartStopsTheBridgeInstead) {
  HostOnClose(&s);
  s.closePending = true;
  HostOnStateChanged(&s, HostState::BrowserStarting, 0);
  EXPECT_EQ(s.hostState, HostState::BrowserStarting);
  EXPECT_TRUE(s.stopping);
}

TEST_F(HostStateTest, ACloseWhileStartingWaitsForTheServices) {
  HostOnClose(&s);
  EXPECT_TRUE(s.closePending);
  EXPECT_FALSE(s.stopping);
  HostOnStateChanged(&s, HostState::ServicesUp, 0);
  EXPECT_FALSE(s.closePending);
  EXPECT_TRUE(s.stopping);
  EXPECT_EQ(s.hostState, HostState::ServicesUp);
}

TEST_F(HostStateTest, FurtherClosesAreIgnoredOnceAStopRuns) {
  s.hostState = HostState::ServicesUp;
  HostOnClose(&s);
  EXPECT_TRUE(s.stopping);
  s.hostState = HostState::BrowserStarting;
  HostOnClose(&s);
  EXPECT_FALSE(s.closePending);
}

// The failed phase names its likely cause and what to change.
TEST_F(HostStateTest, AFailedStartSaysWhatToChange) {
  struct Row {
    HostState state;
    const char* begins;
    const char* advice;
  };
  const Row rows[] = {
      {HostState::BridgeDown, "The short-message bridge could not use UDP port ",
       "([SMS] Port and PeerPort)"},
      {HostState::BrowserStarting, "The browser could not start (error 0x80001234)",
       "raise [Memory] Size"},
      {HostState::BrowserRunning, "The browser could not start (error 0x80001234)",
       "raise [Memory] Size"},
      {HostState::Starting, "The engine could not start (error 0x80001234)",
       "raise [Memory] Size"},
  };
  for (const Row& row : rows) {
    s.startFailure = 0x80001234;
    s.startFailureState = row.state;
    char text[512];
    HostStartFailureText(&s, text, sizeof text);
    const std::string shown = text;
    EXPECT_EQ(shown.rfind(row.begins, 0), 0u) << shown;
    EXPECT_NE(shown.find(row.advice), std::string::npos) << shown;
  }
}

// A port qor.ini asked for that was not usable is named beside the one the
// bridge tried instead.
TEST_F(HostStateTest, ABridgeThatFailedOnTheStandInPortNamesThePortAskedFor) {
  s.startFailure = 0x80001234;
  s.startFailureState = HostState::BridgeDown;
  std::snprintf(s.smsPortAsked, sizeof s.smsPortAsked, "99999");
  SmsBridgeSetPorts(12345, 12346);
  char text[512];
  HostStartFailureText(&s, text, sizeof text);
  const std::string shown = text;
  for (const char* said : {"asked for in qor.ini ([SMS] Port=99999) is not usable",
                           "could not use port 12345, which it tried instead"})
    EXPECT_NE(shown.find(said), std::string::npos) << shown;
}

}  // namespace
