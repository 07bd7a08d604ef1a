// The marquee: its behaviours, its ticker entry and its looks.
#include <string>
#include <vector>

#include "browser/benanchor.h"
#include "kernel/mem.h"
#include "tests/widgets/pwl_fixture.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_marquee.h"
#include "widgets/pwl_text.h"
#include "widgets/pwl_ticker.h"

namespace {

constexpr PglRect kRect{10, 40, 109, 55};  // span 99: the scroll limit is 96
constexpr int32_t kLimit = 96;

class MarqueeTest : public PwlFixture {
 protected:
  MarqueeTest() { withFonts = true; }
  void SetUp() override {
    PwlFixture::SetUp();
    PwlSetControlClass(PwlType::Marquee, &kPwlMarqueeClass);
  }

  // A marquee with its font, settings and text, in that order as layout
  // sends them; not yet enabled.
  PwlMarquee* New(const char16_t* text, uint32_t behaviour, uint32_t direction, uint32_t loops,
                  uint32_t mode = 0, BenAnchorRecord* anchor = nullptr) {
    PwlControl* c = Make(PwlType::Marquee, 5, {-1, -1, -1, -1});
    PwlMarqueeFont spec{font, 0x001F0000};  // blue on the default white
    EXPECT_EQ(Send(c, &spec, PwlMarqueeMsg::SetFont), kOk);
    PglRect r = kRect;
    EXPECT_EQ(Send(c, &r, PwlMsg::SetRect), kOk);
    Send(c, reinterpret_cast<void*>(uintptr_t{behaviour}), PwlMarqueeMsg::Behaviour);
    Send(c, reinterpret_cast<void*>(uintptr_t{direction}), PwlMarqueeMsg::Direction);
    Send(c, reinterpret_cast<void*>(uintptr_t{loops}), PwlMarqueeMsg::Loops);
    PwlMarqueeBind bind{anchor, text, mode, 2, 0, nullptr};
    EXPECT_EQ(Send(c, &bind, PwlMsg::Bind, PwlMsgFlag::Bound), kOk);
    return reinterpret_cast<PwlMarquee*>(c);
  }
  Result Send(PwlControl* c, void* data, uint32_t message, uint32_t flags = 0) {
    return PwlSend(c, nullptr, data, flags, message, 0);
  }
  int32_t Content(const PwlMarquee* m) { return m->textWidth; }
  // Steps until the ticker entry halts; the offsets after each step.
  std::vector<int32_t> RunOut(PwlMarquee* m, int limit = 2000) {
    std::vector<int32_t> offsets;
    PwlTickerRun(m->entry);
    while (m->entry->state == PwlTickerState::Running && limit-- > 0) {
      PwlMarqueeStep(m);
      offsets.push_back(m->offset);
    }
    return offsets;
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      Tick();
      Pump();
    }
  }
};

TEST_F(MarqueeTest, ScrollLeftWithTwoLoopsPassesTwiceAndHalts) {
  PwlMarquee* m = New(u"Scrolling", 0, 0, 2);
  const std::vector<int32_t> offsets = RunOut(m);
  int reentries = 0;
  for (size_t i = 1; i < offsets.size(); ++i)
    if (offsets[i] > offsets[i - 1]) {
      ++reentries;
      EXPECT_EQ(offsets[i], kLimit);  // back in at the right edge
    }
  EXPECT_EQ(reentries, 1);
  EXPECT_LT(m->offset + Content(m), 0);  // gone past the left edge
  EXPECT_EQ(m->entry->state, PwlTickerState::Stopped);
}

TEST_F(MarqueeTest, APlainMarqueeMovesOnTheTickerWhileEnabled) {
  PwlMarquee* m = New(u"Moving", 0, 0, 0);
  Send(&m->control, nullptr, PwlMsg::Enable);
  EXPECT_EQ(m->entry->state, PwlTickerState::Running);
  Ticks(12);
  EXPECT_EQ(m->offset, -6);
  Send(&m->control, nullptr, PwlMsg::Disable);
  EXPECT_EQ(m->entry->state, PwlTickerState::Paused);
  Ticks(8);
  EXPECT_EQ(m->offset, -6);
}

TEST_F(MarqueeTest, ALinkMarqueeMovesOnlyWithTheFocus) {
  BenAnchorRecord anchor{};
  anchor.address = "http://example.com/";
  PwlMarquee* m = New(u"Linked", 0, 0, 0, 0, &anchor);
  Send(&m->control, nullptr, PwlMsg::Enable);
  EXPECT_NE(m->entry->state, PwlTickerState::Running);

  PwlSetFocus(context, &m->control, 1, 1);
  Pump();
  EXPECT_EQ(m->entry->state, PwlTickerState::Running);
  Ticks(8);
  EXPECT_EQ(m->offset, -4);

  PwlSetFocus(context, nullptr, 1, 1);
  Pump();
  EXPECT_EQ(m->entry->state, PwlTickerState::Paused);
  EXPECT_EQ(m->offset, 0);
}

TEST_F(MarqueeTest, AFocusedLinkMarqueeShowsItsTitleWhileBalloonsAreOn) {
  BenAnchorRecord anchor{};
  anchor.address = "http://news/";
  anchor.title = u"News";
  PwlMarquee* m = New(u"Headline", 0, 0, 0, 0, &anchor);
  PwlControl* c = &m->control;
  PwlSetFocus(context, c, 1, 1);
  Pump();
  ASSERT_EQ(Send(c, nullptr, PwlMsg::Redraw), kOk);
  EXPECT_EQ(root->saved[0], nullptr) << "balloons off: no balloon";
  root->balloonsOn = 1;
  ASSERT_EQ(Send(c, nullptr, PwlMsg::Redraw), kOk);
  EXPECT_EQ(root->balloonControl, c);
  EXPECT_NE(root->saved[0], nullptr);
  PwlRestoreSavedAreas(root);
  PwlSetFocus(context, nullptr, 1, 1);
  Pump();
  ASSERT_EQ(Send(c, nullptr, PwlMsg::Redraw), kOk);
  EXPECT_EQ(root->saved[0], nullptr) << "not focused: no balloon";
  PwlDestroy(c);
  EXPECT_EQ(root->balloonControl, nullptr);
}

TEST_F(MarqueeTest, DestroyRemovesTheTickerEntryAndShutdownTouchesNoFreedOne) {
  PwlMarquee* m = New(u"Gone", 0, 0, 0);
  Send(&m->control, nullptr, PwlMsg::Enable);
  EXPECT_EQ(PwlDestroy(&m->control), kOk);
  EXPECT_EQ(PwlTickerGetContext()->entries.head, nullptr);
  for (int i = 0; i < 3; ++i) Send(&New(u"Running", 0, 0, 0)->control, nullptr, PwlMsg::Enable);
  Ticks(4);
  PwlShutdown();
  EXPECT_EQ(TskmanFind(Mod::Ticker), nullptr);
  EXPECT_EQ(PwlGetContext(), nullptr);
}

TEST_F(MarqueeTest, LooksAsDrawn) {
  PwlMarquee* plain = New(u"Breaking news from the handset", 0, 0, 0);
  Send(&plain->control, reinterpret_cast<void*>(uintptr_t{0xFFE0}), PwlMarqueeMsg::Background);
  Send(&plain->control, nullptr, PwlMsg::Enable);
  PwlMarquee* focused = New(u"Focused link", 1, 1, 1);
  PglRect r{10, 80, 109, 95};
  Send(&focused->control, &r, PwlMsg::SetRect);
  focused->control.flags |= PwlCtl::Focused;
  Send(&focused->control, nullptr, PwlMsg::Enable);
  Ticks(48);
  EXPECT_TRUE(ScreenMatches("marquee.png"));
}

}  // namespace
