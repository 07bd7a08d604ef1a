#include <gtest/gtest.h>

#include <string>

#include "movie_writer.h"
#include "player_support.h"

namespace {

using movie::Bytes;

Bytes FramesMovie(uint16_t frames) {
  using namespace movie;
  Bytes tags = Concat({SolidShape(2, 1, 255, 0, 0), Place(1, 1, 0, 0)});
  for (uint16_t i = 0; i < frames; ++i) tags = Concat({tags, ShowFrame()});
  Header h;
  h.frames = frames;
  return Qvx(h, Concat({tags, End()}));
}

uint32_t Open(TestPlayer& p, const Bytes& data) {
  const int32_t w = 176, h = 208;
  return AnimHost_Open(p.get(), data.data(), p.frame.data(), p.work.data(), static_cast<uint32_t>(data.size()), &w,
                       &h);
}

TEST(AnimHost, OpensAMovieAndSteps) {
  TestPlayer p;
  const Bytes data = FramesMovie(3);
  ASSERT_EQ(Open(p, data), 0u);
  ASSERT_NE(p->movie, nullptr);
  EXPECT_EQ(p->fromBuffer, 1u);
  EXPECT_EQ(p->movie->levels->frameCount, 3u);
  EXPECT_EQ(AnimHost_Step(p.get()), 0u);
  EXPECT_EQ(AnimHost_Step(p.get()), 0u);
  ExpectCachedRedrawsMatch(p.get());
  EXPECT_EQ(AnimHost_Close(p.get()), 0u);
  EXPECT_EQ(p->movie, nullptr);
  EXPECT_EQ(p->fromBuffer, 0u);
  // A package plays its first member.
  ASSERT_EQ(Open(p, movie::Qvz({{"intro.qvx", FramesMovie(2)}, {"next.qvx", data}})), 0u);
  EXPECT_EQ(p->movie->levels->frameCount, 2u);
  EXPECT_EQ(p->package.count, 2u);
  EXPECT_EQ(AnimHost_Close(p.get()), 0u);
  EXPECT_EQ(p->package.count, 0u);
}

struct OpenFailure {
  Bytes data;
  uint32_t result;
};
class AnimHostOpenFailure : public ::testing::TestWithParam<int> {};

TEST(AnimHost, FailedOpensReturnTheirCodesAndCloseStillRuns) {
  const Bytes good = FramesMovie(2);
  Bytes shortData(good.begin(), good.end() - 1);
  Bytes notMovie = good;
  notMovie[0] = 'F';
  const Bytes badSound = movie::Qvx({}, movie::Concat({movie::Sound(1, 0, 0, 1, {1}), movie::End()}));
  const std::vector<OpenFailure> cases = {
      {{}, 1}, {movie::Qvz({}), 1}, {shortData, 2}, {notMovie, 2}, {badSound, 2}};
  for (const OpenFailure& c : cases) {
    TestPlayer p;
    EXPECT_EQ(Open(p, c.data), c.result);
    EXPECT_EQ(p->movie, nullptr);
    EXPECT_EQ(AnimHost_Close(p.get()), 0u);
    // The next open works on the same context.
    EXPECT_EQ(Open(p, good), 0u);
    EXPECT_EQ(AnimHost_Close(p.get()), 0u);
  }
}

TEST(AnimHost, OpenAlwaysStartsOnAFreshHeap) {
  TestPlayer p;
  ASSERT_EQ(Open(p, FramesMovie(2)), 0u);
  const uint32_t used = p->heap.bytesInUse;
  // A second open without a close: the movie came from a buffer, yet the heap starts over.
  ASSERT_EQ(Open(p, FramesMovie(2)), 0u);
  EXPECT_EQ(p->heap.bytesInUse, used);
  AnimHost_Close(p.get());
}

TEST(AnimHost, CloseWithoutOpenIsHarmless) {
  TestPlayer p;
  EXPECT_EQ(AnimHost_Close(p.get()), 0u);
  EXPECT_STREQ(AnimHost_GetMin(p.get()), "8200000000000");
}

TEST(AnimHost, AFailedAllocationDuringALoadReturnsOneAndLeavesNoMovie) {
  TestPlayer p;
  ASSERT_EQ(Open(p, FramesMovie(2)), 0u);
  ASSERT_EQ(AnimHost_Close(p.get()), 0u);
  // A movie whose frame table cannot fit in the heap.
  movie::Header h;
  h.frames = 60000;
  const Bytes huge = movie::Qvx(h, movie::End());
  const AnimDataArg arg{static_cast<uint32_t>(huge.size()), huge.data(), -1};
  EXPECT_EQ(AnimPlayer_Command(p.get(), 16, reinterpret_cast<uintptr_t>(&arg)), 1u);
  EXPECT_EQ(p->movie, nullptr);
  EXPECT_EQ(AnimHost_Close(p.get()), 0u);
  EXPECT_EQ(p->heap.abortFlag, 0u);
}

TEST(AnimCommands, ZoomStaysWithinOneToThree) {
  TestPlayer p;
  ASSERT_EQ(Open(p, FramesMovie(2)), 0u);
  for (int i = 0; i < 3; ++i) AnimPlayer_Command(p.get(), 4, 18);
  EXPECT_EQ(p->zoom, 3u);
  AnimPlayer_Command(p.get(), 4, 17);
  EXPECT_EQ(p->zoom, 1u);
  AnimPlayer_Command(p.get(), 4, 19);
  EXPECT_EQ(p->zoom, 1u);
  AnimPlayer_Command(p.get(), 4, 21);
  EXPECT_EQ(p->panY, -4);
  AnimHost_Close(p.get());
}

TEST(AnimCommands, KeysCountByTheLow16BitsAndZoomStaysWithinOneToThree) {
  TestPlayer p;
  ASSERT_EQ(Open(p, FramesMovie(2)), 0u);
  for (int i = 0; i < 3; ++i) AnimPlayer_Command(p.get(), 0x10004, 18);
  EXPECT_EQ(p->zoom, 3u);
  AnimPlayer_Command(p.get(), 4, 17);
  AnimPlayer_Command(p.get(), 4, 19);
  EXPECT_EQ(p->zoom, 1u);
  AnimHost_Close(p.get());
}

// The handset's keys as user commands: each leaves the player in its state,
// and a key the player does not know changes nothing.
TEST(AnimCommands, UserKeysSetThePlayersState) {
  TestPlayer p;
  ASSERT_EQ(Open(p, FramesMovie(4)), 0u);
  auto state = [&] {
    return std::to_string(p->paused) + " q" + std::to_string(p->highQuality) + " c" +
           std::to_string(p->captionOn) + " z" + std::to_string(p->zoom) + " " + std::to_string(p->panX) + "," +
           std::to_string(p->panY);
  };
  auto frame = [&] { return AnimMovie_Root(p->movie)->currentFrame; };
  const struct {
    uint32_t key;
    const char* state;  // paused, quality, captions, zoom, pan
  } rows[] = {
      {2, "1 q0 c0 z1 0,0"},   // pause
      {4, "1 q0 c0 z1 0,0"},   // one step while paused
      {4, "1 q0 c0 z1 0,0"},
      {1, "0 q0 c0 z1 0,0"},   // play
      {7, "0 q1 c0 z1 0,0"},   // smooth drawing
      {8, "0 q0 c0 z1 0,0"},
      {5, "0 q0 c1 z1 0,0"},   // captions
      {6, "0 q0 c0 z1 0,0"},
      {20, "0 q0 c0 z1 0,4"},  // pans
      {22, "0 q0 c0 z1 4,0"},
      {23, "0 q0 c0 z1 -4,0"},
      {18, "0 q0 c0 z2 -4,0"},
      {13, "0 q0 c0 z2 -4,0"},  // the movie's own button keys
      {30, "0 q0 c0 z2 -4,0"},
      {99, "0 q0 c0 z2 -4,0"},  // unknown
  };
  for (const auto& row : rows) {
    const uint32_t before = frame();
    EXPECT_EQ(AnimPlayer_Command(p.get(), 4, row.key), 0u) << row.key;
    EXPECT_EQ(state(), row.state) << row.key;
    // While paused, only a step moves the movie on, by one frame.
    if (p->paused) {
      EXPECT_EQ(frame(), before + (row.key == 4 ? 1 : 0)) << row.key;
    }
  }
  // A pointer move goes to the movie; stop closes the movie but keeps the
  // player for the next one.
  EXPECT_EQ(AnimPlayer_Command(p.get(), 104, (10u << 16) | 20u), 0u);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 4, 11), 0u);
  EXPECT_EQ(p->movie, nullptr);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 4, 7), 0u);  // without a movie only the setting changes
  EXPECT_EQ(p->highQuality, 1u);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 104, 0), 0u);
  AnimHost_Close(p.get());
}

TEST(AnimCommands, OnlyTheLow16BitsOfTheCodeCount) {
  TestPlayer p;
  ASSERT_EQ(Open(p, FramesMovie(2)), 0u);
  AnimPlayer_Command(p.get(), 0x10004, 2);  // pause
  EXPECT_EQ(p->paused, 1u);
  AnimPlayer_Command(p.get(), 4, 9);  // loop
  EXPECT_EQ(AnimMovie_Root(p->movie)->flagWord, 1u);
  AnimHost_Close(p.get());
}

// Host storage gives nothing in this system: the stored loads find no movie.
TEST(AnimCommands, StoredMoviesAreNotFoundWithoutHostStorage) {
  TestPlayer p;
  const AnimSize size{176, 208};
  ASSERT_EQ(AnimPlayer_Command(p.get(), 1, reinterpret_cast<uintptr_t>(&size)), 0u);
  const Bytes data = FramesMovie(2);
  struct {
    const uint8_t* data;
    uint32_t length, freeFlag;
  } block{data.data(), static_cast<uint32_t>(data.size()), 0};
  EXPECT_EQ(AnimPlayer_Command(p.get(), 2, reinterpret_cast<uintptr_t>("a.qvx")), 1u);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 101, reinterpret_cast<uintptr_t>("a.qvx")), 3u);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 20, reinterpret_cast<uintptr_t>(&block)), 3u);
  EXPECT_EQ(p->movie, nullptr);
}

TEST(AnimCommands, TheFrameLimitEndsAdvancing) {
  TestPlayer p;
  const Bytes data = FramesMovie(3);
  const int32_t w = 176, h = 208;
  AnimSize size{w, h};
  ASSERT_EQ(AnimPlayer_Command(p.get(), 1, reinterpret_cast<uintptr_t>(&size)), 0u);
  const AnimDataArg arg{static_cast<uint32_t>(data.size()), data.data(), -1};
  ASSERT_EQ(AnimPlayer_Command(p.get(), 17, reinterpret_cast<uintptr_t>(&arg)), 0u);
  EXPECT_EQ(AnimMovie_Root(p->movie)->flagWord, 1u);
  p->frameLimit = 2;
  EXPECT_EQ(AnimPlayer_Command(p.get(), 7, 0), 0u);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 7, 0), 0u);
  EXPECT_EQ(AnimMovie_Root(p->movie)->currentFrame, 2u);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 7, 0), 7u);
  AnimHost_Close(p.get());
}

TEST(AnimHost, ManyPlayersOneAfterTheOther) {
  for (int i = 0; i < 5; ++i) {
    TestPlayer p;
    ASSERT_EQ(Open(p, FramesMovie(static_cast<uint16_t>(i + 1))), 0u);
    EXPECT_EQ(p->movie->levels->frameCount, static_cast<uint32_t>(i + 1));
    AnimHost_Close(p.get());
  }
}

}  // namespace
