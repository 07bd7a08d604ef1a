// The select list: layout, the open list, spinners and stored variables.
#include <string>

#include "browser/benshow.h"
#include "kernel/libc.h"
#include "kernel/uistring.h"
#include "tests/widgets/sel_fixture.h"
#include "widgets/pwl_select.h"

namespace {

constexpr uint32_t kDropdown = BenSelectFlag::Dropdown;
constexpr uint32_t kMultiple = BenSelectFlag::Multiple;

std::u16string Var(const BenBrowser& b, const char16_t* name) {
  const char16_t* v = BenGetVar(&b, name);
  return v ? std::u16string(v) : std::u16string();
}

class SelectTest : public SelFixture {
 protected:
  PwlSelect* Sel(PwlControl* c) { return reinterpret_cast<PwlSelect*>(c); }
  Result Event(PwlControl* c, uint32_t bits, void* data = nullptr) {
    return PwlSend(c, nullptr, data, 0, PwlMsg::Event, bits);
  }
  // Nine options "Option 1" .. "Option 9", none chosen.
  BenFormSelectRecord* Nine(uint32_t flags) {
    for (int i = 1; i <= 9; ++i)
      data.Add(u"v" + std::u16string(1, char16_t(u'0' + i)),
               u"Option " + std::u16string(1, char16_t(u'0' + i)), false, false);
    return data.Finish(flags);
  }
  PwlControl* Focused(BenFormSelectRecord* record, int32_t x, int32_t y) {
    PwlControl* c = MakeSelect(record, x, y);
    PwlSetFocus(context, c, 1, 1);
    Pump();
    return c;
  }
  SelectRecordData data;
};

TEST_F(SelectTest, TheInitialMarkerChoosesTheCurrentOptionAndLayoutTheLastChosen) {
  data.Add(u"a", u"A", false, false);
  data.Add(u"b", u"B", true, false);
  data.Add(u"c", u"C", false, true);
  PwlControl* c = nullptr;
  ASSERT_EQ(PwlCreate(&c, root, 1, 0, 0, PwlType::Select), kOk);
  PwlSend(c, nullptr, data.Finish(0), PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  EXPECT_EQ(Sel(c)->current, 1u) << "bind: the first initial marker";
  int32_t words[3] = {0, 0, 0};
  PwlSend(c, nullptr, words, 0x10, PwlMsg::SetRect, 0);
  EXPECT_EQ(Sel(c)->current, 2u) << "layout: the last selection marker";
}

TEST_F(SelectTest, NineOptionsOpenFourRowsAndNineDownsWrapToTheTop) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
  PwlSelect* s = Sel(c);
  ASSERT_TRUE(s->open);
  EXPECT_EQ(s->rowsShown, 4u);
  // The highlighted option, its row and the first option shown.
  auto at = [s] {
    return std::vector<uint32_t>{s->highlightOption, s->highlightRow, s->firstShown};
  };
  for (int i = 1; i <= 5; ++i) Key(PwlKey::Down);
  EXPECT_EQ(at(), (std::vector<uint32_t>{5, 3, 2}));
  for (int i = 6; i <= 9; ++i) Key(PwlKey::Down);
  EXPECT_EQ(at(), (std::vector<uint32_t>{0, 0, 0}));
  Key(PwlKey::Up);
  EXPECT_EQ(s->highlightOption, 8u) << "up from the first goes to the last";
  EXPECT_EQ(s->firstShown, 5u);
}

TEST_F(SelectTest, OpeningRecordsTheListAndClosingGivesTheScreenBackExactly) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  const std::vector<uint16_t> before = Screen();
  ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
  EXPECT_EQ(ui.openList.control, c);
  EXPECT_TRUE(ScreenMatches("select_open.png"));
  // Open: soft key 1 closes, soft key 2 commits.
  uint32_t code = 0;
  PwlGetSlot(1, &code, nullptr);
  EXPECT_EQ(code, PwlSelEvt::Close);
  ASSERT_EQ(Event(c, PwlSelEvt::Close), kOk);
  EXPECT_FALSE(Sel(c)->open);
  EXPECT_EQ(ui.openList.control, nullptr);
  // The focused box is drawn again over the same pixels.
  EXPECT_EQ(Screen(), before);
}

TEST_F(SelectTest, AListNearTheScreenEndOrTheBottomBarOpensAboveItsBox) {
  for (const auto& [bar, y] : {std::pair{0u, 210}, std::pair{60u, 120}}) {
    ui.bottomBarHeight = bar;
    PwlControl* c = Focused(Nine(kDropdown), 10, y);
    ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
    const PwlSelect* s = Sel(c);
    EXPECT_EQ(s->list.bottom, c->rect.top) << "bar " << bar;
    EXPECT_EQ(s->list.bottom - s->list.top + 1, 4 * 16 + 2);
    PwlDestroy(c);
  }
}

TEST_F(SelectTest, CommittingInASingleListSelectsTheHighlightAndCloses) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  Event(c, PwlSelEvt::Open);
  Key(PwlKey::Down);
  Key(PwlKey::Down);
  ASSERT_EQ(Event(c, PwlSelEvt::Commit), kOk);
  EXPECT_FALSE(Sel(c)->open);
  EXPECT_EQ(Sel(c)->current, 2u);
  EXPECT_EQ(Var(browser, u"idx"), u"3");
  EXPECT_EQ(Var(browser, u"val"), u"v3");
}

TEST_F(SelectTest, CommittingTheThirdOptionOfAMultipleListTwiceLeavesItUnchosen) {
  data.Add(u"a", u"Apple", true, true);
  data.Add(u"b", u"Banana", false, false);
  data.Add(u"c", u"Cherry", false, false);
  data.Add(u"d", u"Date", false, true);
  PwlControl* c = Focused(data.Finish(kDropdown | kMultiple), 10, 10);
  Event(c, PwlSelEvt::Open);
  Key(PwlKey::Down);
  Key(PwlKey::Down);
  Event(c, PwlSelEvt::Commit);
  EXPECT_TRUE(Sel(c)->open) << "a multiple list stays open";
  EXPECT_EQ(Var(browser, u"idx"), u"1;3;4");
  EXPECT_EQ(Var(browser, u"val"), u"a;c;d");
  Event(c, PwlSelEvt::Commit);
  EXPECT_EQ(Var(browser, u"idx"), u"1;4");
  EXPECT_EQ(Var(browser, u"val"), u"a;d");
  // Toggled off, the marker is a blank, which counts as unchosen.
  const char16_t* label = data.labels[2];
  EXPECT_EQ(label[LibcWStrLen(label) - 1], u' ');
  Event(c, PwlSelEvt::Close);
}

TEST_F(SelectTest, AValueWithoutALineFeedIsRefusedAndStoresNothing) {
  data.Add(u"a", u"A", false, false);
  data.buffers[0] = {u'A', u'-', u'-', 0, 0};
  PwlControl* c = Focused(data.Finish(kMultiple), 10, 10);
  Event(c, PwlSelEvt::Commit);
  EXPECT_EQ(Var(browser, u"idx"), u"");
}

TEST_F(SelectTest, ASingleSpinnerStepsAndWrapsStoringEachStep) {
  data.Add(u"a", u"A", false, false);
  data.Add(u"b", u"B", false, false);
  data.Add(u"c", u"C", false, true);
  PwlControl* c = Focused(data.Finish(0), 10, 10);
  EXPECT_EQ(Sel(c)->current, 2u);
  // Focus in: soft key 1 steps back, soft key 2 forward; "이전" and "다음".
  auto owner = OwnerEvents(PwlEvent::Label);
  ASSERT_FALSE(owner.empty());
  EXPECT_EQ(owner.back().arg1, reinterpret_cast<uintptr_t>(UiGetString(13, 10)));
  Event(c, PwlEvt::Forward);
  EXPECT_EQ(Sel(c)->current, 0u);
  EXPECT_EQ(Var(browser, u"idx"), u"1");
  Event(c, PwlEvt::Backward);
  EXPECT_EQ(Sel(c)->current, 2u);
  EXPECT_EQ(Var(browser, u"val"), u"c");
}

TEST_F(SelectTest, AListResultChangesOnlyTheOptionsThatDifferAndReportsTheFirstAction) {
  data.Add(u"a", u"A", false, false);
  data.Add(u"b", u"B", false, false, u"go-b");
  data.Add(u"c", u"C", false, false, u"go-c");
  PwlControl* c = Focused(data.Finish(kMultiple | kDropdown), 10, 10);
  EXPECT_TRUE(c->flags & PwlSelFlag::Actions);
  owner->log.clear();
  uint32_t chosen[] = {1, 2};
  ASSERT_EQ(PwlSend(c, nullptr, chosen, 0, PwlMsg::ValueDelivered, 2), kOk);
  Pump();
  EXPECT_EQ(Var(browser, u"idx"), u"2;3");
  auto actions = OwnerEvents(PwlEvent::SelectAction);
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(actions[0].arg1)), u"go-b");
  EXPECT_EQ(actions[0].arg2, 1u);
}

TEST_F(SelectTest, FocusOutOrDestroyClosesAnOpenListGivingTheScreenBack) {
  for (const bool destroy : {false, true}) {
    PwlControl* c = Focused(Nine(kDropdown), 10, 10);
    const std::vector<uint16_t> box = Screen();
    Event(c, PwlSelEvt::Open);
    if (!destroy) {
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::FocusOut, 0);
      EXPECT_FALSE(Sel(c)->open);
      uint32_t code = 1;
      PwlGetSlot(1, &code, nullptr);
      EXPECT_EQ(code, 0u) << "the soft keys are cleared";
      EXPECT_EQ(Screen(), box);
    }
    EXPECT_EQ(PwlDestroy(c), kOk);
    EXPECT_EQ(ui.openList.open, 0u);
    EXPECT_EQ(Screen(), box) << destroy;
  }
}

}  // namespace
