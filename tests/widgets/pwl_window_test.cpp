// Toolkit windows and controls: start, the window tree and its destruction,
// drawing into hidden windows, control creation, reading order and the
// visibility tests.
#include <vector>

#include "kernel/list.h"
#include "tests/widgets/pwl_fixture.h"

namespace {

using WindowTest = PwlFixture;

TEST_F(WindowTest, StartsWithAScreenSizedRootAndTheImages) {
  EXPECT_EQ(root->width, 160u);
  EXPECT_EQ(root->height, 240u);
  EXPECT_EQ(root->frame.right, 159);
  EXPECT_EQ(root->frame.bottom, 239);
  EXPECT_EQ(context->active, root);
  EXPECT_EQ(root->background, 0);
  for (const PwlImagePair& pair : context->images) {
    EXPECT_NE(pair.file, nullptr);
    EXPECT_GT(pair.image.width, 0u);
  }
  // The root opens cleared to black.
  EXPECT_EQ(platform->Pixel(80, 120), 0);
}

TEST_F(WindowTest, ShutdownLeavesNoContextAndStartsAgain) {
  PwlWindow* sub = nullptr;
  const PwlBox box{10, 10, 20, 20};
  ASSERT_EQ(PwlCreateSubWindow(&sub, nullptr, &box, 0), kOk);
  Make(PwlType::TextLink, 1, {0, 0, 5, 5}, sub);
  PwlShutdown();
  EXPECT_EQ(PwlGetContext(), nullptr);
  EXPECT_EQ(gTestLog.Count(PwlMsg::Destroy), 1u);
  ASSERT_EQ(PwlInit(), kOk);
  context = PwlGetContext();
}

TEST_F(WindowTest, SubWindowsThatDoNotFitOrAreEmptyAreRefused) {
  PwlWindow* w = reinterpret_cast<PwlWindow*>(1);
  PwlBox box{100, 0, 61, 10};
  EXPECT_EQ(PwlCreateSubWindow(&w, root, &box, 0), PwlErr::DoesNotFit);
  EXPECT_EQ(w, nullptr);
  box = {0, 200, 10, 41};
  EXPECT_EQ(PwlCreateSubWindow(&w, root, &box, 0), PwlErr::DoesNotFit);
  box = {0, 0, 0, 10};
  EXPECT_EQ(PwlCreateSubWindow(&w, root, &box, 0), PwlErr::EmptySize);
  box = {0, 0, 10, 0};
  EXPECT_EQ(PwlCreateSubWindow(&w, root, &box, 0), PwlErr::EmptySize);
  box = {100, 200, 60, 40};
  ASSERT_EQ(PwlCreateSubWindow(&w, root, &box, 0), kOk);
  EXPECT_EQ(w->frame.left, 100);
  EXPECT_EQ(w->frame.bottom, 239);
  EXPECT_EQ(w->background, 0xFFFF);
}

TEST_F(WindowTest, SubWindowFramesAddUpThroughTheTree) {
  PwlWindow* outer = nullptr;
  PwlWindow* inner = nullptr;
  const PwlBox a{10, 20, 100, 100}, b{5, 6, 20, 30};
  ASSERT_EQ(PwlCreateSubWindow(&outer, root, &a, 0), kOk);
  ASSERT_EQ(PwlCreateSubWindow(&inner, outer, &b, 0), kOk);
  EXPECT_EQ(inner->frame.left, 15);
  EXPECT_EQ(inner->frame.top, 26);
  EXPECT_EQ(inner->frame.right, 34);
  EXPECT_EQ(inner->frame.bottom, 55);
  PwlSize size{};
  EXPECT_EQ(PwlGetSize(inner, &size), kOk);
  EXPECT_EQ(size.width, 20u);
  EXPECT_EQ(PwlGetSize(nullptr, &size), PwlErr::NullWindow);
  EXPECT_EQ(PwlGetSize(inner, nullptr), PwlErr::EmptySize);
  EXPECT_EQ(PwlMoveInParent(root, 2), PwlErr::NoParent);
}

// Sub-windows of one parent in their list order; moving one puts it at the
// end (mode 2) or back at the front.
TEST_F(WindowTest, MovingASubWindowReordersItsParentsChildren) {
  const PwlBox box{0, 0, 10, 10};
  PwlWindow* w[3] = {};
  for (PwlWindow*& one : w) ASSERT_EQ(PwlCreateSubWindow(&one, root, &box, 0), kOk);
  const auto order = [&] {
    std::vector<PwlWindow*> out;
    for (ListNode* n = ListFirst(&root->children); n; n = ListNext(n))
      for (PwlWindow* one : w)
        if (&one->link == n) out.push_back(one);
    return out;
  };
  const std::vector<PwlWindow*> before = order();
  ASSERT_EQ(before.size(), 3u);
  ASSERT_EQ(PwlMoveInParent(before[0], 2), kOk);
  EXPECT_EQ(order(), (std::vector<PwlWindow*>{before[1], before[2], before[0]}));
  ASSERT_EQ(PwlMoveInParent(before[0], 1), kOk);
  EXPECT_EQ(order(), before);
  EXPECT_EQ(PwlMoveInParent(nullptr, 1), PwlErr::NullWindow);
}

TEST_F(WindowTest, HiddenWindowsDrawNothing) {
  PwlWindow* w = nullptr;
  const PwlBox box{0, 0, 50, 50};
  ASSERT_EQ(PwlCreateSubWindow(&w, root, &box, 0), kOk);
  const PglRect r{0, 0, 9, 9};
  const uint16_t before = platform->Pixel(5, 5);
  w->hidden = 1;
  platform->invalidated.clear();
  EXPECT_EQ(PwlFillRect2(w, &r, 0x1234), kOk);
  EXPECT_EQ(PwlInvertRect(w, &r), kOk);
  EXPECT_EQ(PwlDrawLine(w, &r, 0, 0x1234), kOk);
  EXPECT_EQ(PwlClear(w), kOk);
  EXPECT_EQ(platform->Pixel(5, 5), before);
  EXPECT_TRUE(platform->invalidated.empty());
  w->hidden = 0;
  EXPECT_EQ(PwlFillRect2(w, &r, 0x1234), kOk);
  EXPECT_EQ(platform->Pixel(5, 5), 0x1234);
  EXPECT_EQ(PwlFillRect2(nullptr, &r, 0), PwlErr::NullWindow);
  EXPECT_EQ(PwlDrawLine(w, &r, 3, 0), PwlErr::NoOperation);
}

TEST_F(WindowTest, DrawingIsRelativeToTheFrameAndClippedToIt) {
  PwlWindow* w = nullptr;
  const PwlBox box{20, 30, 10, 10};
  ASSERT_EQ(PwlCreateSubWindow(&w, root, &box, 0), kOk);
  const PglRect r{-5, -5, 50, 50};
  EXPECT_EQ(PwlFillRect2(w, &r, 0x07E0), kOk);
  EXPECT_EQ(platform->Pixel(20, 30), 0x07E0);
  EXPECT_EQ(platform->Pixel(29, 39), 0x07E0);
  EXPECT_NE(platform->Pixel(30, 40), 0x07E0);
  EXPECT_NE(platform->Pixel(19, 30), 0x07E0);
  const PglRect diagonal{0, 0, 9, 9};
  EXPECT_EQ(PwlDrawLine(w, &diagonal, 0, 0xF800), kOk);
  EXPECT_EQ(platform->Pixel(25, 35), 0xF800);
}

TEST_F(WindowTest, DestroyingATreeGoesDeepestLastFirstAndNullsTheHandle) {
  PwlWindow *top = nullptr, *a = nullptr, *b = nullptr, *a1 = nullptr, *a2 = nullptr;
  const PwlBox box{0, 0, 40, 40}, small{0, 0, 10, 10};
  ASSERT_EQ(PwlCreateSubWindow(&top, root, &box, 0), kOk);
  ASSERT_EQ(PwlCreateSubWindow(&a, top, &small, PwlWin::AtTail), kOk);
  ASSERT_EQ(PwlCreateSubWindow(&b, top, &small, PwlWin::AtTail), kOk);
  ASSERT_EQ(PwlCreateSubWindow(&a1, a, &small, PwlWin::AtTail), kOk);
  ASSERT_EQ(PwlCreateSubWindow(&a2, a, &small, PwlWin::AtTail), kOk);
  // One control per window tells the order of the destruction; two in the
  // top window show that controls go from last to first.
  PwlControl* inTop1 = Make(PwlType::TextLink, 1, {0, 0, 1, 1}, top);
  PwlControl* inTop2 = Make(PwlType::TextLink, 2, {0, 0, 1, 1}, top);
  PwlControl* inA = Make(PwlType::TextLink, 3, {0, 0, 1, 1}, a);
  PwlControl* inB = Make(PwlType::TextLink, 4, {0, 0, 1, 1}, b);
  PwlControl* inA1 = Make(PwlType::TextLink, 5, {0, 0, 1, 1}, a1);
  PwlControl* inA2 = Make(PwlType::TextLink, 6, {0, 0, 1, 1}, a2);
  gTestLog.calls.clear();
  PwlWindow* handle = top;
  PwlDestroyWindow(&handle);
  EXPECT_EQ(handle, nullptr);
  std::vector<PwlControl*> order;
  for (const ControlCall& c : gTestLog.calls)
    if (c.message == PwlMsg::Destroy) order.push_back(c.control);
  const std::vector<PwlControl*> expected{inB, inA2, inA1, inA, inTop2, inTop1};
  EXPECT_EQ(order, expected);
  EXPECT_TRUE(ListIsEmpty(&root->children));
}

TEST_F(WindowTest, ControlCreationChecksItsArgumentsInOrder) {
  PwlControl* c = nullptr;
  EXPECT_EQ(PwlCreate(&c, root, 0, 0, 0, 0), PwlErr::BadType);
  EXPECT_EQ(PwlCreate(&c, root, 0, 0, 0, 11), PwlErr::BadType);
  EXPECT_EQ(PwlCreate(nullptr, root, 0, 0, 0, 2), PwlErr::NullControl);
  EXPECT_EQ(PwlCreate(&c, nullptr, 0, 0, 0, 2), PwlErr::NullWindow);
  ASSERT_EQ(PwlCreate(&c, root, 7, 0, 3, PwlType::CheckBox), kOk);
  EXPECT_EQ(c->flags, PwlCtl::Focusable);
  EXPECT_EQ(c->rect.left, -1);
  EXPECT_EQ(c->rect.bottom, -1);
  EXPECT_EQ(c->group, 7u);
  EXPECT_EQ(c->row, 3u);
  EXPECT_EQ(PwlDestroy(nullptr), PwlErr::NullControl);
}

TEST_F(WindowTest, AFailedClassInitLeavesNothingBehind) {
  static const PwlControlClass failing{[](PwlControl*) { return Result{1}; }, nullptr, nullptr,
                                       sizeof(PwlControl)};
  PwlSetControlClass(PwlType::Button, &failing);
  PwlControl* c = nullptr;
  EXPECT_EQ(PwlCreate(&c, root, 0, 0, 0, PwlType::Button), PwlErr::NoMemory);
  EXPECT_EQ(c, nullptr);
  EXPECT_TRUE(ListIsEmpty(&root->controls));
  PwlMeasure(nullptr, nullptr, 0, nullptr, PwlType::Button);
  PwlSize size{};
  EXPECT_EQ(PwlMeasure(nullptr, nullptr, 0, &size, PwlType::Button), PwlErr::NoOperation);
  EXPECT_EQ(PwlMeasure(nullptr, nullptr, 0, &size, 0), PwlErr::BadType);
}

TEST_F(WindowTest, DestroyingTheFocusedControlForgetsItWithoutFocusOut) {
  PwlControl* c = Make(PwlType::Button, 1, {0, 0, 10, 10});
  ASSERT_EQ(PwlSetFocus(context, c, 0, 0), kOk);
  gTestLog.calls.clear();
  EXPECT_EQ(PwlDestroy(c), kOk);
  EXPECT_EQ(root->focused, nullptr);
  EXPECT_EQ(gTestLog.Count(PwlMsg::FocusOut), 0u);
  EXPECT_EQ(gTestLog.Count(PwlMsg::Destroy), 1u);
}

std::vector<PwlControl*> Order(PwlWindow* w) {
  std::vector<PwlControl*> out;
  for (ListNode* n = ListFirst(&w->controls); n; n = ListNext(n))
    out.push_back(reinterpret_cast<PwlControl*>(n));
  return out;
}

TEST_F(WindowTest, InsertByPositionFollowsRowsThenLeftEdges) {
  PwlControl* a = Make(PwlType::Button, 1, {50, 0, 60, 10}, nullptr, 1);
  PwlControl* b = Make(PwlType::Button, 2, {0, 20, 10, 30}, nullptr, 2);
  PwlControl* c = Make(PwlType::Button, 3, {10, 0, 20, 10}, nullptr, 1);
  ASSERT_EQ(PwlInsertByPosition(c), kOk);
  EXPECT_EQ(Order(root), (std::vector<PwlControl*>{c, a, b}));
  PwlControl* d = Make(PwlType::Button, 4, {0, 0, 5, 5}, nullptr, 0);
  PwlInsertByPosition(d);
  EXPECT_EQ(Order(root).front(), d);
}

TEST_F(WindowTest, InsertByPositionKeepsLinkRunsWhole) {
  // A link of group 5 broken into three pieces on one row, then something
  // after it.
  PwlControl* p1 = Make(PwlType::TextLink, 5, {0, 0, 10, 10}, nullptr, 1);
  PwlControl* p2 = Make(PwlType::TextLink, 5, {11, 0, 20, 10}, nullptr, 1);
  PwlControl* p3 = Make(PwlType::TextLink, 5, {21, 0, 30, 10}, nullptr, 1);
  PwlControl* after = Make(PwlType::TextLink, 6, {40, 0, 50, 10}, nullptr, 1);
  // A check box whose left edge falls inside the run lands after all of it.
  PwlControl* box = Make(PwlType::CheckBox, 9, {15, 0, 16, 10}, nullptr, 1);
  ASSERT_EQ(PwlInsertByPosition(box), kOk);
  EXPECT_EQ(Order(root), (std::vector<PwlControl*>{p1, p2, p3, box, after}));
  // A piece of the same link goes where its position says.
  PwlControl* own = Make(PwlType::TextLink, 5, {12, 0, 13, 10}, nullptr, 1);
  PwlInsertByPosition(own);
  EXPECT_EQ(Order(root), (std::vector<PwlControl*>{p1, p2, own, p3, box, after}));
}

TEST_F(WindowTest, VisibilityTellsInsideFromPartlyFromOutside) {
  PwlWindow* w = nullptr;
  const PwlBox box{0, 0, 100, 100};
  ASSERT_EQ(PwlCreateSubWindow(&w, root, &box, 0), kOk);
  w->origin = {0, 50};  // the view is y 50 to 149
  PwlControl* c = Make(PwlType::Button, 1, {0, 60, 10, 70}, w);
  struct Row {
    const char* name;
    PglRect r;
    Result want;
  };
  for (const Row& row : {Row{"inside", {0, 60, 10, 70}, kOk},
                         Row{"edge_to_edge", {0, 50, 10, 149}, kOk},
                         Row{"cut_by_the_top", {0, 40, 10, 60}, PwlErr::PartlyVisible},
                         Row{"one_row_above", {0, 49, 10, 60}, PwlErr::PartlyVisible},
                         Row{"cut_by_the_bottom", {0, 140, 10, 160}, PwlErr::PartlyVisible},
                         Row{"one_row_below", {0, 140, 10, 150}, PwlErr::PartlyVisible},
                         Row{"spans_it", {0, 40, 10, 160}, kOk},
                         Row{"above", {0, 0, 10, 49}, PwlErr::OutsideView},
                         Row{"below", {0, 150, 10, 160}, PwlErr::OutsideView},
                         Row{"right", {100, 60, 110, 70}, PwlErr::OutsideView}})
    EXPECT_EQ(PwlRectVisible(c, row.r.left, row.r.top, row.r.right, row.r.bottom), row.want)
        << row.name;

  PwlControl* out = nullptr;
  c->rect = {0, 140, 10, 160};
  Make(PwlType::Button, 2, {0, 0, 10, 10}, w);  // above the view
  EXPECT_EQ(PwlFirstVisibleChild(w, &out, 1), PwlErr::PartlyVisible);
  EXPECT_EQ(out, c);
  c->flags &= ~PwlCtl::Focusable;
  EXPECT_EQ(PwlFirstVisibleChild(w, &out, 1), PwlErr::OutsideView);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(PwlFirstVisibleChild(w, &out, 0), PwlErr::PartlyVisible);
  EXPECT_EQ(PwlFirstVisibleChild(w, nullptr, 0), PwlErr::NullControl);
  EXPECT_EQ(PwlFirstVisibleChild(nullptr, &out, 0), PwlErr::NullWindow);
}

TEST_F(WindowTest, FirstVisibleGroupReturnsTheLastPieceOfARun) {
  PwlWindow* w = nullptr;
  const PwlBox box{0, 0, 100, 100};
  ASSERT_EQ(PwlCreateSubWindow(&w, root, &box, 0), kOk);
  Make(PwlType::TextLink, 1, {0, 80, 90, 89}, w);
  PwlControl* tail = Make(PwlType::TextLink, 1, {0, 90, 30, 110}, w);
  PwlControl* out = nullptr;
  EXPECT_EQ(PwlFirstVisibleGroup(w, &out, 1), PwlErr::PartlyVisible);
  EXPECT_EQ(out, tail);
}

TEST_F(WindowTest, RadioSetCheckedWalksBothWaysAlongTheGroup) {
  PwlControl* a = Make(PwlType::Radio, 1, {0, 0, 5, 5});
  PwlControl* b = Make(PwlType::Radio, 2, {0, 10, 5, 15});
  PwlControl* c = Make(PwlType::Radio, 3, {0, 20, 5, 25});
  auto* ha = reinterpret_cast<PwlCheckHead*>(a);
  auto* hb = reinterpret_cast<PwlCheckHead*>(b);
  auto* hc = reinterpret_cast<PwlCheckHead*>(c);
  ha->nextInGroup = b;
  hb->previousInGroup = a;
  hb->nextInGroup = c;
  hc->previousInGroup = b;
  EXPECT_EQ(PwlRadioSetChecked(b), PwlErr::BadType);  // not grouped yet
  for (PwlControl* x : {a, b, c}) x->flags |= PwlCtl::Grouped;
  std::vector<std::pair<PwlControl*, uint32_t>> seen;
  gTestLog.answer = [&](PwlControl* control, uint32_t message, uintptr_t, void* data) {
    if (message == PwlMsg::SetChecked) seen.emplace_back(control, *static_cast<uint32_t*>(data));
    return kOk;
  };
  EXPECT_EQ(PwlRadioSetChecked(b), kOk);
  const std::vector<std::pair<PwlControl*, uint32_t>> expected{{b, 1}, {c, 0}, {a, 0}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(PwlRadioSetChecked(nullptr), PwlErr::NullControl);
}

TEST_F(WindowTest, SlotsAndTheModalMarkAreKeptInTheContext) {
  PwlSetSlot(1, 0x55, 9);
  PwlSetSlot(3, 0x66, 9);  // ignored
  uint32_t code = 0;
  uintptr_t data = 0;
  PwlGetSlot(1, &code, &data);
  EXPECT_EQ(code, 0x55u);
  EXPECT_EQ(data, 9u);
  PwlClearSlot(1);
  PwlGetSlot(1, &code, &data);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(PwlIsModal(), 0u);
  PwlSetModal(1);
  EXPECT_EQ(PwlIsModal(), 1u);
}

}  // namespace
