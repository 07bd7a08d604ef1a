// Drives a decoder core the way a content row's process step does: the body
// arrives as data chunks of a chosen size, one chunk a step, the last with
// the end-of-data flag; and reads back what the core put on the output list.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "content/collect.h"
#include "content/decode_feed.h"

std::vector<uint8_t> ReadDataFile(const std::string& relative);

struct DecodeRun {
  Result result = kOk;
  uint32_t events = 0;
  Queue output{};
  bool stateFreed = false;  // the core let go of its state by itself
};

using StepFn = Result (*)(void** state, ContentFeed* feed);
using ReleaseFn = void (*)(void** state);

// Delivers `bytes` in chunks of blockSize (0: one chunk) until the core
// reports the body complete or fails; `ended` says whether the end-of-data
// flag comes with the last chunk. Leaves no chunk and no state behind.
DecodeRun RunDecoder(StepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                     uint32_t blockSize, bool ended = true, uint32_t requestFlags = 0);

// The same for a core that collects the whole body: the source tells it the
// announced length (the body's size when `announce` holds, else 0), the bytes
// delivered so far and a work buffer of workSize bytes, filled with 0xA5 so
// that a decoder reading what it did not write shows.
using WholeStepFn = Result (*)(void** state, ContentFeed* feed, const ContentSource* source);
DecodeRun RunWholeDecoder(WholeStepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                          uint32_t blockSize, bool announce = true, bool ended = true,
                          uint32_t workSize = 256000);

// Frees every image of the output list with its bands and frames.
void FreeOutput(Queue* output);

inline ContentImage* FirstImage(const DecodeRun& run) {
  return reinterpret_cast<ContentImage*>(run.output.head);
}
inline uint32_t ImageCount(const DecodeRun& run) {
  uint32_t n = 0;
  for (QueueNode* node = run.output.head; node; node = node->next) ++n;
  return n;
}

// The pixel at (x, y) of a list of bands stacked from the top; -1 where no
// band holds that row.
int32_t BandPixel(PglSurface* const* bands, uint32_t bandCount, uint32_t x, uint32_t y);

// Netpbm and PAM pictures as ImageMagick and netpbm write them.
struct Picture {
  uint32_t width = 0, height = 0, depth = 0;  // depth: bytes a pixel (1 for PBM bits unpacked)
  std::vector<uint8_t> pixels;                // PBM: 1 black, 0 white
};
// Every picture of a file (PAM files hold one per frame); empty on a fault.
std::vector<Picture> ReadPictures(const std::vector<uint8_t>& file);
