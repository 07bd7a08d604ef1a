// Movie texts drawn with glyph fonts (a font named by a font-info tag and a
// font with its own layout) against golden images, the colour of a single
// colour through a transform, and the caption ticker's lines frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "player/anim_movie.h"
#include "player/anim_text.h"
#include "movie_script.h"
#include "raster_scene.h"
#include "tests/player/dct_encoder.h"

namespace {

using namespace anim_test;
using movie::Bytes;
using movie::Writer;

std::vector<Bytes> Glyphs() {
  std::vector<Bytes> glyphs;
  for (const Path& g : GlyphPaths()) glyphs.push_back(GlyphBytes(g));
  return glyphs;
}

struct TextRun {
  int32_t fontId = -1;  // -1: a record that names no font
  uint8_t r = 0, g = 0, b = 0;
  int32_t x = -1, y = -1;  // -1: not set
  uint16_t height = 0;
  std::vector<std::pair<uint32_t, int32_t>> glyphs;  // index, advance
};

// A text tag (11) with 12-bit advances, its matrix a plain translation.
Bytes TextTag(uint16_t id, const std::vector<TextRun>& runs) {
  Writer w;
  w.U16(id).Rect(0, 1280, 0, 640).Matrix(40, 0).U8(8).U8(12);
  for (const TextRun& run : runs) {
    const bool styled = run.fontId >= 0 || run.x >= 0 || run.y >= 0;
    if (styled) {
      const uint32_t flags = 0x80 | (run.fontId >= 0 ? 12 : 0) | (run.x >= 0 ? 1 : 0) | (run.y >= 0 ? 2 : 0);
      w.U8(flags);
      if (run.fontId >= 0) w.U16(static_cast<uint32_t>(run.fontId)).U8(run.r).U8(run.g).U8(run.b);
      if (run.x >= 0) w.U16(static_cast<uint32_t>(run.x));
      if (run.y >= 0) w.U16(static_cast<uint32_t>(run.y));
      if (run.fontId >= 0) w.U16(run.height);
    }
    w.U8(static_cast<uint32_t>(run.glyphs.size()));
    for (const auto& [index, advance] : run.glyphs) w.Bits(index, 8).SBits(advance, 12);
    w.Align();
  }
  w.U8(0);
  return movie::Tag(11, w.bytes());
}

// "LTO" in green, then "OL" in red on a second line.
const std::vector<TextRun> kTwoLines = {
    {1, 0, 248, 0, 0, 300, 400, {{0, 280}, {1, 280}, {2, 280}}},
    {1, 248, 0, 0, 100, 580, 240, {{2, 170}, {0, 170}}},
};

Bytes DeviceFont() {
  return movie::Concat({movie::Font(10, 1, Glyphs()), movie::FontInfo(1, "_sans", {'L', 'T', 'O'})});
}
Bytes EmbeddedFont() { return movie::FontWithLayout(48, 1, 0, "Mono", Glyphs(), {'L', 'T', 'O'}); }

const AnimText* TextOf(Scene& scene, uint16_t id) {
  AnimChar* c = AnimDict_Find(scene.dictionary(), id);
  return c && c->type == kAnimText ? static_cast<const AnimText*>(c->body) : nullptr;
}

uint32_t DrawText(Scene& scene, uint16_t id, const AnimCxform* cx = nullptr) {
  AnimMatrix identity;
  AnimMatrix_SetIdentity(&identity);
  const AnimText* text = TextOf(scene, id);
  EXPECT_NE(text, nullptr);
  return text ? AnimText_Draw(&scene.raster(), text, &identity, cx) : 99;
}

TEST(PlayerTextTest, TextsMatchTheirGoldenImagesWithEitherFont) {
  struct {
    const char* name;
    Bytes (*font)();
  } fonts[] = {{"device", DeviceFont}, {"embedded", EmbeddedFont}};
  for (const auto& f : fonts) {
    for (bool smooth : {false, true}) {
      SCOPED_TRACE(std::string(f.name) + (smooth ? " smooth" : " plain"));
      Scene scene({f.font(), TextTag(5, kTwoLines)}, 64, smooth);
      ASSERT_EQ(DrawText(scene, 5), kAnimShapeDrawn);
      EXPECT_EQ(scene.raster().nextFree, 0);  // texts are never cached
      EXPECT_TRUE(GoldenMatches(GoldenPath(std::string("anim_text_") + f.name + (smooth ? "_smooth" : "_plain")),
                                scene.Image()));
    }
  }
}

// A record that names no font (a second line, a change of colour) draws in
// the last one named at its height: the file carries a height only with a
// font, and a glyph without one would shrink to a point.
TEST(PlayerTextTest, ARecordWithoutAFontDrawsInTheLastOneNamedAtItsHeight) {
  const TextRun both{1, 0, 248, 0, 0, 300, 400, {{0, 280}, {1, 280}}};
  TextRun first = both, second;
  first.glyphs = {{0, 280}};
  second.glyphs = {{1, 280}};
  Scene one({EmbeddedFont(), TextTag(5, {both})}, 32, false);
  Scene two({EmbeddedFont(), TextTag(5, {first, second})}, 32, false);
  Scene alone({EmbeddedFont(), TextTag(5, {first})}, 32, false);
  ASSERT_EQ(DrawText(one, 5), kAnimShapeDrawn);
  ASSERT_EQ(DrawText(two, 5), kAnimShapeDrawn);
  ASSERT_EQ(DrawText(alone, 5), kAnimShapeDrawn);
  const uint16_t green = static_cast<uint16_t>(AnimColor_To16(0, 248, 0));
  EXPECT_GT(one.Count(green), alone.Count(green) + 40);
  const AnimTextRecord* named = TextOf(two, 5)->records;
  ASSERT_NE(named->next, nullptr);
  EXPECT_EQ(named->next->font, named->font);
  EXPECT_EQ(named->next->fontId, named->fontId);
  EXPECT_EQ(named->next->height, 400u);
  EXPECT_EQ(two.frame(), one.frame());
  // Character codes come from the font's table; an index past it has none.
  TextRun past = first;
  past.glyphs = {{2, 100}, {7, 100}};
  Scene codes({EmbeddedFont(), TextTag(5, {past, second})}, 32, false);
  const AnimTextRecord* r = TextOf(codes, 5)->records;
  EXPECT_EQ(r->glyphs[0].code, 'O');
  EXPECT_EQ(r->glyphs[1].code, 0u);
  EXPECT_EQ(r->next->glyphs[0].code, 'T');
  EXPECT_EQ(r->next->font, r->font);
  ASSERT_EQ(DrawText(codes, 5), kAnimShapeDrawn);  // the glyph past the font only advances
}

TEST(PlayerTextTest, FontsAreNamedUnknownUntilAFontInfoNamesThem) {
  Scene scene({movie::Font(10, 1, Glyphs()), movie::Font(10, 2, Glyphs()), movie::FontInfo(2, "_serif", {'a', 'b', 'c'})},
              8, false);
  EXPECT_STREQ(static_cast<AnimFont*>(AnimDict_Find(scene.dictionary(), 1)->body)->name, "Unknown");
  EXPECT_STREQ(static_cast<AnimFont*>(AnimDict_Find(scene.dictionary(), 2)->body)->name, "_serif");
}

TEST(PlayerTextTest, ColourTransformsClampEveryChannel) {
  struct {
    AnimCxform cx;  // alpha, red, green, blue: multiply, add
    uint8_t in[4], out[4];
  } cases[] = {
      {{256, 0, 512, 0, 256, 0, 256, 0}, {200, 100, 7, 255}, {255, 100, 7, 255}},   // doubled, clamped at 255
      {{128, 0, 256, -50, 256, 10, 0, 300}, {40, 40, 40, 200}, {0, 50, 255, 100}},  // below 1 is 0
      {{256, 0, 256, 0, 256, 0, 256, 0}, {1, 2, 3, 4}, {1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    uint8_t out[4];
    AnimCxform_ApplyColour(&c.cx, c.in, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(c.out, c.out + 4));
  }
  // A text's colour goes through the transform before its glyphs draw.
  Scene scene({EmbeddedFont(), TextTag(5, kTwoLines)}, 32, false);
  const AnimCxform swap{256, 0, 0, 0, 0, 248, 0, 0};  // red off, green full
  ASSERT_EQ(DrawText(scene, 5, &swap), kAnimShapeDrawn);
  EXPECT_EQ(scene.Count(static_cast<uint16_t>(AnimColor_To16(248, 0, 0))), 0);
  EXPECT_EQ(scene.raster().text16, AnimColor_To16(0, 248, 0));
}

// The caption ticker over a 176 x 208 frame (29 single-byte characters wide).
class CaptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    p->frameWidth = 176;
    p->frameHeight = 208;
    p->movie = AnimMovie_Create(p.get());  // captions turn on only with a movie
    ASSERT_NE(p->movie, nullptr);
  }
  void TearDown() override {
    AnimMovie_Destroy(p->movie);  // the caption's text goes with the movie
    p->movie = nullptr;
    EXPECT_EQ(p->heap.bytesInUse, heapBefore);
  }
  uint32_t Start(const char* text, uint32_t flags, int32_t start = 1, int32_t end = 5) {
    return AnimCaption_Start(p.get(), text, 0, 90, 100, 100, 12, start, end, 0x11223300, 0xFFFFFF00, flags);
  }
  // The window sent by each of n ticks, "-" for a tick that sent nothing.
  std::vector<std::string> Ticks(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
      const uint32_t before = p->caption.sent;
      AnimCaption_Tick(p.get());
      const AnimCaptionLine& l = p->caption.last;
      if (p->caption.sent == before) out.push_back("-");
      else out.push_back(std::to_string(l.first) + " " + std::to_string(l.mode) + " " + std::to_string(l.bytes) + " " + l.text);
    }
    return out;
  }
  TestPlayer p;
  uint32_t heapBefore = p->heap.bytesInUse;
};

TEST_F(CaptionTest, AStaticCaptionGoesWholeAndBlinksOnOddFrames) {
  ASSERT_EQ(Start("Hello", kAnimCaptionBlink | kAnimCaptionStyle20), kAnimCaptionStarted);
  EXPECT_EQ(p->captionOn, 1u);
  EXPECT_EQ(Ticks(3), (std::vector<std::string>{"8000 2 6 Hello", "8000 2 0 ", "8000 2 6 Hello"}));
  const AnimCaptionLine& l = p->caption.last;
  EXPECT_EQ(l.style, 0x2A6u);
  EXPECT_EQ(l.textColour, 0x11223300u);
  ASSERT_EQ(Start("Hi", kAnimCaptionRedrawsView), kAnimCaptionStarted);
  Ticks(1);
  EXPECT_EQ(p->caption.last.style, 0x86u);
}

TEST_F(CaptionTest, ScrollingRevealsTheStepThenRunsAWindowAsWideAsTheFrame) {
  // Ten bytes over five frames: two more a frame, growing.
  ASSERT_EQ(Start("ABCDEFGHIJ", kAnimCaptionScroll), kAnimCaptionStarted);
  EXPECT_EQ(p->caption.step, 2u);
  EXPECT_EQ(Ticks(5), (std::vector<std::string>{"8000 1 3 AB", "8000 1 5 ABCD", "8000 1 7 ABCDEF",
                                                "8000 1 9 ABCDEFGH", "8000 1 11 ABCDEFGHIJ"}));
  // A 30-pixel frame holds five: the window then runs, and stops past the end.
  p->frameWidth = 30;
  ASSERT_EQ(Start("ABCDEFGHIJ", kAnimCaptionScroll), kAnimCaptionStarted);
  EXPECT_EQ(Ticks(9), (std::vector<std::string>{"8000 1 3 AB", "8000 1 5 ABCD", "0 0 6 BCDEF", "0 0 6 DEFGH",
                                                "0 0 6 FGHIJ", "0 0 4 HIJ", "0 0 2 J", "-", "-"}));
  EXPECT_EQ(p->caption.tick, 7u);
}

TEST_F(CaptionTest, WindowEndsStepOverTwoByteCharacters) {
  // Two-byte characters (high bit set) around single bytes: a step of 1
  // would end inside the first one, so the window takes it whole.
  p->frameWidth = 12;  // two bytes visible
  ASSERT_EQ(Start("\xB0\xA1" "ab\xB0\xA2", kAnimCaptionScroll | kAnimCaptionBlink, 1, 6), kAnimCaptionStarted);
  EXPECT_EQ(Ticks(6), (std::vector<std::string>{"8000 1 3 \xB0\xA1", "0 0 0 ", "0 0 2 a", "0 0 0 ",
                                                "0 0 4 b\xB0\xA2", "0 0 0 "}));
}

TEST_F(CaptionTest, AnEmptyFrameRangeIsRefusedAndStopTurnsTheCaptionOff) {
  EXPECT_EQ(Start("text", 0, 5, 4), kAnimCaptionRefused);
  EXPECT_EQ(p->caption.text, nullptr);
  EXPECT_EQ(p->captionOn, 0u);
  ASSERT_EQ(Start("text", 0, 5, 5), kAnimCaptionStarted);
  // 0..100 % across, 90..100 % down: the bottom clamps to the last row and
  // the rectangle is at least ten rows tall.
  const AnimCaption& c = p->caption;
  EXPECT_EQ(std::vector<int32_t>({c.left, c.top, c.right, c.bottom}), std::vector<int32_t>({0, 187, 175, 207}));
  ASSERT_EQ(AnimCaption_Start(p.get(), "t", 10, 99, 50, 99, 12, 1, 1, 0, 0, 0), kAnimCaptionStarted);
  EXPECT_EQ(std::vector<int32_t>({c.left, c.top, c.right, c.bottom}), std::vector<int32_t>({17, 195, 88, 205}));
  p->redrawPending = 0;
  AnimCaption_Stop(p.get());
  EXPECT_EQ(p->captionOn, 0u);
  EXPECT_EQ(c.text, nullptr);
  EXPECT_EQ(c.tick, 0u);
  EXPECT_EQ(p->redrawPending, 1u);
  const uint32_t sent = c.sent;
  AnimCaption_Tick(p.get());
  EXPECT_EQ(c.sent, sent);
}

// Through the host entry points: a placed text and a bitmap-filled shape
// draw into the host's frame.
TEST(PlayerTextTest, APlayedMovieDrawsItsTextsAndBitmapFills) {
  DctTestImage image;  // one flat blue-grey macroblock
  for (int32_t dc : {40, 40, 40, 40, -30, 20}) {
    std::array<int32_t, 64> block{};
    block[0] = dc;
    image.blocks.push_back(block);
  }
  Records box(1, 0);
  box.Change(-1, 1, -1, true, 0, 0).Box(640, 640);
  Writer shape;
  shape.U16(2).Rect(0, 640, 0, 640).U8(1).U8(0x41).U16(9).Matrix(0, 0, 40 << 16, 40 << 16).U8(0);
  shape.Bits(1, 4).Bits(0, 4).Raw(box.End());
  movie::Header header;
  header.xmax = header.ymax = 64 * 20;
  const Bytes data = movie::Qvx(
      header, movie::Concat({EmbeddedFont(), TextTag(5, kTwoLines), movie::Bitmap(9, DctTestEncode(image)),
                             movie::Tag(2, shape.bytes()), movie::Place(5, 1, 0, 0), movie::Place(2, 2, 640, 640),
                             movie::ShowFrame(), movie::End()}));
  TestPlayer p;
  std::vector<uint16_t> frame(64 * 64, 0);
  int32_t w = 64, h = 64;
  ASSERT_EQ(AnimHost_Open(p.get(), data.data(), frame.data(), p.work.data(), static_cast<uint32_t>(data.size()), &w, &h),
            0u);
  const auto count = [&](uint16_t c) { return std::count(frame.begin(), frame.end(), c); };
  EXPECT_GT(count(static_cast<uint16_t>(AnimColor_To16(0, 248, 0))), 40);
  // The bitmap's one colour fills the 32-pixel square at (32, 32).
  const uint16_t texel = frame[40 * 64 + 40];
  EXPECT_NE(texel, 0);
  EXPECT_EQ(count(texel), 32 * 32);
  ExpectCachedRedrawsMatch(p.get());
  AnimHost_Close(p.get());
}

// Played, zoomed, panned and switched between the modes, a text shows in
// each frame what a whole redraw draws, wherever the part redrawn cuts it.
TEST(PlayerTextTest, ATextCutByARedrawnPartShowsAsAWholeRedraw) {
  for (const Bytes& font : {DeviceFont(), EmbeddedFont()}) {
    SCOPED_TRACE(font.size());
    movie::script::PlayChecked(movie::script::OverAndAcross(movie::Concat({font, TextTag(5, kTwoLines)}), 5),
                               movie::script::kViewChanges);
  }
}

// A text that a button shows in its up state draws as it does when placed
// on its own.
TEST(PlayerTextTest, ATextInsideAButtonIsDrawn) {
  movie::Header header;
  header.xmax = header.ymax = 64 * 20;
  const auto play = [&](bool inButton) {
    const Bytes place = inButton ? movie::Place(6, 1, 0, 0) : movie::Place(5, 1, 0, 0);
    const Bytes data = movie::Qvx(header, movie::Concat({EmbeddedFont(), TextTag(5, kTwoLines),
                                                         movie::Button(6, 5, movie::EndActions()), place,
                                                         movie::ShowFrame(), movie::End()}));
    TestPlayer p;
    std::vector<uint16_t> frame(64 * 64, 0);
    int32_t w = 64, h = 64;
    EXPECT_EQ(AnimHost_Open(p.get(), data.data(), frame.data(), p.work.data(), static_cast<uint32_t>(data.size()), &w, &h),
              0u);
    AnimHost_Close(p.get());
    return frame;
  };
  const std::vector<uint16_t> alone = play(false), button = play(true);
  EXPECT_GT(std::count(alone.begin(), alone.end(), static_cast<uint16_t>(AnimColor_To16(0, 248, 0))), 40);
  EXPECT_EQ(button, alone);
}

}  // namespace
