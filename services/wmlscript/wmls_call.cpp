// Starting a run from a call text "name(arguments)": the access check, the
// argument list, the function's lookup by name.
#include <cstring>

#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"

namespace {


bool Same(const char16_t* s, uint32_t n, const char* word) {
  uint32_t i = 0;
  for (; i < n && word[i]; ++i)
    if (s[i] != static_cast<uint8_t>(word[i])) return false;
  return i == n && !word[i];
}

struct Args {
  WmlsValue* cells = nullptr;
  uint32_t count = 0, capacity = 0;
  bool Add(const WmlsValue& v) {
    if (count == 255) return false;
    if (count == capacity) {
      const uint32_t c = capacity ? capacity * 2 : 4;
      // The old list stays on failure: its texts are released with it.
      void* q = cells ? MemRealloc(cells, c * sizeof(WmlsValue), 0, Mod::WmlsExec)
                      : MemAlloc(c * sizeof(WmlsValue), Use::Data, Mod::WmlsExec);
      if (!q) return false;
      cells = static_cast<WmlsValue*>(q);
      capacity = c;
    }
    cells[count++] = v;
    return true;
  }
  ~Args() {
    for (uint32_t i = 0; i < count; ++i) WmlsValueRelease(&cells[i]);
    MemFree(&cells);
  }
};

// Parses the argument list after "(": 0, -1005 malformed, -1003 out of memory.
int32_t ParseArgs(WmlsRunContext* ctx, const char16_t* p, Args* args) {
  while (WmlsIsSpace(*p)) ++p;
  if (*p == ')') return 0;
  for (;;) {
    while (WmlsIsSpace(*p)) ++p;
    WmlsValue v = WmlsMakeInvalid();
    if (*p == '\'' || *p == '"') {
      const char16_t quote = *p++;
      const char16_t* start = p;
      while (*p && *p != quote) ++p;
      if (!*p) return WmlsResult::BadCall;
      const uint32_t n = static_cast<uint32_t>(p - start);
      char16_t* text = WmlsNewString(start, n);
      if (!text) return WmlsResult::NoMemory;
      uint32_t w = 0;
      for (uint32_t i = 0; i < n; ++i) {
        int high, low;
        if (start[i] == '%' && i + 2 < n && (high = WmlsHexDigit(start[i + 1])) >= 0 &&
            (low = WmlsHexDigit(start[i + 2])) >= 0) {
          text[w++] = static_cast<char16_t>(high * 16 + low);
          i += 2;
        } else {
          text[w++] = start[i];
        }
      }
      text[w] = 0;
      v = {WmlsType::String, reinterpret_cast<uintptr_t>(text), 0};
      ++p;
    } else {
      const char16_t* start = p;
      while (*p && *p != ',' && *p != ')') ++p;
      if (!*p) return WmlsResult::BadCall;
      const char16_t* end = p;
      while (end > start && WmlsIsSpace(end[-1])) --end;
      const uint32_t n = static_cast<uint32_t>(end - start);
      bool dot = false;
      for (uint32_t i = 0; i < n; ++i) dot = dot || start[i] == '.';
      if (Same(start, n, "true")) {
        v = WmlsMakeBool(true);
      } else if (Same(start, n, "false")) {
        v = WmlsMakeBool(false);
      } else if (!dot && !Same(start, n, "invalid")) {
        // An empty argument ("f(1,)") reads as the parser reads "": 0.
        char16_t* text = WmlsNewString(start, n);
        if (!text) return WmlsResult::NoMemory;
        const int32_t saved = ctx->status;
        const int32_t number = WmlsValueToInt(ctx, text);
        // Text that is no integer stays invalid, as it would in the script.
        if (ctx->status == saved) v = WmlsMakeInt(number);
        ctx->status = saved;
        MemFree(&text);
      }
    }
    if (!args->Add(v)) {
      WmlsValueRelease(&v);
      return args->count == 255 ? WmlsResult::BadCall : WmlsResult::NoMemory;
    }
    while (WmlsIsSpace(*p)) ++p;
    if (*p == ')') return 0;
    if (*p != ',') return WmlsResult::BadCall;
    ++p;
  }
}

}  // namespace

int32_t WmlsRunCall(WmlsRunContext* ctx, WmlsUnit* unit, const char16_t* call, const char* referrer,
                    const char* unitUrl, void* scriptTask) {
  *ctx = {};
  ctx->top = -1;
  if (!unit || !call) return WmlsResult::NoUnit;
  ctx->unit = unit;
  ctx->referrer = referrer;
  ctx->unitUrl = unitUrl;
  if (unit->pragmaCount && WmlsCheckAccess(ctx) != 0) {
    *ctx = {};
    ctx->top = -1;
    return WmlsResult::Refused;
  }
  const char16_t* open = call;
  while (*open && *open != '(') ++open;
  if (!*open) return WmlsResult::BadCall;
  Args args;
  int32_t r = ParseArgs(ctx, open + 1, &args);
  if (r) {
    *ctx = {};
    ctx->top = -1;
    return r;
  }
  char16_t* name = WmlsNewString(call, static_cast<uint32_t>(open - call));
  if (!name) return WmlsResult::NoMemory;
  // The name without white space around it.
  const char16_t* n = name;
  while (WmlsIsSpace(*n)) ++n;
  uint32_t len = WmlsLen(n);
  while (len && WmlsIsSpace(n[len - 1])) name[(n - name) + --len] = 0;
  const int32_t index = WmlsFindFunction(unit, n);
  MemFree(&name);
  if (index < 0) {
    *ctx = {};
    ctx->top = -1;
    return WmlsResult::NoFunction;
  }
  r = WmlsRunStart(ctx, unit, index, args.cells, static_cast<uint8_t>(args.count));
  ctx->referrer = referrer;
  ctx->unitUrl = unitUrl;
  ctx->scriptTask = scriptTask;
  return r;
}

int32_t WmlsRun(WmlsRunContext* ctx, WmlsUnit* unit, const char16_t* call, const char* referrer,
                const char* unitUrl, void* scriptTask) {
  if (!ctx->unit) {
    if (const int32_t r = WmlsRunCall(ctx, unit, call, referrer, unitUrl, scriptTask)) return r;
  }
  return WmlsRunSlice(ctx, kWmlsSliceSteps);
}
