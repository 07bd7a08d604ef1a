// The emulator as a user meets it, offscreen: the engine's modules start in
// order, the splash shows inside the skin, and closing the window stops them
// in reverse order and ends the program; a close that comes while the engine
// is still starting is held until it can be acted on.
#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "graphics/pict.h"
#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/platform/shell.h"
#include "host/qt/qthost.h"
#include "kernel/qorrom.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"
#include "tests/support/host_fixture.h"

namespace {

std::vector<uint32_t>* gLog = nullptr;

// Everything the start-up task receives but its timers.
void Observe(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t) {
  if (gLog && task->id == 45 && message != TskMsg::Timer) gLog->push_back(message);
}

class HostStartupTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    WriteIniWithDefaultSkin();
    gLog = &log_;
    TskmanSetObserver(Observe);
  }
  void TearDown() override {
    TskmanSetObserver(nullptr);
    gLog = nullptr;
    HostFixture::TearDown();
  }
  // Calls `act` every 10 ms until it answers true, then closes the window.
  static void CloseWhen(QWidget* main, std::function<bool()> act) {
    auto* poll = new QTimer(main);
    QObject::connect(poll, &QTimer::timeout, main, [poll, main, act] {
      if (!act()) return;
      poll->stop();
      main->close();
    });
    poll->start(10);
  }

  std::vector<uint32_t> log_;
};

const std::vector<uint32_t> kServicesUp = {256,    0x200,  0x5100, 0x5200, 0x3100,
                                           0x1700, 0x1711, 0x4A00, 0x4507, 0x2D82};
const std::vector<uint32_t> kBrowserUp = {0x2D83, 0x2D84, 0x3A02, 0, 0x4D00, 0x2D85};
const std::vector<uint32_t> kBrowserDown = {0x1304, 0x4D06, 1, 0x3A03};
const std::vector<uint32_t> kServicesDown = {0x2D80, 0x4506, 0x4A09, 0x1713, 0x1701,
                                             0x3102, 0x5102, 0x203,  0x2D81};

std::vector<uint32_t> Join(std::initializer_list<std::vector<uint32_t>> parts) {
  std::vector<uint32_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(HostStartupTest, ModulesStartInOrderTheSplashShowsAndACloseStopsThemInReverse) {
  uint16_t shown = 0, expected = 1;
  QtHostHooks hooks;
  hooks.windowsCreated = [&](QWidget* main) {
    CloseWhen(main, [&] {
      HostSettings* s = HostCurrentSettings();
      if (s->hostState != HostState::BrowserRunning || !s->browserUp) return false;
      PglSurface picture{};
      const uint8_t* file = nullptr;
      EXPECT_EQ(PictLoadImage("ui/splash", 0, &picture, &file), kOk);
      if (!file) return true;
      const ShellScreen& screen = ShellGetScreen();
      const uint32_t x = picture.width / 2, y = picture.height / 2;
      expected = reinterpret_cast<const uint16_t*>(PglPixels(&picture) + y * picture.pitch * 2)[x];
      shown = screen.pixels[((screen.height - picture.height) / 2 + y) * screen.pitch +
                            (screen.width - picture.width) / 2 + x];
      QorRomRelease(file);
      return true;
    });
  };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(log_, Join({kServicesUp, kBrowserUp, kBrowserDown, kServicesDown}));
}

TEST_F(HostStartupTest, ACloseWhileStartingIsHeldUntilTheServicesAreUp) {
  QtHostHooks hooks;
  hooks.windowsCreated = [](QWidget* main) { main->close(); };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  // The browser phase never begins; the services stop once they are up.
  EXPECT_EQ(log_, Join({kServicesUp, kServicesDown}));
}

// Ctrl+C and SIGTERM in the terminal are a close of the window: the whole
// stop chain runs and the history files are saved.
class HostSignalTest : public HostStartupTest, public ::testing::WithParamInterface<int> {};

TEST_P(HostSignalTest, ASignalStopsLikeACloseAndNothingIsLost) {
  const int signal = GetParam();
  QtHostHooks hooks;
  hooks.windowsCreated = [signal](QWidget* main) {
    auto* poll = new QTimer(main);
    QObject::connect(poll, &QTimer::timeout, main, [poll, signal] {
      if (!HostCurrentSettings()->browserUp) return;
      poll->stop();
      ::raise(signal);
    });
    poll->start(10);
  };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  EXPECT_EQ(log_, Join({kServicesUp, kBrowserUp, kBrowserDown, kServicesDown}));
  EXPECT_TRUE(std::filesystem::exists("hist.dat"));
  EXPECT_TRUE(std::filesystem::exists("IntHist.dat"));
}

INSTANTIATE_TEST_SUITE_P(Terminal, HostSignalTest, ::testing::Values(SIGINT, SIGTERM));

// Starts that fail end with their reason on standard error (the offscreen
// message box) and a result that is not the normal end.
class HostStartFailureTest : public HostFixture {
 protected:
  Result RunCapturing(std::string* err) {
    ::testing::internal::CaptureStderr();
    Result r = QtHostRun();
    *err = ::testing::internal::GetCapturedStderr();
    return r;
  }
};

TEST_F(HostStartFailureTest, ABridgePortTakenIsToldAndEndsTheStart) {
  WriteIniWithDefaultSkin();
  int taken = ::socket(AF_INET6, SOCK_DGRAM, 0);
  int off = 0;
  ::setsockopt(taken, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(smsPort_);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  std::string err;
  Result r = RunCapturing(&err);
  ::close(taken);
  EXPECT_TRUE(ResultFailed(r));
  EXPECT_NE(r, kUiStartFinished);
  EXPECT_NE(err.find("could not use UDP port " + std::to_string(smsPort_)), std::string::npos)
      << err;
}

// One kilobyte is too little for the task manager, four for the browser.
class HostMemoryFailureTest : public HostStartFailureTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(HostMemoryFailureTest, TooLittleMemoryIsToldAndEndsTheStart) {
  WriteIniWithDefaultSkin("[Memory]\nSize=" + std::to_string(GetParam()) + "\n");
  std::string err;
  Result r = RunCapturing(&err);
  EXPECT_TRUE(ResultFailed(r));
  EXPECT_NE(r, kUiStartFinished);
  EXPECT_NE(err.find("could not start"), std::string::npos) << err;
  EXPECT_NE(err.find("memory may be too small"), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Kilobytes, HostMemoryFailureTest, ::testing::Values(1, 4));

}  // namespace
