// Test encoders of the handset image formats, written from the formats'
// descriptions: the adaptive packer (a carry-propagating range encoder with
// the decoder's models), MSB-first bit writing for the one-bit images, and
// byte-wise builders of animation files.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/sisenc.h"

// A block of the adaptive unpacker holding `data`.
std::vector<uint8_t> SisPackAdaptive(const std::vector<uint8_t>& data);

// An animation file: info records (header, palette grey ramp, animation,
// one delay), then `blocks` as given, then the end block.
struct SafBuilder {
  uint32_t width = 16, height = 16, depth = 8, frames = 1, delay = 400;
  std::vector<uint8_t> body;
  void Object(uint32_t index, uint32_t w, uint32_t h, uint32_t coder, uint32_t key,
              const std::vector<uint8_t>& coded);
  void Frame(uint32_t background, const std::vector<std::vector<uint8_t>>& commands);
  void Block(uint32_t tag, const std::vector<uint8_t>& b);
  std::vector<uint8_t> File() const;
};

// A zlib stream of `data` (level 0 gives stored blocks).
std::vector<uint8_t> SisZlib(const std::vector<uint8_t>& data, int level);
