// Test surfaces with guard bytes all around, and a slow per-pixel model of
// the fill and the blit that the fast paths are checked against.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "graphics/pgl.h"

// A surface over a buffer with guard bytes before, after and (through a
// wider pitch) beside the rows; every byte starts random.
class TestSurface {
 public:
  TestSurface(uint32_t format, uint32_t width, uint32_t height, uint32_t padding,
              std::mt19937& rng);
  TestSurface(const TestSurface& other);
  TestSurface& operator=(const TestSurface&) = delete;

  PglSurface surface{};
  std::vector<uint8_t> bytes;  // guards included
  static constexpr uint32_t kGuard = 16;
};

// Pixel values as the format stores them (bits, codes, indices, RGB565).
uint32_t ModelGet(const PglSurface& s, uint32_t x, uint32_t y);
void ModelSet(PglSurface& s, uint32_t x, uint32_t y, uint32_t v);

// The expected result code, applied pixel by pixel. *changed receives the
// rectangle drawn, when anything is.
Result ModelFill(PglSurface& s, const PglRect& r, int invert, uint16_t colour, PglRect* changed);
Result ModelBlit(const PglBlitJob& job, uint16_t c1, uint16_t c2, PglRect* changed);

inline uint32_t Next(std::mt19937& rng) { return static_cast<uint32_t>(rng()); }
uint32_t RandomFormat(std::mt19937& rng);
int32_t RandomIn(std::mt19937& rng, int32_t lo, int32_t hi);
