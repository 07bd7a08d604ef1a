#include "browser/status.h"

#include "kernel/mem.h"

namespace {

struct StatusContext {
  TskmanTask* requester;
};

Result StatusTaskHandler(void* context, uint32_t message, uintptr_t, uintptr_t) {
  auto* ctx = static_cast<StatusContext*>(context);
  switch (message) {
    case TskMsg::Start:
      TskmanPost(ctx->requester, StatusMsg::Started, 0, 0);
      return kOk;
    case StatusMsg::Stop:
      TskmanDestroyTask(TskmanFind(Mod::Status));
      MemFree(&ctx);
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

Result StatusCreateTask(TskmanTask* requester) {
  auto* ctx = static_cast<StatusContext*>(
      MemAllocZero(sizeof(StatusContext), Use::Context, Mod::Status));
  if (!ctx) return kStatusNoMemory;
  ctx->requester = requester;
  TskmanTask* task = nullptr;
  if (TskmanCreateTask(&task, Mod::Status, StatusTaskHandler, ctx) != kOk) {
    MemFree(&ctx);
    return kStatusNoMemory;
  }
  return kOk;
}

void StatusStopTask(TskmanTask*) {
  if (TskmanTask* task = TskmanFind(Mod::Status)) TskmanSend(task, StatusMsg::Stop, 0, 0);
}
