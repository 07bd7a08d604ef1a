// The user preferences task. It reads its section at start; the preferences
// themselves come with the browser core.
#include "browser/userpref.h"

#include "kernel/config.h"
#include "kernel/mem.h"

namespace {

struct UserPrefContext {
  TskmanTask* task;
  TskmanTask* requester;
};

Result UserPrefTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<UserPrefContext*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      ConfigOpen(ctx->task, "user", false);
      return kOk;
    case ConfigMsg::Opened: {
      auto* handle = reinterpret_cast<ConfigHandle*>(arg2);
      ConfigRelease(&handle);
      TskmanPost(ctx->requester, UserPrefMsg::Started, 0, 0);
      return kOk;
    }
    case TskMsg::Stop:
      TskmanPost(reinterpret_cast<TskmanTask*>(arg1), UserPrefMsg::Stopped, 0, 0);
      TskmanDestroyTask(ctx->task);
      MemFree(&ctx);
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

void UserPrefStartTask(TskmanTask* requester) {
  auto* ctx = static_cast<UserPrefContext*>(
      MemAllocZero(sizeof(UserPrefContext), Use::Context, Mod::UserPref));
  Result r = ctx ? kOk : ResultError(Mod::UserPref, Err::NoMemory);
  if (ctx) {
    ctx->requester = requester;
    TskmanTask* task = nullptr;
    r = TskmanCreateTask(&task, Mod::UserPref, UserPrefTaskHandler, ctx);
    if (r != kOk) MemFree(&ctx);
  }
  if (r != kOk) TskmanPost(requester, UserPrefMsg::Failed, r, 0);
}

void UserPrefStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(Mod::UserPref))
    TskmanSend(task, TskMsg::Stop, reinterpret_cast<uintptr_t>(requester), 0);
  else
    TskmanPost(requester, UserPrefMsg::Stopped, 0, 0);
}
