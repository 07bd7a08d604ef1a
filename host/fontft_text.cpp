// What the toolkit's text layer asks of an instance: the variant of a style,
// metrics, widths, and one character at a time rendered as a one-bit glyph.
//
// The glyph surface is filled here rather than by the graphics library's
// PglInitSurface: the platform layer sits below the graphics library and
// must not link it, so only the surface's record layout is shared.
#include <algorithm>

#include "graphics/pgl.h"
#include "host/fontft.h"
#include "host/fontft_internal.h"

namespace {

// What PglInitSurface (width, height, format 1, extra flags 0x80, inline
// flags 0) leaves in a one-bit surface.
void InitGlyphSurface(PglSurface* glyph, uint32_t width, uint32_t height) {
  glyph->pixels = nullptr;
  glyph->width = width;
  glyph->height = height;
  glyph->flags = kPglMono | (0x80u & PglFlag::Kept);
  glyph->rowBytes = (width + 7) / 8;
  glyph->pitch = glyph->rowBytes;
  glyph->key = 0;
}

}  // namespace

FontFace* FontSelectVariant(const FontInstance* instance, uint32_t style) {
  if (!instance) return nullptr;
  if ((style & FontStyle::Bold) && instance->bold) return instance->bold;
  if ((style & FontStyle::Fixed) && instance->fixed) return instance->fixed;
  return instance->normal;
}

int32_t FtHasBold(const FontInstance* instance, uint32_t style) {
  return style == FontStyle::Bold && instance && instance->bold ? 1 : 0;
}

uint16_t FontGetSymbol(const FontInstance* instance, int32_t n) {
  if (!instance || n < 0 || n >= kFontSymbols) return 0;
  return static_cast<uint16_t>(instance->symbols[n]);
}

Result FtGetMetrics(const FontInstance* instance, int32_t which, int32_t* value,
                      uint32_t style) {
  const FontFace* face = FontSelectVariant(instance, style);
  if (face && which >= FontMetric::MaxWidth && which <= FontMetric::Ascent)
    *value = FontFaceMetric(face, which);
  return kOk;
}

Result FtGetCharWidth(const FontInstance* instance, uint16_t character, int32_t* width,
                        uint32_t style) {
  *width = 0;
  FontFace* face = FontSelectVariant(instance, style);
  if (!face) return FontErr::NoGlyph;
  int32_t advance = FontFaceAdvance(face, character);
  if (advance < 0) advance = FontFaceAdvance(face, u' ');
  if (advance < 0) return FontErr::NoGlyph;
  *width = advance;
  return kOk;
}

Result FontTextPairWidth(const FontInstance* instance, const char16_t* text, int32_t* width,
                         uint32_t style) {
  *width = 0;
  if (!text) return FontErr::NoGlyph;
  int32_t total = 0;
  for (int i = 0; i < 2 && text[i] != u'\0'; ++i) {
    int32_t one = 0;
    if (FontGetCharWidth(instance, text[i], &one, style) != kOk) return FontErr::NoGlyph;
    total += one;
  }
  *width = total;
  return kOk;
}

Result FtDrawText(const FontInstance* instance, uint16_t character, PglSurface* glyph,
                    uint32_t style) {
  uint8_t* buffer = FontGlyphBuffer();
  if (!buffer) return FontErr::Setup;
  FontFace* face = FontSelectVariant(instance, style);
  if (!face) return FontErr::NoGlyph;
  uint16_t drawn = character;
  int32_t advance = FontFaceAdvance(face, drawn);
  if (advance < 0) {
    drawn = u' ';
    advance = FontFaceAdvance(face, drawn);
  }
  if (advance <= 0) return FontErr::NoGlyph;
  if (!FontFaceDraw(face, drawn, buffer, kFontGlyphPitch)) return FontErr::NoGlyph;
  int32_t height = std::clamp(FontFaceMetric(face, FontMetric::Height), 0, kFontGlyphSide);
  InitGlyphSurface(glyph, static_cast<uint32_t>(std::min(advance, kFontGlyphSide)),
                   static_cast<uint32_t>(height));
  glyph->pixels = buffer;
  glyph->rowBytes = static_cast<uint32_t>(advance);
  glyph->pitch = kFontGlyphPitch;
  return kOk;
}

void FtDoneWithGlyph(PglSurface*) {}
