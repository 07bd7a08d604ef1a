// WtlJpeg (module 16): the engine's baseline JPEG decoder.
//
// Data arrives as content-data chunks; each call of JpegDecodeStep does a
// small slice of work (at most one chunk of header bytes, or one row of
// blocks of one component) and can stop at any byte, continuing on the next
// call with whatever has arrived since. The picture is a kind-14
// ContentImage in RGB565 bands of 16 source rows, optionally fitted to the
// screen width; the caller puts the image on its output list and owns it
// from then on.
#pragma once
#include <cstdint>

#include "graphics/image.h"
#include "kernel/list.h"
#include "kernel/modules.h"

namespace JpegErr {
constexpr Result NoMemory = 0x80100001;
// Malformed data, or a kind this decoder does not take (arithmetic coding,
// lossless, 12-bit samples, four components).
constexpr Result BadData = 0x80100002;
constexpr Result Progressive = 0x80108001;
}  // namespace JpegErr

// What the caller reads back in JpegStream::events; bits are only ever set.
namespace JpegEvent {
constexpr uint32_t Error = 0x2;        // decoding stopped on a fault inside the scan
constexpr uint32_t Added = 0x800;      // the image was made or a band completed
constexpr uint32_t Complete = 0x4000;  // nothing more will come
}  // namespace JpegEvent

// The decoder's view of one load.
struct JpegStream {
  Queue* input;        // UtilDataChunk blocks, oldest first; consumed from the front
  uint32_t endOfData;   // 1 once the last block has been queued; set on completion
  uint32_t fitToWidth;  // fit an image wider than the screen to its width
  int32_t lookAhead;    // a byte value (0-255) read before the queue, or -1
  uint32_t events;      // JpegEvent bits, added to
  // Set by the call that reads the frame header: the new image, which the
  // caller appends to its output list. Left alone otherwise.
  ContentImage* image;
};

struct JpegDecoder;

// One step. `*state` is null before the first call; the decoder frees its
// state and nulls `*state` when it completes or fails. Answers 0, or a
// JpegErr code, upon which the load fails (the image made so far, if any,
// stays with the caller).
Result JpegDecodeStep(JpegDecoder** state, JpegStream* io);
// Frees a decoder's state (nothing when null). The image stays.
void JpegDecoderFree(JpegDecoder** state);
// Frees a banded image and its bands.
void JpegImageFree(ContentImage** image);
