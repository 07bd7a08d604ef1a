// The display window's desktop keys and clicks, offscreen: each key reaches
// the input handling as the key it stands for, the shifted digits of "*" and
// "#" included, and a left click as a tap.
#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <vector>

#include "host/hostinput.h"
#include "host/hostsettings.h"
#include "host/qt/displaywidget.h"
#include "host/skin.h"
#include "tests/support/command_watch.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/qt_app.h"

namespace {

using Cmd = SentCommand;

class DisplayWidgetTest : public EngineFixture {
 protected:
  static void SetUpTestSuite() { EnsureQApplication(); }
  void SetUp() override {
    EngineFixture::SetUp();
    ui = std::make_unique<Recorder>(Mod::Ui);
    HostSettingsClear(&settings);
    ShellSkinReset();
    ops = {this, [](void*, int32_t) {}, [](void*) {}, [](void*, int32_t, bool) {},
           [](void*, bool) {}, [](void* c) { ++static_cast<DisplayWidgetTest*>(c)->languages; }};
    HostInputInstall(&ops);
    Pump();
  }
  void TearDown() override {
    HostInputInstall(nullptr);
    ui.reset();
    EngineFixture::TearDown();
  }
  std::vector<Cmd> Sent() {
    Pump();
    std::vector<Cmd> out = watch.seen;
    watch.seen.clear();
    return out;
  }

  CommandWatch watch;
  std::unique_ptr<Recorder> ui;
  HostSettings settings;
  HostInputOps ops;
  int languages = 0;
};

// The widget's commands for a key are those of the key it stands for, held
// and let go, with the character it types.
TEST_F(DisplayWidgetTest, DesktopKeysStandForTheirHostKeys) {
  struct Row {
    Qt::Key qt;
    Qt::KeyboardModifiers modifiers;
    HostKey key;
    bool shift;
    char32_t typed;  // 0: none
  };
  const Row rows[] = {
      {Qt::Key_F3, {}, HostKey::F3, false, 0},
      {Qt::Key_F4, {}, HostKey::F4, false, 0},
      {Qt::Key_F8, {}, HostKey::F8, false, 0},
      {Qt::Key_F9, {}, HostKey::F9, false, 0},
      {Qt::Key_Home, {}, HostKey::Home, false, 0},
      {Qt::Key_End, {}, HostKey::End, false, 0},
      {Qt::Key_Return, {}, HostKey::Enter, false, 0},
      {Qt::Key_Enter, {}, HostKey::Enter, false, 0},
      {Qt::Key_Left, {}, HostKey::Left, false, 0},
      {Qt::Key_Right, {}, HostKey::Right, false, 0},
      {Qt::Key_Up, {}, HostKey::Up, false, 0},
      {Qt::Key_Down, {}, HostKey::Down, false, 0},
      {Qt::Key_PageUp, {}, HostKey::PageUp, false, 0},
      {Qt::Key_PageDown, {}, HostKey::PageDown, false, 0},
      {Qt::Key_Delete, {}, HostKey::Delete, false, 0},
      {Qt::Key_Backspace, {}, HostKey::Backspace, false, 0},
      {Qt::Key_Asterisk, Qt::KeypadModifier, HostKey::NumpadMultiply, false, U'*'},
      {Qt::Key_Asterisk, {}, HostKey::Digit8, true, U'*'},
      {Qt::Key_NumberSign, {}, HostKey::Digit3, true, U'#'},
      {Qt::Key_8, {}, HostKey::Digit8, false, U'8'},
      {Qt::Key_3, Qt::ShiftModifier, HostKey::Digit3, true, U'3'},
      {Qt::Key_5, {}, HostKey::Other, false, U'5'},
      {Qt::Key_Tab, {}, HostKey::Other, false, 0},
  };
  DisplayWidget widget(&settings, nullptr);
  for (const Row& row : rows) {
    HostKeyDown(&settings, row.key, row.shift);
    if (row.typed) HostCharTyped(&settings, row.typed);
    HostKeyUp(&settings, row.key);
    const std::vector<Cmd> expected = Sent();
    QTest::keyClick(&widget, row.qt, row.modifiers);
    EXPECT_EQ(Sent(), expected) << QTest::toString(row.qt);
  }
  EXPECT_EQ(languages, 0);
  QTest::keyClick(&widget, Qt::Key_F2);
  EXPECT_EQ(languages, 1);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(DisplayWidgetTest, ALeftClickReleasedIsATap) {
  DisplayWidget widget(&settings, nullptr);
  widget.resize(100, 100);
  HostDisplayTap(&settings, 12, 34);
  const std::vector<Cmd> tap = Sent();
  ASSERT_EQ(tap.size(), 1u);
  QTest::mouseClick(&widget, Qt::RightButton, {}, QPoint(12, 34));
  EXPECT_TRUE(Sent().empty());
  QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(12, 34));
  EXPECT_EQ(Sent(), tap);
  EXPECT_FALSE(widget.grab().isNull());  // no screen yet: painted white
}

}  // namespace
