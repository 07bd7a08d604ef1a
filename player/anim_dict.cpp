// The character dictionary, dispatch by character type, the matrix helpers,
// and the characters whose tags are read here: sounds, buttons, button
// colour transforms and edit-text fields.
#include <cstring>

#include "player/anim_dct.h"
#include "player/anim_player.h"
#include "player/anim_shape.h"
#include "player/anim_stream.h"
#include "player/anim_text.h"

namespace {

void* Alloc(AnimStream* s, uint32_t n) { return AnimPlayer_Alloc(s->player, static_cast<int32_t>(n)); }
uint32_t Left(const AnimStream* s) { return s->cursor < s->limit ? s->limit - s->cursor : 0; }

void FreeButton(AnimPlayer* p, AnimButton* b) {
  for (AnimButtonRecord* r = b->records; r;) {
    AnimButtonRecord* next = r->next;
    AnimPlayer_Free(p, r->cxform);
    AnimPlayer_Free(p, r);
    r = next;
  }
  AnimActions_Free(p, b->actions);
  for (AnimCondition* c = b->conditions; c;) {
    AnimCondition* next = c->next;
    AnimActions_Free(p, c->actions);
    AnimPlayer_Free(p, c);
    c = next;
  }
  if (b->editText) {
    AnimStr_Free(p, b->editText->variable);
    AnimStr_Free(p, b->editText->text);
    AnimPlayer_Free(p, b->editText);
  }
  AnimPlayer_Free(p, b);
}

void SetSoundClass(AnimSound* sound, uint32_t v) {
  static const uint8_t kClass[10] = {0, 16, 32, 255, 255, 255, 255, 255, 255, 255};
  static const uint32_t kBit[10] = {8, 16, 32, 1, 2, 4, 64, 128, 16384, 32768};
  sound->codecClass = kClass[v];
  sound->typeBit = kBit[v];
}

// Button records up to a flag byte 0; tag 34 follows each with a colour transform.
bool ReadButtonRecords(AnimStream* s, AnimButton* b, bool withCxform) {
  while (Left(s) > 0) {
    const uint32_t flags = AnimParse_ReadU8(s);
    if (flags == 0) break;
    auto* r = static_cast<AnimButtonRecord*>(Alloc(s, sizeof(AnimButtonRecord)));
    if (!r) return false;
    r->states = flags & 15;
    r->character = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
    r->depth = static_cast<int32_t>(AnimParse_ReadU16(s));
    AnimParse_ReadMatrix(s, &r->matrix);
    AnimButton_AppendRecord(b, r);
    if (withCxform) {
      r->cxform = static_cast<AnimCxform*>(Alloc(s, sizeof(AnimCxform)));
      if (!r->cxform) return false;
      AnimParse_ReadCxform(s, r->cxform, true);
    }
  }
  return true;
}

// Line ends CR, LF and CR LF all become CR LF.
char* NormaliseLineEnds(AnimPlayer* p, const char* text) {
  uint32_t n = 0;
  for (const char* c = text; *c; ++c) {
    if (*c == '\r' && c[1] == '\n') ++c;
    n += (*c == '\r' || *c == '\n') ? 2 : 1;
  }
  auto* out = static_cast<char*>(AnimPlayer_Alloc(p, static_cast<int32_t>(n + 1)));
  if (!out) return nullptr;
  char* o = out;
  for (const char* c = text; *c; ++c) {
    if (*c == '\r' || *c == '\n') {
      if (*c == '\r' && c[1] == '\n') ++c;
      *o++ = '\r';
      *o++ = '\n';
    } else {
      *o++ = *c;
    }
  }
  *o = 0;
  return out;
}

}  // namespace

void AnimRect_SetEmpty(AnimRect* r) {
  r->xmin = r->ymin = 2147483647;
  r->xmax = r->ymax = -2147483647 - 1;
}

void AnimChar_InitHeader(AnimChar* h, uint32_t type, uint32_t id, void* body) {
  h->id = id & 0xFFFF;
  h->type = type;
  h->body = body;
}

void AnimDict_Add(AnimStream* s, AnimChar* h) {
  auto* node = static_cast<AnimDictNode*>(Alloc(s, sizeof(AnimDictNode)));
  if (!node) {
    AnimChar_Free(s->player, h);
    return;
  }
  node->character = h;
  node->next = s->dictionary;
  s->dictionary = node;
}

AnimChar* AnimDict_Find(AnimDictNode* head, uint32_t id) {
  for (; head; head = head->next)
    if (head->character->id == id) return head->character;
  return nullptr;
}

void AnimDict_FreeAll(AnimPlayer* p, AnimDictNode** head) {
  while (*head) {
    AnimDictNode* node = *head;
    *head = node->next;
    AnimChar_Free(p, node->character);
    AnimPlayer_Free(p, node);
  }
}

void AnimChar_Free(AnimPlayer* p, AnimChar* h) {
  if (!h) return;
  switch (h->type) {
    case kAnimShape: AnimShape_Free(p, static_cast<AnimShape*>(h->body)); break;
    case kAnimMorph: AnimMorph_Free(p, static_cast<AnimMorph*>(h->body)); break;
    case kAnimBitmap: {
      auto* bitmap = static_cast<AnimBitmap*>(h->body);
      AnimBitmap_Forget(p, bitmap);
      AnimPlayer_Free(p, bitmap->data);
      AnimPlayer_Free(p, bitmap->alpha);
      AnimPlayer_Free(p, bitmap);
      break;
    }
    case kAnimFont:
      AnimFont_Free(p, static_cast<AnimFont*>(h->body));
      break;
    case kAnimText: {
      auto* text = static_cast<AnimText*>(h->body);
      AnimText_FreeRecords(p, text);
      AnimPlayer_Free(p, text);
      break;
    }
    case kAnimSound: {
      auto* sound = static_cast<AnimSound*>(h->body);
      AnimPlayer_Free(p, sound->data);
      AnimPlayer_Free(p, sound);
      break;
    }
    case kAnimSprite: {
      auto* sprite = static_cast<AnimSprite*>(h->body);
      AnimClip_Free(p, sprite->clip);
      AnimPlayer_Free(p, sprite);
      break;
    }
    case kAnimButton:
      FreeButton(p, static_cast<AnimButton*>(h->body));
      break;
    default:
      break;
  }
}

void AnimChar_GetBounds(const AnimChar* h, AnimRect* out) {
  AnimRect_SetEmpty(out);
  if (!h) return;
  switch (h->type) {
    case kAnimShape: *out = static_cast<const AnimShape*>(h->body)->bounds; break;
    case kAnimText: *out = static_cast<const AnimText*>(h->body)->bounds; break;
    case kAnimMorph: *out = static_cast<const AnimMorph*>(h->body)->bounds; break;
    case kAnimButton: {
      const auto* b = static_cast<const AnimButton*>(h->body);
      if (b->editText) *out = b->editText->bounds;
      break;
    }
    default: break;
  }
}

uint32_t AnimSound_ReadTag(AnimStream* s) {
  auto* sound = static_cast<AnimSound*>(Alloc(s, sizeof(AnimSound)));
  if (!sound) return 0;
  sound->id = AnimParse_ReadU16(s);
  AnimChar_InitHeader(&sound->header, kAnimSound, sound->id, sound);
  sound->bytesPerSample = 1;
  const uint32_t type = AnimParse_ReadU8(s);
  const uint32_t format = AnimParse_ReadU8(s);
  static const uint16_t kRates[4] = {5500, 11025, 22050, 44100};
  sound->sampleRate = kRates[(format >> 2) & 3];
  if (format & 2) sound->bytesPerSample = 2;
  if (format & 1) sound->stereo = 1;
  const uint32_t nibble = format >> 4;
  if (nibble <= 9 && nibble != 4) SetSoundClass(sound, nibble);
  if (type <= 9) {
    SetSoundClass(sound, type);
  } else if (type >= 128 && type <= 137) {
    sound->streamed = 1;
    SetSoundClass(sound, type - 128);
  }
  if (!(sound->typeBit & s->player->soundTypes)) {
    AnimPlayer_Free(s->player, sound);
    return kAnimSoundRefused;
  }
  sound->sampleCount = AnimParse_ReadU32(s);
  sound->dataSize = sound->streamed ? sound->sampleCount : Left(s);
  if (sound->dataSize == 0 || sound->dataSize > 0x7FFFFFF0u) {
    AnimPlayer_Free(s->player, sound);
    s->errorFlag = 1;
    return 0;
  }
  sound->data = static_cast<uint8_t*>(Alloc(s, sound->dataSize));
  if (!sound->data) {
    AnimPlayer_Free(s->player, sound);
    return 0;
  }
  const uint32_t copy = Left(s) < sound->dataSize ? Left(s) : sound->dataSize;
  std::memcpy(sound->data, s->data + s->cursor, copy);
  s->cursor += copy;
  AnimDict_Add(s, &sound->header);
  return 0;
}

void AnimButton_ReadTag(AnimStream* s, bool withConditions) {
  auto* b = static_cast<AnimButton*>(Alloc(s, sizeof(AnimButton)));
  if (!b) return;
  AnimChar_InitHeader(&b->header, kAnimButton, AnimParse_ReadU16(s), b);
  uint32_t conditionOffset = 0;
  if (withConditions) {
    b->menu = AnimParse_ReadU8(s) != 0 ? 1 : 0;
    conditionOffset = AnimParse_ReadU16(s);
  }
  bool ok = ReadButtonRecords(s, b, withConditions);
  if (ok && !withConditions) {
    AnimButton_AppendAction(b, AnimParse_ReadActions(s));
  } else if (ok && conditionOffset != 0) {
    for (uint32_t next = 1; next != 0 && Left(s) > 0;) {
      next = AnimParse_ReadU16(s);
      const uint32_t bits = AnimParse_ReadU16(s);
      AnimActionRecord* list = AnimParse_ReadActions(s);
      if (AnimPlayer_Aborted(s->player) || !AnimButton_AddCondition(s->player, b, bits, list)) break;
    }
  }
  if (!ok || AnimPlayer_Aborted(s->player)) {
    FreeButton(s->player, b);
    return;
  }
  AnimDict_Add(s, &b->header);
}

void AnimButton_ReadCxformTag(AnimStream* s) {
  AnimChar* h = AnimDict_Find(s->dictionary, AnimParse_ReadU16(s));
  if (!h || h->type != kAnimButton) return;
  auto* b = static_cast<AnimButton*>(h->body);
  for (AnimButtonRecord* r = b->records; r && Left(s) > 0; r = r->next) {
    if (!r->cxform) {
      r->cxform = static_cast<AnimCxform*>(Alloc(s, sizeof(AnimCxform)));
      if (!r->cxform) return;
    }
    AnimParse_ReadCxform(s, r->cxform, false);
  }
}

void AnimEditText_ReadTag(AnimStream* s) {
  auto* b = static_cast<AnimButton*>(Alloc(s, sizeof(AnimButton)));
  if (!b) return;
  const uint32_t id = AnimParse_ReadU16(s);
  AnimChar_InitHeader(&b->header, kAnimButton, id, b);
  AnimEditText* e = static_cast<AnimEditText*>(Alloc(s, sizeof(AnimEditText)));
  if (!e) {
    FreeButton(s->player, b);
    return;
  }
  b->editText = e;
  e->owner = b;
  e->fontId = e->fontHeight = -1;
  e->color = 0xFFFFFFFFu;
  e->maxLength = e->alignment = e->leftMargin = e->rightMargin = e->indent = e->leading = -1;
  e->firstFrame = e->lastFrame = -1;
  AnimParse_ReadRect(s, &e->bounds);
  e->flags = AnimParse_ReadU16(s);
  char* text = nullptr;
  if (id > 6000) {
    e->fontId = static_cast<int32_t>(AnimParse_ReadU16(s));
    e->fontHeight = static_cast<int32_t>(AnimParse_ReadU16(s));
    e->color = AnimParse_ReadU32(s);  // alpha, red, green, blue in that byte order
    e->color = ((e->color & 0xFF) << 24) | ((e->color & 0xFF00) << 8) | ((e->color >> 8) & 0xFF00) |
               (e->color >> 24);
    e->alignment = static_cast<int32_t>(AnimParse_ReadU8(s));
    AnimParse_ReadU16(s);
    AnimParse_ReadU16(s);
    e->firstFrame = static_cast<int32_t>(AnimParse_ReadU16(s));
    e->lastFrame = static_cast<int32_t>(AnimParse_ReadU16(s));
    for (uint8_t& o : e->options) o = static_cast<uint8_t>(AnimParse_ReadU8(s));
    e->variable = AnimParse_ReadString(s);
    if (e->variable) text = AnimParse_ReadString(s);
  } else {
    if (e->flags & 0x0001) {
      e->fontId = static_cast<int32_t>(AnimParse_ReadU16(s));
      e->fontHeight = static_cast<int32_t>(AnimParse_ReadU16(s));
    }
    if (e->flags & 0x0004) {
      const uint32_t r = AnimParse_ReadU8(s), g = AnimParse_ReadU8(s), bl = AnimParse_ReadU8(s);
      const uint32_t a = AnimParse_ReadU8(s);
      e->color = (a << 24) | (r << 16) | (g << 8) | bl;
    }
    if (e->flags & 0x0002) e->maxLength = static_cast<int32_t>(AnimParse_ReadU16(s));
    if (e->flags & 0x2000) {
      e->alignment = static_cast<int32_t>(AnimParse_ReadU8(s));
      e->leftMargin = static_cast<int32_t>(AnimParse_ReadU16(s));
      e->rightMargin = static_cast<int32_t>(AnimParse_ReadU16(s));
      e->indent = static_cast<int32_t>(AnimParse_ReadU16(s));
      e->leading = static_cast<int32_t>(AnimParse_ReadU16(s));
    }
    e->variable = AnimParse_ReadString(s);
    if (e->variable) text = (e->flags & 0x0080) ? AnimParse_ReadString(s) : AnimStr_Dup(s->player, "");
  }
  if (text) {
    e->text = NormaliseLineEnds(s->player, text);
    AnimStr_Free(s->player, text);
  }
  if (AnimPlayer_Aborted(s->player)) {
    FreeButton(s->player, b);
    return;
  }
  AnimDict_Add(s, &b->header);
}

void AnimButton_AppendRecord(AnimButton* b, AnimButtonRecord* record) {
  record->next = nullptr;
  AnimButtonRecord** tail = &b->records;
  while (*tail) tail = &(*tail)->next;
  *tail = record;
}

void AnimButton_AppendAction(AnimButton* b, AnimActionRecord* list) {
  AnimActionRecord** tail = &b->actions;
  while (*tail) tail = &(*tail)->next;
  *tail = list;
}

bool AnimButton_AddCondition(AnimPlayer* p, AnimButton* b, uint32_t bits, AnimActionRecord* list) {
  auto* c = static_cast<AnimCondition*>(AnimPlayer_Alloc(p, sizeof(AnimCondition)));
  if (!c) {
    AnimActions_Free(p, list);
    return false;
  }
  c->bits = bits;
  c->actions = list;
  c->next = b->conditions;
  b->conditions = c;
  return true;
}

const AnimButtonRecord* AnimButton_SelectRecord(const AnimButton* b, uint32_t state) {
  for (const AnimButtonRecord* r = b ? b->records : nullptr; r; r = r->next)
    if (r->states & state) return r;
  return nullptr;
}

namespace {

void AddRecordBounds(const AnimButtonRecord* r, AnimRect* out) {
  AnimRect inner, moved;
  AnimChar_GetBounds(r->character, &inner);
  if (r->character->type == kAnimMorph) AnimMorph_Bounds(static_cast<const AnimMorph*>(r->character->body), &inner);
  AnimRect_Transform(&moved, &r->matrix, &inner);
  AnimRect_Add(out, &moved);
}

}  // namespace

bool AnimButton_GetBounds(const AnimButton* b, uint32_t state, AnimRect* out) {
  AnimRect_SetEmpty(out);
  if (!b) return false;
  if (b->editText) {
    *out = b->editText->bounds;
  } else {
    const AnimButtonRecord* last = nullptr;
    bool any = false;
    for (const AnimButtonRecord* r = b->records; r; r = r->next) {
      if (!r->character) continue;
      last = r;
      if (r->states & state) {
        AddRecordBounds(r, out);
        any = true;
      }
    }
    if (!any && last) AddRecordBounds(last, out);
  }
  return !AnimRect_IsEmpty(out);
}

void AnimSound_Start(AnimPlayer* p, const AnimSound* sound, const AnimSoundInfo* info) {
  if (info && (info->syncBits & 2)) AnimHook_SoundStop(p, static_cast<int32_t>(sound->id), sound->typeBit & 0xFF);
  else AnimHook_SoundStart(p, sound, sound->id, info ? info->loopCount : 0);
}

void AnimSound_StopAll(AnimPlayer* p) { AnimHook_SoundStop(p, -1, 0); }

uint32_t AnimButton_TransitionBits(const AnimButton* b, uint32_t newState, uint32_t oldState) {
  if (newState == oldState) return 0;
  uint32_t mask = 0;
  if (oldState == 1 && newState == 2) mask = 1;
  if (oldState == 2 && newState == 1) mask = 2;
  if (oldState == 2 && newState == 4) mask = 4;
  if (oldState == 4 && newState == 2) mask = 8;
  if (b->menu) {
    if (oldState == 1 && newState == 4) mask = 128;
    if (oldState == 4 && newState == 1) mask = 256;
  } else {
    if (oldState == 4 && newState == 1) mask = 16;
    if (oldState == 1 && newState == 4) mask = 32;
  }
  return mask;
}

const AnimActionRecord* AnimButton_TransitionActions(const AnimButton* b, uint32_t newState, uint32_t oldState) {
  const uint32_t mask = AnimButton_TransitionBits(b, newState, oldState);
  if (!mask) return nullptr;
  for (const AnimCondition* c = b->conditions; c; c = c->next)
    if (c->bits & mask) return c->actions;
  return nullptr;
}

void AnimMatrix_SetIdentity(AnimMatrix* m) {
  m->a = m->d = 1.0f;
  m->b = m->c = 0.0f;
  m->tx = m->ty = 0;
}

namespace {

// A float coordinate truncated to an integer, saturating (NaN gives 0).
int32_t TruncateCoord(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483520.0f) return 2147483647;
  if (v <= -2147483648.0f) return -2147483647 - 1;
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t AnimMatrix_ApplyX(const AnimMatrix* m, int32_t x, int32_t y) {
  const float fx = m->a * static_cast<float>(x) + m->b * static_cast<float>(y);
  return static_cast<int32_t>(static_cast<uint32_t>(TruncateCoord(fx)) + static_cast<uint32_t>(m->tx));
}

int32_t AnimMatrix_ApplyY(const AnimMatrix* m, int32_t x, int32_t y) {
  const float fy = m->c * static_cast<float>(x) + m->d * static_cast<float>(y);
  return static_cast<int32_t>(static_cast<uint32_t>(TruncateCoord(fy)) + static_cast<uint32_t>(m->ty));
}

void AnimMatrix_Apply(const AnimMatrix* m, int32_t x, int32_t y, int32_t* ox, int32_t* oy) {
  *ox = AnimMatrix_ApplyX(m, x, y);
  *oy = AnimMatrix_ApplyY(m, x, y);
}

void AnimMatrix_Concat(AnimMatrix* out, const AnimMatrix* outer, const AnimMatrix* inner) {
  AnimMatrix r;
  r.a = outer->a * inner->a + outer->b * inner->c;
  r.b = outer->a * inner->b + outer->b * inner->d;
  r.c = outer->c * inner->a + outer->d * inner->c;
  r.d = outer->c * inner->b + outer->d * inner->d;
  AnimMatrix_Apply(outer, inner->tx, inner->ty, &r.tx, &r.ty);
  *out = r;
}

void AnimMatrix_Invert(AnimMatrix* out, const AnimMatrix* m) {
  const float det = m->a * m->d - m->c * m->b;
  if (det == 0.0f) {  // a flat matrix has no inverse: keep the identity
    AnimMatrix_SetIdentity(out);
    return;
  }
  AnimMatrix r;
  r.a = m->d / det;
  r.b = -m->b / det;
  r.c = -m->c / det;
  r.d = m->a / det;
  r.tx = r.ty = 0;
  int32_t tx, ty;
  AnimMatrix_Apply(&r, m->tx, m->ty, &tx, &ty);
  r.tx = static_cast<int32_t>(0u - static_cast<uint32_t>(tx));
  r.ty = static_cast<int32_t>(0u - static_cast<uint32_t>(ty));
  *out = r;
}

uint32_t AnimISqrt(uint32_t v) {
  uint32_t root = 0, bit = 1u << 30;
  while (bit > v) bit >>= 2;
  while (bit) {
    if (v >= root + bit) {
      v -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return root;
}
