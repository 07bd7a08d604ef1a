// The nbmp codec: the handset's compact bitmap format for small monochrome
// and four-grey images and animations. A stream describes a canvas and its
// frames; each frame is built from rectangles copied from the canvas as the
// previous frame left it, rectangles filled with one byte, and literal bytes
// for the rest. The codec writes a decoded image block into the caller's
// buffer and allocates nothing. Streams come as base64 text with a run
// extension (images inline in pages) or as raw bytes with an escape-byte run
// extension (fetched image/nbmp bodies).
//
// One bit reader and one instance of each source serve every decode: one
// decode at a time, on the engine's thread.
#pragma once
#include <cstdint>

// One frame of a decoded block; its pixel bytes follow the record, `height`
// rows of ceil(width / pixels per byte) bytes.
struct NbmpFrame {
  uint32_t x, y;  // on the canvas, pixels
  uint32_t width, height;
  uint8_t delay;  // tenths of a second
};

// The decoded image block at the start of the caller's buffer. The canvas,
// the picture as the last frame left it, is the last canvas-row-bytes x
// height bytes of the buffer.
struct NbmpImage {
  uint32_t usedBytes;  // from the block's start to the end of the last frame's pixels
  uint8_t frameCount;
  uint8_t loopCount;  // plays, 0 without end
  uint8_t depthCode;  // 0: 1 bit a pixel, 1 and 2: 2 bits a pixel
  uint32_t width, height;
  NbmpFrame* frames[1];  // frameCount entries
};

inline uint8_t* NbmpFramePixels(NbmpFrame* frame) { return reinterpret_cast<uint8_t*>(frame + 1); }
inline uint32_t NbmpPixelsPerByte(uint32_t depthCode) { return depthCode == 0 ? 8 : 4; }
inline uint32_t NbmpRowBytes(uint32_t width, uint32_t depthCode) {
  const uint32_t ppb = NbmpPixelsPerByte(depthCode);
  return (width + ppb - 1) / ppb;
}

// Decode a NUL-terminated (or double-quote-ended) text, or `length` raw
// bytes, into the block at `output`; 1 on success, 0 for a bad stream or a
// buffer too small (the block is then incomplete). The buffer must be
// aligned for the block's pointers.
int NbmpDecodeText(const char* text, uint8_t* output, uint32_t outputSize);
int NbmpDecodeMemory(const uint8_t* data, uint32_t length, uint8_t* output, uint32_t outputSize);
// The decoder proper, over the source already set up (0 text, 1 memory).
int NbmpDecodeStream(uint8_t* output, uint32_t outputSize, uint32_t sourceKind);

// Delivers exactly `count` bytes of a base64 text with runs into `out`;
// count, or -1 when the text ends or holds a bad character first.
int32_t InlineTextDecode(const char* text, uint32_t count, uint8_t* out);
