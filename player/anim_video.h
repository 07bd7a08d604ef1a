// The QYVP video decoder: intra-coded frames of 16 x 16 macroblocks in
// YCbCr 4:2:0, each 8 x 8 block a raw DC byte and run/size AC codes of the
// JPEG luminance AC table, decoded straight into the player's frame buffer
// as 5-5-5 pixels. Every read is bounded by the stream.
#pragma once

#include <cstdint>

struct AnimPlayer;

struct AnimVideoArgs {
  const char* name;     // a video in host storage (when data is null)
  const uint8_t* data;  // a video in memory
  uint32_t size;
  int32_t centreX, centreY;  // hundredths of a pixel
  uint32_t offset;           // of the video in its host file
};

struct AnimVideo {
  uint32_t open;
  uint32_t ended;
  const uint8_t* data;  // the whole stream
  uint32_t size;
  uint8_t* owned;       // the stream read from host storage (player heap)
  uint32_t position;    // of the next frame's size field
  uint32_t videoEnd;    // end of the video chunk
  const uint8_t* sound;
  uint32_t soundLength;
  uint32_t soundBit;
  uint32_t framesPerSecond;
  uint32_t interval;  // ms
  int32_t width, height;
  int32_t x, y;
  uint32_t startTime, nextFrameTime;
};

inline constexpr uint32_t kAnimVideoOpen = 0, kAnimVideoNext = 1, kAnimVideoClose = 2;
inline constexpr uint32_t kAnimVideoEnded = 5;

// Open (0): 0 when opened or when the source holds nothing, 1 for a stream
// that is no video. Next (1): 0 for a frame decoded or dropped, 5 at the end.
// Close (2): 0.
uint32_t AnimVideo_Open(AnimPlayer* p, uint32_t operation, const AnimVideoArgs* args);
void AnimVideo_Noop();

// Decodes one frame's data into the frame buffer at the video's place;
// false when the frame's data does not hold what the format asks.
bool AnimVideo_DecodeFrame(AnimPlayer* p, const uint8_t* frame, uint32_t size);
// The transform of one block of 64 coefficients (row by row), in place.
void AnimVideo_Idct(int16_t* block);
// Six decoded blocks of one macroblock (four luma, then the two chroma
// blocks at half resolution) converted into the frame buffer at (left, top).
void AnimVideo_PutMacroblock(AnimPlayer* p, const int16_t (*blocks)[64], int32_t left, int32_t top);
