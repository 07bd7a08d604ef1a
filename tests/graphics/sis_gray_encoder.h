// A test encoder of the two-bit handset images: the plane coder run forward
// over known pixels, and a byte-wise builder of files with own layers,
// reference layers with patches, and frames of plain placements.
#pragma once
#include <cstdint>
#include <vector>

struct SisGrayPatch {
  uint32_t first, last;         // tile indices over the root's width in tiles
  std::vector<uint8_t> pixels;  // the span's pixels, one byte a pixel
};

struct SisGrayBuilder {
  uint32_t width = 64, height = 64;  // pixels, multiples of 8
  std::vector<std::vector<uint8_t>> layers;  // coded records
  std::vector<std::vector<uint32_t>> frames;  // the 1-based layers each frame places at 0,0

  // Each returns the layer's 1-based number; own layers are opaque.
  uint32_t Own(uint32_t widthTiles, uint32_t heightTiles, const std::vector<uint8_t>& pixels,
               bool cacheable = false);
  uint32_t Reference(uint32_t target, const std::vector<SisGrayPatch>& patches, uint32_t widthTiles,
                     bool cacheable = false);
  std::vector<uint8_t> File() const;
};
