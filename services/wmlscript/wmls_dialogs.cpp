// The Dialogs library (5): the user's answer to a popup resumes the run
// (resume kinds 1 prompt, 2 confirm, 3 alert).
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"
#include "widgets/popup.h"

namespace {

WmlsTaskContext* Task(WmlsRunContext* ctx) { return static_cast<WmlsTaskContext*>(ctx->scriptTask); }

TskmanTask* Self(WmlsRunContext* ctx) {
  WmlsTaskContext* task = Task(ctx);
  return task && task->awaitPopup ? task->self : nullptr;
}

// Opened: the run waits for the popup's answer; not: the run ends, for want
// of memory when that is why.
void Wait(WmlsRunContext* ctx, Result opened, uint16_t kind) {
  if (opened != kOk) {
    ctx->status = ResultNoMemory(opened) ? WmlsStatus::NoMemory : WmlsResult::Aborted;
    return;
  }
  ctx->suspended = 1;
  ctx->resumeKind = kind;
  Task(ctx)->awaitPopup(Task(ctx));
}

void Prompt(WmlsRunContext* ctx, WmlsValue** a) {
  WmlsTextArg message(ctx, a[0]), initial(ctx, a[1]);
  if (!message.ok || !initial.ok) {
    ctx->result = WmlsMakeInvalid();
    return;
  }
  if (!WmlsValueSetString(&ctx->result, initial.s, initial.n)) {
    ctx->status = WmlsStatus::NoMemory;
    return;
  }
  TskmanTask* self = Self(ctx);
  Wait(ctx, self ? PopupInput(message.s, initial.s, nullptr, 0, self) : kWmlsNoPopup, 1);
}

void Confirm(WmlsRunContext* ctx, WmlsValue** a) {
  ctx->result = WmlsMakeBool(true);
  WmlsTextArg message(ctx, a[0]), yes(ctx, a[1]), no(ctx, a[2]);
  if (!message.ok || !yes.ok || !no.ok) {
    ctx->result = WmlsMakeInvalid();
    return;
  }
  TskmanTask* self = Self(ctx);
  Wait(ctx, self ? PopupConfirm(message.s, yes.s, no.s, self) : kWmlsNoPopup, 2);
}

void Alert(WmlsRunContext* ctx, WmlsValue** a) {
  ctx->result = WmlsMakeBool(true);
  WmlsTextArg message(ctx, a[0]);
  if (!message.ok) {
    ctx->result = WmlsMakeInvalid();
    return;
  }
  TskmanTask* self = Self(ctx);
  Wait(ctx, self ? PopupMessage(message.s, self) : kWmlsNoPopup, 3);
}

}  // namespace

const WmlsLibFunction kWmlsDialogsFunctions[] = {{Prompt, 2}, {Confirm, 3}, {Alert, 1}, {nullptr, -1}};
