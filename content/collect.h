// Whole-body collection for the decoders that hand a complete file to a
// library (PNG, MNG): the body is gathered in one buffer sized by the
// announced length, and the row lends its work buffer for the decode.
#pragma once
#include <cstdint>

#include "content/body_collect.h"
#include "content/decode_feed.h"
#include "kernel/modules.h"

// What a collecting row passes beside the feed: the load's announced length
// and delivered count, and the URL module's shared work buffer.
struct ContentSource {
  uint32_t announcedLength;  // 0 when none was given
  uint32_t deliveredCount;   // body bytes the scheme has delivered so far
  uint8_t* workBuffer;
  uint32_t workBufferSize;  // 0 when there is none
};

// Moves the queued chunks into the body through the shared collector, sized
// by the announced length or growing with what is delivered. *whole says the
// body is ready to decode: the announced length is in, or the data has
// ended. Returns the module's out-of-memory code, or its bad-data code for a
// body longer than announced.
Result ContentCollect(ContentBody* body, ContentFeed* feed, const ContentSource* source,
                      uint32_t module, bool* whole);

// Bands of `rows` rows for an image `width` pixels wide: 512 bytes of 16-bit
// pixels a band, at least one row.
constexpr uint32_t ContentRowsPerBand(uint32_t width) {
  const uint32_t rowBytes = 2 * width;
  return rowBytes && rowBytes <= 512 ? 512 / rowBytes : 1;
}
constexpr uint32_t ContentBandTotal(uint32_t width, uint32_t height) {
  const uint32_t rows = ContentRowsPerBand(width);
  return height ? (height + rows - 1) / rows : 1;
}
