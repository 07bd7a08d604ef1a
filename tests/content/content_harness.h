// Drives a decoder core the way a content row's process step does: the body
// arrives as data chunks of a chosen size, one chunk a step, the last with
// the end-of-data flag; and reads back what the core put on the output list.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "content/collect.h"
#include "content/decode_feed.h"
#include "tests/support/engine_fixture.h"

std::vector<uint8_t> ReadDataFile(const std::string& relative);

struct DecodeRun {
  Result result = kOk;
  uint32_t events = 0;
  Queue output{};
  bool stateFreed = false;  // the core let go of its state by itself
};

using StepFn = Result (*)(void** state, ContentFeed* feed);
using ReleaseFn = void (*)(void** state);

// Delivers `bytes` in chunks of blockSize (0: one chunk), the data ended with
// the last, until the core reports the body complete or fails. Leaves no
// chunk and no state behind.
DecodeRun RunDecoder(StepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                     uint32_t blockSize, uint32_t requestFlags = 0);

// The same for a core that collects the whole body: the source announces the
// body's size (when `announce`) and lends a work buffer filled with 0xA5, so
// that a decoder reading what it did not write shows.
using WholeStepFn = Result (*)(void** state, ContentFeed* feed, const ContentSource* source);
DecodeRun RunWholeDecoder(WholeStepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                          uint32_t blockSize, bool announce = true);

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

// The pixel at (x, y) of bands stacked from the top; -1 where no band holds it.
int32_t BandPixel(PglSurface* const* bands, uint32_t bandCount, uint32_t x, uint32_t y);

// Netpbm and PAM pictures as ImageMagick and netpbm write them.
struct Picture {
  uint32_t width = 0, height = 0, depth = 0;  // depth: bytes a pixel (PBM: grey 0 or 255)
  std::vector<uint8_t> pixels;
};
// Every picture of a file (PAM files hold one per frame); empty on a fault.
std::vector<Picture> ReadPictures(const std::vector<uint8_t>& file);

// ImageMagick's pixel i as a decoder must give it: transparent is the key
// colour, and in keyed pictures an opaque key colour stays visible.
uint16_t ReferencePixel(const Picture& p, uint32_t i, bool keyed);

// The bands hold the picture: as many rows a band as 512 bytes allow for
// rows of rowBytes (0: two bytes a pixel), at least one, every pixel as the
// reference has it, or within one step of each RGB565 channel when `nearEnough`.
void ExpectBands(PglSurface* const* bands, uint32_t bandCount, const Picture& ref, bool keyed,
                 bool nearEnough, const std::string& where, uint32_t rowBytes = 0);

// The animation matches its reference (`name`.pam, and `name`.txt listing
// "width height left top delay" in hundredths a frame): size, loop count, and
// every frame's place, delay (at least minDelay ms) and pixels.
void ExpectAnimation(const ContentImage* image, const std::string& name, uint16_t loopCount,
                     bool nearEnough, uint32_t minDelay);

// Runs `run` with only beside + spare bytes free, spare from 0 below limit;
// what the run takes must come back.
void SqueezeHeap(uint32_t beside, uint32_t limit, uint32_t step,
                 const std::function<void(uint32_t spare)>& run);

// A parameterised file case's name: the file and the block size.
std::string FileBlockName(const std::string& name, uint32_t block);

// A 4 MB heap that must be back where it started when the test ends.
class DecoderTest : public HeapFixture {
 protected:
  explicit DecoderTest(uint32_t heapBytes = 4u << 20) : HeapFixture(heapBytes) {}
  void SetUp() override;
  void TearDown() override;

 private:
  uint32_t freeAtStart_ = 0;
};
