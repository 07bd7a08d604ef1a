// The one-bit handset image encoder: MSB-first bit writing and a file of
// one object covering the canvas. The image tools and the tests share it.
#pragma once
#include <cstdint>
#include <vector>

struct SisBitWriter {
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  void Put(uint32_t value, uint32_t n);
};

// One 8 x 8 block whose top row starts at `rows` (MSB leftmost, rows
// `stride` bytes apart), its cells in zigzag order, raw or run-coded.
void SisPutBlock(SisBitWriter* w, const uint8_t* rows, uint32_t stride, bool runs);

// A one-bit image of one object covering the canvas, shown in `frames`
// frames; `pixels` holds packed rows (MSB leftmost), run-coding each block
// when `runs` says so.
std::vector<uint8_t> SisMonoImage(uint32_t widthUnits, uint32_t heightUnits,
                                  const std::vector<uint8_t>& pixels, uint32_t frames, bool runs,
                                  uint32_t delay);
