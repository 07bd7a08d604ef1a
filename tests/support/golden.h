// Golden images: PNG files kept beside a suite, compared pixel for pixel.
// Setting QOR_UPDATE_GOLDEN=1 writes the expected files instead of comparing;
// without it a missing file is a failure, never created silently. A mismatch
// writes the actual image beside the expected one as NAME.actual.png.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

struct GoldenImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel, rows top-down
};

// Expands RGB565 pixels (pitch in pixels) to 8 bits a channel.
GoldenImage GoldenFromRgb565(const uint16_t* pixels, int width, int height, int pitch);

bool GoldenWritePng(const std::string& path, const GoldenImage& image);
bool GoldenReadPng(const std::string& path, GoldenImage* image);

::testing::AssertionResult GoldenMatches(const std::string& path, const GoldenImage& actual);
