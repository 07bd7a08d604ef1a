// Deflate streams for the preset-table inflate, cut from zlib's output at
// bit level: a dynamic block split into its bare table definition and a
// type-2 block without one.
#pragma once
#include <cstdint>
#include <vector>

struct SisSplitStream {
  std::vector<uint8_t> whole;   // zlib's own stream, table definition inside
  std::vector<uint8_t> tables;  // HLIT, HDIST, HCLEN and the code lengths
  std::vector<uint8_t> stream;  // the same block with the definition cut out
};

// False when zlib does not code `data` as one dynamic block.
bool SisSplitDynamic(const std::vector<uint8_t>& data, SisSplitStream* out);
