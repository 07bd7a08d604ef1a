// Movies played through the host entry points and the user commands, each
// case a rule of the timeline, the actions or the host interface that a
// small movie shows: levels taken by clips, stepping while paused, sprites
// wrapping, a halted root's children, loads that are not there yet, tag
// errors, colour at an alpha, and what the host is told.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "movie_script.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

// target.property = value
Bytes SetProp(const std::string& target, int index, const std::string& value) {
  return Concat({Push(target), Push(std::to_string(index)), Push(value), Op(0x23)});
}
// A sprite of n frames, each with nothing but a show-frame.
Bytes Counter(uint16_t id, uint16_t frames) {
  std::vector<Bytes> tags;
  for (uint16_t i = 0; i < frames; ++i) tags.push_back(movie::ShowFrame());
  tags.push_back(movie::End());
  return movie::Sprite(id, frames, Concat(tags));
}

struct Played : MoviePlayer {
  explicit Played(const Bytes& data, uint32_t code = 16) : MoviePlayer(data) {
    frame.assign(static_cast<size_t>(kW) * kH, 0);
    int32_t w = kW, h = kH;
    if (code == 16) {
      opened = AnimHost_Open(get(), bytes.data(), frame.data(), work.data(), static_cast<uint32_t>(bytes.size()), &w, &h);
    } else {
      player->frameBuffer = frame.data();
      player->workBuffer = work.data();
      const AnimSize size{w, h};
      AnimPlayer_Command(get(), 1, reinterpret_cast<uintptr_t>(&size));
      const AnimDataArg arg{static_cast<uint32_t>(bytes.size()), bytes.data(), -1};
      opened = AnimPlayer_Command(get(), code, reinterpret_cast<uintptr_t>(&arg));
    }
  }
  ~Played() { AnimHost_Close(get()); }
  AnimClip* clip(const char* path) { return AnimClip_FindByPath(root(), path); }
};

constexpr uint16_t kGreen = 0x03E0;

// --- Faults a movie could cause ----------------------------------------------

// A clip playing a movie loaded for it holds that level (4095); a get-URL
// naming that number must not free the frames the clip plays.
TEST(PlayerRules, ALevelTakenByAClipIsNoLoadTarget) {
  const Bytes inner = MovieOf(Box(1, {0, 248, 0}), {movie::Place(1, 1, 0, 0), {}, {}});
  const Bytes load = Do(Concat({Push("inner.swf"), Push("holder"), movie::Action(0x9A, Bytes{0})}));
  const Bytes main = MovieOf(Counter(5, 1), {Concat({PlaceNamed(5, 1, "holder", 400, 400), load}),
                                            Concat({Do(movie::GetUrl("inner.qvx", "_level4095")),
                                                    Do(Concat({Push("inner.qvx"), Push("_level4095"),
                                                               movie::Action(0x9A, Bytes{0})}))}),
                                            Do(movie::GetUrl("inner.qvx", "_level70000")), {}});
  Played p(movie::Qvz({{"main", main}, {"inner.qvx", inner}}));
  ASSERT_EQ(p.opened, 0u);
  AnimStream* taken = AnimMovie_Level(p.movie(), 4095);
  ASSERT_NE(taken, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(AnimMovie_Level(p.movie(), 4095), taken);
  EXPECT_EQ(AnimMovie_Level(p.movie(), 70000 & 0xFFFF), nullptr);
  EXPECT_EQ(p.At(25, 25), kGreen);
}

// Pause, then step once: the next frame's actions run once.
TEST(PlayerRules, APausedStepRunsItsFrameOnce) {
  Played p(MovieOf({}, {Mark("x"), Mark("x"), Mark("x"), Mark("x")}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.Var("/:trace"), "x");
  p.Key(2);
  p.Key(4);
  EXPECT_EQ(p.Var("/:trace"), "xx");
  EXPECT_EQ(p.root()->currentFrame, 1u);
  p.Key(4);
  EXPECT_EQ(p.Var("/:trace"), "xxx");
  ASSERT_EQ(p.Step(), 0u);  // still paused
  EXPECT_EQ(p.Var("/:trace"), "xxx");
}

// _x and _y far outside the twentieths' range are held at its ends.
TEST(PlayerRules, PositionsFarOutAreHeldAtTheEnds) {
  Played p(MovieOf(Counter(5, 1), {PlaceNamed(5, 1, "s"),
                                   Do(Concat({SetProp("/s", 0, "200000000"), SetProp("/s", 1, "-200000000")})), {}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  const AnimDisplayObject* o = p.root()->list.first;
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->matrix.tx, INT32_MAX);
  EXPECT_EQ(o->matrix.ty, INT32_MIN);
  EXPECT_EQ(p.clip("/s")->x, 200000000);
}

// A dark box in a sprite at _alpha 50 over white: alpha 255 x 50 / 100 and
// full colour multipliers of 255.
TEST(PlayerRules, ATranslucentSpriteUsesTheFullColourScale) {
  const Bytes sprite = movie::Sprite(5, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  Played p(MovieOf(Concat({Box(1, {8, 8, 8}), sprite}),
                   {Concat({movie::Background(255, 255, 255), PlaceNamed(5, 1, "s")}), Do(SetProp("/s", 6, "50")), {}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.At(5, 5), 0x3DEF);
}

// name = target's property
Bytes GetProp(const std::string& name, const std::string& target, int index) {
  return Set(name, Concat({Push(target), Push(std::to_string(index)), Op(0x22)}));
}

// A sprite's _width and _height are the pixel size of what it shows once
// measured; until then the movie's frame size; a sprite showing nothing
// keeps the size it last had. "s" holds a 40-pixel box, "g" the same box
// in its first frame only, "e" nothing. Setting them scales the sprite.
TEST(PlayerRules, ASpritesWidthAndHeightAreWhatItShows) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 800, 800),
                             movie::Sprite(40, 1, Concat({movie::Place(1, 1, 0, 0), end})),
                             movie::Sprite(41, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1), end})),
                             movie::Sprite(42, 1, end)});
  const Bytes read = Concat({GetProp("sw", "/s", 8), GetProp("sh", "/s", 9), GetProp("gw", "/g", 8), GetProp("gh", "/g", 9),
                             GetProp("ew", "/e", 8), GetProp("eh", "/e", 9)});
  Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(40, 1, "s"), PlaceNamed(41, 2, "g", 0, 2000),
                                  PlaceNamed(42, 3, "e")}),
                          Do(read),
                          Do(Concat({GetProp("gEmptied", "/g", 8), SetProp("/s", 8, "80"), SetProp("/s", 9, "20")})), {}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  const std::map<std::string, std::string> read1 = {{"sw", "40"}, {"sh", "40"}, {"gw", "40"},
                                                    {"gh", "40"}, {"ew", "176"}, {"eh", "208"}};
  for (const auto& [name, value] : read1) EXPECT_EQ(p.Var("/:" + name), value) << name;
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.Var("/:gEmptied"), "40") << "the size it last had";
  const AnimDisplayObject* s = AnimDisplay_FindByName(&p.root()->list, "/s");
  ASSERT_NE(s, nullptr);
  EXPECT_FLOAT_EQ(s->matrix.a, 2.0f);
  EXPECT_FLOAT_EQ(s->matrix.d, 0.5f);
  EXPECT_EQ(p.At(70, 15), 0x7C00) << "80 pixels wide";
  EXPECT_EQ(p.At(20, 30), 0x7FFF) << "20 pixels tall";
}

// Variables over http: the request goes to the transfer and the movie plays
// on, keys and all.
TEST(PlayerRules, AnHttpLoadLetsTheMoviePlayOn) {
  Played p(MovieOf({}, {Do(Concat({Push("http://h/v.txt"), Push(""), movie::Action(0x9A, Bytes{0})})), Mark("1"),
                        Mark("2"), Mark("3")}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_STREQ(p->download.host, "h");
  EXPECT_EQ(p.movie()->action.networkPending, 1u);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.root()->currentFrame, 3u);
  EXPECT_EQ(p.Var("/:trace"), "123");
  p.Key(2);  // pause still reaches the player
  EXPECT_EQ(p->paused, 1u);
}

// A package member shorter than its header's total length is not there
// yet: the get-URL remembers a pending load, whose download the next advance
// starts; the movie then plays on.
TEST(PlayerRules, ATruncatedMemberIsAPendingLoad) {
  Bytes second = MovieOf(Box(1, {0, 248, 0}), {movie::Place(1, 1, 0, 0)});
  second.resize(second.size() - 6);
  const Bytes first = MovieOf({}, {Do(Concat({movie::GetUrl("movies/two.qvx", "_level1"), Set("after", Push("ran"))})),
                                   Mark("1"), Mark("2"), {}});
  Played p(movie::Qvz({{"main.qvx", first}, {"two.qvx", second}}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(AnimMovie_Level(p.movie(), 1), nullptr);
  EXPECT_EQ(p.movie()->action.loadLevel, 1u);
  ASSERT_NE(p->pendingUrl, nullptr);
  EXPECT_STREQ(p->pendingUrl, "movies/two.qvx");
  EXPECT_EQ(p.Var("/:after"), "");  // the list ended there
  ASSERT_EQ(p.Step(), 0u);  // asks for the download instead of playing
  EXPECT_EQ(p->pendingUrl, nullptr);
  EXPECT_EQ(p.root()->currentFrame, 0u);
  ASSERT_EQ(p.Step(), 0u);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.Var("/:trace"), "12");
  // The loader itself: -1 for the short member and for a missing one.
  AnimLoaded out{};
  EXPECT_EQ(AnimPackage_LoadMember(p.movie(), "two.qvx", &out), -1);
  EXPECT_EQ(AnimPackage_LoadMember(p.movie(), "none.qvx", &out), -1);
  EXPECT_GT(AnimPackage_LoadMember(p.movie(), "main.qvx", &out), 0);
  EXPECT_EQ(AnimMovie_LoadLevel(p.movie(), "two.qvx", 2), -1);
  // Short data handed straight to a level is no load either.
  EXPECT_EQ(AnimMovie_ReplaceLevel(p.movie(), false, 3, second.data(), static_cast<uint32_t>(second.size())), 0u);
}

// A zero-size sound is a tag error: the frames before it still play.
TEST(PlayerRules, ATagErrorKeepsTheFramesBeforeIt) {
  Played p(MovieOf(Box(1, {0, 248, 0}), {Concat({movie::Place(1, 1, 0, 0), Mark("0")}), Mark("1"),
                                          Concat({movie::Sound(9, 5, 0, 0, {}), Mark("2")}), Mark("3")}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.At(5, 5), kGreen);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.Var("/:trace"), "01");
  // A sound the handset cannot play still refuses the movie.
  Played refused(MovieOf({}, {movie::Sound(9, 4, 0, 10, Bytes(10, 1))}));
  EXPECT_EQ(refused.opened, 2u);
}

// --- The timeline -----------------------------------------------------------

TEST(PlayerRules, SpritesWrapAtTheirLastFrame) {
  Played p(MovieOf(Counter(5, 3), {PlaceNamed(5, 1, "s"), {}, {}, {}, {}, {}, {}}));
  ASSERT_EQ(p.opened, 0u);
  std::vector<uint32_t> seen{p.clip("/s")->currentFrame};
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(p.Step(), 0u);
    seen.push_back(p.clip("/s")->currentFrame);
  }
  EXPECT_EQ(seen, std::vector<uint32_t>({0, 1, 2, 0, 1, 2}));
}

// A sprite of one frame wraps at every step: its frame runs again, actions
// included, and what it places is placed afresh.
TEST(PlayerRules, AOneFrameSpriteRunsItsFrameAtEveryStep) {
  const Bytes log = movie::Actions(Concat({Push("/:log"), Push("/:log"), Op(0x1C), Push("x"), Op(0x21), Op(0x1D),
                                           movie::EndActions()}));
  const Bytes sprite = movie::Sprite(5, 1, Concat({Box(1, {248, 0, 0}), movie::Place(1, 1, 0, 0), log, movie::ShowFrame(), movie::End()}));
  Played p(MovieOf(sprite, {PlaceNamed(5, 1, "s"), {}, {}, {}}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.Var("/:log"), "x");
  ASSERT_EQ(p.Step(), 0u);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.Var("/:log"), "xxx");
  EXPECT_EQ(p.clip("/s")->currentFrame, 0u);
  EXPECT_NE(p.clip("/s")->list.first, nullptr);
}

// The root halts at its last frame; its sprites play on and the player
// keeps stepping.
TEST(PlayerRules, TheRootsChildrenPlayOnAfterItHalts) {
  Played p(MovieOf(Counter(5, 4), {PlaceNamed(5, 1, "s"), {}}));
  ASSERT_EQ(p.opened, 0u);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.root()->playing, 0u);
  EXPECT_EQ(p.root()->currentFrame, 1u);
  EXPECT_EQ(p.clip("/s")->currentFrame, 0u);  // 0, 1, 2, 3, 0
}

// Restart rewinds the root without removing what it placed.
TEST(PlayerRules, RestartRewindsWithoutRemoving) {
  const Bytes defs = Concat({Box(1, {248, 0, 0}), Box(2, {0, 248, 0})});
  Played p(MovieOf(defs, {movie::Place(1, 1, 0, 0), movie::Place(2, 2, 800, 0), {}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  ASSERT_EQ(p.Step(), 0u);
  p.Key(3);
  EXPECT_EQ(p.root()->currentFrame, 0u);
  uint32_t objects = 0;
  for (AnimDisplayObject* o = p.root()->list.first; o; o = o->next) ++objects;
  EXPECT_EQ(objects, 2u);
}

// Digit keys 24 to 36 fire the condition whose whole word names them.
TEST(PlayerRules, DigitKeysMatchTheirWholeConditionWord) {
  const auto condition = [](uint16_t bits, const std::string& mark) {
    return std::pair<uint16_t, Bytes>{bits, Concat({Set("k", Concat({Push("k"), Op(0x1C), Push(mark), Op(0x21)})),
                                                    movie::EndActions()})};
  };
  const Bytes button = movie::ButtonWithConditions(
      14, false, 1, {condition(('0' + 12) << 9, "c"), condition((('0' + 1) << 9) | 1, "x"), condition(0x6000, "0")});
  Played p(MovieOf(Concat({Box(1, {248, 0, 0}), button}), {movie::Place(14, 1, 0, 0), {}}));
  ASSERT_EQ(p.opened, 0u);
  for (uint32_t key : {24u, 25u, 36u, 37u}) p.Key(key);
  EXPECT_EQ(p.Var("/:k"), "0c");
}

// A caption that runs out takes itself off: caption off, whole view redrawn.
TEST(PlayerRules, ACaptionThatEndsTurnsCaptionOff) {
  std::vector<std::vector<int32_t>> told;
  AnimHostHooks hooks{};
  hooks.context = &told;
  hooks.notify = [](void* c, uint32_t what, int32_t a, int32_t b, int32_t r, int32_t d) {
    if (what == kAnimNotifyRedraw) static_cast<std::vector<std::vector<int32_t>>*>(c)->push_back({a, b, r, d});
  };
  const Bytes defs = Box(1, {248, 0, 0});
  Played p(MovieOf(defs, {Concat({movie::Place(1, 1, 0, 0), Do(movie::GetUrl("FSCommand:caption", "Hi?dur=1&r=1"))}),
                          movie::MoveTo(1, 20, 0), movie::MoveTo(1, 40, 0), {}}));
  ASSERT_EQ(p.opened, 0u);
  p->hooks = &hooks;
  EXPECT_EQ(p->captionOn, 1u);
  ASSERT_EQ(p.Step(), 0u);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p->captionShown, 1u);
  ASSERT_EQ(p.Step(), 0u);  // frame 2: past the caption
  EXPECT_EQ(p->captionShown, 0u);
  EXPECT_EQ(p->captionOn, 0u);
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back(), std::vector<int32_t>({0, 0, kW, kH}));
  p->hooks = nullptr;
}

// The host hears of a redraw when the frame changed or a caption shows.
TEST(PlayerRules, TheHostHearsOfChangedFramesOnly) {
  uint32_t told = 0;
  AnimHostHooks hooks{};
  hooks.context = &told;
  hooks.notify = [](void* c, uint32_t what, int32_t, int32_t, int32_t, int32_t) {
    if (what == kAnimNotifyRedraw) ++*static_cast<uint32_t*>(c);
  };
  Played p(MovieOf({}, {{}, {}}));
  ASSERT_EQ(p.opened, 0u);
  p->hooks = &hooks;
  ASSERT_EQ(p.Step(), 0u);  // frame 0 goes out
  ASSERT_EQ(p.Step(), 0u);  // frame 1
  ASSERT_EQ(p.Step(), 0u);  // halted on frame 1: nothing new
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(told, 2u);
  p->hooks = nullptr;
}

// A replacement at a depth keeps the name the object goes by.
TEST(PlayerRules, AReplacementKeepsTheName) {
  Played p(MovieOf(Concat({Counter(5, 1), Counter(6, 1)}), {PlaceNamed(5, 1, "a"), PlaceNamed(6, 1, "b"), {}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  const AnimDisplayObject* o = p.root()->list.first;
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->character->id, 6u);
  EXPECT_STREQ(o->name, "/a");
}

// A script's rotation joins the object's matrix at the next drawing, once.
TEST(PlayerRules, ARotationJoinsTheMatrixOnce) {
  const Bytes sprite = movie::Sprite(5, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  Played p(MovieOf(Concat({Box(1, {248, 0, 0}), sprite}), {PlaceNamed(5, 1, "s", 2000, 2000), Do(SetProp("/s", 10, "90")), {}, {}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  AnimClip* s = p.clip("/s");
  const AnimDisplayObject* o = p.root()->list.first;
  EXPECT_EQ(s->extraMatrixSet, 0u);
  EXPECT_FLOAT_EQ(s->extraMatrix.b, 0.0f);
  EXPECT_NEAR(o->matrix.a, 0.0f, 1e-6);
  EXPECT_NEAR(o->matrix.c, 1.0f, 1e-6);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_NEAR(o->matrix.c, 1.0f, 1e-6);  // not turned again
}

// Without a chain the level lookup gives the movie's root.
TEST(PlayerRules, WithoutAChainTheLevelIsTheRoot) {
  Played p(MovieOf({}, {{}}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(AnimLevel_Find(p.movie(), nullptr, "/x"), p.root());
}

// The button helpers the events are built from, on a movie of two buttons
// (one inside a sprite) and a key condition.
TEST(PlayerRules, ButtonHelpersWalkSelectAndMeasure) {
  const Bytes plain = movie::Button(3, 1, movie::EndActions());
  const Bytes keyed = movie::ButtonWithConditions(4, false, 1, {{0x6200, movie::EndActions()}});
  const Bytes holder = movie::Sprite(5, 1, Concat({movie::Place(4, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  Played p(MovieOf(Concat({Box(1, {248, 0, 0}), plain, keyed, holder}),
                   {Concat({movie::Place(3, 1, 0, 0), PlaceNamed(5, 2, "h", 2000, 0)}), {}}));
  ASSERT_EQ(p.opened, 0u);
  AnimMovie* m = p.movie();
  uint32_t visits = 0;
  const auto count = [](void* c, uint32_t, AnimDisplayObject*, AnimClip*) -> uint32_t {
    ++*static_cast<uint32_t*>(c);
    return 0;
  };
  EXPECT_EQ(AnimButton_Walk(m, &visits, 0, count), 0u);
  EXPECT_EQ(visits, 2u);
  AnimDisplayObject* first = AnimButton_First(m);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->character->id, 3u);
  AnimClip* owner = nullptr;
  const AnimActionRecord* list = nullptr;
  AnimDisplayObject* fired = AnimButton_FindKey(m, 25, &owner, &list);
  ASSERT_NE(fired, nullptr);
  EXPECT_EQ(fired->character->id, 4u);
  EXPECT_EQ(owner, p.clip("/h"));
  EXPECT_EQ(AnimButton_FindKey(m, 24, &owner, &list), nullptr);
  EXPECT_EQ(AnimButton_FindChanged(m, &owner, &list), nullptr);
  // Right of the plain button lies the other.
  EXPECT_EQ(AnimButton_Nearest(m, 1, 0, first), fired);
  EXPECT_EQ(AnimButton_Nearest(m, -1, 0, first), nullptr);
  // Records by state: up and hit-test at (0, 0), over and down moved by 100.
  const auto* b = static_cast<const AnimButton*>(first->character->body);
  EXPECT_EQ(AnimButton_SelectRecord(b, 1), b->records);
  EXPECT_EQ(AnimButton_SelectRecord(b, 4), b->records->next);
  AnimRect up, down, none;
  ASSERT_TRUE(AnimButton_GetBounds(b, 1, &up));
  ASSERT_TRUE(AnimButton_GetBounds(b, 4, &down));
  EXPECT_EQ(down.xmin - up.xmin, 100);
  ASSERT_TRUE(AnimButton_GetBounds(b, 16, &none));  // no record: the last one with a character
  EXPECT_EQ(none.xmin, down.xmin);
  AnimClip_Reset(m);
  EXPECT_EQ(AnimMovie_Root(m), nullptr);
}

// Setting a field's variable marks the clip named by the variable's path up
// to its last '/': for a field in "/a" that is the root.
TEST(PlayerRules, SettingAFieldsVariableMarksTheClipUpToTheLastSlash) {
  movie::EditText field;
  field.id = 7;
  field.flags = 0x0080;
  field.text = "hi";
  const Bytes holder = movie::Sprite(
      5, 3, Concat({movie::Place(7, 1, 0, 0), movie::ShowFrame(), movie::ShowFrame(), movie::ShowFrame(), movie::End()}));
  Played p(MovieOf(Concat({movie::EditTextTag(field), holder}),
                   {PlaceNamed(5, 1, "a", 2000, 0), Do(Set("/a:TextField7", Push("yo"))), {}}));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_EQ(p.Step(), 0u);
  EXPECT_EQ(p.Var("/a:TextField7"), "yo");
  // The field's area in the root's units: from the left edge, not from the
  // sprite's place 100 pixels in.
  EXPECT_EQ(p.movie()->redrawLeft, 0);
  EXPECT_LT(p.movie()->redrawRight, 110);
}

// --- The host interface -------------------------------------------------------

TEST(PlayerRules, Command17LoopsTheRoot) {
  Played p(MovieOf({}, {{}, {}}), 17);
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.root()->flagWord, 1u);
}

// Command 20 gives back the block the host handed over when its flag says so.
TEST(PlayerRules, Command20FreesAHandedOverBlock) {
  Played p(MovieOf({}, {{}}));
  ASSERT_EQ(p.opened, 0u);
  AnimPlayer_Command(p.get(), 3, 0);
  const uint32_t before = p->heap.bytesInUse;
  auto* block = static_cast<uint8_t*>(AnimPlayer_Alloc(p.get(), 64));
  ASSERT_NE(block, nullptr);
  const AnimStoreArg kept{block, 64, 0};
  EXPECT_EQ(AnimPlayer_Command(p.get(), 20, reinterpret_cast<uintptr_t>(&kept)), 3u);  // nothing to read back here
  EXPECT_GT(p->heap.bytesInUse, before);
  const AnimStoreArg given{block, 64, 1};
  EXPECT_EQ(AnimPlayer_Command(p.get(), 20, reinterpret_cast<uintptr_t>(&given)), 3u);
  EXPECT_EQ(p->heap.bytesInUse, before);
}

// A package in host storage is read member by member: its table keeps
// offsets, the first member plays, and a level loads another member from
// the file at its offset.
TEST(PlayerRules, APackageInHostStorageIsReadMemberByMember) {
  struct Storage {
    std::map<std::string, Bytes> files;
    std::vector<std::string> reads;
  } storage;
  const Bytes second = MovieOf(Box(1, {0, 248, 0}), {movie::Place(1, 1, 0, 0)});
  const Bytes first = MovieOf({}, {Do(movie::GetUrl("two.qvx", "_level1")), {}});
  storage.files["pkg.qvz"] = movie::Qvz({{"main.qvx", first}, {"two.qvx", second}});
  AnimHostHooks hooks{};
  hooks.context = &storage;
  hooks.readFile = [](void* c, AnimPlayer* p, const char* name, uint32_t* length, uint32_t offset,
                      uint32_t count) -> void* {
    auto* st = static_cast<Storage*>(c);
    st->reads.push_back(std::string(name) + "@" + std::to_string(offset) + "+" + std::to_string(count));
    const auto f = st->files.find(name);
    if (f == st->files.end() || offset > f->second.size()) return nullptr;
    const uint32_t left = static_cast<uint32_t>(f->second.size()) - offset;
    const uint32_t n = count == 0 || count > left ? left : count;
    auto* block = static_cast<uint8_t*>(AnimPlayer_Alloc(p, static_cast<int32_t>(n + 1)));
    if (!block) return nullptr;
    std::copy(f->second.begin() + offset, f->second.begin() + offset + n, block);
    *length = n;
    return block;
  };
  hooks.fileExists = [](void* c, const char* name) -> uint32_t {
    return static_cast<Storage*>(c)->files.count(name) ? 1 : 0;
  };
  TestPlayer p;
  std::vector<uint16_t> frame(static_cast<size_t>(kW) * kH, 0);
  p->frameBuffer = frame.data();
  p->workBuffer = p.work.data();
  p->hooks = &hooks;
  const AnimSize size{kW, kH};
  ASSERT_EQ(AnimPlayer_Command(p.get(), 1, reinterpret_cast<uintptr_t>(&size)), 0u);
  EXPECT_EQ(AnimPlayer_Command(p.get(), 2, reinterpret_cast<uintptr_t>("none.qvz")), 3u);
  ASSERT_EQ(AnimPlayer_Command(p.get(), 2, reinterpret_cast<uintptr_t>("pkg.qvz")), 0u);
  const AnimPackage& package = p->package;
  ASSERT_EQ(package.count, 2u);
  EXPECT_STREQ(package.fileName, "pkg.qvz");
  EXPECT_EQ(package.entries[1].data, nullptr);
  const uint32_t at = 3 + 1 + 8 + 4 + static_cast<uint32_t>(first.size()) + 1 + 7 + 4;
  EXPECT_EQ(package.entries[1].offset, at);
  EXPECT_EQ(package.entries[1].size, second.size());
  EXPECT_STREQ(p->movieName, "main.qvx");
  // The level came from the file at the member's offset.
  ASSERT_NE(AnimMovie_Level(p->movie, 1), nullptr);
  EXPECT_EQ(storage.reads.back(), "pkg.qvz@" + std::to_string(at) + "+" + std::to_string(second.size()));
  for (const std::string& r : storage.reads) EXPECT_NE(r, "pkg.qvz@0+0");  // never the whole file
  ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  EXPECT_EQ(frame[5 * kW + 5], kGreen);
  AnimHost_Close(p.get());
  p->hooks = nullptr;
}

}  // namespace
