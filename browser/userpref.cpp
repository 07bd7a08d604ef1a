// The user preferences task. It reads its section at start: the flags the
// services ask for; the other preferences come with the browser core.
#include "browser/userpref.h"

#include <cstddef>

#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/tskservice.h"

namespace {

struct UserPrefContext {
  TskmanTask* task;
  TskmanTask* requester;
  uint32_t flags[kUserPrefFlags];
};

// The settings key of each flag, by index; null where no key is known.
constexpr const char* kFlagKeys[kUserPrefFlags] = {nullptr, nullptr, nullptr, "tp"};

void ReadFlags(UserPrefContext* ctx, ConfigHandle* handle) {
  for (uint32_t i = 0; i < kUserPrefFlags; ++i) {
    int32_t value = 0;
    if (kFlagKeys[i] &&
        ConfigGetInt(handle, kFlagKeys[i], LibcStrLen(kFlagKeys[i]), &value) == kOk)
      ctx->flags[i] = value != 0;
  }
}

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
      if (arg1 == kOk && handle) ReadFlags(ctx, handle);
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

uint32_t UserPrefGetFlag(uint32_t index) {
  TskmanTask* task = TskmanFind(Mod::UserPref);
  void* context = nullptr;
  if (task) TskmanGetContext(&context, task);
  const auto* ctx = static_cast<const UserPrefContext*>(context);
  return ctx && index < kUserPrefFlags ? ctx->flags[index] : 0;
}
