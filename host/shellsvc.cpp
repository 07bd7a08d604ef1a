// System sounds and sound files, the delayed confirmation and the
// zone-service flags.
#include "host/shellsvc.h"

#include <cstdio>

#include "host/platform/files.h"
#include "host/phone.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

void NoPlay(void*, const char*) {}
void NoStop(void*) {}
int32_t NoValue(void*, const char*) { return 0; }
constexpr ShellServiceOps kDefaults{nullptr, NoPlay, NoStop, NoValue};
const ShellServiceOps* gOps = &kDefaults;

int32_t gSoundNumber = 1;

// The pending confirmation lives in its own small task, whose timer is the
// three seconds: it is pending exactly while the task exists, so an engine
// torn down under it leaves nothing pending behind.
struct Confirm {
  uintptr_t value;
  ShellConfirmCallback callback;
  TskmanTimer* timer;
};

Result ConfirmHandler(void* context, uint32_t message, uintptr_t, uintptr_t) {
  if (message != TskMsg::Timer) return kOk;
  auto* confirm = static_cast<Confirm*>(context);
  const Confirm done = *confirm;
  TskmanCancelTimer(&confirm->timer);
  TskmanDestroyTask(TskmanFind(kShellModule));
  MemFree(&confirm);
  // Cleared before the call, so that the callback may ask again.
  if (done.callback) done.callback("RESULT_OK", "STATUS_OK", done.value);
  return kOk;
}

int32_t Flag(const char* key) { return gOps->operationValue(gOps->ctx, key) != 0 ? 1 : 0; }

}  // namespace

const ShellServiceOps* ShellServicesInstall(const ShellServiceOps* ops) {
  const ShellServiceOps* old = gOps;
  gOps = ops ? ops : &kDefaults;
  return old == &kDefaults ? nullptr : old;
}

void HostPlaySystemSound(uint32_t, const uint8_t* data, uint32_t length) {
  if (!data || data[0] == 0) {
    gOps->stopSystemSound(gOps->ctx);
    gSoundNumber = 1;
    return;
  }
  gOps->playSystemSound(gOps->ctx, "SystemStart");
  char name[24];
  std::snprintf(name, sizeof name, "%d.sound", static_cast<int>(gSoundNumber));
  PlatformFileReplace(name, data, length);
  ++gSoundNumber;
}

Result HostStartConfirmThread(uintptr_t, uintptr_t value, ShellConfirmCallback callback) {
  if (TskmanFind(kShellModule)) return kShellConfirmPending;
  auto* confirm =
      static_cast<Confirm*>(MemAllocZero(sizeof(Confirm), Use::Context, kShellModule));
  if (!confirm) return ResultError(kShellModule, Err::NoMemory);
  confirm->value = value;
  confirm->callback = callback;
  TskmanTask* task = nullptr;
  if (TskmanCreateTaskEx(&task, kShellModule, ConfirmHandler, confirm, false) != kOk) {
    MemFree(&confirm);
    return ResultError(kShellModule, Err::NoMemory);
  }
  if (TskmanStartTimer(&confirm->timer, task, 0, 0, kShellConfirmMs) != kOk) {
    TskmanDestroyTask(task);
    MemFree(&confirm);
    return ResultError(kShellModule, Err::NoMemory);
  }
  return kOk;
}

int32_t HostRcellAvailable() { return Flag("rcell_avail"); }
int32_t HostRcellNonRcellSession() { return Flag("rcell_NonRcellSession"); }
int32_t HostIsRcellNam() { return Flag("rcell_IsRcellNam"); }
