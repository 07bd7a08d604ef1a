// Text measurement and drawing over the host font layer. The font layer
// renders one plain glyph at a time; the style effects are added here.
#include "widgets/pwl_text.h"

#include "kernel/libc.h"

namespace {

bool SyntheticBold(const FontInstance* font, uint32_t style) {
  return (style & PwlStyle::Bold) && !FontHasBold(font, FontStyle::Bold);
}

int32_t Metric(const FontInstance* font, uint32_t style, int32_t which) {
  int32_t value = 0;
  FontGetMetrics(font, which, &value, style);
  return value;
}

int32_t SlantExtra(const FontInstance* font, uint32_t style) {
  return Metric(font, style, FontMetric::Height) / 3 - 1;
}

// One glyph blitted at (x, y), its rows [top, bottom] shifted right by shift.
Result BlitRows(PwlWindow* window, PglSurface* glyph, int32_t x, int32_t y, int32_t top,
                int32_t bottom, uint32_t mode, uint16_t fg, uint16_t bg) {
  const PglDrawArgs args{glyph, 0, top, static_cast<int32_t>(glyph->width) - 1, bottom,
                         x, y + top, 0, 0, mode};
  return PwlBlitImage(window, &args, fg, bg);
}

Result DrawGlyph(PwlWindow* window, PglSurface* glyph, int32_t x, int32_t y, int32_t advance,
                 uint32_t style, bool bold, uint32_t mode, uint16_t fg, uint16_t bg) {
  const int32_t h = static_cast<int32_t>(glyph->height);
  if (glyph->width == 0 || h == 0) return kOk;
  if (!(style & PwlStyle::Slant)) {
    BlitRows(window, glyph, x, y, 0, h - 1, mode, fg, bg);
    if (bold) {
      if (style & PwlStyle::Opaque) {
        const PglRect column{x + advance, y, x + advance, y + h - 1};
        PwlDrawLine(window, &column, 1, bg);
      }
      BlitRows(window, glyph, x + 1, y, 0, h - 1, mode | PglMode::Transparent, fg, bg);
    }
    return kOk;
  }
  // Slanted: bands of three rows, each one pixel further left than the one
  // above; the last band keeps the one or two rows left over.
  int32_t shift = (h - 1) / 3;
  for (int32_t top = 0; top < h; top += 3, --shift) {
    const int32_t bottom = top + 2 < h ? top + 2 : h - 1;
    BlitRows(window, glyph, x + shift, y, top, bottom, mode, fg, bg);
    if (bold)
      BlitRows(window, glyph, x + shift + 1, y, top, bottom, mode | PglMode::Transparent, fg,
               bg);
  }
  return kOk;
}

}  // namespace

Result PwlSelectFont(int32_t* family, const char* name) { return FontFindFamily(family, name); }

Result PwlCreateFont(FontInstance** out, int32_t family, int32_t size, int32_t* outSize) {
  if (outSize) *outSize = size;
  return FontCreate(out, family, size);
}

Result PwlOpenBodyFont(FontInstance** out, int32_t size) {
  *out = nullptr;
  int32_t family = 0;
  if (Result r = PwlSelectFont(&family, "BodyText"); r != kOk) return r;
  return PwlCreateFont(out, family, size, nullptr);
}

void PwlReleaseFont(FontInstance* font) {
  if (font) FontRelease(font);
}

Result PwlCharWidth(const FontInstance* font, uint32_t style, char16_t character, int32_t* width) {
  *width = 0;
  if (character == kPwlSoftHyphen) return kOk;
  Result r = kOk;
  if (style & PwlStyle::Fixed)
    *width = Metric(font, style, FontMetric::MaxWidth);
  else
    r = FontGetCharWidth(font, character, width, style);
  if (r == kOk && SyntheticBold(font, style)) *width += 1;
  return r;
}

Result PwlTextWidth(const FontInstance* font, uint32_t style, uint32_t count,
                    const char16_t* text, int32_t* width) {
  *width = 0;
  if (style & PwlStyle::Fixed) {
    const int32_t pitch = Metric(font, style, FontMetric::MaxWidth) + (SyntheticBold(font, style) ? 1 : 0);
    *width = static_cast<int32_t>(count) * pitch;
    return kOk;
  }
  if (!text) return kOk;
  int32_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t w = 0;
    if (Result r = PwlCharWidth(font, style, text[i], &w); r != kOk) return r;
    sum += w;
  }
  *width = sum;
  return kOk;
}

Result PwlFitText(const FontInstance* font, uint32_t style, int32_t* width, const char16_t* text,
                  uint32_t* count) {
  int32_t room = *width;
  uint32_t n = *count ? *count : (text ? LibcWStrLen(text) : 0);
  int32_t extra = 0;
  if (style & PwlStyle::Slant) {
    extra = SlantExtra(font, style);
    if (room <= extra) {
      *width = 0;
      *count = 0;
      return kOk;
    }
    room -= extra;
  }
  uint32_t taken = 0;
  int32_t sum = 0;
  if (style & PwlStyle::Fixed) {
    const int32_t pitch = Metric(font, style, FontMetric::MaxWidth) + (SyntheticBold(font, style) ? 1 : 0);
    if (pitch <= 0 || room <= 0) {
      *width = 0;
      *count = 0;
      return kOk;
    }
    taken = static_cast<uint32_t>(room / pitch);
    if (taken > n) taken = n;
    sum = static_cast<int32_t>(taken) * pitch;
  } else {
    for (; taken < n && text; ++taken) {
      int32_t w = 0;
      if (Result r = PwlCharWidth(font, style, text[taken], &w); r != kOk) return r;
      if (sum + w > room) break;
      sum += w;
    }
  }
  *count = taken;
  *width = sum + extra;
  return kOk;
}

Result PwlLineHeight(const FontInstance* font, uint32_t style, int32_t* height) {
  Result r = FontGetMetrics(font, FontMetric::Height, height, style);
  if (r != kOk) return r;
  if (style & PwlStyle::Underline) {
    const int32_t ascent = Metric(font, style, FontMetric::Ascent);
    if (*height < ascent + 3) *height = ascent + 2;
  }
  return kOk;
}

Result PwlFontMetric2(const FontInstance* font, uint32_t style, int32_t* ascent) {
  return FontGetMetrics(font, FontMetric::Ascent, ascent, style);
}

Result PwlMaxCharWidth(const FontInstance* font, uint32_t style, int32_t* width) {
  return FontGetMetrics(font, FontMetric::MaxWidth, width, style);
}

Result PwlSlantWidth(const FontInstance* font, uint32_t style, int32_t* value) {
  *value += SlantExtra(font, style);
  return kOk;
}

Result PwlDrawText(const FontInstance* font, uint32_t style, uint32_t count, const char16_t* text,
                   PwlWindow* window, int32_t x, int32_t y, const PwlBox* clip,
                   uint16_t foreground, uint16_t background) {
  if (!text) return kOk;
  if (!window) return PwlErr::NullWindow;
  int32_t height = 0, ascent = 0;
  if (Result r = FontGetMetrics(font, FontMetric::Height, &height, style); r != kOk) return r;
  if (Result r = FontGetMetrics(font, FontMetric::Ascent, &ascent, style); r != kOk) return r;

  const PglViewport saved = window->viewport;
  if (clip) {
    window->viewport.x = clip->x;
    window->viewport.y = clip->y;
    window->viewport.width = clip->width;
    window->viewport.height = clip->height;
  }
  const uint32_t mode = style & PwlStyle::Opaque ? PglMode::Recolour
                                                 : PglMode::Recolour | PglMode::Transparent;
  const bool bold = SyntheticBold(font, style);
  const int32_t start = x;
  Result result = kOk;
  for (uint32_t i = 0; i < count; ++i) {
    if (text[i] == kPwlSoftHyphen) continue;
    PglSurface glyph{};
    Result r = FontDrawText(font, text[i], &glyph, style);
    if (r == FontErr::NoGlyph) continue;
    if (r != kOk) {
      result = r;
      break;
    }
    // The glyph's row-bytes word carries its advance.
    const auto advance = static_cast<int32_t>(glyph.rowBytes);
    DrawGlyph(window, &glyph, x, y, advance, style, bold, mode, foreground, background);
    FontStubHook(&glyph);
    x += advance + (bold ? 1 : 0);
  }
  if (result == kOk && x > start) {
    const int32_t last = x - 1;
    if (style & PwlStyle::Underline) {
      const PglRect line{start, y + ascent + 1, last, y + ascent + 1};
      PwlDrawLine(window, &line, 2, foreground);
    }
    if (style & PwlStyle::Strike) {
      const PglRect line{start, y + ascent / 2 + 1, last, y + ascent / 2 + 1};
      PwlDrawLine(window, &line, 2, foreground);
    }
    if (style & PwlStyle::Highlight) {
      const PglRect box{start, y, last, y + height - 1};
      PwlInvertRect(window, &box);
    }
  }
  window->viewport = saved;
  return result;
}
