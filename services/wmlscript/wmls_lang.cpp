// The Lang and Float libraries. Without floating point, every function that
// would need it answers invalid and Lang.float answers false.
#include "browser/benvar.h"
#include "kernel/libc.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"

namespace {

void SetInt(WmlsRunContext* ctx, int32_t n) { ctx->result = WmlsMakeInt(n); }
void SetInvalid(WmlsRunContext* ctx) { ctx->result = WmlsMakeInvalid(); }

void Abs(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type != WmlsType::Integer) return SetInvalid(ctx);
  const int32_t n = WmlsInt(*a[0]);
  SetInt(ctx, n < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(n)) : n);
}

void Min(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type != WmlsType::Integer || a[1]->type != WmlsType::Integer) return SetInvalid(ctx);
  SetInt(ctx, WmlsInt(*a[1]) < WmlsInt(*a[0]) ? WmlsInt(*a[1]) : WmlsInt(*a[0]));
}

void Max(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type != WmlsType::Integer || a[1]->type != WmlsType::Integer) return SetInvalid(ctx);
  SetInt(ctx, WmlsInt(*a[1]) > WmlsInt(*a[0]) ? WmlsInt(*a[1]) : WmlsInt(*a[0]));
}

bool Digit(char16_t c) { return c >= '0' && c <= '9'; }

void ParseInt(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type == WmlsType::Integer) return SetInt(ctx, WmlsInt(*a[0]));
  if (a[0]->type != WmlsType::String || !WmlsStr(*a[0])) return SetInvalid(ctx);
  const char16_t* p = WmlsStr(*a[0]);
  while (WmlsIsSpace(*p)) ++p;
  if (!Digit(*p) && *p != '-' && *p != '+' && *p != '.') return SetInvalid(ctx);
  const int32_t saved = ctx->status;
  const int32_t n = WmlsValueToInt(ctx, p);
  if (ctx->status == WmlsStatus::IntOverflow) {
    // An overflowing number is invalid; it does not end the script.
    ctx->status = saved;
    return SetInvalid(ctx);
  }
  SetInt(ctx, n);
}

void Invalid(WmlsRunContext* ctx, WmlsValue**) { SetInvalid(ctx); }

void IsInt(WmlsRunContext* ctx, WmlsValue** a) {
  switch (a[0]->type) {
    case WmlsType::Integer: ctx->result = WmlsMakeBool(true); return;
    case WmlsType::Boolean:
    case WmlsType::Unset: ctx->result = WmlsMakeBool(false); return;
    case WmlsType::String: {
      const char16_t* p = WmlsStr(*a[0]);
      if (!p) return SetInvalid(ctx);
      while (WmlsIsSpace(*p)) ++p;
      const bool yes = Digit(p[0]) || ((p[0] == '-' || p[0] == '+' || p[0] == '.') && Digit(p[1]));
      ctx->result = WmlsMakeBool(yes);
      return;
    }
    default: SetInvalid(ctx); return;
  }
}

void MaxInt(WmlsRunContext* ctx, WmlsValue**) { SetInt(ctx, 2147483647); }
void MinInt(WmlsRunContext* ctx, WmlsValue**) { SetInt(ctx, -2147483647 - 1); }
void FloatFn(WmlsRunContext* ctx, WmlsValue**) { ctx->result = WmlsMakeBool(false); }

void Exit(WmlsRunContext* ctx, WmlsValue**) {
  SetInvalid(ctx);
  ctx->status = WmlsStatus::Exit;
}

void Abort(WmlsRunContext* ctx, WmlsValue** a) {
  // The message stays as the result; the script task shows it.
  WmlsValue s = WmlsToString(ctx, a[0]);
  if (ctx->status == WmlsStatus::WrongType) ctx->status = 0;
  if (s.type == WmlsType::String && s.borrowed && WmlsStr(s)) {
    const char16_t* text = WmlsStr(s);
    WmlsValueSetString(&s, text, WmlsLen(text));
  }
  ctx->result = s;
  // An aborted script navigates nowhere, whatever it asked for before.
  if (const auto* task = static_cast<const WmlsTaskContext*>(ctx->scriptTask); task && task->browser)
    BenSetPendingTask(task->browser, BenPendingKind::Go, nullptr);
  ctx->status = WmlsStatus::Abort;
}

void Random(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type != WmlsType::Integer) return SetInvalid(ctx);
  const int32_t n = WmlsInt(*a[0]);
  if (n < 0) return SetInvalid(ctx);
  if (n == 0) return SetInt(ctx, 0);
  ctx->randomState = ctx->randomState * 1013904223u + 1664525u;
  SetInt(ctx, static_cast<int32_t>(ctx->randomState % (static_cast<uint32_t>(n) + 1u)));
}

void Seed(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type != WmlsType::Integer) return SetInvalid(ctx);
  const int32_t n = WmlsInt(*a[0]);
  ctx->randomState = n < 0 ? static_cast<uint32_t>(LibcTime(nullptr)) : static_cast<uint32_t>(n);
  WmlsValueSetString(&ctx->result, u"", 0);
}

void CharacterSet(WmlsRunContext* ctx, WmlsValue**) { SetInt(ctx, 106); }

}  // namespace

const WmlsLibFunction kWmlsLangFunctions[] = {
    {Abs, 1},    {Min, 2},     {Max, 2},    {ParseInt, 1},  {Invalid, 1},     {IsInt, 1},
    {Invalid, 1}, {MaxInt, 0}, {MinInt, 0}, {FloatFn, 0},   {Exit, 0},        {Abort, 1},
    {Random, 1}, {Seed, 1},    {CharacterSet, 0}, {nullptr, -1},
};

const WmlsLibFunction kWmlsFloatFunctions[] = {
    {Invalid, 1}, {Invalid, 1}, {Invalid, 1}, {Invalid, 2}, {Invalid, 1},
    {Invalid, 1}, {Invalid, 0}, {Invalid, 0}, {nullptr, -1},
};
