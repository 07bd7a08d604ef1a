// A test encoder of the two-bit handset images: the plane coder run forward
// over known pixels, and a byte-wise builder of files with own layers,
// reference layers with patches, and frames of placements.
#pragma once
#include <cstdint>
#include <vector>

// The coded planes of a w x h region (w a multiple of 4) of pixel values
// 0..3, one byte a pixel in raster order, padded to a whole byte.
std::vector<uint8_t> SisGrayPlanes(uint32_t w, uint32_t h, const std::vector<uint8_t>& pixels);

struct SisGrayPatch {
  uint32_t first, last;         // tile indices over the root's width in tiles
  std::vector<uint8_t> pixels;  // the span's pixels, one byte a pixel
};

struct SisGrayPlacement {
  uint32_t layer;  // 1-based
  uint32_t pass = 0, flags = 0;
  int32_t x = 0, y = 0;
};

struct SisGrayFrame {
  uint32_t flags = 0;     // bit 7 invert
  int32_t background = -1;
  std::vector<SisGrayPlacement> entries;
};

struct SisGrayBuilder {
  uint32_t width = 64, height = 64;  // pixels, multiples of 8
  uint32_t invert = 0, delay = 10, passes = 1;
  std::vector<std::vector<uint8_t>> layers;  // coded records
  std::vector<SisGrayFrame> frames;

  // Returns the layer's 1-based number. `mode` is byte B's mask mode (0
  // hull, 16 opaque).
  uint32_t Own(uint32_t widthTiles, uint32_t heightTiles, const std::vector<uint8_t>& pixels,
               bool cacheable = false, uint32_t mode = 16);
  uint32_t Reference(uint32_t target, const std::vector<SisGrayPatch>& patches, uint32_t widthTiles,
                     bool cacheable = false);
  std::vector<uint8_t> File() const;
};
