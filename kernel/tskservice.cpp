#include "kernel/tskservice.h"

#include "kernel/mem.h"

TskmanTask* TskServiceStarter(const TskService& service, void* context) {
  if (service.contextBytes == 0) return static_cast<TskmanTask*>(context);
  return *reinterpret_cast<TskmanTask**>(static_cast<uint8_t*>(context) + service.starterAt);
}

Result TskServiceStart(const TskService& service, TskmanTask* starter) {
  void* context = starter;
  Result r = kOk;
  if (service.contextBytes != 0) {
    context = MemAllocZero(service.contextBytes, Use::Context, service.module);
    if (context)
      *reinterpret_cast<TskmanTask**>(static_cast<uint8_t*>(context) + service.starterAt) = starter;
    else
      r = ResultError(service.module, Err::NoMemory);
  }
  if (r == kOk) {
    TskmanTask* task = nullptr;
    r = TskmanCreateTask(&task, service.module, service.handler, context);
    if (r != kOk) {
      if (service.contextBytes != 0) MemFree(&context);
      if (service.ownError) r = ResultError(service.module, Err::NoMemory);
    }
  }
  // No starter, no answer: a null target would reach every task.
  if (r != kOk && service.failed != kTskNoAnswer && starter)
    TskmanPost(starter, service.failed, service.errorArg == 1 ? r : 0,
               service.errorArg == 2 ? r : 0);
  return r;
}

void TskServiceAnswerStarted(const TskService& service, void* context) {
  if (TskmanTask* starter = TskServiceStarter(service, context))
    TskmanPost(starter, service.started, 0, 0);
}

void TskServiceStop(const TskService& service, TskmanTask* requester) {
  TskmanTask* task = TskmanFind(service.module);
  if (!task || service.stop == kTskNoAnswer) {
    TskServiceEnd(service, requester);
    return;
  }
  auto arg = reinterpret_cast<uintptr_t>(requester);
  if (service.stopSent)
    TskmanSend(task, service.stop, arg, 0);
  else
    TskmanPost(task, service.stop, arg, 0);
}

void TskServiceEnd(const TskService& service, TskmanTask* answerTo) {
  if (TskmanTask* task = TskmanFind(service.module)) {
    void* context = task->context;
    TskmanDestroyTask(task);
    if (service.contextBytes != 0) MemFree(&context);
  }
  if (answerTo && service.stopped != kTskNoAnswer) TskmanPost(answerTo, service.stopped, 0, 0);
}
