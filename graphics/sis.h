// The handset image decoder: the one-bit and two-bit "SIS" still images and
// the "SAF" animations, told apart by their first bytes, decoded into frames
// of packed pixels in the caller's buffer. One global instance without
// allocations: the caller lends a work and a model buffer at set-up, and the
// image in memory with its length and an output buffer with its size for
// each call. One image at a time; a probe selects it.
#pragma once
#include <cstdint>

namespace SisKind {
constexpr uint32_t None = 0, Mono = 1, Gray = 2, Saf = 8;
}

constexpr uint32_t kSisMaxFrames = 128;

// What the probe reports.
struct SisImageInfo {
  uint32_t frameCount;
  uint32_t width, height;
  uint32_t perFrameDelays;  // 1 when delays holds one value per frame
  uint32_t delays[kSisMaxFrames];
  uint32_t colours;
  uint32_t kind;  // SAF: bits per pixel; one-bit: 1; two-bit: its plane count
  uint32_t loop;
};

// The size both callers lend, and what a frame of the output holds.
constexpr uint32_t kSisWorkBytes = 65536;
constexpr uint32_t kSisModelBufferBytes = 34000;
constexpr uint32_t kSisOutputHeader = 16;  // before the frame offsets
constexpr uint32_t kSisRecordWords = 5;

// Returns 1. A model buffer below 33,280 bytes leaves the adaptive coder
// without its model (its objects then fail).
int SisDecoderInit(uint8_t* work, uint32_t workSize, uint8_t* model, uint32_t modelSize,
                   uint32_t frameWidth, uint32_t frameHeight);
// 1 and the info filled, or 0 for data that is neither format or fails its
// header.
int SisProbeHeader(const uint8_t* data, uint32_t length, SisImageInfo* info);
// The 768-byte RGB palette of the probed image and its kind (0 none, 1
// given, 2 grey ramp); null before the first probe.
const uint8_t* SisGetPalette(uint32_t* kind);
// Decodes into `output` (room for `outputSize` bytes):
//   count 0, index >= 0: frame index alone; 1 on success;
//   count > 0: frames 0..count-1; count on success;
//   count 0, index -1: every frame; the frame count.
// 0 on any failure, an index at or beyond the frame count among them.
// The output: u32 total length, u8 frame count, 0, pixel code, 0, u32 width,
// u32 height, one u32 offset per frame record, then the records: five u32
// {0, 0, width, height, delay} and the packed pixel rows.
int32_t SisDecodeFrame(const uint8_t* data, uint32_t length, uint8_t* output,
                       uint32_t outputSize, int32_t index, int32_t count);
// The output bytes SisDecodeFrame needs for n frames of the probed image.
uint32_t SisOutputSize(uint32_t frames);
