// The user preferences task. It reads its section at start; the preferences
// themselves come with the browser core.
#include "browser/userpref.h"

#include <cstddef>

#include "kernel/config.h"
#include "kernel/tskservice.h"

namespace {

struct UserPrefContext {
  TskmanTask* task;
  TskmanTask* requester;
};

Result UserPrefTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

constexpr TskService kUserPref{.module = Mod::UserPref,
                               .handler = UserPrefTaskHandler,
                               .contextBytes = sizeof(UserPrefContext),
                               .starterAt = offsetof(UserPrefContext, requester),
                               .started = UserPrefMsg::Started,
                               .failed = UserPrefMsg::Failed,
                               .errorArg = 1,
                               .stop = TskMsg::Stop,
                               .stopSent = true,
                               .stopped = UserPrefMsg::Stopped};

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
      TskServiceAnswerStarted(kUserPref, ctx);
      return kOk;
    }
    case TskMsg::Stop:
      TskServiceEnd(kUserPref, reinterpret_cast<TskmanTask*>(arg1));
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

void UserPrefStartTask(TskmanTask* requester) { TskServiceStart(kUserPref, requester); }

void UserPrefStopTask(TskmanTask* requester) { TskServiceStop(kUserPref, requester); }
