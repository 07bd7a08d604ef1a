#include "services/lc.h"

namespace {

Result LcTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  switch (message) {
    case TskMsg::Start:
      TskmanPost(static_cast<TskmanTask*>(context), LcMsg::Started, 0, 0);
      return kOk;
    case TskMsg::Stop2:
      TskmanPost(reinterpret_cast<TskmanTask*>(arg1), LcMsg::Stopped, 0, 0);
      TskmanDestroyTask(TskmanFind(Mod::LocalContent));
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

void LcStartTask(TskmanTask* requester) {
  TskmanTask* task = nullptr;
  // The store answers whether or not it could start.
  if (TskmanCreateTask(&task, Mod::LocalContent, LcTaskHandler, requester) != kOk)
    TskmanPost(requester, LcMsg::Started, 0, 0);
}

void LcStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(Mod::LocalContent))
    TskmanPost(task, TskMsg::Stop2, reinterpret_cast<uintptr_t>(requester), 0);
  else
    TskmanPost(requester, LcMsg::Stopped, 0, 0);
}
