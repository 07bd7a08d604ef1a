#include "services/notify.h"

#include "kernel/mem.h"

namespace {

struct NotifyContext {
  TskmanTask* starter;
  bool stopping;
};

Result NotifyTaskHandler(void* context, uint32_t message, uintptr_t, uintptr_t) {
  auto* ctx = static_cast<NotifyContext*>(context);
  switch (message) {
    case TskMsg::Start:
      TskmanPost(ctx->starter, NotifyMsg::Started, 0, 0);
      return kOk;
    case NotifyMsg::Stop:
      if (!ctx->stopping) return kOk;
      TskmanPost(ctx->starter, NotifyMsg::Stopped, 0, 0);
      TskmanDestroyTask(TskmanFind(Mod::Notify));
      MemFree(&ctx);
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

Result NotifyStartTask(TskmanTask* requester) {
  auto* ctx = static_cast<NotifyContext*>(
      MemAllocZero(sizeof(NotifyContext), Use::Context, Mod::Notify));
  if (!ctx) return kNotifyNoMemory;
  ctx->starter = requester;
  TskmanTask* task = nullptr;
  if (TskmanCreateTask(&task, Mod::Notify, NotifyTaskHandler, ctx) != kOk) {
    MemFree(&ctx);
    return kNotifyNoMemory;
  }
  return kOk;
}

void NotifyStopTask() {
  TskmanTask* task = TskmanFind(Mod::Notify);
  if (!task) return;
  static_cast<NotifyContext*>(task->context)->stopping = true;
  TskmanPost(task, NotifyMsg::Stop, 0, 0);
}
