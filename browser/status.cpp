#include "browser/status.h"

#include <cstddef>

#include "kernel/mem.h"
#include "kernel/tskservice.h"

namespace {

struct StatusContext {
  TskmanTask* requester;
  uint32_t indicators[kStatusKinds];
  void* image;
};

void FreeBlock(void* image) { MemFreeRaw(image); }
StatusImageRelease gRelease = FreeBlock;

StatusContext* Context() {
  TskmanTask* task = TskmanFind(Mod::Status);
  void* context = nullptr;
  if (task) TskmanGetContext(&context, task);
  return static_cast<StatusContext*>(context);
}

void DropImage(StatusContext* ctx) {
  void* image = ctx->image;
  ctx->image = nullptr;
  if (image) gRelease(image);
}

Result StatusTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

constexpr TskService kStatus{.module = Mod::Status,
                             .handler = StatusTaskHandler,
                             .contextBytes = sizeof(StatusContext),
                             .starterAt = offsetof(StatusContext, requester),
                             .started = StatusMsg::Started,
                             .ownError = true,
                             .stop = StatusMsg::Stop,
                             .stopSent = true};

Result StatusTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<StatusContext*>(context);
  switch (message) {
    case TskMsg::Start:
      TskServiceAnswerStarted(kStatus, context);
      return kOk;
    case StatusMsg::Indicator:
      if (arg1 < kStatusKinds) ctx->indicators[arg1] = static_cast<uint32_t>(arg2);
      return kOk;
    case StatusMsg::AdverImage:
      if (reinterpret_cast<void*>(arg2) == ctx->image) return kOk;
      DropImage(ctx);
      ctx->image = reinterpret_cast<void*>(arg2);
      return kOk;
    case StatusMsg::AdverNone:
      DropImage(ctx);
      return kOk;
    case StatusMsg::Stop:
      DropImage(ctx);
      TskServiceEnd(kStatus, nullptr);
      return kOk;
    default:
      // Settings notices and messages meant for others are not the indicator's.
      return kOk;
  }
}

}  // namespace

Result StatusCreateTask(TskmanTask* requester) { return TskServiceStart(kStatus, requester); }

void StatusStopTask(TskmanTask* requester) { TskServiceStop(kStatus, requester); }

uint32_t StatusGetIndicator(uint32_t kind) {
  const StatusContext* ctx = Context();
  return ctx && kind < kStatusKinds ? ctx->indicators[kind] : 0;
}

void* StatusGetImage() {
  const StatusContext* ctx = Context();
  return ctx ? ctx->image : nullptr;
}

void StatusSetImageRelease(StatusImageRelease release) {
  gRelease = release ? release : FreeBlock;
}
