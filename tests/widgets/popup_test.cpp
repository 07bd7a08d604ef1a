// Popup dialogs: each answers its reply task once and leaves no task behind.
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

TEST_F(PopupTest, AConfirmWithEmptyLabelsOffersOkAndCancelAndSoftKeyOneAnswersYes) {
  ASSERT_EQ(PopupConfirm(u"Delete the page?", u"", nullptr, reply->task()), kOk);
  Pump();
  ASSERT_NE(Popup(), nullptr);
  auto labels = UiEvents(PwlEvent::Labels);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].text1 + labels[0].text2,
            std::u16string(UiGetString(13, 12)) + UiGetString(13, 13));
  EXPECT_EQ(context->active, Request()->window);
  EXPECT_TRUE(ScreenMatches("popup_confirm.png"));
  PopupKey(PwlKey::Soft1);
  ExpectOneAnswer(1, 1);
  EXPECT_EQ(context->active, root);
  EXPECT_EQ(root->hidden, 0u);
  EXPECT_EQ(UiEvents(PwlEvent::RedrawPage).size(), 1u);
}

// A confirm's second soft key answers no; a message answers no through its
// button but yes through accept.
TEST_F(PopupTest, EachWayOutOfAMessageOrConfirmAnswersAsDocumented) {
  const struct {
    bool confirm;
    uint32_t message, key;
    uintptr_t answer;
  } cases[] = {{true, PwlEvent::Key, PwlKey::Soft2, 0},
               {false, PwlEvent::Key, PwlKey::Soft1, 0},
               {false, PwlEvent::PopupCommand, PopupCmd::Accept, 1}};
  for (const auto& c : cases) {
    reply->log.clear();
    ASSERT_EQ(c.confirm ? PopupConfirm(u"Go on?", u"Yes", u"No", reply->task())
                        : PopupMessage(u"Saved.", reply->task()),
              kOk);
    Pump();
    TskmanPost(Popup(), c.message, c.key, 0);
    Pump();
    ExpectOneAnswer(c.answer, c.answer);
  }
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

TEST_F(PopupTest, AListAnswersTheIndicesOfItsChosenItems) {
  char16_t a[] = u"Red", b[] = u"Green", c[] = u"Blue";
  const PopupListItem items[] = {{a, 1}, {b, 0}, {c, 0}};
  ASSERT_EQ(PopupListMenu(nullptr, items, BenSelectFlag::Multiple | BenSelectFlag::Dropdown, 3,
                          reply->task()),
            kOk);
  Pump();
  auto* body = static_cast<PopupListBody*>(Request()->body);
  EXPECT_EQ(Request()->window->focused, body->list) << "the list takes the focus";
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
  EXPECT_EQ(std::vector<uint32_t>(chosen, chosen + 2), (std::vector<uint32_t>{0, 2}));
  MemFree(&chosen);
  EXPECT_EQ(Popup(), nullptr);
}

TEST_F(PopupTest, ATextEntryAnswersTheEnteredTextAndItsSessionClosesTheWindow) {
  ASSERT_EQ(PopupInput(u"Name", u"old", nullptr, 1, reply->task()), kOk);
  Pump();
  auto* session = static_cast<InputSession*>(TiwOpenSession());
  ASSERT_NE(session, nullptr);
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
  EXPECT_EQ(TiwOpenSession(), nullptr) << "the host's window goes with the popup";
  EXPECT_EQ(PwlIsModal(), 0u);
}

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

// Each case: the text, the width in widths of "a" plus a pixel count, and
// the characters drawn and stepped over.
TEST_F(BreakLineTest, BreaksAtSpacesStepsOverTheirRunAndAlwaysAdvances) {
  ASSERT_GT(a, 0);
  const struct {
    const char16_t* text;
    int32_t as, pixels;
    uint32_t draw, advance;
  } cases[] = {
      {u"aaaaaaaaaa", 4, 1, 3, 3},  // a word longer than the line: one before the last that fits
      {u"aa aaaa", 4, 1, 2, 3}, {u"aaa   aaaa", 3, 1, 3, 6}, {u"aaa", 10, 0, 3, 3},
      {u"", 0, 10, 0, 0},       {u"aaaa", 0, -5, 1, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Break(c.text, a * c.as + c.pixels), std::make_pair(c.draw, c.advance))
        << std::u16string(c.text).size() << " at " << c.as << "a+" << c.pixels;
}

}  // namespace
