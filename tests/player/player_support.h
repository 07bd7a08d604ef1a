// A player context over its own work buffer for the tests, and a text dump
// of what a parsed stream holds, so two parses can be compared.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "player/anim_movie.h"
#include "player/anim_player.h"

struct TestPlayer {
  TestPlayer();
  ~TestPlayer();
  AnimPlayer* operator->() { return player.get(); }
  AnimPlayer* get() { return player.get(); }
  std::unique_ptr<AnimPlayer> player;
  std::vector<uint8_t> work;
  std::vector<uint16_t> frame;
};

// What a user sees must be what the movie's state draws: once the movie
// clears to a background, the frame shown equals a whole redraw from the
// records alone. Then whole redraws with the edge caches (filling, then
// replaying them) as the frame's depth sets decide and with every shape
// cached must give the same pixels (also after the edge pool was emptied).
// The player is put back byte for byte afterwards, so the checks change
// nothing the movie carries into its next step. No step so far may have run
// out of work.
void ExpectCachedRedrawsMatch(AnimPlayer* p);
// The first check alone.
void ExpectShownIsWholeRedraw(AnimPlayer* p);
// "" when two frames (of `width` pixels a row) hold the same pixels, else
// how many differ and the first of them.
std::string FrameDifferences(const std::vector<uint16_t>& shown, const std::vector<uint16_t>& whole, int32_t width);

std::string DumpStream(const AnimStream* s);
std::string DumpActions(const AnimActionRecord* list);

// The heap taken in pieces, then given back but for one piece after every
// run of pieces shorter than `hole` bytes, until released: nearly all of
// it is free, but no block larger than a hole fits, such as a background
// picture (a frame's pixels).
class HeapSqueeze {
 public:
  explicit HeapSqueeze(AnimHeap& heap, uint32_t hole = 65536);
  ~HeapSqueeze() { Release(); }
  void Release();

 private:
  AnimHeap& heap_;
  std::vector<void*> blocks_;
};

// All of the heap's free room taken but `keep` bytes of its largest hole,
// until it goes.
class HeapLeft {
 public:
  HeapLeft(AnimHeap& heap, int32_t keep);
  ~HeapLeft();

 private:
  AnimHeap& heap_;
  std::vector<void*> blocks_;
};
