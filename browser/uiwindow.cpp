#include "browser/uiwindow.h"

#include "graphics/pgl.h"
#include "kernel/modules.h"
#include "kernel/tskman.h"

UiWindow* UiGetWindow() {
  TskmanTask* task = nullptr;
  TskmanFindTask(&task, Mod::Ui);
  if (!task) return nullptr;
  void* context = nullptr;
  TskmanGetContext(&context, task);
  return static_cast<UiWindow*>(context);
}

void UiSetBottomBandHeight(UiWindow* window, uint32_t rows) {
  window->bottomBandHeight = rows;
  PglSetBottomBand(rows);
}

void UiClearStatusText() {
  if (UiWindow* ui = UiGetWindow()) ui->statusText[0] = 0;
}
