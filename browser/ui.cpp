#include "browser/ui.h"

#include "browser/uitask.h"
#include "kernel/tskman.h"

void UiCommand(int32_t command, uintptr_t argument) {
  if (TskmanTask* task = TskmanFind(Mod::Ui))
    TskmanPost(task, UiMsg::Command, static_cast<uintptr_t>(command), argument);
}
