// A writer of the player's DCT bitmap code for the tests, built from the
// format's description with the standard JPEG luminance Huffman tables taken
// from libjpeg's defaults (not from the decoder).
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

struct DctTestImage {
  uint16_t width = 16, height = 16;
  uint8_t quality = 0;  // 0 to 7
  // Quantised coefficients of every block in stream order (Y1 Y2 Y3 Y4 I Q
  // per macroblock, macroblocks in raster order), in natural order. The DC
  // is the block's own value: the writer codes its difference.
  std::vector<std::array<int32_t, 64>> blocks;
  // Alpha runs {value, count}, written after the colour data when present.
  std::vector<std::pair<uint8_t, uint32_t>> alpha;
  bool withAlpha = false;
};

std::vector<uint8_t> DctTestEncode(const DctTestImage& image);
