// The cookies task: it loads the cookie section at the start of the browser
// phase. The jar is empty until the HTTP client fills it, so the stop writes
// nothing.
#include "net/cookies.h"

#include "kernel/config.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kSessionWord = 5;

struct CookiesContext {
  CookieJar jar;
  TskmanTask* task;
  TskmanTask* requester;
  uintptr_t changed;
  uintptr_t enabled;
};

Result CookiesTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<CookiesContext*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      ConfigOpen(ctx->task, "cookies", false);
      return kOk;
    case ConfigMsg::Opened: {
      auto* handle = reinterpret_cast<ConfigHandle*>(arg2);
      ConfigRelease(&handle);
      TskmanPost(ctx->requester, CookiesMsg::Started, 0, 0);
      return kOk;
    }
    default:
      return kOk;
  }
}

}  // namespace

CookieJar* CookiesGetJar() {
  TskmanTask* task = TskmanFind(Mod::Cookies);
  return task ? &static_cast<CookiesContext*>(task->context)->jar : nullptr;
}

bool CookieRecordIsLasting(const CookieRecord* record) {
  if (record->size < (kSessionWord + 1) * sizeof(uintptr_t)) return true;
  return reinterpret_cast<const uintptr_t*>(record)[kSessionWord] == 0;
}

void CookieJarPush(CookieJar* jar, CookieRecord* record) {
  record->next = jar->first;
  jar->first = record;
  jar->bytes += record->size;
}

void CookiesStartTask(TskmanTask* requester) {
  auto* ctx = static_cast<CookiesContext*>(
      MemAllocZero(sizeof(CookiesContext), Use::Context, Mod::Cookies));
  TskmanTask* task = nullptr;
  if (ctx) {
    ctx->requester = requester;
    ctx->enabled = 1;
    if (TskmanCreateTask(&task, Mod::Cookies, CookiesTaskHandler, ctx) == kOk) return;
    MemFree(&ctx);
  }
  TskmanPost(requester, CookiesMsg::Started, 0, 0);
}

void CookiesStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(Mod::Cookies)) {
    auto* ctx = static_cast<CookiesContext*>(task->context);
    TskmanDestroyTask(task);
    MemFree(&ctx);
  }
  TskmanPost(requester, CookiesMsg::Stopped, 0, 0);
}
