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

// Draws the player's whole frame from the shapes' records alone, then with
// the edge caches (filling, then replaying them) as the frame's depth sets
// decide and with every shape cached, expecting the same pixels each time
// (also after the edge pool was emptied); the frame buffer and the host's
// redraw rectangle are put back afterwards.
void ExpectCachedRedrawsMatch(AnimPlayer* p);

std::string DumpStream(const AnimStream* s);
std::string DumpActions(const AnimActionRecord* list);
