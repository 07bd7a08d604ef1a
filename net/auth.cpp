// The authentication task: it loads the stored passwords at the start of the
// browser phase. Nothing changes them yet, so the stop writes nothing.
#include "net/auth.h"

#include <cstddef>

#include "kernel/config.h"
#include "kernel/tskservice.h"

namespace {

struct AuthContext {
  TskmanTask* task;
  TskmanTask* requester;
  bool changed;  // the passwords differ from the stored section
};

Result AuthTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// The browser phase goes on without stored passwords when the task cannot
// be made.
constexpr TskService kAuth{.module = Mod::Authentication,
                           .handler = AuthTaskHandler,
                           .contextBytes = sizeof(AuthContext),
                           .starterAt = offsetof(AuthContext, requester),
                           .started = AuthMsg::Started,
                           .failed = AuthMsg::Started,
                           .stopped = AuthMsg::Stopped};

Result AuthTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<AuthContext*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      ConfigOpen(ctx->task, "passwords", false);
      return kOk;
    case ConfigMsg::Opened: {
      auto* handle = reinterpret_cast<ConfigHandle*>(arg2);
      ConfigRelease(&handle);
      TskServiceAnswerStarted(kAuth, ctx);
      return kOk;
    }
    default:
      return kOk;
  }
}

}  // namespace

void AuthStartTask(TskmanTask* requester) { TskServiceStart(kAuth, requester); }

void AuthStopTask(TskmanTask* requester) { TskServiceStop(kAuth, requester); }
