// The cookies task: it loads the cookie section at the start of the browser
// phase. The jar is empty until the HTTP client fills it, so the stop writes
// nothing.
#include "net/cookies.h"

#include <cstddef>

#include "kernel/config.h"
#include "kernel/tskservice.h"

namespace {

constexpr uint32_t kSessionWord = 5;

struct CookiesContext {
  CookieJar jar;
  TskmanTask* task;
  TskmanTask* requester;
  uintptr_t changed;
  uintptr_t enabled;
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

void CookiesStartTask(TskmanTask* requester) { TskServiceStart(kCookies, requester); }

void CookiesStopTask(TskmanTask* requester) { TskServiceStop(kCookies, requester); }
