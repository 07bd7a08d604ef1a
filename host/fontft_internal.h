// Inside the font layer: the platform fonts behind a FontInstance. FontFace
// is defined in font_face.cpp, the only file that sees FreeType; it and
// font_config.cpp see fontconfig.
#pragma once
#include <cstdint>

#include "host/fontft.h"

// Starts FreeType and fontconfig once; false when either cannot start.
bool FontFaceStartUp();

// The font configuration every face is resolved in: the set-up's font
// packages under the engine's own rules (the desktop's configuration only
// when none of those fonts is there). Null when fontconfig cannot start.
typedef struct _FcConfig FcConfig;
FcConfig* FontConfigCreate();

// Resolves the face name (the default face when empty) and opens it at the
// point size, bold or not, preferring a fixed-pitch face when asked. Null
// when no installed face can be opened.
FontFace* FontFaceOpen(const char16_t* name, int32_t points, bool bold, bool fixedPitch);
void FontFaceClose(FontFace** face);

// FontMetric::MaxWidth, Height or Ascent in pixels; 0 for any other `which`.
int32_t FontFaceMetric(const FontFace* face, int32_t which);

// The advance width in pixels of the character in the face or the first
// installed face that has it; -1 when none has it. Cached.
int32_t FontFaceAdvance(FontFace* face, uint16_t character);
// Writes the character's cell, min(advance, 128) pixels wide and min(height,
// 128) rows high, at the top-left of `rows` (rows `pitch` bytes apart, pixel
// 0 in bit 0, 1 ink): the bytes of the cell's rows are replaced, nothing
// outside them is touched. False when no face has the character or FreeType
// fails. Cached.
bool FontFaceDraw(FontFace* face, uint16_t character, uint8_t* rows, uint32_t pitch);

// The same straight from FreeType, bypassing and leaving alone the caches:
// for measuring what the caches save and for checking them.
int32_t FontFaceAdvanceUncached(FontFace* face, uint16_t character);
bool FontFaceDrawUncached(FontFace* face, uint16_t character, uint8_t* rows, uint32_t pitch);

// The shared glyph buffer (kFontGlyphPitch x kFontGlyphSide bytes) while
// FontInit's set-up stands; null before it and after FontTerm.
uint8_t* FontGlyphBuffer();

// The renderer's answers to the engine's font operations (FontOps).
Result FtFindFamily(int32_t* index, const char* name);
Result FtCreate(FontInstance** out, int32_t family, int32_t level);
void FtRelease(FontInstance* instance);
int32_t FtHasBold(const FontInstance* instance, uint32_t style);
Result FtGetMetrics(const FontInstance* instance, int32_t which, int32_t* value, uint32_t style);
Result FtGetCharWidth(const FontInstance* instance, uint16_t character, int32_t* width,
                      uint32_t style);
Result FtDrawText(const FontInstance* instance, uint16_t character, PglSurface* glyph,
                  uint32_t style);
void FtDoneWithGlyph(PglSurface* glyph);
