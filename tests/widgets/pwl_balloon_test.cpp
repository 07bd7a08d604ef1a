// The text balloon: where it opens, how a long title is cut, the screen put
// back bit for bit when it expires, and the page animations and marquees it
// stops and runs again in pairs.
#include <algorithm>
#include <string>
#include <vector>

#include "browser/benanchor.h"
#include "browser/uiwindow.h"
#include "layout/animeng.h"
#include "tests/support/golden.h"
#include "tests/widgets/pwl_fixture.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_marquee.h"
#include "widgets/pwl_text.h"
#include "widgets/pwl_ticker.h"

namespace {

constexpr uint16_t kBlack = 0x0000, kFill = 0xFFDB;
constexpr int kExpiryTicks = 3000 / 50;

Result UiHandler(void*, uint32_t, uintptr_t, uintptr_t) { return kOk; }

class BalloonTest : public PwlFixture {
 protected:
  BalloonTest() { withFonts = true; }
  void SetUp() override {
    PwlFixture::SetUp();
    PwlLineHeight(font, 0, &h);
    // A screen whose every pixel differs from its neighbours.
    for (size_t i = 0; i < platform->screen.size(); ++i)
      platform->screen[i] = static_cast<uint16_t>((i * 2654435761u) >> 13 | 0x20);
    PwlSetControlClass(PwlType::Marquee, &kPwlMarqueeClass);
  }
  void TearDown() override {
    PwlShutdown();
    if (uiTask) TskmanDestroyTask(uiTask);
    PwlFixture::TearDown();
  }

  Result Show(const std::u16string& text, PglRect anchor, PwlWindow* w = nullptr) {
    return PwlShowBalloon(font, 0, static_cast<uint32_t>(text.size()), text.c_str(),
                          w ? w : root, &anchor);
  }
  int32_t Width(const std::u16string& text) {
    int32_t w = 0;
    PwlTextWidth(font, 0, static_cast<uint32_t>(text.size()), text.c_str(), &w);
    return w;
  }
  // The leftmost and rightmost black pixels of a screen row.
  std::pair<int32_t, int32_t> InkSpan(int32_t y) {
    int32_t first = -1, last = -1;
    for (int32_t x = 0; x < 160; ++x)
      if (platform->Pixel(x, y) == kBlack) {
        if (first < 0) first = x;
        last = x;
      }
    return {first, last};
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      Tick();
      Pump();
    }
  }
  // A browser window whose animation list the balloon walks.
  void StartUi() {
    ListInit(&ui.animations);
    ASSERT_EQ(TskmanCreateTask(&uiTask, Mod::Ui, UiHandler, &ui), kOk);
    Pump();
  }
  PwlMarquee* Marquee(PglRect rect, bool link) {
    PwlControl* c = Make(PwlType::Marquee, 9, rect);
    auto* m = reinterpret_cast<PwlMarquee*>(c);
    if (link) m->anchor = &linkAnchor;
    PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
    return m;
  }

  int32_t h = 0;
  UiWindow ui{};
  BenAnchorRecord linkAnchor{};
  TskmanTask* uiTask = nullptr;
};

TEST_F(BalloonTest, OpensBelowTheAnchorWithThePointerOpeningTheBox) {
  const std::u16string text = u"Title";
  const int32_t w = Width(text);
  ASSERT_EQ(Show(text, {20, 50, 60, 61}), kOk);
  // Pointer from row 63 (tip at the anchor's middle), box from row 67.
  EXPECT_EQ(platform->Pixel(40, 63), kBlack);
  EXPECT_NE(platform->Pixel(39, 63), kBlack);
  EXPECT_EQ(platform->Pixel(37, 66), kBlack);
  EXPECT_EQ(platform->Pixel(43, 66), kBlack);
  for (int32_t x = 37; x <= 43; ++x) EXPECT_EQ(platform->Pixel(x, 67), kFill) << x;
  const auto [left, right] = InkSpan(67 + 5);
  EXPECT_EQ(right - left + 1, w + 6);
  EXPECT_NE(root->timer, nullptr);
  EXPECT_NE(root->saved[0], nullptr);
  EXPECT_NE(root->saved[1], nullptr);
}

TEST_F(BalloonTest, ALongTitleIsCutToTheFrameAndEndsInDots) {
  const std::u16string text(60, u'W');
  ASSERT_EQ(Show(text, {10, 20, 50, 30}), kOk);
  const auto [left, right] = InkSpan(36 + 5);
  const int32_t w = right - left + 1 - 6;
  EXPECT_LE(w, 159 - 8);
  EXPECT_GT(w + Width(u"W"), 159 - 8);  // not a character short
  EXPECT_GE(left, 0);
}

TEST_F(BalloonTest, OneCharacterGetsABoxTwiceItsWidth) {
  ASSERT_EQ(Show(u"A", {20, 50, 60, 61}), kOk);
  const auto [left, right] = InkSpan(67 + 5);
  EXPECT_EQ(right - left + 1, 2 * Width(u"A") + 6);
}

TEST_F(BalloonTest, ExpiryPutsTheScreenBackBitForBit) {
  const std::vector<uint16_t> before = platform->screen;
  ASSERT_EQ(Show(u"Some link title", {30, 100, 90, 112}), kOk);
  EXPECT_NE(platform->screen, before);
  Ticks(kExpiryTicks - 1);
  EXPECT_NE(platform->screen, before);
  Ticks(1);
  EXPECT_EQ(platform->screen, before);
  EXPECT_EQ(root->timer, nullptr);
  EXPECT_EQ(root->saved[0], nullptr);
  EXPECT_EQ(root->saved[1], nullptr);
}

TEST_F(BalloonTest, APointerPastTheScreenEdgeIsSavedCutAndPutBack) {
  const std::vector<uint16_t> before = platform->screen;
  ASSERT_EQ(Show(u"Edge", {150, 10, 159, 20}), kOk);
  ASSERT_NE(root->saved[1], nullptr);
  EXPECT_EQ(root->saved[1]->surface->width, 4u);  // columns 156 to 159
  PwlRestoreSavedAreas(root);
  EXPECT_EQ(platform->screen, before);
}

// Where the balloon goes for anchors about the window: below, above when
// there is no room below, nowhere for an anchor out of the window or an
// empty title; the screen comes back whole every time.
TEST_F(BalloonTest, TheBoxGoesBelowAboveOrNowhereByTheAnchor) {
  enum Where { kBelow, kAbove, kNowhere };
  struct Row {
    const char* name;
    std::u16string text;
    PglRect anchor;
    Where where;
  };
  const Row rows[] = {
      {"middle", u"Title", {20, 50, 60, 61}, kBelow},
      {"narrow_anchor", u"A much longer title", {70, 50, 74, 61}, kBelow},
      {"at_the_left_edge", u"A much longer title", {0, 50, 4, 61}, kBelow},
      {"near_the_bottom", u"Title", {20, 220, 60, 232}, kAbove},
      {"cut_by_the_top", u"Title", {20, -5, 60, 6}, kBelow},
      {"above_the_window", u"Title", {20, -30, 60, -20}, kNowhere},
      {"below_the_window", u"Title", {20, 250, 60, 260}, kNowhere},
      {"no_title", u"", {20, 50, 60, 61}, kNowhere},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<uint16_t> before = platform->screen;
    ASSERT_EQ(Show(row.text, row.anchor), kOk);
    if (row.where == kNowhere) {
      EXPECT_EQ(root->saved[0], nullptr);
      EXPECT_EQ(platform->screen, before);
      continue;
    }
    ASSERT_NE(root->saved[0], nullptr);
    const PglViewport* box = root->saved[0];
    if (row.where == kBelow)
      EXPECT_GT(box->y, row.anchor.bottom);
    else
      EXPECT_LE(box->y + static_cast<int32_t>(box->surface->height), row.anchor.top);
    EXPECT_GE(box->x, 0);
    EXPECT_LE(box->x + static_cast<int32_t>(box->surface->width), 160);
    PwlRestoreSavedAreas(root);
    EXPECT_EQ(platform->screen, before);
  }
  EXPECT_EQ(PwlShowBalloon(font, 0, 1, u"x", nullptr, &rows[0].anchor), PwlErr::NullWindow);
  EXPECT_EQ(PwlShowBalloon(font, 0, 1, u"x", root, nullptr), PwlErr::NullRect);
}

// A second balloon takes the place of the first: the screen under the first
// comes back, not the first balloon itself.
TEST_F(BalloonTest, ASecondBalloonReplacesTheFirst) {
  const std::vector<uint16_t> before = platform->screen;
  ASSERT_EQ(Show(u"First", {20, 50, 60, 61}), kOk);
  ASSERT_EQ(Show(u"Second title", {30, 120, 90, 131}), kOk);
  PwlRestoreSavedAreas(root);
  EXPECT_EQ(platform->screen, before);
}

TEST_F(BalloonTest, AnimationsUnderTheBoxStopAndResumeInPairs) {
  StartUi();
  AnimEngPlayer under{}, away{};
  under.frameCount = away.frameCount = 2;
  UiPageAnim a{}, b{};
  a = {{}, 30, 70, 20, 10, root, 0, &under};
  b = {{}, 0, 0, 10, 10, root, 0, &away};
  ListAppend(&ui.animations, &a.link);
  ListAppend(&ui.animations, &b.link);

  ASSERT_EQ(Show(u"Title", {20, 50, 60, 61}), kOk);
  EXPECT_EQ(a.stopped, 1u);
  EXPECT_EQ(under.paused & AnimEngPause::Stopped, AnimEngPause::Stopped);
  EXPECT_EQ(b.stopped, 0u);
  EXPECT_EQ(away.paused, 0u);
  const uint32_t shownWhileUp = away.shown;

  Ticks(kExpiryTicks);
  EXPECT_EQ(a.stopped, 0u);
  EXPECT_EQ(under.paused, 0u);
  EXPECT_EQ(away.shown, shownWhileUp);
}

TEST_F(BalloonTest, MarqueesUnderTheBoxHaltAndRunAgain) {
  StartUi();
  PwlMarquee* under = Marquee({10, 70, 100, 80}, false);
  PwlMarquee* away = Marquee({10, 200, 100, 210}, false);
  PwlMarquee* link = Marquee({10, 70, 100, 80}, true);
  PwlTickerRun(link->entry);
  ASSERT_EQ(under->entry->state, PwlTickerState::Running);

  ASSERT_EQ(Show(u"Title", {20, 50, 60, 61}), kOk);
  EXPECT_EQ(under->entry->state, PwlTickerState::Stopped);
  EXPECT_EQ(under->held, 1u);
  EXPECT_EQ(away->entry->state, PwlTickerState::Running);
  EXPECT_EQ(link->entry->state, PwlTickerState::Running);
  EXPECT_EQ(link->held, 0u);

  Ticks(kExpiryTicks);
  EXPECT_EQ(under->entry->state, PwlTickerState::Running);
  EXPECT_EQ(under->held, 0u);
}

TEST_F(BalloonTest, LooksAsDrawn) {
  std::fill(platform->screen.begin(), platform->screen.end(), 0xFFFF);
  ASSERT_EQ(Show(u"A much longer link title than fits on one line", {10, 20, 70, 31}), kOk);
  PwlWindow* second = nullptr;
  const PwlBox box{0, 120, 160, 120};
  ASSERT_EQ(PwlCreateSubWindow(&second, root, &box, 0), kOk);
  ASSERT_EQ(Show(u"x", {60, 100, 90, 112}, second), kOk);
  const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
  EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/balloon.png", image));
}

}  // namespace
