// The cookies task: it loads the cookie section at the start of the browser
// phase. The jar is empty until the HTTP client fills it, so the stop writes
// nothing.
#include "net/cookies.h"

#include <cstddef>

#include "kernel/config.h"
#include "kernel/tskservice.h"

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

Result CookiesTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// The browser phase goes on without stored cookies when the task cannot be
// made.
constexpr TskService kCookies{.module = Mod::Cookies,
                              .handler = CookiesTaskHandler,
                              .contextBytes = sizeof(CookiesContext),
                              .starterAt = offsetof(CookiesContext, requester),
                              .started = CookiesMsg::Started,
                              .failed = CookiesMsg::Started,
                              .stopped = CookiesMsg::Stopped};

Result CookiesTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<CookiesContext*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      ctx->enabled = 1;
      ConfigOpen(ctx->task, "cookies", false);
      return kOk;
    case ConfigMsg::Opened: {
      auto* handle = reinterpret_cast<ConfigHandle*>(arg2);
      ConfigRelease(&handle);
      TskServiceAnswerStarted(kCookies, ctx);
      return kOk;
    }
    default:
      return kOk;
  }
}

}  // namespace

void CookiesStartTask(TskmanTask* requester) { TskServiceStart(kCookies, requester); }

void CookiesStopTask(TskmanTask* requester) { TskServiceStop(kCookies, requester); }
