// How the host takes a close in each of its states, with no engine running:
// only the host's own marks are looked at.
#include <gtest/gtest.h>

#include "host/hostmain.h"
#include "host/hostsettings.h"

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

}  // namespace
