#include "player/anim_text.h"

#include "player/anim_player.h"
#include "player/anim_raster.h"
#include "player/anim_shape.h"

void AnimFont_Init(AnimFont* font, uint32_t id) {
  *font = AnimFont{};
  AnimChar_InitHeader(&font->header, kAnimFont, id, font);
}

bool AnimFont_SetName(AnimPlayer* p, AnimFont* font, const char* name) {
  char* copy = AnimStr_Dup(p, name);
  if (!copy) return false;
  AnimStr_Free(p, font->name);
  font->name = copy;
  return true;
}

void AnimFont_Free(AnimPlayer* p, AnimFont* font) {
  AnimPlayer_Free(p, font->codes);
  AnimStr_Free(p, font->name);
  for (uint32_t i = font->glyphs ? font->glyphCount : 0; i-- > 0;) AnimPlayer_Free(p, font->glyphs[i].records);
  AnimPlayer_Free(p, font->glyphs);
  AnimPlayer_Free(p, font);
}

void AnimText_Init(AnimText* text, uint32_t id) {
  *text = AnimText{};
  AnimChar_InitHeader(&text->header, kAnimText, id, text);
  AnimRect_SetEmpty(&text->bounds);
  AnimMatrix_SetIdentity(&text->matrix);
}

void AnimText_AppendRecord(AnimText* text, AnimTextRecord* record) {
  record->next = nullptr;
  const AnimTextRecord* named = nullptr;
  AnimTextRecord** tail = &text->records;
  for (; *tail; tail = &(*tail)->next)
    if ((*tail)->flags & 8) named = *tail;
  *tail = record;
  // A record without a font keeps drawing in the last one named, at its
  // height: the height comes only with a font, and without it the record's
  // glyphs would shrink to a point.
  if (!(record->flags & 8) && named) {
    record->font = named->font;
    record->fontId = named->fontId;
    record->height = named->height;
  }
  const AnimFont* font =
      record->font && record->font->type == kAnimFont ? static_cast<const AnimFont*>(record->font->body) : nullptr;
  for (uint32_t i = 0; record->glyphs && i < record->glyphCount; ++i) {
    AnimTextGlyph& g = record->glyphs[i];
    g.code = font && font->codes && g.index < font->glyphCount ? font->codes[g.index] : 0;
  }
}

void AnimText_FreeRecords(AnimPlayer* p, AnimText* text) {
  for (AnimTextRecord* r = text->records; r;) {
    AnimTextRecord* next = r->next;
    AnimPlayer_Free(p, r->glyphs);
    AnimPlayer_Free(p, r);
    r = next;
  }
  text->records = nullptr;
}

void AnimCxform_ApplyColour(const AnimCxform* cx, const uint8_t* in, uint8_t* out) {
  const int32_t mul[4] = {cx->rMul, cx->gMul, cx->bMul, cx->aMul};
  const int32_t add[4] = {cx->rAdd, cx->gAdd, cx->bAdd, cx->aAdd};
  for (int i = 0; i < 4; ++i) {
    const int64_t v = (static_cast<int64_t>(mul[i]) * in[i] + static_cast<int64_t>(add[i]) * 256) >> 8;
    out[i] = static_cast<uint8_t>(v < 1 ? 0 : v > 255 ? 255 : v);
  }
}

uint32_t AnimText_Draw(AnimRaster* r, const AnimText* text, const AnimMatrix* parent, const AnimCxform* cxform) {
  AnimMatrix t;
  AnimMatrix_Concat(&t, parent, &text->matrix);
  int32_t x = 0, y = 0;
  for (const AnimTextRecord* rec = text->records; rec; rec = rec->next) {
    if (rec->flags & 128) {
      if (rec->flags & 1) x = rec->x;
      if (rec->flags & 2) y = rec->y;
      if (rec->flags & 4) {
        const uint8_t colour[4] = {rec->r, rec->g, rec->b, rec->a};
        if (cxform) AnimCxform_ApplyColour(cxform, colour, r->text);
        else for (int i = 0; i < 4; ++i) r->text[i] = colour[i];
        r->text16 = AnimColor_To16(r->text[0], r->text[1], r->text[2]);
      }
    }
    const float scale = static_cast<float>(rec->height) * 0.001f;
    if (!rec->font || rec->font->type != kAnimFont || !rec->glyphs) continue;
    const auto* font = static_cast<const AnimFont*>(rec->font->body);
    for (uint32_t i = 0; i < rec->glyphCount; ++i) {
      const AnimTextGlyph& g = rec->glyphs[i];
      if (g.index < font->glyphCount) {
        const AnimGlyph& glyph = font->glyphs[g.index];
        // A glyph is a shape without style arrays: it fills in the text colour.
        AnimShape shape;
        AnimShape_Init(&shape, 0, 0, nullptr);
        shape.fillBits = glyph.fillBits;
        shape.lineBits = glyph.lineBits;
        shape.records = glyph.records;
        shape.recordSize = glyph.size;
        const AnimMatrix place{scale, 0.0f, 0.0f, scale, x, y};
        AnimMatrix m;
        AnimMatrix_Concat(&m, &t, &place);
        if (AnimShape_Draw(r, &shape, &m, cxform, nullptr) == kAnimShapeAborted) return kAnimShapeAborted;
      }
      x = static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(g.advance));
    }
  }
  return kAnimShapeDrawn;
}
