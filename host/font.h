// The host's font layer. For now only the settings block that the host fills
// from qor.ini and hands over at start.
#pragma once
#include <cstdint>

struct FontSizePair {
  int32_t level;
  int32_t points;
};

constexpr int kFontFaceUnits = 32;
constexpr int kFontBodyLevels = 7;
constexpr int kFontHeadingLevels = 6;
constexpr int kFontSymbols = 3;

struct FontSettings {
  void* displayWindow;
  char16_t bodyFace[kFontFaceUnits];
  char16_t bodyMonoFace[kFontFaceUnits];
  FontSizePair bodySizes[kFontBodyLevels];
  int32_t bodySizeCount;
  char16_t headingFace[kFontFaceUnits];
  char16_t headingMonoFace[kFontFaceUnits];
  FontSizePair headingSizes[kFontHeadingLevels];
  int32_t headingSizeCount;
  uint16_t bodySymbols[kFontSymbols];
  uint16_t headingSymbols[kFontSymbols];
};

// Takes the settings for the fonts of the engine; 0 on success.
int32_t FontInit(const FontSettings* settings);
