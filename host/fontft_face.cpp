// Platform fonts: fontconfig resolves a face name to one of the engine's
// own faces (font_config.cpp) and FreeType renders its glyphs monochrome at
// 96 dpi. A character the face lacks comes from the first face in
// fontconfig's order of preference for the same request that has it, placed
// on the face's own baseline. Widths and rendered cells are kept in pages of
// 256 characters, so that a look-up after the first is two loads.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cstring>

#include "host/platform/files.h"
#include "host/fontft_internal.h"

namespace {

constexpr int32_t kDpi = 96;
// A larger em would only render glyphs of megabytes to clip them to 128.
constexpr int32_t kMaxPixels = 1024;
// Bytes of cached cells per face; past it they are dropped and rendered anew.
constexpr uint32_t kGlyphBudget = 1u << 20;
constexpr int16_t kWidthUnknown = -1, kWidthMissing = -2;
constexpr int kPageSize = 256;
constexpr int kFamilyBytes = 64;

// A cached cell; its rows follow it, (width + 7) / 8 bytes each.
struct FontGlyph {
  uint16_t width;
  uint16_t height;
};

struct FontFallback {
  FT_Face face;
  bool embolden;
  bool tried;
};

// Where a character's glyph comes from.
struct FontSource {
  FT_Face face;
  FT_UInt index;
  bool embolden;
};

FT_Library gLibrary = nullptr;
FcConfig* gConfig = nullptr;
// Every face open: an instance, a popup, a button each open theirs, and one
// face mapped and cached once serves every open of the same request.
FontFace* gOpenFaces = nullptr;

}  // namespace

struct FontFace {
  char16_t name[kFontFaceUnits];
  char family[kFamilyBytes];
  int32_t points;
  int32_t pixels;
  bool bold;
  bool fixedPitch;
  bool embolden;  // fontconfig asks for synthetic bold: the face has no bold of its own
  bool sorted;
  FT_Face primary;
  FcPattern* pattern;      // the request, kept for the order of the fallbacks
  FcFontSet* fallbacks;    // sorted when the face first lacks a character
  FontFallback* opened;    // one per fallback, opened when first needed
  int32_t ascent;
  int32_t descent;
  int32_t maxWidth;
  int16_t* widths[kPageSize];
  FontGlyph** glyphs[kPageSize];
  uint32_t glyphBytes;
  uint32_t users;         // the opens it answers: each closes it once
  FontFace* nextOpen;     // the faces open, for the next open of the same one
};

namespace {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
void ToUtf8(const char16_t* in, char* out, size_t size) {
  size_t n = 0;
  for (; *in != u'\0'; ++in) {
    uint32_t c = *in;
    if (c >= 0xD800 && c <= 0xDBFF && in[1] >= 0xDC00 && in[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(in[1]) - 0xDC00);
      ++in;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    char bytes[4];
    size_t len;
    if (c < 0x80) {
      bytes[0] = static_cast<char>(c);
      len = 1;
    } else if (c < 0x800) {
      bytes[0] = static_cast<char>(0xC0 | c >> 6);
      bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
      len = 2;
    } else if (c < 0x10000) {
      bytes[0] = static_cast<char>(0xE0 | c >> 12);
      bytes[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
      len = 3;
    } else {
      bytes[0] = static_cast<char>(0xF0 | c >> 18);
      bytes[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
      len = 4;
    }
    if (n + len + 1 > size) break;
    std::memcpy(out + n, bytes, len);
    n += len;
  }
  out[n] = '\0';
}

// Copies whole UTF-8 sequences only, so a long name is cut between characters.
void CopyUtf8(const char* in, char* out, size_t size) {
  size_t n = 0;
  while (in[n] != '\0') {
    auto lead = static_cast<unsigned char>(in[n]);
    size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (n + len + 1 > size) break;
    n += len;
  }
  std::memcpy(out, in, n);
  out[n] = '\0';
}

// The em size in pixels: points x 96 / 72, rounded half away from zero as
// the desktop's multiply-divide rounds.
int32_t PixelsOf(int32_t points) {
  int64_t scaled = int64_t{points < 0 ? -int64_t{points} : points} * kDpi;
  int64_t pixels = (scaled + 36) / 72;
  return static_cast<int32_t>(std::clamp<int64_t>(pixels, 1, kMaxPixels));
}

FT_Face OpenFile(FcPattern* font, int32_t pixels) {
  FcChar8* file = nullptr;
  int index = 0;
  if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) return nullptr;
  FcPatternGetInteger(font, FC_INDEX, 0, &index);
  FT_Face face = nullptr;
  if (FT_New_Face(gLibrary, reinterpret_cast<const char*>(file), index, &face) != 0) return nullptr;
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  return face;
}

bool Emboldened(FcPattern* font) {
  FcBool embolden = FcFalse;
  FcPatternGetBool(font, FC_EMBOLDEN, 0, &embolden);
  return embolden == FcTrue;
}

void SortFallbacks(FontFace* face) {
  face->sorted = true;
  FcResult result;
  FcFontSet* set = FcFontSort(gConfig, face->pattern, FcTrue, nullptr, &result);
  if (!set) return;
  size_t bytes = sizeof(FontFallback) * static_cast<size_t>(std::max(set->nfont, 1));
  face->opened = static_cast<FontFallback*>(PlatformAlloc(static_cast<uint32_t>(bytes)));
  if (!face->opened) {
    FcFontSetDestroy(set);
    return;
  }
  std::memset(face->opened, 0, bytes);
  face->fallbacks = set;
}

bool FindGlyph(FontFace* face, uint16_t character, FontSource* source) {
  if (FT_UInt index = FT_Get_Char_Index(face->primary, character); index != 0) {
    *source = {face->primary, index, face->embolden};
    return true;
  }
  if (!face->sorted) SortFallbacks(face);
  if (!face->fallbacks) return false;
  for (int i = 0; i < face->fallbacks->nfont; ++i) {
    FcPattern* font = face->fallbacks->fonts[i];
    FcCharSet* set = nullptr;
    if (FcPatternGetCharSet(font, FC_CHARSET, 0, &set) != FcResultMatch ||
        !FcCharSetHasChar(set, character))
      continue;
    FontFallback& fallback = face->opened[i];
    if (!fallback.tried) {
      fallback.tried = true;
      if (FcPattern* ready = FcFontRenderPrepare(gConfig, face->pattern, font)) {
        fallback.face = OpenFile(ready, face->pixels);
        fallback.embolden = Emboldened(ready);
        FcPatternDestroy(ready);
      }
    }
    if (!fallback.face) continue;
    if (FT_UInt index = FT_Get_Char_Index(fallback.face, character); index != 0) {
      *source = {fallback.face, index, fallback.embolden};
      return true;
    }
  }
  return false;
}

// Loads the glyph hinted for monochrome output; its advance then is whole
// pixels.
FT_GlyphSlot Load(const FontSource& source) {
  if (FT_Load_Glyph(source.face, source.index, FT_LOAD_TARGET_MONO) != 0) return nullptr;
  if (source.embolden) FT_GlyphSlot_Embolden(source.face->glyph);
  return source.face->glyph;
}

int32_t AdvanceOf(FT_GlyphSlot slot) {
  return static_cast<int32_t>(std::clamp<FT_Pos>((slot->advance.x + 32) >> 6, 0, INT16_MAX));
}

int32_t CellHeight(const FontFace* face) {
  return std::clamp(face->ascent + face->descent, 0, kFontGlyphSide);
}

// ORs the rendered bitmap into a cleared cell, baseline at `ascent`; what
// falls outside the cell is dropped.
void Place(FT_GlyphSlot slot, int32_t ascent, int32_t width, int32_t height, uint8_t* rows,
           uint32_t pitch) {
  const FT_Bitmap& bitmap = slot->bitmap;
  bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
  // An embedded grey strike is thresholded; colour glyphs have no place here.
  if (!mono && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return;
  int32_t top = ascent - slot->bitmap_top;
  int32_t left = slot->bitmap_left;
  auto rowsIn = static_cast<int32_t>(bitmap.rows);
  auto columns = static_cast<int32_t>(bitmap.width);
  for (int32_t by = std::max(0, -top); by < rowsIn && top + by < height; ++by) {
    const uint8_t* src = bitmap.pitch >= 0 ? bitmap.buffer + by * bitmap.pitch
                                           : bitmap.buffer + (rowsIn - 1 - by) * -bitmap.pitch;
    uint8_t* dst = rows + static_cast<uint32_t>(top + by) * pitch;
    for (int32_t bx = std::max(0, -left); bx < columns && left + bx < width; ++bx) {
      bool ink = mono ? (src[bx >> 3] & (0x80 >> (bx & 7))) != 0 : src[bx] >= 128;
      int32_t x = left + bx;
      if (ink) dst[x >> 3] |= static_cast<uint8_t>(1u << (x & 7));
    }
  }
}

uint8_t* GlyphRows(FontGlyph* glyph) { return reinterpret_cast<uint8_t*>(glyph + 1); }

void DropGlyphs(FontFace* face) {
  for (FontGlyph** page : face->glyphs) {
    if (!page) continue;
    for (int i = 0; i < kPageSize; ++i) {
      PlatformFree(page[i]);
      page[i] = nullptr;
    }
  }
  face->glyphBytes = 0;
}

// The character's cached cell, rendered now when it is not there yet; null
// when the character cannot be drawn or no memory is left for caching.
FontGlyph* CachedGlyph(FontFace* face, uint16_t character) {
  FontGlyph**& page = face->glyphs[character >> 8];
  if (!page) {
    page = static_cast<FontGlyph**>(PlatformAlloc(sizeof(FontGlyph*) * kPageSize));
    if (!page) return nullptr;
    std::memset(page, 0, sizeof(FontGlyph*) * kPageSize);
  }
  if (FontGlyph* glyph = page[character & 0xFF]) return glyph;
  int32_t advance = FontFaceAdvance(face, character);
  if (advance < 0) return nullptr;
  int32_t width = std::min(advance, kFontGlyphSide);
  int32_t height = CellHeight(face);
  auto rowBytes = static_cast<uint32_t>(width + 7) / 8;
  uint32_t size = static_cast<uint32_t>(sizeof(FontGlyph)) + rowBytes * static_cast<uint32_t>(height);
  if (face->glyphBytes + size > kGlyphBudget) DropGlyphs(face);
  auto* glyph = static_cast<FontGlyph*>(PlatformAlloc(size));
  if (!glyph) return nullptr;
  glyph->width = static_cast<uint16_t>(width);
  glyph->height = static_cast<uint16_t>(height);
  if (!FontFaceDrawUncached(face, character, GlyphRows(glyph), rowBytes)) {
    PlatformFree(glyph);
    return nullptr;
  }
  page[character & 0xFF] = glyph;
  face->glyphBytes += size;
  return glyph;
}

}  // namespace

bool FontFaceStartUp() {
  if (!gLibrary && FT_Init_FreeType(&gLibrary) != 0) gLibrary = nullptr;
  if (!gConfig) gConfig = FontConfigCreate();
  return gLibrary && gConfig;
}

namespace {

bool SameName(const char16_t* a, const char16_t* b) {
  size_t i = 0;
  for (; i + 1 < kFontFaceUnits && b && b[i] != u'\0'; ++i)
    if (a[i] != b[i]) return false;
  return a[i] == u'\0';
}

}  // namespace

FontFace* FontFaceOpen(const char16_t* name, int32_t points, bool bold, bool fixedPitch) {
  if (!FontFaceStartUp()) return nullptr;
  for (FontFace* open = gOpenFaces; open; open = open->nextOpen)
    if (open->points == points && open->bold == bold && open->fixedPitch == fixedPitch &&
        SameName(open->name, name)) {
      ++open->users;
      return open;
    }
  auto* face = static_cast<FontFace*>(PlatformAlloc(sizeof(FontFace)));
  if (!face) return nullptr;
  std::memset(face, 0, sizeof *face);
  size_t units = 0;
  for (; name && units + 1 < kFontFaceUnits && name[units] != u'\0'; ++units)
    face->name[units] = name[units];
  face->points = points;
  face->pixels = PixelsOf(points);
  face->bold = bold;
  face->fixedPitch = fixedPitch;

  face->pattern = FcPatternCreate();
  if (!face->pattern) {
    FontFaceClose(&face);
    return nullptr;
  }
  char family[kFontFaceUnits * 3 + 1];
  ToUtf8(face->name, family, sizeof family);
  if (family[0] != '\0')
    FcPatternAddString(face->pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(face->pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  // A face the desktop lacks ("Lucida console") still gives a fixed-pitch
  // face; a named one that is installed wins over the spacing.
  if (fixedPitch) FcPatternAddInteger(face->pattern, FC_SPACING, FC_MONO);
  FcPatternAddDouble(face->pattern, FC_PIXEL_SIZE, face->pixels);
  FcConfigSubstitute(gConfig, face->pattern, FcMatchPattern);
  FcDefaultSubstitute(face->pattern);

  FcResult result;
  if (FcPattern* match = FcFontMatch(gConfig, face->pattern, &result)) {
    face->primary = OpenFile(match, face->pixels);
    face->embolden = Emboldened(match);
    FcChar8* resolved = nullptr;
    if (FcPatternGetString(match, FC_FAMILY, 0, &resolved) == FcResultMatch)
      CopyUtf8(reinterpret_cast<const char*>(resolved), face->family, sizeof face->family);
    FcPatternDestroy(match);
  }
  if (!face->primary) {
    FontFaceClose(&face);
    return nullptr;
  }
  const FT_Size_Metrics& metrics = face->primary->size->metrics;
  face->ascent = static_cast<int32_t>(std::max<FT_Pos>(0, (metrics.ascender + 63) >> 6));
  face->descent = static_cast<int32_t>(std::max<FT_Pos>(0, (63 - metrics.descender) >> 6));
  face->maxWidth = static_cast<int32_t>(std::max<FT_Pos>(0, (metrics.max_advance + 32) >> 6));
  face->users = 1;
  face->nextOpen = gOpenFaces;
  gOpenFaces = face;
  return face;
}

void FontFaceClose(FontFace** pface) {
  FontFace* face = *pface;
  if (!face) return;
  *pface = nullptr;
  // Shared: the last close frees it; one that never opened is no one's.
  if (face->users > 1) {
    --face->users;
    return;
  }
  for (FontFace** at = &gOpenFaces; *at; at = &(*at)->nextOpen)
    if (*at == face) {
      *at = face->nextOpen;
      break;
    }
  DropGlyphs(face);
  for (int i = 0; i < kPageSize; ++i) {
    PlatformFree(face->glyphs[i]);
    PlatformFree(face->widths[i]);
  }
  if (face->fallbacks) {
    for (int i = 0; i < face->fallbacks->nfont; ++i)
      if (face->opened[i].face) FT_Done_Face(face->opened[i].face);
    FcFontSetDestroy(face->fallbacks);
  }
  PlatformFree(face->opened);
  if (face->primary) FT_Done_Face(face->primary);
  if (face->pattern) FcPatternDestroy(face->pattern);
  PlatformFree(face);
}

int32_t FontFaceMetric(const FontFace* face, int32_t which) {
  switch (which) {
    case FontMetric::MaxWidth: return face->maxWidth;
    case FontMetric::Height: return face->ascent + face->descent;
    case FontMetric::Ascent: return face->ascent;
    default: return 0;
  }
}

int32_t FontFaceAdvanceUncached(FontFace* face, uint16_t character) {
  FontSource source;
  if (!FindGlyph(face, character, &source)) return -1;
  FT_GlyphSlot slot = Load(source);
  return slot ? AdvanceOf(slot) : -1;
}

bool FontFaceDrawUncached(FontFace* face, uint16_t character, uint8_t* rows, uint32_t pitch) {
  FontSource source;
  if (!FindGlyph(face, character, &source)) return false;
  FT_GlyphSlot slot = Load(source);
  if (!slot) return false;
  int32_t width = std::min(AdvanceOf(slot), kFontGlyphSide);
  int32_t height = CellHeight(face);
  auto rowBytes = static_cast<size_t>(width + 7) / 8;
  for (int32_t y = 0; y < height; ++y) std::memset(rows + static_cast<uint32_t>(y) * pitch, 0, rowBytes);
  if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0)
    return false;
  Place(slot, face->ascent, width, height, rows, pitch);
  return true;
}

int32_t FontFaceAdvance(FontFace* face, uint16_t character) {
  int16_t*& page = face->widths[character >> 8];
  if (!page) {
    page = static_cast<int16_t*>(PlatformAlloc(sizeof(int16_t) * kPageSize));
    if (!page) return FontFaceAdvanceUncached(face, character);
    std::fill(page, page + kPageSize, kWidthUnknown);
  }
  int16_t& width = page[character & 0xFF];
  if (width == kWidthUnknown) {
    int32_t advance = FontFaceAdvanceUncached(face, character);
    width = advance < 0 ? kWidthMissing : static_cast<int16_t>(advance);
  }
  return width == kWidthMissing ? -1 : width;
}

bool FontFaceDraw(FontFace* face, uint16_t character, uint8_t* rows, uint32_t pitch) {
  FontGlyph* glyph = CachedGlyph(face, character);
  if (!glyph) return FontFaceDrawUncached(face, character, rows, pitch);
  uint32_t rowBytes = (glyph->width + 7u) / 8;
  const uint8_t* src = GlyphRows(glyph);
  for (uint32_t y = 0; y < glyph->height; ++y)
    std::memcpy(rows + y * pitch, src + y * rowBytes, rowBytes);
  return true;
}

void FontDescribeFace(const FontFace* face, FontDescription* out) {
  std::memset(out, 0, sizeof *out);
  if (!face) return;
  std::memcpy(out->face, face->name, sizeof out->face);
  std::memcpy(out->family, face->family, sizeof out->family);
  out->points = face->points;
  out->pixels = face->pixels;
  out->bold = face->bold ? 1 : 0;
  out->fixedPitch = face->fixedPitch ? 1 : 0;
}
