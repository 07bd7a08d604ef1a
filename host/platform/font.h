// The host's font layer (module 41): the real fonts behind the handset's text.
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

// Creates the glyph buffer, asks the user (FontAskUser) for the family that
// has no sizes, and applies the settings. 0, or FontErr::Setup.
Result FontInit(const FontSettings* settings);
// Frees the size lists, empties the face names and deletes the glyph buffer.
// Instances still alive stay usable for widths and metrics.
void FontTerm();

// The 1-based index of the family of that name (compared byte for byte);
// 0 stored and FontErr::Setup when there is none.
Result FontFindFamily(int32_t* index, const char* name);
// An instance at the size whose level is nearest to the one asked (the first
// of equally near ones). FontErr::Setup when the family has no sizes,
// FontErr::NoMemory when the instance or its normal font cannot be had.
Result FontCreate(FontInstance** out, int32_t family, int32_t level);
void FontRelease(FontInstance* instance);

// The bold font for style 0x04 when there is one, else the fixed-pitch font
// for style 0x20 when there is one, else the normal font.
FontFace* FontSelectVariant(const FontInstance* instance, uint32_t style);
// 1 when style is exactly 0x04 and the instance has a bold font, else 0.
int32_t FontHasBold(const FontInstance* instance, uint32_t style);
// Symbol character n (0 to 2); 0 for any other n.
uint16_t FontGetSymbol(const FontInstance* instance, int32_t n);

// FontMetric::MaxWidth, Height or Ascent of the style's variant; any other
// `which` stores nothing. Returns 0.
Result FontGetMetrics(const FontInstance* instance, int32_t which, int32_t* value,
                      uint32_t style);
// The advance width; the width of the space for a character no installed
// face has; 0 stored and FontErr::NoGlyph when neither is known.
Result FontGetCharWidth(const FontInstance* instance, uint16_t character, int32_t* width,
                        uint32_t style);
// The widths of the first two characters of the text added (fewer when it
// ends sooner); 0 stored and FontErr::NoGlyph on failure.
Result FontTextPairWidth(const FontInstance* instance, const char16_t* text, int32_t* width,
                         uint32_t style);

// Renders one character (the space for one no face has) at the top-left of
// the glyph buffer and describes it in `glyph`: format 1, flags 0x81, as wide
// as the advance and as high as the variant, both clipped to 128; pitch 16;
// the row-bytes word carries the advance width itself (unclipped), as the
// toolkit's text layer expects. 0, FontErr::NoGlyph for a character without
// a width or of width 0, FontErr::Setup before FontInit.
Result FontDrawText(const FontInstance* instance, uint16_t character, PglSurface* glyph,
                    uint32_t style);
// The toolkit is done with a glyph; nothing to do, the buffer is shared.
void FontStubHook(PglSurface* glyph);

// A normal font of "BodyText" at the point size of its third size pair (the
// last pair when it has fewer), for the host's own windows; null when the
// family has no sizes. Released with FontReleaseFace.
FontFace* FontCreateBodyFont();
void FontReleaseFace(FontFace** face);

struct FontDescription {
  char16_t face[kFontFaceUnits];  // the face name asked for
  char family[64];                // the installed family it resolved to (UTF-8)
  int32_t points;
  int32_t pixels;  // the em size at 96 dpi
  int32_t bold;
  int32_t fixedPitch;
};
void FontDescribeFace(const FontFace* face, FontDescription* out);

// The font chooser, shown when a family has no sizes. The Qt host installs
// the desktop's font dialog; tests install fakes.
struct FontChooserOps {
  void* ctx;
  // Shows the chooser once, owned by `owner` (the display window): 1 with the
  // face (at most faceUnits - 1 units and a 0) and the size in tenths of a
  // point; 0 when the user closed it without choosing (it is shown again);
  // -1 when no chooser can be shown at all.
  int (*choose)(void* ctx, void* owner, char16_t* face, int32_t faceUnits, int32_t* tenths);
  // Writes one entry of an .ini file: the choice goes back to "./qor.ini".
  bool (*writeSetting)(void* ctx, const char* path, const char* section, const char* key,
                       const char* value);
};
// Installs a chooser (null restores the default, which can show none);
// returns the old one.
const FontChooserOps* FontInstallChooser(const FontChooserOps* ops);
// Asks the user for a face and size s for the family, writes the family's
// faces and its size ladder (body s-3 .. s+3, heading s+2 .. s-3, never
// below 1) to qor.ini, and gives the family that face, those sizes and a bold
// variant. FontErr::Setup when no chooser can be shown or the family is
// unknown.
Result FontAskUser(int32_t family, void* owner);
