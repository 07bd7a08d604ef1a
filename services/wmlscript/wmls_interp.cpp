// The bytecode interpreter: one instruction per step over the operand stack
// and the current frame. Every operand is read within the function's code
// and every index checked against its table, so no unit can make it read
// outside what it owns.
#include <array>
#include <cstring>

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"

namespace {

constexpr int32_t kMin = -2147483647 - 1;
constexpr int32_t kMax = 2147483647;

// The next operand byte(s) of the current frame, or status 0x1005 when the
// code ends first.
bool ReadU8(WmlsRunContext* ctx, uint32_t* out) {
  WmlsFrame* f = ctx->frame;
  if (f->offset >= f->desc->codeSize) {
    ctx->status = WmlsStatus::CodeOverrun;
    return false;
  }
  *out = f->desc->code[f->offset++];
  return true;
}

bool ReadU16(WmlsRunContext* ctx, uint32_t* out) {
  WmlsFrame* f = ctx->frame;
  if (f->desc->codeSize < 2 || f->offset > f->desc->codeSize - 2) {
    ctx->status = WmlsStatus::CodeOverrun;
    return false;
  }
  *out = static_cast<uint32_t>(f->desc->code[f->offset]) << 8 | f->desc->code[f->offset + 1];
  f->offset += 2;
  return true;
}

WmlsValue* Var(WmlsRunContext* ctx, uint32_t i) {
  WmlsFrame* f = ctx->frame;
  if (i >= static_cast<uint32_t>(f->variableCount)) {
    ctx->status = WmlsStatus::BadVariable;
    return nullptr;
  }
  return &f->variables[i];
}

const WmlsValue* Const(WmlsRunContext* ctx, uint32_t i) {
  if (i >= ctx->constantCount) {
    ctx->status = WmlsStatus::BadConstant;
    return nullptr;
  }
  return &ctx->constants[i];
}

int32_t PushInvalid(WmlsRunContext* ctx) {
  WmlsValue v = WmlsMakeInvalid();
  return WmlsStackPush(&v, ctx);
}
int32_t PushInt(WmlsRunContext* ctx, int32_t n) {
  WmlsValue v = WmlsMakeInt(n);
  return WmlsStackPush(&v, ctx);
}
int32_t PushBool(WmlsRunContext* ctx, bool b) {
  WmlsValue v = WmlsMakeBool(b);
  return WmlsStackPush(&v, ctx);
}
int32_t PushTake(WmlsRunContext* ctx, WmlsValue* v) {
  v->borrowed = 0;
  return WmlsStackPushTake(v, ctx);
}

bool PopTwo(WmlsRunContext* ctx, WmlsValue* a, WmlsValue* b) {
  if (WmlsStackPop(ctx, b)) return false;
  if (WmlsStackPop(ctx, a)) {
    WmlsValueRelease(b);
    return false;
  }
  return true;
}

// An integer conversion inside an instruction: a type error gives false and
// clears the status; a string whose digits overflow gives -1 and its
// overflow status is cleared too.
bool AsInt(WmlsRunContext* ctx, const WmlsValue* v, int32_t* out) {
  *out = WmlsToInt(ctx, v);
  if (ctx->status == WmlsStatus::WrongType) {
    ctx->status = 0;
    return false;
  }
  if (ctx->status == WmlsStatus::IntOverflow) ctx->status = 0;
  return ctx->status == 0;
}

// Increment or decrement in place.
void Step1(WmlsRunContext* ctx, WmlsValue* v, int32_t delta) {
  switch (v->type) {
    case WmlsType::Unset: *v = WmlsMakeInt(delta); return;
    case WmlsType::Integer: {
      const int32_t n = WmlsInt(*v);
      *v = (delta > 0 && n == kMax) || (delta < 0 && n == kMin) ? WmlsMakeInvalid() : WmlsMakeInt(n + delta);
      return;
    }
    case WmlsType::String: {
      const int32_t saved = ctx->status;
      const int32_t n = WmlsToInt(ctx, v);
      const bool ok = ctx->status == saved;
      ctx->status = saved;
      WmlsDetach(ctx, v);
      WmlsValueRelease(v);
      if (!ok || (delta > 0 && n == kMax) || (delta < 0 && n == kMin))
        *v = WmlsMakeInvalid();
      else
        *v = WmlsMakeInt(n + delta);
      return;
    }
    case WmlsType::Boolean: *v = WmlsMakeInt(static_cast<int32_t>(v->value) + delta); return;
    default:
      WmlsDetach(ctx, v);
      WmlsValueRelease(v);
      *v = WmlsMakeInvalid();
      return;
  }
}

// a + b into out (owned).
void Add(WmlsRunContext* ctx, const WmlsValue* a, const WmlsValue* b, WmlsValue* out) {
  if (a->type == WmlsType::Invalid || b->type == WmlsType::Invalid) {
    *out = WmlsMakeInvalid();
    return;
  }
  if (a->type != WmlsType::String && b->type != WmlsType::String) {
    int32_t x, y;
    if (!AsInt(ctx, a, &x) || !AsInt(ctx, b, &y)) {
      *out = WmlsMakeInvalid();
      return;
    }
    int32_t s;
    *out = __builtin_add_overflow(x, y, &s) ? WmlsMakeInvalid() : WmlsMakeInt(s);
    return;
  }
  WmlsValue sa = WmlsToString(ctx, a), sb = WmlsToString(ctx, b);
  if (sa.type != WmlsType::String || sb.type != WmlsType::String) {
    WmlsValueRelease(&sa);
    WmlsValueRelease(&sb);
    if (ctx->status == WmlsStatus::WrongType) ctx->status = 0;
    *out = WmlsMakeInvalid();
    return;
  }
  const uint32_t la = WmlsLen(WmlsStr(sa)), lb = WmlsLen(WmlsStr(sb));
  auto* s = static_cast<char16_t*>(MemAlloc((la + lb + 1) * 2, Use::String, Mod::WmlsExec));
  if (s) {
    if (la) std::memcpy(s, WmlsStr(sa), la * 2);
    if (lb) std::memcpy(s + la, WmlsStr(sb), lb * 2);
    s[la + lb] = 0;
    *out = {WmlsType::String, reinterpret_cast<uintptr_t>(s), 0};
  } else {
    ctx->status = WmlsStatus::NoMemory;
    *out = WmlsMakeInvalid();
  }
  WmlsValueRelease(&sa);
  WmlsValueRelease(&sb);
}

void Sub(WmlsRunContext* ctx, const WmlsValue* a, const WmlsValue* b, WmlsValue* out) {
  int32_t x, y, d;
  if (!AsInt(ctx, a, &x) || !AsInt(ctx, b, &y) || __builtin_sub_overflow(x, y, &d))
    *out = WmlsMakeInvalid();
  else
    *out = WmlsMakeInt(d);
}

int32_t Binary(WmlsRunContext* ctx, uint8_t op) {
  WmlsValue a, b;
  if (!PopTwo(ctx, &a, &b)) return 0;
  WmlsValue out = WmlsMakeInvalid();
  switch (op) {
    case 0x20: Add(ctx, &a, &b, &out); break;
    case 0x21: Sub(ctx, &a, &b, &out); break;
    case 0x23: break;  // no floating-point division
    case 0x2D: case 0x2E: case 0x2F: case 0x30: case 0x31: case 0x32: {
      const int32_t c = WmlsCompare(ctx, &a, &b);
      if (ctx->status == WmlsStatus::WrongType) {
        ctx->status = 0;
        break;
      }
      const bool r = op == 0x2D ? c == 0 : op == 0x2E ? c <= 0 : op == 0x2F ? c < 0
                   : op == 0x30 ? c >= 0 : op == 0x31 ? c > 0 : c != 0;
      out = WmlsMakeBool(r);
      break;
    }
    default: {
      int32_t x, y;
      if (!AsInt(ctx, &a, &x) || !AsInt(ctx, &b, &y)) break;
      const uint32_t ux = static_cast<uint32_t>(x), sh = static_cast<uint32_t>(y) & 31;
      int32_t r = 0;
      switch (op) {
        case 0x22:
          if (!__builtin_mul_overflow(x, y, &r)) out = WmlsMakeInt(r);
          break;
        case 0x24:
        case 0x25:
          if (y == 0 || (x == kMin && y == -1)) break;
          out = WmlsMakeInt(op == 0x24 ? x / y : x % y);
          break;
        case 0x26: out = WmlsMakeInt(x & y); break;
        case 0x27: out = WmlsMakeInt(x | y); break;
        case 0x28: out = WmlsMakeInt(x ^ y); break;
        case 0x2A: out = WmlsMakeInt(static_cast<int32_t>(ux << sh)); break;
        case 0x2B: out = WmlsMakeInt(x >> sh); break;
        case 0x2C: out = WmlsMakeInt(static_cast<int32_t>(ux >> sh)); break;
        default: break;
      }
    }
  }
  WmlsValueRelease(&a);
  WmlsValueRelease(&b);
  return PushTake(ctx, &out);
}

// Moves the popped cell into a variable, which always owns its string.
void Store(WmlsRunContext* ctx, WmlsValue* var, WmlsValue* v) {
  if (v->type == WmlsType::Reserved5 || v->type == WmlsType::Reserved7) {
    WmlsValueRelease(v);
    ctx->status = WmlsStatus::WrongType;
    return;
  }
  WmlsValue nv = *v;
  if (nv.type == WmlsType::String && nv.borrowed) {
    // The variable's own string stored back into it stays as it is.
    if (var->type == WmlsType::String && !var->borrowed && var->value == nv.value) return;
    const char16_t* s = WmlsStr(nv);
    if (s && !WmlsValueSetString(&nv, s, WmlsLen(s))) {
      ctx->status = WmlsStatus::NoMemory;
      return;
    }
  }
  nv.borrowed = 0;
  WmlsDetach(ctx, var);
  WmlsValueRelease(var);
  *var = nv;
}

// A variable's string goes on the stack by reference: the copy the value
// semantics ask for is made only when the variable changes first.
int32_t LoadVar(WmlsRunContext* ctx, const WmlsValue* v) {
  return v->type == WmlsType::String ? WmlsStackPushRef(v, ctx) : WmlsStackPush(v, ctx);
}

int32_t Jump(WmlsRunContext* ctx, uint32_t target) {
  ctx->frame->offset = target;  // an offset past the code is caught after the step
  return 0;
}

// Pops the condition: true when the conditional jump is taken.
bool Falsy(WmlsRunContext* ctx, bool* ok) {
  WmlsValue v;
  *ok = WmlsStackPop(ctx, &v) == 0;
  if (!*ok) return false;
  const bool b = WmlsToBool(ctx, &v);
  bool taken = !b;
  if (ctx->status == WmlsStatus::WrongType) {
    ctx->status = 0;
    taken = true;
  }
  WmlsValueRelease(&v);
  return taken;
}

int32_t Call(WmlsRunContext* ctx, uint32_t f) {
  if (!ctx->functions || f >= ctx->functions->functionCount) {
    ctx->status = WmlsStatus::BadFunction;
    return 0;
  }
  const int32_t r = WmlsPushFrame(static_cast<int32_t>(f), ctx);
  if (r) return r == WmlsResult::NoMemory ? r : 0;
  WmlsFrame* frame = ctx->frame;
  for (int32_t i = frame->desc->argCount - 1; i >= 0; --i) {
    // Integers and booleans go straight into the fresh (unset) cell.
    if (ctx->top >= 0 && (ctx->stack[ctx->top].type == WmlsType::Integer ||
                          ctx->stack[ctx->top].type == WmlsType::Boolean)) {
      frame->variables[i] = ctx->stack[ctx->top--];
      frame->variables[i].borrowed = 0;
      continue;
    }
    WmlsValue v;
    // Arguments missing from the stack are an error, not a normal end.
    if (WmlsStackPop(ctx, &v)) return 0;
    Store(ctx, &frame->variables[i], &v);
    if (ctx->status) return 0;
  }
  frame->stackTopAtEntry = ctx->top;
  return 0;
}

// The return value stays where it is on the stack; removing the frame gives
// any cell that borrows one of its variables a copy of its own.
int32_t Return(WmlsRunContext* ctx) {
  if (ctx->top < 0) {
    ctx->status = WmlsStatus::Underflow;
    return 0;
  }
  WmlsPopFrame(ctx);
  return ctx->status == WmlsStatus::NoMemory ? WmlsResult::NoMemory : 0;
}

int32_t LibCall(WmlsRunContext* ctx, int32_t lib, int32_t fn) {
  WmlsCallLibrary(lib, fn, ctx);
  return 0;
}

// Units of an argument in a call text: a string goes in quotes with the
// characters that could end it or read as an escape written as %XX, so that
// no text can change the call; other kinds go in their string form.
constexpr char16_t kHex[] = u"0123456789ABCDEF";
bool NeedsEscape(char16_t c) { return c == '%' || c == '\'' || c == '"'; }

uint32_t ArgLength(const WmlsValue& v) {
  if (v.type != WmlsType::String) return WmlsLen(WmlsStr(v));
  uint32_t n = 2;
  for (const char16_t* p = WmlsStr(v); p && *p; ++p) n += NeedsEscape(*p) ? 3 : 1;
  return n;
}

char16_t* PutArg(char16_t* out, const WmlsValue& v, bool quoted) {
  const char16_t* p = WmlsStr(v);
  if (quoted) *out++ = '\'';
  for (; p && *p; ++p) {
    if (quoted && NeedsEscape(*p)) {
      *out++ = '%';
      *out++ = kHex[*p >> 4];
      *out++ = kHex[*p & 15];
    } else {
      *out++ = *p;
    }
  }
  if (quoted) *out++ = '\'';
  return out;
}

// The call of a function of another unit runs as a nested script of the
// script task: the run waits (resume kind 4) for the nested run's result.
// Outside the task the call gives invalid.
int32_t CallUrl(WmlsRunContext* ctx, uint32_t url, uint32_t name, uint32_t argc) {
  const WmlsValue* u = Const(ctx, url);
  const WmlsValue* n = u ? Const(ctx, name) : nullptr;
  if (!n) return 0;
  if (u->type != WmlsType::String || n->type != WmlsType::String) {
    ctx->status = WmlsStatus::WrongType;
    return 0;
  }
  auto* task = static_cast<WmlsTaskContext*>(ctx->scriptTask);
  WmlsValue args[255];
  bool quoted[255];
  uint32_t popped = 0;
  int32_t result = 0;
  for (; popped < argc; ++popped) {
    WmlsValue v;
    if (WmlsStackPop(ctx, &v)) break;
    const uint32_t at = argc - 1 - popped;
    // An unset value is the empty string in every conversion: it goes as
    // '' so that the other unit gets that string.
    quoted[at] = v.type == WmlsType::String || v.type == WmlsType::Unset;
    if (v.type == WmlsType::Invalid) {
      WmlsValueRelease(&v);
      args[at] = {};
      WmlsValueSetString(&args[at], u"invalid", 7);
      quoted[at] = false;
    } else {
      args[at] = WmlsToString(ctx, &v);
      if (args[at].borrowed) WmlsValueSetString(&args[at], WmlsStr(v), WmlsLen(WmlsStr(v)));
      WmlsValueRelease(&v);
    }
    if (args[at].type != WmlsType::String) result = WmlsResult::NoMemory;
  }
  char* text8 = nullptr;
  if (popped == argc && !result && task && task->call) {
    const char16_t* unitUrl = WmlsStr(*u);
    const char16_t* function = WmlsStr(*n);
    uint32_t length = WmlsLen(unitUrl) + WmlsLen(function) + 3 + (argc ? argc - 1 : 0);
    for (uint32_t i = 0; i < argc; ++i) length += ArgLength(args[i]);
    auto* text = static_cast<char16_t*>(MemAlloc((length + 1) * 2, Use::String, Mod::WmlsExec));
    if (text) {
      char16_t* w = text;
      for (const char16_t* p = unitUrl; p && *p;) *w++ = *p++;
      *w++ = '#';
      for (const char16_t* p = function; p && *p;) *w++ = *p++;
      *w++ = '(';
      for (uint32_t i = 0; i < argc; ++i) {
        if (i) *w++ = ',';
        w = PutArg(w, args[i], quoted[i]);
      }
      *w++ = ')';
      *w = 0;
      text8 = WmlsWideToNarrow(text, static_cast<uint32_t>(w - text));
      MemFree(&text);
    }
    if (!text8) result = WmlsResult::NoMemory;
  }
  for (uint32_t i = argc - popped; i < argc; ++i) WmlsValueRelease(&args[i]);
  if (popped < argc) return 0;  // the pop set the status
  if (result) {
    ctx->status = WmlsStatus::NoMemory;
    return result;
  }
  if (!text8) return PushInvalid(ctx);
  if (task->call(task, text8) != 0) {
    // Calls nested too deep end the run with an error.
    ctx->status = WmlsStatus::CallDepth;
    return 0;
  }
  ctx->suspended = 1;
  ctx->resumeKind = 4;
  return PushInvalid(ctx);
}

int32_t Unary(WmlsRunContext* ctx, uint8_t op) {
  WmlsValue a;
  if (WmlsStackPop(ctx, &a)) return 0;
  WmlsValue out = WmlsMakeInvalid();
  switch (op) {
    case 0x1B: Step1(ctx, &a, 1); out = a; a = {}; break;
    case 0x1C: Step1(ctx, &a, -1); out = a; a = {}; break;
    case 0x1F: {
      if (a.type == WmlsType::Integer) {
        out = WmlsMakeInt(static_cast<int32_t>(0u - static_cast<uint32_t>(WmlsInt(a))));
        break;
      }
      if (a.type == WmlsType::Invalid) break;
      int32_t x;
      if (AsInt(ctx, &a, &x)) out = WmlsMakeInt(static_cast<int32_t>(0u - static_cast<uint32_t>(x)));
      break;
    }
    case 0x29: {
      int32_t x;
      if (AsInt(ctx, &a, &x)) out = WmlsMakeInt(~x);
      break;
    }
    case 0x33: case 0x36: {
      if (a.type == WmlsType::Invalid) break;
      const bool b = WmlsToBool(ctx, &a);
      if (ctx->status == WmlsStatus::WrongType) {
        ctx->status = 0;
        break;
      }
      out = WmlsMakeBool(op == 0x33 ? !b : b);
      break;
    }
    case 0x38: {
      const uint32_t t = a.type;
      out = WmlsMakeInt(t == WmlsType::Integer ? 0 : t == WmlsType::Float ? 1 : t == WmlsType::String ? 2
                        : t == WmlsType::Boolean ? 3 : 4);
      break;
    }
    case 0x39: out = WmlsMakeBool(a.type != WmlsType::Invalid); break;
  }
  WmlsValueRelease(&a);
  return PushTake(ctx, &out);
}

int32_t ShortCircuit(WmlsRunContext* ctx, bool isAnd) {
  WmlsValue a;
  if (WmlsStackPop(ctx, &a)) return 0;
  const bool b = WmlsToBool(ctx, &a);
  const bool bad = ctx->status == WmlsStatus::WrongType || a.type == WmlsType::Invalid;
  if (ctx->status == WmlsStatus::WrongType) ctx->status = 0;
  WmlsValueRelease(&a);
  if (!bad && b == isAnd) return PushBool(ctx, true);
  int32_t r = bad ? PushInvalid(ctx) : PushBool(ctx, !isAnd);
  if (!r) r = PushBool(ctx, false);
  return r;
}

}  // namespace

int32_t WmlsStep(uint8_t op, WmlsRunContext* ctx) {
  WmlsFrame* f = ctx->frame;
  const uint32_t start = f->offset - 1;
  uint32_t x = 0, y = 0, z = 0;
  int32_t r = 0;
  if (op >= 0x80) {
    const uint32_t low = op & 0x1F;
    switch (op & 0xE0) {
      case 0x80: r = Jump(ctx, f->offset + low); break;
      case 0xA0: r = Jump(ctx, start - low); break;
      case 0xC0: {
        bool ok;
        if (Falsy(ctx, &ok) && ok) r = Jump(ctx, f->offset + low);
        break;
      }
      default:
        if (WmlsValue* v = Var(ctx, low)) r = LoadVar(ctx, v);
        break;
    }
  } else if (op >= 0x40) {
    if (op < 0x50) {
      WmlsValue* v = Var(ctx, op & 0x0F);
      WmlsValue cell;
      if (v && !WmlsStackPop(ctx, &cell)) Store(ctx, v, &cell);
    } else if (op < 0x60) {
      if (const WmlsValue* c = Const(ctx, op & 0x0F)) r = WmlsStackPush(c, ctx);
    } else if (op < 0x68) {
      r = Call(ctx, op & 7);
    } else if (op < 0x70) {
      if (ReadU8(ctx, &x)) r = LibCall(ctx, static_cast<int32_t>(x), op & 7);
    } else if (op < 0x78) {
      if (WmlsValue* v = Var(ctx, op & 7)) Step1(ctx, v, 1);
    } else {
      ctx->status = WmlsStatus::BadOpcode + op;
    }
  } else {
    switch (op) {
      case 0x00: case 0x3B: {
        WmlsValue e;
        if (!WmlsValueSetString(&e, u"", 0)) return WmlsResult::NoMemory;
        r = WmlsStackPushTake(&e, ctx);
        if (!r) r = Return(ctx);
        break;
      }
      case 0x3A: r = Return(ctx); break;
      case 0x01: if (ReadU8(ctx, &x)) r = Jump(ctx, f->offset + x); break;
      case 0x02: if (ReadU16(ctx, &x)) r = Jump(ctx, f->offset + x); break;
      case 0x03: if (ReadU8(ctx, &x)) r = Jump(ctx, start - x); break;
      case 0x04: if (ReadU16(ctx, &x)) r = Jump(ctx, start - x); break;
      case 0x05: case 0x06: case 0x07: case 0x08: {
        if (!(op & 1 ? ReadU8(ctx, &x) : ReadU16(ctx, &x))) break;
        bool ok;
        // Backward conditional jumps count from the instruction's start, as
        // compilers write them.
        if (Falsy(ctx, &ok) && ok) r = Jump(ctx, op <= 0x06 ? f->offset + x : start - x);
        break;
      }
      case 0x09: if (ReadU8(ctx, &x)) r = Call(ctx, x); break;
      case 0x0A: if (ReadU8(ctx, &x) && ReadU8(ctx, &y)) r = LibCall(ctx, static_cast<int32_t>(y), static_cast<int32_t>(x)); break;
      case 0x0B: if (ReadU8(ctx, &x) && ReadU16(ctx, &y)) r = LibCall(ctx, static_cast<int32_t>(y), static_cast<int32_t>(x)); break;
      case 0x0C: if (ReadU8(ctx, &x) && ReadU8(ctx, &y) && ReadU8(ctx, &z)) r = CallUrl(ctx, x, y, z); break;
      case 0x0D: if (ReadU16(ctx, &x) && ReadU16(ctx, &y) && ReadU8(ctx, &z)) r = CallUrl(ctx, x, y, z); break;
      case 0x0E: if (ReadU8(ctx, &x)) if (WmlsValue* v = Var(ctx, x)) r = LoadVar(ctx, v); break;
      case 0x0F:
        if (ReadU8(ctx, &x)) {
          WmlsValue* v = Var(ctx, x);
          WmlsValue cell;
          if (v && !WmlsStackPop(ctx, &cell)) Store(ctx, v, &cell);
        }
        break;
      case 0x10: case 0x11:
        if (ReadU8(ctx, &x)) if (WmlsValue* v = Var(ctx, x)) Step1(ctx, v, op == 0x10 ? 1 : -1);
        break;
      case 0x12: if (ReadU8(ctx, &x)) if (const WmlsValue* c = Const(ctx, x)) r = WmlsStackPushRef(c, ctx); break;
      case 0x13: if (ReadU16(ctx, &x)) if (const WmlsValue* c = Const(ctx, x)) r = WmlsStackPushRef(c, ctx); break;
      case 0x14: r = PushInt(ctx, 0); break;
      case 0x15: r = PushInt(ctx, 1); break;
      case 0x16: r = PushInt(ctx, -1); break;
      case 0x17: {
        WmlsValue e;
        WmlsValueSetString(&e, u"", 0);  // invalid when it cannot be allocated
        r = WmlsStackPushTake(&e, ctx);
        break;
      }
      case 0x18: r = PushInvalid(ctx); break;
      case 0x19: r = PushBool(ctx, true); break;
      case 0x1A: r = PushBool(ctx, false); break;
      case 0x1D: case 0x1E: {
        if (!ReadU8(ctx, &x)) break;
        WmlsValue* v = Var(ctx, x);
        WmlsValue b;
        if (!v || WmlsStackPop(ctx, &b)) break;
        WmlsValue out;
        if (op == 0x1D) Add(ctx, v, &b, &out); else Sub(ctx, v, &b, &out);
        WmlsValueRelease(&b);
        WmlsDetach(ctx, v);
        WmlsValueRelease(v);
        *v = out;
        break;
      }
      case 0x1B: case 0x1C: case 0x1F: case 0x29: case 0x33: case 0x36: case 0x38: case 0x39:
        r = Unary(ctx, op);
        break;
      case 0x34: r = ShortCircuit(ctx, true); break;
      case 0x35: r = ShortCircuit(ctx, false); break;
      case 0x37: {
        WmlsValue v;
        if (!WmlsStackPop(ctx, &v)) WmlsValueRelease(&v);
        break;
      }
      case 0x3C: break;
      case 0x3D: case 0x3E: case 0x3F: ctx->status = WmlsStatus::BadOpcode + op; break;
      default: r = Binary(ctx, op); break;
    }
  }
  if (ctx->frame && ctx->frame->offset > ctx->frame->desc->codeSize && ctx->status == 0)
    ctx->status = WmlsStatus::CodeOverrun;
  if (r) return r;
  return ctx->suspended ? WmlsResult::Suspended : 0;
}

int32_t WmlsRunStart(WmlsRunContext* ctx, WmlsUnit* unit, int32_t functionIndex,
                     const WmlsValue* args, uint8_t argCount) {
  *ctx = {};
  ctx->unit = unit;
  ctx->top = -1;
  ctx->functionIndex = functionIndex;
  if (!unit) return WmlsResult::NoUnit;
  ctx->constants = unit->constants;
  ctx->constantCount = unit->constantCount;
  ctx->functions = &unit->functions;
  if (functionIndex < 0 || functionIndex >= unit->functions.functionCount) return WmlsResult::BadCall;
  if (unit->functions.functions[functionIndex].argCount != argCount) return WmlsResult::ArgCount;
  for (uint32_t i = 0; i < argCount; ++i)
    if (WmlsStackPush(&args[i], ctx)) return WmlsResult::NoMemory;
  const int32_t r = Call(ctx, static_cast<uint32_t>(functionIndex));
  if (r) return r;
  return ctx->status ? WmlsResult::NoMemory : 0;
}

// Where the fast loop goes for each opcode: its own handler for the common
// integer and boolean cases of the hottest instructions, the general step
// for everything else. Each handler dispatches the next instruction itself,
// so that every opcode has its own branch to predict.
enum FastOp : uint8_t {
  kSlow, kLoadVarS, kTJumpFwS, kJumpBwS, kConst0, kConst1, kStoreVarS, kIncrVarS, kAddOp, kSubOp,
  kEqOp, kLeOp, kLtOp, kGeOp, kGtOp, kNeOp, kAddAsg, kPopOp,
};

constexpr auto kFastOps = [] {
  std::array<uint8_t, 256> t{};
  for (int op = 0xE0; op <= 0xFF; ++op) t[op] = kLoadVarS;
  for (int op = 0xC0; op <= 0xDF; ++op) t[op] = kTJumpFwS;
  for (int op = 0xA0; op <= 0xBF; ++op) t[op] = kJumpBwS;
  for (int op = 0x40; op <= 0x4F; ++op) t[op] = kStoreVarS;
  for (int op = 0x70; op <= 0x77; ++op) t[op] = kIncrVarS;
  t[0x14] = kConst0;
  t[0x15] = kConst1;
  t[0x20] = kAddOp;
  t[0x21] = kSubOp;
  t[0x2D] = kEqOp;
  t[0x2E] = kLeOp;
  t[0x2F] = kLtOp;
  t[0x30] = kGeOp;
  t[0x31] = kGtOp;
  t[0x32] = kNeOp;
  t[0x1D] = kAddAsg;
  t[0x37] = kPopOp;
  return t;
}();

int32_t WmlsRunSlice(WmlsRunContext* ctx, uint32_t steps) {
  static const void* const kHandlers[] = {
      &&slowPath, &&loadVarS, &&tJumpFwS, &&jumpBwS, &&const0, &&const1, &&storeVarS, &&incrVarS,
      &&addOp, &&subOp, &&eqOp, &&leOp, &&ltOp, &&geOp, &&gtOp, &&neOp, &&addAsg, &&popOp,
  };
  uint32_t left = steps;  // instructions the slice still has room for
  while (left && ctx->status == 0 && ctx->frame) {
    // The handlers work on cached state; the general step takes the state
    // from the context, and it is fetched again after it.
    const WmlsFrame* const f = ctx->frame;
    const uint8_t* const code = f->desc->code;
    const uint32_t size = f->desc->codeSize;
    WmlsValue* const vars = f->variables;
    const uint32_t nvars = static_cast<uint32_t>(f->variableCount);
    WmlsValue* const st = ctx->stack;
    const int32_t cap = ctx->capacity;
    int32_t top = ctx->top;
    uint32_t off = f->offset;
    uint8_t op = 0;
    int32_t x = 0, y = 0;
    uint32_t vi = 0;
    bool slow = false;

#define WMLS_NEXT()                           \
  do {                                        \
    if (!left) goto sliceDone;                \
    if (off > size) {                         \
      ctx->status = WmlsStatus::CodeOverrun;  \
      goto sliceDone;                         \
    }                                         \
    op = code[off++];                         \
    --left;                                   \
    goto* kHandlers[kFastOps[op]];            \
  } while (0)
// Straight to the load handler when the next instruction is a load, as it
// mostly is after the instructions taken at once below: a direct jump in
// place of the table's indirect one.
#define WMLS_NEXT_LOAD()                               \
  do {                                                 \
    if (left && off < size && code[off] >= 0xE0) {     \
      op = code[off++];                                \
      --left;                                          \
      goto loadVarS;                                   \
    }                                                  \
    WMLS_NEXT();                                       \
  } while (0)
// Both operands integers: x and y; else the general step.
#define WMLS_INTS()                                                                            \
  if (top < 1 || st[top].type != WmlsType::Integer || st[top - 1].type != WmlsType::Integer) \
    goto slowPath;                                                                             \
  x = WmlsInt(st[top - 1]);                                                                    \
  y = WmlsInt(st[top])
#define WMLS_COMPARE(test)             \
  WMLS_INTS();                         \
  st[top - 1] = WmlsMakeBool(test);    \
  --top;                               \
  WMLS_NEXT()

    WMLS_NEXT();
  loadVarS:
    vi = op & 0x1F;
    if (vi >= nvars || top >= cap - 1 || vars[vi].type == WmlsType::String) goto slowPath;
    // An integer load is often the first of a few instructions taken at
    // once; the byte after it tells which.
    if (vars[vi].type == WmlsType::Integer && off + 1 < size) {
      const uint32_t next = code[off];
      if (next >= 0xE0) goto intTest;
      if (next == 0x1D && left >= 1) {
        // "s += i": the load and the assignment at once.
        const uint32_t k = code[off + 1];
        int32_t r;
        if (k < nvars && vars[k].type == WmlsType::Integer &&
            !__builtin_add_overflow(WmlsInt(vars[k]), WmlsInt(vars[vi]), &r)) {
          vars[k] = WmlsMakeInt(r);
          left -= 1;
          off += 2;
          WMLS_NEXT_LOAD();
        }
      } else if (next - 0x70 < 8 && code[off + 1] == 0x37 && left >= 2) {
        // "i++;" as a statement: the load, the increment and the pop at once.
        const uint32_t k = next & 7;
        if (k < nvars && vars[k].type == WmlsType::Integer && WmlsInt(vars[k]) != kMax) {
          vars[k].value = static_cast<uint32_t>(WmlsInt(vars[k]) + 1);
          left -= 2;
          off += 2;
          // A loop's step is followed by the jump back to its test: both
          // taken here too, when the test starts with an integer load.
          if (off < size && code[off] >= 0xA0 && code[off] < 0xC0 && left >= 1) {
            off -= code[off] & 0x1F;
            left -= 1;
            if (off < size && left >= 1 && code[off] >= 0xE0) {
              // The test is taken at once only when its second operand is a
              // variable too; intTest checks that byte.
              vi = code[off] & 0x1F;
              if (vi < nvars && top < cap - 1 && vars[vi].type == WmlsType::Integer && off + 2 < size) {
                off += 1;
                left -= 1;
                goto intTest;
              }
            }
          }
          WMLS_NEXT();
        }
      }
    }
  pushVar:
    st[++top] = vars[vi];
    WMLS_NEXT();
  intTest : {
    // A loop's test, "a < b" and its conditional jump, taken at once when
    // the slice has room for the four instructions and both are integers.
    // Entered with off on the test's second instruction, which must load a
    // variable as well: a constant there is pushed by its own handler.
    if (off + 2 >= size || left < 3 || code[off] < 0xE0) goto pushVar;
    const uint32_t j = code[off] & 0x1F, cmp = code[off + 1] - 0x2Du, jump = code[off + 2];
    if (cmp > 5 || jump < 0xC0 || jump >= 0xE0 || j >= nvars || top >= cap - 2 ||
        vars[j].type != WmlsType::Integer)
      goto pushVar;
    x = WmlsInt(vars[vi]);
    y = WmlsInt(vars[j]);
    // Which of less, equal and greater satisfy each comparison, from == to !=.
    static constexpr uint8_t kHolds[] = {2, 3, 1, 6, 4, 5};
    const uint32_t order = x < y ? 0 : x == y ? 1 : 2;
    left -= 3;
    off += 3;
    if (!(kHolds[cmp] >> order & 1)) off += jump & 0x1F;
    WMLS_NEXT_LOAD();
  }
  tJumpFwS:
    if (top < 0 || st[top].type != WmlsType::Boolean) goto slowPath;
    if (!st[top--].value) off += op & 0x1F;
    WMLS_NEXT();
  jumpBwS:
    off = off - 1 - (op & 0x1F);
    WMLS_NEXT();
  const0:
    if (top >= cap - 1) goto slowPath;
    st[++top] = WmlsMakeInt(0);
    WMLS_NEXT();
  const1:
    if (top >= cap - 1) goto slowPath;
    st[++top] = WmlsMakeInt(1);
    WMLS_NEXT();
  storeVarS : {
    const uint32_t i = op & 0x0F;
    if (top < 0 || i >= nvars || (st[top].type != WmlsType::Integer && st[top].type != WmlsType::Boolean) ||
        vars[i].type == WmlsType::String)
      goto slowPath;
    vars[i] = st[top--];
    WMLS_NEXT();
  }
  incrVarS : {
    const uint32_t i = op & 7;
    if (i >= nvars || vars[i].type != WmlsType::Integer || WmlsInt(vars[i]) == kMax) goto slowPath;
    vars[i].value = static_cast<uint32_t>(WmlsInt(vars[i]) + 1);
    WMLS_NEXT();
  }
  addOp : {
    WMLS_INTS();
    int32_t r;
    if (__builtin_add_overflow(x, y, &r)) goto slowPath;
    st[--top] = WmlsMakeInt(r);
    WMLS_NEXT();
  }
  subOp : {
    WMLS_INTS();
    int32_t r;
    if (__builtin_sub_overflow(x, y, &r)) goto slowPath;
    st[--top] = WmlsMakeInt(r);
    WMLS_NEXT();
  }
  eqOp:
    WMLS_COMPARE(x == y);
  leOp:
    WMLS_COMPARE(x <= y);
  ltOp:
    WMLS_COMPARE(x < y);
  geOp:
    WMLS_COMPARE(x >= y);
  gtOp:
    WMLS_COMPARE(x > y);
  neOp:
    WMLS_COMPARE(x != y);
  addAsg : {
    if (off >= size || top < 0 || st[top].type != WmlsType::Integer) goto slowPath;
    const uint32_t i = code[off];
    int32_t r;
    if (i >= nvars || vars[i].type != WmlsType::Integer ||
        __builtin_add_overflow(WmlsInt(vars[i]), WmlsInt(st[top]), &r))
      goto slowPath;
    vars[i] = WmlsMakeInt(r);
    ++off;
    --top;
    WMLS_NEXT();
  }
  popOp:
    if (top < 0 || st[top].type == WmlsType::String) goto slowPath;
    --top;
    WMLS_NEXT();
#undef WMLS_COMPARE
#undef WMLS_INTS
#undef WMLS_NEXT_LOAD
#undef WMLS_NEXT

  slowPath:
    slow = true;
  sliceDone:
    ctx->frame->offset = off;  // the same frame: the handlers never change it
    ctx->top = top;
    if (!slow) break;
    const int32_t r = WmlsStep(op, ctx);
    if (r == WmlsResult::Suspended) return r;
    if (r) {
      if (ctx->status == 0) ctx->status = WmlsStatus::NoMemory;
      return r;
    }
  }
  switch (ctx->status) {
    case WmlsStatus::Running: return ctx->frame ? 0 : WmlsResult::Ok;
    case WmlsStatus::Exit:
    case WmlsStatus::Returned: return WmlsResult::Ok;
    case WmlsStatus::Abort: return WmlsResult::Aborted;
    case WmlsStatus::NoMemory: return WmlsResult::NoMemory;
    default: return WmlsResult::Refused;
  }
}

void WmlsRunRelease(WmlsRunContext* ctx) {
  const int32_t status = ctx->status;
  for (int32_t i = 0; i <= ctx->top; ++i) WmlsValueRelease(&ctx->stack[i]);
  ctx->top = -1;
  while (ctx->frame) WmlsPopFrame(ctx);
  ctx->status = status;
  MemFree(&ctx->stack);
  ctx->capacity = 0;
  MemFree(&ctx->spareFrame);
  ctx->spareBytes = 0;
  for (uint32_t i = 0; i < ctx->argCount; ++i) WmlsValueRelease(&ctx->args[i]);
  MemFree(&ctx->args);
  ctx->argCount = 0;
  WmlsValueRelease(&ctx->result);
}

int32_t WmlsFindFunction(const WmlsUnit* unit, const char16_t* name) {
  if (!unit || !name) return -1;
  const WmlsFunctionTable& t = unit->functions;
  for (uint32_t i = 0; i < t.nameCount; ++i)
    if (LibcWStrCmp(t.nameText + t.names[i].offset, name) == 0) return t.names[i].function;
  return -1;
}
