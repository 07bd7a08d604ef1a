// The real host, offscreen: it starts from qor.ini, opens its window, runs
// the loop with the engine, and ends when the window is closed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/platform/shell.h"
#include "host/qt/qthost.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"

namespace {

class HostOffscreenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "host_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }

  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qor-host-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  void WriteIni(const std::string& text) { std::ofstream("qor.ini") << text; }

  std::filesystem::path dir_, old_;
};

TEST_F(HostOffscreenTest, StartsRunsTheEngineAndStopsWhenTheWindowCloses) {
  WriteIni("[Memory]\nSize=256\n[Display]\nPhoneSize=small\n");
  std::vector<std::string> boxes;
  int32_t stateWhenShown = -1;
  bool tickWorked = false;
  QtHostHooks hooks;
  hooks.messageBox = [&](const std::string&, const std::string& text) { boxes.push_back(text); };
  hooks.windowsCreated = [&](QWidget* main) {
    EXPECT_EQ(main->windowTitle(), "QOR v3");
    // Let the engine come up, then close the window as a user would.
    QTimer::singleShot(300, main, [&, main] {
      stateWhenShown = HostCurrentSettings()->hostState;
      // The 50 ms tick reaches the engine through the window system.
      TskmanTask* task = nullptr;
      TskmanCreateTask(&task, 97, [](void* ok, uint32_t message, uintptr_t, uintptr_t) {
        if (message == TskMsg::Timer) *static_cast<bool*>(ok) = true;
        return kOk;
      }, &tickWorked);
      TskmanTimer* timer = nullptr;
      TskmanStartTimer(&timer, task, 0, 0, 50);
      QTimer::singleShot(400, main, [main] { main->close(); });
    });
  };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  EXPECT_EQ(stateWhenShown, 0);
  EXPECT_TRUE(tickWorked);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("No skin bitmaps found!", 0), 0u);
  EXPECT_EQ(QtHostMainWindow(), nullptr);
}

TEST_F(HostOffscreenTest, TheScreenFollowsThePhoneSizeAndStartsWhite) {
  WriteIni("[Display]\nPhoneSize=LARGE\n");
  ShellScreen seen{};
  bool white = false;
  QtHostHooks hooks;
  hooks.messageBox = [](const std::string&, const std::string&) {};
  hooks.windowsCreated = [&](QWidget* main) {
    seen = ShellGetScreen();
    white = seen.pixels && seen.pixels[0] == 0xFFFF &&
            seen.pixels[seen.pitch * (seen.height - 1) + seen.width - 1] == 0xFFFF;
    QTimer::singleShot(50, main, [main] { main->close(); });
  };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  EXPECT_EQ(seen.width, 160);
  EXPECT_EQ(seen.height, 240);
  EXPECT_EQ(seen.pitch, 160);
  EXPECT_TRUE(white);
}

TEST_F(HostOffscreenTest, TheQuitFlagEndsTheLoopWithoutTheEngine) {
  WriteIni("");
  QtHostHooks hooks;
  hooks.messageBox = [](const std::string&, const std::string&) {};
  hooks.windowsCreated = [](QWidget* main) {
    QTimer::singleShot(50, main, [] { QtHostRequestQuit(); });
  };
  EXPECT_NE(QtHostRun(hooks), kUiStartFinished);
}

}  // namespace
