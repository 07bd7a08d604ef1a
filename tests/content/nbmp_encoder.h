// A writer of nbmp streams from the format's description, apart from the
// decoder: copy rectangles where the canvas holds the bytes, fill rectangles
// over runs, literals for the rest; packed as raw bytes with escape runs or
// as base64 text with character runs.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct NbmpTestFrame {
  uint32_t x, y, width, height;  // pixels
  uint8_t delay;
  std::vector<uint8_t> cells;  // height rows of ceil(width / pixels per byte) bytes
};

struct NbmpTestImage {
  uint32_t loopCount = 0, depthCode = 0, width = 0, height = 0;
  std::vector<NbmpTestFrame> frames;
};

uint32_t NbmpTestRowBytes(uint32_t width, uint32_t depthCode);

// The canvas after every frame, starting from `initial`.
std::vector<uint8_t> NbmpTestCompose(const NbmpTestImage& image, std::vector<uint8_t> initial);

// The stream's bits, byte-aligned at the end. `wideCoordinates` writes 12-bit
// rectangle coordinates instead of 8-bit ones.
std::vector<uint8_t> NbmpTestStream(const NbmpTestImage& image, const std::vector<uint8_t>& initial,
                                    bool wideCoordinates);

// Raw bytes with 0x96 escapes and runs.
std::vector<uint8_t> NbmpTestPackMemory(const std::vector<uint8_t>& stream);
// Base64 text with "~" runs; `noise` sprinkles white space, control
// characters and bytes from 0x80 up between the characters.
std::string NbmpTestPackText(const std::vector<uint8_t>& stream, std::mt19937* noise);

// A random image: frames with random places on the canvas, partly repeating
// the canvas, partly runs, partly random bytes.
NbmpTestImage NbmpTestRandomImage(std::mt19937& rng);
