// The start-up task. The service modules it starts do not exist yet: the
// task reports the services up at once and, asked to stop, ends the engine.
#include "kernel/uistart.h"

#include "browser/cache.h"
#include "browser/ui.h"
#include "host/platform/shell.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

struct UiStartContext {
  TskmanTask* task;
  void* host;
  int32_t state;
  Result status;
};

namespace Phase {
constexpr int32_t ServicesStarting = 1, Stopping = 2;
}

Result UiStartTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  auto* ctx = static_cast<UiStartContext*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      ctx->state = Phase::ServicesStarting;
      TskmanPost(ctx->task, UiStartMsg::ServicesUp, 0, 0);
      return kOk;
    case UiStartMsg::ServicesUp:
      HostStateChanged(ctx->host, 0, 0);
      return kOk;
    case UiStartMsg::StopServices:
      ctx->state = Phase::Stopping;
      ctx->status = kOk;
      TskmanPost(ctx->task, UiStartMsg::ServicesStopped, 0, 0);
      return kOk;
    case UiStartMsg::ServicesStopped: {
      HostStateChanged(ctx->host, ctx->state, ctx->status);
      TskmanDestroyTask(ctx->task);
      MemFree(&ctx);
      return kUiStartFinished;
    }
    default:
      return kOk;
  }
}

}  // namespace

Result HostStartEngine(void* host) {
  CacheInit();
  if (Result r = TskmanInit(); r != kOk) {
    CacheClear();
    return r;
  }
  auto* ctx = static_cast<UiStartContext*>(
      MemAllocZero(sizeof(UiStartContext), Use::Context, Mod::UiStart));
  Result r = ctx ? kOk : kUiStartNoMemory;
  if (ctx) {
    ctx->host = host;
    TskmanTask* task = nullptr;
    r = TskmanCreateTask(&task, Mod::UiStart, UiStartTaskHandler, ctx);
  }
  if (r != kOk) {
    MemFree(&ctx);
    TskmanShutdown();
    CacheClear();
  }
  return r;
}

void HostStopEngine() {
  TskmanShutdown();
  CacheClear();
}

void UiStopServices() {
  if (TskmanTask* task = TskmanFind(Mod::UiStart))
    TskmanPost(task, UiStartMsg::StopServices, 0, 0);
}

void UiSendEndKey() { UiCommand(UiCmd::End, 0); }

// The browser phase needs the browser window, which does not exist yet.
Result UiStartBrowser(const char*) { return ResultError(Mod::UiStart, Err::NotFound); }
