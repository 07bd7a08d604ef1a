// The whole emulator, offscreen: a text-input session opened over a control
// shows the text-input window; typing and Enter deliver the text to the
// control only once it matches the mask, and the window then goes.
#include <gtest/gtest.h>

#include "widgets/input.h"
#include "widgets/pwl.h"

#include <QTest>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "host/hostmain.h"
#include "host/hostsettings.h"
#include "host/qt/qthost.h"
#include "host/qt/textinput.h"
#include "browser/uiwindow.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "kernel/uistart.h"
#include "tests/support/host_fixture.h"

namespace {

std::vector<std::u16string>* gDelivered = nullptr;

// A control that keeps what the session delivers.
Result KeepText(PwlControl*, PwlControl*, void* data, uint32_t, uint32_t message, uintptr_t) {
  if (message == PwlMsg::ValueDelivered) {
    auto* text = static_cast<char16_t*>(data);
    if (gDelivered) gDelivered->emplace_back(text);
    MemFree(&text);
  }
  return kOk;
}

class TextInputHostTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    WriteIniWithDefaultSkin();
    gDelivered = &delivered_;
  }
  void TearDown() override {
    gDelivered = nullptr;
    HostFixture::TearDown();
  }

  static constexpr int kMaxPolls = 3000;
  int polls_ = 0;
  std::vector<std::u16string> delivered_;
};

TEST_F(TextInputHostTest, TypedTextReachesTheControlUnderItsMask) {
  PwlControl control{};
  control.procedure = KeepText;
  control.rect = {10, 40, 120, 56};
  bool windowShown = false, refusedKept = false, closedAfter = false;
  std::u16string titleWhileTyping, titleAfter;

  QtHostHooks hooks;
  hooks.windowsCreated = [&](QWidget* main) {
    auto* poll = new QTimer(main);
    QObject::connect(poll, &QTimer::timeout, main, [&, poll, main] {
      // A browser that never comes up fails the test instead of hanging it.
      if (!HostCurrentSettings()->browserUp && ++polls_ < kMaxPolls) return;
      poll->stop();
      PwlGetRootWindow(&control.window);
      InputSession* session = InputSessionOpen(&control, u"Code", u"", u"\\#NNN", 1, 0);
      TextInputWindow* window = QtTextInputWindow();
      windowShown = session && window && window->isVisible();
      // The browser view's title line follows the window's focus.
      auto title = [] { return std::u16string(UiGetWindow() ? UiGetWindow()->title : u""); };
      if (windowShown) {
        (void)QTest::qWaitFor([&] { return !title().empty(); }, 2000);
        titleWhileTyping = title();
        QTest::keyClicks(window->editor(), "#12");
        QTest::keyClick(window->editor(), Qt::Key_Return);
        refusedKept = QtTextInputWindow() == window && delivered_.empty();
        QTest::keyClicks(window->editor(), "3");
        QTest::keyClick(window->editor(), Qt::Key_Return);
        closedAfter = QtTextInputWindow() == nullptr;
        titleAfter = title();
      }
      main->close();
    });
    poll->start(10);
  };
  EXPECT_EQ(QtHostRun(hooks), kUiStartFinished);
  EXPECT_TRUE(windowShown);
  EXPECT_TRUE(refusedKept) << "a text the mask refuses keeps the window open";
  EXPECT_EQ(delivered_, std::vector<std::u16string>{u"#123"});
  EXPECT_TRUE(closedAfter);
  EXPECT_EQ(titleWhileTyping, UiGetString(13, 2));
  EXPECT_EQ(titleAfter, UiGetString(13, 3));
}

}  // namespace
