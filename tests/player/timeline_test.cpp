// Movies played through the host entry points: the view, clips and their
// display lists, jumps, levels, the redraw pass, the action interpreter and
// its handset requests, buttons with their focus, and downloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "movie_script.h"
#include "tests/support/golden.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

// Checked once more at the end, before the player closes.
struct Played : OnStage {
  using OnStage::OnStage;
  ~Played() { ExpectCachedRedrawsMatch(get()); }
};

constexpr uint16_t kWhite = 0x7FFF, kRed = 0x7C00, kBlue = 0x001F, kGreen = 0x03E0;

// --- The view ----------------------------------------------------------------

TEST(PlayerView, FitZoomAndPan) {
  Played p(MovieOf({}, {{}}, 240, 160), 240, 320);
  ASSERT_EQ(p.opened, 0u);
  const AnimView& v = p.movie()->view;
  EXPECT_FLOAT_EQ(v.matrix.a, 1.6f);
  EXPECT_EQ(v.matrix.tx, 0);
  EXPECT_EQ(v.matrix.ty, 2560);  // centred vertically
  p.Key(18);
  EXPECT_FLOAT_EQ(v.matrix.a, 3.2f);
  EXPECT_EQ(v.matrix.tx, (240 * 32 - 4800 * 32 * 2 / 20) >> 1);
  const int32_t centred = v.matrix.tx;
  p.Key(22);
  EXPECT_EQ(v.matrix.tx, centred + 1024);  // four steps of 2^8 at zoom 2
  for (int i = 0; i < 4; ++i) p.Key(22);
  EXPECT_EQ(v.matrix.tx, 0);  // stops at the movie's left edge
}

TEST(PlayerView, TheFrameIntervalComesFromTheRate) {
  movie::Header h;
  h.rate = 25 << 8;
  TestPlayer p;
  const Bytes data = movie::Qvx(h, Concat({movie::ShowFrame(), movie::End()}));
  int32_t w = kW, hh = kH;
  ASSERT_EQ(AnimHost_Open(p.get(), data.data(), p.frame.data(), p.work.data(), static_cast<uint32_t>(data.size()), &w, &hh), 0u);
  EXPECT_EQ(p->movie->frameInterval, 40u);
  AnimHost_Close(p.get());
}

// --- Display lists, clips and jumps -----------------------------------------

TEST(PlayerDisplay, PlacingMovingRemovingAndTheRedrawRectangle) {
  const Bytes defs = Concat({Box(1, {248, 0, 0}), Box(2, {0, 0, 248})});
  Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), movie::Place(1, 3, 0, 0)}),
                          Concat({movie::MoveTo(3, 400, 0), PlaceNamed(2, 2, "")}),
                          movie::RemoveDepth(3)}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.At(5, 5), kRed);
  ASSERT_EQ(p.Step(), 0u);
  // Moved, keeping its character; the blue box under it at depth 2.
  EXPECT_EQ(p.At(25, 5), kRed);
  EXPECT_EQ(p.At(5, 5), kBlue);
  AnimMovie* m = p.movie();
  // The redraw covered the old and the new place with two pixels of margin.
  EXPECT_EQ(m->redrawLeft, 0);
  EXPECT_EQ(m->redrawRight, 42);
  EXPECT_EQ(m->redrawBottom, 22);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.At(25, 5), kWhite);
  EXPECT_EQ(p.At(5, 5), kBlue);
  EXPECT_EQ(m->redrawLeft, 18);
  EXPECT_EQ(m->redrawRight, 42);
  // Past its last frame the root stands halted; the player still steps.
  EXPECT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.root()->playing, 0u);
  EXPECT_EQ(p.root()->currentFrame, 2u);
}

TEST(PlayerDisplay, SpritesGetGeneratedNamesAndBackgroundsLeadTheList) {
  const Bytes inner = movie::Sprite(5, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  const Bytes outer = movie::Sprite(6, 1, Concat({movie::Place(5, 3, 0, 0), movie::ShowFrame(), movie::End()}));
  const Bytes bg = movie::Sprite(7, 1, Concat({movie::ShowFrame(), movie::End()}));
  Played p(MovieOf(Concat({Box(1, {248, 0, 0}), inner, outer, bg}),
                   {Concat({movie::Background(255, 255, 255), PlaceNamed(6, 1, "a"), PlaceNamed(7, 20, "Background1"),
                            PlaceNamed(7, 21, "Background2")}),
                    movie::MoveTo(1, 400, 0)}));
  ASSERT_EQ(p.opened, 0u);
  AnimClip* a = AnimClip_FindByPath(p.root(), "/a");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(a->list.first, nullptr);
  EXPECT_STREQ(a->list.first->name, "/a/!5.3");
  EXPECT_NE(AnimClip_FindByPath(p.root(), "/A/!5.3"), nullptr);
  EXPECT_EQ(AnimClip_FindByPath(p.root(), "/b"), nullptr);
  EXPECT_STREQ(p.root()->list.first->name, "/Background2");
  EXPECT_STREQ(p.root()->list.first->next->name, "/Background1");
  EXPECT_EQ(p.At(5, 5), kRed);  // drawn through two sprites
  // Moved with only a matrix: the same object, name and instance clip.
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(AnimClip_FindByPath(p.root(), "/a"), a);
  EXPECT_EQ(p.At(25, 5), kRed);
  EXPECT_EQ(p.At(5, 5), kWhite);
}

TEST(PlayerDisplay, JumpsReplayFramesWithoutTheirActions) {
  const Bytes defs = Concat({Box(1, {248, 0, 0}), Box(2, {0, 248, 0})});
  // Frame 3 jumps back to frame 1 (0-based) and stops there.
  Played p(MovieOf(defs, {Concat({movie::Place(1, 1, 0, 0), Mark("0")}), Concat({movie::Place(2, 2, 800, 0), Mark("1")}),
                          Concat({movie::RemoveDepth(2), Mark("2")}),
                          Concat({Mark("3"), Do(Concat({movie::GotoFrame(1)}))})}));
  ASSERT_EQ(p.opened, 0u);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(p.Step(), 0u);
  // The jump back to a stopped frame runs frame 1 at once, with its actions;
  // frame 0 was replayed for its display commands only.
  EXPECT_EQ(p.Var("/:trace"), "01231");
  EXPECT_EQ(p.root()->currentFrame, 1u);
  EXPECT_EQ(p.root()->playing, 0u);
  EXPECT_EQ(p.At(45, 5), kGreen);
  EXPECT_EQ(p.At(5, 5), kRed);
}

// Two objects of one name show one clip. Sprites nested twelve deep, each
// showing the one below twice under one name, make a tree whose paths double
// at every level: its bounds are measured one clip at a time, each once,
// whether a script asks for them or a step marks the areas to redraw, and
// each clip steps once a frame (the counting sprite at the bottom counts one
// a frame, not one for each of its 4,096 paths).
TEST(PlayerDisplay, SharedClipsAreMeasuredAndSteppedOnce) {
  constexpr int kLevels = 12;
  Played p(SharedClipTree(kLevels, 2));
  ASSERT_EQ(p.opened, 0u);
  AnimDisplayObject* top = AnimDisplay_FindByName(&p.root()->list, "/top");
  ASSERT_NE(top, nullptr);
  const uint32_t before = p.movie()->boundsVisits;
  AnimRect bounds;
  ASSERT_TRUE(AnimDisplay_ObjectBounds(top, &bounds));
  // An object a level: the top, two per sprite level, the box.
  EXPECT_LE(p.movie()->boundsVisits - before, 2u * kLevels + 2);
  // Shifted 20 twips at every level: the box's copies reach 240 twips further.
  EXPECT_EQ(bounds.xmax - bounds.xmin, 40 + 20 * kLevels);
  // A step places every sprite's objects again: each measures its own tree.
  const uint32_t atStep = p.movie()->boundsVisits;
  const int counted = std::stoi(p.Var("/:n"));
  p.Step();
  EXPECT_LE(p.movie()->boundsVisits - atStep, 4u * (kLevels + 1) * (2 * kLevels + 2));
  EXPECT_EQ(std::stoi(p.Var("/:n")), counted + 1);
}

TEST(PlayerDisplay, GotoPastTheLastFrameOnlyAsksForAnUpdate) {
  Played p(MovieOf({}, {Do(Concat({movie::GotoFrame(2), Set("a", Push("x"))})), {}}));
  ASSERT_EQ(p.opened, 0u);
  // Frame 2 (one past the last) is accepted; frame 3 would not be.
  EXPECT_EQ(p.root()->currentFrame, 2u);
  EXPECT_EQ(p.Var("/:a"), "x");
  const AnimActionRecord* list = nullptr;
  (void)list;
}

TEST(PlayerDisplay, ARewindKeepsTheUpperDepths) {
  const Bytes defs = Concat({Box(1, {248, 0, 0}), Box(2, {0, 248, 0})});
  Played p(MovieOf(defs, {Concat({movie::Place(1, 1, 0, 0), movie::Place(2, 16385, 800, 0)}), movie::RemoveDepth(1)}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  AnimPlayer_Command(p.get(), 4, 3);  // restart: rewinds, then plays on
  uint32_t objects = 0;
  for (AnimDisplayObject* o = p.root()->list.first; o; o = o->next) ++objects;
  EXPECT_EQ(objects, 2u);
  EXPECT_EQ(p.root()->list.first->next->depth, 16385);
}

// --- Levels ---------------------------------------------------------------

TEST(PlayerLevels, AReplacedLevelGoesAtTheNextRedrawAndTakesItsFocusAlong) {
  const Bytes second = MovieOf(Box(1, {0, 248, 0}), {movie::Place(1, 1, 0, 0)});
  const Bytes button = movie::Button(3, 1, Concat({Op(0x07), movie::EndActions()}));
  const Bytes first = MovieOf(Concat({Box(1, {248, 0, 0}), button}), {movie::Place(3, 1, 0, 0), {}});
  Played p(movie::Qvz({{"main.qvx", first}, {"two.qvx", second}}));
  ASSERT_EQ(p.opened, 0u);
  AnimMovie* m = p.movie();
  EXPECT_EQ(AnimMovie_ReplaceLevel(m, false, 1, second.data(), static_cast<uint32_t>(second.size())), 1u);
  AnimStream* older = AnimMovie_Level(m, 1);
  ASSERT_NE(older, nullptr);
  p.Key(kAnimKeyDown);  // the first button takes the focus
  ASSERT_NE(m->input.focus, nullptr);
  // The same number again: the older one is marked and goes at the next pass.
  EXPECT_EQ(AnimMovie_LoadLevel(m, "two.qvx", 1), 1u);
  EXPECT_EQ(older->level, kAnimLevelRemoved);
  AnimMovie_Redraw(m);
  uint32_t levels = 0;
  for (AnimStream* s = m->levels; s; s = s->next) ++levels;
  EXPECT_EQ(levels, 2u);
  EXPECT_EQ(m->redrawRight, kW);  // the whole frame
  // Level 0 replaced: the focused button's level is freed, and the focus with it.
  EXPECT_EQ(AnimMovie_ReplaceLevel(m, false, 0, second.data(), static_cast<uint32_t>(second.size())), 1u);
  AnimMovie_Redraw(m);
  EXPECT_EQ(m->input.focus, nullptr);
  // The new level 0 shows its first frame at the next step.
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.At(5, 5), kGreen);
}

TEST(PlayerLevels, AGetUrlToALevelLoadsThePackageMember) {
  const Bytes second = MovieOf(Box(1, {0, 248, 0}), {movie::Place(1, 1, 0, 0)});
  const Bytes first = MovieOf({}, {Do(movie::GetUrl("movies/two.qvx", "_level0")), {}});
  Played p(movie::Qvz({{"main.qvx", first}, {"two.qvx", second}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.At(5, 5), kGreen);
}

TEST(PlayerLevels, AMovieLoadedForAClipPlaysInIt) {
  const Bytes inner = MovieOf(Box(1, {0, 248, 0}), {movie::Place(1, 1, 0, 0)});
  const Bytes holder = movie::Sprite(5, 1, Concat({movie::ShowFrame(), movie::End()}));
  const Bytes load = Do(Concat({Push("inner.swf"), Push("holder"), movie::Action(0x9A, Bytes{0})}));
  const Bytes main = MovieOf(holder, {Concat({PlaceNamed(5, 1, "holder", 400, 400), load}), {}});
  Played p(movie::Qvz({{"main", main}, {"inner.qvx", inner}}));
  ASSERT_EQ(p.opened, 0u);
  // Loaded as level 256 and taken by the clip of that name in the same frame.
  EXPECT_EQ(AnimMovie_Level(p.movie(), 256), nullptr);
  EXPECT_NE(AnimMovie_Level(p.movie(), 4095), nullptr);
  EXPECT_EQ(p.At(25, 25), kGreen);  // inside the holder, moved by its place
  EXPECT_EQ(p.At(5, 5), 0);         // no background set: nothing but the frame's zeros
}

TEST(PlayerDisplay, FieldsShowTheirVariables) {
  movie::EditText field;
  field.id = 7;
  field.flags = 0x0080;
  field.text = "hi";
  Played p(MovieOf(movie::EditTextTag(field), {movie::Place(7, 1, 0, 0), Do(Set("TextField7", Push("yo")))}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.Var("/:TextField7"), "hi");
  AnimVariable* v = AnimVar_Find(p.get(), "/:TextField7");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->boundObject, p.root()->list.first);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.Var("/:textfield7"), "yo");
}

// --- The action interpreter ----------------------------------------------

struct Case {
  const char* name;
  Bytes list;
  const char* result;
};

TEST(PlayerActions, ValuesAndTextFollowTheirRules) {
  auto two = [](const char* a, const char* b, uint8_t op) { return Concat({Push(a), Push(b), Op(op)}); };
  const Case cases[] = {
      {"sub", two("5", "3", 0x0B), "2"},
      {"div", two("7", "2", 0x0D), "3.50000"},
      {"divzero", two("7", "0", 0x0D), "0"},
      {"eq", two("2", "2.0", 0x0E), "1"},
      {"less", two("10", "9", 0x0F), "0"},
      {"and", two("1", "0", 0x10), "0"},
      {"streq", two("2", "2.0", 0x13), "0"},
      {"strless", two("ab", "b", 0x29), "1"},
      {"add", two("ab", "cd", 0x21), "abcd"},
      {"extract", Concat({Push("abc"), Push("2"), Push("2"), Op(0x15)}), "bc"},
      {"extractpast", Concat({Push("abc"), Push("3"), Push("9"), Op(0x15)}), "c"},
      {"length", Concat({Push("abcd"), Op(0x14)}), "4"},
      {"int", Concat({Push("-3.7"), Op(0x18)}), "-3"},
      {"ord", Concat({Push("A"), Op(0x32)}), "65"},
      {"chr", Concat({Push("66"), Op(0x33)}), "B"},
      {"not", Concat({Push("0"), Op(0x12)}), "1"},
      {"float", movie::PushFloat(2.5f), "16384"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Played p(MovieOf({}, {Do(Set("r", c.list))}));
    ASSERT_EQ(p.opened, 0u);
    EXPECT_EQ(p.Var("/:r"), c.result);
  }
}

TEST(PlayerActions, WaitForFrameSkipsWhileTheCounterIsBelow) {
  for (const char* needed : {"0", "1"}) {
    SCOPED_TRACE(needed);
    const Bytes list = Concat({Push(needed), movie::Action(0x8D, Bytes{3}), Set("a", Push("x")), Set("b", Push("y"))});
    Played p(MovieOf({}, {Do(list)}));
    ASSERT_EQ(p.opened, 0u);
    EXPECT_EQ(p.Var("/:a"), needed[0] == '0' ? "x" : "");
    EXPECT_EQ(p.Var("/:b"), "y");
  }
}

TEST(PlayerActions, TargetsPropertiesAndClones) {
  const Bytes sprite = movie::Sprite(5, 2, Concat({movie::ShowFrame(), movie::ShowFrame(), movie::End()}));
  const Bytes list = Concat({
      movie::Action(0x8B, Concat({Bytes{'a', 0}})),  // SetTarget "a"
      Set("x", Push("1")), movie::Action(0x8B, Bytes{0}),
      Set("fromRoot", Concat({Push("/a:x"), Op(0x1C)})),
      Set("loaded0", Concat({Push("/a"), Push("12"), Op(0x22)})),
      Set("loaded1", Concat({Push("/a"), Push("12"), Op(0x22)})),
      Concat({Push("/a"), Push("0"), Push("7"), Op(0x23)}),  // _x = 7
      Set("x7", Concat({Push("/a"), Push("0"), Op(0x22)})),
      Set("frames", Concat({Push("/a"), Push("5"), Op(0x22)})),
      Concat({Push("/a"), Push("b"), Push("4"), Op(0x24)}),  // clone /a as /b at depth 4
      Set("cloned", Concat({Push("/b"), Push("5"), Op(0x22)})),
      Concat({Push("/b"), Op(0x25)}),  // and remove it again
  });
  Played p(MovieOf(sprite, {Concat({PlaceNamed(5, 1, "a"), Do(list)})}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.Var("/a:x"), "1");
  EXPECT_EQ(p.Var("/:fromRoot"), "1");
  EXPECT_EQ(p.Var("/:loaded0"), "0");
  EXPECT_EQ(p.Var("/:loaded1"), "1");
  EXPECT_EQ(p.Var("/:x7"), "7");
  EXPECT_EQ(AnimDisplay_FindByName(&p.root()->list, "/a")->matrix.tx, 140);
  EXPECT_EQ(p.Var("/:frames"), "2");
  EXPECT_EQ(p.Var("/:cloned"), "2");
  EXPECT_EQ(AnimDisplay_FindByName(&p.root()->list, "/b"), nullptr);
}

TEST(PlayerActions, LoopsRecursionAndMissingTargetsEndTheList) {
  // A jump to itself forever, a frame that calls itself, a missing clip.
  const Bytes forever = Do(Concat({Set("a", Push("1")), movie::Jump(0x99, -5)}));
  // Loops without end take the opening's whole work and end it there.
  OnStage loop(MovieOf({}, {forever}));
  ASSERT_EQ(loop.opened, 0u);
  EXPECT_EQ(loop.Var("/:a"), "1");
  EXPECT_EQ(loop->workRanOut, 1u);
  const Bytes calls = Do(Concat({Set("n", Concat({Push("n"), Op(0x1C), Push("x"), Op(0x21)})), Push("1"), Op(0x9E)}));
  Played call(MovieOf({}, {calls}));
  ASSERT_EQ(call.opened, 0u);
  EXPECT_EQ(call.Var("/:n").size(), kAnimMaxRunDepth);
  // Jumps far forward and back again in a loop: the replayed frames count too.
  std::vector<Bytes> frames(600);
  const Bytes settle = Concat({Push("x"), Op(0x17)});  // carries the pending jump out
  frames[0] = Do(Concat({movie::GotoFrame(599), settle, movie::GotoFrame(0), settle, movie::Jump(0x99, -29)}));
  OnStage jumps(MovieOf({}, frames));
  ASSERT_EQ(jumps.opened, 0u);
  EXPECT_EQ(jumps->workRanOut, 1u);
  Played missing(MovieOf({}, {Do(Concat({movie::Action(0x8B, Bytes{'z', 0}), Op(0x07), Set("after", Push("1"))}))}));
  ASSERT_EQ(missing.opened, 0u);
  EXPECT_EQ(missing.Var("/:after"), "");
}

// The "caption" request starts the ticker along the frame's foot for the
// root's next frames, each shown frame hands the host a line, a span of no
// frames is refused, and a request without '?' stops it; the caption goes
// off the screen once it stops.
TEST(PlayerActions, CaptionRequestsRunTheTickerOverTheirFrames) {
  Played p(MovieOf({}, {Do(movie::GetUrl("FSCommand:caption", "Hello?dur=3&r=255&g=16&b=1")),
                        Do(movie::GetUrl("FSCommand:caption", "Other?dur=0&r=1")),
                        Do(movie::GetUrl("FSCommand:caption", "off")), {}}));
  ASSERT_EQ(p.opened, 0u);
  const AnimCaption& c = p->caption;
  ASSERT_STREQ(c.text, "Hello");
  // Placed from the frame's height less 14 down to its width: on a frame
  // taller than wide that is less than 10 rows, so the top moves up.
  EXPECT_EQ(std::vector<int32_t>({c.startFrame, c.endFrame, c.left, c.top, c.right, c.bottom}),
            std::vector<int32_t>({0, 3, 0, kW - 10, kW - 1, kW}));
  EXPECT_EQ(std::vector<uint32_t>({c.textColour, c.backgroundColour, c.flags, c.size, p->captionOn}),
            std::vector<uint32_t>({0xFF100100u, 0xFFFFFF00u, 0xFFFFFFFFu, 12u, 1u}));
  ASSERT_EQ(p.Step(), 0u);  // frame 0: two bytes of five over four frames, growing
  EXPECT_EQ(p->captionShown, 1u);
  EXPECT_EQ(std::string(c.last.text), "He");
  EXPECT_EQ(std::vector<uint32_t>({c.last.first, c.last.style, c.last.mode, c.last.bytes}),
            std::vector<uint32_t>({8000u, 0xA6u, 1u, 3u}));
  ASSERT_EQ(p.Step(), 0u);  // frame 1 blinks off; its refused request changes nothing
  EXPECT_STREQ(c.text, nullptr);  // frame 2's "off" ran at the end of the step
  EXPECT_EQ(c.sent, 2u);
  EXPECT_EQ(c.last.bytes, 0u);
  EXPECT_EQ(p->captionOn, 0u);
  ASSERT_EQ(p.Step(), 0u);  // frame 2: no caption; the one shown is taken off
  EXPECT_EQ(p->captionShown, 0u);
  EXPECT_EQ(c.sent, 2u);
}

// A caption definition placed in a frame starts the ticker with its fields
// (bounds in percent, height, frame range, colour, option bytes as the
// background, flags); hiding it stops the ticker.
TEST(PlayerActions, CaptionDefinitionsStartAndStopTheTicker) {
  movie::EditText field;
  field.id = 6001;
  field.text = "News";
  field.height = 12;
  field.r = 1, field.g = 2, field.b = 3;
  field.first = 0, field.last = 1;
  field.xmin = 0, field.xmax = 100, field.ymin = 80, field.ymax = 100;
  Played p(MovieOf(movie::EditTextTag(field),
                   {movie::Caption(560, 6001), {}, movie::Caption(561, 6001), {}}));
  ASSERT_EQ(p.opened, 0u);
  const AnimCaption& c = p->caption;
  ASSERT_STREQ(c.text, "News");
  EXPECT_EQ(std::vector<int32_t>({c.startFrame, c.endFrame, c.left, c.top, c.right, c.bottom}),
            std::vector<int32_t>({0, 1, 0, kH * 80 / 100, kW - 1, kH - 1}));
  EXPECT_EQ(std::vector<uint32_t>({c.textColour, c.backgroundColour, c.flags, c.size}),
            std::vector<uint32_t>({0xFF010203u, 0x01020304u, 0u, 12u}));
  for (int frame = 0; frame < 2; ++frame) {
    ASSERT_EQ(p.Step(), 0u);
    EXPECT_EQ(c.sent, static_cast<uint32_t>(frame + 1));
    EXPECT_EQ(c.last.style, 0x286u);
    EXPECT_EQ(c.last.mode, 2u);
    EXPECT_EQ(c.last.bytes, 5u);  // "News" whole
  }
  EXPECT_STREQ(c.text, nullptr);  // frame 2 hid it
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p->captionShown, 0u);
}

TEST(PlayerActions, ToggleQualityWaitsForTheEndOfTheRun) {
  Played p(MovieOf({}, {Do(Concat({Op(0x08), Set("q", Push("1"))})), {}}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p->highQuality, 1u);
  EXPECT_EQ(p.movie()->raster.smooth, 1u);
}

// What a movie asked of the handset.
struct Requests {
  std::vector<std::string> log;
  static Requests& Of(void* c) { return *static_cast<Requests*>(c); }
};
const AnimHostHooks kRecording{
    nullptr,
    [](void* c, int32_t v) { Requests::Of(c).log.push_back("volume " + std::to_string(v)); },
    [](void* c, int32_t v, int32_t d) {
      Requests::Of(c).log.push_back("vibrate " + std::to_string(v) + " " + std::to_string(d));
    },
    [](void* c) { Requests::Of(c).log.push_back("stop"); },
    [](void*, int32_t values[7]) {
      for (int i = 0; i < 7; ++i) values[i] = 2000 + i;
    },
    [](void* c, int32_t n, const char* to, const char* text) {
      Requests::Of(c).log.push_back("sms " + std::to_string(n) + " " + to + " " + text);
    },
    [](void* c, const char* number) { Requests::Of(c).log.push_back(std::string("call ") + number); },
    [](void* c, const char* url, const char* target) {
      Requests::Of(c).log.push_back(std::string("url ") + url + " " + target);
    },
    nullptr, nullptr, nullptr, nullptr};

TEST(PlayerActions, GetUrlPrefixesReachTheirHooks) {
  const Bytes list = Concat({
      movie::GetUrl("FSCommand:setVolume", "vol=3"),
      movie::GetUrl("FSCommand:startVibrationNow", "vol=2&dur=500"),
      movie::GetUrl("FSCommand:stopVibration", ""),
      movie::GetUrl("FSCommand:getDate", ""),
      movie::GetUrl("FSCommand:unknown", "x"),
      movie::GetUrl("sms://12?to=0101234&data=hello there", ""),
      movie::GetUrl("tel://0101234", ""),
      movie::GetUrl("http://example.com/page", "_blank"),
      movie::GetUrl("video://clip.qyv?x=10&y=20&next=after.qvx", ""),
  });
  const Bytes data = MovieOf({}, {Do(list)});
  TestPlayer p;
  Requests requests;
  AnimHostHooks hooks = kRecording;
  hooks.context = &requests;
  p->hooks = &hooks;
  int32_t w = kW, h = kH;
  ASSERT_EQ(AnimHost_Open(p.get(), data.data(), p.frame.data(), p.work.data(), static_cast<uint32_t>(data.size()), &w, &h), 0u);
  EXPECT_EQ(requests.log, (std::vector<std::string>{"volume 3", "vibrate 2 500", "stop", "sms 12 0101234 hello there",
                                                     "call 0101234", "url http://example.com/page _blank"}));
  char* year = AnimVar_Get(p.get(), "/:MF_Y");
  char* second = AnimVar_Get(p.get(), "/:mf_sec");
  EXPECT_STREQ(year, "2000");
  EXPECT_STREQ(second, "2006");
  AnimStr_Free(p.get(), year);
  AnimStr_Free(p.get(), second);
  const AnimPlayer& a = *p.get();
  EXPECT_EQ(a.videoRequested, 1u);
  EXPECT_STREQ(a.videoName, "clip.qyv");
  EXPECT_STREQ(a.videoNext, "after.qvx");
  EXPECT_EQ(a.videoX, 10);
  EXPECT_EQ(a.videoY, 20);
  AnimHost_Close(p.get());
}

// --- Buttons ---------------------------------------------------------------

// A button drawn grey when up, blue when over and red when down, whose
// transitions record themselves in "log".
Bytes StateButton(uint16_t id, uint16_t upShape, uint16_t overShape, uint16_t downShape, const std::string& tag) {
  movie::Writer w;
  w.U16(id).U8(0);
  movie::Writer records;
  const std::pair<uint8_t, uint16_t> states[3] = {{1 | 8, upShape}, {2, overShape}, {4, downShape}};
  for (const auto& [bits, shape] : states) records.U8(bits).U16(shape).U16(1).Matrix(0, 0).Cxform({}, {}, true);
  records.U8(0);
  w.U16(static_cast<uint32_t>(2 + records.bytes().size())).Raw(records.bytes());
  const std::pair<uint16_t, std::string> conditions[4] = {
      {1, "o"}, {2, "u"}, {4, "d"}, {8, "r"}};  // up to over, over to up, over to down, down to over
  for (size_t i = 0; i < 4; ++i) {
    const Bytes list = Concat({Set("/:log", Concat({Push("/:log"), Op(0x1C), Push(tag + conditions[i].second), Op(0x21)})),
                               movie::EndActions()});
    w.U16(i + 1 < 4 ? static_cast<uint32_t>(4 + list.size()) : 0).U16(conditions[i].first).Raw(list);
  }
  return movie::Tag(34, w.bytes());
}

Bytes Shapes() {
  return Concat({Box(1, {128, 128, 128}, 600), Box(2, {0, 0, 248}, 600), Box(3, {248, 0, 0}, 600)});
}

Bytes Grid() {
  // A at (10,10), B right of A, C below A, D far up-right (outside up's cone from C).
  return Concat({Shapes(), StateButton(10, 1, 2, 3, "A"), StateButton(11, 1, 2, 3, "B"), StateButton(12, 1, 2, 3, "C"),
                 StateButton(13, 1, 2, 3, "D")});
}

Bytes GridMovie(const Bytes& more = {}) {
  return MovieOf(Grid(), {Concat({movie::Background(255, 255, 255), movie::Place(10, 1, 200, 200), movie::Place(11, 2, 1400, 200),
                                  movie::Place(12, 3, 200, 1400), movie::Place(13, 4, 2600, 1000), more})});
}

std::string Focused(Played& p) {
  AnimDisplayObject* f = p.movie()->input.focus;
  return f ? std::string(1, static_cast<char>('A' + f->character->id - 10)) : "-";
}

TEST(PlayerButtons, TheFocusMovesWithinTheConeOfEachDirection) {
  Played p(GridMovie());
  ASSERT_EQ(p.opened, 0u);
  std::string path;
  for (uint32_t key : {kAnimKeyDown, kAnimKeyRight, kAnimKeyRight, kAnimKeyRight, kAnimKeyLeft, kAnimKeyLeft,
                       kAnimKeyDown, kAnimKeyUp, kAnimKeyRight, kAnimKeyRight, kAnimKeyUp}) {
    p.Key(key);
    path += Focused(p);
  }
  // The first key focuses A. Right from B finds D, 40 across for 60 along;
  // right from D finds nothing and keeps it. Up from D passes over A (120
  // across for 40 along) for B.
  EXPECT_EQ(path, "ABDDBACABDB");
}

TEST(PlayerButtons, SelectAndItsReleaseRunTheirTransitions) {
  Played p(GridMovie());
  ASSERT_EQ(p.opened, 0u);
  p.Key(kAnimKeyDown);
  p.Key(kAnimKeySelect);
  EXPECT_EQ(p.At(15, 15), kRed);
  EXPECT_EQ(p.Step(), 0u);  // the queued release comes first
  EXPECT_EQ(p.At(15, 15), kBlue);
  p.Key(kAnimKeyRight);
  EXPECT_EQ(p.Var("/:log"), "AoAdArAuBo");
  // A pointer over C, pressed and let go.
  AnimPlayer_Command(p.get(), 104, (20u << 16) | 80u);
  EXPECT_EQ(Focused(p), "C");
  const AnimEvent press{20, 80, kAnimEventPress, 0}, release{20, 80, kAnimEventRelease, 0};
  AnimMovie_Control(p.movie(), 2, &press);
  AnimMovie_Control(p.movie(), 2, &release);
  EXPECT_EQ(p.Var("/:log"), "AoAdArAuBoBuCoCdCr");
}

TEST(PlayerButtons, AReplacedFocusKeepsTheFocusAndDigitsFireConditions) {
  const Bytes keyButton = movie::ButtonWithConditions(14, false, 1, {{0x6000, Concat({Set("k", Push("zero")), movie::EndActions()})}});
  movie::Place2 replace;
  replace.flags = 2 | 1;
  replace.depth = 1;
  replace.id = 10;
  Played p(MovieOf(Concat({Grid(), keyButton}),
                   {Concat({movie::Place(10, 1, 200, 200), movie::Place(14, 5, 2000, 2000)}), movie::PlaceWithFlags(replace), {}}));
  ASSERT_EQ(p.opened, 0u);
  p.Key(kAnimKeyDown);
  AnimDisplayObject* before = p.movie()->input.focus;
  ASSERT_NE(before, nullptr);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(Focused(p), "A");
  EXPECT_EQ(p.movie()->input.focus->buttonState, 2u);
  p.Key(24);
  EXPECT_EQ(p.Var("/:k"), "zero");
}

// A button inside a sprite is redrawn as soon as its state changes.
TEST(PlayerButtons, ButtonsInsideSpritesRedrawAtOnce) {
  const Bytes holder = movie::Sprite(20, 1, Concat({movie::Place(10, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  Played p(MovieOf(Concat({Grid(), holder}), {PlaceNamed(20, 1, "holder", 400, 400)}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.At(25, 25), 0x4210);  // grey: up
  p.Key(kAnimKeyDown);
  EXPECT_EQ(p.At(25, 25), kBlue);
  EXPECT_EQ(Focused(p), "A");
}

// A button whose record is a sprite plays that sprite.
TEST(PlayerButtons, ASpriteInAButtonPlays) {
  const Bytes sprite = movie::Sprite(30, 2, Concat({movie::Place(3, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                    movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  const Bytes button = movie::Button(40, 30, movie::EndActions());
  Played p(MovieOf(Concat({Shapes(), sprite, button}), {movie::Place(40, 1, 400, 400), {}, {}}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.At(25, 25), kRed);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.At(25, 25), kBlue);
}

// Closing gives back every block the movie took, whatever it did.
TEST(PlayerButtons, ClosingGivesBackTheHeap) {
  Played p(GridMovie(Do(Concat({Set("x", Push("1")), movie::GetUrl("FSCommand:caption", "c?dur=2"),
                                Push("http://h/v.txt"), Push(""), movie::Action(0x9A, Bytes{1}),
                                Push("/a"), Push("b"), Push("4"), Op(0x24)}))));
  ASSERT_EQ(p.opened, 0u);
  for (uint32_t key : {kAnimKeyDown, kAnimKeySelect, kAnimKeyRight, 24u}) p.Key(key);
  AnimPlayer_Command(p.get(), 104, (20u << 16) | 20u);
  // The http request went to the transfer at once; nothing waits on it.
  EXPECT_EQ(p->pendingUrl, nullptr);
  EXPECT_STREQ(p->download.host, "h");
  p.Step();
  AnimHost_Close(p.get());
  EXPECT_EQ(p->heap.bytesInUse, 0u);
}

// Key presses change what the movie draws.
TEST(PlayerButtons, KeyPressesChangeTheFrames) {
  Played p(GridMovie());
  ASSERT_EQ(p.opened, 0u);
  auto shot = [&](const char* name) {
    std::vector<uint16_t> rgb565(p.frame.size());
    for (size_t i = 0; i < p.frame.size(); ++i) {
      const uint16_t v = p.frame[i];
      rgb565[i] = static_cast<uint16_t>((v & 0x7C00) << 1 | (v & 0x3E0) << 1 | (v & 0x1F));
    }
    EXPECT_TRUE(GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/" + name + ".png",
                              GoldenFromRgb565(rgb565.data(), kW, kH, kW)));
  };
  shot("buttons_start");
  p.Key(kAnimKeyDown);
  shot("buttons_focus_a");
  p.Key(kAnimKeyRight);
  p.Key(kAnimKeySelect);
  shot("buttons_press_b");
}

// --- Downloads ---------------------------------------------------------------

TEST(PlayerDownloads, RequestsAnswersAndVariables) {
  TestPlayer p;
  std::vector<std::string> sent;
  AnimHostHooks hooks{};
  hooks.context = &sent;
  hooks.send = [](void* c, const char* text, uint32_t n) {
    static_cast<std::vector<std::string>*>(c)->emplace_back(text, n);
    return 0;
  };
  p->hooks = &hooks;
  ASSERT_EQ(AnimNet_StartFetch(p.get(), "http://example.com/dir/m.bin?x=1"), 1);
  EXPECT_EQ(AnimNet_SendRequest(p.get()), 0);
  EXPECT_STREQ(p->download.fileName, "m.bin");
  const std::string tail = "X-Vorlyx-Info: MIN=8200000000000; SoundType=MA2|MA3|EVRC; Memory=250KB\r\n\r\n";
  EXPECT_EQ(sent.back(), "GET /dir/m.bin?x=1 HTTP/1.0\r\nHost: example.com\r\n" + tail);
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 11\r\n\r\n&a=1&b=two";
  EXPECT_EQ(AnimNet_Receive(p.get(), reinterpret_cast<const uint8_t*>(head.data()), static_cast<uint32_t>(head.size())), 0);
  EXPECT_EQ(p->download.received, 10u);
  EXPECT_EQ(AnimNet_SendResume(p.get()), 0);
  EXPECT_EQ(sent.back(), "GET /dir/m.bin?x=1 HTTP/1.1\r\nHost: example.com\r\nRange: bytes=10-\r\n" + tail);
  // One byte more than announced is refused; the last byte completes it.
  EXPECT_EQ(AnimNet_Receive(p.get(), reinterpret_cast<const uint8_t*>("xy"), 2), -2);
  EXPECT_EQ(AnimNet_Receive(p.get(), reinterpret_cast<const uint8_t*>("&"), 1), 0);
  int block = 1;
  EXPECT_EQ(AnimNet_TransferEnd(p.get(), &block), 0u);
  EXPECT_EQ(AnimNet_Deliver(p.get()), 1u);
  char* a = AnimVar_Get(p.get(), "/:a");
  char* b = AnimVar_Get(p.get(), "/:b");
  EXPECT_STREQ(a, "1");
  EXPECT_STREQ(b, "two");
  AnimStr_Free(p.get(), a);
  AnimStr_Free(p.get(), b);
  // Answers without a length, or with one past the room, are refused.
  for (const std::string answer : {"HTTP/1.0 200 OK\r\n\r\nabc", "HTTP/1.0 200 OK\r\nContent-Length: 9999999\r\n\r\n"}) {
    ASSERT_EQ(AnimNet_StartFetch(p.get(), "http://h/x"), 1);
    EXPECT_LT(AnimNet_Receive(p.get(), reinterpret_cast<const uint8_t*>(answer.data()), static_cast<uint32_t>(answer.size())), 0);
  }
  // Not http: nothing is asked of the host.
  EXPECT_EQ(AnimNet_StartFetch(p.get(), "ftp://h/x"), 1);
  EXPECT_STREQ(p->download.host, "");
}

// --- Edge caches -----------------------------------------------------------

AnimDisplayObject* AtDepth(AnimDisplayList* list, int32_t depth) {
  for (AnimDisplayObject* o = list->first; o; o = o->next)
    if (o->depth == depth) return o;
  return nullptr;
}

// Only objects their clip's frame leaves alone keep their edges: not one the
// frame moves, and nothing inside an unnamed sprite instance.
TEST(PlayerCaches, ObjectsTheFrameLeavesAloneKeepTheirEdges) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 400, 400), movie::BoxShape(2, {0, 0, 248}, 0, 0, 400, 400),
                             movie::Sprite(5, 1, Concat({movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  Played p(MovieOf(defs, {Concat({movie::Place(1, 1, 0, 0), movie::Place(1, 2, 1000, 0), movie::Place(5, 3, 0, 1000)}),
                          movie::MoveTo(2, 1200, 0), {}}));
  ASSERT_EQ(p.opened, 0u);
  AnimDisplayList* list = &p.root()->list;
  AnimMovie_InvalidateAll(p.movie());
  EXPECT_EQ(AtDepth(list, 1)->cache.hasCache, 0u);  // placed by the frame shown
  EXPECT_EQ(AtDepth(list, 1)->changesThisFrame, 1u);
  p.Step();
  AnimMovie_InvalidateAll(p.movie());
  EXPECT_EQ(AtDepth(list, 1)->cache.hasCache, 1u);
  EXPECT_EQ(AtDepth(list, 1)->changesThisFrame, 0u);
  EXPECT_EQ(AtDepth(list, 2)->cache.hasCache, 0u);  // moved by frame 1
  AnimDisplayObject* sprite = AtDepth(list, 3);
  ASSERT_TRUE(sprite && sprite->clip);
  EXPECT_EQ(AtDepth(&sprite->clip->list, 1)->cache.hasCache, 0u);
  // The next frame touches nothing: the moved box keeps its edges now.
  p.Step();
  AnimMovie_InvalidateAll(p.movie());
  EXPECT_EQ(AtDepth(list, 2)->cache.hasCache, 1u);
  // A redraw from the caches leaves the same pixels.
  const std::vector<uint16_t> cached = p.frame;
  p.movie()->raster.cacheMode = 1;
  AnimMovie_InvalidateAll(p.movie());
  EXPECT_TRUE(p.frame == cached);
  p.movie()->raster.cacheMode = 0;
}

// A sprite replaced by another character lets its clip's edges go: its
// objects are no longer drawn, and their caches would hold heap until the
// movie closes.
TEST(PlayerCaches, AReplacedSpriteLetsItsClipsEdgesGo) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 400, 400), movie::BoxShape(2, {0, 0, 248}, 0, 0, 400, 400),
                             movie::Sprite(7, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::ShowFrame(), movie::End()}))});
  movie::Place2 replace;
  replace.flags = 2 | 1;
  replace.depth = 1;
  replace.id = 2;
  Played p(MovieOf(defs, {PlaceNamed(7, 1, "s"), {}, movie::PlaceWithFlags(replace), {}}));
  ASSERT_EQ(p.opened, 0u);
  p.Step();
  AnimMovie_InvalidateAll(p.movie());
  AnimClip* clip = AtDepth(&p.root()->list, 1)->clip;
  ASSERT_NE(clip, nullptr);
  ASSERT_EQ(AtDepth(&clip->list, 1)->cache.hasCache, 1u);
  p.Step();
  EXPECT_EQ(AtDepth(&p.root()->list, 1)->character->id, 2u);
  ASSERT_NE(AtDepth(&clip->list, 1), nullptr);
  EXPECT_EQ(AtDepth(&clip->list, 1)->cache.hasCache, 0u);
}

// Whatever a frame, a script or a key changes, the objects' kept edges never
// draw anything else than a redraw from the records does (Played compares
// the two after every step and key).
TEST(PlayerCaches, KeptEdgesFollowEveryChange) {
  const Bytes box = movie::BoxShape(1, {248, 0, 0}, 0, 0, 800, 800);
  const Bytes inner = movie::Sprite(5, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::ShowFrame(), movie::End()}));
  const auto prop = [](const char* target, int index, const char* value) {
    return Do(Concat({Push(target), Push(std::to_string(index)), Push(value), Op(0x23)}));
  };
  movie::Place2 tint;
  tint.flags = 1 | 8;
  tint.depth = 2;
  tint.mul = {128, 256, 128, 256};
  tint.add = {0, 0, 60, 0};
  const Bytes button = movie::Button(6, 5, movie::EndActions());
  const struct {
    const char* what;
    Bytes defs;
    std::vector<Bytes> frames;
    std::vector<uint32_t> keys;  // after each step
  } cases[] = {
      {"colour transform", box, {Concat({movie::Place(1, 1, 0, 0), movie::Place(1, 2, 400, 400)}), {}, movie::PlaceWithFlags(tint), {}, {}}, {}},
      {"alpha, position and turn by script", Concat({box, inner}),
       {PlaceNamed(5, 1, "s", 200, 200), {}, prop("/s", 6, "40"), prop("/s", 0, "30"), prop("/s", 10, "30"), {}, {}}, {}},
      {"zoom, pan and quality", Concat({box, inner}),
       {Concat({movie::Place(1, 1, 0, 0), PlaceNamed(5, 2, "s", 1000, 1000)}), {}, {}, {}, {}, {}}, {18, 22, 23, 7, 19, 6}},
      {"a sprite inside a button", Concat({box, inner, button}),
       {movie::Place(6, 1, 600, 600), {}, {}, {}}, {kAnimKeyDown, 0, kAnimKeySelect, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Played p(MovieOf(Concat({movie::Background(255, 255, 255), c.defs}), c.frames));
    ASSERT_EQ(p.opened, 0u);
    for (size_t i = 0; i + 1 < c.frames.size(); ++i) {
      p.Step();
      if (i < c.keys.size() && c.keys[i]) p.Key(c.keys[i]);
    }
  }
}

// A heap with room enough but only in small pieces cannot keep a large
// shape's edges: the shape is drawn all the same and keeps nothing.
TEST(PlayerCaches, AHeapInSmallPiecesDrawsWithoutKeeping) {
  movie::Records r(1, 0);
  for (int i = 0; i < 175; ++i) r.Change(-1, 1, -1, true, 20 + (i % 15) * 40, 20 + (i / 15) * 40).To(10, 20).To(-10, 20).To(-10, -20).To(10, -20);
  const Bytes many = movie::ShapeTag(2, 1, {{0, 200, 0}}, {}, 1, 0, r.End());
  Played p(MovieOf(Concat({movie::Background(255, 255, 255), many}), {movie::Place(1, 1, 0, 0), {}, {}}));
  ASSERT_EQ(p.opened, 0u);
  AnimHeap& heap = p->heap;
  std::vector<void*> blocks;
  while (void* b = AnimHeap_Malloc(&heap, 2000)) blocks.push_back(b);
  for (size_t i = 0; i < blocks.size() && heap.end - heap.bytesInUse < heap.end / 8 + 8000; i += 2) {
    AnimHeap_Free(&heap, blocks[i]);
    blocks[i] = nullptr;
  }
  p.Step();
  const std::vector<uint16_t> shown = p.frame;
  AnimMovie_InvalidateAll(p.movie());
  EXPECT_EQ(AnimPlayer_Aborted(p.get()), 0u);
  EXPECT_EQ(AtDepth(&p.root()->list, 1)->cache.hasCache, 0u);
  EXPECT_TRUE(p.frame == shown);
  for (void* b : blocks) AnimHeap_Free(&heap, b);
  AnimMovie_InvalidateAll(p.movie());
  EXPECT_EQ(AtDepth(&p.root()->list, 1)->cache.hasCache, 1u);
  EXPECT_TRUE(p.frame == shown);
}

// Kept edges fill the pool up to three quarters; a morph, a button's shape
// or a large shape drawn after them finds room for all of its edges all the
// same (Played compares with redraws that keep nothing).
TEST(PlayerCaches, KeptEdgesLeaveRoomForTheNextDraw) {
  const auto boxes = [](int count) {
    movie::Records r(1, 0);
    for (int i = 0; i < count; ++i)
      r.Change(-1, 1, -1, true, 20 + (i % 15) * 40, 20 + (i / 15) * 40).To(10, 20).To(-10, 20).To(-10, -20).To(10, -20);
    return r.End();
  };
  const Bytes kept = movie::ShapeTag(2, 1, {{0, 200, 0}}, {}, 1, 0, boxes(110));  // 440 edges
  Bytes morphEdges{0x10};
  const Bytes records = boxes(130);  // 520 edges
  morphEdges.insert(morphEdges.end(), records.begin(), records.end());
  const Bytes large = Concat({movie::SolidMorph(2, {0, 0, 200}, morphEdges, morphEdges),
                              movie::ShapeTag(2, 3, {{0, 0, 200}}, {}, 1, 0, records), movie::Button(4, 3, movie::EndActions())});
  for (uint16_t last : {2, 3, 4}) {
    SCOPED_TRACE(last);
    Played p(MovieOf(Concat({movie::Background(255, 255, 255), kept, large}),
                     {Concat({movie::Place(1, 1, 0, 0), movie::Place(1, 2, 700, 0), movie::Place(1, 3, 0, 500),
                              movie::Place(last, 4, 700, 500)}),
                      {}, {}}));
    ASSERT_EQ(p.opened, 0u);
    p.Step();
    EXPECT_GT(std::count(p.frame.begin(), p.frame.end(), AnimColor_To16(0, 0, 200)), 100);
  }
  // Placed for the first time while the others' edges are kept: the frame
  // after shows it whole, as a whole redraw does.
  for (uint16_t last : {2, 3, 4}) {
    SCOPED_TRACE(last);
    Played p(MovieOf(Concat({movie::Background(255, 255, 255), kept, large}),
                     {Concat({movie::Place(1, 1, 0, 0), movie::Place(1, 2, 700, 0), movie::Place(1, 3, 0, 500)}), {},
                      movie::Place(last, 4, 700, 500), {}, {}}));
    ASSERT_EQ(p.opened, 0u);
    for (int i = 0; i < 3; ++i) p.Step();
    const std::vector<uint16_t> shown = p.frame;
    AnimMovie_InvalidateAll(p.movie());
    EXPECT_TRUE(p.frame == shown);
  }
}

// Shapes of 700 edges each: the third finds the pool three-quarters full,
// empties it and every cache, and keeps its own edges from the start.
TEST(PlayerCaches, APoolRunningLowIsEmptiedWithEveryCache) {
  movie::Records r(1, 0);
  for (int i = 0; i < 175; ++i) r.Change(-1, 1, -1, true, 20 + (i % 15) * 40, 20 + (i / 15) * 40).To(10, 20).To(-10, 20).To(-10, -20).To(10, -20);
  const Bytes many = movie::ShapeTag(2, 1, {{0, 200, 0}}, {}, 1, 0, r.End());
  Played p(MovieOf(many, {Concat({movie::Place(1, 1, 0, 0), movie::Place(1, 2, 700, 0), movie::Place(1, 3, 0, 500)}), {}}));
  ASSERT_EQ(p.opened, 0u);
  p.Step();
  AnimMovie* m = p.movie();
  AnimRaster_ResetPool(&m->raster);  // the caches made so far are stale
  m->raster.nextFree = 1500;
  AnimMovie_InvalidateAll(m);
  AnimDisplayList* list = &p.root()->list;
  EXPECT_EQ(AtDepth(list, 1)->cache.hasCache, 0u);
  EXPECT_EQ(AtDepth(list, 2)->cache.hasCache, 0u);
  EXPECT_EQ(AtDepth(list, 3)->cache.hasCache, 1u);
  EXPECT_EQ(m->raster.nextFree, 700);
  const std::vector<uint16_t> cached = p.frame;
  m->raster.cacheMode = 1;
  AnimMovie_InvalidateAll(m);
  EXPECT_TRUE(p.frame == cached);
  m->raster.cacheMode = 0;
}

// --- The background picture --------------------------------------------------

// A "/Background" sprite is drawn once into the whole frame and kept: later
// frames clear to that picture, so a moving box over an animated background
// always shows the same background, as a whole redraw does; removing the
// sprite lets the picture go.
TEST(PlayerBackground, TheFirstDrawingIsKeptUntilTheSpriteGoes) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160), movie::BoxShape(3, {0, 0, 248}, 0, 0, 3520, 4160),
                             movie::BoxShape(2, {0, 248, 0}, 0, 0, 400, 400),
                             movie::Sprite(7, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(3, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background"), movie::Place(2, 2, 0, 0)}),
                          movie::MoveTo(2, 1000, 1000), movie::MoveTo(2, 2000, 1000), movie::MoveTo(2, 2000, 2000),
                          movie::RemoveDepth(1), {}}));
  ASSERT_EQ(p.opened, 0u);
  AnimRaster& r = p.movie()->raster;
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    const std::vector<uint16_t> shown = p.frame;
    AnimMovie_InvalidateAll(p.movie());
    EXPECT_TRUE(p.frame == shown);
    EXPECT_EQ(p.At(170, 200), kRed);  // the sprite's first frame, kept
    EXPECT_STREQ(r.backgroundName ? r.backgroundName : "", "/Background");
    p.Step();
  }
  EXPECT_EQ(p.At(100 + 5, 100 + 5), kGreen);
  p.Step();  // the sprite is removed
  EXPECT_EQ(r.backgroundName, nullptr);
  EXPECT_EQ(p.At(170, 200), kWhite);
  const std::vector<uint16_t> shown = p.frame;
  AnimMovie_InvalidateAll(p.movie());
  EXPECT_TRUE(p.frame == shown);
}

// Replacing the kept "/Background" sprite with another character at its
// depth lets the picture go: the object keeps the name, but what is drawn
// under it is new (a sprite drawn afresh and kept, a shape drawn as itself).
TEST(PlayerBackground, AReplacementAtItsDepthLetsThePictureGo) {
  const Bytes whole = movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160);
  const Bytes defs = Concat({whole, movie::BoxShape(3, {0, 0, 248}, 0, 0, 3520, 4160),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                             movie::Sprite(8, 1, Concat({movie::Place(3, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const struct {
    uint16_t with;
    bool keepsPicture;
  } cases[] = {{8, true}, {3, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.with);
    movie::Place2 replace;
    replace.flags = 2 | 1;
    replace.depth = 1;
    replace.id = c.with;
    Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background")}),
                            movie::PlaceWithFlags(replace), {}}));
    ASSERT_EQ(p.opened, 0u);
    EXPECT_EQ(p.At(170, 200), kRed);
    p.Step();
    EXPECT_EQ(p.At(170, 200), kBlue);
    const AnimRaster& r = p.movie()->raster;
    EXPECT_EQ(r.backgroundName != nullptr, c.keepsPicture);
    const std::vector<uint16_t> shown = p.frame;
    AnimMovie_InvalidateAll(p.movie());
    EXPECT_TRUE(p.frame == shown);
    EXPECT_EQ(p.At(170, 200), kBlue);
  }
}

// The heap taken in blocks of 20,000 bytes, every other one given back
// until 60,000 bytes are free: no room for a frame-sized picture.
class HeapInPieces {
 public:
  explicit HeapInPieces(AnimHeap& heap, uint32_t leave = 60000, int32_t piece = 20000) : heap_(heap) {
    while (void* b = AnimHeap_Malloc(&heap_, piece)) blocks_.push_back(b);
    for (size_t i = 0; i < blocks_.size() && heap_.end - heap_.bytesInUse < leave; i += 2) {
      AnimHeap_Free(&heap_, blocks_[i]);
      blocks_[i] = nullptr;
    }
  }
  ~HeapInPieces() { Release(); }
  void Release() {
    for (void* b : blocks_) AnimHeap_Free(&heap_, b);
    blocks_.clear();
  }

 private:
  AnimHeap& heap_;
  std::vector<void*> blocks_;
};

// Without heap for the picture the "/Background" sprite is drawn as any
// sprite; once there is room it is kept.
TEST(PlayerBackground, WithoutRoomForThePictureTheSpriteIsDrawnAsAnyOther) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160), movie::BoxShape(2, {0, 0, 248}, 0, 0, 400, 400),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  Played p(MovieOf(defs, {movie::Background(255, 255, 255), Concat({PlaceNamed(7, 1, "Background"), movie::Place(2, 2, 0, 0)}),
                          movie::MoveTo(2, 1000, 1000), {}}));
  ASSERT_EQ(p.opened, 0u);
  HeapInPieces pieces(p->heap);
  const AnimRaster& r = p.movie()->raster;
  p.Step();
  EXPECT_EQ(AnimPlayer_Aborted(p.get()), 0u);
  EXPECT_EQ(r.backgroundName, nullptr);
  EXPECT_EQ(p.At(170, 200), kRed);
  EXPECT_EQ(p.At(5, 5), kBlue);
  pieces.Release();
  p.Step();
  EXPECT_STREQ(r.backgroundName ? r.backgroundName : "", "/Background");
  EXPECT_EQ(p.At(5, 5), kRed);
  EXPECT_EQ(p.At(55, 55), kBlue);
}

// A "/Background" sprite placed in a frame that changes nothing else is
// drawn, and kept.
TEST(PlayerBackground, PlacedAloneItIsDrawn) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  Played p(MovieOf(defs, {movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background"), {}}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.At(100, 100), kWhite);
  p.Step();
  EXPECT_EQ(p.At(100, 100), kRed);
  EXPECT_STREQ(p.movie()->raster.backgroundName ? p.movie()->raster.backgroundName : "", "/Background");
}

// A level that goes takes its kept background picture with it; without a
// picture, what it showed goes at the next step as well, though the movie
// below stands still. (The level was let go before the redraw looked for
// removed levels, so nothing was redrawn and its pixels stayed.)
TEST(PlayerBackground, ARemovedLevelTakesItsPictureAlong) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const Bytes first = MovieOf(Box(2, {0, 0, 248}), {Concat({movie::Background(255, 255, 255), movie::Place(2, 1, 0, 0)}), {}, {}, {}});
  struct Case {
    const char* what;
    Bytes second;
    const char* picture;
  };
  const Case cases[] = {
      {"a background sprite", MovieOf(defs, {PlaceNamed(7, 1, "Background"), {}}), "/Background"},
      {"a box over a still movie", MovieOf(Box(1, {248, 0, 0}), {movie::Place(1, 1, 1900, 1900)}), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Played p(first);
    ASSERT_EQ(p.opened, 0u);
    AnimMovie* m = p.movie();
    ASSERT_EQ(AnimMovie_ReplaceLevel(m, false, 1, c.second.data(), static_cast<uint32_t>(c.second.size())), 1u);
    p.Step();
    EXPECT_EQ(p.At(100, 100), kRed);
    EXPECT_STREQ(m->raster.backgroundName ? m->raster.backgroundName : "", c.picture);
    AnimMovie_ReplaceLevel(m, true, 1, nullptr, 0);
    p.Step();
    EXPECT_EQ(m->raster.backgroundName, nullptr);
    EXPECT_EQ(p.At(100, 100), kWhite);
    EXPECT_EQ(p.At(5, 5), kBlue);
  }
}

// The kept picture is the view's: zoom and pan draw the sprite again.
TEST(PlayerBackground, ZoomAndPanDrawThePictureAgain) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 1560, 1880, 400, 400),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background")}), {}, {}}));
  ASSERT_EQ(p.opened, 0u);
  p.Step();
  EXPECT_EQ(p.At(70, 86), kWhite);
  EXPECT_EQ(p.At(88, 104), kRed);
  p.Key(18);  // zoom 2 about the centre: the box doubles
  EXPECT_EQ(p.At(70, 86), kRed);
  p.Key(22);  // pan: the movie moves 32 pixels right
  EXPECT_EQ(p.At(70, 100), kWhite);
  EXPECT_EQ(p.At(130, 100), kRed);
}

// A script that hides or moves the background sprite lets its picture go.
TEST(PlayerBackground, AScriptChangingTheSpriteLetsThePictureGo) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 1760, 4160),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const struct {
    int property;
    const char* value;
    uint16_t left, right;  // at (40, 100) and (130, 100) afterwards
  } cases[] = {{7, "0", kWhite, kWhite}, {0, "88", kWhite, kRed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.property);
    const Bytes set = Do(Concat({Push("/Background"), Push(std::to_string(c.property)), Push(c.value), Op(0x23)}));
    Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background")}), {}, set, {}}));
    ASSERT_EQ(p.opened, 0u);
    p.Step();
    EXPECT_EQ(p.At(40, 100), kRed);
    EXPECT_EQ(p.At(130, 100), kWhite);
    p.Step();
    EXPECT_EQ(p.At(40, 100), c.left);
    EXPECT_EQ(p.At(130, 100), c.right);
  }
}

}  // namespace

namespace {

// Sprite 7, to be placed as "/Background": shape 1, and over it sprite 8
// (shape 2) named "inner" at (x, y) twips.
Bytes HoldingInner(int32_t x, int32_t y) {
  const Bytes inner = movie::Sprite(8, 1, Concat({movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  return Concat({inner, movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), PlaceNamed(8, 2, "inner", x, y),
                                                    movie::ShowFrame(), movie::End()}))});
}

// A "/Background" sprite in a level above 0: the picture holds the frame's
// colour and the sprite, and every level, level 0 included, is drawn over it.
// Without room for the picture the sprite of a higher level is still drawn
// under every level, as its picture would be: whether the heap has room may
// differ between two plays of a movie (edges kept or not), what they show
// may not.
TEST(PlayerBackground, WithoutRoomInAHigherLevelEveryLevelIsDrawnOverIt) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const Bytes second = MovieOf(defs, {PlaceNamed(7, 1, "Background"), {}, {}});
  const Bytes first = MovieOf(Box(2, {0, 0, 248}), {Concat({movie::Background(255, 255, 255), movie::Place(2, 1, 0, 0)}),
                                                      movie::MoveTo(1, 400, 400), {}, {}});
  Played p(first);
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(AnimMovie_ReplaceLevel(p.movie(), false, 1, second.data(), static_cast<uint32_t>(second.size())), 1u);
  HeapInPieces pieces(p->heap);
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    p.Step();
    EXPECT_EQ(p.movie()->raster.backgroundName, nullptr);
    EXPECT_EQ(p.At(25, 25), kBlue);
    EXPECT_EQ(p.At(130, 100), kRed);
  }
}

// However little heap is left, a level with a "/Background" sprite (one
// holding a sprite of its own) over a moving movie, loaded and let go,
// shows what a whole redraw draws after every step; once the heap is back
// the movie plays on, and loading and letting go the level again holds no
// more heap than the first time.
TEST(PlayerBackground, WithTheHeapCutAtEveryLevelTheFrameShownIsAWholeRedraw) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 1760, 0, 1760, 4160), Box(2, {0, 248, 0}),
                             HoldingInner(600, 2000)});
  const Bytes move = MoveBackground();
  const Bytes second = MovieOf(defs, {PlaceNamed(7, 1, "Background"), move, move, {}});
  const Bytes first = MovieOf(Box(3, {0, 0, 248}), {Concat({movie::Background(255, 255, 255), movie::Place(3, 1, 0, 0)}),
                                                      movie::MoveTo(1, 300, 300), movie::MoveTo(1, 600, 500), movie::MoveTo(1, 900, 700)});
  constexpr uint32_t kAll = ~0u;
  for (uint32_t leave : {0u, 1000u, 4000u, 12000u, 30000u, 60000u, kAll}) {
    for (int32_t piece : {20000, 3000}) {
      SCOPED_TRACE(std::to_string(leave) + " left in pieces of " + std::to_string(piece));
      Played p(first);
      ASSERT_EQ(p.opened, 0u);
      p.Key(9);  // loop
      p.Step();
      // The picture's room, once taken, is kept for the next picture.
      uint32_t held = 0;
      for (int round = 0; round < 3; ++round) {
        {
          // All of it left: the picture is kept.
          std::optional<HeapInPieces> pieces;
          if (leave != kAll) pieces.emplace(p->heap, leave, piece);
          AnimMovie_ReplaceLevel(p.movie(), false, 1, second.data(), static_cast<uint32_t>(second.size()));
          for (int step = 0; step < 3; ++step) p.Step();
          if (leave == kAll) {
            EXPECT_STREQ(p.movie()->raster.backgroundName ? p.movie()->raster.backgroundName : "", "/Background");
          }
          AnimMovie_ReplaceLevel(p.movie(), true, 1, nullptr, 0);
          p.Step();
          p.Step();
        }
        // Too little heap to load the level ends the player, as any failed
        // allocation does.
        if (AnimPlayer_Aborted(p.get())) break;
        for (int step = 0; step < 4; ++step) EXPECT_EQ(p.Step(), 0u);
        EXPECT_EQ(p.movie()->raster.backgroundName, nullptr);
        EXPECT_TRUE(round == 0 || p->heap.bytesInUse == held) << "round " << round << ": " << p->heap.bytesInUse;
        held = p->heap.bytesInUse;
      }
    }
  }
}

// The heap cut and given back between the steps of a moving "/Background"
// sprite in level 1: the picture is taken, drawn as a sprite under every
// level, and taken again, each frame as a whole redraw draws it.
TEST(PlayerBackground, WithTheHeapCutEveryOtherStepTheFrameShownIsAWholeRedraw) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 1760, 0, 1760, 4160),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const Bytes move = MoveBackground();
  const Bytes second = MovieOf(defs, {PlaceNamed(7, 1, "Background"), move, movie::MoveTo(1, 200, 0), move});
  const Bytes first = MovieOf(Box(3, {0, 0, 248}), {Concat({movie::Background(255, 255, 255), movie::Place(3, 1, 0, 0)}),
                                                      movie::MoveTo(1, 300, 300), movie::MoveTo(1, 600, 500), movie::MoveTo(1, 900, 700)});
  for (int phase = 0; phase < 2; ++phase) {
    SCOPED_TRACE(phase);
    Played p(first);
    ASSERT_EQ(p.opened, 0u);
    p.Key(9);  // loop
    AnimMovie_ReplaceLevel(p.movie(), false, 1, second.data(), static_cast<uint32_t>(second.size()));
    for (int step = 0; step < 12; ++step) {
      SCOPED_TRACE(step);
      std::optional<HeapInPieces> pieces;
      if ((step + phase) % 2) pieces.emplace(p->heap);
      p.Step();
      if (step == 6) p.Key(18);
      if (step == 9) p.Key(7);
      ASSERT_EQ(AnimPlayer_Aborted(p.get()), 0u);
    }
  }
}

TEST(PlayerBackground, InAHigherLevelEveryLevelIsDrawnOverThePicture) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 1760, 0, 1760, 4160),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const Bytes second = MovieOf(defs, {PlaceNamed(7, 1, "Background"), {}, {}});
  const Bytes first = MovieOf(Box(2, {0, 0, 248}), {Concat({movie::Background(255, 255, 255), movie::Place(2, 1, 0, 0)}), {}, {}, {}});
  Played p(first);
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(AnimMovie_ReplaceLevel(p.movie(), false, 1, second.data(), static_cast<uint32_t>(second.size())), 1u);
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    p.Step();
    EXPECT_EQ(p.At(5, 5), kBlue);
    EXPECT_EQ(p.At(40, 5), kWhite);
    EXPECT_EQ(p.At(130, 100), kRed);
  }
}

// A sprite inside the "/Background" sprite is part of its picture: the
// picture holds both, and a script that moves the background every frame
// (drawing the picture again each time) leaks nothing.
TEST(PlayerBackground, ASpriteInsideItIsPartOfThePicture) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 1000, 1000), movie::BoxShape(2, {0, 0, 248}, 0, 0, 1000, 1000),
                             HoldingInner(2000, 0)});
  const Bytes move = MoveBackground();
  Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background")}), move, move}));
  ASSERT_EQ(p.opened, 0u);
  p.Key(9);  // loop
  uint32_t inUse = 0;
  for (int step = 0; step < 300; ++step) {
    ASSERT_EQ(p.Step(), 0u) << step;
    if (step == 100) inUse = p->heap.bytesInUse;
  }
  EXPECT_EQ(p->heap.bytesInUse, inUse);
  EXPECT_EQ(p.At(20, 20), kRed);
  EXPECT_EQ(p.At(120, 20), kBlue);
  EXPECT_STREQ(p.movie()->raster.backgroundName ? p.movie()->raster.backgroundName : "", "/Background");
}

// A sprite's bounds are those of what its clip shows, in the sprite's own
// units (its own placement does not move them); a clip showing nothing
// has none.
TEST(PlayerDisplay, ASpritesBoundsAreWhatItsClipShows) {
  const Bytes defs = Concat({Box(1, {248, 0, 0}),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 400, 600), movie::Place(1, 2, 1000, 1000),
                                                         movie::ShowFrame(), movie::End()})),
                             movie::Sprite(8, 1, Concat({movie::ShowFrame(), movie::End()}))});
  Played p(MovieOf(defs, {Concat({PlaceNamed(7, 1, "s", 2000, 2000), PlaceNamed(8, 2, "e")}), {}}));
  ASSERT_EQ(p.opened, 0u);
  AnimRect r;
  ASSERT_TRUE(AnimSprite_GetBounds(AnimDisplay_FindByName(&p.root()->list, "/s")->clip, &r));
  EXPECT_EQ(r.xmin, 400);
  EXPECT_EQ(r.xmax, 1400);
  EXPECT_EQ(r.ymin, 600);
  EXPECT_EQ(r.ymax, 1400);
  EXPECT_FALSE(AnimSprite_GetBounds(AnimDisplay_FindByName(&p.root()->list, "/e")->clip, &r));
  EXPECT_TRUE(AnimRect_IsEmpty(&r));
}

// Opening a movie blacks out whatever the host's buffer held; before the
// movie's first background colour nothing clears it.
TEST(PlayerView, TheFrameIsBlackAtTheStart) {
  MoviePlayer p(MovieOf(Box(1, {248, 0, 0}), {movie::Place(1, 1, 2000, 2000), {}}));
  p.frame.assign(static_cast<size_t>(kW) * kH, 0x5555);
  int32_t w = kW, h = kH;
  ASSERT_EQ(AnimHost_Open(p.get(), p.bytes.data(), p.frame.data(), p.work.data(), static_cast<uint32_t>(p.bytes.size()), &w, &h), 0u);
  EXPECT_EQ(p.At(0, 0), 0u);
  EXPECT_EQ(p.At(kW - 1, kH - 1), 0u);
  EXPECT_EQ(p.At(105, 105), kRed);
  AnimHost_Close(p.get());
}

}  // namespace

namespace {

// Kept edges are replayed only under the mode they were made in: smooth
// edges run over doubled rows.
TEST(PlayerCaches, KeptEdgesBelongToTheirQualityMode) {
  Played p(MovieOf(Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0})}), {movie::Place(1, 1, 0, 0), {}, {}}));
  ASSERT_EQ(p.opened, 0u);
  p.Step();
  AnimMovie_InvalidateAll(p.movie());
  AnimDisplayObject* o = AtDepth(&p.root()->list, 1);
  ASSERT_EQ(o->cache.hasCache, 1u);
  AnimRaster& r = p.movie()->raster;
  EXPECT_TRUE(AnimShapeCache_Valid(&r, &o->cache, &o->matrix, nullptr));
  r.smooth ^= 1;
  EXPECT_FALSE(AnimShapeCache_Valid(&r, &o->cache, &o->matrix, nullptr));
  r.smooth ^= 1;
}

// A quality change the heap has no room for keeps the movie playing in the
// mode it had; the command reports the failure.
TEST(PlayerView, AQualityChangeWithoutRoomKeepsTheOldMode) {
  Played p(MovieOf(Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0})}),
                   {movie::Place(1, 1, 0, 0), movie::MoveTo(1, 1000, 0), movie::MoveTo(1, 2000, 0), {}}));
  ASSERT_EQ(p.opened, 0u);
  AnimHeap& heap = p->heap;
  std::vector<void*> blocks;
  for (int32_t size : {4096, 256, 16})
    while (void* b = AnimHeap_Malloc(&heap, size)) blocks.push_back(b);
  // Room for drawing, not for the smooth mode's larger tables.
  for (int i = 0; i < 8; ++i) {
    AnimHeap_Free(&heap, blocks.back());
    blocks.pop_back();
  }
  EXPECT_EQ(AnimPlayer_Command(p.get(), 4, 7), 1u);
  EXPECT_EQ(AnimPlayer_Aborted(p.get()), 0u);
  EXPECT_EQ(p->highQuality, 0u);
  ASSERT_EQ(p.movie()->raster.ready, 1u);
  EXPECT_EQ(p.movie()->raster.smooth, 0u);
  for (void* b : blocks) AnimHeap_Free(&heap, b);
  EXPECT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.At(55, 5), kRed);
  p.Key(7);
  EXPECT_EQ(p.movie()->raster.smooth, 1u);
  EXPECT_EQ(p.Step(), 0u);
  EXPECT_NE(p.At(105, 5), kWhite);
}

}  // namespace
