// The display window's desktop keys and clicks, offscreen: each key reaches
// the input handling as the key it stands for, the shifted digits of "*" and
// "#" included, and a left click as a tap; the main window's size from its
// skin and its clicks on the skin's buttons.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <string>
#include <cstdio>
#include <memory>
#include <vector>

#include "host/hostinput.h"
#include "host/hostmain.h"
#include "host/ini.h"
#include "host/hostsettings.h"
#include "host/qt/displaywidget.h"
#include "host/qt/mainwindow.h"
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

// Skin pictures are QImages the size their name says ("w x h").
class MainWindowTest : public DisplayWidgetTest {
 protected:
  void SetUp() override {
    DisplayWidgetTest::SetUp();
    images = {nullptr,
              [](void*, const char* path) -> void* {
                int w = 0, h = 0;
                std::sscanf(path, "%dx%d", &w, &h);
                auto* image = new QImage(w, h, QImage::Format_RGB32);
                image->fill(Qt::gray);
                return image;
              },
              [](void*, void* image) { delete static_cast<QImage*>(image); },
              [](void*) { return true; }};
    ShellSkinInstallImageOps(&images);
  }
  void TearDown() override {
    ShellUnloadSkin();
    ShellSkinInstallImageOps(nullptr);
    HostFreeFrameBuffer(&settings);
    DisplayWidgetTest::TearDown();
  }
  void LoadSkin(const std::string& text) {
    IniFile ini;
    ini.LoadText(text);
    ASSERT_EQ(ShellLoadSkinFrom(ini, "", &settings), 1);
  }
  ShellSkinImageOps images;
};

// The window takes the picture's size and places the screen where the skin
// says; a click on a button is that button pressed, a double click too.
TEST_F(MainWindowTest, TheSkinSizesTheWindowAndItsButtonsTakeClicks) {
  LoadSkin("[screen]\nposition=20,30,100,80\n[images]\nhiskin0=240x400\nhiskin1=240x400\n"
           "[buttons]\nPad 5=10,200,40,30\nPad 6=60,200,40,30\n[mapping]\nselect=Pad 5\n");
  MainWindow window(&settings);
  EXPECT_EQ(window.size(), QSize(240, 400));
  ASSERT_NE(window.display(), nullptr);
  EXPECT_EQ(window.display()->geometry(), QRect(20, 30, 101, 81));
  for (bool twice : {false, true}) {
    HostButtonDown(&settings, 20, 210, twice);
    HostButtonUp(&settings, false);
    const std::vector<Cmd> expected = Sent();
    ASSERT_FALSE(expected.empty());
    if (twice)
      QTest::mouseDClick(&window, Qt::LeftButton, {}, QPoint(20, 210));
    else
      QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(20, 210));
    EXPECT_EQ(Sent(), expected) << twice;
  }
  QTest::mouseClick(&window, Qt::RightButton, {}, QPoint(20, 210));
  QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(200, 20));  // no button there
  EXPECT_TRUE(Sent().empty());
  // The pressed look drawn over the picture; outside the table nothing.
  settings.pressedButton = 4;
  window.redrawButton(4);
  window.redrawButton(-1);
  window.redrawButton(kShellSkinButtonCount);
  EXPECT_FALSE(window.grab().isNull());
  window.startRepeat(1000);
  window.stopRepeat();
}

// A skin taller than the desktop is shown from a row down in a shorter
// window, and clicks are placed on the picture.
TEST_F(MainWindowTest, ASkinTallerThanTheDesktopIsCropped) {
  const int tall = QGuiApplication::primaryScreen()->availableGeometry().height() + 1;
  LoadSkin("[screen]\nposition=20,100,100,80\n[images]\nhiskin0=240x" + std::to_string(tall) +
           "\n[buttons]\nPad 5=10,300,40,30\n[mapping]\nselect=Pad 5\n");
  MainWindow window(&settings);
  EXPECT_EQ(window.size(), QSize(240, 500));
  EXPECT_EQ(settings.skinCropRow, 54);
  EXPECT_EQ(window.display()->geometry(), QRect(20, 100 - 54, 101, 81));
  HostButtonDown(&settings, 20, 310, false);
  HostButtonUp(&settings, false);
  const std::vector<Cmd> expected = Sent();
  ASSERT_FALSE(expected.empty());
  QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(20, 310 - 54));
  EXPECT_EQ(Sent(), expected);
}

// Without a skin the window frames the screen at its place. The host has
// said why before making the window, so the window says nothing more.
TEST_F(MainWindowTest, WithoutASkinTheWindowFramesTheScreen) {
  settings.display = {10, 20, 96, 64};
  MainWindow window(&settings);
  EXPECT_EQ(window.size(), QSize(10 * 2 + 96 + 1, 20 + 64 + 1 + 10));
  EXPECT_TRUE(platform->messageBoxes.empty());
  EXPECT_FALSE(window.grab().isNull());
}

}  // namespace
