// The select list: binding and layout, the closed box, the dropdown's open
// list (rows, wrapping, placement, the screen under it), spinners, multiple
// choice and the values stored in the browser's variables.
#include <string>

#include "browser/benshow.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "tests/support/golden.h"
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

// ---- binding and layout -------------------------------------------------------

TEST_F(SelectTest, ASingleListWithoutASelectedOptionStartsAtTheFirst) {
  PwlControl* c = MakeSelect(Nine(kDropdown), 10, 10);
  EXPECT_EQ(Sel(c)->current, 0u);
  EXPECT_EQ(Sel(c)->count, 9u);
  EXPECT_FALSE(c->flags & PwlSelFlag::LayoutPending);
  EXPECT_TRUE(c->flags & PwlSelFlag::Dropdown);
  // The box sizes itself: text, icon and frame, never wider than the window.
  EXPECT_GT(c->rect.right, c->rect.left + 20);
  EXPECT_LT(c->rect.right, 160);
  EXPECT_GT(c->rect.bottom, c->rect.top + 10);
}

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

TEST_F(SelectTest, ASetRectangleBeforeTheOptionsWaitsForTheNextOne) {
  BenFormSelectRecord empty{};
  PwlControl* c = nullptr;
  ASSERT_EQ(PwlCreate(&c, root, 1, 0, 0, PwlType::Select), kOk);
  PwlSend(c, nullptr, &empty, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  int32_t words[3] = {5, 5, 0};
  PwlSend(c, nullptr, words, 0x10, PwlMsg::SetRect, 0);
  EXPECT_TRUE(c->flags & PwlSelFlag::LayoutPending);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0), PwlErr::DoesNotFit);
  int32_t limit = 10;
  EXPECT_EQ(PwlSend(c, nullptr, &limit, 0, PwlSelMsg::WidthLimit, 0), PwlErr::NullRect);
  PwlSend(c, nullptr, Nine(0), PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  PwlSend(c, nullptr, words, 0x10, PwlMsg::SetRect, 0);
  EXPECT_FALSE(c->flags & PwlSelFlag::LayoutPending);
  EXPECT_EQ(PwlSend(c, nullptr, &limit, 0, PwlSelMsg::WidthLimit, 0), kOk);
  EXPECT_EQ(c->rect.right, 5 + 10);
}

TEST_F(SelectTest, MeasureAnswersItsErrorsAndASize) {
  PwlSize size{};
  EXPECT_EQ(PwlSelectMeasure(nullptr, nullptr, 0, &size), PwlSelErr::NullOptions);
  EXPECT_EQ(PwlSelectMeasure(nullptr, Nine(0), PwlMsgFlag::Bound, nullptr), PwlErr::NullData);
  ASSERT_EQ(PwlSelectMeasure(nullptr, &data.record, PwlMsgFlag::Bound, &size), kOk);
  EXPECT_GT(size.width, 20u);
  EXPECT_LE(size.width, 160u);
  data.labels[3] = nullptr;
  EXPECT_EQ(PwlSelectMeasure(nullptr, &data.record, PwlMsgFlag::Bound, &size), PwlErr::BadArg);
}

TEST_F(SelectTest, ALongTextEndsInAnEllipsisInsideTheBox) {
  data.Add(u"x", u"A very long option text that cannot fit the box", false, true);
  data.Add(u"y", u"Short", false, false);
  PwlControl* c = Focused(data.Finish(kDropdown), 8, 30);
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/select_box.png", image));
  EXPECT_TRUE(c->flags & PwlCtl::Focused);
}

// ---- the open list --------------------------------------------------------------

TEST_F(SelectTest, NineOptionsOpenFourRowsAndNineDownsWrapToTheTop) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
  PwlSelect* s = Sel(c);
  ASSERT_TRUE(s->open);
  EXPECT_EQ(s->rowsShown, 4u);
  for (int i = 1; i <= 9; ++i) {
    Key(PwlKey::Down);
    if (i == 5) {
      EXPECT_EQ(s->highlightOption, 5u);
      EXPECT_EQ(s->highlightRow, 3u);
      EXPECT_EQ(s->firstShown, 2u);
    }
  }
  EXPECT_EQ(s->highlightOption, 0u);
  EXPECT_EQ(s->highlightRow, 0u);
  EXPECT_EQ(s->firstShown, 0u);
  Key(PwlKey::Up);
  EXPECT_EQ(s->highlightOption, 8u) << "up from the first goes to the last";
  EXPECT_EQ(s->firstShown, 5u);
}

TEST_F(SelectTest, UpAndDownDoNothingWhileADropdownIsClosed) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  EXPECT_EQ(Event(c, PwlEvt::Forward), kOk);
  EXPECT_EQ(Sel(c)->highlightOption, 0u);
  EXPECT_EQ(Sel(c)->current, 0u);
}

TEST_F(SelectTest, OpeningRecordsTheListAndClosingGivesTheScreenBackExactly) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  const std::vector<uint16_t> before = Screen();
  ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
  EXPECT_EQ(ui.openList.open, 1u);
  EXPECT_EQ(ui.openList.control, c);
  EXPECT_EQ(ui.openList.top, Sel(c)->list.top);
  EXPECT_NE(Screen(), before);
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/select_open.png", image));
  // Open: soft key 1 closes, soft key 2 commits.
  uint32_t code = 0;
  PwlGetSlot(1, &code, nullptr);
  EXPECT_EQ(code, PwlSelEvt::Close);
  ASSERT_EQ(Event(c, PwlSelEvt::Close), kOk);
  EXPECT_FALSE(Sel(c)->open);
  EXPECT_EQ(ui.openList.open, 0u);
  EXPECT_EQ(ui.openList.control, nullptr);
  // The focused box is drawn again over the same pixels.
  EXPECT_EQ(Screen(), before);
}

TEST_F(SelectTest, AListNearTheBottomOpensAboveItsBox) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 210);
  ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
  const PwlSelect* s = Sel(c);
  EXPECT_EQ(s->list.bottom, c->rect.top);
  EXPECT_EQ(s->list.bottom - s->list.top + 1, 4 * 16 + 2);
  Event(c, PwlSelEvt::Close);
}

TEST_F(SelectTest, TheBottomBarCountsAsTheScreenEnd) {
  ui.bottomBarHeight = 60;
  PwlControl* c = Focused(Nine(kDropdown), 10, 120);
  ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
  EXPECT_EQ(Sel(c)->list.bottom, c->rect.top) << "239 - 60 - 1 is passed below";
  Event(c, PwlSelEvt::Close);
}

// Both ends at once: the screen's own end and the bottom bar's top, each
// leaving the full four rows above the box; destroying the open list is safe.
TEST_F(SelectTest, AListNearTheScreenEndOrTheBottomBarOpensAboveItsBox) {
  for (const auto& [bar, y] : {std::pair{0u, 210}, std::pair{60u, 120}}) {
    ui.bottomBarHeight = bar;
    PwlControl* c = Focused(Nine(kDropdown), 10, y);
    ASSERT_EQ(Event(c, PwlSelEvt::Open), kOk);
    const PwlSelect* s = Sel(c);
    EXPECT_EQ(s->list.bottom, c->rect.top) << "bar " << bar;
    EXPECT_EQ(s->list.bottom - s->list.top + 1, 4 * 16 + 2) << "bar " << bar;
    EXPECT_EQ(PwlDestroy(c), kOk);
    EXPECT_EQ(ui.openList.open, 0u) << "bar " << bar;
  }
}

TEST_F(SelectTest, AListWithNoOptionsNeverOpens) {
  PwlControl* c = nullptr;
  ASSERT_EQ(PwlCreate(&c, root, 1, 0, 0, PwlType::Select), kOk);
  PwlSelectList list{nullptr, kDropdown, nullptr, 0};
  PwlSend(c, nullptr, &list, 0, PwlMsg::Bind, 0);
  int32_t words[3] = {10, 10, 0};
  PwlSend(c, nullptr, words, 0x10, PwlMsg::SetRect, 0);
  PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
  EXPECT_EQ(Event(c, PwlSelEvt::Open), kOk);
  EXPECT_FALSE(Sel(c)->open);
  EXPECT_EQ(ui.openList.open, 0u);
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
  // The old option lost its marker, the new one has it.
  EXPECT_TRUE(pwlsel::Chosen(Sel(c), 2));
  EXPECT_FALSE(pwlsel::Chosen(Sel(c), 0));
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

TEST_F(SelectTest, ATapOnARowCommitsThatRowAndTheArrowsScroll) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  Event(c, PwlSelEvt::Open);
  PwlSelect* s = Sel(c);
  const PglRect l = s->list;
  // The down arrow corner scrolls one row; the highlight stays on its option.
  Key(PwlKey::Pointer, static_cast<uintptr_t>((l.bottom - 2) << 16 | (l.right - 2)));
  EXPECT_EQ(s->firstShown, 1u);
  EXPECT_EQ(s->highlightOption, 1u) << "row 0 left the view, the highlight went with it";
  // A tap on the second row commits option firstShown + 1.
  Key(PwlKey::Pointer, static_cast<uintptr_t>((l.top + 2 + 16 + 4) << 16 | (l.left + 8)));
  EXPECT_FALSE(s->open);
  EXPECT_EQ(s->current, 2u);
}

// The arrow corners scroll one row at a time and stop at the ends of the
// options; the highlight keeps its option while it stays in view.
TEST_F(SelectTest, TheArrowCornersScrollToTheEndsAndNoFurther) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  Event(c, PwlSelEvt::Open);
  PwlSelect* s = Sel(c);
  const PglRect l = s->list;
  const auto up = [&] { Key(PwlKey::Pointer, static_cast<uintptr_t>((l.top + 2) << 16 | (l.right - 2))); };
  const auto down = [&] {
    Key(PwlKey::Pointer, static_cast<uintptr_t>((l.bottom - 2) << 16 | (l.right - 2)));
  };
  up();  // at the top already
  EXPECT_EQ(s->firstShown, 0u);
  EXPECT_EQ(s->highlightOption, 0u);
  for (int i = 0; i < 8; ++i) down();
  EXPECT_EQ(s->firstShown, 9u - s->rowsShown);  // the last options in view, no further
  EXPECT_EQ(s->highlightOption, 5u);
  EXPECT_EQ(s->highlightRow, 0u);
  up();
  EXPECT_EQ(s->firstShown, 4u);
  EXPECT_EQ(s->highlightOption, 5u);
  EXPECT_EQ(s->highlightRow, 1u);
  for (int i = 0; i < 3; ++i) up();
  EXPECT_EQ(s->firstShown, 1u);
  EXPECT_EQ(s->highlightRow, 3u);  // held at the bottom row, it went up an option
  EXPECT_EQ(s->highlightOption, 4u);
  up();
  EXPECT_EQ(s->firstShown, 0u);
  EXPECT_EQ(s->highlightOption, 3u);
  EXPECT_TRUE(s->open);
}

// ---- spinners ---------------------------------------------------------------------

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

TEST_F(SelectTest, AMultipleSpinnerStepsWithoutChoosingAndTogglesOnCommit) {
  data.Add(u"a", u"A", false, false);
  data.Add(u"b", u"B", false, false);
  PwlControl* c = Focused(data.Finish(kMultiple), 10, 10);
  Event(c, PwlEvt::Forward);
  EXPECT_EQ(Sel(c)->current, 1u);
  EXPECT_FALSE(pwlsel::Chosen(Sel(c), 1));
  owner->log.clear();
  Event(c, PwlSelEvt::Commit);
  Pump();
  EXPECT_TRUE(pwlsel::Chosen(Sel(c), 1));
  EXPECT_EQ(Var(browser, u"idx"), u"2");
  // The label offers "취소" for a chosen option.
  auto owned = OwnerEvents(PwlEvent::Label);
  ASSERT_FALSE(owned.empty());
  EXPECT_EQ(owned.back().arg1, reinterpret_cast<uintptr_t>(UiGetString(13, 9)));
}

// ---- results, picks and actions -----------------------------------------------------

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
  auto actions = OwnerEvents(0x2a08);
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(actions[0].arg1)), u"go-b");
  EXPECT_EQ(actions[0].arg2, 1u);
}

// What the host's list window hands back to a list: a single list takes the
// first index it names, or its first option for none or one past its end;
// a multiple list without indices has nothing chosen.
TEST_F(SelectTest, AListResultOutOfRangeOrEmptyFallsBackToTheFirstOption) {
  struct Row {
    const char* name;
    uint32_t flags;
    std::vector<uint32_t> chosen;
    bool none;  // no index array at all
    const char16_t* idx;
  };
  for (const Row& row : {Row{"single", 0, {4, 1}, false, u"5"},
                         Row{"single_past_the_end", 0, {9}, false, u"1"},
                         Row{"single_none", 0, {}, true, u"1"},
                         Row{"multiple_none", kMultiple, {}, true, u""}}) {
    SCOPED_TRACE(row.name);
    data = SelectRecordData{};
    PwlControl* c = Focused(Nine(row.flags), 10, 10);
    std::vector<uint32_t> chosen = row.chosen;
    ASSERT_EQ(PwlSend(c, nullptr, row.none ? nullptr : chosen.data(), 0, PwlMsg::ValueDelivered,
                      static_cast<uintptr_t>(chosen.size())),
              kOk);
    EXPECT_EQ(Var(browser, u"idx"), row.idx);
    PwlDestroy(c);
  }
}

TEST_F(SelectTest, APickReportsTheRecordsActionWhenTheLabelCarriesNone) {
  data.Add(u"a", u"A", false, false);
  data.Add(u"b", u"B", false, false);
  const char16_t* actions[] = {nullptr, u"record-b"};
  BenFormSelectRecord* record = data.Finish(0);
  record->actions = actions;
  PwlControl* c = Focused(record, 10, 10);
  owner->log.clear();
  uint32_t index = 1;
  ASSERT_EQ(PwlSend(c, nullptr, &index, 0, PwlSelMsg::Pick, 0), kOk);
  Pump();
  auto posted = OwnerEvents(0x2a08);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].arg1, reinterpret_cast<uintptr_t>(actions[1]));
  EXPECT_EQ(posted[0].arg2, 2u);
  index = 7;
  EXPECT_EQ(PwlSend(c, nullptr, &index, 0, PwlSelMsg::Pick, 0), PwlErr::BadArg);
}

// The messages the layout and the dialogs send a list, with and without
// their data: its text area left of the arrow, a width limit that never
// widens, its options and a pick that toggles in a multiple list.
TEST_F(SelectTest, ListMessagesTakeTheirDataOrRefuseItsAbsence) {
  PwlControl* c = MakeSelect(Nine(kMultiple), 10, 10);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlSelMsg::TextRect, 0), PwlErr::NullRect);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::SetRect, 0), PwlErr::NullRect);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::GetValue, 0), PwlSelErr::NullOptions);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlSelMsg::Pick, 0), PwlSelErr::NullOptions);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlSelMsg::WidthLimit, 0), PwlErr::NullRect);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, 0x7777, 0), PwlErr::NoOperation);

  PglRect text{};
  ASSERT_EQ(PwlSend(c, nullptr, &text, 0, PwlSelMsg::TextRect, 0), kOk);
  EXPECT_EQ(text.left, c->rect.left + 1);
  EXPECT_EQ(text.top, c->rect.top + 1);
  EXPECT_LT(text.right, c->rect.right - 6);
  void* options = nullptr;
  ASSERT_EQ(PwlSend(c, nullptr, &options, 0, PwlMsg::GetValue, 0), kOk);
  EXPECT_EQ(options, Sel(c)->options);

  // A limit wider than the box leaves it as it is.
  const int32_t width = c->rect.right - c->rect.left;
  int32_t wider = width + 50;
  ASSERT_EQ(PwlSend(c, nullptr, &wider, 0, PwlSelMsg::WidthLimit, 0), kOk);
  EXPECT_EQ(c->rect.right - c->rect.left, width);

  uint32_t index = 2;
  ASSERT_EQ(PwlSend(c, nullptr, &index, 0, PwlSelMsg::Pick, 0), kOk);
  EXPECT_TRUE(pwlsel::Chosen(Sel(c), 2));
  ASSERT_EQ(PwlSend(c, nullptr, &index, 0, PwlSelMsg::Pick, 0), kOk);
  EXPECT_FALSE(pwlsel::Chosen(Sel(c), 2));

}

// Texts the classes show go through the browser's variables; without one
// to replace the text comes back as a copy.
TEST_F(SelectTest, TextsTakeTheBrowsersVariables) {
  ASSERT_EQ(BenSetVar(&browser, u"who", u"Ann"), kOk);
  struct Row {
    const char16_t* text;
    const char16_t* want;
  };
  for (const Row& row : {Row{u"Hi $(who)!", u"Hi Ann!"}, Row{u"Hi $who", u"Hi Ann"},
                         Row{u"plain", u"plain"}, Row{u"", u""}}) {
    char16_t* out = nullptr;
    ASSERT_EQ(PwlSubstituteText(row.text, &out), kOk);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::u16string(out), row.want);
    EXPECT_NE(out, row.text);
    MemFree(&out);
  }
  char16_t* out = reinterpret_cast<char16_t*>(&browser);
  EXPECT_EQ(PwlSubstituteText(nullptr, &out), PwlErr::BadArg);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(PwlSubstituteText(u"x", nullptr), PwlErr::BadArg);
}

TEST_F(SelectTest, TheSecondSoftKeyNavigatesToTheWindowsStringOnce) {
  char16_t address[] = u"http://example/";
  ui.currentString = address;
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  uintptr_t data2 = 0;
  uint32_t code = 0;
  PwlGetSlot(2, &code, &data2);
  ASSERT_EQ(code, PwlEvt::Select);
  Key(PwlKey::Soft2);
  Key(PwlKey::Soft2);
  EXPECT_EQ(ui.loading[0], 1u);
  EXPECT_EQ(ui.loading[1], 1u);
  ASSERT_EQ(browserLog.size(), 1u) << "a window already loading is left alone";
  EXPECT_EQ(browserLog[0].message, kBenShowPageMessage);
  EXPECT_EQ(browserLog[0].arg1, reinterpret_cast<uintptr_t>(address));
  (void)c;
}

TEST_F(SelectTest, AnUnboundListKeepsItsChoiceInTheItemFlags) {
  char16_t a[] = u"One", b[] = u"Two";
  PwlSelectItem items[] = {{a, 0}, {b, 0}};
  PwlSelectList list{nullptr, kDropdown, items, 2};
  PwlControl* c = nullptr;
  ASSERT_EQ(PwlCreate(&c, root, 1, 0, 0, PwlType::Select), kOk);
  ASSERT_EQ(PwlSend(c, nullptr, &list, 0, PwlMsg::Bind, 0), kOk);
  EXPECT_EQ(items[0].flags & 1, 1) << "a single list marks its current option";
  uint32_t pick = 1;
  PwlSend(c, nullptr, &pick, 0, PwlSelMsg::Pick, 0);
  EXPECT_EQ(items[0].flags & 1, 0);
  EXPECT_EQ(items[1].flags & 1, 1);
  EXPECT_EQ(Var(browser, u"idx"), u"") << "only bound lists store variables";
}

TEST_F(SelectTest, FocusOutClosesAnOpenListAndClearsTheSoftKeys) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  const std::vector<uint16_t> box = Screen();
  Event(c, PwlSelEvt::Open);
  PwlSend(c, nullptr, nullptr, 0, PwlMsg::FocusOut, 0);
  EXPECT_FALSE(Sel(c)->open);
  EXPECT_EQ(ui.openList.open, 0u);
  EXPECT_EQ(Screen(), box);
  uint32_t code = 1;
  PwlGetSlot(1, &code, nullptr);
  EXPECT_EQ(code, 0u);
}

TEST_F(SelectTest, DestroyingAnOpenListGivesTheScreenBack) {
  PwlControl* c = Focused(Nine(kDropdown), 10, 10);
  const std::vector<uint16_t> box = Screen();
  Event(c, PwlSelEvt::Open);
  EXPECT_EQ(PwlDestroy(c), kOk);
  EXPECT_EQ(ui.openList.open, 0u);
  EXPECT_EQ(Screen(), box);
}

// A list closed by losing focus can still be destroyed, and neither way
// leaves anything but the focused box on the screen.
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
    EXPECT_EQ(PwlDestroy(c), kOk) << destroy;
    EXPECT_EQ(ui.openList.open, 0u) << destroy;
    EXPECT_EQ(Screen(), box) << destroy;
  }
}

}  // namespace
