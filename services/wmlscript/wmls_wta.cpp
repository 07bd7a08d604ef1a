// The WTA libraries (512 to 516 and 519): each function turns its arguments
// into a WTAI argument text and calls the WTAI function of its row with the
// script task as the answer task; the run waits (resume kind 5) for the
// handset's answer.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"
#include "services/wtai/wtai.h"

namespace {

// How the arguments become the text.
enum class Form : uint8_t { Texts, TwoInts, Truth, NoText };

struct WtaRow {
  const char* library;
  const char* function;
  uint8_t argc;
  bool minusOne;  // a refused request answers "-1" rather than invalid
  Form form;
};

// Indexed by the template argument of Call; library 512 first.
constexpr WtaRow kRows[] = {
    {"wp", "mc", 1, true, Form::Texts},      {"wp", "sd", 1, true, Form::Texts},
    {"wp", "ap", 2, true, Form::Texts},
    {"vc", "setup", 2, false, Form::Texts},  {"vc", "acct", 2, false, Form::Texts},
    {"vc", "rel", 1, false, Form::Texts},    {"vc", "dtmf", 2, false, Form::Texts},
    {"vc", "stat", 2, false, Form::Texts},   {"vc", "list", 1, false, Form::Texts},
    {"nt", "send", 2, true, Form::Texts},    {"nt", "list", 2, false, Form::Texts},
    {"nt", "rem", 1, true, Form::Texts},     {"nt", "field", 2, false, Form::Texts},
    {"nt", "asread", 1, false, Form::Texts},
    {"pb", "write", 3, true, Form::Texts},   {"pb", "srch", 2, false, Form::Texts},
    {"pb", "rem", 1, true, Form::Texts},     {"pb", "field", 2, false, Form::Texts},
    {"pb", "change", 3, true, Form::Texts},
    {"ms", "ind", 2, false, Form::TwoInts},  {"ms", "ec", 0, false, Form::NoText},
    {"ms", "get", 0, false, Form::NoText},   {"ms", "set", 1, false, Form::Truth},
    {"cl", "dial", 1, false, Form::Texts},   {"cl", "miss", 1, false, Form::Texts},
    {"cl", "rec", 1, false, Form::Texts},    {"cl", "field", 2, false, Form::Texts},
};
constexpr int kPublicRows = 3;
constexpr int kCallSetupRow = 3;

WmlsTaskContext* Task(WmlsRunContext* ctx) { return static_cast<WmlsTaskContext*>(ctx->scriptTask); }

// A new text of the decimal digits of n (module 34).
void AppendInt(char16_t* out, uint32_t* at, int32_t n) {
  char digits[kWtaiDecimalUnits];
  LibcItoA(n, digits, 10);
  for (uint32_t i = 0; digits[i]; ++i) out[(*at)++] = static_cast<char16_t>(digits[i]);
}

// The argument text, or null with *failed set when an argument has no
// such form (the result is then invalid); null without failure and with the
// status at out of memory when the text cannot be had.
char16_t* BuildText(WmlsRunContext* ctx, const WtaRow& row, WmlsValue** args, bool* failed) {
  *failed = false;
  if (row.form == Form::NoText) return nullptr;
  if (row.form == Form::TwoInts || row.form == Form::Truth) {
    int32_t a = 0, b = 0;
    bool truth = false;
    if (row.form == Form::TwoInts) {
      a = WmlsToInt(ctx, args[0]);
      if (ctx->status == 0) b = WmlsToInt(ctx, args[1]);
    } else {
      truth = WmlsToBool(ctx, args[0]);
    }
    if (ctx->status != 0 || (row.form == Form::TwoInts && (a < 0 || a > 7))) {
      ctx->status = 0;
      *failed = true;
      return nullptr;
    }
    auto* text = static_cast<char16_t*>(MemAlloc(2 * kWtaiDecimalUnits * 2, Use::String, Mod::WmlsExec));
    if (!text) return nullptr;
    uint32_t at = 0;
    if (row.form == Form::TwoInts) {
      AppendInt(text, &at, a);
      text[at++] = ';';
      AppendInt(text, &at, b);
    } else {
      for (const char* w = truth ? "true" : "false"; *w; ++w) text[at++] = static_cast<char16_t>(*w);
    }
    text[at] = 0;
    return text;
  }
  // Up to three texts joined by ';'.
  WmlsValue cells[3] = {};
  uint32_t length = 0;
  char16_t* text = nullptr;
  bool ok = true;
  for (uint32_t i = 0; i < row.argc && ok; ++i) {
    cells[i] = WmlsToString(ctx, args[i]);
    ok = cells[i].type == WmlsType::String;
    if (ok) length += WmlsLen(WmlsStr(cells[i])) + 1;
  }
  if (!ok) {
    *failed = ctx->status != WmlsStatus::NoMemory;
    if (*failed) ctx->status = 0;
  } else if ((text = static_cast<char16_t*>(MemAlloc(length * 2, Use::String, Mod::WmlsExec)))) {
    uint32_t at = 0;
    for (uint32_t i = 0; i < row.argc; ++i) {
      if (i) text[at++] = ';';
      const char16_t* s = WmlsStr(cells[i]);
      for (uint32_t k = 0, n = WmlsLen(s); k < n; ++k) text[at++] = s[k];
    }
    text[at] = 0;
  }
  for (WmlsValue& cell : cells) WmlsValueRelease(&cell);
  return text;
}

template <int I>
void Call(WmlsRunContext* ctx, WmlsValue** args) {
  const WtaRow& row = kRows[I];
  ctx->result = WmlsMakeInvalid();
  WmlsTaskContext* task = Task(ctx);
  const bool wtaDeck = task && task->referringClass == kWmlsWtaDeckClass;
  if (!task || !task->self || (I >= kPublicRows && !wtaDeck)) return;
  bool failed = false;
  char16_t* text = BuildText(ctx, row, args, &failed);
  if (failed) return;
  if (!text && row.form != Form::NoText) {
    ctx->status = WmlsStatus::NoMemory;
    return;
  }
  const WtaiHandler handler = WtaiFindFunction(row.library, row.function, wtaDeck || I >= kPublicRows ? 2 : 0);
  if (!handler) {
    MemFree(&text);
  } else if (handler(task->self, text, WtaiState::First) == kOk) {
    task->telephonyPending = 1;
    task->answerAsNumber = I == kCallSetupRow && !WmlsToBool(ctx, args[1]);
    ctx->status = 0;
    ctx->result = {};
    ctx->suspended = 1;
    ctx->resumeKind = 5;
    return;
  }
  if (row.minusOne) WmlsValueSetString(&ctx->result, u"-1", 2);
}

}  // namespace

const WmlsLibFunction kWmlsWtaPublicFunctions[] = {{Call<0>, 1}, {Call<1>, 1}, {Call<2>, 2}, {nullptr, -1}};
const WmlsLibFunction kWmlsWtaCallFunctions[] = {{Call<3>, 2}, {Call<4>, 2}, {Call<5>, 1}, {Call<6>, 2},
                                                 {Call<7>, 2}, {Call<8>, 1}, {nullptr, -1}};
const WmlsLibFunction kWmlsWtaTextFunctions[] = {{Call<9>, 2},  {Call<10>, 2}, {Call<11>, 1},
                                                 {Call<12>, 2}, {Call<13>, 1}, {nullptr, -1}};
const WmlsLibFunction kWmlsWtaPhonebookFunctions[] = {{Call<14>, 3}, {Call<15>, 2}, {Call<16>, 1},
                                                      {Call<17>, 2}, {Call<18>, 3}, {nullptr, -1}};
const WmlsLibFunction kWmlsWtaMiscFunctions[] = {{Call<19>, 2}, {Call<20>, 0}, {Call<21>, 0},
                                                 {Call<22>, 1}, {nullptr, -1}};
const WmlsLibFunction kWmlsWtaLogFunctions[] = {{Call<23>, 1}, {Call<24>, 1}, {Call<25>, 1},
                                                {Call<26>, 2}, {nullptr, -1}};
