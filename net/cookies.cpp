// The cookies task: it loads the cookie section at the start of the browser
// phase. The jar is empty until the HTTP client fills it, so the stop writes
// nothing.
#include "net/cookies.h"

#include "kernel/config.h"
#include "kernel/mem.h"

namespace {

// The jar's head and byte count sit where the host's cookie file routines
// read them: the first and the sixth word of the context.
struct CookiesContext {
  void* first;  // singly linked cookie records {next, length, ...}
  TskmanTask* task;
  TskmanTask* requester;
  uintptr_t changed;
  uintptr_t enabled;
  uintptr_t bytes;
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
