// Focus and keys through the toolkit task: keys posted as 0x2a0d to task 42,
// the events at the owner and at the controls.
#include <vector>

#include "browser/benpage.h"
#include "browser/uiwindow.h"
#include "tests/widgets/pwl_fixture.h"

namespace {

class FocusTest : public PwlFixture {
 protected:
  void SetUp() override {
    PwlFixture::SetUp();
    const PwlBox box{0, 0, 160, 100};
    ASSERT_EQ(PwlCreateSubWindow(&view, root, &box, 0), kOk);
    PwlSetWindowLink(view, owner->task());
    PwlSetActiveWindow(view);
  }

  size_t Count(const PwlControl* c, uint32_t message) const {
    size_t n = 0;
    for (uint32_t m : gTestLog.Messages(c)) n += m == message;
    return n;
  }

  PwlWindow* view = nullptr;
};

TEST_F(FocusTest, NextWalksTheListAndTellsTheOwner) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  PwlControl* b = Make(PwlType::Button, 2, {0, 20, 20, 30}, view);
  Key(PwlKey::Next);
  EXPECT_EQ(view->focused, a);
  EXPECT_EQ(view->state, PwlState::Shown);
  Key(PwlKey::Next);
  EXPECT_EQ(view->focused, b);
  EXPECT_EQ(Count(a, PwlMsg::FocusOut), 1u);
  EXPECT_EQ(OwnerEvents(PwlEvent::FocusChanged).size(), 2u);
  EXPECT_EQ(PwlNavDirection, 1u);
  Key(PwlKey::Previous);
  EXPECT_EQ(view->focused, a);
  EXPECT_EQ(PwlNavDirection, 0u);
}

TEST_F(FocusTest, TheKeyMarkHoldsBackTheFocusNotice) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  gTestLog.answer = [&](PwlControl*, uint32_t message, uintptr_t, void*) {
    if (message == PwlMsg::FocusIn) context->keyMark = 1;
    return kOk;
  };
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  Pump();
  EXPECT_TRUE(OwnerEvents(PwlEvent::FocusChanged).empty());
}

TEST_F(FocusTest, TheModalMarkPassesOnlySelect) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  Make(PwlType::Button, 2, {0, 20, 20, 30}, view);
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  Pump();
  PwlSetSlot(1, 0x77, 0);
  PwlSetModal(1);
  owner->log.clear();
  gTestLog.calls.clear();
  for (uint32_t key = 2; key <= 11; ++key) Key(key, 0x00050005);
  Key(20);  // not even forwarded
  EXPECT_EQ(view->focused, a);
  EXPECT_TRUE(gTestLog.calls.empty());
  EXPECT_TRUE(owner->log.empty());
  Key(PwlKey::Select);
  ASSERT_EQ(gTestLog.calls.size(), 1u);
  EXPECT_EQ(gTestLog.calls[0].message, PwlMsg::Event);
  EXPECT_EQ(gTestLog.calls[0].argument, PwlEvt::Select);
}

TEST_F(FocusTest, ALinkBrokenOverThreeLinesIsOneTarget) {
  PwlControl* before = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  PwlControl* p1 = Make(PwlType::TextLink, 7, {100, 12, 159, 22}, view);
  PwlControl* p2 = Make(PwlType::TextLink, 7, {0, 24, 159, 34}, view);
  PwlControl* p3 = Make(PwlType::TextLink, 7, {0, 36, 30, 46}, view);
  PwlControl* after = Make(PwlType::Button, 2, {40, 36, 60, 46}, view);
  ASSERT_EQ(PwlFocusControl(before, 0), kOk);
  gTestLog.calls.clear();
  Key(PwlKey::Next);
  EXPECT_EQ(view->focused, p1);
  EXPECT_EQ(gTestLog.Count(PwlMsg::FocusIn), 3u);
  for (PwlControl* piece : {p1, p2, p3}) EXPECT_EQ(Count(piece, PwlMsg::FocusIn), 1u);
  gTestLog.calls.clear();
  Key(PwlKey::Next);
  EXPECT_EQ(view->focused, after);
  EXPECT_EQ(gTestLog.Count(PwlMsg::FocusOut), 3u);
  // Back again the whole link is one step too, entered at its last piece.
  Key(PwlKey::Previous);
  EXPECT_EQ(view->focused, p3);
  Key(PwlKey::Previous);
  EXPECT_EQ(view->focused, before);
}

TEST_F(FocusTest, APartlyVisibleTargetIsFocusedAndScrolledAtMostHalfAWindow) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  PwlControl* b = Make(PwlType::Button, 2, {0, 90, 20, 109}, view);  // 10 rows below the view
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  Pump();
  owner->log.clear();
  Key(PwlKey::Next);
  EXPECT_EQ(view->focused, b);
  EXPECT_EQ(OwnerEvents(PwlEvent::Scroll), (std::vector<Received>{{PwlEvent::Scroll, 1, 10}}));

  PwlControl* c = Make(PwlType::Button, 3, {0, 95, 20, 300}, view);  // far taller than the view
  owner->log.clear();
  Key(PwlKey::Next);
  EXPECT_EQ(view->focused, c);
  EXPECT_EQ(OwnerEvents(PwlEvent::Scroll), (std::vector<Received>{{PwlEvent::Scroll, 1, 50}}));
}

TEST_F(FocusTest, ATargetOutOfViewKeepsTheFocusAndLetsTheOwnerScroll) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  Make(PwlType::Button, 2, {0, 300, 20, 310}, view);
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  Pump();
  owner->log.clear();
  Key(PwlKey::Next);  // no browser window: the owner scrolls by half a window
  EXPECT_EQ(view->focused, a);
  EXPECT_EQ(OwnerEvents(PwlEvent::Scroll), (std::vector<Received>{{PwlEvent::Scroll, 1, 50}}));
}

TEST_F(FocusTest, DownAndUpGoToTheNearestRowUnderTheFocus) {
  PwlControl* top = Make(PwlType::Button, 1, {50, 0, 70, 10}, view);
  PwlControl* left = Make(PwlType::Button, 2, {0, 20, 20, 30}, view);
  PwlControl* under = Make(PwlType::Button, 3, {55, 20, 80, 30}, view);
  Make(PwlType::Button, 4, {50, 40, 70, 50}, view);
  ASSERT_EQ(PwlFocusControl(top, 0), kOk);
  EXPECT_EQ(PwlFindVerticalNeighbour(view, 1), under);
  Key(PwlKey::Down);
  EXPECT_EQ(view->focused, under);
  view->focused = left;
  EXPECT_EQ(PwlFindVerticalNeighbour(view, 0), top);
}

// The page of the browser window that the fallbacks read: a task 19 whose
// context is a real browser window record.
class PageFallbackTest : public FocusTest {
 protected:
  void SetUp() override {
    FocusTest::SetUp();
    ListInit(&ui.animations);
    ui.page = &page;
    ui.scrollMargin = 100;
    page.view = view;
    page.contentHeight = 500;
    BenPageInstallScroller();  // as the browser window does when it starts
    TskmanTask* task = nullptr;
    ASSERT_EQ(TskmanCreateTask(&task, Mod::Ui, [](void*, uint32_t, uintptr_t, uintptr_t) {
      return kOk;
    }, &ui), kOk);
    Pump();
  }
  void TearDown() override {
    PwlSetPageScroller(nullptr);
    FocusTest::TearDown();
  }
  UiWindow ui{};
  BenPage page{};
};

TEST_F(PageFallbackTest, NextAtThePageEndComesBackToItsStart) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 400, 20, 410}, view);
  page.scrollTop = 399;
  view->origin.y = 399;
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  Pump();
  owner->log.clear();
  Key(PwlKey::Next);
  EXPECT_EQ(page.scrollTop, 0u);
  EXPECT_EQ(view->origin.y, 0u);
  EXPECT_TRUE(OwnerEvents(PwlEvent::Scroll).empty());
  EXPECT_EQ(BenScrollMark, 0u);
}

TEST_F(PageFallbackTest, PreviousAtTheTopGoesToTheEnd) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  Pump();
  owner->log.clear();
  Key(PwlKey::Previous);
  EXPECT_EQ(page.scrollTop, 399u);
  EXPECT_EQ(view->origin.y, 399u);
  // Once there, previous scrolls back by half a window.
  Key(PwlKey::Up);
  EXPECT_EQ(OwnerEvents(PwlEvent::Scroll), (std::vector<Received>{{PwlEvent::Scroll, 2, 50}}));
}

TEST_F(PageFallbackTest, InTheMiddleThePageScrollsByHalfAWindow) {
  page.scrollTop = 100;
  Key(PwlKey::Next);
  Key(PwlKey::Previous);
  EXPECT_EQ(OwnerEvents(PwlEvent::Scroll),
            (std::vector<Received>{{PwlEvent::Scroll, 1, 50}, {PwlEvent::Scroll, 2, 50}}));
}

TEST_F(PageFallbackTest, APageThatFitsFocusesItsFirstControlOrNudgesTheOwner) {
  page.contentHeight = 80;
  Key(PwlKey::Next);  // nothing on the page
  EXPECT_EQ(OwnerEvents(PwlEvent::Scroll), (std::vector<Received>{{PwlEvent::Scroll, 1, 0}}));
  Key(PwlKey::Down);
  EXPECT_EQ(OwnerEvents(PwlEvent::Scroll).back(), (Received{PwlEvent::Scroll, 1, 50}));
}

TEST_F(FocusTest, LeavingAChangedFieldTellsTheBrowserOnce) {
  Recorder browser(Mod::Ben);
  PwlControl* field = Make(PwlType::EditBox, 42, {0, 0, 50, 10}, view);
  PwlControl* next = Make(PwlType::Button, 2, {0, 20, 20, 30}, view);
  field->flags |= PwlCtl::LeaveNotice | PwlCtl::MarksChanged;
  ASSERT_EQ(PwlFocusControl(field, 0), kOk);
  Key(PwlKey::Select);  // the field is activated: changed
  EXPECT_EQ(view->state & PwlState::Changed, PwlState::Changed);
  gTestLog.calls.clear();
  Key(PwlKey::Next);
  EXPECT_EQ(view->focused, next);
  EXPECT_EQ(browser.Count(kPwlFieldLeftMessage), 1u);
  EXPECT_EQ(browser.log.back(), (Received{kPwlFieldLeftMessage, 42, 0}));
  ASSERT_FALSE(gTestLog.calls.empty());
  EXPECT_EQ(gTestLog.calls[0].argument, PwlEvt::Leave);
  // Unchanged, leaving says nothing.
  Key(PwlKey::Previous);
  Key(PwlKey::Next);
  EXPECT_EQ(browser.Count(kPwlFieldLeftMessage), 1u);
}

TEST_F(FocusTest, NoLeaveNoticeWhenTheWindowSaysSo) {
  Recorder browser(Mod::Ben);
  PwlControl* field = Make(PwlType::EditBox, 42, {0, 0, 50, 10}, view);
  Make(PwlType::Button, 2, {0, 20, 20, 30}, view);
  field->flags |= PwlCtl::LeaveNotice | PwlCtl::MarksChanged;
  ASSERT_EQ(PwlFocusControl(field, 0), kOk);
  Key(PwlKey::Select);
  view->state |= PwlState::NoLeaveNotice;
  Key(PwlKey::Next);
  EXPECT_EQ(browser.Count(kPwlFieldLeftMessage), 0u);
}

TEST_F(FocusTest, SoftKeysGoToTheFocusedControlWithTheirSlot) {
  int marker = 0;
  PwlSetSlot(2, 0x4000, reinterpret_cast<uintptr_t>(&marker));
  Key(PwlKey::Soft2);  // nobody focused: skipped
  EXPECT_TRUE(gTestLog.calls.empty());
  EXPECT_TRUE(OwnerEvents(PwlEvent::Key).empty());
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  void* seen = nullptr;
  gTestLog.answer = [&](PwlControl*, uint32_t message, uintptr_t, void* data) {
    if (message == PwlMsg::Event) seen = data;
    return kOk;
  };
  gTestLog.calls.clear();
  Key(PwlKey::Soft2);
  ASSERT_EQ(gTestLog.calls.size(), 1u);
  EXPECT_EQ(gTestLog.calls[0].argument, 0x4000u);
  EXPECT_EQ(seen, &marker);
  Key(40, 3);  // unknown sub-codes go to the owner as they came
  EXPECT_EQ(OwnerEvents(PwlEvent::Key), (std::vector<Received>{{PwlEvent::Key, 40, 3}}));
}

TEST_F(FocusTest, APointerPressFocusesAnEnabledControlAndForwardsADisabledOne) {
  PwlWindow* sub = nullptr;
  const PwlBox box{10, 20, 100, 60};
  ASSERT_EQ(PwlCreateSubWindow(&sub, view, &box, 0), kOk);
  PwlSetWindowLink(sub, owner->task());
  PwlSetActiveWindow(sub);
  sub->origin = {0, 5};
  PwlControl* on = Make(PwlType::Button, 1, {10, 10, 40, 30}, sub);
  PwlControl* off = Make(PwlType::Button, 2, {50, 10, 80, 30}, sub);
  off->flags &= ~PwlCtl::Enabled;
  PglPoint seen{};
  gTestLog.answer = [&](PwlControl*, uint32_t message, uintptr_t arg, void* data) {
    if (message == PwlMsg::Event && arg == PwlEvt::Pointer) seen = *static_cast<PglPoint*>(data);
    return kOk;
  };
  // Screen (25, 40): frame (15, 20), content (15, 25).
  Key(PwlKey::Pointer, 40u << 16 | 25u);
  EXPECT_EQ(sub->focused, on);
  EXPECT_EQ(seen.x, 5);
  EXPECT_EQ(seen.y, 15);
  EXPECT_EQ(sub->state, PwlState::Shown);
  // Screen (65, 40) hits the disabled one: forwarded with the frame point.
  Key(PwlKey::Pointer, 40u << 16 | 65u);
  EXPECT_EQ(OwnerEvents(PwlEvent::Key),
            (std::vector<Received>{{PwlEvent::Key, PwlKey::Pointer, 20u << 16 | 55u}}));
  // A press on nothing changes nothing.
  Key(PwlKey::Pointer, 70u << 16 | 5u);
  EXPECT_EQ(sub->focused, nullptr);  // the disabled press cleared it
}

TEST_F(FocusTest, ScrollingCarriesTheFocusDown) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 30, 20, 40}, view);
  PwlControl* b = Make(PwlType::Button, 2, {0, 120, 20, 130}, view);
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  EXPECT_EQ(PwlScrollBy(view, 20), 0u);  // a still shows in full
  EXPECT_EQ(view->focused, a);
  EXPECT_EQ(view->origin.y, 20u);
  EXPECT_EQ(PwlScrollBy(view, 40), 1u);  // b is now fully in view
  EXPECT_EQ(view->focused, b);
  EXPECT_EQ(view->origin.y, 60u);
  EXPECT_EQ(PwlScrollBy(view, 200), 0u);  // b scrolled out: the focus goes
  EXPECT_EQ(view->focused, nullptr);
}

TEST_F(FocusTest, EnsureFocusTakesTheFirstVisibleGroupAndMarksChanged) {
  Make(PwlType::Button, 1, {0, -30, 20, -20}, view);  // above the view
  PwlControl* b = Make(PwlType::Button, 2, {0, 10, 20, 20}, view);
  EXPECT_EQ(PwlEnsureFocus(view), 1u);
  EXPECT_EQ(view->focused, b);
  EXPECT_EQ(view->state, PwlState::Shown | PwlState::Changed);
  EXPECT_EQ(PwlEnsureFocus(view), 0u);
}

}  // namespace
