#include "markup/varparse.h"

#include <cstddef>

#include "kernel/tskservice.h"

namespace {

struct VarParseContext {
  TskmanTask* requester;
};

Result VarParseTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t);

// The requester hears 0x4D00 whether or not the task could start: the
// browser phase goes on without template variables rather than wait.
constexpr TskService kVarParse{.module = Mod::VarParse,
                               .handler = VarParseTaskHandler,
                               .contextBytes = sizeof(VarParseContext),
                               .starterAt = offsetof(VarParseContext, requester),
                               .started = VarParseMsg::Ready,
                               .failed = VarParseMsg::Ready,
                               .stop = TskMsg::Stop2,
                               .stopped = VarParseMsg::Stopped};

Result VarParseTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  switch (message) {
    case TskMsg::Start:
      TskServiceAnswerStarted(kVarParse, context);
      return kOk;
    case TskMsg::Stop2:
      TskServiceEnd(kVarParse, reinterpret_cast<TskmanTask*>(arg1));
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

Result VarParseStartTask(TskmanTask* requester) { return TskServiceStart(kVarParse, requester); }

void VarParseStopTask(TskmanTask* requester) { TskServiceStop(kVarParse, requester); }
