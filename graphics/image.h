// The decoded image that the image handlers hand to rendering and to the
// graphics layer: a still image in bands of RGB565 surfaces (kind 14), one
// stored surface (kind 15), or an animation with its frames (kind 17).
// Fields a producer does not set are 0.
#pragma once
#include <cstdint>

#include "graphics/pgl.h"

namespace ContentKind {
constexpr uint32_t Banded = 14, Stored = 15, Animation = 17;
}

// Bands with transparency carry this key colour for a transparent pixel.
constexpr uint16_t kContentKeyColour = 0xF81F;

struct ContentImageFrame {
  uint16_t width;
  uint16_t height;
  uint16_t left;  // within the animation's area
  uint16_t top;
  uint32_t delay;  // milliseconds
  ContentImageFrame* next;
  uint8_t complete;  // 1 when all its bands are in
  uint16_t reserved;
  uint16_t bandCount;  // bands present
  // Top band first; the record is allocated with room for the band total.
  PglSurface* bands[1];
};

struct ContentImage {
  ContentImage* next;  // in the load's output list
  uint32_t kind;
  uint32_t reserved;
  uint16_t width;
  uint16_t height;

  // Kind 15: the stored surface and the file image it lives in, which the
  // image owns.
  PglSurface* stored;
  const uint8_t* file;

  // Kind 17.
  uint16_t frameCount;
  uint16_t loopCount;    // 0 plays endlessly, n plays n times
  uint16_t playCounter;  // kept by the reader
  ContentImageFrame* firstFrame;
  uintptr_t readerWord;
  uint8_t transparent;  // frames may hold the key colour
  uint8_t allFrames;    // every frame is decoded
  uint16_t background;  // RGB565
  uint32_t textImage;   // 1 for a text image
  char16_t* text;
  ContentImageFrame* currentFrame;  // the last on-demand decode
  // Decodes one frame of the kept body: a new frame, each band its own
  // allocation, that the reader frees; null when it cannot be decoded.
  ContentImageFrame* (*decodeFrame)(ContentImage* image, uint32_t frame);
  void* keptBody;
  void* decoderState;

  // Kind 14: top band first; the record is allocated with room for the band
  // total.
  uint16_t bandCount;
  PglSurface* bands[1];
};
