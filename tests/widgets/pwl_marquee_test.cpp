// The marquee: where each behaviour starts, how it moves and where its loops
// end, its ticker entry through enable, focus and destroy, the page kept
// under it while it moves, and its looks.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "browser/benanchor.h"
#include "graphics/image.h"
#include "kernel/mem.h"
#include "tests/support/golden.h"
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
  EXPECT_EQ(m->loopsLeft, 0u);
}

TEST_F(MarqueeTest, SlideRightOnceStopsAtTheLimit) {
  PwlMarquee* m = New(u"Slide", 1, 1, 1);
  EXPECT_EQ(m->offset, 1 - Content(m));  // starts left of the box
  RunOut(m);
  EXPECT_EQ(m->offset + Content(m), kLimit);
  EXPECT_EQ(m->entry->state, PwlTickerState::Stopped);
}

TEST_F(MarqueeTest, AlternateWiderThanTheBoxDoesNotMove) {
  PwlMarquee* m = New(u"A text far wider than its hundred-pixel box", 2, 0, 0);
  ASSERT_GT(Content(m), 100);
  PwlTickerRun(m->entry);
  for (int i = 0; i < 50; ++i) {
    PwlMarqueeStep(m);
    EXPECT_EQ(m->offset, 0);
  }
}

TEST_F(MarqueeTest, ContinuousWrapsByTheContentWidthAndNeverHalts) {
  PwlMarquee* m = New(u"Ticker tape", 3, 1, 1);
  EXPECT_EQ(m->direction, 0u);  // continuous always moves left
  PwlTickerRun(m->entry);
  int wraps = 0;
  for (int i = 0; i < 300; ++i) {
    const int32_t before = m->offset;
    PwlMarqueeStep(m);
    if (m->offset > before) {
      ++wraps;
      EXPECT_EQ(m->offset, before - 2 + Content(m));
    }
    EXPECT_GE(m->offset + Content(m), 0);
  }
  EXPECT_GT(wraps, 2);
  EXPECT_EQ(m->entry->state, PwlTickerState::Running);
}

// Where the loops of each behaviour end and how often it comes back in or
// turns, for a text far narrower than its box.
TEST_F(MarqueeTest, EachBehavioursLoopsEndAtItsEdge) {
  struct Row {
    const char* name;
    uint32_t behaviour, direction, loops;
    int turns;  // re-entries or changes of direction before the end
  };
  for (const Row& row : {Row{"scroll_right_twice", 0, 1, 2, 1}, Row{"slide_left_twice", 1, 0, 2, 1},
                         Row{"alternate_three_times", 2, 0, 3, 2}}) {
    SCOPED_TRACE(row.name);
    PwlMarquee* m = New(u"Go", row.behaviour, row.direction, row.loops);
    const int32_t content = Content(m);
    std::vector<int32_t> offsets;
    int turns = 0;
    PwlTickerRun(m->entry);
    for (int limit = 2000; m->entry->state == PwlTickerState::Running && limit > 0; --limit) {
      const uint32_t direction = m->direction;
      PwlMarqueeStep(m);
      offsets.push_back(m->offset);
      turns += m->direction != direction;
    }
    if (row.behaviour == 2) {
      EXPECT_EQ(turns, row.turns);
      EXPECT_EQ(m->offset, m->direction ? 100 - content : 0);  // stopped at an edge
    } else {
      // A scroll or slide comes back in at the edge it started from.
      const int32_t entry = row.direction ? 1 - content : kLimit;
      EXPECT_EQ(std::count(offsets.begin(), offsets.end(), entry), row.turns);
      if (row.direction) {
        EXPECT_GT(m->offset, kLimit);
      } else {
        EXPECT_EQ(m->offset, 0);
      }
    }
    EXPECT_EQ(m->entry->state, PwlTickerState::Stopped);
    EXPECT_EQ(m->loopsLeft, 0u);
    PwlDestroy(&m->control);
  }
}

// An endless alternating marquee keeps turning inside its box.
TEST_F(MarqueeTest, AnEndlessAlternateStaysInsideItsBox) {
  PwlMarquee* m = New(u"Go", 2, 0, 0);
  PwlTickerRun(m->entry);
  int turns = 0;
  uint32_t direction = m->direction;
  for (int i = 0; i < 400; ++i) {
    PwlMarqueeStep(m);
    EXPECT_GE(m->offset, 0);
    EXPECT_LE(m->offset + Content(m), 100);
    turns += m->direction != direction;
    direction = m->direction;
  }
  EXPECT_GT(turns, 4);
  EXPECT_EQ(m->entry->state, PwlTickerState::Running);
}

TEST_F(MarqueeTest, SettingsMessagesTakeTheirDataOrRefuseItsAbsence) {
  PwlMarquee* m = New(u"Go", 2, 0, 0);
  PwlControl* c = &m->control;
  EXPECT_EQ(Send(c, nullptr, PwlMsg::GetRect), PwlErr::NullRect);
  EXPECT_EQ(Send(c, nullptr, PwlMsg::SetRect), PwlErr::NullRect);
  EXPECT_EQ(Send(c, nullptr, PwlMarqueeMsg::SetFont), static_cast<Result>(0x802a800b));
  EXPECT_EQ(Send(c, nullptr, PwlMsg::Bind), static_cast<Result>(0x802a800b));
  EXPECT_EQ(Send(c, nullptr, 0x7777), PwlErr::NoOperation);
  EXPECT_EQ(Send(c, nullptr, PwlMarqueeMsg::Nothing), kOk);
  PglRect r{};
  ASSERT_EQ(Send(c, &r, PwlMsg::GetRect), kOk);
  EXPECT_EQ(Edges(r), Edges(kRect));
  // An alternating marquee keeps its own direction.
  Send(c, reinterpret_cast<void*>(uintptr_t{1}), PwlMarqueeMsg::Direction);
  EXPECT_EQ(m->direction, 0u);
  Send(c, c, PwlMarqueeMsg::SetFocusable);
  EXPECT_TRUE(c->flags & PwlCtl::Focusable);
  Send(c, nullptr, PwlMarqueeMsg::SetFocusable);
  EXPECT_FALSE(c->flags & PwlCtl::Focusable);
  Send(c, reinterpret_cast<void*>(uintptr_t{0x1234}), PwlMarqueeMsg::Background);
  EXPECT_EQ(m->background, 0x1234);
}

TEST_F(MarqueeTest, ModeOneWithAShortTextNeverMoves) {
  PwlMarquee* m = New(u"Hi", 0, 0, 0, 1);
  PwlTickerRun(m->entry);
  for (int i = 0; i < 20; ++i) PwlMarqueeStep(m);
  EXPECT_EQ(m->offset, 0);
}

TEST_F(MarqueeTest, APlainMarqueeMovesOnTheTickerWhileEnabled) {
  PwlMarquee* m = New(u"Moving", 0, 0, 0);
  Send(&m->control, nullptr, PwlMsg::Enable);
  EXPECT_EQ(m->entry->state, PwlTickerState::Running);
  Ticks(4);
  EXPECT_EQ(m->offset, -2);
  Ticks(8);
  EXPECT_EQ(m->offset, -6);
  Send(&m->control, nullptr, PwlMsg::Disable);
  EXPECT_EQ(m->entry->state, PwlTickerState::Paused);
  Ticks(8);
  EXPECT_EQ(m->offset, -6);
}

TEST_F(MarqueeTest, ALinkMarqueeMovesOnlyWithTheFocus) {
  const char16_t* status[2] = {u"Go", u"There"};
  BenAnchorRecord anchor{};
  anchor.address = "http://example.com/";
  anchor.status[0] = status[0];
  anchor.status[1] = status[1];
  PwlMarquee* m = New(u"Linked", 0, 0, 0, 0, &anchor);
  Send(&m->control, nullptr, PwlMsg::Enable);
  EXPECT_NE(m->entry->state, PwlTickerState::Running);

  PwlSetFocus(context, &m->control, 1, 1);
  Pump();
  EXPECT_EQ(m->entry->state, PwlTickerState::Running);
  ASSERT_EQ(OwnerEvents(PwlEvent::Labels).size(), 1u);
  EXPECT_EQ(OwnerEvents(PwlEvent::Labels)[0].arg1, reinterpret_cast<uintptr_t>(status[0]));
  EXPECT_TRUE(OwnerEvents(PwlEvent::FocusChanged).empty());
  Ticks(8);
  EXPECT_EQ(m->offset, -4);

  PwlSetFocus(context, nullptr, 1, 1);
  Pump();
  EXPECT_EQ(m->entry->state, PwlTickerState::Paused);
  EXPECT_EQ(m->offset, 0);
  EXPECT_EQ(OwnerEvents(PwlEvent::ClearLabels).size(), 1u);
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

TEST_F(MarqueeTest, DestroyRemovesTheTickerEntry) {
  PwlMarquee* m = New(u"Gone", 0, 0, 0);
  Send(&m->control, nullptr, PwlMsg::Enable);
  EXPECT_EQ(PwlDestroy(&m->control), kOk);
  PwlTicker* ticker = PwlTickerGetContext();
  EXPECT_EQ(ticker->entries.head, nullptr);
  EXPECT_EQ(ticker->timer, nullptr);
}

TEST_F(MarqueeTest, ShutdownWithRunningMarqueesTouchesNoFreedEntry) {
  for (int i = 0; i < 3; ++i) Send(&New(u"Running", 0, 0, 0)->control, nullptr, PwlMsg::Enable);
  Ticks(4);
  PwlShutdown();
  EXPECT_EQ(TskmanFind(Mod::Ticker), nullptr);
  EXPECT_EQ(PwlGetContext(), nullptr);
}

TEST_F(MarqueeTest, InACachingWindowTheTextMovesOverThePage) {
  ASSERT_EQ(PglAllocViewport(&root->cache[1]), kOk);
  for (size_t i = 0; i < platform->screen.size(); ++i)
    platform->screen[i] = static_cast<uint16_t>((i * 2654435761u) >> 13) | 0x0800;
  const std::vector<uint16_t> page = platform->screen;
  PwlMarquee* m = New(u"Over the page", 0, 0, 0);
  Send(&m->control, nullptr, PwlMsg::Enable);
  Ticks(40);
  // Each pixel of the box is the page's or the text's blue.
  for (int32_t y = kRect.top; y <= kRect.bottom; ++y)
    for (int32_t x = kRect.left; x <= kRect.right; ++x) {
      const uint16_t p = platform->Pixel(x, y);
      EXPECT_TRUE(p == page[y * 160 + x] || p == 0x001F) << x << "," << y;
    }
  EXPECT_NE(m->saved, nullptr);
  Send(&m->control, nullptr, PwlMsg::Redraw);
}

TEST_F(MarqueeTest, AnImageLeadsTheTextVerticallyCentred) {
  // An 8 x 6 red image in one RGB565 band.
  alignas(8) static uint8_t record[sizeof(ContentImage) + sizeof(PglSurface*)];
  static uint16_t pixels[8 * 6];
  for (uint16_t& p : pixels) p = 0xF800;
  static PglSurface band{};
  band = {reinterpret_cast<uint8_t*>(pixels), 8, 6, 16, 8, kPglRgb565, 0};
  auto* image = new (record) ContentImage{};
  image->kind = ContentKind::Banded;
  image->width = 8;
  image->height = 6;
  image->bandCount = 1;
  image->bands[0] = &band;

  PwlControl* c = Make(PwlType::Marquee, 5, {-1, -1, -1, -1});
  PwlMarqueeFont spec{font, 0};
  Send(c, &spec, PwlMarqueeMsg::SetFont);
  PglRect r = kRect;
  Send(c, &r, PwlMsg::SetRect);
  PwlMarqueeBind bind{nullptr, u"Pic", 0, 0, 0, image};
  ASSERT_EQ(Send(c, &bind, PwlMsg::Bind), kOk);
  auto* m = reinterpret_cast<PwlMarquee*>(c);
  ASSERT_NE(m->image, nullptr);
  Send(c, nullptr, PwlMsg::Redraw);
  const int32_t top = kRect.top + (kRect.bottom - kRect.top + 1 - 6) / 2;
  EXPECT_EQ(platform->Pixel(kRect.left, top), 0xF800);
  EXPECT_EQ(platform->Pixel(kRect.left + 7, top + 5), 0xF800);
  EXPECT_NE(platform->Pixel(kRect.left + 8, top), 0xF800);
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
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/marquee.png", image));
}

}  // namespace
