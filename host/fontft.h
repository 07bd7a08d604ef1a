// The host's font renderer behind the engine's font layer: two families,
// "BodyText" and "HeadingText", each with a face, a fixed-pitch face, a list
// of {level, point size} pairs and three symbol characters. Face names
// resolve through fontconfig to installed faces; glyphs come from FreeType,
// monochrome at a fixed 96 dpi so that the output does not depend on the
// desktop. A character the face lacks is taken from another installed face
// that has it (the Korean user-interface texts). Widths and rendered glyphs
// are cached per variant.
//
// Glyphs are rendered one character at a time into one shared 128 x 128
// one-bit buffer (rows 16 bytes apart, pixel 0 in bit 0) and described as a
// one-bit PglSurface that stays valid until the next FontDrawText. Main
// thread only.
#pragma once
#include <cstdint>

#include "host/platform/font.h"

// Creates the glyph buffer, asks the user (FontAskUser) for the family that
// has no sizes, applies the settings and installs the renderer as the
// engine's font operations. 0, or FontErr::Setup.
Result FontInit(const FontSettings* settings);
// Frees the size lists, empties the face names and deletes the glyph buffer.
// Instances still alive stay usable for widths and metrics.
void FontTerm();

// The bold font for style 0x04 when there is one, else the fixed-pitch font
// for style 0x20 when there is one, else the normal font.
FontFace* FontSelectVariant(const FontInstance* instance, uint32_t style);
// Symbol character n (0 to 2); 0 for any other n.
uint16_t FontGetSymbol(const FontInstance* instance, int32_t n);
// The widths of the first two characters of the text added (fewer when it
// ends sooner); 0 stored and FontErr::NoGlyph on failure.
Result FontTextPairWidth(const FontInstance* instance, const char16_t* text, int32_t* width,
                         uint32_t style);

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
