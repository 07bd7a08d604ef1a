#include "layout/render_ui.h"

#include "browser/uiwindow.h"

const char16_t* RenderGetWindowString() {
  const UiWindow* ui = UiGetWindow();
  return ui ? ui->currentString : nullptr;
}
