// The user preferences task. It reads its section at start: the flags the
// services ask for; the other preferences come with the browser core.
#include "browser/userpref.h"

#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

// An answer to no requester goes to no one (a null target would reach every
// task).
void Answer(TskmanTask* requester, uint32_t message, uintptr_t arg1) {
  if (requester) TskmanPost(requester, message, arg1, 0);
}

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
      Answer(ctx->requester, UserPrefMsg::Started, 0);
      return kOk;
    }
    case TskMsg::Stop:
      Answer(reinterpret_cast<TskmanTask*>(arg1), UserPrefMsg::Stopped, 0);
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
  if (r != kOk) Answer(requester, UserPrefMsg::Failed, r);
}

void UserPrefStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(Mod::UserPref))
    TskmanSend(task, TskMsg::Stop, reinterpret_cast<uintptr_t>(requester), 0);
  else
    Answer(requester, UserPrefMsg::Stopped, 0);
}

uint32_t UserPrefGetFlag(uint32_t index) {
  TskmanTask* task = TskmanFind(Mod::UserPref);
  void* context = nullptr;
  if (task) TskmanGetContext(&context, task);
  const auto* ctx = static_cast<const UserPrefContext*>(context);
  return ctx && index < kUserPrefFlags ? ctx->flags[index] : 0;
}
