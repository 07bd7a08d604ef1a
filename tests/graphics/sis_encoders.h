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
  // A further info block, as the file's own but of that depth.
  void Info(uint32_t depthGiven);
  std::vector<uint8_t> InfoBlock(uint32_t depthGiven) const;
  std::vector<uint8_t> File() const;
};

// zlib's deflate of `data`; windowBits < 0 gives a raw stream.
std::vector<uint8_t> SisDeflate(const std::vector<uint8_t>& data, int level, int windowBits,
                                int memLevel, int strategy);
// A zlib stream of `data` (level 0 gives stored blocks, others fixed blocks).
std::vector<uint8_t> SisZlib(const std::vector<uint8_t>& data, int level);

// Runs a stream through SisInflateStep in pieces of `piece` bytes into `room`
// bytes of output; returns the status that ended it.
int32_t SisInflatePieces(const std::vector<uint8_t>& z, std::vector<uint8_t>* out, uint32_t room,
                         uint32_t piece);

// The decoder on a width x height canvas, over buffers of the tests' own.
void SisTestDecoderInit(uint32_t width, uint32_t height);
// Frame `index` of `file` as the decoder writes it, the 40-byte header left
// out unless `whole`; empty when the probe (if asked for) or the decode fails.
std::vector<uint8_t> SisTestFrame(const std::vector<uint8_t>& file, int32_t index,
                                  bool probe = true, bool whole = false);
