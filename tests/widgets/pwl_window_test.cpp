// Toolkit windows and controls: the tree, drawing, order and visibility.
#include <vector>

#include "tests/widgets/pwl_fixture.h"

namespace {

using WindowTest = PwlFixture;

TEST_F(WindowTest, SubWindowsThatDoNotFitOrAreEmptyAreRefused) {
  PwlWindow* w = reinterpret_cast<PwlWindow*>(1);
  const std::pair<PwlBox, Result> refused[] = {{{100, 0, 61, 10}, PwlErr::DoesNotFit},
                                               {{0, 0, 10, 0}, PwlErr::EmptySize}};
  for (const auto& [bad, error] : refused) {
    EXPECT_EQ(PwlCreateSubWindow(&w, root, &bad, 0), error);
    EXPECT_EQ(w, nullptr);
  }
  const PwlBox box{100, 200, 60, 40};
  ASSERT_EQ(PwlCreateSubWindow(&w, root, &box, 0), kOk);
  EXPECT_EQ(Edges(w->frame), (Ints{100, 200, 159, 239}));
}

TEST_F(WindowTest, SubWindowFramesAddUpThroughTheTree) {
  PwlWindow* outer = nullptr;
  PwlWindow* inner = nullptr;
  const PwlBox a{10, 20, 100, 100}, b{5, 6, 20, 30};
  ASSERT_EQ(PwlCreateSubWindow(&outer, root, &a, 0), kOk);
  ASSERT_EQ(PwlCreateSubWindow(&inner, outer, &b, 0), kOk);
  EXPECT_EQ(Edges(inner->frame), (Ints{15, 26, 34, 55}));
}

TEST_F(WindowTest, HiddenWindowsDrawNothing) {
  PwlWindow* w = nullptr;
  const PwlBox box{0, 0, 50, 50};
  ASSERT_EQ(PwlCreateSubWindow(&w, root, &box, 0), kOk);
  const PglRect r{0, 0, 9, 9};
  const uint16_t before = platform->Pixel(5, 5);
  w->hidden = 1;
  platform->invalidated.clear();
  PwlFillRect2(w, &r, 0x1234);
  PwlInvertRect(w, &r);
  PwlClear(w);
  EXPECT_EQ(platform->Pixel(5, 5), before);
  EXPECT_TRUE(platform->invalidated.empty());
  w->hidden = 0;
  EXPECT_EQ(PwlFillRect2(w, &r, 0x1234), kOk);
  EXPECT_EQ(platform->Pixel(5, 5), 0x1234);
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

TEST_F(WindowTest, AFailedClassInitLeavesNothingBehind) {
  static const PwlControlClass failing{[](PwlControl*) { return Result{1}; }, nullptr, nullptr,
                                       sizeof(PwlControl)};
  PwlSetControlClass(PwlType::Button, &failing);
  PwlControl* c = nullptr;
  EXPECT_EQ(PwlCreate(&c, root, 0, 0, 0, PwlType::Button), PwlErr::NoMemory);
  EXPECT_EQ(c, nullptr);
  EXPECT_TRUE(ListIsEmpty(&root->controls));
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
  EXPECT_EQ(PwlRectVisible(c, 0, 60, 10, 70), kOk);
  EXPECT_EQ(PwlRectVisible(c, 0, 140, 10, 160), PwlErr::PartlyVisible);  // cut by the bottom
  EXPECT_EQ(PwlRectVisible(c, 0, 40, 10, 160), kOk);                     // spans it
  EXPECT_EQ(PwlRectVisible(c, 0, 0, 10, 49), PwlErr::OutsideView);

  PwlControl* out = nullptr;
  c->rect = {0, 140, 10, 160};
  Make(PwlType::Button, 2, {0, 0, 10, 10}, w);  // above the view
  EXPECT_EQ(PwlFirstVisibleChild(w, &out, 1), PwlErr::PartlyVisible);
  EXPECT_EQ(out, c);
  c->flags &= ~PwlCtl::Focusable;
  EXPECT_EQ(PwlFirstVisibleChild(w, &out, 1), PwlErr::OutsideView);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(PwlFirstVisibleChild(w, &out, 0), PwlErr::PartlyVisible);
}

}  // namespace
