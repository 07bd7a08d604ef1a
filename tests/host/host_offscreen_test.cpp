// The real host, offscreen: it starts from qor.ini, opens its window, runs
// the loop with the engine, and ends when the window is closed.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/platform/shell.h"
#include "host/qt/qthost.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"
#include "tests/support/command_watch.h"
#include "tests/support/host_fixture.h"

namespace {

using HostOffscreenTest = HostFixture;

TEST_F(HostOffscreenTest, StartsRunsTheEngineAndStopsWhenTheWindowCloses) {
  WriteIni("[Memory]\nSize=256\n[Display]\nPhoneSize=small\n");
  std::vector<std::string> boxes;
  HostState stateWhenShown = HostState::Starting;
  bool tickWorked = false;
  TskmanTask* task = nullptr;
  TskmanTimer* timer = nullptr;
  int polls = 0;
  QtHostHooks hooks;
  hooks.messageBox = [&](const std::string&, const std::string& text) { boxes.push_back(text); };
  hooks.windowsCreated = [&](QWidget* main) {
    EXPECT_EQ(main->windowTitle(), "QOR v3");
    // Wait for the engine to come up (polling, so a loaded machine only makes
    // it slower), then let the 50 ms tick reach it, then close the window as
    // a user would.
    auto* poll = new QTimer(main);
    QObject::connect(poll, &QTimer::timeout, main, [&, main, poll] {
      ++polls;
      if (!task) {
        stateWhenShown = HostCurrentSettings()->hostState;
        if (stateWhenShown != HostState::BrowserRunning && polls < 3000) return;
        TskmanCreateTask(&task, 97, [](void* ok, uint32_t message, uintptr_t, uintptr_t) {
          if (message == TskMsg::Timer) *static_cast<bool*>(ok) = true;
          return kOk;
        }, &tickWorked);
        TskmanStartTimer(&timer, task, 0, 0, 50);
        return;
      }
      if (!tickWorked && polls < 3000) return;
      poll->stop();
      main->close();
    });
    poll->start(10);
  };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  // The SMS datagram bridge came up, so the browser phase began.
  EXPECT_EQ(stateWhenShown, HostState::BrowserRunning);
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

// The default skin around the screen: buttons and keys as a user meets them.
class HostSkinTest : public HostOffscreenTest {
 protected:
  using Cmd = SentCommand;
  // The commands the UI task has received once the engine has taken every
  // pending event (the host loop does not step it while a test acts).
  std::vector<Cmd> Sent() {
    for (int i = 0; i < 100000 && TskmanPendingCount() > 0; ++i) TskmanStep();
    return watch.seen;
  }
  // Runs the host with the default skin and calls `act` once the browser
  // window's task is up.
  void RunWithSkin(std::function<void(QWidget* main, QWidget* display)> act) {
    WriteIniWithDefaultSkin();
    QtHostHooks hooks;
    hooks.messageBox = [&](const std::string&, const std::string& text) { boxes.push_back(text); };
    hooks.windowsCreated = [&](QWidget* main) {
      auto* poll = new QTimer(main);
      QObject::connect(poll, &QTimer::timeout, main, [&, main, poll] {
        if (!TskmanFind(Mod::Ui) && ++polls < 3000) return;
        poll->stop();
        EXPECT_NE(TskmanFind(Mod::Ui), nullptr);
        act(main, QtHostDisplayWindow());
        main->close();
      });
      poll->start(10);
    };
    EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  }
  CommandWatch watch;
  int polls = 0;
  std::vector<std::string> boxes;
};

TEST_F(HostSkinTest, TheSkinSurroundsTheScreen) {
  QSize size, screenAt;
  RunWithSkin([&](QWidget* main, QWidget* display) {
    size = main->size();
    screenAt = QSize(display->x(), display->y());
    QImage shot = main->grab().toImage();
    // The body around the screen is dark; the screen shows the frame buffer.
    EXPECT_LT(qGray(shot.pixel(130, 70)), 128);
    const ShellScreen& screen = ShellGetScreen();
    for (QPoint p : {QPoint(0, 0), QPoint(80, 96), QPoint(159, 239)}) {
      const uint16_t pixel = screen.pixels[p.y() * screen.pitch + p.x()];
      const QRgb expected = QImage(reinterpret_cast<const uchar*>(&pixel), 1, 1, 2,
                                   QImage::Format_RGB16).pixel(0, 0);
      EXPECT_EQ(shot.pixel(p + QPoint(50, 104)), expected) << p.x() << "," << p.y();
    }
  });
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(size, QSize(260, 620));
  EXPECT_EQ(screenAt, QSize(50, 104));
}

TEST_F(HostSkinTest, DesktopKeysSendCommandsAndTableKeysSwallowTheirCharacters) {
  std::vector<Cmd> sent;
  RunWithSkin([&](QWidget*, QWidget* display) {
    Sent();
    watch.seen.clear();
    QTest::keyClick(display, Qt::Key_Down);
    QTest::keyClick(display, Qt::Key_Backspace);
    QTest::keyClick(display, Qt::Key_7);
    QTest::keyClick(display, Qt::Key_F8);
    QTest::keyClick(display, Qt::Key_Return);
    sent = Sent();
  });
  EXPECT_EQ(sent, (std::vector<Cmd>{{6, 0}, {21, 0}, {27, '7'}, {13, 0}, {9, 0}}));
}

}  // namespace
