#include "tests/support/command_watch.h"

#include "browser/uitask.h"
#include "kernel/tskman.h"

namespace {
CommandWatch* gWatch = nullptr;

void Observe(const TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (gWatch && task->id == Mod::Ui && message == UiMsg::Command)
    gWatch->seen.push_back({static_cast<int32_t>(arg1), arg2});
}
}  // namespace

CommandWatch::CommandWatch() {
  gWatch = this;
  TskmanSetObserver(Observe);
}

CommandWatch::~CommandWatch() {
  TskmanSetObserver(nullptr);
  gWatch = nullptr;
}
