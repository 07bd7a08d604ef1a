#include "browser/ui.h"

#include "browser/uitask.h"
#include "kernel/tskman.h"

namespace {
constexpr int kKept = 64;
UiCommandRecord gRecent[kKept];
int gCount = 0;  // total received since the last forget
}  // namespace

void UiCommand(int32_t command, uintptr_t argument) {
  gRecent[gCount % kKept] = {command, argument};
  ++gCount;
  if (TskmanTask* task = TskmanFind(Mod::Ui))
    TskmanPost(task, UiMsg::Command, static_cast<uintptr_t>(command), argument);
}

int UiRecentCommands(UiCommandRecord* out, int max) {
  int kept = gCount < kKept ? gCount : kKept;
  int n = kept < max ? kept : max;
  int first = gCount - n;
  for (int i = 0; i < n; ++i) out[i] = gRecent[(first + i) % kKept];
  return n;
}

void UiForgetCommands() { gCount = 0; }
