#include "browser/uiwindow.h"

#include "kernel/modules.h"
#include "kernel/tskman.h"

uint32_t UiWindowBottomBandHeight() {
  TskmanTask* task = nullptr;
  TskmanFindTask(&task, Mod::Ui);
  if (!task) return 0;
  void* context = nullptr;
  TskmanGetContext(&context, task);
  return context ? static_cast<const UiWindow*>(context)->bottomBandHeight : 0;
}
