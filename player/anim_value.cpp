// Script values, variables and target paths. All text lives in the player
// heap with its exact length; a failed allocation leaves the abort flag set
// and the routines hand back null.
#include <cstring>

#include "player/anim_player.h"
#include "player/anim_value.h"

namespace {

char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

void ReleaseSlot(AnimPlayer* p, uint32_t kind, void* slot) {
  if (!slot) return;
  if (kind == kAnimString) AnimStr_Free(p, *static_cast<char**>(slot));
  AnimPlayer_Free(p, slot);
}

AnimValue* NewCell(AnimPlayer* p, uint32_t kind) {
  auto* cell = static_cast<AnimValue*>(AnimPlayer_Alloc(p, sizeof(AnimValue)));
  if (!cell) return nullptr;
  cell->slot = AnimPlayer_Alloc(p, sizeof(char*) > 4 ? sizeof(char*) : 4);
  if (!cell->slot) {
    AnimPlayer_Free(p, cell);
    return nullptr;
  }
  cell->kind = kind;
  return cell;
}

// The C library's text-to-integer rule: spaces, a sign, digits; stops at anything else.
int32_t TextToInt(const char* s, uint32_t* walked) {
  const char* start = s;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  uint32_t v = 0;
  while (*s >= '0' && *s <= '9') v = v * 10 + static_cast<uint32_t>(*s++ - '0');
  if (walked) *walked += static_cast<uint32_t>(s - start);
  return static_cast<int32_t>(negative ? 0u - v : v);
}

char* Concat(AnimPlayer* p, const char* a, uint32_t an, const char* b, uint32_t bn, const char* c, uint32_t cn) {
  auto* out = static_cast<char*>(AnimPlayer_Alloc(p, static_cast<int32_t>(an + bn + cn + 1)));
  if (!out) return nullptr;
  if (an) std::memcpy(out, a, an);
  if (bn) std::memcpy(out + an, b, bn);
  if (cn) std::memcpy(out + an + bn, c, cn);
  out[an + bn + cn] = 0;
  return out;
}

}  // namespace

char* AnimStr_DupN(AnimPlayer* p, const char* text, uint32_t n) { return Concat(p, text, n, "", 0, "", 0); }
char* AnimStr_Dup(AnimPlayer* p, const char* text) {
  return text ? AnimStr_DupN(p, text, static_cast<uint32_t>(std::strlen(text))) : nullptr;
}
void AnimStr_Free(AnimPlayer* p, char* text) { AnimPlayer_Free(p, text); }

AnimValue* AnimValue_NewInt(AnimPlayer* p, int32_t v) {
  AnimValue* cell = NewCell(p, kAnimInt);
  if (cell) std::memcpy(cell->slot, &v, 4);
  return cell;
}

AnimValue* AnimValue_NewFloat(AnimPlayer* p, float v) {
  AnimValue* cell = NewCell(p, kAnimFloat);
  if (cell) std::memcpy(cell->slot, &v, 4);
  return cell;
}

AnimValue* AnimValue_NewText(AnimPlayer* p, const char* text) {
  char* copy = AnimStr_Dup(p, text ? text : "");
  if (!copy) return nullptr;
  AnimValue* cell = NewCell(p, kAnimString);
  if (!cell) {
    AnimStr_Free(p, copy);
    return nullptr;
  }
  *static_cast<char**>(cell->slot) = copy;
  return cell;
}

void AnimValue_Push(AnimPlayer* p, AnimValue* cell) {
  if (!cell) return;
  cell->next = p->stack;
  p->stack = cell;
  ++p->stackDepth;
}

AnimValue* AnimValue_Pop(AnimPlayer* p) {
  AnimValue* top = p->stack;
  if (!top) return AnimValue_NewText(p, "");
  p->stack = top->next;
  top->next = nullptr;
  if (--p->stackDepth < p->stackFloor) p->stackFloor = p->stackDepth;
  return top;
}

void AnimValue_Release(AnimPlayer* p, AnimValue* cell) {
  if (!cell) return;
  ReleaseSlot(p, cell->kind, cell->slot);
  AnimPlayer_Free(p, cell);
}

uint32_t AnimValue_ClearStack(AnimPlayer* p) {
  while (p->stack) {
    AnimValue* top = p->stack;
    p->stack = top->next;
    AnimValue_Release(p, top);
  }
  p->stackDepth = p->stackFloor = 0;
  return 1;
}

void AnimValue_SetText(AnimPlayer* p, AnimValue* cell, char* owned) {
  if (cell->kind == kAnimString && cell->slot) {
    AnimStr_Free(p, *static_cast<char**>(cell->slot));
  } else if (!cell->slot) {
    cell->slot = AnimPlayer_Alloc(p, sizeof(char*));
    if (!cell->slot) {
      AnimStr_Free(p, owned);
      cell->kind = 0;
      return;
    }
  }
  cell->kind = kAnimString;
  *static_cast<char**>(cell->slot) = owned;
}

double AnimValue_Number(const AnimValue* cell, uint32_t* walked) {
  if (!cell || !cell->slot) return 0;
  switch (cell->kind) {
    case kAnimInt: {
      int32_t v;
      std::memcpy(&v, cell->slot, 4);
      return v;
    }
    case kAnimFloat: {
      float v;
      std::memcpy(&v, cell->slot, 4);
      return v;
    }
    case kAnimString: {
      const char* text = *static_cast<char* const*>(cell->slot);
      const char* end = text;
      const double v = AnimStr_ToNumber(text, &end);
      if (walked) *walked += static_cast<uint32_t>(end - text);
      return v;
    }
    default: return 0;
  }
}

int32_t AnimValue_Integer(const AnimValue* cell, uint32_t* walked) {
  if (!cell || !cell->slot) return 0;
  switch (cell->kind) {
    case kAnimInt: {
      int32_t v;
      std::memcpy(&v, cell->slot, 4);
      return v;
    }
    case kAnimFloat: {
      float v;
      std::memcpy(&v, cell->slot, 4);
      if (!(v == v)) return 0;
      if (v >= 2147483648.0f) return 2147483647;
      if (v <= -2147483648.0f) return -2147483647 - 1;
      return static_cast<int32_t>(v);
    }
    case kAnimString: {
      const char* text = *static_cast<char* const*>(cell->slot);
      return text ? TextToInt(text, walked) : 0;
    }
    default: return 0;
  }
}

char* AnimValue_Text(AnimPlayer* p, const AnimValue* cell) {
  if (!cell || !cell->slot) return AnimStr_Dup(p, "");
  switch (cell->kind) {
    case kAnimInt: return AnimText_FromInt(p, AnimValue_Integer(cell));
    case kAnimFloat: {
      float v;
      std::memcpy(&v, cell->slot, 4);
      return AnimText_FromFloat(p, v);
    }
    case kAnimString: {
      const char* text = *static_cast<char* const*>(cell->slot);
      return AnimStr_Dup(p, text ? text : "");
    }
    default: return AnimStr_Dup(p, "");
  }
}

char* AnimText_FromInt(AnimPlayer* p, int32_t n) {
  char buf[16];
  char* o = buf + sizeof buf;
  *--o = 0;
  uint32_t v = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  do {
    *--o = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (n < 0) *--o = '-';
  return AnimStr_Dup(p, o);
}

char* AnimText_FromFloat(AnimPlayer* p, float x) {
  // Whole part truncated toward zero, then exactly five fraction digits, truncated.
  char buf[64];
  uint32_t n = 0;
  if (!(x == x)) x = 0;
  double v = x;
  if (v < 0) {
    buf[n++] = '-';
    v = -v;
  }
  if (v > 4294967295.0) v = 4294967295.0;  // keeps every text within the number buffer's size
  const auto whole = static_cast<uint32_t>(v);
  char digits[12];
  uint32_t d = 0;
  uint32_t w = whole;
  do {
    digits[d++] = static_cast<char>('0' + w % 10);
    w /= 10;
  } while (w);
  while (d) buf[n++] = digits[--d];
  buf[n++] = '.';
  auto fraction = static_cast<uint32_t>((v - whole) * 100000.0);
  if (fraction > 99999) fraction = 99999;
  for (uint32_t div = 10000; div; div /= 10) buf[n++] = static_cast<char>('0' + (fraction / div) % 10);
  buf[n] = 0;
  return AnimStr_Dup(p, buf);
}

char* AnimText_FromResult(AnimPlayer* p, float x) {
  if (x == x && x > -2147483648.0f && x < 2147483648.0f && static_cast<float>(static_cast<int32_t>(x)) == x)
    return AnimText_FromInt(p, static_cast<int32_t>(x));
  return AnimText_FromFloat(p, x);
}

int AnimName_Equal(const char* a, const char* b) { return AnimName_EqualWalked(nullptr, a, b); }

int AnimName_EqualWalked(AnimPlayer* p, const char* a, const char* b) {
  if (!a || !b) return 1;
  const char* from = a;
  int differ = 0;
  for (; *a && *b; ++a, ++b)
    if (ToLower(*a) != ToLower(*b)) {
      differ = 1;
      break;
    }
  if (p) p->namesWalked += static_cast<uint64_t>(a - from) + 1;
  return differ || *a || *b ? 1 : 0;
}

uint32_t AnimVar_Bucket(const char* name) {
  uint32_t sum = 0, i = 1;
  for (const char* c = name; c && *c; ++c, ++i) sum += static_cast<uint8_t>(*c) * i;
  return sum & 31;
}

AnimVariable* AnimVar_Find(AnimPlayer* p, const char* name) {
  if (!name) return nullptr;
  for (AnimVariable* v = p->variables[AnimVar_Bucket(name)]; v; v = v->next)
    if (AnimName_EqualWalked(p, v->name, name) == 0) return v;
  return nullptr;
}

const char* AnimVar_Text(const AnimVariable* v) {
  return v && v->slot ? *static_cast<char* const*>(v->slot) : nullptr;
}

AnimVariable* AnimVar_Set(AnimPlayer* p, const char* name, char* owned) {
  AnimVariable* v = AnimVar_Find(p, name);
  if (!v) {
    v = static_cast<AnimVariable*>(AnimPlayer_Alloc(p, sizeof(AnimVariable)));
    if (!v) {
      AnimStr_Free(p, owned);
      return nullptr;
    }
    v->kind = kAnimString;
    v->name = AnimStr_Dup(p, name);
    v->slot = AnimPlayer_Alloc(p, sizeof(char*));
    if (!v->name || !v->slot) {
      AnimStr_Free(p, v->name);
      AnimPlayer_Free(p, v->slot);
      AnimPlayer_Free(p, v);
      AnimStr_Free(p, owned);
      return nullptr;
    }
    const uint32_t bucket = AnimVar_Bucket(name);
    v->next = p->variables[bucket];
    p->variables[bucket] = v;
  } else {
    AnimStr_Free(p, *static_cast<char**>(v->slot));
  }
  *static_cast<char**>(v->slot) = owned;
  return v;
}

char* AnimVar_Get(AnimPlayer* p, const char* name) {
  AnimVariable* v = AnimVar_Find(p, name);
  if (!v) {
    char* empty = AnimStr_Dup(p, "");
    if (!empty) return nullptr;
    v = AnimVar_Set(p, name, empty);
    if (!v) return nullptr;
  }
  const char* text = AnimVar_Text(v);
  return AnimStr_Dup(p, text ? text : "");
}

void AnimVar_Clear(AnimPlayer* p) {
  for (auto& bucket : p->variables) {
    while (bucket) {
      AnimVariable* v = bucket;
      bucket = v->next;
      ReleaseSlot(p, kAnimString, v->slot);
      AnimStr_Free(p, v->name);
      AnimPlayer_Free(p, v);
    }
  }
}

char* AnimVar_Collect(AnimPlayer* p, const char* clipPath) {
  // Only the movie root's variables are collected; any other clip gives the empty list.
  const bool root = !clipPath || !*clipPath;
  uint32_t total = 0;
  char* out = nullptr;
  for (int pass = 0; pass < 2; ++pass) {
    uint32_t n = 0;
    for (AnimVariable* bucket : p->variables) {
      for (AnimVariable* v = bucket; root && v; v = v->next) {
        if (!v->name || v->name[0] != '/' || v->name[1] != ':') continue;
        const char* name = v->name + 2;
        const char* text = AnimVar_Text(v);
        const uint32_t nameLen = static_cast<uint32_t>(std::strlen(name));
        const uint32_t textLen = (text && text[0] && text[0] != '0') ? static_cast<uint32_t>(std::strlen(text)) : 0;
        if (out) {
          std::memcpy(out + n, name, nameLen);
          out[n + nameLen] = '=';
          if (textLen) std::memcpy(out + n + nameLen + 1, text, textLen);
          out[n + nameLen + 1 + textLen] = '&';
        }
        n += nameLen + textLen + 2;
      }
    }
    if (pass == 0) {
      total = n;
      out = static_cast<char*>(AnimPlayer_Alloc(p, static_cast<int32_t>(total + 1)));
      if (!out) return nullptr;
    }
  }
  out[total] = 0;
  return out;
}

char* AnimPath_Resolve(AnimPlayer* p, const char* base, const char* path, uint32_t mode) {
  if (!base) base = "";
  if (!path) path = "";
  const auto baseLen = static_cast<uint32_t>(std::strlen(base));
  const auto pathLen = static_cast<uint32_t>(std::strlen(path));
  if (path[0] == '/') return AnimStr_DupN(p, path, pathLen);
  if (path[0] == '.' && path[1] == '.') {
    const char* slash = std::strrchr(base, '/');
    const uint32_t parentLen = slash ? static_cast<uint32_t>(slash - base) : 0;
    const char* rest = path + 2;
    const auto restLen = pathLen - 2;
    if (rest[0] == ':' && parentLen == 0) return Concat(p, "/", 1, rest, restLen, "", 0);
    return Concat(p, base, parentLen, rest, restLen, "", 0);
  }
  if (path[0] == '.' && path[1] == '/') return Concat(p, base, baseLen, path + 1, pathLen - 1, "", 0);
  const bool hasColon = std::strchr(path, ':') != nullptr;
  const char* sep = "";
  uint32_t sepLen = 0;
  if (pathLen && (baseLen == 0 || mode == kAnimPathClip || hasColon)) {
    sep = "/";
    sepLen = 1;
  }
  if (mode == kAnimPathVariable && !hasColon) {
    sep = sepLen ? "/:" : ":";
    sepLen += 1;
  }
  return Concat(p, base, baseLen, sep, sepLen, path, pathLen);
}

char* AnimPath_Split(char* path, uint32_t slashFlag) {
  if (!path) return nullptr;
  char* cut = std::strrchr(path, slashFlag ? '/' : ':');
  if (!cut) return nullptr;
  *cut = 0;
  return cut + 1;
}

uint32_t AnimPath_Depth(const char* path) {
  uint32_t n = 0;
  for (; path && *path; ++path)
    if (*path == '/') ++n;
  return n;
}
