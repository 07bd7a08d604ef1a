// A player context over its own work buffer for the tests, and a text dump
// of what a parsed stream holds, so two parses can be compared.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

std::string DumpStream(const AnimStream* s);
std::string DumpActions(const AnimActionRecord* list);
