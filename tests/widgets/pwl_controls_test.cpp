// Links, check boxes, radio buttons and push buttons driven by the keys and
// the pointer, with what their owner is told and what the screen shows.
#include <algorithm>
#include <array>

#include "browser/benanchor.h"
#include "browser/benform.h"
#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "layout/ddriver.h"
#include "layout/animeng.h"
#include "tests/widgets/pwl_controls_fixture.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_text.h"

namespace {

constexpr uint32_t kLinkSelected = 0x2a03, kLinkPointer = 0x2a04;

class LinkTest : public ControlsFixture {
 protected:
  // A text run at (left, top), its own text, white on black unless told.
  DDriverItem Run(const char16_t* text, uint16_t left, int32_t top) {
    DDriverItem item{};
    item.left = left;
    item.top = top;
    item.width = 60;
    item.height = 12;
    item.kind = DDriverKind::OwnText;
    item.chunk = text;
    item.length = LibcWStrLen(text);
    item.font = font;
    item.foreground = 0x0000;
    item.background = 0xFFFF;
    return item;
  }
  // A 40 x 30 image at (20, top).
  static DDriverItem Picture(int32_t top) {
    DDriverItem item{};
    item.left = 20;
    item.top = top;
    item.width = 40;
    item.height = 30;
    item.kind = DDriverKind::Image;
    return item;
  }
  PwlControl* Link(uint32_t type, BenAnchorRecord* anchor, DDriverItem* item, uint32_t group) {
    const PglRect r{item->left, item->top, item->left + item->width - 1,
                    item->top + static_cast<int32_t>(item->height) - 1};
    PwlControl* c = Control(type, r, group);
    void* words[2] = {anchor, item};
    EXPECT_EQ(PwlSend(c, nullptr, words, PwlMsgFlag::Bound, PwlMsg::Bind, 0), kOk);
    return c;
  }
};

TEST_F(LinkTest, ALinkOverThreeLinesOffersItsLabelOnce) {
  BenAnchorRecord anchor{};
  anchor.address = "http://a/";
  std::array<DDriverItem, 3> items{Run(u"one", 0, 0), Run(u"two", 0, 12), Run(u"six", 0, 24)};
  std::array<PwlControl*, 3> run{};
  for (int i = 0; i < 3; ++i) run[i] = Link(PwlType::TextLink, &anchor, &items[i], 7);
  BenAnchorRecord other{};
  other.address = "http://b/";
  other.alternate = "http://c/";
  other.status[1] = u"second";
  DDriverItem otherItem = Run(u"next", 0, 40);
  PwlControl* next = Link(PwlType::TextLink, &other, &otherItem, 8);

  PwlSetFocus(context, run[1], 1, 1);
  Pump();
  for (PwlControl* c : run) EXPECT_TRUE(c->flags & PwlCtl::Focused);
  EXPECT_EQ(Labels(), std::vector<std::u16string>{PwlLabelText(2)});
  EXPECT_TRUE(OwnerEvents(PwlEvent::FocusChanged).empty());  // the link posted its own label

  ClearOwnerLog();
  PwlSetFocus(context, next, 1, 1);
  Pump();
  EXPECT_EQ(OwnerEvents(PwlEvent::ClearLabels).size(), 1u);
  const auto both = OwnerEvents(PwlEvent::Labels);
  ASSERT_EQ(both.size(), 1u);
  EXPECT_EQ(both[0].arg1, 0u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(both[0].arg2)), u"second");
  for (PwlControl* c : run) EXPECT_FALSE(c->flags & PwlCtl::Focused);
}

TEST_F(LinkTest, SelectReportsTheLinkOnlyWhenItLeadsSomewhere) {
  ASSERT_EQ(UiCreate(""), kOk);
  Pump();
  UiWindow* ui = UiGetWindow();
  ASSERT_NE(ui, nullptr);
  char16_t current[] = u"http://now/";
  ui->currentString = current;

  BenAnchorRecord anchor{};
  anchor.alternate = "http://alt/";
  DDriverItem item = Run(u"go", 0, 0);
  PwlControl* c = Link(PwlType::TextLink, &anchor, &item, 5);
  PwlSetFocus(context, c, 1, 1);
  Pump();
  ClearOwnerLog();
  Key(PwlKey::Select);
  ASSERT_EQ(OwnerEvents(kLinkSelected).size(), 1u);
  EXPECT_EQ(OwnerEvents(kLinkSelected)[0],
            (Received{kLinkSelected, reinterpret_cast<uintptr_t>(c), 5}));
  EXPECT_EQ(anchor.useWindowString, 0u);

  // The second soft key goes to the window's current string, copied once.
  Key(PwlKey::Soft2);
  ASSERT_NE(anchor.windowString, nullptr);
  EXPECT_EQ(std::u16string(anchor.windowString), u"http://now/");
  EXPECT_EQ(anchor.useWindowString, 1u);
  const char16_t* copy = anchor.windowString;
  Key(PwlKey::Soft2);
  EXPECT_EQ(anchor.windowString, copy);
  EXPECT_EQ(OwnerEvents(kLinkSelected).size(), 3u);

  // Nowhere to go and nothing to do: nothing to report.
  BenAnchorRecord empty{};
  DDriverItem emptyItem = Run(u"no", 0, 20);
  PwlControl* dead = Link(PwlType::TextLink, &empty, &emptyItem, 6);
  PwlSetFocus(context, dead, 1, 1);
  ClearOwnerLog();
  Key(PwlKey::Select);
  EXPECT_TRUE(OwnerEvents(kLinkSelected).empty());
  // An inactive link ignores the select altogether.
  PwlSetMark20(c, 0);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select), kOk);
  Pump();
  EXPECT_TRUE(OwnerEvents(kLinkSelected).empty());

  ui->currentString = nullptr;
  MemFree(&anchor.windowString);
  TskmanSend(TskmanFind(Mod::Ui), UiMsg::Command, 31, 0);
}

TEST_F(LinkTest, APointerTapOnAnImageLinkReportsThePointAndFramesIt) {
  BenAnchorRecord anchor{};
  anchor.address = "http://img/";
  DDriverItem image = Picture(100);
  PwlControl* c = Link(PwlType::ImageLink, &anchor, &image, 9);
  Key(PwlKey::Pointer, 110u << 16 | 30u);
  const auto events = OwnerEvents(kLinkPointer);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].arg1, reinterpret_cast<uintptr_t>(c));
  EXPECT_EQ(events[0].arg2, 10u | 10u << 16);
  // The focus frame: two-pixel bands inverted, the inside left alone.
  EXPECT_EQ(platform->Pixel(20, 100), 0x0000);
  EXPECT_EQ(platform->Pixel(21, 101), 0x0000);
  EXPECT_EQ(platform->Pixel(59, 129), 0x0000);
  EXPECT_EQ(platform->Pixel(22, 102), 0xFFFF);
  PwlSetFocus(context, nullptr, 1, 1);
  EXPECT_EQ(platform->Pixel(20, 100), 0xFFFF);
}

// An animated image link runs its animation while focused: from the first
// frame, or one step at a time when its anchor says so; leaving it stops the
// animation on the first frame.
TEST_F(LinkTest, AnAnimatedImageLinkAnimatesOnlyWhileFocused) {
  struct Row {
    uint32_t stepOnce;
    uint32_t frameIn, pausedIn;
    uint32_t frameOut, pausedOut;
  };
  for (const Row& row : {Row{0, 0, 0, 0, AnimEngPause::Stopped}, Row{1, 3, AnimEngPause::Held, 0,
                                                                    AnimEngPause::Held}}) {
    SCOPED_TRACE(row.stepOnce);
    AnimEngPlayer player{};
    player.frameCount = 5;
    player.frame = 2;
    player.paused = AnimEngPause::Held;
    BenAnchorRecord anchor{};
    anchor.address = "http://img/";
    anchor.stepOnce = row.stepOnce;
    DDriverItem image = Picture(100);
    image.player = &player;
    PwlControl* c = Link(PwlType::ImageLink, &anchor, &image, 9);
    PwlSetFocus(context, c, 1, 1);
    EXPECT_EQ(player.frame, row.frameIn);
    EXPECT_EQ(player.paused, row.pausedIn);
    EXPECT_EQ(player.shown, 1u);
    PwlSetFocus(context, nullptr, 1, 1);
    EXPECT_EQ(player.frame, row.frameOut);
    EXPECT_EQ(player.paused, row.pausedOut);
    TskmanCancelTimer(&player.timer);
    PwlDestroy(c);
  }
}

// An anchor that asks for no frame gets none when its image link is
// focused; the link still reports a select.
TEST_F(LinkTest, AnImageLinkWithoutAFrameIsFocusedWithoutOne) {
  BenAnchorRecord anchor{};
  anchor.address = "http://img/";
  anchor.noFrame = 1;
  DDriverItem image = Picture(100);
  PwlControl* c = Link(PwlType::ImageLink, &anchor, &image, 9);
  const std::vector<uint16_t> before = platform->screen;
  PwlSetFocus(context, c, 1, 1);
  EXPECT_EQ(platform->screen, before);
  ClearOwnerLog();
  Key(PwlKey::Select);
  EXPECT_EQ(OwnerEvents(kLinkSelected).size(), 1u);
  PwlSetFocus(context, nullptr, 1, 1);
  EXPECT_EQ(platform->screen, before);
}

TEST_F(LinkTest, AFocusedTitleShowsInABalloonOnlyWhileBalloonsAreOn) {
  BenAnchorRecord anchor{};
  anchor.address = "http://img/";
  anchor.title = u"Pictures";
  DDriverItem image{};
  image.left = 20;
  image.top = 40;
  image.width = 40;
  image.height = 30;
  image.kind = DDriverKind::Image;
  PwlControl* c = Link(PwlType::ImageLink, &anchor, &image, 9);
  // Off: the title is only remembered.
  PwlSetFocus(context, c, 1, 1);
  Pump();
  EXPECT_EQ(root->balloonControl, c);
  EXPECT_EQ(root->balloonPending, 1u);
  EXPECT_EQ(root->saved[0], nullptr);
  PwlSetFocus(context, nullptr, 1, 1);
  Pump();
  // On: the balloon below the image, the screen under it kept.
  root->balloonsOn = 1;
  const std::vector<uint16_t> before = platform->screen;
  PwlSetFocus(context, c, 1, 1);
  Pump();
  ASSERT_NE(root->saved[0], nullptr);
  EXPECT_NE(root->timer, nullptr);
  bool changedBelow = false;
  for (int y = 71; y < 100 && !changedBelow; ++y)
    for (int x = 0; x < 160 && !changedBelow; ++x) changedBelow = platform->Pixel(x, y) != before[y * 160 + x];
  EXPECT_TRUE(changedBelow);
  // Taking it down puts the screen back, and a destroyed control is forgotten.
  PwlRestoreSavedAreas(root);
  EXPECT_EQ(root->saved[0], nullptr);
  PwlDestroy(c);
  EXPECT_EQ(root->balloonControl, nullptr);
}

TEST_F(LinkTest, FocusedColoursAreTheInverseWhenTheRunGivesNone) {
  EXPECT_EQ(PwlInverseColour(0xFFFF), 0x0000);
  EXPECT_EQ(PwlInverseColour(0x0000), 0xFFFF);
  EXPECT_EQ(PwlInverseColour(0xF800), 0x07FF);
  BenAnchorRecord anchor{};
  anchor.address = "x";
  DDriverItem item = Run(u"i", 10, 10);
  PwlControl* c = Link(PwlType::TextLink, &anchor, &item, 1);
  PwlSetFocus(context, c, 1, 1);
  EXPECT_EQ(platform->Pixel(68, 20), 0x0000);  // background, no ink there
  item.focusBackground = 0x001F;
  PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
  EXPECT_EQ(platform->Pixel(68, 20), 0x001F);
  PwlSetFocus(context, nullptr, 1, 1);
  EXPECT_EQ(platform->Pixel(68, 20), 0xFFFF);
}

TEST_F(LinkTest, ASavedAreaComesBackOnlyWhileTheWindowHasNotScrolled) {
  ASSERT_EQ(PglAllocViewport(&root->cache[1]), kOk);
  BenAnchorRecord anchor{};
  anchor.address = "x";
  DDriverItem item = Run(u"i", 10, 50);
  PwlControl* c = Link(PwlType::TextLink, &anchor, &item, 1);
  const PglRect under{0, 40, 100, 80};
  PwlFillRect2(root, &under, 0x1234);

  PwlSetFocus(context, c, 1, 1);
  EXPECT_EQ(platform->Pixel(68, 60), 0x0000);
  PwlSetFocus(context, nullptr, 1, 1);
  EXPECT_EQ(platform->Pixel(68, 60), 0xFFFF);  // the normal look was saved and is back
  EXPECT_EQ(platform->Pixel(5, 60), 0x1234);

  PwlSetFocus(context, c, 1, 1);
  root->origin.y = 4;
  PwlSetFocus(context, nullptr, 1, 1);
  EXPECT_EQ(platform->Pixel(68, 60), 0x0000);  // scrolled: the old area would be wrong
  EXPECT_EQ(reinterpret_cast<PwlTextLink*>(c)->saved, nullptr);
}

TEST_F(LinkTest, SetRectangleRefusesAnUpsideDownOne) {
  PwlControl* c = Control(PwlType::TextLink, {-1, -1, -1, -1});
  PglRect bad{10, 10, 5, 20}, good{1, 2, 3, 4}, unset{-1, -1, -1, -1}, out{};
  EXPECT_EQ(PwlSend(c, nullptr, &bad, 0, PwlMsg::SetRect, 0), PwlErr::BadArg);
  EXPECT_EQ(PwlSend(c, nullptr, &good, 0, PwlMsg::SetRect, 0), kOk);
  EXPECT_EQ(PwlSend(c, nullptr, &unset, 0, PwlMsg::SetRect, 0), kOk);
  EXPECT_EQ(PwlSend(c, nullptr, &out, 0, PwlMsg::GetRect, 0), kOk);
  EXPECT_EQ(out.left, -1);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::SetRect, 0), PwlErr::NullRect);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, 0, 0), PwlErr::NoOperation);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, 256, 0), PwlErr::NoOperation);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, 0x4), PwlClassErr::BadEvent);
}

TEST_F(LinkTest, TheFirstFieldMarkFindsItsLink) {
  BenAnchorRecord plain{}, first{};
  plain.address = first.address = "x";
  first.firstField = 1;
  DDriverItem a = Run(u"a", 0, 0), b = Run(u"b", 0, 20);
  Link(PwlType::TextLink, &plain, &a, 1);
  PwlControl* wanted = Link(PwlType::TextLink, &first, &b, 2);
  EXPECT_EQ(PwlFocusFirstField(root), 1u);
  EXPECT_EQ(root->focused, wanted);
}

// --- Check boxes and radio buttons -------------------------------------------

using CheckTest = ControlsFixture;

TEST_F(CheckTest, SelectAndTapToggleTheBoxAndItsRecord) {
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::CheckBox;
  PwlControl* c = Control(PwlType::CheckBox, {-1, -1, -1, -1});
  const int32_t at[2] = {10, 20};
  ASSERT_EQ(PwlSend(c, nullptr, const_cast<int32_t*>(at), 0, PwlMsg::SetRect, 0), kOk);
  EXPECT_GT(c->rect.right, 10);
  ASSERT_EQ(PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0), kOk);
  PwlSetFocus(context, c, 1, 1);
  Pump();
  EXPECT_EQ(Labels(), std::vector<std::u16string>{PwlLabelText(4)});
  ClearOwnerLog();
  Key(PwlKey::Select);
  EXPECT_TRUE(c->flags & PwlCtl::Checked);
  EXPECT_EQ(record.state, BenCheckState::Checked);
  Key(PwlKey::Pointer, static_cast<uint32_t>(c->rect.top + 2) << 16 | (c->rect.left + 2));
  EXPECT_FALSE(c->flags & PwlCtl::Checked);
  EXPECT_EQ(record.state, 0u);
  EXPECT_EQ(Labels(), (std::vector<std::u16string>{PwlLabelText(5), PwlLabelText(4)}));
  uintptr_t value = 0;
  EXPECT_EQ(PwlSend(c, nullptr, &value, 0, PwlMsg::GetValue, 0), kOk);
  EXPECT_EQ(value, reinterpret_cast<uintptr_t>(&record));
  // Re-reading after a re-layout takes the record's state.
  record.state = BenCheckState::Checked;
  PwlRepositionControls(root);
  EXPECT_TRUE(c->flags & PwlCtl::Checked);
}

// Three radio buttons of one group, joined in the given order.
class RadioTest : public ControlsFixture {
 protected:
  std::array<PwlControl*, 3> Group(const std::array<int, 3>& order, const char16_t* name) {
    std::array<PwlControl*, 3> r{};
    for (int i = 0; i < 3; ++i) {
      r[i] = Control(PwlType::Radio, {0, 20 * i, 11, 20 * i + 11});
      PwlSend(r[i], nullptr, const_cast<char16_t*>(name), 0, PwlMsg::Bind, 0);
    }
    for (int i : order) EXPECT_EQ(PwlSend(r[i], nullptr, nullptr, 0, PwlMsg::JoinGroup, 0), kOk);
    return r;
  }
  static std::vector<bool> States(const std::array<PwlControl*, 3>& r) {
    std::vector<bool> out;
    for (PwlControl* c : r) out.push_back((c->flags & PwlCtl::Checked) != 0);
    return out;
  }
};

TEST_F(RadioTest, CheckingAnyMemberUnchecksTheOthersWhateverTheJoinOrder) {
  std::array<int, 3> order{0, 1, 2};
  do {
    const auto r = Group(order, u"g");
    PwlControl* stranger = Control(PwlType::Radio, {50, 0, 61, 11});
    PwlSend(stranger, nullptr, const_cast<char16_t*>(u"h"), 0, PwlMsg::Bind, 0);
    PwlSend(stranger, nullptr, nullptr, 0, PwlMsg::JoinGroup, 0);
    PwlSend(stranger, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
    for (int pick = 0; pick < 3; ++pick) {
      PwlSend(r[pick], nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
      std::vector<bool> want(3, false);
      want[pick] = true;
      EXPECT_EQ(States(r), want) << order[0] << order[1] << order[2] << " pick " << pick;
    }
    EXPECT_TRUE(stranger->flags & PwlCtl::Checked);
    for (PwlControl* c : r) PwlDestroy(c);
    PwlDestroy(stranger);
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(RadioTest, ASecondSelectOnACheckedButtonDoesNothing) {
  const auto r = Group({2, 0, 1}, u"g");
  PwlSetFocus(context, r[1], 1, 1);
  Pump();
  EXPECT_EQ(Labels(), std::vector<std::u16string>{PwlLabelText(7)});
  Key(PwlKey::Select);
  EXPECT_TRUE(r[1]->flags & PwlCtl::Checked);
  ClearOwnerLog();
  Key(PwlKey::Select);
  EXPECT_TRUE(owner->log.empty());
}

TEST_F(RadioTest, ADestroyedMemberLeavesItsGroupWhole) {
  const auto r = Group({0, 1, 2}, u"g");
  PwlDestroy(r[1]);
  const auto* first = reinterpret_cast<PwlCheckHead*>(r[0]);
  const auto* last = reinterpret_cast<PwlCheckHead*>(r[2]);
  EXPECT_TRUE(first->nextInGroup == r[2] || first->previousInGroup == r[2]);
  EXPECT_TRUE(last->nextInGroup == r[0] || last->previousInGroup == r[0]);
  PwlSend(r[0], nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
  PwlSend(r[2], nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
  EXPECT_FALSE(r[0]->flags & PwlCtl::Checked);
}

TEST_F(RadioTest, BoundMembersGroupByTheirRecordsName) {
  BenFormFieldRecord a{}, b{}, nameless{};
  a.group = b.group = u"size";
  a.state = BenCheckState::Checked;
  PwlControl* ca = Control(PwlType::Radio, {0, 0, 11, 11});
  PwlControl* cb = Control(PwlType::Radio, {0, 20, 11, 31});
  PwlSend(ca, nullptr, &a, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  PwlSend(cb, nullptr, &b, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  EXPECT_TRUE(ca->flags & PwlCtl::Checked);
  PwlSend(ca, nullptr, nullptr, 0, PwlMsg::JoinGroup, 0);
  PwlSend(cb, nullptr, nullptr, 0, PwlMsg::JoinGroup, 0);
  PwlSend(cb, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
  EXPECT_EQ(a.state, 0u);
  EXPECT_EQ(b.state, BenCheckState::Checked);
  PwlControl* cn = Control(PwlType::Radio, {0, 40, 11, 51});
  PwlSend(cn, nullptr, &nameless, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  EXPECT_EQ(PwlSend(cn, nullptr, nullptr, 0, PwlMsg::JoinGroup, 0), PwlErr::BadArg);
  EXPECT_TRUE(cn->flags & PwlCtl::Grouped);
}

// Check boxes and radio buttons without a field record: what they refuse,
// their size from the images, and the value only a check box answers.
TEST_F(RadioTest, BoxesWithoutARecordRefuseMissingDataAndTakeTheirImagesSize) {
  PwlControl* box = Control(PwlType::CheckBox, {0, 0, 11, 11});
  PwlControl* radio = Control(PwlType::Radio, {0, 20, 11, 31});
  for (PwlControl* c : {box, radio}) {
    SCOPED_TRACE(c->type);
    EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::SetRect, 0), PwlErr::NullRect);
    EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::GetValue, 0), PwlErr::BadArg);
    EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlClassMsg::SetBackground, 0), PwlErr::NullData);
    EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, 0x7777, 0), PwlErr::NoOperation);
    EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, 0x2), PwlClassErr::BadEvent);
    PwlSize size{};
    ASSERT_EQ(PwlMeasure(c, nullptr, 0, &size, c->type), kOk);
    EXPECT_GT(size.width, 0u);
    EXPECT_EQ(PwlMeasure(c, nullptr, 0, nullptr, c->type), PwlErr::NullData);
    int32_t at[2] = {30, 40};
    ASSERT_EQ(PwlSend(c, nullptr, at, 0, PwlMsg::SetRect, 0), kOk);
    EXPECT_EQ(Edges(c->rect), (Ints{30, 40, 30 + static_cast<int32_t>(size.width) - 1,
                                    40 + static_cast<int32_t>(size.height) - 1}));
  }
  EXPECT_EQ(PwlSend(box, nullptr, nullptr, 0, PwlMsg::JoinGroup, 0), PwlErr::NoOperation);
  uintptr_t value = 7;
  ASSERT_EQ(PwlSend(box, nullptr, &value, 0, PwlMsg::GetValue, 0), kOk);
  EXPECT_EQ(value, 0u);
  PwlSend(box, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
  ASSERT_EQ(PwlSend(box, nullptr, &value, 0, PwlMsg::GetValue, 0), kOk);
  EXPECT_EQ(value, 1u);
  value = 7;
  PwlSend(radio, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
  ASSERT_EQ(PwlSend(radio, nullptr, &value, 0, PwlMsg::GetValue, 0), kOk);
  EXPECT_EQ(value, 7u);  // a radio's value is its record's
  EXPECT_TRUE(radio->flags & PwlCtl::Checked);
  // A disabled box ignores the select key.
  box->flags &= ~PwlCtl::Enabled;
  EXPECT_EQ(PwlSend(box, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select), kOk);
  EXPECT_TRUE(box->flags & PwlCtl::Checked);
}

// The soft-key label a focused box offers: check or uncheck for a check
// box, choose for a radio not yet chosen and none for a chosen one; leaving
// clears the labels.
TEST_F(RadioTest, AFocusedBoxOffersTheLabelOfWhatSelectWouldDo) {
  struct Row {
    uint32_t type;
    bool checked;
    int label;  // string table entry, or -1 for none
  };
  for (const Row& row : {Row{PwlType::CheckBox, false, 4}, Row{PwlType::CheckBox, true, 5},
                         Row{PwlType::Radio, false, 7}, Row{PwlType::Radio, true, -1}}) {
    SCOPED_TRACE(row.type * 10 + row.checked);
    PwlControl* c = Control(row.type, {0, 0, 11, 11});
    if (row.checked) c->flags |= PwlCtl::Checked;
    ClearOwnerLog();
    ASSERT_EQ(PwlSend(c, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusIn, 0), kOk);
    Pump();
    EXPECT_EQ(Labels(), row.label < 0 ? std::vector<std::u16string>{}
                                      : std::vector<std::u16string>{PwlLabelText(row.label)});
    ClearOwnerLog();
    ASSERT_EQ(PwlSend(c, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusOut, 0), kOk);
    ASSERT_EQ(PwlSend(c, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusOut, 0), kOk);
    Pump();
    EXPECT_EQ(OwnerEvents(PwlEvent::ClearLabels).size(), 1u);
    PwlDestroy(c);
  }
}

// An ungrouped radio told to check itself asks for the choose label; told
// to uncheck, it clears the labels.
TEST_F(RadioTest, SettingARadioCheckedOrNotChangesTheSoftKeyLabels) {
  PwlControl* radio = Control(PwlType::Radio, {0, 0, 11, 11});
  uint32_t word = 1;
  ClearOwnerLog();
  ASSERT_EQ(PwlSend(radio, nullptr, &word, 0, PwlMsg::SetChecked, 0), kOk);
  Pump();
  EXPECT_FALSE(radio->flags & PwlCtl::Checked);
  EXPECT_FALSE(Labels().empty());
  ClearOwnerLog();
  ASSERT_EQ(PwlSend(radio, nullptr, &word, PwlMsgFlag::Checked, PwlMsg::SetChecked, 0), kOk);
  Pump();
  EXPECT_TRUE(radio->flags & PwlCtl::Checked);
  EXPECT_EQ(OwnerEvents(PwlEvent::ClearLabels).size(), 1u);
}

// The messages every standard class answers alike: enable, disable and
// the rectangle, refused without a place to put it.
using ClassTest = ControlsFixture;

TEST_F(ClassTest, EveryClassAnswersEnableDisableAndItsRectangle) {
  for (uint32_t type : {PwlType::TextLink, PwlType::ImageLink, PwlType::CheckBox, PwlType::Button,
                        PwlType::Radio, PwlType::EditBox, PwlType::TextArea, PwlType::Select}) {
    SCOPED_TRACE(type);
    PwlControl* c = Control(type, {3, 4, 50, 20});
    c->rect = {3, 4, 50, 20};
    ASSERT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Disable, 0), kOk);
    EXPECT_FALSE(c->flags & PwlCtl::Enabled);
    ASSERT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0), kOk);
    EXPECT_TRUE(c->flags & PwlCtl::Enabled);
    EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::GetRect, 0), PwlErr::NullRect);
    PglRect r{};
    ASSERT_EQ(PwlSend(c, nullptr, &r, 0, PwlMsg::GetRect, 0), kOk);
    EXPECT_EQ(Edges(r), (Ints{3, 4, 50, 20}));
    PwlDestroy(c);
  }
}

// Installing the standard classes keeps a row someone installed before.
TEST_F(ClassTest, TheStandardClassesKeepARowAlreadyInstalled) {
  static const PwlControlClass kOwn{
      nullptr,
      [](PwlControl*, PwlControl*, void*, uint32_t, uint32_t, uintptr_t) -> Result { return kOk; },
      nullptr, sizeof(PwlControl)};
  for (uint32_t type : {PwlType::Button, PwlType::ImageMap, PwlType::Marquee, PwlType::Select}) {
    SCOPED_TRACE(type);
    const PwlControlClass* standard = PwlSetControlClass(type, &kOwn);
    PwlInstallStandardClasses();
    EXPECT_EQ(PwlGetControlClass(type), &kOwn);
    PwlSetControlClass(type, nullptr);
    PwlInstallStandardClasses();
    EXPECT_EQ(PwlGetControlClass(type), standard);
  }
}

// --- Push buttons ------------------------------------------------------------

class ButtonTest : public ControlsFixture {
 protected:
  char16_t* Own(const char16_t* text) {
    auto* copy =
        static_cast<char16_t*>(MemAlloc((LibcWStrLen(text) + 1) * 2, Use::String, Mod::Pwl));
    LibcWStrCopy(copy, text);
    return copy;
  }
  int32_t TextWidth(const char16_t* text) {
    int32_t w = 0;
    PwlTextWidth(font, 0, LibcWStrLen(text), text, &w);
    return w;
  }
};

TEST_F(ButtonTest, ABoundSubmitButtonWithoutALabelShowsTheDefault) {
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::Button;
  record.flags = BenButtonFlag::Submit;
  PwlControl* c = Control(PwlType::Button, {-1, -1, -1, -1});
  ASSERT_EQ(PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0), kOk);
  const int32_t at[2] = {10, 10};
  ASSERT_EQ(PwlSend(c, nullptr, const_cast<int32_t*>(at), kPwlButtonAtPoint, PwlMsg::SetRect, 0),
            kOk);
  const auto* b = reinterpret_cast<PwlButton*>(c);
  ASSERT_NE(b->ownLabel, nullptr);
  EXPECT_EQ(std::u16string(b->ownLabel), std::u16string(PwlLabelText(0)));
  const int32_t width = c->rect.right - c->rect.left + 1;
  EXPECT_EQ(width, TextWidth(PwlLabelText(0)) + 6);
  PwlSize size{};
  ASSERT_EQ(PwlMeasure(c, &record, PwlMsgFlag::Bound, &size, PwlType::Button), kOk);
  EXPECT_EQ(static_cast<int32_t>(size.width), width);
  EXPECT_EQ(static_cast<int32_t>(size.height), c->rect.bottom - c->rect.top + 1);

  record.flags = BenButtonFlag::Submit | BenButtonFlag::Previous;
  PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  EXPECT_EQ(std::u16string(b->ownLabel), std::u16string(PwlLabelText(10)));
  record.label = "Go";
  PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  EXPECT_EQ(std::u16string(b->ownLabel), u"Go");
}

// The label a bound button without its own shows, by the kind of button;
// a plain button has none.
TEST_F(ButtonTest, EachKindOfButtonShowsItsDefaultLabel) {
  struct Row {
    uint32_t flags;
    int label;  // string table entry, or -1 for none
  };
  for (const Row& row : {Row{BenButtonFlag::Submit, 0},
                         Row{BenButtonFlag::Submit | BenButtonFlag::Previous, 10},
                         Row{BenButtonFlag::Submit | BenButtonFlag::SubmitReset, 1},
                         Row{BenButtonFlag::Reset, 1}, Row{BenButtonFlag::FormFill, 16},
                         Row{0, -1}}) {
    SCOPED_TRACE(row.flags);
    BenFormFieldRecord record{};
    record.kind = BenFieldKind::Button;
    record.flags = row.flags;
    PwlControl* c = Control(PwlType::Button, {-1, -1, -1, -1});
    ASSERT_EQ(PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0), kOk);
    const int32_t at[2] = {10, 10};
    PwlSend(c, nullptr, const_cast<int32_t*>(at), kPwlButtonAtPoint, PwlMsg::SetRect, 0);
    const auto* b = reinterpret_cast<PwlButton*>(c);
    if (row.label < 0) {
      EXPECT_EQ(b->ownLabel, nullptr);
    } else {
      ASSERT_NE(b->ownLabel, nullptr);
      EXPECT_EQ(std::u16string(b->ownLabel), std::u16string(PwlLabelText(row.label)));
    }
    PwlDestroy(c);
  }
}

TEST_F(ButtonTest, ALabelWiderThanTheWindowIsCutAtABlank) {
  PwlControl* c = Control(PwlType::Button, {-1, -1, -1, -1});
  const char16_t* text = u"ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab";
  ASSERT_GT(TextWidth(text), 160);
  ASSERT_EQ(PwlSend(c, nullptr, Own(text), 0, PwlMsg::Bind, 0), kOk);
  const int32_t at[3] = {0, 30, 0};
  ASSERT_EQ(PwlSend(c, nullptr, const_cast<int32_t*>(at), kPwlButtonAtPoint, PwlMsg::SetRect, 0),
            kOk);
  const auto* b = reinterpret_cast<PwlButton*>(c);
  ASSERT_GT(b->shown, 0u);
  ASSERT_LT(b->shown, LibcWStrLen(text));
  EXPECT_EQ(text[b->shown], u' ');
  EXPECT_LT(c->rect.right, 160);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0), kOk);
  // The ellipsis sits after the shown text: ink right of it up to the frame.
  PwlSize size{};
  ASSERT_EQ(PwlMeasure(c, text, 0, &size, PwlType::Button), kOk);
  EXPECT_LE(size.width, 159u);
}

TEST_F(ButtonTest, FocusInvertsTheInsideOnlyAndSelectReports) {
  PwlControl* c = Control(PwlType::Button, {-1, -1, -1, -1}, 3);
  PwlSend(c, nullptr, Own(u"OK"), 0, PwlMsg::Bind, 0);
  const int32_t at[3] = {20, 20, 80};
  PwlSend(c, nullptr, const_cast<int32_t*>(at), 0, PwlMsg::SetRect, 0);
  PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
  const PglRect r = c->rect;
  EXPECT_EQ(platform->Pixel(r.left, r.top), 0xFFFF);  // open corner
  EXPECT_EQ(platform->Pixel(r.left + 1, r.top), 0x0000);
  EXPECT_EQ(platform->Pixel(r.right - 2, r.bottom - 2), 0xFFFF);
  PwlSetFocus(context, c, 1, 1);
  EXPECT_EQ(platform->Pixel(r.right - 2, r.bottom - 2), 0x0000);
  EXPECT_EQ(platform->Pixel(r.right - 1, r.bottom - 1), 0xFFFF);  // between frame and inside
  EXPECT_EQ(platform->Pixel(r.left + 1, r.top), 0x0000);
  Pump();
  EXPECT_EQ(Labels(), std::vector<std::u16string>{PwlLabelText(6)});
  Key(PwlKey::Select);
  EXPECT_EQ(OwnerEvents(PwlEvent::Activated).size(), 1u);
  EXPECT_EQ(OwnerEvents(PwlEvent::Activated)[0].arg2, 3u);
  PwlSetFocus(context, nullptr, 1, 1);
  EXPECT_EQ(platform->Pixel(r.right - 2, r.bottom - 2), 0xFFFF);
}

TEST_F(ButtonTest, MissingLabelsAndDataAreRefused) {
  PwlSize size{};
  EXPECT_EQ(PwlMeasure(nullptr, nullptr, 0, &size, PwlType::Button), PwlClassErr::NoImage);
  EXPECT_EQ(PwlMeasure(nullptr, u"x", 0, nullptr, PwlType::Button), PwlErr::NullData);
  BenFormFieldRecord plain{};
  EXPECT_EQ(PwlMeasure(nullptr, &plain, PwlMsgFlag::Bound, &size, PwlType::Button),
            PwlClassErr::NoImage);
  PwlControl* c = Control(PwlType::Button, {-1, -1, -1, -1});
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Bind, 0), PwlClassErr::NoImage);
  const int32_t at[2] = {0, 0};
  PwlSend(c, nullptr, const_cast<int32_t*>(at), kPwlButtonAtPoint, PwlMsg::SetRect, 0);
  EXPECT_EQ(PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0), PwlErr::DoesNotFit);
}

// ---- owner-drawn controls ------------------------------------------------------------------

struct Forwarded {
  PwlControl* source;
  void* data;
  uint32_t flags, message;
  uintptr_t argument;
};
std::vector<Forwarded> gForwarded;

Result Receive(PwlControl*, PwlControl* source, void* data, uint32_t flags, uint32_t message,
               uintptr_t argument) {
  gForwarded.push_back({source, data, flags, message, argument});
  return kOk;
}

class OwnerDrawnTest : public ControlsFixture, public ::testing::WithParamInterface<uint32_t> {};

// Links, link marquees, image maps and buttons hand every event to the
// control they were created for, and post nothing themselves.
TEST_P(OwnerDrawnTest, EventsGoToTheControlHeldAsTheFirstValue) {
  PwlControl receiver{};
  receiver.procedure = Receive;
  gForwarded.clear();
  PwlControl* c = Control(GetParam(), {0, 0, 40, 20}, reinterpret_cast<uintptr_t>(&receiver));
  ASSERT_NE(c, nullptr);
  c->flags |= PwlCtl::OwnerDrawn;
  int32_t point[2] = {3, 4};
  EXPECT_EQ(PwlSend(c, nullptr, point, 0, PwlMsg::Event, PwlEvt::Select), kOk);
  EXPECT_EQ(PwlSend(c, nullptr, point, 0, PwlMsg::Event, PwlEvt::Pointer), kOk);
  ASSERT_EQ(gForwarded.size(), 2u);
  for (const Forwarded& f : gForwarded) {
    EXPECT_EQ(f.source, c);
    EXPECT_EQ(f.data, point);
    EXPECT_EQ(f.flags, 0u);
    EXPECT_EQ(f.message, PwlMsg::Event);
    EXPECT_EQ(f.argument, PwlClassEvt::Forwarded);
  }
  Pump();
  EXPECT_TRUE(OwnerEvents(PwlEvent::Activated).empty());
  EXPECT_TRUE(OwnerEvents(kLinkPointer).empty());
  // Without a control to go to, the event goes nowhere.
  c->group = 0;
  EXPECT_EQ(PwlSend(c, nullptr, point, 0, PwlMsg::Event, PwlEvt::Select), kOk);
  EXPECT_EQ(gForwarded.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Classes, OwnerDrawnTest,
                         ::testing::Values(PwlType::TextLink, PwlType::ImageLink,
                                           PwlType::Marquee, PwlType::ImageMap,
                                           PwlType::Button));

}  // namespace
