// The movie rows through the real URL task: a movie body becomes an
// animated page image of its frames, a downloaded movie goes to the
// handset's animation file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/movie_rows.h"
#include "graphics/image.h"
#include "graphics/pgl.h"
#include "host/platform/handset.h"
#include "movie_writer.h"
#include "step_movies.h"
#include "tests/content/rows_fixture.h"

namespace {

using movie::Bytes;


// A movie of `frames` frames: a red box that moves 10 pixels right a frame
// over a white background, then stops or loops.
Bytes MovingBox(uint32_t frames, const Bytes& lastFrameActions = {}) {
  std::vector<Bytes> tags{movie::Background(255, 255, 255), movie::BoxShape(1, {248, 0, 0}, 0, 0, 400, 400)};
  for (uint32_t i = 0; i < frames; ++i) {
    if (i == 0) tags.push_back(movie::Place(1, 1, 0, 0));
    else tags.push_back(movie::MoveTo(1, static_cast<int32_t>(200 * i), 0));
    if (i + 1 == frames && !lastFrameActions.empty()) tags.push_back(movie::Actions(lastFrameActions));
    tags.push_back(movie::ShowFrame());
  }
  tags.push_back(movie::End());
  movie::Header h;
  h.xmax = h.ymax = 128 * 20;
  h.frames = static_cast<uint16_t>(frames);
  return movie::Qvx(h, movie::Concat(tags));
}

struct Picture {
  bool complete = false;
  Result failure = 0;
  uint32_t width = 0, frames = 0, loops = 0, allFrames = 0;
  std::vector<uint32_t> delays;
  std::vector<std::vector<uint16_t>> pixels;  // each frame's, row by row
  std::vector<uint32_t> widths;                // each frame's
};

std::vector<Bytes> gSaved;
int32_t gSaveAnswer = 0;

class MovieRowTest : public RowsFixture {
 protected:
  void SetUp() override {
    RowsFixture::SetUp();
    platform->MakeScreen(128, 160);
    ops.saveMovieFile = [](const uint8_t* data, uint32_t length) {
      gSaved.emplace_back(data, data + length);
      return gSaveAnswer;
    };
    old = HandsetInstall(&ops);
    gSaved.clear();
    gSaveAnswer = 0;
  }
  void TearDown() override {
    HandsetInstall(old);
    RowsFixture::TearDown();
  }

  Picture Play(const std::string& type, const Bytes& body, uint32_t block, bool announce = true) {
    Picture pic;
    const Ended ended = Serve(type, std::string(body.begin(), body.end()), block, announce, 0,
                              [&](UrlRequestRec* request) {
      UrlLoad* load = UrlRequestLoad(request);
      auto* image = reinterpret_cast<ContentImage*>(load->output.head);
      if (!image) return;
      EXPECT_EQ(image->kind, ContentKind::Animation);
      pic.width = image->width;
      pic.frames = image->frameCount;
      pic.loops = image->loopCount;
      pic.allFrames = image->allFrames;
      for (ContentImageFrame* f = image->firstFrame; f; f = f->next) {
        pic.delays.push_back(f->delay);
        pic.widths.push_back(f->width);
        std::vector<uint16_t> px;
        for (uint32_t b = 0; b < f->bandCount; ++b) {
          const auto* p = reinterpret_cast<const uint16_t*>(PglPixels(f->bands[b]));
          px.insert(px.end(), p, p + f->bands[b]->width * f->bands[b]->height);
        }
        EXPECT_EQ(px.size(), size_t{f->width} * f->height);
        pic.pixels.push_back(px);
      }
    });
    pic.complete = ended.complete;
    pic.failure = ended.failure;
    return pic;
  }

  HandsetOps ops{};
  const HandsetOps* old = nullptr;
};

// The player's white (31, 31, 31) as the page's RGB565.
constexpr uint16_t kRed565 = 0xF800, kWhite565 = 0xFFDF;

// A movie that stops at its last frame plays once: as many frames as it
// has, each 100 ms, the same in every delivery.
TEST_F(MovieRowTest, AMovieBecomesAnAnimationOfItsFrames) {
  const Bytes body = MovingBox(3);
  const Picture whole = Play("image/qvx", body, 0);
  EXPECT_TRUE(whole.complete);
  EXPECT_EQ(whole.width, 128u);  // the smaller side of a 128 x 160 screen
  EXPECT_EQ(whole.frames, 3u);
  EXPECT_EQ(whole.loops, 1u);
  EXPECT_EQ(whole.allFrames, 1u);
  EXPECT_EQ(whole.delays, (std::vector<uint32_t>{100, 100, 100}));
  ASSERT_EQ(whole.pixels.size(), 3u);
  // The box's left column moves 10 pixels a frame over the white ground.
  for (uint32_t f = 0; f < 3; ++f) {
    EXPECT_EQ(whole.pixels[f][5 * 128 + 10 * f + 5], kRed565) << f;
    EXPECT_EQ(whole.pixels[f][5 * 128 + 10 * f + 15], kRed565) << f;
    EXPECT_EQ(whole.pixels[f][5 * 128 + 10 * f + 25], kWhite565) << f;
    EXPECT_EQ(whole.pixels[f][100 * 128 + 100], kWhite565) << f;
  }
  for (uint32_t block : {1u, 140u})
    for (bool announce : {true, false}) {
      const Picture p = Play("image/qvx", body, block, announce);
      EXPECT_EQ(p.frames, whole.frames);
      EXPECT_EQ(p.pixels, whole.pixels);
    }
}

// A looping movie gives its first ten frames and plays on; one the player
// refuses gives an animation without frames; a cut body no picture.
TEST_F(MovieRowTest, LoopingRefusedAndCutMovies) {
  const Picture looping = Play("image/qvx", MovingBox(4, movie::Concat({movie::GotoFrame(0), movie::Action(6)})), 0);
  EXPECT_EQ(looping.frames, 10u);
  EXPECT_EQ(looping.loops, 0u);
  ASSERT_EQ(looping.pixels.size(), 10u);
  // The jump back runs at once: the last frame shows frame 0 again.
  EXPECT_EQ(looping.pixels[3], looping.pixels[0]);
  EXPECT_EQ(looping.pixels[4], looping.pixels[1]);
  EXPECT_NE(looping.pixels[1], looping.pixels[0]);

  Bytes refused = MovingBox(2);
  refused[0] = 'X';
  const Picture none = Play("image/qvx", refused, 0);
  EXPECT_TRUE(none.complete);
  EXPECT_EQ(none.frames, 0u);
  EXPECT_EQ(none.allFrames, 1u);

  Bytes cut = MovingBox(2);
  cut.resize(cut.size() / 2);
  const Picture partial = Play("image/qvx", cut, 7, false);
  EXPECT_TRUE(partial.complete);
  EXPECT_EQ(partial.frames, 0u);
}

// A movie plays the same wherever the URL module's work buffer stands: had
// since the module's start, given way, or given way with the cache since
// filled with pages.
TEST_F(MovieRowTest, AMoviePlaysTheSameWhereverTheWorkBufferStands) {
  const Bytes body = MovingBox(3);
  ASSERT_NO_FATAL_FAILURE(PlaceWorkBuffer(WorkBuffer::Had));
  const Picture had = Play("image/qvx", body, 0);
  ASSERT_EQ(had.frames, 3u);
  for (const WorkBuffer where : {WorkBuffer::GaveWay, WorkBuffer::GaveWayCacheFull}) {
    SCOPED_TRACE(where == WorkBuffer::GaveWay ? "given way" : "given way, the cache full");
    ASSERT_NO_FATAL_FAILURE(PlaceWorkBuffer(where));
    const Picture p = Play("image/qvx", body, 0);
    EXPECT_EQ(p.failure, had.failure);
    EXPECT_EQ(p.frames, had.frames);
    EXPECT_TRUE(p.pixels == had.pixels);
  }
}

// Buttons and actions play through the row: the button is drawn in its up
// state, and a jump in frame 1 to the last frame stops the movie there.
TEST_F(MovieRowTest, ButtonsAndActionsPlayThroughTheRow) {
  std::vector<Bytes> tags{movie::Background(255, 255, 255), movie::BoxShape(1, {248, 0, 0}, 0, 0, 400, 400),
                          movie::BoxShape(2, {0, 0, 248}, 0, 0, 400, 400),
                          movie::Button(3, 2, movie::Concat({movie::Action(0x07), movie::EndActions()}))};
  tags.push_back(movie::Place(1, 1, 0, 0));
  tags.push_back(movie::Place(3, 2, 1000, 1000));
  tags.push_back(movie::ShowFrame());
  tags.push_back(movie::Actions(movie::Concat({movie::GotoFrame(3), movie::EndActions()})));
  tags.push_back(movie::ShowFrame());
  tags.push_back(movie::MoveTo(1, 200, 0));
  tags.push_back(movie::ShowFrame());
  tags.push_back(movie::MoveTo(1, 600, 0));
  tags.push_back(movie::ShowFrame());
  tags.push_back(movie::End());
  movie::Header h;
  h.xmax = h.ymax = 128 * 20;
  h.frames = 4;
  const Picture p = Play("image/qvx", movie::Qvx(h, movie::Concat(tags)), 0);
  EXPECT_EQ(p.frames, 2u);
  EXPECT_EQ(p.loops, 1u);
  ASSERT_EQ(p.pixels.size(), 2u);
  EXPECT_EQ(p.pixels[0][55 * 128 + 55], 0x001F);  // the button, blue
  EXPECT_EQ(p.pixels[1][55 * 128 + 55], 0x001F);
  EXPECT_EQ(p.pixels[0][5 * 128 + 5], kRed565);
  EXPECT_EQ(p.pixels[1][5 * 128 + 5], kWhite565);  // frame 3 shows: the box moved 30 pixels
  EXPECT_EQ(p.pixels[1][5 * 128 + 35], kRed565);
}

// A collage of three or four coded photos in one shape, every pixel row
// crossing each, as the page image on screens 160 and 176 pixels wide:
// each of its ten frames shows what the photos drawn as shapes of their own
// show.
TEST_F(MovieRowTest, APhotoCollageShowsWholeInEveryFrame) {
  struct Collage {
    int photos, w, h, drawnWidth;
  };
  for (int32_t screen : {160, 176})
    for (const Collage c : {Collage{3, 58, 208, 58}, Collage{4, 58, 156, 44}, Collage{4, 58, 208, 44},
                            Collage{3, 88, 208, 58}, Collage{4, 88, 208, 44}}) {
      SCOPED_TRACE(std::to_string(c.photos) + " photos of " + std::to_string(c.w) + " x " + std::to_string(c.h) +
                   ", screen " + std::to_string(screen));
      platform->MakeScreen(screen, 208);
      const Picture collage = Play("image/qvx", movie::PhotoCollage(c.photos, c.w, c.h, c.drawnWidth), 0);
      const Picture apart = Play("image/qvx", movie::PhotoCollage(c.photos, c.w, c.h, c.drawnWidth, true), 0);
      EXPECT_TRUE(collage.complete);
      EXPECT_EQ(collage.width, static_cast<uint32_t>(screen));
      ASSERT_EQ(collage.pixels.size(), 10u);  // it loops
      ASSERT_EQ(apart.pixels.size(), 10u);
      EXPECT_EQ(collage.widths, apart.widths);
      for (size_t f = 0; f < 10; ++f) {
        size_t differ = 0;
        for (size_t i = 0; i < collage.pixels[f].size() && i < apart.pixels[f].size(); ++i)
          differ += collage.pixels[f][i] != apart.pixels[f][i];
        EXPECT_EQ(differ, 0u) << "frame " << f;
        EXPECT_EQ(collage.pixels[f].size(), apart.pixels[f].size());
      }
    }
}

// A downloaded movie reaches the animation file whole; the handset's answer
// decides the load's result.
TEST_F(MovieRowTest, ASavedMovieReachesTheHandset) {
  const Bytes body = MovingBox(2);
  for (uint32_t block : {0u, 1u}) {
    const Picture saved = Play("application/x-mm-qvx", body, block, block == 0);
    EXPECT_EQ(saved.failure, QvxCode::Saved);
    ASSERT_EQ(gSaved.size(), 1u);
    EXPECT_EQ(gSaved[0], body);
    gSaved.clear();
  }
  gSaveAnswer = -1;
  EXPECT_EQ(Play("application/x-mm-qvx", body, 0).failure, QvxCode::BadData);
  EXPECT_EQ(Play("application/x-mm-qvx", {}, 0).failure, QvxCode::BadData);
}

}  // namespace
