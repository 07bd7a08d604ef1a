// Short forms the timeline and rules tests build their small movies with
// (action lists, a trace left in a variable, named placements, whole
// movies on the handset's stage), and the player such a movie is opened in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "movie_writer.h"
#include "player_support.h"
#include "step_movies.h"

namespace movie::script {

// The stage, in pixels.
constexpr int32_t kW = 176, kH = 208;

Bytes Push(const std::string& s);
Bytes Op(uint8_t code);
// name = the value the expression leaves.
Bytes Set(const std::string& name, const Bytes& expression);
Bytes Do(const Bytes& list);
// Frame actions that append a mark to the root variable "trace", so that
// which frames' actions ran, and in what order, can be read back.
Bytes Mark(const std::string& mark);
Bytes Box(uint16_t id, Solid c, int32_t size = 400);
using movie::PlaceNamed;
// Frame actions that set "/Background"'s x to 0: a script moving the
// background sprite, which lets its kept picture go.
Bytes MoveBackground();
// A movie whose top sprite "top" (at 200, 200 twips, moved by a script in
// its second frame) is the last of `levels` sprites, each showing the one
// below `copies` times under one name (the copies shifted 20 twips each);
// the bottom one, sprite 100, holds a 40-twip box and counts its frames in
// "/:n". Objects of one name share their clip: the copies multiply at
// every level.
Bytes SharedClipTree(int levels, int copies);
using movie::CodedBitmap;
using movie::BitmapBox;
// A shape character of `edges` short edges with no fill and no line (read
// at every draw, drawing nothing), and a small filled box at its corner;
// its bounds span w x h pixels.
Bytes FillLessOutline(uint16_t id, uint32_t edges, Solid c, int32_t w = kW, int32_t h = kH);
// A movie of the given frames (each frame's tags, a show-frame added),
// definitions first. The stage is the frame's size in pixels.
Bytes MovieOf(const Bytes& definitions, const std::vector<Bytes>& frames, int32_t w = kW, int32_t h = kH);

// A player holding a movie's bytes, with what the tests read of it; each
// test file opens and steps it its own way.
struct MoviePlayer : TestPlayer {
  explicit MoviePlayer(const Bytes& data) : bytes(data) {}
  AnimMovie* movie() { return player->movie; }
  AnimClip* root() { return AnimMovie_Root(player->movie); }
  // A variable's value as text, "" when it is not set.
  std::string Var(const std::string& name);
  // A host step or a user key, then the redraw checks of player_support.
  uint32_t Step();
  void Key(uint32_t key);
  uint16_t At(int x, int y) const { return frame[static_cast<size_t>(y) * kW + x]; }
  Bytes bytes;
  uint32_t opened = 99;
};

// A movie opened on the stage (or a frame of w by h pixels) through the
// host entry point, closed at the end; opened holds what the opening answered.
struct OnStage : MoviePlayer {
  explicit OnStage(const Bytes& data, int32_t w = kW, int32_t h = kH);
  ~OnStage();
};

// Zoom, pans and quality changes between host steps (0), in the orders the
// user commands were found to leave pixels wrong in.
extern const std::vector<uint32_t> kViewChanges;
// A shape (character `id`, about 32 pixels wide) standing still and a copy
// of it moving across it, with a box crossing both the other way: every
// redraw of part of the frame cuts through the shape somewhere.
Bytes OverAndAcross(const Bytes& definitions, uint16_t id);
// Opens the movie on the stage and plays it: 0 a host step, any other value
// a user key, each followed by the redraw checks of player_support.
void PlayChecked(const Bytes& data, const std::vector<uint32_t>& script);

}  // namespace movie::script
