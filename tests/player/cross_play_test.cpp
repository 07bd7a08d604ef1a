// One movie played by three players given the same inputs: with the edge
// caches, without them, and with the caches but without heap for a
// background picture (the heap squeezed into holes of 4 to 64 KB once the
// movie is open). Whatever each one keeps, the frame each shows after every
// input is the same, and the two whole heaps fail at the same input or
// not at all. Random movies and inputs from fixed seeds: levels loaded,
// replaced and let go, "/Background" sprites in several levels (one inside
// another sprite, fields of 1 to 400 tiles with animated pieces, hatchings
// of many stripes shown several times), clips shared by name under
// buttons, outlines of many edges with no fill and no line, coded bitmaps
// placed after the first frame (when a picture has been made), keys, the
// pointer, zoom, pan and quality.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "movie_script.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

class Rng {
 public:
  explicit Rng(uint32_t seed) : g_(seed) {}
  // 0 to n - 1.
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(g_() % n); }
  int32_t Between(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(Below(static_cast<uint32_t>(hi - lo + 1))); }
  movie::Solid Colour() {
    return {static_cast<uint8_t>(Below(32) * 8), static_cast<uint8_t>(Below(32) * 8), static_cast<uint8_t>(Below(32) * 8)};
  }

 private:
  std::mt19937 g_;
};

// Characters every random movie defines.
enum : uint16_t {
  kBoxes = 1,       // 1 to 5: boxes; 4 large, 5 wide
  kTranslucent = 6,
  kInner = 10,      // two frames: box 1, then box 2
  kMoving = 11,     // a box moving over three frames
  kBackA = 12,      // a large box with kInner named "inner" over it
  kBackB = 13,      // a wide box
  kShared = 14,     // kMoving twice under the one name "s", and a translucent box
  kButton = 15,     // box 1: a press jumps to frame 1 and plays
  kButtonClip = 16, // shows kShared: a press stops the movie
  kHolder = 17,     // holds kBackB named "/Background3" (absolute)
  kRunaway = 18,    // ten frames, the first's actions counting in "/:n" for ever
  kRunawayMover = 19,  // the same, also setting "/Background"'s x to the count
  kTile = 20,       // a small box
  kTileRow = 21,    // a row of 1 to 20 tiles
  kField = 22,      // 1 to 20 rows under the one name "r", "inner" and "m" (kMoving) over them
  kFillLess = 23,   // 50 to 600 short edges with no fill and no line, and a small box
  kHatch = 24,      // 6 to 30 vertical stripes the stage's height
  kHeavy = 25,      // kHatch 1 to 3 times, side by side
  kPhotoBits = 26,  // a coded bitmap of 16 to 48 pixels a side
  kPhoto = 27,      // a box filled with it
};

// The runaway sprites loop in one frame of ten: a step that runs out of
// work takes far longer than another.
constexpr uint16_t kRunawayFrames = 10;

// Frames but the last of a runaway sprite after its first: nothing.
Bytes Idle() {
  Bytes frames;
  for (uint16_t f = 1; f < kRunawayFrames; ++f) frames = Concat({frames, movie::ShowFrame()});
  return frames;
}

// Frame actions counting in "/:n" for ever, after `more` at every round.
Bytes LoopForEver(const Bytes& more) {
  const Bytes body = Concat({Set("/:n", Concat({Push("/:n"), Op(0x1C), Push("1"), Op(0x0A)})), more});
  return movie::Actions(
      Concat({body, movie::Jump(0x99, static_cast<int16_t>(-(static_cast<int>(body.size()) + 5))), movie::EndActions()}));
}

// A level's movie defines fewer: the heap holds the root's movie, two
// levels' and a background picture at once. A root's runaway sprite (or
// none) is defined only in the movie that shows it.
Bytes Definitions(Rng& r, bool root, uint16_t runaway) {
  Bytes defs;
  for (uint16_t id = kBoxes; id < kBoxes + 5; ++id) {
    const int32_t w = id == 4 ? r.Between(1500, 3500) : id == 5 ? r.Between(2000, 3500) : r.Between(200, 1600);
    const int32_t h = id == 4 ? r.Between(1500, 4000) : id == 5 ? r.Between(300, 900) : r.Between(200, 1600);
    defs = Concat({defs, movie::BoxShape(id, r.Colour(), 0, 0, w, h)});
  }
  movie::Solid see = r.Colour();
  see.a = 128;
  movie::Records box(1, 0);
  box.Change(-1, 1, -1, true, 0, 0).Box(900, 700);
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  defs = Concat({defs, movie::ShapeTag(32, kTranslucent, {see}, {}, 1, 0, box.End(), 0, 900, 0, 700),
                 movie::Sprite(kInner, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                  movie::Place(2, 1, 0, 0), end})),
                 movie::Sprite(kMoving, 3, Concat({movie::Place(3, 1, 0, 0), movie::ShowFrame(), movie::MoveTo(1, 200, 100),
                                                   movie::ShowFrame(), movie::MoveTo(1, 400, 0), end})),
                 movie::Sprite(kBackA, 1, Concat({movie::Place(4, 1, 0, 0), PlaceNamed(kInner, 2, "inner", 300, 300), end})),
                 movie::Sprite(kBackB, 1, Concat({movie::Place(5, 1, 0, 0), end}))});
  // A field of tiles: 1 to 400 draws, with animated pieces over them.
  Bytes row, field;
  const int32_t tiles = r.Between(1, 20), rows = r.Between(1, 20), tile = r.Between(40, 140);
  for (int32_t i = 0; i < tiles; ++i) row = Concat({row, movie::Place(kTile, static_cast<uint16_t>(i + 1), i * (tile + 20), 0)});
  for (int32_t i = 0; i < rows; ++i)
    field = Concat({field, PlaceNamed(kTileRow, static_cast<uint16_t>(i + 1), "r", 0, i * (tile + 20))});
  defs = Concat({defs, movie::BoxShape(kTile, r.Colour(), 0, 0, tile, tile), movie::Sprite(kTileRow, 1, Concat({row, end})),
                 movie::Sprite(kField, 1, Concat({field, PlaceNamed(kInner, 30, "inner", 200, 200),
                                                  PlaceNamed(kMoving, 31, "m", 600, 100), end}))});
  // Heavy shapes: an outline read at every draw that fills nothing but a
  // corner, and a hatching shown several times (as a background sprite).
  movie::Records hatch(1, 0);
  const int32_t stripes = r.Between(6, 30), copies = r.Between(1, 3);
  for (int32_t i = 0; i < stripes; ++i) hatch.Change(-1, 1, -1, true, i * 3520 / stripes, 0).Box(20 + 10 * r.Below(3), 4160);
  Bytes heavy;
  for (int32_t i = 0; i < copies; ++i) heavy = Concat({heavy, movie::Place(kHatch, static_cast<uint16_t>(i + 1), i * 37, i * 23)});
  const auto side = static_cast<uint16_t>(r.Between(16, 48));
  defs = Concat({defs, FillLessOutline(kFillLess, static_cast<uint32_t>(r.Between(50, 600)), r.Colour()),
                 movie::ShapeTag(2, kHatch, {r.Colour()}, {}, 1, 0, hatch.End(), 0, 3600, 0, 4160),
                 movie::Sprite(kHeavy, 1, Concat({heavy, end})), CodedBitmap(kPhotoBits, side, side, r.Below(1000)),
                 BitmapBox(kPhoto, kPhotoBits, 0, 0, side, side)});
  if (!root) return defs;
  return Concat({defs, movie::Sprite(kShared, 2, Concat({PlaceNamed(kMoving, 1, "s", 0, 0), PlaceNamed(kMoving, 2, "s", 600, 300),
                                                   movie::Place(kTranslucent, 3, 100, 100), movie::ShowFrame(),
                                                   movie::MoveTo(2, 700, 500), end})),
                 movie::Button(kButton, 1, Concat({movie::GotoFrame(1), movie::Action(0x06), movie::EndActions()})),
                 movie::Button(kButtonClip, kShared, Concat({movie::Action(0x07), movie::EndActions()})),
                 movie::Sprite(kHolder, 1, Concat({PlaceNamed(kBackB, 1, "/Background3", 0, 0), end})),
                 runaway == kRunaway ? movie::Sprite(kRunaway, kRunawayFrames, Concat({LoopForEver({}), Idle(), end})) : Bytes{},
                 runaway == kRunawayMover ? movie::Sprite(kRunawayMover, kRunawayFrames,
                               Concat({LoopForEver(Concat({Push("/Background"), Push("0"), Push("/:n"), Op(0x1C), Op(0x23)})),
                                       Idle(), end})) : Bytes{}});
}

// A placement scaled and turned (16.16 factors), with a colour transform
// (multipliers of 256ths: red, green, blue, alpha) or none.
Bytes TurnedPlace(Rng& r, uint16_t id, uint16_t depth, int32_t x, int32_t y) {
  const int32_t scale = r.Between(40000, 110000), skew = r.Below(3) ? 0 : r.Between(-30000, 30000);
  movie::Writer w;
  const bool cx = r.Below(3) == 0;
  w.U8(2 | 4 | (cx ? 8 : 0)).U16(depth).U16(id).Matrix(x, y, scale, scale, skew, -skew);
  if (cx) w.Cxform({256, r.Between(64, 256), 256, r.Between(96, 256)}, {}, true);
  return movie::Tag(26, w.bytes());
}

// A movie of some frames placing, moving and removing those characters at
// depths 3 to 12, and background sprites of the given names at depths 1
// and 2; `runaway` (a root's sprite looping for ever, or none) shows at
// depth 13 from the first frame on, so that steps run out of work.
Bytes RandomMovie(Rng& r, const std::vector<std::string>& backgrounds, bool root, uint16_t runaway = 0) {
  const Bytes defs = Definitions(r, root, runaway);
  const uint16_t placeable[] = {1, 2, 3, kTranslucent, kMoving, kFillLess, kShared, kButton, kButtonClip, kHolder};
  const uint32_t kinds = root ? sizeof placeable / sizeof placeable[0] : 6;
  const char* names[] = {"a", "b", "s", "s"};
  std::vector<Bytes> frames;
  const uint32_t count = root ? 4 + r.Below(7) : 2 + r.Below(4);
  for (uint32_t f = 0; f < count; ++f) {
    Bytes tags;
    if (f == 0 && root) tags = movie::Background(255, 255, 255);
    if (f == 0 && runaway) tags = Concat({tags, PlaceNamed(runaway, 13, "runaway", 0, 0)});
    for (uint32_t op = 0, ops = 1 + r.Below(3); op < ops; ++op) {
      const auto depth = static_cast<uint16_t>(3 + r.Below(10));
      const int32_t x = r.Between(-400, 3400), y = r.Between(-400, 4000);
      switch (r.Below(11)) {
        case 0:
        case 1:
        case 2: {
          const uint16_t id = placeable[r.Below(kinds)];
          if ((id == kMoving || id == kShared) && r.Below(2)) tags = Concat({tags, PlaceNamed(id, depth, names[r.Below(4)], x, y)});
          else if (r.Below(3) == 0) tags = Concat({tags, TurnedPlace(r, id, depth, x, y)});
          else tags = Concat({tags, movie::Place(id, depth, x, y)});
          break;
        }
        case 3:
        case 4: tags = Concat({tags, movie::MoveTo(depth, x, y)}); break;
        case 5: tags = Concat({tags, movie::RemoveDepth(depth)}); break;
        case 6:
        case 7: {
          if (backgrounds.empty()) break;
          const auto at = static_cast<uint16_t>(1 + r.Below(2));
          const std::string& name = backgrounds[r.Below(static_cast<uint32_t>(backgrounds.size()))];
          const uint16_t kinds[] = {kBackA, kBackB, kField, kHeavy};
          tags = Concat({tags, PlaceNamed(kinds[r.Below(4)], at, name, r.Between(-200, 1200), r.Between(-200, 1200))});
          break;
        }
        case 8: tags = Concat({tags, r.Below(2) ? movie::RemoveDepth(static_cast<uint16_t>(1 + r.Below(2)))
                                                : movie::MoveTo(static_cast<uint16_t>(1 + r.Below(2)), r.Between(0, 800), r.Between(0, 800))});
          break;
        case 9:
          // A coded bitmap after the first frame: over a picture made.
          if (f > 0) tags = Concat({tags, movie::Place(kPhoto, depth, x / 2, y / 2)});
          break;
        default:
          // A script moving the level 0 background sprite.
          tags = Concat({tags, Do(Concat({Push("/Background"), Push("0"), Push(std::to_string(r.Between(0, 60))), Op(0x23)}))});
          break;
      }
    }
    frames.push_back(tags);
  }
  return MovieOf(defs, frames);
}

enum class Kind { kStep, kKey, kPointer, kPress, kRelease, kLevel, kRemoveLevel };
struct Input {
  Kind kind;
  uint32_t value = 0;  // key, level
  int32_t x = 0, y = 0;
  const Bytes* data = nullptr;
};

struct Play {
  // A squeezed play's heap is left with holes of `hole` bytes; 0 leaves it whole.
  Play(const Bytes& movie, uint32_t cacheMode, uint32_t hole) : p(movie), mode(cacheMode) {
    p.frame.assign(static_cast<size_t>(kW) * kH, 0);
    int32_t w = kW, h = kH;
    opened = AnimHost_Open(p.get(), p.bytes.data(), p.frame.data(), p.work.data(), static_cast<uint32_t>(p.bytes.size()), &w, &h);
    if (opened != 0) return;
    // A picture the opening made goes (and with it every kept drawing, in
    // every play alike); the squeezed play has no room for another.
    AnimView_SetQuality(p.movie(), p->highQuality != 0);
    Keep();
    if (hole) squeeze.emplace(p->heap, hole);
  }
  ~Play() {
    squeeze.reset();
    AnimHost_Close(p.get());
  }
  void Keep() {
    if (p.movie()) p.movie()->raster.cacheMode = mode;
  }
  // A play that failed for want of a hole: it let every copy go and still
  // had more free bytes than the block it was refused.
  bool WantedAHole() const { return p.player->refusedBytes > 0 && p.player->refusedFree >= p.player->refusedBytes + 8; }
  // Whether the input failed: the player ran out of heap, or a user command
  // reported it had no room for what it was asked.
  bool Do(const Input& in) {
    AnimMovie* m = p.movie();
    uint32_t result = 0;
    p->refusedBytes = p->refusedFree = 0;
    switch (in.kind) {
      case Kind::kStep: AnimHost_Step(p.get()); break;
      case Kind::kKey: result = AnimPlayer_Command(p.get(), 4, in.value); break;
      case Kind::kPointer:
        AnimPlayer_Command(p.get(), 104, (static_cast<uint32_t>(in.x) << 16) | static_cast<uint32_t>(in.y));
        break;
      case Kind::kPress:
      case Kind::kRelease: {
        const AnimEvent e{in.x, in.y, in.kind == Kind::kPress ? kAnimEventPress : kAnimEventRelease, 0};
        if (m) AnimMovie_Control(m, 2, &e);
        break;
      }
      case Kind::kLevel:
        if (m) AnimMovie_ReplaceLevel(m, false, in.value, in.data->data(), static_cast<uint32_t>(in.data->size()));
        break;
      case Kind::kRemoveLevel:
        if (m) AnimMovie_ReplaceLevel(m, true, in.value, nullptr, 0);
        break;
    }
    Keep();
    return result != 0 || AnimPlayer_Aborted(p.get());
  }
  MoviePlayer p;
  uint32_t mode;
  uint32_t opened = 99;
  std::optional<HeapSqueeze> squeeze;
};

std::vector<Input> RandomInputs(Rng& r, const std::vector<Bytes>& levels, uint32_t count) {
  std::vector<Input> out{{Kind::kKey, 9}};  // loop
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t pick = r.Below(100);
    Input in{Kind::kStep};
    if (pick < 55) {
      in.kind = Kind::kStep;
    } else if (pick < 60) {
      in = {Kind::kKey, r.Below(2) ? 7u : 8u};
    } else if (pick < 64) {
      in = {Kind::kKey, r.Below(2) ? 18u : 19u};
    } else if (pick < 68) {
      in = {Kind::kKey, 20 + r.Below(4)};
    } else if (pick < 74) {
      in = {Kind::kKey, 12 + r.Below(5)};
    } else if (pick < 82) {
      in = {Kind::kPointer, 0, r.Between(0, kW - 1), r.Between(0, kH - 1)};
    } else if (pick < 88) {
      in = {r.Below(2) ? Kind::kPress : Kind::kRelease, 0, r.Between(0, kW - 1), r.Between(0, kH - 1)};
    } else if (pick < 96) {
      in = {Kind::kLevel, 1 + r.Below(2), 0, 0, &levels[r.Below(static_cast<uint32_t>(levels.size()))]};
    } else {
      in = {Kind::kRemoveLevel, 1 + r.Below(2)};
    }
    out.push_back(in);
  }
  return out;
}

const char* KindName(Kind k) {
  switch (k) {
    case Kind::kStep: return "step";
    case Kind::kKey: return "key";
    case Kind::kPointer: return "pointer";
    case Kind::kPress: return "press";
    case Kind::kRelease: return "release";
    case Kind::kLevel: return "level";
    case Kind::kRemoveLevel: return "level removed";
  }
  return "";
}

// How often the plays drew from a background picture, and drew kept
// background sprites without one.
struct Seen {
  uint32_t picture = 0, without = 0;
  uint32_t aborted = 0;  // plays that ran out of heap with all of it
  uint32_t squeezedOut = 0;  // squeezed plays that ran out of their holes alone
  uint32_t squeezedPictured = 0;  // squeezed plays that found room for a picture
  uint32_t ranOut = 0;   // inputs whose work ran out
  // Seeds where one whole heap failed for want of a hole the other had.
  uint32_t holes = 0;
  std::string holesAt;
};

// The squeezed play's holes, by seed: 4 to 64 KB.
uint32_t HoleOf(uint32_t seed) { return 4096u << (seed % 5); }

// Every eighth seed from the first shows a sprite counting for ever, every
// eighth from the fifth one also moving a background sprite as it counts.
uint16_t RunawayOf(uint32_t seed) { return seed % 8 == 1 ? kRunaway : seed % 8 == 5 ? kRunawayMover : 0; }

// Plays one seed; "" when the three plays agree after every input, else
// where and how they first differ. Every so often each frame is also
// checked against a whole redraw of its own play.
std::string PlaySeed(uint32_t seed, uint32_t inputs, Seen& seen) {
  Rng r(seed);
  const Bytes movie = RandomMovie(r, {"Background", "Background1"}, true, RunawayOf(seed));
  const std::vector<Bytes> levels{RandomMovie(r, {"Background1", "Background2"}, false),
                                  RandomMovie(r, {"Background2"}, false), RandomMovie(r, {}, false)};
  const std::vector<Input> script = RandomInputs(r, levels, inputs);
  Play cached(movie, kAnimCacheByFrame, 0), uncached(movie, kAnimCacheNone, 0), squeezed(movie, kAnimCacheByFrame, HoleOf(seed));
  if (cached.opened || uncached.opened || squeezed.opened) return "not opened";
  bool squeezedOn = true;
  for (size_t i = 0; i < script.size(); ++i) {
    const bool wholeFailed = cached.Do(script[i]), uncachedFailed = uncached.Do(script[i]);
    const bool squeezedFailed = squeezedOn && squeezed.Do(script[i]);
    const std::string where = "input " + std::to_string(i) + " (" + KindName(script[i].kind) + " " +
                              std::to_string(script[i].value) + "): ";
    // Out of heap, the plays fail alike: the whole heaps together, and the
    // squeezed one no later. A squeezed heap holds less: failing alone, it
    // plays no further, and the other two go on.
    if (wholeFailed != uncachedFailed) {
      // Letting every copy go gives back every byte the caches held, not the
      // holes they left: a heap whose blocks lie otherwise (the caches took
      // and gave back blocks between them) may hold the bytes a block asks
      // for but no hole for it where the other heap has one. Counted, and
      // the seed ends there; a play that failed with fewer free bytes than
      // it asked for held more than the other: that is a fault.
      const Play& failed = wholeFailed ? cached : uncached;
      if (!failed.WantedAHole()) return where + "only one play of a whole heap failed";
      ++seen.holes;
      seen.holesAt += " " + std::to_string(seed) + (wholeFailed ? " (cached, " : " (uncached, ") +
                      std::to_string(failed.p.player->refusedBytes) + " of " + std::to_string(failed.p.player->refusedFree) + " free)";
      return "";
    }
    if (wholeFailed && squeezedOn && !squeezedFailed) return where + "the whole heaps failed, the squeezed one not";
    if (wholeFailed) {
      ++seen.aborted;
      return "";
    }
    if (squeezedFailed) {
      ++seen.squeezedOut;
      squeezedOn = false;
    }
    // Else the squeezed play would compare the picture with itself. Blocks
    // the player gives back beside a hole of 64 KB may leave room for one:
    // the squeezed play ends there.
    if (squeezedOn && squeezed.p.movie()->raster.backgroundName) {
      ++seen.squeezedPictured;
      squeezedOn = false;
    }
    if (cached.p.movie()->raster.backgroundName) ++seen.picture;
    if (squeezedOn && squeezed.p.movie()->kept) ++seen.without;
    // A level changes what the next step draws; until then the frame
    // before is shown.
    const bool level = script[i].kind == Kind::kLevel || script[i].kind == Kind::kRemoveLevel;
    if (i % 25 == 24 && !level) {
      SCOPED_TRACE(where);
      for (Play* play : {&cached, &uncached, &squeezed}) {
        SCOPED_TRACE(play == &cached ? "cached" : play == &uncached ? "uncached" : "squeezed");
        if (play != &squeezed || squeezedOn) ExpectShownIsWholeRedraw(play->p.get());
      }
    }
    // Where a whole heap lacked a hole the other had, its play let go the
    // bitmaps held for the step and decodes them again: counted as above,
    // the seed ends there.
    if (const Play* holed = cached.WantedAHole() ? &cached : uncached.WantedAHole() ? &uncached : nullptr;
        holed && (cached.p->workLeft != uncached.p->workLeft ||
                  !FrameDifferences(uncached.p.frame, cached.p.frame, kW).empty())) {
      ++seen.holes;
      seen.holesAt += " " + std::to_string(seed) + (holed == &cached ? " (cached, held bitmaps " : " (uncached, held bitmaps ") +
                      std::to_string(holed->p.player->refusedBytes) + " of " + std::to_string(holed->p.player->refusedFree) + " free)";
      return "";
    }
    // So may the squeezed heap, whose holes are its own: it then plays no
    // further, as when it runs out of them.
    if (squeezedOn && squeezed.WantedAHole() &&
        (squeezed.p->workLeft != cached.p->workLeft || squeezed.p->workOut != cached.p->workOut ||
         !FrameDifferences(squeezed.p.frame, cached.p.frame, kW).empty())) {
      ++seen.squeezedOut;
      squeezedOn = false;
    }
    // The step's work runs out at the same place in each play.
    if (cached.p->workOut) ++seen.ranOut;
    for (Play* play : {&uncached, &squeezed}) {
      if (play == &squeezed && !squeezedOn) continue;
      const char* which = play == &uncached ? "uncached against cached: " : "without room for a picture against with: ";
      if (play->p->workLeft != cached.p->workLeft || play->p->workOut != cached.p->workOut)
        return where + which + "work left " + std::to_string(play->p->workLeft) + " against " +
               std::to_string(cached.p->workLeft);
      if (play->p.Var("/:n") != cached.p.Var("/:n"))
        return where + which + "count " + play->p.Var("/:n") + " against " + cached.p.Var("/:n");
    }
    std::string d = FrameDifferences(uncached.p.frame, cached.p.frame, kW);
    if (!d.empty()) return where + "uncached against cached: " + d;
    d = squeezedOn ? FrameDifferences(squeezed.p.frame, cached.p.frame, kW) : "";
    if (!d.empty()) return where + "without room for a picture against with: " + d;
  }
  return "";
}

constexpr uint32_t kInputs = 300;
// A seed whose script loops for ever plays fewer: each of its steps takes
// the whole step's time.
constexpr uint32_t kRunawayInputs = 25;

// Plays seeds first to last; what parted ways, one line a seed.
std::string PlaySeeds(uint32_t first, uint32_t last, Seen& seen) {
  std::string failed;
  for (uint32_t seed = first; seed <= last; ++seed) {
    SCOPED_TRACE(seed);
    const std::string d = PlaySeed(seed, RunawayOf(seed) ? kRunawayInputs : kInputs, seen);
    if (!d.empty()) failed += "seed " + std::to_string(seed) + ": " + d + "\n";
  }
  return failed;
}

void Report(const Seen& seen) {
  std::printf("inputs with a picture shown %u, with kept sprites and no picture %u, plays out of heap %u, squeezed plays "
              "out of their holes %u, squeezed plays that found room for a picture %u, inputs out of work %u, seeds where "
              "one whole heap lacked a hole %u%s\n",
              seen.picture, seen.without, seen.aborted, seen.squeezedOut, seen.squeezedPictured, seen.ranOut, seen.holes,
              seen.holesAt.c_str());
}

TEST(PlayerCrossPlay, ThreePlaysShowTheSameFrames) {
  constexpr uint32_t kSeeds = 60;
  Seen seen;
  EXPECT_EQ(PlaySeeds(1, kSeeds, seen), "");
  // Both ways of showing a kept background sprite were played (the coded
  // bitmaps, decoded in a whole heap, have the picture give way now and
  // then).
  EXPECT_GT(seen.picture, kSeeds * kInputs / 30);
  EXPECT_GT(seen.without, kSeeds * kInputs / 20);
  // Scripts looping for ever ran the steps' work out.
  EXPECT_GT(seen.ranOut, 12u);
  // Few random plays outgrow the heap, and few of those want a hole.
  EXPECT_LE(seen.aborted + seen.holes, kSeeds / 5);
  EXPECT_LE(seen.holes, kSeeds / 10);
  Report(seen);
}

// The long form: 500 seeds, a few minutes. Not run by default; run it with
//   player_tests --gtest_also_run_disabled_tests --gtest_filter='PlayerCrossPlay.DISABLED_FiveHundredSeeds'
TEST(PlayerCrossPlay, DISABLED_FiveHundredSeeds) {
  Seen seen;
  const std::string failed = PlaySeeds(1, 500, seen);
  EXPECT_EQ(failed, "");
  size_t parted = 0;
  for (char c : failed) parted += c == '\n';
  std::printf("seeds that parted ways: %zu of 500, and %u more where one whole heap lacked a hole\n", parted, seen.holes);
  Report(seen);
}

// One seed of the long form, to look into a parting:
//   QOR_CROSS_PLAY_SEED=274 player_tests --gtest_also_run_disabled_tests --gtest_filter='PlayerCrossPlay.DISABLED_OneSeed'
TEST(PlayerCrossPlay, DISABLED_OneSeed) {
  const char* text = std::getenv("QOR_CROSS_PLAY_SEED");
  ASSERT_NE(text, nullptr) << "QOR_CROSS_PLAY_SEED names the seed";
  const auto seed = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
  Seen seen;
  EXPECT_EQ(PlaySeeds(seed, seed, seen), "");
  Report(seen);
}

}  // namespace
