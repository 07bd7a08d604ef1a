// Focus and keys through the toolkit task: keys posted as 0x2a0d to task 42,
// the events at the owner and at the controls.
#include <vector>

#include "browser/benpage.h"
#include "browser/uiwindow.h"
#include "tests/widgets/pwl_fixture.h"
#include "widgets/pwl_internal.h"

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

// The calls other modules make: a missing control is refused, a control
// out of view is focused only when forced, and no control clears the focus.
TEST_F(FocusTest, DirectFocusCallsForceOnlyWhenAskedAndClearWithoutAControl) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  PwlControl* far = Make(PwlType::Button, 2, {0, 300, 20, 310}, view);
  EXPECT_EQ(PwlFocusAndActivate(nullptr), PwlErr::NullControl);
  EXPECT_EQ(PwlActivate(nullptr), PwlErr::NullControl);
  EXPECT_EQ(PwlFocusControl(far, 0), PwlErr::OutsideView);
  EXPECT_EQ(view->focused, nullptr);
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  gTestLog.calls.clear();
  EXPECT_EQ(PwlFocusControl(a, 0), kOk);  // already there: nothing is sent again
  EXPECT_TRUE(gTestLog.calls.empty());
  EXPECT_EQ(PwlFocusControl(far, 1), kOk);
  EXPECT_EQ(view->focused, far);
  EXPECT_EQ(PwlFocusControl(nullptr, 0), PwlErr::NullControl);
  EXPECT_EQ(view->focused, nullptr);
  EXPECT_EQ(view->state, 0u);
  EXPECT_EQ(Count(far, PwlMsg::FocusOut), 1u);
}

TEST_F(FocusTest, ActivatingSelectsOnlyAControlThatMarksTheWindowChanged) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  PwlControl* b = Make(PwlType::Button, 2, {0, 20, 20, 30}, view);
  ASSERT_EQ(PwlFocusAndActivate(b), kOk);
  EXPECT_EQ(view->focused, b);
  ASSERT_FALSE(gTestLog.calls.empty());
  EXPECT_EQ(gTestLog.calls.back().message, PwlMsg::Event);
  EXPECT_EQ(gTestLog.calls.back().argument, PwlEvt::Select);
  gTestLog.calls.clear();
  view->state = PwlState::Shown;
  EXPECT_EQ(PwlActivate(a), kOk);
  EXPECT_TRUE(gTestLog.calls.empty());
  EXPECT_EQ(view->state, PwlState::Shown);
  a->flags |= PwlCtl::MarksChanged;
  EXPECT_EQ(PwlActivate(a), kOk);
  EXPECT_EQ(gTestLog.Messages(a), std::vector<uint32_t>{PwlMsg::Event});
  EXPECT_EQ(view->state, PwlState::Shown | PwlState::Changed);
}

// Clearing forgets the focused control, resetting only hides it; under the
// modal mark a focused text field closes its input first.
TEST_F(FocusTest, ClearingAndResettingTheFocusCloseAnOpenTextInput) {
  struct Row {
    uint32_t type;
    bool modal, clear;
    size_t closes;
    bool kept;
  };
  for (const Row& row : {Row{PwlType::EditBox, true, true, 1, false},
                         Row{PwlType::TextArea, true, false, 1, true},
                         Row{PwlType::EditBox, false, true, 0, false},
                         Row{PwlType::Button, true, false, 0, true}}) {
    SCOPED_TRACE(row.type);
    PwlControl* c = Make(row.type, 1, {0, 0, 20, 10}, view);
    ASSERT_EQ(PwlFocusControl(c, 1), kOk);
    PwlSetModal(row.modal ? 1 : 0);
    gTestLog.calls.clear();
    row.clear ? PwlClearFocus() : PwlResetFocus();
    PwlSetModal(0);
    EXPECT_EQ(Count(c, PwlMsg::FocusOut), 1u);
    EXPECT_EQ(Count(c, PwlMsg::CloseInput), row.closes);
    EXPECT_EQ(view->focused == c, row.kept);
    EXPECT_EQ(view->state, 0u);
    view->focused = nullptr;
    PwlDestroy(c);
  }
}

// A first focus placed in a window that has none.
TEST_F(FocusTest, AFirstFocusGoesToTheFirstWholeGroupOrElseTheLastVisibleControl) {
  EXPECT_EQ(PwlEnsureFocus(nullptr), 0u);
  EXPECT_EQ(PwlFocusFirstVisible(nullptr), 0u);
  EXPECT_EQ(PwlFocusLastVisible(nullptr), 0u);
  EXPECT_EQ(PwlEnsureFocus(view), 0u);  // nothing to focus
  PwlControl* cut = Make(PwlType::Button, 1, {0, 90, 20, 109}, view);
  PwlControl* whole = Make(PwlType::Button, 2, {0, 50, 20, 60}, view);
  EXPECT_EQ(PwlEnsureFocus(view), 1u);
  EXPECT_EQ(view->focused, whole);
  EXPECT_EQ(view->state, PwlState::Shown | PwlState::Changed);
  EXPECT_EQ(PwlEnsureFocus(view), 0u);  // one is there already
  view->focused = nullptr;
  EXPECT_EQ(PwlFocusFirstVisible(view), 1u);
  EXPECT_EQ(view->focused, cut);
  EXPECT_EQ(PwlFocusLastVisible(view), 1u);
  EXPECT_EQ(view->focused, whole);
}

bool OnlyGroupSeven(const PwlControl* c) { return c->group == 7; }

TEST_F(FocusTest, TheFirstFieldIsTheFirstLinkTheBrowserNames) {
  const PwlClassHooks saved = PwlHooks();
  EXPECT_EQ(PwlFocusFirstField(view), 0u);  // no browser hook
  PwlClassHooks hooks = saved;
  hooks.firstField = OnlyGroupSeven;
  PwlSetClassHooks(&hooks);
  Make(PwlType::Button, 7, {0, 0, 20, 10}, view);     // not a link
  Make(PwlType::TextLink, 3, {0, 20, 20, 30}, view);  // not named
  PwlControl* named = Make(PwlType::TextLink, 7, {0, 40, 20, 50}, view);
  EXPECT_EQ(PwlFocusFirstField(nullptr), 0u);
  EXPECT_EQ(PwlFocusFirstField(view), 1u);
  EXPECT_EQ(view->focused, named);
  hooks.firstField = [](const PwlControl*) { return false; };
  PwlSetClassHooks(&hooks);
  view->focused = nullptr;
  EXPECT_EQ(PwlFocusFirstField(view), 0u);
  PwlSetClassHooks(&saved);
}

// A control beside the focus that starts within its height is on the same
// row: down passes it for the next row; up from there comes back.
TEST_F(FocusTest, DownPassesAControlBesideTheFocus) {
  PwlControl* focus = Make(PwlType::Button, 1, {0, 0, 20, 20}, view);
  Make(PwlType::Button, 2, {40, 10, 60, 30}, view);
  PwlControl* below = Make(PwlType::Button, 3, {0, 40, 20, 50}, view);
  ASSERT_EQ(PwlFocusControl(focus, 0), kOk);
  EXPECT_EQ(PwlFindVerticalNeighbour(view, 1), below);
  ASSERT_EQ(PwlFocusControl(below, 0), kOk);
  EXPECT_EQ(PwlFindVerticalNeighbour(view, 0), focus);
}

// The event keys and the soft keys reach the focused control as its events,
// the soft keys with what their slots hold; without a focus nobody is told.
TEST_F(FocusTest, EventAndSoftKeysReachTheFocusedControl) {
  PwlControl* a = Make(PwlType::Button, 1, {0, 0, 20, 10}, view);
  for (uint32_t key : {PwlKey::Soft1, PwlKey::Soft2, PwlKey::ForwardEvent}) Key(key);
  EXPECT_TRUE(gTestLog.calls.empty());
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  Pump();
  PwlSetSlot(1, 0x44, 0);
  PwlSetSlot(2, 0x88, 0);
  struct Row {
    uint32_t key;
    uintptr_t bits;
  };
  for (const Row& row : {Row{PwlKey::ForwardEvent, PwlEvt::Forward},
                         Row{PwlKey::BackwardEvent, PwlEvt::Backward}, Row{PwlKey::Soft1, 0x44},
                         Row{PwlKey::Soft2, 0x88}}) {
    SCOPED_TRACE(row.key);
    gTestLog.calls.clear();
    Key(row.key);
    ASSERT_EQ(gTestLog.calls.size(), 1u);
    EXPECT_EQ(gTestLog.calls[0].message, PwlMsg::Event);
    EXPECT_EQ(gTestLog.calls[0].argument, row.bits);
  }
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

// Without a focus, scrolling and stepping start from the edge they move
// towards: the first control in view going down, the last going up; one cut
// by that edge is not taken by a step.
TEST_F(FocusTest, WithoutAFocusScrollingAndSteppingTakeTheControlAtTheLeadingEdge) {
  struct Row {
    const char* name;
    int32_t scroll;  // 0: a step instead
    uint32_t direction;
    int32_t firstTop, lastTop;
    uint32_t moved;
    int want;  // -1: none, 0: first, 1: last
  };
  for (const Row& row : {Row{"scroll_down", 5, 1, 10, 60, 1, 0},
                         Row{"scroll_up", -5, 0, 10, 60, 1, 1},
                         Row{"scroll_past_all", 400, 1, 10, 60, 0, -1},
                         Row{"step_down", 0, 1, 10, 60, 1, 0},
                         Row{"step_up", 0, 0, 10, 60, 1, 1},
                         Row{"step_down_first_cut", 0, 1, -5, 60, 0, -1},
                         Row{"step_up_last_cut", 0, 0, 10, 95, 0, -1},
                         Row{"spatial_down", 0, 2, 10, 60, 1, 0}}) {
    SCOPED_TRACE(row.name);
    view->origin = {0, 0};
    PwlControl* first = Make(PwlType::Button, 1, {0, row.firstTop, 20, row.firstTop + 10}, view);
    PwlControl* last = Make(PwlType::Button, 2, {30, row.lastTop, 50, row.lastTop + 10}, view);
    uint32_t moved = 0;
    if (row.scroll)
      moved = PwlScrollBy(view, row.scroll);
    else if (row.direction == 2)
      moved = PwlFocusMoveSpatial(context, view, 1, 1);
    else
      moved = PwlFocusStep(view, row.direction, 1);
    EXPECT_EQ(moved, row.moved);
    EXPECT_EQ(view->focused, row.want < 0 ? nullptr : row.want ? last : first);
    view->focused = nullptr;
    PwlDestroy(first);
    PwlDestroy(last);
  }
  EXPECT_EQ(PwlScrollBy(nullptr, 1), 0u);
  EXPECT_EQ(PwlFocusStep(nullptr, 1, 1), 0u);
  EXPECT_EQ(PwlFocusMoveSpatial(context, nullptr, 1, 1), 0u);
  EXPECT_EQ(PwlFocusMoveSpatial(context, view, 1, 1), 0u);  // nothing left
}

// Scrolling up past a focused control that stays partly in view keeps it;
// one scrolled out of view loses the focus.
TEST_F(FocusTest, ScrollingUpKeepsAPartlyVisibleFocus) {
  view->origin = {0, 100};
  PwlControl* a = Make(PwlType::Button, 1, {0, 150, 20, 190}, view);
  ASSERT_EQ(PwlFocusControl(a, 0), kOk);
  EXPECT_EQ(PwlScrollBy(view, -30), 0u);  // view 70..169: a cut at the bottom
  EXPECT_EQ(view->focused, a);
  EXPECT_EQ(view->state, PwlState::Shown);
  EXPECT_EQ(PwlScrollBy(view, -70), 0u);  // view 0..99: a out of view
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
