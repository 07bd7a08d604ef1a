// The narrow door between a content row's process step and the decoder core
// it drives: the load's input queue of data chunks and its end-of-data flag
// go in, decoded images come out on the load's output list, and the core
// raises the load's event bits here for the row to copy over.
#pragma once
#include <cstdint>

#include "graphics/image.h"
#include "kernel/datachunk.h"
#include "kernel/list.h"

namespace ContentEvent {
constexpr uint32_t Error = 0x2;       // the load failed
constexpr uint32_t Data = 0x800;      // a body item was added or grew
constexpr uint32_t Done = 0x4000;     // the body is complete
}  // namespace ContentEvent

namespace ContentRequest {
constexpr uint32_t FitToScreen = 1u << 25;  // images are fitted to the screen width
}

struct ContentFeed {
  Queue* input;           // data chunks, oldest first; used-up chunks are freed
  uint32_t endOfData;     // 1 once the last byte has been delivered
  Queue* output;          // decoded images, appended as they are created
  uint32_t events;        // ContentEvent bits; a core only ever sets bits
  uint32_t requestFlags;  // ContentRequest bits of the load
};

// The unread bytes of the oldest chunk and their count; used-up chunks in
// front of it are freed on the way. Null when the queue holds nothing unread.
const uint8_t* ContentFeedPeek(ContentFeed* feed, uint32_t* count);
// Consumes n bytes of the oldest chunk (at most what ContentFeedPeek gave),
// freeing it when it is used up.
void ContentFeedConsume(ContentFeed* feed, uint32_t n);
// One byte from the queue; false when none is unread.
bool ContentFeedByte(ContentFeed* feed, uint8_t* byte);
// No unread bytes remain and the scheme has delivered the last one.
bool ContentFeedEnded(ContentFeed* feed);

// Appends a decoded image to the output list and announces it.
void ContentFeedOutput(ContentFeed* feed, ContentImage* image);

// A zero-filled RGB565 band of `rows` rows of `width` pixels with its pixels
// inline, `pitch` pixels from row to row (at least the width). Keyed bands
// carry the key colour. Null when the size does not fit or memory runs out.
PglSurface* ContentBandNew(uint32_t width, uint32_t rows, uint32_t pitch, bool keyed,
                           uint32_t module);

// The RGB565 pixel of 8-bit red, green and blue.
constexpr uint16_t ContentRgb565(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint16_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
}
// In bands that carry the key colour an opaque pixel of that very colour is
// moved one green step so that it stays visible.
constexpr uint16_t ContentOpaqueOnKey(uint16_t pixel) {
  return pixel == kContentKeyColour ? uint16_t{0xF83F} : pixel;
}
