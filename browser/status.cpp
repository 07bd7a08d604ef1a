#include "browser/status.h"

#include <cstddef>

#include "kernel/tskservice.h"

namespace {

struct StatusContext {
  TskmanTask* requester;
};

Result StatusTaskHandler(void* context, uint32_t message, uintptr_t, uintptr_t);

constexpr TskService kStatus{.module = Mod::Status,
                             .handler = StatusTaskHandler,
                             .contextBytes = sizeof(StatusContext),
                             .starterAt = offsetof(StatusContext, requester),
                             .started = StatusMsg::Started,
                             .ownError = true,
                             .stop = StatusMsg::Stop,
                             .stopSent = true};

Result StatusTaskHandler(void* context, uint32_t message, uintptr_t, uintptr_t) {
  switch (message) {
    case TskMsg::Start:
      TskServiceAnswerStarted(kStatus, context);
      return kOk;
    case StatusMsg::Stop:
      TskServiceEnd(kStatus, nullptr);
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

Result StatusCreateTask(TskmanTask* requester) { return TskServiceStart(kStatus, requester); }

void StatusStopTask(TskmanTask* requester) { TskServiceStop(kStatus, requester); }
