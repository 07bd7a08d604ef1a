// The browser window's UI task. For now it holds the browser window context
// and ends the browser phase on the end command; pages come with the
// browser core.
#include "browser/uitask.h"

#include "browser/ui.h"
#include "browser/uiwindow.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

bool gBackKeyDisabled = false;
bool gMenuKeyDisabled = false;

Result UiTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  auto* window = static_cast<UiWindow*>(context);
  if (message == UiMsg::Command && static_cast<int32_t>(arg1) == UiCmd::End) {
    if (TskmanTask* start = TskmanFind(Mod::UiStart)) TskmanPost(start, UiMsg::BrowserEnded, 0, 0);
    TskmanDestroyTask(TskmanFind(Mod::Ui));
    MemFree(&window);
  }
  return kOk;
}

}  // namespace

Result UiCreate(const char*) {
  auto* window = static_cast<UiWindow*>(MemAllocZero(sizeof(UiWindow), Use::Context, Mod::Ui));
  if (!window) return ResultError(Mod::Ui, Err::NoMemory);
  TskmanTask* task = nullptr;
  Result r = TskmanCreateTask(&task, Mod::Ui, UiTaskHandler, window);
  if (r != kOk) MemFree(&window);
  return r;
}

void UiResetKeyLocks() {
  gBackKeyDisabled = false;
  gMenuKeyDisabled = false;
}
bool UiBackKeyDisabled() { return gBackKeyDisabled; }
bool UiMenuKeyDisabled() { return gMenuKeyDisabled; }
