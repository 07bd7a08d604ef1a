// The text-input session between its owner control or task and the host's window.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"
#include "tests/widgets/fake_text_window.h"
#include "widgets/input.h"
#include "widgets/pwl.h"

#ifdef QOR_WITH_HOSTCORE
#include "host/hosttextinput.h"
#endif

namespace {

// What the owner control received.
struct ControlLog {
  std::vector<uint32_t> messages;
  std::vector<std::u16string> texts;
  std::vector<std::vector<uint32_t>> lists;
};

struct TestControl {
  PwlControl head;
  ControlLog* log;
};

Result TestProc(PwlControl* control, PwlControl*, void* data, uint32_t, uint32_t message,
                uintptr_t argument) {
  ControlLog* log = reinterpret_cast<TestControl*>(control)->log;
  log->messages.push_back(message);
  if (message == PwlMsg::ValueDelivered) {
    if (argument) {  // a list: the items and their count
      const auto* items = static_cast<const uint32_t*>(data);
      log->lists.emplace_back(items, items + argument);
    } else {
      auto* text = static_cast<char16_t*>(data);
      log->texts.emplace_back(text);
      MemFree(&text);  // the control owns the copy
    }
  }
  return kOk;
}

std::vector<uint32_t>* gToolkitKeys = nullptr;

Result ToolkitHandler(void*, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (message == PwlEvent::Key && gToolkitKeys) gToolkitKeys->push_back(static_cast<uint32_t>(arg1));
  return kOk;
}

class InputSessionTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    window_.Install();
    // A toolkit task whose context is the toolkit's record, so that the
    // modal mark can be watched.
    gToolkitKeys = &toolkitKeys_;
    ASSERT_EQ(TskmanCreateTask(&toolkit_, Mod::Pwl, ToolkitHandler, &context_), kOk);
    pageWindow_.frame = {0, 20, 159, 219};
    pageWindow_.origin = {0, 100};
    control_.head.procedure = TestProc;
    control_.head.window = &pageWindow_;
    control_.head.rect = {10, 130, 109, 149};
    control_.log = &log_;
    Pump();
  }
  void TearDown() override {
    window_.Remove();
    gToolkitKeys = nullptr;
    EngineFixture::TearDown();
  }
  PwlControl* control() { return &control_.head; }
  InputSession* Open(const char16_t* mask, uint32_t mode = 1, uint32_t maxLength = 0) {
    return InputSessionOpen(control(), u"Name", u"old", mask, mode, maxLength);
  }
  // A popup's text entry: a session with a task and no control.
  InputSession* OpenForTask(TskmanTask* task, const char16_t* mask = nullptr) {
    InputSession* s = InputSessionOpen(nullptr, u"Prompt", u"", mask, 1, 0);
    if (s) s->ownerTask = task;
    return s;
  }

  FakeTextWindow window_;
  PwlContext context_{};
  TskmanTask* toolkit_ = nullptr;
  std::vector<uint32_t> toolkitKeys_;
  PwlWindow pageWindow_{};
  TestControl control_{};
  ControlLog log_;
};

TEST_F(InputSessionTest, OpeningShowsTheWindowOverTheControlAndMakesTheToolkitModal) {
  Recorder ui(Mod::Ui);
  Pump();
  InputSession* s = InputSessionOpen(control(), u"Name", u"old", u"*N", 0x201, 12);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(window_.opens, 1);
  EXPECT_EQ(window_.title + u"|" + window_.text, u"Name|old");
  EXPECT_EQ(window_.maxLength, 12u);
  // The control's box on the screen (frame + rectangle - scroll origin),
  // inside a one-pixel border.
  ASSERT_TRUE(window_.placed);
  const TiwPlace& p = window_.place;
  EXPECT_EQ((std::vector<int32_t>{p.x, p.y, p.width, p.height}),
            (std::vector<int32_t>{11, 20 + 30 + 1, 99, 20}));
  EXPECT_EQ(context_.modal, 1u);
  // The UI task hears of it at once, not through the ring.
  ASSERT_EQ(ui.Messages(), std::vector<uint32_t>{PwlEvent::InputOpened});
  EXPECT_EQ(TiwOpenSession(), s);
  InputSessionClose(s);
}

// A control that is not placed, or has no window, gets the window in the
// middle of the screen rather than over a box it does not have.
TEST_F(InputSessionTest, AnUnplacedControlGetsTheWindowInTheMiddle) {
  struct Row {
    const char* name;
    PglRect rect;
    bool window;
  };
  for (const Row& row : {Row{"no_left", {-1, 130, 109, 149}, true},
                         Row{"no_top", {10, -1, 109, 149}, true},
                         Row{"upside_down", {10, 149, 109, 130}, true},
                         Row{"back_to_front", {109, 130, 10, 149}, true},
                         Row{"no_window", {10, 130, 109, 149}, false}}) {
    SCOPED_TRACE(row.name);
    control_.head.rect = row.rect;
    control_.head.window = row.window ? &pageWindow_ : nullptr;
    InputSession* s = Open(nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(window_.placed);
    InputSessionClose(s);
  }
  control_.head.window = &pageWindow_;
}

TEST_F(InputSessionTest, TheModeChoosesTheKindOfEdit) {
  const struct {
    uint32_t mode;
    int32_t type;
  } cases[] = {{0x01, TiwType::Line}, {0x03, TiwType::Line}, {0x202, TiwType::MultiLine},
               {0x206, TiwType::Password}};
  for (const auto& c : cases) {
    InputSession* s = Open(nullptr, c.mode);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(window_.type, c.type) << "mode " << c.mode;
    InputSessionClose(s);
  }
}

TEST_F(InputSessionTest, NoWindowMeansNoSessionAndNoModalMark) {
  Recorder ui(Mod::Ui);
  window_.failOpen = true;
  EXPECT_EQ(Open(nullptr), nullptr);
  EXPECT_EQ(context_.modal, 0u);
  EXPECT_EQ(TiwOpenSession(), nullptr);
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(InputSessionTest, AMismatchKeepsTheSessionOpenAndAMatchReachesTheControlAsACopy) {
  InputSession* s = Open(u"\\(NNN\\)");
  EXPECT_EQ(InputSessionSubmitText(s, u"(12)"), InputErr::Mismatch);
  EXPECT_TRUE(log_.messages.empty());
  EXPECT_EQ(window_.closes, 0);
  char16_t typed[] = u"(123)";
  EXPECT_EQ(InputSessionSubmitText(s, typed), kOk);
  typed[1] = u'9';  // the control's copy is its own
  EXPECT_EQ(log_.texts, std::vector<std::u16string>{u"(123)"});
  EXPECT_EQ(log_.messages, (std::vector<uint32_t>{PwlMsg::ValueDelivered, PwlMsg::Redraw}));
  InputSessionClose(s);
}

TEST_F(InputSessionTest, TheMaximumLengthHoldsWithoutAMaskAndTheMaskRulesWithOne) {
  InputSession* s = Open(nullptr, 1, 5);
  EXPECT_EQ(InputSessionSubmitText(s, u"abcdef"), InputErr::TooLong);
  EXPECT_EQ(InputSessionSubmitText(s, u"abcde"), kOk);
  InputSessionClose(s);
  s = Open(u"*M", 1, 5);
  EXPECT_EQ(InputSessionSubmitText(s, u"abcdef"), kOk) << "the mask takes any length";
  InputSessionClose(s);
  s = Open(u"NNN", 1, 5);
  EXPECT_EQ(InputSessionSubmitText(s, u"123456"), InputErr::Mismatch) << "and refuses by itself";
  InputSessionClose(s);
  EXPECT_EQ(log_.texts, (std::vector<std::u16string>{u"abcde", u"abcdef"}));
}

TEST_F(InputSessionTest, AnOwnerTaskGetsTheTextBeforeAnyControlIsAsked) {
  Recorder popup(Mod::Popup);
  InputSession* s = OpenForTask(popup.task(), u"*a");
  ASSERT_NE(s, nullptr);
  s->ownerControl = control();
  EXPECT_EQ(InputSessionSubmitText(s, u"Hi"), InputErr::Mismatch);
  EXPECT_EQ(InputSessionSubmitText(s, u"hi"), kOk);
  Pump();
  ASSERT_EQ(popup.Messages(), std::vector<uint32_t>{PwlEvent::Activated});
  auto* copy = reinterpret_cast<char16_t*>(popup.log.back().arg1);
  EXPECT_EQ(std::u16string(copy), u"hi");
  MemFree(&copy);
  EXPECT_EQ(std::count(log_.messages.begin(), log_.messages.end(), PwlMsg::ValueDelivered), 0);
  InputSessionClose(s);
}

TEST_F(InputSessionTest, AnOwnerTaskGetsNullsForNothingAndACancelEvent) {
  Recorder popup(Mod::Popup);
  InputSession* s = OpenForTask(popup.task());
  EXPECT_EQ(InputSessionSubmitText(s, nullptr), kOk);
  EXPECT_EQ(InputSessionSubmitList(s, 0, nullptr), kOk);
  EXPECT_EQ(InputSessionCancel(s), kOk);
  Pump();
  EXPECT_EQ(std::vector<Received>(popup.log.begin() + 1, popup.log.end()),  // after the start
            (std::vector<Received>{{PwlEvent::Activated, 0, 0},
                                   {PwlEvent::Activated, 0, 0},
                                   {PwlEvent::Cancel, 0, 0}}));
  InputSessionClose(s);
}

TEST_F(InputSessionTest, ClosingRedrawsDeselectsUnmarksAndClosesTheWindowOnce) {
  InputSession* s = Open(nullptr);
  InputSession* slot = s;
  InputSessionSetOwnerSlot(s, &slot);
  EXPECT_EQ(InputSessionClose(s), kOk);
  EXPECT_EQ(log_.messages, std::vector<uint32_t>{PwlMsg::Redraw});
  EXPECT_EQ(context_.modal, 0u);
  EXPECT_EQ(window_.closes, 1);
  EXPECT_EQ(slot, nullptr) << "the owner's pointer to the freed session is cleared";
  EXPECT_EQ(TiwOpenSession(), nullptr);
  Pump();
  EXPECT_EQ(toolkitKeys_, std::vector<uint32_t>{PwlKey::Deselect});
}

#ifdef QOR_WITH_HOSTCORE

TEST_F(InputSessionTest, DoneOnListsHandsOverTheCurrentOrTheChosenItems) {
  InputSession* s = InputSessionOpen(control(), u"", u"", nullptr, 1, 0);
  ASSERT_NE(s, nullptr);
  TiwClose(nullptr);  // the same session, shown as a list instead
  const TiwItem items[] = {{u"one", 0}, {u"two", 1}, {u"three", 0}};
  ASSERT_EQ(TiwOpenList(s, u"Pick", items, TiwMode::Single, 3), s);
  EXPECT_EQ(window_.items, (std::vector<std::u16string>{u"one", u"two", u"three"}));
  window_.current = 2;
  EXPECT_EQ(HostTextInputDone(0), kOk);
  TiwClose(nullptr);
  ASSERT_EQ(TiwOpenList(s, u"Pick", items, TiwMode::Multiple, 3), s);
  EXPECT_EQ(TiwOpenType(), TiwType::Multiple);
  window_.chosen = {0, 2};
  EXPECT_EQ(HostTextInputDone(1), kOk);
  EXPECT_EQ(log_.lists, (std::vector<std::vector<uint32_t>>{{2}, {0, 2}}));
  EXPECT_EQ(TiwOpenSession(), nullptr);
}

#endif  // QOR_WITH_HOSTCORE

}  // namespace
