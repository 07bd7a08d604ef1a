// Popup dialogs: each kind opens over the page, answers its reply task with
// exactly one 0x2a09 carrying the documented values, and goes away leaving
// no task behind; list layouts, line breaking and cancelling.
#include <string>

#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "tests/widgets/fake_text_window.h"
#include "tests/widgets/sel_fixture.h"
#include "widgets/input.h"
#include "widgets/popup.h"
#include "widgets/pwl_text.h"
#include "widgets/pwl_textbox.h"

namespace {

class PopupTest : public SelFixture {
 protected:
  PopupTest() { realClasses = true; }
  void SetUp() override {
    SelFixture::SetUp();
    window.Install();
    reply = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
  }
  void TearDown() override {
    window.Remove();
    reply.reset();
    SelFixture::TearDown();
  }
  std::vector<Received> Answers() const {
    std::vector<Received> out;
    for (const Received& r : reply->log)
      if (r.message == PwlEvent::PopupAnswer) out.push_back(r);
    return out;
  }
  TskmanTask* Popup() const { return TskmanFind(Mod::Popup); }
  PopupRequest* Request() const {
    void* context = nullptr;
    if (TskmanTask* t = Popup()) TskmanGetContext(&context, t);
    return static_cast<PopupRequest*>(context);
  }
  // A key as the UI task hands it to the popup.
  void PopupKey(uint32_t subCode) {
    TskmanPost(Popup(), PwlEvent::Key, subCode, 0);
    Pump();
  }
  void ExpectOneAnswer(uintptr_t value, uintptr_t flag) {
    const auto answers = Answers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].arg1, value);
    EXPECT_EQ(answers[0].arg2, flag);
    EXPECT_EQ(Popup(), nullptr);
  }

  FakeTextWindow window;
  std::unique_ptr<Recorder> reply;
};

// ---- message and confirm ----------------------------------------------------------------

TEST_F(PopupTest, AConfirmWithEmptyLabelsOffersOkAndCancelAndSoftKeyOneAnswersYes) {
  ASSERT_EQ(PopupConfirm(u"Delete the page?", u"", nullptr, reply->task()), kOk);
  Pump();
  ASSERT_NE(Popup(), nullptr);
  EXPECT_EQ(PopupShowingMark, 1u);
  auto labels = UiEvents(PwlEvent::Labels);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].text1, UiGetString(13, 12));
  EXPECT_EQ(labels[0].text2, UiGetString(13, 13));
  EXPECT_EQ(context->active, Request()->window);
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/popup_confirm.png", image));
  PopupKey(PwlKey::Soft1);
  ExpectOneAnswer(1, 1);
  EXPECT_EQ(PopupShowingMark, 0u);
  EXPECT_EQ(context->active, root);
  EXPECT_EQ(root->hidden, 0u);
  EXPECT_EQ(UiEvents(PwlEvent::RedrawPage).size(), 1u);
}

TEST_F(PopupTest, SoftKeyTwoOfAConfirmAnswersNo) {
  ASSERT_EQ(PopupConfirm(u"Go on?", u"Yes", u"No", reply->task()), kOk);
  Pump();
  auto labels = UiEvents(PwlEvent::Labels);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].text1, u"Yes");
  PopupKey(PwlKey::Soft2);
  ExpectOneAnswer(0, 0);
}

TEST_F(PopupTest, AMessageAnswersNoThroughItsButtonButYesThroughAccept) {
  ASSERT_EQ(PopupMessage(u"Saved.", reply->task()), kOk);
  Pump();
  PopupKey(PwlKey::Soft1);
  ExpectOneAnswer(0, 0);
  reply->log.clear();
  ASSERT_EQ(PopupMessage(u"Saved.", reply->task()), kOk);
  Pump();
  TskmanPost(Popup(), PwlEvent::PopupCommand, PopupCmd::Accept, 0);
  Pump();
  ExpectOneAnswer(1, 1);
}

TEST_F(PopupTest, NavigationKeysScrollTheMessageText) {
  std::u16string long_text;
  for (int i = 0; i < 300; ++i) long_text += u"word ";
  ASSERT_EQ(PopupMessage(long_text.c_str(), reply->task()), kOk);
  Pump();
  auto* text = reinterpret_cast<PwlTextBox*>(Request()->text);
  ASSERT_NE(text, nullptr);
  ASSERT_EQ(text->scroll, 0u);
  PopupKey(PwlKey::Down);
  EXPECT_GT(text->scroll, 0u) << "down shows the next line";
  PopupKey(PwlKey::Previous);
  EXPECT_EQ(text->scroll, 0u) << "previous goes back up";
  PopupKey(PwlKey::Next);
  EXPECT_GT(text->scroll, 0u) << "next shows the next line";
  PopupKey(PwlKey::Up);
  EXPECT_EQ(text->scroll, 0u) << "up goes back up";
  PopupKey(PwlKey::Pointer);  // no control to take it: nothing happens
  EXPECT_EQ(text->scroll, 0u);
  EXPECT_TRUE(Answers().empty());
  PopupKey(kPopupCancelKey);
  ExpectOneAnswer(0, 0);
}

TEST_F(PopupTest, BadArgumentsAndAFailedTaskCreationLeaveNothing) {
  EXPECT_EQ(PopupMessage(nullptr, reply->task()), PwlErr::BadArg);
  EXPECT_EQ(PopupConfirm(nullptr, nullptr, nullptr, reply->task()), PwlErr::BadArg);
  EXPECT_EQ(PopupInput(nullptr, nullptr, nullptr, 0, reply->task()), PwlErr::BadArg);
  TskmanFailNextCreate(Mod::Popup);
  EXPECT_EQ(PopupMessage(u"x", reply->task()), kTskmanNoMemory);
  EXPECT_EQ(Popup(), nullptr);
}

TEST_F(PopupTest, WithoutAUiTaskTheBuildFailsWithoutAnAnswer) {
  TskmanDestroyTask(uiTask);
  uiTask = nullptr;
  ASSERT_EQ(PopupMessage(u"x", reply->task()), kOk);
  Pump();
  EXPECT_EQ(Popup(), nullptr);
  EXPECT_TRUE(Answers().empty());
  EXPECT_EQ(context->active, root);
}

TEST_F(PopupTest, AControlWhoseSelectDestroysItsWindowIsNotTouchedAgain) {
  // As a popup's button does when its callback closes the popup; a logging
  // check box stands in for it.
  InstallTestClasses();
  const PwlBox box{0, 0, 160, 200};
  PwlWindow* sub = nullptr;
  ASSERT_EQ(PwlCreateSubWindow(&sub, root, &box, 0), kOk);
  PwlControl* c = Make(PwlType::CheckBox, 1, {0, 0, 20, 20}, sub);
  c->flags |= PwlCtl::MarksChanged;
  PwlSetActiveWindow(sub);
  PwlSetFocus(context, c, 1, 1);
  gTestLog.answer = [&](PwlControl*, uint32_t message, uintptr_t argument, void*) {
    if (message == PwlMsg::Event && argument == PwlEvt::Select && sub) PwlDestroyWindow(&sub);
    return kOk;
  };
  Key(PwlKey::Select);
  gTestLog.answer = nullptr;
  EXPECT_EQ(sub, nullptr);
  EXPECT_EQ(context->active, root);
}

// ---- list menus --------------------------------------------------------------------------

TEST_F(PopupTest, AClosedListGivesBackEveryBlockOnce) {
  char16_t a[] = u"Red", b[] = u"Green";
  const PopupListItem items[] = {{a, 0}, {b, 0}};
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(PopupListMenu(u"Colour", items, BenSelectFlag::Multiple, 2, reply->task()), kOk);
    Pump();
    ASSERT_NE(Popup(), nullptr);
    PopupKey(kPopupCancelKey);
    ASSERT_EQ(Popup(), nullptr);
    const char* fault = HeapValidate();
    EXPECT_EQ(fault, nullptr) << fault;
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
  }
}

TEST_F(PopupTest, AListWithoutAChosenItemAnswersNullOnAccept) {
  char16_t a[] = u"Red", b[] = u"Green";
  const PopupListItem items[] = {{a, 0}, {b, 0}};
  ASSERT_EQ(PopupListMenu(u"Colour", items, BenSelectFlag::Multiple, 2, reply->task()), kOk);
  Pump();
  ASSERT_NE(Popup(), nullptr);
  auto* body = static_cast<PopupListBody*>(Request()->body);
  EXPECT_EQ(root->focused, nullptr);
  EXPECT_EQ(Request()->window->focused, body->list) << "the list takes the focus";
  TskmanPost(Popup(), PwlEvent::PopupCommand, PopupCmd::Accept, 0);
  Pump();
  ExpectOneAnswer(0, 0);
}

TEST_F(PopupTest, AListAnswersTheIndicesOfItsChosenItems) {
  char16_t a[] = u"Red", b[] = u"Green", c[] = u"Blue";
  const PopupListItem items[] = {{a, 1}, {b, 0}, {c, 0}};
  ASSERT_EQ(PopupListMenu(nullptr, items, BenSelectFlag::Multiple | BenSelectFlag::Dropdown, 3,
                          reply->task()),
            kOk);
  Pump();
  auto* body = static_cast<PopupListBody*>(Request()->body);
  EXPECT_EQ(body->flags & kPopupListFlag, kPopupListFlag);
  EXPECT_NE(body->items[0].text, a) << "the popup keeps its own copies";
  // Open the list, go to Blue, choose it, and press the OK button.
  PwlSend(body->list, nullptr, nullptr, 0, PwlMsg::Event, PwlSelEvt::Open);
  PopupKey(PwlKey::Down);
  PopupKey(PwlKey::Down);
  PwlSend(body->list, nullptr, nullptr, 0, PwlMsg::Event, PwlSelEvt::Commit);
  TskmanPost(Popup(), PwlEvent::Activated, reinterpret_cast<uintptr_t>(body->ok), 0);
  Pump();
  const auto answers = Answers();
  ASSERT_EQ(answers.size(), 1u);
  ASSERT_EQ(answers[0].arg2, 2u);
  auto* chosen = reinterpret_cast<uint32_t*>(answers[0].arg1);
  EXPECT_EQ(chosen[0], 0u);
  EXPECT_EQ(chosen[1], 2u);
  MemFree(&chosen);
  EXPECT_EQ(Popup(), nullptr);
}

TEST_F(PopupTest, ShortItemsSitBesideTheOkButton) {
  char16_t a[] = u"A", b[] = u"B";
  const PopupListItem items[] = {{a, 0}, {b, 0}};
  ASSERT_EQ(PopupListMenu(u"Pick", items, BenSelectFlag::Dropdown, 2, reply->task()), kOk);
  Pump();
  auto* body = static_cast<PopupListBody*>(Request()->body);
  EXPECT_EQ(body->list->rect.left, 4);
  EXPECT_LT(body->list->rect.right, body->ok->rect.left);
  // Both in the bottom row.
  EXPECT_GT(body->ok->rect.top, 200);
  EXPECT_GT(body->list->rect.top, 200);
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/popup_list.png", image));
  PopupKey(kPopupCancelKey);
  ExpectOneAnswer(0, 0);
}

TEST_F(PopupTest, AWideListIsStackedAboveTheOkButtonBothCentred) {
  char16_t a[] = u"An option far too wide to share a row with the button";
  const PopupListItem items[] = {{a, 0}};
  ASSERT_EQ(PopupListMenu(nullptr, items, BenSelectFlag::Dropdown, 1, reply->task()), kOk);
  Pump();
  auto* body = static_cast<PopupListBody*>(Request()->body);
  ASSERT_NE(body->ok, nullptr);
  EXPECT_GT(body->ok->rect.top, body->list->rect.bottom);
  const int32_t L = 4, R = 155;
  const int32_t okW = body->ok->rect.right - body->ok->rect.left + 1;
  EXPECT_EQ(body->ok->rect.left, L + (R - L - okW) / 2);
  EXPECT_LE(body->list->rect.right, R);
  PopupClose();
  Pump();
  EXPECT_TRUE(Answers().empty()) << "a popup closed from outside answers nobody";
  EXPECT_EQ(Popup(), nullptr);
}

// ---- text entry ----------------------------------------------------------------------------

TEST_F(PopupTest, ATextEntryAnswersTheEnteredTextAndItsSessionClosesTheWindow) {
  ASSERT_EQ(PopupInput(u"Name", u"old", nullptr, 1, reply->task()), kOk);
  Pump();
  auto* session = static_cast<InputSession*>(TiwOpenSession());
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(PwlIsModal(), 1u);
  EXPECT_EQ(session->mode & kPopupTextMode, kPopupTextMode);
  ASSERT_EQ(InputSessionSubmitText(session, u"new"), kOk);
  InputSessionClose(session);
  Pump();
  const auto answers = Answers();
  ASSERT_EQ(answers.size(), 1u);
  auto* text = reinterpret_cast<char16_t*>(answers[0].arg1);
  EXPECT_EQ(std::u16string(text), u"new");
  EXPECT_EQ(answers[0].arg2, 1u);
  MemFree(&text);
  EXPECT_EQ(Popup(), nullptr);
  EXPECT_EQ(PwlIsModal(), 0u);
}

TEST_F(PopupTest, ATextEntryCancelledBySessionOrKeyAnswersZero) {
  ASSERT_EQ(PopupInput(u"Name", nullptr, nullptr, 1, reply->task()), kOk);
  Pump();
  auto* session = static_cast<InputSession*>(TiwOpenSession());
  InputSessionCancel(session);
  InputSessionClose(session);
  Pump();
  ExpectOneAnswer(0, 0);
  reply->log.clear();
  ASSERT_EQ(PopupInput(u"Name", nullptr, nullptr, 1, reply->task()), kOk);
  Pump();
  PopupKey(kPopupCancelKey);
  ExpectOneAnswer(0, 0);
  EXPECT_EQ(TiwOpenSession(), nullptr) << "the host's window goes with the popup";
  EXPECT_EQ(PwlIsModal(), 0u);
}

// What the popup's window reports, by kind: a cancel answers no for any
// kind; accepting is no answer for a text entry, which waits for its text;
// an activation not from one of its buttons leaves a confirm open.
TEST_F(PopupTest, WindowReportsAnswerByTheKindOfPopup) {
  struct Row {
    const char* name;
    int kind;  // 0 confirm, 1 text entry
    uint32_t message;
    uintptr_t arg1;
    bool answers;
  };
  for (const Row& row : {Row{"confirm_cancel_event", 0, PwlEvent::Cancel, 0, true},
                         Row{"confirm_foreign_activation", 0, PwlEvent::Activated, 0x1234, false},
                         Row{"confirm_foreign_point", 0, PwlEvent::Point, 0x1234, false},
                         Row{"text_accept", 1, PwlEvent::PopupCommand, PopupCmd::Accept, false},
                         Row{"text_cancel_command", 1, PwlEvent::PopupCommand, PopupCmd::Cancel, true},
                         Row{"confirm_unknown_command", 0, PwlEvent::PopupCommand, 0x77, false}}) {
    SCOPED_TRACE(row.name);
    reply->log.clear();
    ASSERT_EQ(row.kind == 0 ? PopupConfirm(u"Go on?", nullptr, nullptr, reply->task())
                            : PopupInput(u"Name", nullptr, nullptr, 1, reply->task()),
              kOk);
    Pump();
    ASSERT_NE(Popup(), nullptr);
    TskmanPost(Popup(), row.message, row.arg1, 0);
    Pump();
    if (row.answers) {
      ExpectOneAnswer(0, 0);
    } else {
      EXPECT_TRUE(Answers().empty());
      PopupKey(kPopupCancelKey);
      ExpectOneAnswer(0, 0);
    }
  }
}

TEST_F(PopupTest, CloseWithoutAPopupDoesNothingAndWithATextEntryClosesTheWindow) {
  PopupClose();
  ASSERT_EQ(PopupInput(u"Name", nullptr, nullptr, 1, reply->task()), kOk);
  Pump();
  ASSERT_NE(TiwOpenSession(), nullptr);
  PopupClose();
  Pump();
  EXPECT_EQ(TiwOpenSession(), nullptr);
  EXPECT_EQ(Popup(), nullptr);
  EXPECT_TRUE(Answers().empty());
}

// Closed after any number of steps of its opening, from the moment it is
// asked for: the popup's task goes with it (also before its start message
// came), and nothing it handed to the UI task is read once it has gone.
TEST_F(PopupTest, AConfirmClosedAtAnyStepOfItsOpeningLeavesNothing) {
  for (int steps = 0; steps < 40; ++steps) {
    SCOPED_TRACE(steps);
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    ASSERT_EQ(PopupConfirm(u"Go on?", u"Yes", u"No", reply->task()), kOk);
    for (int i = 0; i < steps && TskmanPendingCount() > 0; ++i) Step();
    PopupClose();
    Pump();
    EXPECT_EQ(Popup(), nullptr);
    EXPECT_TRUE(Answers().empty());
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
  }
}

// A text entered that the popup's task has not read when the popup goes:
// closed from outside, or by a first entry that answered. The close answers
// nobody, the first entry is the one answer, and what is left is freed with
// the popup.
TEST_F(PopupTest, ATextEnteredJustBeforeACloseIsNotLost) {
  // A first entry answered in full: what the popups leave for good is taken.
  ASSERT_EQ(PopupInput(u"PIN", nullptr, nullptr, 8, reply->task()), kOk);
  Pump();
  PopupClose();
  Pump();
  struct Case {
    const char* name;
    bool closed;  // closed from outside, else a second entry follows the first
  };
  for (const Case& c : {Case{"closed", true}, Case{"second entry", false}}) {
    SCOPED_TRACE(c.name);
    reply->log.clear();
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    ASSERT_EQ(PopupInput(u"PIN", nullptr, nullptr, 8, reply->task()), kOk);
    Pump();
    auto* session = static_cast<InputSession*>(TiwOpenSession());
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(InputSessionSubmitText(session, u"1234"), kOk);
    if (c.closed)
      PopupClose();
    else
      ASSERT_EQ(InputSessionSubmitText(session, u"5678"), kOk);
    Pump();
    EXPECT_EQ(Popup(), nullptr);
    const auto answers = Answers();
    ASSERT_EQ(answers.size(), c.closed ? 0u : 1u);
    for (const Received& r : answers) {
      auto* text = reinterpret_cast<char16_t*>(r.arg1);
      EXPECT_EQ(std::u16string(text), u"1234");
      MemFree(&text);
    }
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
  }
}

TEST_F(PopupTest, AnUnknownMessageIsRefusedAndChangesNothing) {
  ASSERT_EQ(PopupMessage(u"x", reply->task()), kOk);
  Pump();
  EXPECT_EQ(PopupTaskHandler(Request(), 0x1234, 0, 0), PwlErr::BadArg);
  EXPECT_NE(Popup(), nullptr);
  EXPECT_TRUE(Answers().empty());
  PopupKey(kPopupCancelKey);
  ExpectOneAnswer(0, 0);
}

// ---- line breaking -----------------------------------------------------------------------------

class BreakLineTest : public SelFixture {
 protected:
  void SetUp() override {
    SelFixture::SetUp();
    PwlCharWidth(font, 0, u'a', &a);
  }
  std::pair<uint32_t, uint32_t> Break(const char16_t* text, int32_t width) {
    uint32_t draw = 0, advance = 0;
    PopupBreakLine(font, text, width, &draw, &advance);
    return {draw, advance};
  }
  int32_t a = 0;
};

TEST_F(BreakLineTest, AWordLongerThanTheLineBreaksOneBeforeTheLastThatFits) {
  ASSERT_GT(a, 0);
  EXPECT_EQ(Break(u"aaaaaaaaaa", a * 4 + 1), std::make_pair(3u, 3u));
  EXPECT_EQ(Break(u"aaaaaaaaaa", a * 4), std::make_pair(3u, 3u));
}

TEST_F(BreakLineTest, BreaksAtSpacesAndStepsOverTheirRun) {
  EXPECT_EQ(Break(u"aa aaaa", a * 4 + 1), std::make_pair(2u, 3u));
  EXPECT_EQ(Break(u"aaa   aaaa", a * 3 + 1), std::make_pair(3u, 6u));
  EXPECT_EQ(Break(u"aaa", a * 10), std::make_pair(3u, 3u));
  EXPECT_EQ(Break(u"", 10), std::make_pair(0u, 0u));
}

TEST_F(BreakLineTest, AlwaysAdvancesWhileTextRemains) {
  EXPECT_EQ(Break(u"aaaa", 0), std::make_pair(1u, 1u));
  EXPECT_EQ(Break(u"aaaa", a + a / 2), std::make_pair(1u, 1u));
  EXPECT_EQ(Break(u"aaaa", -5), std::make_pair(1u, 1u));
}

}  // namespace
