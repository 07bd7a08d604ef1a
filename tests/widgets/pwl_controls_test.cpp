// Links, check boxes, radio buttons and push buttons under keys and pointer.
#include <algorithm>
#include <array>

#include "browser/benanchor.h"
#include "browser/benform.h"
#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "layout/ddriver.h"
#include "tests/widgets/pwl_controls_fixture.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_text.h"

namespace {

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
  EXPECT_EQ(OwnerEvents(PwlEvent::Activated),
            (std::vector<Received>{{PwlEvent::Activated, reinterpret_cast<uintptr_t>(c), 5}}));
  EXPECT_EQ(anchor.useWindowString, 0u);

  // The second soft key goes to the window's current string, copied once.
  Key(PwlKey::Soft2);
  ASSERT_NE(anchor.windowString, nullptr);
  EXPECT_EQ(std::u16string(anchor.windowString), u"http://now/");
  EXPECT_EQ(anchor.useWindowString, 1u);
  const char16_t* copy = anchor.windowString;
  Key(PwlKey::Soft2);
  EXPECT_EQ(anchor.windowString, copy);
  EXPECT_EQ(OwnerEvents(PwlEvent::Activated).size(), 3u);

  // Nowhere to go and nothing to do: nothing to report.
  BenAnchorRecord empty{};
  DDriverItem emptyItem = Run(u"no", 0, 20);
  PwlControl* dead = Link(PwlType::TextLink, &empty, &emptyItem, 6);
  PwlSetFocus(context, dead, 1, 1);
  ClearOwnerLog();
  Key(PwlKey::Select);
  EXPECT_TRUE(OwnerEvents(PwlEvent::Activated).empty());

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
  const Received point{PwlEvent::Point, reinterpret_cast<uintptr_t>(c), 10u | 10u << 16};
  EXPECT_EQ(OwnerEvents(PwlEvent::Point), std::vector<Received>{point});
  // The focus frame: two-pixel bands inverted, the inside left alone.
  EXPECT_EQ(platform->Pixel(21, 101), 0x0000);
  EXPECT_EQ(platform->Pixel(22, 102), 0xFFFF);
  PwlSetFocus(context, nullptr, 1, 1);
  EXPECT_EQ(platform->Pixel(20, 100), 0xFFFF);
}

TEST_F(LinkTest, AFocusedTitleShowsInABalloonOnlyWhileBalloonsAreOn) {
  BenAnchorRecord anchor{};
  anchor.address = "http://img/";
  anchor.title = u"Pictures";
  DDriverItem image = Picture(40);
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
  EXPECT_NE(platform->screen, before);
  // Taking it down puts the screen back, and a destroyed control is forgotten.
  PwlRestoreSavedAreas(root);
  EXPECT_EQ(root->saved[0], nullptr);
  PwlDestroy(c);
  EXPECT_EQ(root->balloonControl, nullptr);
}

using CheckTest = ControlsFixture;

TEST_F(CheckTest, SelectAndTapToggleTheBoxAndItsRecord) {
  BenFormFieldRecord record{};
  record.kind = BenFieldKind::CheckBox;
  PwlControl* c = Control(PwlType::CheckBox, {-1, -1, -1, -1});
  int32_t at[2] = {10, 20};
  ASSERT_EQ(PwlSend(c, nullptr, at, 0, PwlMsg::SetRect, 0), kOk);
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
  EXPECT_EQ(c->rect.right - c->rect.left + 1, TextWidth(PwlLabelText(0)) + 6);

  record.flags = BenButtonFlag::Submit | BenButtonFlag::Previous;
  PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
  EXPECT_EQ(std::u16string(b->ownLabel), std::u16string(PwlLabelText(10)));
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
}

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
  for (const Forwarded& f : gForwarded)
    EXPECT_TRUE(f.source == c && f.data == point && f.flags == 0 && f.message == PwlMsg::Event &&
                f.argument == PwlClassEvt::Forwarded);
  Pump();
  EXPECT_TRUE(OwnerEvents(PwlEvent::Activated).empty());
  EXPECT_TRUE(OwnerEvents(PwlEvent::Point).empty());
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
