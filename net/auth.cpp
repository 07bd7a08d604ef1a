// The authentication task: it loads the stored passwords at the start of the
// browser phase. Nothing changes them yet, so the stop writes nothing.
#include "net/auth.h"

#include "kernel/config.h"
#include "kernel/mem.h"

namespace {

struct AuthContext {
  TskmanTask* task;
  TskmanTask* requester;
  bool changed;  // the passwords differ from the stored section
};

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
      TskmanPost(ctx->requester, AuthMsg::Started, 0, 0);
      return kOk;
    }
    default:
      return kOk;
  }
}

}  // namespace

void AuthStartTask(TskmanTask* requester) {
  auto* ctx = static_cast<AuthContext*>(
      MemAllocZero(sizeof(AuthContext), Use::Context, Mod::Authentication));
  TskmanTask* task = nullptr;
  if (ctx) {
    ctx->requester = requester;
    if (TskmanCreateTask(&task, Mod::Authentication, AuthTaskHandler, ctx) == kOk) return;
    MemFree(&ctx);
  }
  // The browser phase goes on without stored passwords.
  TskmanPost(requester, AuthMsg::Started, 0, 0);
}

void AuthStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(Mod::Authentication)) {
    auto* ctx = static_cast<AuthContext*>(task->context);
    TskmanDestroyTask(task);
    MemFree(&ctx);
  }
  TskmanPost(requester, AuthMsg::Stopped, 0, 0);
}
