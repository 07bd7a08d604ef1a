// Text measurement and drawing of the toolkit: the host fonts plus the style
// effects they lack (synthetic bold, slant, underline, strike-through,
// highlight, fixed pitch). Every UTF-16 text the engine shows goes through
// here.
#pragma once
#include <cstdint>

#include "host/platform/font.h"
#include "widgets/pwl.h"

// The style word, the same for measuring and drawing.
namespace PwlStyle {
constexpr uint32_t Bold = 0x04, Slant = 0x08, Underline = 0x10, Fixed = 0x20, Highlight = 0x40,
                   Strike = 0x80, Opaque = 0x100;
}

constexpr char16_t kPwlSoftHyphen = 0x00AD;

Result PwlSelectFont(int32_t* family, const char* name);
Result PwlCreateFont(FontInstance** out, int32_t family, int32_t size, int32_t* outSize);
void PwlReleaseFont(FontInstance* font);
// The "BodyText" family at a size: the font of the controls, the popups and
// the soft-key band. Released with PwlReleaseFont.
constexpr int32_t kPwlBodySize = 3;
Result PwlOpenBodyFont(FontInstance** out, int32_t size = kPwlBodySize);

Result PwlCharWidth(const FontInstance* font, uint32_t style, char16_t character, int32_t* width);
Result PwlTextWidth(const FontInstance* font, uint32_t style, uint32_t count,
                    const char16_t* text, int32_t* width);
// width: in the room available, out the width of the characters that fit;
// count: in the characters to consider (0: the whole text), out those that fit.
Result PwlFitText(const FontInstance* font, uint32_t style, int32_t* width, const char16_t* text,
                  uint32_t* count);
Result PwlLineHeight(const FontInstance* font, uint32_t style, int32_t* height);
Result PwlFontMetric2(const FontInstance* font, uint32_t style, int32_t* ascent);
Result PwlMaxCharWidth(const FontInstance* font, uint32_t style, int32_t* width);
// Adds the extra width of slanted text, height / 3 - 1, to *value.
Result PwlSlantWidth(const FontInstance* font, uint32_t style, int32_t* value);

// Draws count characters with the run's top-left corner at the frame-relative
// (x, y); a clip {x, y, width, height} on the screen surface stands in for the
// window's viewport during the call.
Result PwlDrawText(const FontInstance* font, uint32_t style, uint32_t count, const char16_t* text,
                   PwlWindow* window, int32_t x, int32_t y, const PwlBox* clip,
                   uint16_t foreground, uint16_t background);
