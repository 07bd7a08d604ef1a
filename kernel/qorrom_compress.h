// The encoder of the built-in file format (see qorrom_decompress.cpp). Only
// the build's packer and the tests use it; the engine only ever decodes.
#pragma once
#include <cstdint>

#include "kernel/qorrom.h"

// The encoder's working memory: big, so callers keep one and reuse it.
struct QorRomEncoder {
  static constexpr uint32_t kHashSize = 1u << 12;
  uint32_t cost[kQorRomMaxExpanded + 1];    // bits to reach each position
  uint16_t length[kQorRomMaxExpanded + 1];  // the step that reached it (1: literal)
  uint16_t distance[kQorRomMaxExpanded + 1];
  int16_t head[kHashSize];                  // newest position of each hash, -1 none
  int16_t older[kQorRomMaxExpanded];        // the previous position of the same hash
};

// The worst case of QorRomCompress's output for `size` input bytes.
constexpr uint32_t QorRomCompressBound(uint32_t size) { return size + size / 8 + 2; }

// Compresses `size` bytes (1 to kQorRomMaxExpanded) into out with the
// cheapest parse. Returns the bytes written, or 0 when the input is empty or
// too long or the result does not fit `room`.
uint32_t QorRomCompress(QorRomEncoder* work, const uint8_t* data, uint32_t size, uint8_t* out,
                        uint32_t room);
