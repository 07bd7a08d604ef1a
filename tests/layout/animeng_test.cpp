// The page-animation task and the player of one animated image: the frame
// timer steps a running player and leaves a paused one; restarting, stopping,
// rewinding and resuming move the current frame and the timer as told.
#include <gtest/gtest.h>

#include "kernel/tskman.h"
#include "layout/animeng.h"
#include "tests/support/engine_fixture.h"

namespace {

int gDraws = 0;
void CountDraw(AnimEngPlayer*) { ++gDraws; }

class AnimEngTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_EQ(AnimEngTaskCreate(), kOk);
    gDraws = 0;
    player.frameCount = 3;
    player.delays = delays;
    player.draw = CountDraw;
  }
  void TearDown() override {
    TskmanCancelTimer(&player.timer);
    AnimEngTaskDelete();
    EXPECT_EQ(TskmanFind(Mod::AnimEng), nullptr);
    EngineFixture::TearDown();
  }
  // Lets the given milliseconds of host ticks go by and runs what they post.
  void Wait(uint32_t ms) {
    Tick(static_cast<int>(ms / kTskmanTickMs));
    Pump();
  }

  const uint32_t delays[3] = {100, 0, 300};
  AnimEngPlayer player{};
};

TEST_F(AnimEngTest, ARestartedPlayerStepsOnEachTimerAndWrapsAround) {
  player.frame = 2;
  AnimEngRestart(&player);
  EXPECT_EQ(player.frame, 0u);
  EXPECT_EQ(player.shown, 1u);
  ASSERT_NE(player.timer, nullptr);
  TskmanTimer* timer = player.timer;
  AnimEngRestart(&player);  // a running timer is kept
  EXPECT_EQ(player.timer, timer);
  Wait(50);
  EXPECT_EQ(player.frame, 0u);
  Wait(50);
  EXPECT_EQ(player.frame, 1u);
  Wait(200);
  EXPECT_EQ(player.frame, 0u);  // 2 then round to 0
  EXPECT_EQ(gDraws, static_cast<int>(player.shown));
}

TEST_F(AnimEngTest, APausedPlayerKeepsItsFrameWhileTheTimerRuns) {
  AnimEngRestart(&player);
  player.paused = AnimEngPause::Held;
  Wait(300);
  EXPECT_EQ(player.frame, 0u);
  EXPECT_EQ(player.shown, 1u);
}

// Resuming takes the current frame's delay; a frame without one, or a
// player without delays, waits a second.
TEST_F(AnimEngTest, ResumingWaitsTheCurrentFramesDelay) {
  struct Row {
    uint32_t frame;
    bool delays;
    uint32_t wait;
  };
  for (const Row& row : {Row{2, true, 300}, Row{1, true, 1000}, Row{0, false, 1000}}) {
    SCOPED_TRACE(row.wait);
    player.frame = row.frame;
    player.delays = row.delays ? delays : nullptr;
    player.paused = AnimEngPause::Stopped | AnimEngPause::Held;
    AnimEngResume(&player);
    EXPECT_EQ(player.paused, 0u);
    Wait(row.wait - kTskmanTickMs);
    EXPECT_EQ(player.frame, row.frame);
    Wait(kTskmanTickMs);
    EXPECT_EQ(player.frame, (row.frame + 1) % 3);
    TskmanCancelTimer(&player.timer);
  }
}

TEST_F(AnimEngTest, StoppingShowsTheFirstFrameAndRewindingOnlyMakesItCurrent) {
  AnimEngRestart(&player);
  AnimEngStepOnce(&player);
  EXPECT_EQ(player.frame, 1u);
  AnimEngRewind(&player);
  EXPECT_EQ(player.timer, nullptr);
  EXPECT_EQ(player.frame, 0u);
  EXPECT_EQ(player.paused, AnimEngPause::Stopped);
  EXPECT_EQ(gDraws, 2);  // the restart and the step
  AnimEngRestart(&player);
  AnimEngStepOnce(&player);
  AnimEngStop(&player);
  EXPECT_EQ(player.timer, nullptr);
  EXPECT_EQ(player.frame, 0u);
  EXPECT_EQ(player.paused, AnimEngPause::Stopped);
  EXPECT_EQ(gDraws, 5);
  Wait(1000);
  EXPECT_EQ(player.frame, 0u);
}

TEST_F(AnimEngTest, APlayerWithoutFramesOrDrawingIsLeftAlone) {
  AnimEngPlayer empty{};
  AnimEngStepOnce(&empty);
  EXPECT_EQ(empty.frame, 0u);
  EXPECT_EQ(empty.shown, 0u);
  AnimEngShowFirst(&empty);  // no draw function: only counted
  EXPECT_EQ(empty.shown, 1u);
  // A timer message without a player, and other messages, are ignored.
  TskmanTask* task = TskmanFind(Mod::AnimEng);
  EXPECT_EQ(TskmanSend(task, TskMsg::Timer, 0, 0), kOk);
  EXPECT_EQ(TskmanSend(task, 0x1234, 0, reinterpret_cast<uintptr_t>(&player)), kOk);
  EXPECT_EQ(player.frame, 0u);
  EXPECT_EQ(gDraws, 0);
}

}  // namespace
