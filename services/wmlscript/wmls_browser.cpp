// The WMLBrowser library: the browser's variables and the navigation a
// script asks for. Navigation is only recorded here; the browser carries it
// out once the script has ended, and the last request wins.
#include <cstring>

#include "browser/bentask.h"
#include "browser/benvar.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"

namespace {

void Invalid(WmlsRunContext* ctx) { ctx->result = WmlsMakeInvalid(); }
void NoMemory(WmlsRunContext* ctx) {
  ctx->status = WmlsStatus::NoMemory;
  ctx->result = WmlsMakeInvalid();
}
void SetText(WmlsRunContext* ctx, const char16_t* s, uint32_t n) {
  if (!WmlsValueSetString(&ctx->result, s, n)) ctx->status = WmlsStatus::NoMemory;
}
void SetEmpty(WmlsRunContext* ctx) { SetText(ctx, u"", 0); }

const WmlsTaskContext* Task(WmlsRunContext* ctx) {
  return static_cast<const WmlsTaskContext*>(ctx->scriptTask);
}
BenBrowser* Browser(WmlsRunContext* ctx) {
  const WmlsTaskContext* task = Task(ctx);
  return task ? task->browser : nullptr;
}

using Text = WmlsTextArg;

bool Letter(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

bool ValidName(const char16_t* s, uint32_t n) {
  if (!n || !Letter(s[0])) return false;
  for (uint32_t i = 1; i < n; ++i) {
    if (!Letter(s[i]) && !(s[i] >= '0' && s[i] <= '9')) return false;
  }
  return true;
}

bool ValidValue(const char16_t* s, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const char16_t c = s[i];
    if (c < 32 && c != 8 && c != 9 && c != 10 && c != 12 && c != 13) return false;
  }
  return true;
}

void GetVar(WmlsRunContext* ctx, WmlsValue** a) {
  BenBrowser* browser = Browser(ctx);
  Text name(ctx, a[0]);
  if (!browser || !name.ok) return Invalid(ctx);
  // A WTA deck may read the names of its own kind (with "-" and the like).
  if (Task(ctx)->referringClass != kWmlsWtaDeckClass && !ValidName(name.s, name.n)) return Invalid(ctx);
  const char16_t* value = nullptr;
  uint32_t length = 0;
  BenGetVar(browser, name.s, &value, &length);
  if (!value) return SetEmpty(ctx);
  SetText(ctx, value, length);
}

void SetVar(WmlsRunContext* ctx, WmlsValue** a) {
  BenBrowser* browser = Browser(ctx);
  Text name(ctx, a[0]), value(ctx, a[1]);
  if (!browser || !name.ok || !value.ok) return Invalid(ctx);
  if (!ValidName(name.s, name.n) || !ValidValue(value.s, value.n)) return Invalid(ctx);
  if (BenSetVar(browser, name.s, value.s) != 0) return NoMemory(ctx);
  ctx->result = WmlsMakeBool(true);
}

void Go(WmlsRunContext* ctx, WmlsValue** a) {
  BenBrowser* browser = Browser(ctx);
  Text url(ctx, a[0]);
  if (!browser || !url.ok) return Invalid(ctx);
  char* text = WmlsWideToNarrow(url.s, url.n);
  if (!text) return NoMemory(ctx);
  const Result r = BenSetPendingTask(browser, BenPendingKind::Go, text);
  MemFree(&text);
  if (r != 0) return NoMemory(ctx);
  SetEmpty(ctx);
}

void Pending(WmlsRunContext* ctx, uint32_t kind) {
  BenBrowser* browser = Browser(ctx);
  if (!browser) return Invalid(ctx);
  BenSetPendingTask(browser, kind, nullptr);
  SetEmpty(ctx);
}

void Prev(WmlsRunContext* ctx, WmlsValue**) { Pending(ctx, BenPendingKind::Back); }
void Refresh(WmlsRunContext* ctx, WmlsValue**) { Pending(ctx, BenPendingKind::Refresh); }

void NewContext(WmlsRunContext* ctx, WmlsValue**) {
  BenBrowser* browser = Browser(ctx);
  if (!browser) return Invalid(ctx);
  BenFreeVarList(browser);
  SetEmpty(ctx);
}

void GetCurrentCard(WmlsRunContext* ctx, WmlsValue**) {
  BenBrowser* browser = Browser(ctx);
  if (!browser) return Invalid(ctx);
  char* card = nullptr;
  const Result r = BenTaskFirstUrl(browser, &card);
  if (r == ResultError(Mod::Ben, Err::NoMemory)) return NoMemory(ctx);
  if (!card) return Invalid(ctx);
  char* relative = WmlsRelativeUrl(card, ctx->unitUrl);
  MemFree(&card);
  if (!relative) return NoMemory(ctx);
  char16_t* wide = WmlsFromUtf8(relative, static_cast<uint32_t>(std::strlen(relative)));
  MemFree(&relative);
  if (!wide) return NoMemory(ctx);
  ctx->result = {WmlsType::String, reinterpret_cast<uintptr_t>(wide), 0};
}

}  // namespace

const WmlsLibFunction kWmlsBrowserFunctions[] = {
    {GetVar, 1}, {SetVar, 2}, {Go, 1}, {Prev, 0}, {NewContext, 0}, {GetCurrentCard, 0}, {Refresh, 0},
    {nullptr, -1},
};
