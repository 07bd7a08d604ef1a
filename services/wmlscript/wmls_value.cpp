// Value cells, their conversions, the operand stack, call frames and the
// library-call contract.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"

char16_t* WmlsNewString(const char16_t* text, uint32_t count) {
  auto* s = static_cast<char16_t*>(MemAlloc((count + 1) * 2, Use::String, Mod::WmlsExec));
  if (!s) return nullptr;
  if (count) std::memcpy(s, text, count * 2);
  s[count] = 0;
  return s;
}

// A block at a time once aligned: an aligned block never crosses a page, so
// the bytes read past the terminator are harmless; they may lie outside the
// allocation, which is why the address checker is kept out. Scripts that
// build long strings measure them over and over, so this is a hot path.
__attribute__((no_sanitize("address"))) uint32_t WmlsLen(const char16_t* s) {
  if (!s) return 0;
  const char16_t* p = s;
#if defined(__SSE2__)
  while (reinterpret_cast<uintptr_t>(p) & 15) {
    if (!*p) return static_cast<uint32_t>(p - s);
    ++p;
  }
  const __m128i zero = _mm_setzero_si128();
  const auto* blocks = reinterpret_cast<const __m128i*>(p);
  // Single blocks up to a 64-byte boundary, then four blocks a step: four
  // aligned blocks from such a boundary never cross a page either.
  for (;; ++blocks) {
    if (!(reinterpret_cast<uintptr_t>(blocks) & 63)) {
      const __m128i a = _mm_or_si128(_mm_cmpeq_epi16(_mm_load_si128(blocks), zero),
                                     _mm_cmpeq_epi16(_mm_load_si128(blocks + 1), zero));
      const __m128i b = _mm_or_si128(_mm_cmpeq_epi16(_mm_load_si128(blocks + 2), zero),
                                     _mm_cmpeq_epi16(_mm_load_si128(blocks + 3), zero));
      if (!_mm_movemask_epi8(_mm_or_si128(a, b))) {
        blocks += 3;
        continue;
      }
    }
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(blocks), zero));
    if (mask) {
      p = reinterpret_cast<const char16_t*>(blocks);
      return static_cast<uint32_t>(p - s) + static_cast<uint32_t>(__builtin_ctz(mask)) / 2;
    }
  }
#else
  while (reinterpret_cast<uintptr_t>(p) & 7) {
    if (!*p) return static_cast<uint32_t>(p - s);
    ++p;
  }
  constexpr uint64_t kLow = 0x0001000100010001ull, kHigh = 0x8000800080008000ull;
  for (;;) {
    uint64_t w;
    __builtin_memcpy(&w, p, 8);
    if ((w - kLow) & ~w & kHigh) break;
    p += 4;
  }
  while (*p) ++p;
  return static_cast<uint32_t>(p - s);
#endif
}

bool WmlsIsSpace(char16_t c) { return c == ' ' || (c >= 9 && c <= 13); }

void WmlsValueRelease(WmlsValue* v) {
  if (v->type == WmlsType::String && !v->borrowed && v->value) {
    char16_t* s = WmlsStr(*v);
    MemFree(&s);
  }
  if (!v->borrowed) v->value = 0;
  v->type = WmlsType::Unset;
  v->borrowed = 0;
}

void WmlsValueClear(WmlsValue* v) {
  if (!v->borrowed) {
    if (v->type == WmlsType::String && v->value) {
      char16_t* s = WmlsStr(*v);
      MemFree(&s);
    }
    v->type = WmlsType::Unset;
    v->value = 0;
  } else {
    // A cleared borrowed cell would otherwise keep pointing at a string it
    // does not own once that string goes; it becomes unset instead.
    v->type = WmlsType::Unset;
    v->value = 0;
  }
  v->borrowed = 0;
}

bool WmlsValueSetString(WmlsValue* v, const char16_t* text, uint32_t count) {
  char16_t* s = WmlsNewString(text, count);
  if (!s) {
    *v = WmlsMakeInvalid();
    return false;
  }
  v->type = WmlsType::String;
  v->value = reinterpret_cast<uintptr_t>(s);
  v->borrowed = 0;
  return true;
}

void WmlsDetach(WmlsRunContext* ctx, const WmlsValue* var) {
  if (var->type != WmlsType::String || var->borrowed || !var->value) return;
  for (int32_t i = 0; i <= ctx->top; ++i) {
    WmlsValue* cell = &ctx->stack[i];
    if (cell->type != WmlsType::String || !cell->borrowed || cell->value != var->value) continue;
    const char16_t* s = WmlsStr(*cell);
    if (!WmlsValueSetString(cell, s, WmlsLen(s))) ctx->status = WmlsStatus::NoMemory;
  }
}

WmlsTextArg::WmlsTextArg(WmlsRunContext* ctx, const WmlsValue* v) {
  const WmlsValue* text = v;
  if (v->type != WmlsType::String) {
    cell = WmlsToString(ctx, v);
    if (cell.type != WmlsType::String) {
      if (ctx->status == WmlsStatus::WrongType) ctx->status = 0;
      return;
    }
    text = &cell;
  }
  none = !WmlsStr(*text);
  if (!none) s = WmlsStr(*text);
  n = WmlsLen(s);
  ok = true;
}

static int32_t Grow(WmlsRunContext* ctx) {
  if (ctx->top < ctx->capacity - 1) return 0;
  int32_t cap = ctx->capacity;
  while (cap <= ctx->top + 1) cap += 10;
  void* p = ctx->stack ? MemRealloc(ctx->stack, static_cast<uint32_t>(cap) * sizeof(WmlsValue), 0, Mod::WmlsExec)
                       : MemAlloc(static_cast<uint32_t>(cap) * sizeof(WmlsValue), Use::Data, Mod::WmlsExec);
  if (!p) return WmlsResult::NoMemory;
  ctx->stack = static_cast<WmlsValue*>(p);
  ctx->capacity = cap;
  return 0;
}

int32_t WmlsStackPush(const WmlsValue* v, WmlsRunContext* ctx) {
  if (Grow(ctx)) return WmlsResult::NoMemory;
  WmlsValue* cell = &ctx->stack[++ctx->top];
  *cell = *v;
  cell->borrowed = 0;
  if (v->type == WmlsType::String) {
    const char16_t* s = WmlsStr(*v);
    if (s) {
      if (!WmlsValueSetString(cell, s, WmlsLen(s))) return WmlsResult::NoMemory;
    }
  } else if (v->type == WmlsType::Reserved5 || v->type == WmlsType::Reserved7) {
    cell->value = 0;
  }
  return 0;
}

int32_t WmlsStackPushRef(const WmlsValue* v, WmlsRunContext* ctx) {
  if (Grow(ctx)) return WmlsResult::NoMemory;
  WmlsValue* cell = &ctx->stack[++ctx->top];
  *cell = *v;
  cell->borrowed = 1;
  return 0;
}

int32_t WmlsStackPushTake(WmlsValue* v, WmlsRunContext* ctx) {
  if (Grow(ctx)) {
    WmlsValueRelease(v);
    return WmlsResult::NoMemory;
  }
  WmlsValue* cell = &ctx->stack[++ctx->top];
  *cell = *v;
  cell->borrowed = v->borrowed;
  v->type = WmlsType::Unset;
  v->value = 0;
  v->borrowed = 0;
  return 0;
}

int32_t WmlsStackPop(WmlsRunContext* ctx, WmlsValue* out) {
  if (ctx->top < 0) {
    *out = {};
    ctx->status = WmlsStatus::Underflow;
    return -1;
  }
  *out = ctx->stack[ctx->top--];
  return 0;
}

bool WmlsToBool(WmlsRunContext* ctx, const WmlsValue* v) {
  switch (v->type) {
    case WmlsType::Integer: return WmlsInt(*v) != 0;
    case WmlsType::String: return WmlsLen(WmlsStr(*v)) > 0;
    case WmlsType::Boolean: return v->value != 0;
    case WmlsType::Unset:
    case WmlsType::Float: return false;
    default:
      if (ctx) ctx->status = WmlsStatus::WrongType;
      return false;
  }
}

int32_t WmlsValueToInt(WmlsRunContext* ctx, const char16_t* text) {
  if (!text) return 0;
  const char16_t* p = text;
  while (WmlsIsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  uint32_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const uint32_t d = static_cast<uint32_t>(*p - '0');
    if (n > (2147483647u - d) / 10) {
      if (ctx) ctx->status = WmlsStatus::IntOverflow;
      return -1;
    }
    n = n * 10 + d;
  }
  return negative ? -static_cast<int32_t>(n) : static_cast<int32_t>(n);
}

int32_t WmlsToInt(WmlsRunContext* ctx, const WmlsValue* v) {
  switch (v->type) {
    case WmlsType::Unset: return 0;
    case WmlsType::Integer: return WmlsInt(*v);
    case WmlsType::Boolean: return v->value ? 1 : 0;
    case WmlsType::String: {
      const char16_t* s = WmlsStr(*v);
      if (!s) {
        if (ctx) ctx->status = WmlsStatus::NoMemory;
        return 0;
      }
      const char16_t* p = s;
      while (WmlsIsSpace(*p)) ++p;
      for (const char16_t* q = p; *q; ++q)
        if (!((*q >= '0' && *q <= '9') || *q == '-' || *q == '+')) {
          if (ctx) ctx->status = WmlsStatus::WrongType;
          return 0;
        }
      return WmlsValueToInt(ctx, s);
    }
    default:
      if (ctx) ctx->status = WmlsStatus::WrongType;
      return 0;
  }
}

static bool IntText(int32_t n, WmlsValue* out) {
  char16_t buf[16];
  int i = 16;
  uint32_t m = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  do {
    buf[--i] = static_cast<char16_t>('0' + m % 10);
    m /= 10;
  } while (m);
  if (n < 0) buf[--i] = '-';
  return WmlsValueSetString(out, buf + i, static_cast<uint32_t>(16 - i));
}

static bool AsciiText(const char* text, WmlsValue* out) {
  char16_t buf[8];
  uint32_t n = 0;
  for (; text[n]; ++n) buf[n] = static_cast<char16_t>(text[n]);
  return WmlsValueSetString(out, buf, n);
}

WmlsValue WmlsToString(WmlsRunContext* ctx, const WmlsValue* v) {
  WmlsValue out{};
  switch (v->type) {
    case WmlsType::Unset:
      if (!WmlsValueSetString(&out, u"", 0) && ctx) ctx->status = WmlsStatus::NoMemory;
      return out;
    case WmlsType::Integer:
      if (!IntText(WmlsInt(*v), &out) && ctx) ctx->status = WmlsStatus::NoMemory;
      return out;
    case WmlsType::String:
      out = *v;
      out.borrowed = 1;
      return out;
    case WmlsType::Boolean:
      if (!AsciiText(v->value ? "true" : "false", &out) && ctx) ctx->status = WmlsStatus::NoMemory;
      return out;
    case WmlsType::Reserved5:
    case WmlsType::Reserved7:
      return {WmlsType::String, 0, 0};
    default:
      if (ctx) ctx->status = WmlsStatus::WrongType;
      return WmlsMakeInvalid();
  }
}

int32_t WmlsCompare(WmlsRunContext* ctx, const WmlsValue* a0, const WmlsValue* b0) {
  static const char16_t kEmpty[1] = {0};
  WmlsValue a = *a0, b = *b0;
  if (a.type == WmlsType::Unset) a = {WmlsType::String, reinterpret_cast<uintptr_t>(kEmpty), 1};
  if (b.type == WmlsType::Unset) b = {WmlsType::String, reinterpret_cast<uintptr_t>(kEmpty), 1};
  if (a.type == WmlsType::Invalid || b.type == WmlsType::Invalid) {
    ctx->status = WmlsStatus::WrongType;
    return 0;
  }
  if (a.type == WmlsType::String || b.type == WmlsType::String) {
    WmlsValue sa = WmlsToString(ctx, &a), sb = WmlsToString(ctx, &b);
    int32_t r = 0;
    if (sa.type == WmlsType::String && sb.type == WmlsType::String) {
      const char16_t* pa = WmlsStr(sa) ? WmlsStr(sa) : kEmpty;
      const char16_t* pb = WmlsStr(sb) ? WmlsStr(sb) : kEmpty;
      r = LibcWStrCmp(pa, pb);
    }
    WmlsValueRelease(&sa);
    WmlsValueRelease(&sb);
    return r;
  }
  if (a.type == WmlsType::Integer || b.type == WmlsType::Integer) {
    const int32_t x = WmlsToInt(ctx, &a), y = WmlsToInt(ctx, &b);
    return x < y ? -1 : x > y;
  }
  if (a.type == WmlsType::Boolean || b.type == WmlsType::Boolean) {
    const int32_t x = WmlsToBool(ctx, &a), y = WmlsToBool(ctx, &b);
    return x - y;
  }
  return 0;
}

int32_t WmlsPushFrame(int32_t functionIndex, WmlsRunContext* ctx) {
  if (ctx->depth >= kWmlsMaxFrames) {
    ctx->status = WmlsStatus::CallDepth;
    return WmlsResult::Aborted;
  }
  WmlsFunctionTable* table = ctx->functions;
  if (!table || functionIndex < 0 || functionIndex >= table->functionCount) {
    ctx->status = WmlsStatus::BadFunction;
    return WmlsResult::BadCall;
  }
  // One block holds the frame, its descriptor copy and its variables.
  const WmlsFunctionDesc& fn = table->functions[functionIndex];
  const uint32_t count = fn.argCount + fn.localCount;
  const uint32_t bytes = sizeof(WmlsFrame) + sizeof(WmlsFunctionDesc) + count * sizeof(WmlsValue);
  WmlsFrame* frame;
  if (ctx->spareFrame && ctx->spareBytes >= bytes) {
    frame = ctx->spareFrame;
    ctx->spareFrame = nullptr;
    std::memset(static_cast<void*>(frame), 0, bytes);
  } else {
    frame = static_cast<WmlsFrame*>(MemAllocZero(bytes, Use::Data, Mod::WmlsExec));
    if (!frame) return WmlsResult::NoMemory;
  }
  auto* desc = reinterpret_cast<WmlsFunctionDesc*>(frame + 1);
  *desc = fn;
  desc->code = table->code + desc->codeOffset;
  frame->desc = desc;
  frame->offset = 0;
  frame->stackTopAtEntry = ctx->top;
  frame->previous = ctx->frame;
  frame->variableCount = static_cast<int16_t>(count);
  frame->variables = count ? reinterpret_cast<WmlsValue*>(desc + 1) : nullptr;  // all unset
  ctx->frame = frame;
  ++ctx->depth;
  return 0;
}

void WmlsPopFrame(WmlsRunContext* ctx) {
  WmlsFrame* frame = ctx->frame;
  if (!frame) return;
  for (int32_t i = 0; i < frame->variableCount; ++i) {
    if (frame->variables[i].type != WmlsType::String) continue;  // nothing to free or detach
    WmlsDetach(ctx, &frame->variables[i]);
    WmlsValueRelease(&frame->variables[i]);
  }
  ctx->frame = frame->previous;
  --ctx->depth;
  const uint32_t bytes = sizeof(WmlsFrame) + sizeof(WmlsFunctionDesc) +
                         static_cast<uint32_t>(frame->variableCount) * sizeof(WmlsValue);
  if (!ctx->spareFrame || ctx->spareBytes < bytes) {
    MemFree(&ctx->spareFrame);
    ctx->spareFrame = frame;
    ctx->spareBytes = bytes;
  } else {
    MemFree(&frame);
  }
  if (!ctx->frame) ctx->status = WmlsStatus::Returned;
}

const WmlsLibrary kWmlsLibraries[] = {
    {0, 15, kWmlsLangFunctions},
    {1, 8, kWmlsFloatFunctions},
    {2, 16, kWmlsStringFunctions},
    {3, 14, kWmlsUrlFunctions},
    {4, 7, kWmlsBrowserFunctions},
    {5, 3, kWmlsDialogsFunctions},
    {512, 3, kWmlsWtaPublicFunctions},
    {513, 6, kWmlsWtaCallFunctions},
    {514, 5, kWmlsWtaTextFunctions},
    {515, 5, kWmlsWtaPhonebookFunctions},
    {516, 4, kWmlsWtaMiscFunctions},
    {519, 4, kWmlsWtaLogFunctions},
    {-1, 0, nullptr},
};

void WmlsCallLibrary(int32_t library, int32_t function, WmlsRunContext* ctx) {
  const WmlsLibrary* row = kWmlsLibraries;
  while (row->id != -1 && row->id != library) ++row;
  if (row->id == -1 || function < 0 || function >= row->functionCount) {
    WmlsValue invalid = WmlsMakeInvalid();
    WmlsStackPush(&invalid, ctx);
    ctx->status = WmlsStatus::BadLibrary;
    return;
  }
  const WmlsLibFunction& fn = row->functions[function];
  WmlsValue cells[8] = {};
  WmlsValue* args[8];
  const int32_t argc = fn.argCount;
  for (int32_t i = argc - 1; i >= 0; --i) {
    if (WmlsStackPop(ctx, &cells[i])) {
      for (int32_t j = i + 1; j < argc; ++j) WmlsValueRelease(&cells[j]);
      return;
    }
  }
  for (int32_t i = 0; i < 8; ++i) args[i] = &cells[i];
  ctx->result = {};
  fn.handler(ctx, args);
  for (int32_t i = 0; i < argc; ++i) WmlsValueRelease(&cells[i]);
  if (ctx->result.type == WmlsType::Invalid && ctx->status == WmlsStatus::WrongType) ctx->status = 0;
  if (WmlsStackPush(&ctx->result, ctx)) {
    if (ctx->status == 0) ctx->status = WmlsStatus::NoMemory;
    // A waiting call without its cell on the stack has nowhere to put the
    // answer: the run ends for memory now instead of waiting for ever.
    ctx->suspended = 0;
    ctx->resumeKind = 0;
  }
  WmlsValueRelease(&ctx->result);
}
