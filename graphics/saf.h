// The "SAF" animation stream decoder: reads a file block by block through
// read requests to its client (never more than one 2,048-byte block at a
// time), decodes every object into the work buffer, records where each
// frame lies, and later renders requested frames one command per step. It
// suspends on every read and yields while decoding large objects and
// between the commands of a frame. One job at a time, in static storage.
#pragma once
#include <cstdint>

constexpr uint32_t kSafBlockBytes = 2048;
constexpr uint32_t kSafMaxObjects = 128;
constexpr uint32_t kSafMaxFrames = 128;
constexpr uint32_t kSafMaxDepth = 8;

// A decoded object (sprite).
struct SafObject {
  uint32_t width, height;  // 1..255 pixels
  uint32_t index;
  uint8_t* pixels;  // in the work buffer
  uint32_t size;    // the head's value until decoded, then the pixel bytes
  uint32_t key;     // the transparent colour
  uint32_t coder;
  uint8_t flag;
  uint32_t dataPosition;  // of its 16-bit data length in the file
};

using SafContinuation = void (*)(uintptr_t context);

struct SafReadRequest {
  uint8_t* buffer;
  uint32_t offset;
  uint32_t count;
  SafContinuation continuation;
  uintptr_t context;
};

struct SafInfo {
  uint32_t width, height, depth;
  uint32_t colourTableCount;
  uint16_t colourTable[24];
  uint32_t loop;
  uint32_t frameCount;
  uint32_t delays[kSafMaxFrames];  // as stored
  uint32_t perFrameDelays;         // the delay record lists one per frame
  uint32_t colours;                // the animation record's byte 3
  uint32_t paletteKind;            // 0 none, 1 given, 2 grey ramp, 3 passed over
  uint32_t paletteSize;            // 256 with a palette, else 0
  const uint8_t* palette;          // 768 bytes
};

struct SafYield {
  SafContinuation continuation;
  uintptr_t context;
};

using SafFrameEntry = void (*)(uint32_t index, uint8_t* destination, uintptr_t job);

struct SafParsed {
  SafFrameEntry requestFrame;
  uintptr_t job;
};

struct SafFrameDone {
  uint32_t bytes;  // canvas width x height
  uint8_t* destination;
  uint32_t delay;  // as stored
  uint32_t last;   // 1 for the last frame
};

namespace SafEvent {
constexpr uint32_t Closed = 0, Read = 2, Error = 3, Info = 4, Parsed = 5, Yield = 6, FrameDone = 7;
}

// The client hears every event; `data` points at the event's record.
using SafClient = void (*)(uint32_t event, uintptr_t user, const void* data);

// Opening a job closes the one before (its client hears Closed), starts at
// the file's first byte and takes the first step.
void SafOpen(uintptr_t user, SafClient client);
// The same for a job that ends silently after the info event.
void SafOpenProbe(uintptr_t user, SafClient client);
// Runs the job until it waits; a stale job id does nothing.
void SafStep(uintptr_t job);
// The frame-request entry handed out with the parsed event.
void SafRequestFrame(uint32_t index, uint8_t* destination, uintptr_t job);

// The objects of the current file, the file's depth and its palette.
const SafObject* SafObjects();
uint32_t SafDepth();
uint32_t SafFrameCount();
// Forgets the job's client without a Closed event (the decoder does this
// when a new image takes over).
void SafForgetClient();
