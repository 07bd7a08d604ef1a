// The font layer (module 41) as the engine sees it: the real fonts behind the
// handset's text are the host's (host/fontft.h); the engine reaches them only
// through the operations below.
//
// Two families, "BodyText" and "HeadingText", each have a face, a fixed-pitch
// face, a list of {level, point size} pairs and three symbol characters. A
// FontInstance is a family at one level in a normal, a bold and a fixed-pitch
// variant. Face names resolve through fontconfig to installed faces; glyphs
// come from FreeType, monochrome at a fixed 96 dpi so that the output does not
// depend on the desktop. A character the face lacks is taken from another
// installed face that has it (the Korean user-interface texts). Widths and
// rendered glyphs are cached per variant.
//
// Glyphs are rendered one character at a time into one shared 128 x 128
// one-bit buffer (rows 16 bytes apart, pixel 0 in bit 0) and described as a
// one-bit PglSurface that stays valid until the next FontDrawText. Main
// thread only.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct PglSurface;

constexpr uint32_t kFontModule = 41;

namespace FontErr {
// A context or the glyph buffer cannot be set up, no family has the name, or
// a family has no sizes.
constexpr Result Setup = 0x80298000;
// A character (and the space) has no width, a zero width, or cannot be drawn;
// the toolkit skips such characters.
constexpr Result NoGlyph = 0x80298001;
// No memory for an instance, or its normal font cannot be created.
constexpr Result NoMemory = 0x80290001;
}  // namespace FontErr

namespace FontStyle {
constexpr uint32_t Bold = 0x04, Fixed = 0x20;
}

namespace FontMetric {
constexpr int32_t MaxWidth = 0, Height = 1, Ascent = 2;
}

constexpr int32_t kFontGlyphSide = 128;  // the glyph buffer's width and height in pixels
constexpr int32_t kFontGlyphPitch = 16;  // bytes from one of its rows to the next

struct FontSizePair {
  int32_t level;
  int32_t points;
};

constexpr int kFontFaceUnits = 32;
constexpr int kFontBodyLevels = 7;
constexpr int kFontHeadingLevels = 6;
constexpr int kFontSymbols = 3;

// What the host read from qor.ini's "Fonts" section.
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

// The settings of the shipped qor.ini: "Arial", and "Lucida console" for
// fixed pitch, in both families; the symbols 0x2022, 0x25AA, 0x25E6; body
// sizes 7 8 9 10 12 14 18 and heading sizes 14 12 11 10 9 8 points. The host
// reads qor.ini over the faces and symbols; tests and tools start from them.
void FontDefaultSettings(FontSettings* settings);

// One platform font: a face resolved to an installed one, at a size and
// weight, with its own caches.
struct FontFace;

struct FontInstance {
  FontFace* normal;
  FontFace* bold;  // null when the family has no bold variant
  FontFace* fixed;
  uint32_t symbols[kFontSymbols];
};

// The family indexes FontFindFamily gives.
constexpr int32_t kFontBody = 1, kFontHeading = 2;

// The operations the engine uses, answered by the host's font renderer
// through FontOps. Until a renderer is installed every one fails with
// FontErr::Setup (or does nothing), so an engine without fonts still runs.

// The 1-based index of the family of that name (compared byte for byte);
// 0 stored and FontErr::Setup when there is none.
Result FontFindFamily(int32_t* index, const char* name);
// An instance at the size whose level is nearest to the one asked (the first
// of equally near ones). FontErr::Setup when the family has no sizes,
// FontErr::NoMemory when the instance or its normal font cannot be had.
Result FontCreate(FontInstance** out, int32_t family, int32_t level);
void FontRelease(FontInstance* instance);
// 1 when style is exactly 0x04 and the instance has a bold font, else 0.
int32_t FontHasBold(const FontInstance* instance, uint32_t style);
// FontMetric::MaxWidth, Height or Ascent of the style's variant; any other
// `which` stores nothing. Returns 0.
Result FontGetMetrics(const FontInstance* instance, int32_t which, int32_t* value,
                      uint32_t style);
// The advance width; the width of the space for a character no installed
// face has; 0 stored and FontErr::NoGlyph when neither is known.
Result FontGetCharWidth(const FontInstance* instance, uint16_t character, int32_t* width,
                        uint32_t style);
// Renders one character (the space for one no face has) at the top-left of
// the glyph buffer and describes it in `glyph`: format 1, flags 0x81, as wide
// as the advance and as high as the variant, both clipped to 128; pitch 16;
// the row-bytes word carries the advance width itself (unclipped), as the
// toolkit's text layer expects. 0, FontErr::NoGlyph for a character without
// a width or of width 0, FontErr::Setup before the fonts are set up.
Result FontDrawText(const FontInstance* instance, uint16_t character, PglSurface* glyph,
                    uint32_t style);
// The toolkit is done with a glyph.
void FontStubHook(PglSurface* glyph);

struct FontOps {
  Result (*findFamily)(int32_t* index, const char* name);
  Result (*create)(FontInstance** out, int32_t family, int32_t level);
  void (*release)(FontInstance* instance);
  int32_t (*hasBold)(const FontInstance* instance, uint32_t style);
  Result (*getMetrics)(const FontInstance* instance, int32_t which, int32_t* value,
                       uint32_t style);
  Result (*getCharWidth)(const FontInstance* instance, uint16_t character, int32_t* width,
                         uint32_t style);
  Result (*drawText)(const FontInstance* instance, uint16_t character, PglSurface* glyph,
                     uint32_t style);
  void (*doneWithGlyph)(PglSurface* glyph);
};
// Installs the renderer (null restores the failing defaults); returns the old.
const FontOps* FontInstallOps(const FontOps* ops);
