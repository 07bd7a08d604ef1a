// The movie parser: the QVX header, the tag loop, the bit-packed records,
// the frame commands and action lists, the characters kept as they came, and
// QVZ packages. Every read stops at the current tag's end and at the data's
// end; a read past either gives 0 and leaves the cursor at the limit.
#include <cstring>

#include "player/anim_dct.h"
#include "player/anim_movie.h"
#include "player/anim_player.h"
#include "player/anim_stream.h"
#include "player/anim_text.h"

namespace {

void* Alloc(AnimStream* s, uint32_t n) { return AnimPlayer_Alloc(s->player, static_cast<int32_t>(n)); }

uint32_t Left(const AnimStream* s) { return s->cursor < s->limit ? s->limit - s->cursor : 0; }

// The rest of the current record copied into the heap (null when empty).
uint8_t* CopyRest(AnimStream* s, uint32_t* size) {
  *size = Left(s);
  if (*size == 0) return nullptr;
  auto* out = static_cast<uint8_t*>(Alloc(s, *size));
  if (!out) return nullptr;
  std::memcpy(out, s->data + s->cursor, *size);
  s->cursor += *size;
  return out;
}

void SetIdentityCxform(AnimCxform* cx) {
  cx->aMul = cx->rMul = cx->gMul = cx->bMul = 256;
  cx->aAdd = cx->rAdd = cx->gAdd = cx->bAdd = 0;
}

AnimFrame* CurrentFrame(AnimStream* s) {
  AnimClip* clip = s->currentClip;
  if (!clip || clip->framesClosed > clip->frameCount) return nullptr;
  return &clip->frames[clip->framesClosed];
}

void NoteDepth(AnimStream* s, AnimFrame* frame, int32_t depth) {
  AnimDepthNode** bucket = &frame->depths[depth & 15];
  for (AnimDepthNode* n = *bucket; n; n = n->next)
    if (n->depth == depth) return;
  auto* node = static_cast<AnimDepthNode*>(Alloc(s, sizeof(AnimDepthNode)));
  if (!node) return;
  node->depth = depth;
  node->next = *bucket;
  *bucket = node;
}

void FreeCommand(AnimPlayer* p, AnimFrameCommand* c) {
  AnimStr_Free(p, c->name);
  AnimActions_Free(p, c->actions);
  AnimPlayer_Free(p, c->soundInfo);
  AnimPlayer_Free(p, c);
}

AnimFrameCommand* NewCommand(AnimStream* s, uint32_t kind) {
  auto* c = static_cast<AnimFrameCommand*>(Alloc(s, sizeof(AnimFrameCommand)));
  if (!c) return nullptr;
  c->kind = kind;
  AnimMatrix_SetIdentity(&c->matrix);
  SetIdentityCxform(&c->cxform);
  return c;
}

// Appends to the frame being filled; a command past the clip's frame table is dropped.
void Append(AnimStream* s, AnimFrameCommand* c) {
  AnimFrame* frame = CurrentFrame(s);
  if (!frame) {
    FreeCommand(s->player, c);
    return;
  }
  if (frame->last) frame->last->next = c;
  else frame->first = c;
  frame->last = c;
  if (c->kind <= kAnimRemoveDepth) NoteDepth(s, frame, c->depth);
}

void CloseFrame(AnimStream* s) {
  AnimClip* clip = s->currentClip;
  clip->framesAvailable = clip->framesClosed;
  clip->waiting = 0;
  ++clip->framesClosed;
}

void ReadPlace(AnimStream* s) {
  AnimFrameCommand* c = NewCommand(s, kAnimPlace);
  if (!c) return;
  c->character = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
  c->depth = static_cast<int32_t>(AnimParse_ReadU16(s));
  AnimParse_ReadMatrix(s, &c->matrix);
  c->flags = 6;
  if (Left(s) > 0) {
    AnimParse_ReadCxform(s, &c->cxform, false);
    c->flags |= 8;
  }
  Append(s, c);
}

void ReadPlaceFlags(AnimStream* s) {
  AnimFrameCommand* c = NewCommand(s, kAnimPlaceFlags);
  if (!c) return;
  c->flags = AnimParse_ReadU8(s);
  c->depth = static_cast<int32_t>(AnimParse_ReadU16(s));
  if (c->flags & 2) c->character = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
  if (c->flags & 4) AnimParse_ReadMatrix(s, &c->matrix);
  if (c->flags & 8) AnimParse_ReadCxform(s, &c->cxform, true);
  if (c->flags & 16) c->ratio = static_cast<int32_t>(AnimParse_ReadU16(s));
  if (c->flags & 32) {
    c->name = AnimParse_ReadString(s);
    if (!c->name) {
      FreeCommand(s->player, c);
      return;
    }
  }
  if (c->flags & 64) c->clipDepth = static_cast<int32_t>(AnimParse_ReadU16(s));
  Append(s, c);
}

void ReadRemove(AnimStream* s, bool byCharacter) {
  AnimFrameCommand* c = NewCommand(s, byCharacter ? kAnimRemove : kAnimRemoveDepth);
  if (!c) return;
  if (byCharacter) c->character = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
  c->depth = static_cast<int32_t>(AnimParse_ReadU16(s));
  Append(s, c);
}

void ReadBackground(AnimStream* s) {
  AnimFrameCommand* c = NewCommand(s, kAnimBackground);
  if (!c) return;
  for (uint8_t& v : c->color) v = static_cast<uint8_t>(AnimParse_ReadU8(s));
  Append(s, c);
}

void ReadStartSound(AnimStream* s) {
  AnimChar* sound = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
  if (!sound) return;
  const uint32_t flags = AnimParse_ReadU8(s);
  uint32_t loops = 0;
  if (flags & 1) AnimParse_ReadU32(s);
  if (flags & 2) AnimParse_ReadU32(s);
  if (flags & 4) loops = AnimParse_ReadU16(s);
  if (flags & 8) {
    for (uint32_t n = AnimParse_ReadU8(s); n > 0 && Left(s) > 0; --n) {
      AnimParse_ReadU32(s);
      AnimParse_ReadU16(s);
      AnimParse_ReadU16(s);
    }
  }
  AnimFrameCommand* c = NewCommand(s, kAnimStartSound);
  if (!c) return;
  c->character = sound;
  c->soundInfo = static_cast<AnimSoundInfo*>(Alloc(s, sizeof(AnimSoundInfo)));
  if (!c->soundInfo) {
    FreeCommand(s->player, c);
    return;
  }
  c->soundInfo->syncBits = static_cast<uint16_t>(flags >> 4);
  c->soundInfo->loopCount = static_cast<uint16_t>(loops);
  Append(s, c);
}

void ReadActionsTag(AnimStream* s) {
  AnimActionRecord* list = AnimParse_ReadActions(s);
  if (AnimPlayer_Aborted(s->player)) return;
  AnimFrameCommand* c = NewCommand(s, kAnimActions);
  if (!c) {
    AnimActions_Free(s->player, list);
    return;
  }
  c->actions = list;
  Append(s, c);
}

void ReadFrameLabel(AnimStream* s) {
  char* label = AnimParse_ReadString(s);
  if (!label) return;
  AnimFrame* frame = CurrentFrame(s);
  if (frame && !frame->label) frame->label = label;
  else AnimStr_Free(s->player, label);
}

void ReadCaptionOrNotice(AnimStream* s, uint32_t kind) {
  AnimFrameCommand* c = NewCommand(s, kind);
  if (!c) return;
  if (kind == kAnimShowCaption || kind == kAnimHideCaption) {
    c->character = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
  } else if (kind == kAnimNoticeValue) {
    c->depth = static_cast<int32_t>(AnimParse_ReadU16(s));
    c->ratio = -1;
  }
  Append(s, c);
}

void ReadColor(AnimStream* s, bool alpha, uint8_t* r, uint8_t* g, uint8_t* b, uint8_t* a) {
  *r = static_cast<uint8_t>(AnimParse_ReadU8(s));
  *g = static_cast<uint8_t>(AnimParse_ReadU8(s));
  *b = static_cast<uint8_t>(AnimParse_ReadU8(s));
  *a = alpha ? static_cast<uint8_t>(AnimParse_ReadU8(s)) : 255;
}

uint32_t ReadCount(AnimStream* s) {
  uint32_t n = AnimParse_ReadU8(s);
  if (n == 255) n = AnimParse_ReadU16(s);
  return n;
}

// A gradient's colour ramp, cleared; null when the heap has no room (the
// first draw takes one then).
uint8_t* OptionalRamp(AnimStream* s) {
  auto* ramp = static_cast<uint8_t*>(AnimPlayer_TryAlloc(s->player, 2048));
  if (ramp) std::memset(ramp, 0, 2048);
  return ramp;
}

// Fill and line styles; false on a tag error (a count the tag cannot hold).
bool ReadStyles(AnimStream* s, AnimStyleSet* set, bool alpha) {
  set->fillCount = ReadCount(s);
  if (set->fillCount > Left(s)) return false;
  if (set->fillCount) {
    set->fills = static_cast<AnimFillStyle*>(Alloc(s, set->fillCount * sizeof(AnimFillStyle)));
    if (!set->fills) return false;
  }
  for (uint32_t i = 0; i < set->fillCount; ++i) {
    AnimFillStyle& f = set->fills[i];
    const uint32_t type = AnimParse_ReadU8(s);
    AnimMatrix_SetIdentity(&f.matrix);
    if (type & 0x10) {
      f.type = type & 0x12;
      AnimParse_ReadMatrix(s, &f.matrix);
      const uint32_t count = AnimParse_ReadU8(s);
      for (uint32_t k = 0; k < count; ++k) {
        AnimGradientRecord rec{};
        rec.ratio = static_cast<uint8_t>(AnimParse_ReadU8(s));
        ReadColor(s, alpha, &rec.r, &rec.g, &rec.b, &rec.a);
        if (k < 8) f.records[k] = rec;  // more than eight records: the first eight count
      }
      f.count = count < 8 ? count : 8;
      // Without room for the ramp the fill draws as nothing.
      f.ramp = OptionalRamp(s);
      if (!f.ramp) f.type = 128;
    } else if (type & 0x40) {
      f.type = type & 0x41;
      f.bitmapId = AnimParse_ReadU16(s);
      AnimParse_ReadMatrix(s, &f.matrix);
    } else {
      f.type = 0;
      ReadColor(s, alpha, &f.r, &f.g, &f.b, &f.a);
    }
  }
  set->lineCount = ReadCount(s);
  if (set->lineCount > Left(s)) return false;
  if (set->lineCount) {
    set->lines = static_cast<AnimLineStyle*>(Alloc(s, set->lineCount * sizeof(AnimLineStyle)));
    if (!set->lines) return false;
  }
  for (uint32_t i = 0; i < set->lineCount; ++i) {
    AnimLineStyle& l = set->lines[i];
    l.width = AnimParse_ReadU16(s);
    ReadColor(s, alpha, &l.r, &l.g, &l.b, &l.a);
  }
  return true;
}

void ReadShape(AnimStream* s, bool alpha) {
  auto* shape = static_cast<AnimShape*>(Alloc(s, sizeof(AnimShape)));
  if (!shape) return;
  AnimShape_Init(shape, static_cast<uint16_t>(AnimParse_ReadU16(s)), alpha ? 1 : 0, &s->dictionary);
  AnimParse_ReadRect(s, &shape->bounds);
  if (!ReadStyles(s, &shape->styles, alpha)) {
    AnimChar_Free(s->player, &shape->header);
    s->errorFlag = 1;
    return;
  }
  AnimParse_AlignBits(s);
  shape->fillBits = static_cast<uint8_t>(AnimParse_ReadBits(s, 4));
  shape->lineBits = static_cast<uint8_t>(AnimParse_ReadBits(s, 4));
  shape->records = CopyRest(s, &shape->recordSize);
  if (AnimPlayer_Aborted(s->player)) {
    AnimChar_Free(s->player, &shape->header);
    return;
  }
  AnimDict_Add(s, &shape->header);
}

// Coded bitmaps: the id, then the rest of the tag as the coded image,
// decoded only when a fill draws it.
void ReadBitmap(AnimStream* s) {
  auto* bitmap = static_cast<AnimBitmap*>(Alloc(s, sizeof(AnimBitmap)));
  if (!bitmap) return;
  AnimBitmap_Init(bitmap, AnimParse_ReadU16(s), 0);
  uint32_t size = 0;
  bitmap->data = CopyRest(s, &size);
  if (AnimPlayer_Aborted(s->player)) {
    AnimChar_Free(s->player, &bitmap->header);
    return;
  }
  bitmap->codedLength = static_cast<int32_t>(size);
  AnimDict_Add(s, &bitmap->header);
}

void ReadRgba(AnimStream* s, uint8_t* c) {
  for (int i = 0; i < 4; ++i) c[i] = static_cast<uint8_t>(AnimParse_ReadU8(s));
}

// Morph shape: both bounds, the offset of the end edges, start and end styles, both edge sets.
void ReadMorph(AnimStream* s) {
  auto* m = static_cast<AnimMorph*>(Alloc(s, sizeof(AnimMorph)));
  if (!m) return;
  AnimMorph_Init(m, static_cast<uint16_t>(AnimParse_ReadU16(s)), &s->dictionary);
  AnimParse_ReadRect(s, &m->bounds);
  AnimParse_ReadRect(s, &m->endBounds);
  const uint32_t offset = AnimParse_ReadU32(s);
  const uint64_t endEdges = static_cast<uint64_t>(s->cursor) + offset;
  bool ok = true;
  m->fillCount = ReadCount(s);
  if (m->fillCount > Left(s)) ok = false;
  if (ok && m->fillCount) {
    m->fills = static_cast<AnimMorphFill*>(Alloc(s, m->fillCount * sizeof(AnimMorphFill)));
    ok = m->fills != nullptr;
  }
  for (uint32_t i = 0; ok && i < m->fillCount; ++i) {
    AnimMorphFill& f = m->fills[i];
    const uint32_t type = AnimParse_ReadU8(s);
    AnimMatrix_SetIdentity(&f.startMatrix);
    AnimMatrix_SetIdentity(&f.endMatrix);
    if (type & 0x10) {
      f.type = type & 0x12;
      AnimParse_ReadMatrix(s, &f.startMatrix);
      AnimParse_ReadMatrix(s, &f.endMatrix);
      const uint32_t count = AnimParse_ReadU8(s);
      for (uint32_t k = 0; k < count; ++k) {
        AnimMorphGradientRecord rec{};
        rec.startRatio = static_cast<uint8_t>(AnimParse_ReadU8(s));
        ReadRgba(s, rec.startColor);
        rec.endRatio = static_cast<uint8_t>(AnimParse_ReadU8(s));
        ReadRgba(s, rec.endColor);
        if (k < 8) f.records[k] = rec;
      }
      f.count = count < 8 ? count : 8;
      f.startRamp = OptionalRamp(s);
      f.endRamp = f.startRamp ? OptionalRamp(s) : nullptr;
      if (!f.endRamp) f.type = 128;
    } else if (type & 0x40) {
      f.type = type & 0x41;
      f.bitmapId = AnimParse_ReadU16(s);
      AnimParse_ReadMatrix(s, &f.startMatrix);
      AnimParse_ReadMatrix(s, &f.endMatrix);
    } else {
      f.type = 0;
      ReadRgba(s, f.start);
      ReadRgba(s, f.end);
    }
  }
  if (ok) {
    m->lineCount = ReadCount(s);
    if (m->lineCount > Left(s)) ok = false;
  }
  if (ok && m->lineCount) {
    m->lines = static_cast<AnimMorphLine*>(Alloc(s, m->lineCount * sizeof(AnimMorphLine)));
    ok = m->lines != nullptr;
  }
  for (uint32_t i = 0; ok && i < m->lineCount; ++i) {
    AnimMorphLine& l = m->lines[i];
    l.startWidth = AnimParse_ReadU16(s);
    l.endWidth = AnimParse_ReadU16(s);
    ReadRgba(s, l.start);
    ReadRgba(s, l.end);
  }
  if (ok) {
    AnimParse_AlignBits(s);
    m->fillBits = static_cast<uint8_t>(AnimParse_ReadBits(s, 4));
    m->lineBits = static_cast<uint8_t>(AnimParse_ReadBits(s, 4));
    // The start edges end where the offset points (never past the tag); the end edges fill the rest.
    const uint32_t tagEnd = s->limit;
    uint32_t split = endEdges < tagEnd ? static_cast<uint32_t>(endEdges) : tagEnd;
    if (split < s->cursor) split = s->cursor;
    s->limit = split;
    m->startEdges = CopyRest(s, &m->startSize);
    s->limit = tagEnd;
    s->cursor = split;
    if (!AnimPlayer_Aborted(s->player)) m->endEdges = CopyRest(s, &m->endSize);
  }
  if (!ok || AnimPlayer_Aborted(s->player)) {
    if (!ok) s->errorFlag = 1;
    AnimChar_Free(s->player, &m->header);
    return;
  }
  AnimDict_Add(s, &m->header);
}

// One glyph's shape: index bits, then its records up to end.
bool ReadGlyph(AnimStream* s, AnimGlyph* g, uint64_t start, uint64_t end) {
  const uint32_t saved = s->limit;
  if (end > saved) end = saved;
  if (start > end) start = end;
  s->cursor = static_cast<uint32_t>(start);
  s->limit = static_cast<uint32_t>(end);
  AnimParse_AlignBits(s);
  g->fillBits = static_cast<uint8_t>(AnimParse_ReadBits(s, 4));
  g->lineBits = static_cast<uint8_t>(AnimParse_ReadBits(s, 4));
  g->records = CopyRest(s, &g->size);
  s->limit = saved;
  return !AnimPlayer_Aborted(s->player);
}

uint32_t ReadOffset(AnimStream* s, bool wide) { return wide ? AnimParse_ReadU32(s) : AnimParse_ReadU16(s); }

AnimFont* NewFont(AnimStream* s, uint32_t id, uint32_t glyphs) {
  auto* font = static_cast<AnimFont*>(Alloc(s, sizeof(AnimFont)));
  if (!font) return nullptr;
  AnimFont_Init(font, id);
  if (!AnimFont_SetName(s->player, font, "Unknown")) {
    AnimChar_Free(s->player, &font->header);
    return nullptr;
  }
  font->glyphCount = glyphs;
  if (glyphs) {
    font->glyphs = static_cast<AnimGlyph*>(Alloc(s, glyphs * sizeof(AnimGlyph)));
    if (!font->glyphs) {
      AnimChar_Free(s->player, &font->header);
      return nullptr;
    }
  }
  return font;
}

// Font (10): glyph offsets from the table's start; the first one gives the count.
void ReadFont(AnimStream* s) {
  const uint32_t id = AnimParse_ReadU16(s);
  const uint32_t table = s->cursor;
  const uint32_t first = AnimParse_ReadU16(s);
  const uint32_t count = first / 2;
  if (count * 2 > s->limit - table) {
    s->errorFlag = 1;
    return;
  }
  AnimFont* font = NewFont(s, id, count);
  if (!font) return;
  for (uint32_t i = 0; i < count; ++i) {
    s->cursor = table + 2 * i;
    const uint32_t from = AnimParse_ReadU16(s);
    const uint32_t to = i + 1 < count ? AnimParse_ReadU16(s) : s->limit - table;
    if (!ReadGlyph(s, &font->glyphs[i], static_cast<uint64_t>(table) + from, static_cast<uint64_t>(table) + to)) {
      AnimChar_Free(s->player, &font->header);
      return;
    }
  }
  s->cursor = s->limit;
  AnimDict_Add(s, &font->header);
}

// Font with layout (48): flags, name, glyphs, code table and the layout, which is read and dropped.
void ReadFontWithLayout(AnimStream* s) {
  const uint32_t id = AnimParse_ReadU16(s);
  const uint32_t flags = AnimParse_ReadU16(s) & 0xFF;
  const bool wideOffsets = flags & 8, wideCodes = flags & 4;
  const uint32_t nameLength = AnimParse_ReadU8(s);
  const uint32_t nameAt = s->cursor;
  const uint32_t nameEnd = nameAt + nameLength < s->limit ? nameAt + nameLength : s->limit;
  s->cursor = nameEnd;
  const uint32_t count = AnimParse_ReadU16(s);
  const uint32_t width = wideOffsets ? 4 : 2;
  const uint32_t table = s->cursor;
  if (static_cast<uint64_t>(count + 1) * width > s->limit - table) {
    s->errorFlag = 1;
    return;
  }
  AnimFont* font = NewFont(s, id, count);
  if (!font) return;
  font->flags = flags;
  char* name = AnimStr_DupN(s->player, reinterpret_cast<const char*>(s->data + nameAt), nameEnd - nameAt);
  if (name) {
    AnimFont_SetName(s->player, font, name);
    AnimStr_Free(s->player, name);
  }
  if (name && count) font->codes = static_cast<uint16_t*>(Alloc(s, count * 2));
  if (!name || AnimPlayer_Aborted(s->player) || (count && !font->codes)) {
    AnimChar_Free(s->player, &font->header);
    return;
  }
  s->cursor = table + count * width;
  const uint32_t codeTable = ReadOffset(s, wideOffsets);
  for (uint32_t i = 0; i < count; ++i) {
    s->cursor = table + i * width;
    const uint32_t from = ReadOffset(s, wideOffsets);
    const uint32_t to = ReadOffset(s, wideOffsets);  // the next glyph's, or the code table's for the last
    if (!ReadGlyph(s, &font->glyphs[i], static_cast<uint64_t>(table) + from, static_cast<uint64_t>(table) + to)) {
      AnimChar_Free(s->player, &font->header);
      return;
    }
  }
  s->cursor = static_cast<uint64_t>(table) + codeTable < s->limit ? table + codeTable : s->limit;
  for (uint32_t i = 0; i < count; ++i)
    font->codes[i] = static_cast<uint16_t>(wideCodes ? AnimParse_ReadU16(s) : AnimParse_ReadU8(s));
  if (flags & 128) {
    AnimParse_ReadU16(s);
    AnimParse_ReadU16(s);
    AnimParse_ReadU16(s);
    for (uint32_t i = 0; i < count && Left(s) > 0; ++i) AnimParse_ReadU16(s);
    AnimRect bounds;
    for (uint32_t i = 0; i < count && Left(s) > 0; ++i) AnimParse_ReadRect(s, &bounds);
    for (uint32_t n = AnimParse_ReadU16(s); n > 0 && Left(s) > 0; --n) {
      if (wideCodes) {
        AnimParse_ReadU16(s);
        AnimParse_ReadU16(s);
      } else {
        AnimParse_ReadU8(s);
        AnimParse_ReadU8(s);
      }
      AnimParse_ReadU16(s);
    }
  }
  AnimDict_Add(s, &font->header);
}

void ReadFontInfo(AnimStream* s) {
  AnimChar* found = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
  if (!found || found->type != kAnimFont) {
    s->errorFlag = 1;
    return;
  }
  auto* font = static_cast<AnimFont*>(found->body);
  const uint32_t nameLength = AnimParse_ReadU8(s);
  const uint32_t nameAt = s->cursor;
  const uint32_t nameEnd = nameAt + nameLength < s->limit ? nameAt + nameLength : s->limit;
  char* name = AnimStr_DupN(s->player, reinterpret_cast<const char*>(s->data + nameAt), nameEnd - nameAt);
  if (!name) return;
  s->cursor = nameEnd;
  const uint32_t flags = AnimParse_ReadU8(s);
  uint16_t* codes = nullptr;
  if (font->glyphCount) {
    codes = static_cast<uint16_t*>(Alloc(s, font->glyphCount * 2));
    if (!codes) {
      AnimStr_Free(s->player, name);
      return;
    }
  }
  for (uint32_t i = 0; i < font->glyphCount; ++i)
    codes[i] = static_cast<uint16_t>((flags & 1) ? AnimParse_ReadU16(s) : AnimParse_ReadU8(s));
  const bool named = AnimFont_SetName(s->player, font, name);
  AnimStr_Free(s->player, name);
  if (!named) {
    AnimPlayer_Free(s->player, codes);
    return;
  }
  AnimPlayer_Free(s->player, font->codes);
  font->flags = flags;
  font->codes = codes;
}

void ReadText(AnimStream* s, bool alpha) {
  auto* text = static_cast<AnimText*>(Alloc(s, sizeof(AnimText)));
  if (!text) return;
  AnimText_Init(text, AnimParse_ReadU16(s));
  AnimParse_ReadRect(s, &text->bounds);
  AnimParse_ReadMatrix(s, &text->matrix);
  text->glyphBits = s->glyphBits = AnimParse_ReadU8(s);
  text->advanceBits = s->advanceBits = AnimParse_ReadU8(s);
  while (Left(s) > 0) {
    const uint32_t head = AnimParse_ReadU8(s);
    if (head == 0) break;
    auto* r = static_cast<AnimTextRecord*>(Alloc(s, sizeof(AnimTextRecord)));
    if (!r) break;
    uint32_t count = head;
    if (head >= 128) {
      r->flags = head;
      if (head & 8) {
        r->fontId = AnimParse_ReadU16(s);
        r->font = AnimDict_Find(s->dictionary, r->fontId);
      }
      if (head & 4) ReadColor(s, alpha, &r->r, &r->g, &r->b, &r->a);
      if (head & 1) r->x = static_cast<int16_t>(AnimParse_ReadU16(s));
      if (head & 2) r->y = static_cast<int16_t>(AnimParse_ReadU16(s));
      if (head & 8) r->height = AnimParse_ReadU16(s);
      count = AnimParse_ReadU8(s);
    }
    r->glyphCount = count;
    if (count) {
      r->glyphs = static_cast<AnimTextGlyph*>(Alloc(s, count * sizeof(AnimTextGlyph)));
      if (!r->glyphs) {
        AnimPlayer_Free(s->player, r);
        break;
      }
    }
    for (uint32_t i = 0; i < count; ++i) {
      r->glyphs[i].index = AnimParse_ReadBits(s, s->glyphBits > 32 ? 32 : s->glyphBits);
      r->glyphs[i].advance = AnimParse_ReadSBits(s, s->advanceBits > 32 ? 32 : s->advanceBits);
    }
    AnimText_AppendRecord(text, r);
  }
  if (AnimPlayer_Aborted(s->player)) {
    AnimChar_Free(s->player, &text->header);
    return;
  }
  AnimDict_Add(s, &text->header);
}

uint32_t TagLoop(AnimStream* s, uint32_t flags, uint32_t end, bool* ended);

uint32_t ReadSprite(AnimStream* s) {
  const uint32_t id = AnimParse_ReadU16(s);
  const uint32_t frames = AnimParse_ReadU16(s);
  if (frames == 0) return 0;
  auto* sprite = static_cast<AnimSprite*>(Alloc(s, sizeof(AnimSprite)));
  if (!sprite) return 0;
  if (!AnimSprite_Init(sprite, s->player, id, frames)) {
    AnimChar_Free(s->player, &sprite->header);
    return 0;
  }
  // Until what it shows is measured, the sprite has the movie's frame size.
  sprite->clip->frameRect = s->frameRect;
  sprite->clip->width = (s->frameRect.xmax - s->frameRect.xmin) / 20;
  sprite->clip->height = (s->frameRect.ymax - s->frameRect.ymin) / 20;
  AnimClip* outer = s->currentClip;
  const uint32_t tagEnd = s->limit;
  s->currentClip = sprite->clip;
  bool ended = false;
  const uint32_t inner = TagLoop(s, 0, tagEnd, &ended);
  s->currentClip = outer;
  s->limit = tagEnd;
  AnimClip_Rewind(sprite->clip);
  const bool failed = AnimPlayer_Aborted(s->player) || (inner & (kAnimTagFailed | kAnimSoundRefused)) ||
                      ((inner & kAnimEnd) && !ended);
  if (failed) {
    AnimChar_Free(s->player, &sprite->header);
    return inner & kAnimSoundRefused;
  }
  AnimDict_Add(s, &sprite->header);
  return 0;
}

uint32_t Dispatch(AnimStream* s, uint32_t code) {
  switch (code) {
    case 1: CloseFrame(s); return kAnimFrameClosed;
    case 521: case 522: case 523:
      AnimParse_ReadU8(s);
      ReadShape(s, code == 523);
      return 0;
    case 2: case 22: case 32: ReadShape(s, code == 32); return 0;
    case 3: AnimParse_ReadU16(s); return 0;
    case 4: ReadPlace(s); return 0;
    case 5: ReadRemove(s, true); return 0;
    case 28: ReadRemove(s, false); return 0;
    case 7: AnimButton_ReadTag(s, false); return 0;
    case 34: AnimButton_ReadTag(s, true); return 0;
    case 23: AnimButton_ReadCxformTag(s); return 0;
    case 9: ReadBackground(s); return 0;
    case 524: case 525:
      AnimParse_ReadU8(s);
      if (code == 524) ReadFont(s);
      else ReadFontWithLayout(s);
      return 0;
    case 10: ReadFont(s); return 0;
    case 48: ReadFontWithLayout(s); return 0;
    case 11: case 33: ReadText(s, code == 33); return 0;
    case 46: ReadMorph(s); return 0;
    case 513: ReadBitmap(s); return 0;
    case 12: ReadActionsTag(s); return 0;
    case 13: ReadFontInfo(s); return 0;
    case 15: ReadStartSound(s); return 0;
    case 26: ReadPlaceFlags(s); return 0;
    case 37: AnimEditText_ReadTag(s); return 0;
    case 39: return ReadSprite(s);
    case 43: ReadFrameLabel(s); return 0;
    case 514: return AnimSound_ReadTag(s);
    case 560: ReadCaptionOrNotice(s, kAnimShowCaption); return 0;
    case 561: ReadCaptionOrNotice(s, kAnimHideCaption); return 0;
    case 562: ReadCaptionOrNotice(s, kAnimNoticeValue); return 0;
    case 563: ReadCaptionOrNotice(s, kAnimNotice); return 0;
    default: return 0;  // 0 (handled by the loop), 40 and every unknown code
  }
}

uint32_t TagLoop(AnimStream* s, uint32_t flags, uint32_t end, bool* ended) {
  for (;;) {
    const uint32_t start = s->cursor;
    s->limit = end;
    s->bitsLeft = 0;
    if (start > end || end - start < 2) return flags | kAnimNeedMore;
    const uint32_t v = AnimParse_ReadU16(s);
    const uint32_t code = v >> 6;
    uint32_t length = v & 63;
    uint32_t header = 2;
    if (length == 63) {
      if (end - start < 6) {
        s->cursor = start;
        return flags | kAnimNeedMore;
      }
      length = AnimParse_ReadU32(s);
      header = 6;
    }
    const uint64_t tagEnd = static_cast<uint64_t>(start) + header + length;
    if (tagEnd > end) {
      s->cursor = start;
      return flags | kAnimEnd;
    }
    s->tagStart = start;
    s->tagEnd = static_cast<uint32_t>(tagEnd);
    s->tagLength = length;
    s->limit = s->tagEnd;
    const uint32_t result = code == 0 ? 0 : Dispatch(s, code);
    s->cursor = static_cast<uint32_t>(tagEnd);
    s->limit = end;
    s->bitsLeft = 0;
    if (AnimPlayer_Aborted(s->player)) return flags;
    flags |= result;
    if (s->errorFlag) return flags | kAnimTagFailed;
    if (result & kAnimSoundRefused) return flags;
    if (code == 0) {
      CloseFrame(s);
      s->currentClip->framesLoaded = s->currentClip->frameCount;
      *ended = true;
      return flags | kAnimEnd;
    }
  }
}

void AddPending(AnimStream* s, AnimActionRecord* rec) {
  AnimActionRecord** bucket = &s->pending[rec->target & 31];
  rec->pendingNext = *bucket;
  *bucket = rec;
}

void ResolveBranches(AnimStream* s, AnimActionRecord* list) {
  for (AnimActionRecord* r = list; r; r = r->next) {
    AnimActionRecord** link = &s->pending[r->offset & 31];
    while (*link) {
      AnimActionRecord* b = *link;
      if (b->target == static_cast<int32_t>(r->offset)) {
        b->branch = r;
        *link = b->pendingNext;
        b->pendingNext = nullptr;
      } else {
        link = &b->pendingNext;
      }
    }
  }
  for (auto& bucket : s->pending) {
    for (AnimActionRecord* b = bucket; b;) {
      AnimActionRecord* next = b->pendingNext;
      b->pendingNext = nullptr;
      b = next;
    }
    bucket = nullptr;
  }
}

}  // namespace

void AnimStream_Init(AnimStream* s, AnimPlayer* player, uint32_t level) {
  std::memset(s, 0, sizeof *s);
  s->player = player;
  s->level = level;
  s->headerPending = 1;
  AnimRect_SetEmpty(&s->frameRect);
}

void AnimStream_Free(AnimStream* s) {
  AnimDict_FreeAll(s->player, &s->dictionary);
  AnimClip_Free(s->player, s->root);
  AnimPlayer* player = s->player;
  const uint32_t level = s->level;
  AnimStream_Init(s, player, level);
}

uint32_t AnimParse_ReadU8(AnimStream* s) {
  s->bitsLeft = 0;
  if (s->cursor >= s->limit) return 0;
  return s->data[s->cursor++];
}

uint32_t AnimParse_ReadU16(AnimStream* s) {
  const uint32_t lo = AnimParse_ReadU8(s);
  return lo | (AnimParse_ReadU8(s) << 8);
}

uint32_t AnimParse_ReadU32(AnimStream* s) {
  const uint32_t lo = AnimParse_ReadU16(s);
  return lo | (AnimParse_ReadU16(s) << 16);
}

char* AnimParse_ReadString(AnimStream* s) {
  s->bitsLeft = 0;
  const uint32_t start = s->cursor < s->limit ? s->cursor : s->limit;
  uint32_t end = start;
  while (end < s->limit && s->data[end] != 0) ++end;
  s->cursor = end < s->limit ? end + 1 : end;
  return AnimStr_DupN(s->player, reinterpret_cast<const char*>(s->data + start), end - start);
}

void AnimParse_AlignBits(AnimStream* s) { s->bitsLeft = 0; }

uint32_t AnimParse_ReadBits(AnimStream* s, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (s->bitsLeft == 0) {
      s->bitByte = AnimParse_ReadU8(s);
      s->bitsLeft = 8;
    }
    --s->bitsLeft;
    v = (v << 1) | ((s->bitByte >> s->bitsLeft) & 1);
  }
  return v;
}

int32_t AnimParse_ReadSBits(AnimStream* s, uint32_t n) {
  const uint32_t v = AnimParse_ReadBits(s, n);
  if (n == 0 || n >= 32) return static_cast<int32_t>(v);
  if (v & (1u << (n - 1))) return static_cast<int32_t>(v | ~((1u << n) - 1));
  return static_cast<int32_t>(v);
}

void AnimParse_ReadRect(AnimStream* s, AnimRect* r) {
  AnimParse_AlignBits(s);
  const uint32_t n = AnimParse_ReadBits(s, 5);
  r->xmin = AnimParse_ReadSBits(s, n);
  r->xmax = AnimParse_ReadSBits(s, n);
  r->ymin = AnimParse_ReadSBits(s, n);
  r->ymax = AnimParse_ReadSBits(s, n);
}

void AnimParse_ReadMatrix(AnimStream* s, AnimMatrix* m) {
  AnimParse_AlignBits(s);
  m->a = m->d = 1.0f;
  m->b = m->c = 0.0f;
  if (AnimParse_ReadBits(s, 1)) {
    const uint32_t n = AnimParse_ReadBits(s, 5);
    m->a = static_cast<float>(AnimParse_ReadSBits(s, n)) / 65536.0f;
    m->d = static_cast<float>(AnimParse_ReadSBits(s, n)) / 65536.0f;
  }
  if (AnimParse_ReadBits(s, 1)) {
    const uint32_t n = AnimParse_ReadBits(s, 5);
    m->c = static_cast<float>(AnimParse_ReadSBits(s, n)) / 65536.0f;  // rotate-skew 0
    m->b = static_cast<float>(AnimParse_ReadSBits(s, n)) / 65536.0f;  // rotate-skew 1
  }
  const uint32_t n = AnimParse_ReadBits(s, 5);
  m->tx = AnimParse_ReadSBits(s, n);
  m->ty = AnimParse_ReadSBits(s, n);
}

void AnimParse_ReadCxform(AnimStream* s, AnimCxform* cx, bool alpha) {
  AnimParse_AlignBits(s);
  const uint32_t has = AnimParse_ReadBits(s, 2);
  const uint32_t n = AnimParse_ReadBits(s, 4);
  SetIdentityCxform(cx);
  if (has & 1) {
    cx->rMul = AnimParse_ReadSBits(s, n);
    cx->gMul = AnimParse_ReadSBits(s, n);
    cx->bMul = AnimParse_ReadSBits(s, n);
    if (alpha) cx->aMul = AnimParse_ReadSBits(s, n);
  }
  if (has & 2) {
    cx->rAdd = AnimParse_ReadSBits(s, n);
    cx->gAdd = AnimParse_ReadSBits(s, n);
    cx->bAdd = AnimParse_ReadSBits(s, n);
    if (alpha) cx->aAdd = AnimParse_ReadSBits(s, n);
  }
}

AnimActionRecord* AnimParse_ReadActions(AnimStream* s) {
  AnimActionRecord* head = nullptr;
  AnimActionRecord* tail = nullptr;
  uint32_t offset = 0;
  while (Left(s) > 0) {
    const uint32_t code = AnimParse_ReadU8(s);
    if (code == 0) break;
    auto* rec = static_cast<AnimActionRecord*>(Alloc(s, sizeof(AnimActionRecord)));
    if (!rec) break;
    rec->code = code;
    rec->offset = offset;
    if (tail) tail->next = rec;
    else head = rec;
    tail = rec;
    if (code < 0x80) {
      offset += 1;
      continue;
    }
    const uint32_t length = AnimParse_ReadU16(s);
    const uint32_t outerLimit = s->limit;
    const uint32_t payloadEnd =
        static_cast<uint64_t>(s->cursor) + length < outerLimit ? s->cursor + length : outerLimit;
    s->limit = payloadEnd;
    switch (code) {
      case 129: rec->number1 = static_cast<int32_t>(AnimParse_ReadU16(s)); break;
      case 131:
        rec->string1 = AnimParse_ReadString(s);
        if (rec->string1) rec->string2 = AnimParse_ReadString(s);
        break;
      case 138:
        rec->number1 = static_cast<int32_t>(AnimParse_ReadU16(s));
        rec->number2 = static_cast<int32_t>(AnimParse_ReadU8(s));
        break;
      case 139: case 140: rec->string2 = AnimParse_ReadString(s); break;
      case 141: rec->number2 = static_cast<int32_t>(AnimParse_ReadU8(s)); break;
      case 150:
        if (AnimParse_ReadU8(s) == 1) {
          const uint32_t bits = AnimParse_ReadU32(s);
          float f;
          std::memcpy(&f, &bits, 4);
          rec->number1 = 16384;
          for (int32_t k = 0; k <= 18; ++k)
            if (f == static_cast<float>(k)) rec->number1 = k;
        } else {
          rec->string2 = AnimParse_ReadString(s);
        }
        break;
      case 153: case 157:
        rec->target = static_cast<int32_t>(offset + 3 + length) +
                      static_cast<int16_t>(static_cast<uint16_t>(AnimParse_ReadU16(s)));
        AddPending(s, rec);
        break;
      case 154: rec->number3 = static_cast<int32_t>(AnimParse_ReadU8(s) & 3); break;
      case 159: rec->number3 = static_cast<int32_t>(AnimParse_ReadU8(s)); break;
      default: break;
    }
    s->cursor = payloadEnd;
    s->limit = outerLimit;
    offset += 3 + length;
    if (AnimPlayer_Aborted(s->player)) break;
  }
  ResolveBranches(s, head);
  if (AnimPlayer_Aborted(s->player)) {
    AnimActions_Free(s->player, head);
    return nullptr;
  }
  return head;
}

void AnimActions_Free(AnimPlayer* p, AnimActionRecord* list) {
  while (list) {
    AnimActionRecord* next = list->next;
    AnimStr_Free(p, list->string1);
    AnimStr_Free(p, list->string2);
    AnimPlayer_Free(p, list);
    list = next;
  }
}

AnimClip* AnimClip_Create(AnimPlayer* p, uint32_t frameCount) {
  auto* clip = static_cast<AnimClip*>(AnimPlayer_Alloc(p, sizeof(AnimClip)));
  if (!clip) return nullptr;
  clip->frameCount = frameCount;
  const uint64_t bytes = static_cast<uint64_t>(frameCount + 1) * sizeof(AnimFrame);
  clip->frames = bytes < 0x7FFFFFFF ? static_cast<AnimFrame*>(AnimPlayer_Alloc(p, static_cast<int32_t>(bytes)))
                                    : nullptr;
  if (!clip->frames) {
    p->heap.abortFlag = 1;
    AnimPlayer_Free(p, clip);
    return nullptr;
  }
  AnimClip_Init(clip, nullptr);
  return clip;
}

namespace {

void FreeFrames(AnimPlayer* p, AnimFrame* frames, uint32_t count) {
  if (!frames) return;
  for (uint32_t i = 0; i <= count; ++i) {
    AnimFrame& f = frames[i];
    AnimStr_Free(p, f.label);
    for (AnimFrameCommand* c = f.first; c;) {
      AnimFrameCommand* following = c->next;
      FreeCommand(p, c);
      c = following;
    }
    for (AnimDepthNode* bucket : f.depths) {
      while (bucket) {
        AnimDepthNode* following = bucket->next;
        AnimPlayer_Free(p, bucket);
        bucket = following;
      }
    }
  }
  AnimPlayer_Free(p, frames);
}

}  // namespace

void AnimClip_Free(AnimPlayer* p, AnimClip* clip) {
  // The clip and the instance clips chained behind it; only the first owns
  // the frame table the others borrow.
  while (clip) {
    AnimClip* next = clip->nextLevel;
    for (AnimDisplayObject* o = clip->list.first; o;) {
      AnimDisplayObject* following = o->next;
      AnimDisplay_FreeObject(p, o);
      o = following;
    }
    AnimStr_Free(p, clip->name);
    if (!(clip->flagWord & kAnimClipBorrowed)) FreeFrames(p, clip->frames, clip->frameCount);
    FreeFrames(p, clip->ownFrames, clip->ownFrameCount);
    AnimPlayer_Free(p, clip);
    clip = next;
  }
}

void AnimClip_Rewind(AnimClip* clip) { clip->currentFrame = clip->nextFrame = 0; }

uint32_t AnimParse_Tags(AnimStream* s, uint32_t flags) {
  bool ended = false;
  return TagLoop(s, flags, s->available, &ended);
}

uint32_t AnimMovie_ReadHeader(AnimStream* s, const uint8_t* data, uint32_t available) {
  if (!s->headerPending) {
    s->data = data;
    s->available = available < s->totalLength ? available : s->totalLength;
    return AnimParse_Tags(s, 0);
  }
  if (!data || available < 21) return kAnimNeedMore;
  if (data[0] != 'Q' || data[1] != 'V' || data[2] != 'X') return 0;
  const uint32_t total = data[4] | (data[5] << 8) | (data[6] << 16) | (static_cast<uint32_t>(data[7]) << 24);
  if (available < total) return kAnimNeedMore;
  if (total < 66) return 0;
  s->data = data;
  s->version = data[3];
  s->totalLength = total;
  s->available = total;
  s->cursor = 8;
  s->limit = total;
  AnimParse_ReadRect(s, &s->frameRect);
  s->frameRate = AnimParse_ReadU16(s) >> 8;
  if (s->frameRate == 0) s->frameRate = 1;  // the frame clock divides by it
  s->frameCount = AnimParse_ReadU16(s);
  s->reservedA = AnimParse_ReadU8(s);
  s->cursor = s->cursor + 40 < total ? s->cursor + 40 : total;
  s->reservedB = AnimParse_ReadU8(s);
  AnimParse_ReadU8(s);
  AnimParse_ReadU16(s);
  s->root = AnimClip_Create(s->player, s->frameCount);
  if (!s->root) return 0;
  s->currentClip = s->root;
  s->headerPending = 0;
  return AnimParse_Tags(s, kAnimHeaderRead);
}

const uint8_t* AnimPackage_Unpack(AnimPackage* package, const uint8_t* data, uint32_t length, uint32_t* size) {
  package->count = 0;
  *size = 0;
  if (!data || length < 3 || data[0] != 'Q' || data[1] != 'V' || data[2] != 'Z') return nullptr;
  uint32_t pos = 3;
  uint32_t count = 0;
  while (pos < length) {
    const uint32_t n = data[pos++];
    if (n == 0) break;
    // Names longer than the table holds, or more members than it has, refuse the package.
    if (n >= kAnimPackageName || count == kAnimPackageEntries || length - pos < n + 4u) return nullptr;
    AnimPackageEntry& e = package->entries[count];
    std::memcpy(e.name, data + pos, n);
    e.name[n] = 0;
    pos += n;
    const uint32_t s =
        data[pos] | (data[pos + 1] << 8) | (data[pos + 2] << 16) | (static_cast<uint32_t>(data[pos + 3]) << 24);
    pos += 4;
    if (s > length - pos) return nullptr;
    e.size = s;
    e.offset = pos;
    e.data = data + pos;
    pos += s;
    ++count;
  }
  if (count == 0) return nullptr;
  package->count = count;
  *size = package->entries[0].size;
  return package->entries[0].data;
}

const AnimPackageEntry* AnimPackage_Find(const AnimPackage* package, const char* name) {
  if (!name) return nullptr;
  for (uint32_t i = 0; i < package->count; ++i)
    if (std::strcmp(package->entries[i].name, name) == 0) return &package->entries[i];
  return nullptr;
}

bool AnimSprite_Init(AnimSprite* sprite, AnimPlayer* player, uint32_t id, uint32_t frames) {
  AnimChar_InitHeader(&sprite->header, kAnimSprite, id, sprite);
  sprite->clip = AnimClip_Create(player, frames);
  return sprite->clip != nullptr;
}
