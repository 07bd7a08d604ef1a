#include "markup/varparse.h"

#include "kernel/mem.h"

namespace {

struct VarParseContext {
  TskmanTask* requester;
};

Result VarParseTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<VarParseContext*>(context);
  switch (message) {
    case TskMsg::Start:
      TskmanPost(ctx->requester, VarParseMsg::Ready, 0, 0);
      return kOk;
    case VarParseMsg::Run:
      VarParseRunPosted(arg1, arg2);
      return kOk;
    case TskMsg::Stop2: {
      TskmanPost(reinterpret_cast<TskmanTask*>(arg1), VarParseMsg::Stopped, 0, 0);
      TskmanDestroyTask(TskmanFind(Mod::VarParse));
      MemFree(&ctx);
      return kOk;
    }
    default:
      return kOk;
  }
}

}  // namespace

// The requester hears 0x4D00 whether or not the task could start: the
// browser phase goes on without template variables rather than wait.
Result VarParseStartTask(TskmanTask* requester) {
  auto* ctx = static_cast<VarParseContext*>(
      MemAllocZero(sizeof(VarParseContext), Use::Context, Mod::VarParse));
  Result r = ctx ? kOk : ResultError(Mod::VarParse, Err::NoMemory);
  if (ctx) {
    ctx->requester = requester;
    TskmanTask* task = nullptr;
    r = TskmanCreateTask(&task, Mod::VarParse, VarParseTaskHandler, ctx);
    if (r != kOk) MemFree(&ctx);
  }
  if (r != kOk) TskmanPost(requester, VarParseMsg::Ready, 0, 0);
  return r;
}

void VarParseStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(Mod::VarParse))
    TskmanPost(task, TskMsg::Stop2, reinterpret_cast<uintptr_t>(requester), 0);
  else
    TskmanPost(requester, VarParseMsg::Stopped, 0, 0);
}
