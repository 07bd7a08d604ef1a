// The PNG reader the converters share: any PNG libpng reads, as 8-bit RGBA.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PngRgba {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // rows top to bottom, 4 bytes a pixel: R, G, B, A
};

// Reads the file at `path`. On failure returns false and says why in *error
// (the path, then libpng's reason).
bool PngReadRgba(const std::string& path, PngRgba* image, std::string* error);
