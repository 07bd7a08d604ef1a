#include "services/lc.h"

#include "kernel/tskservice.h"

namespace {

Result LcTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t);

// The store answers whether or not it could start.
constexpr TskService kLc{.module = Mod::LocalContent,
                         .handler = LcTaskHandler,
                         .started = LcMsg::Started,
                         .failed = LcMsg::Started,
                         .stop = TskMsg::Stop2,
                         .stopped = LcMsg::Stopped};

Result LcTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  switch (message) {
    case TskMsg::Start:
      TskServiceAnswerStarted(kLc, context);
      return kOk;
    case TskMsg::Stop2:
      TskServiceEnd(kLc, reinterpret_cast<TskmanTask*>(arg1));
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

void LcStartTask(TskmanTask* requester) { TskServiceStart(kLc, requester); }

void LcStopTask(TskmanTask* requester) { TskServiceStop(kLc, requester); }
