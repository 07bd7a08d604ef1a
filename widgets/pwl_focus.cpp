// The focus change protocol and the ways a first focus is placed.
#include "kernel/tskman.h"
#include "widgets/pwl.h"
#include "widgets/pwl_internal.h"

namespace {

PwlClassHooks gHooks{};

void SendRun(PwlControl* any, uint32_t message, uint32_t flags, bool focusableOnly) {
  PwlControl* last = PwlRunLast(any);
  for (PwlControl* m = PwlRunFirst(any);; m = PwlNextControl(m)) {
    if (!focusableOnly || (m->flags & PwlCtl::Focusable))
      PwlSend(m, nullptr, nullptr, flags, message, 0);
    if (m == last) break;
  }
}

uint32_t Place(PwlWindow* window, PwlControl* control) {
  if (!control) return 0;
  PwlSetFocus(PwlGetContext(), control, 1, 1);
  window->state |= PwlState::Changed;
  return 1;
}

}  // namespace

const PwlClassHooks& PwlHooks() { return gHooks; }
void PwlSetClassHooks(const PwlClassHooks* hooks) { gHooks = hooks ? *hooks : PwlClassHooks{}; }

bool PwlImageMapIsActive(const PwlControl* control) {
  return control && control->type == PwlType::ImageMap && gHooks.imageMapActive &&
         gHooks.imageMapActive(control);
}

bool PwlSelectIsOpen(const PwlControl* control) {
  return control && control->type == PwlType::Select && gHooks.selectOpen &&
         gHooks.selectOpen(control);
}

Result PwlSetFocus(PwlContext* context, PwlControl* control, uint32_t redrawOld,
                   uint32_t redrawNew) {
  if (!context) return PwlErr::BadArg;
  PwlWindow* w = control ? control->window : context->active;
  if (!w) return PwlErr::NullWindow;

  PwlControl* old = w->focused;
  if (old && (w->state & PwlState::Shown)) {
    bool leaveHandled = false;
    if (w->state & PwlState::Changed) {
      w->state &= ~PwlState::Changed;
      if (!(w->state & PwlState::NoLeaveNotice) && (old->flags & PwlCtl::LeaveNotice))
        if (TskmanTask* browser = TskmanFind(Mod::Ben))
          TskmanPost(browser, kPwlFieldLeftMessage, old->group, 0);
      const Result r = PwlSend(old, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Leave);
      leaveHandled = ResultCodeOf(r) == 2;
    }
    if (!leaveHandled) {
      w->focusMessage = 1;
      w->labelMark = 0;
      SendRun(old, PwlMsg::FocusOut, redrawOld ? PwlMsgFlag::Redraw : 0, false);
      w->focusMessage = 0;
    }
  }

  const bool focusing = control && (control->flags & PwlCtl::Focusable);
  if (!focusing) {
    w->state = 0;
  } else {
    w->focused = control;
    w->focusMessage = 1;
    w->labelMark = 0;
    SendRun(control, PwlMsg::FocusIn, redrawNew ? PwlMsgFlag::Redraw : 0, true);
    w->focusMessage = 0;
    w->state = PwlState::Shown;
  }
  if (!(focusing && context->keyMark == 1)) PwlPostToOwner(w, PwlEvent::FocusChanged, 0, 0);
  return kOk;
}

Result PwlFocusControl(PwlControl* control, uint32_t force) {
  if (!control) {
    PwlClearFocus();
    return PwlErr::NullControl;
  }
  if (!force) {
    const Result r = PwlRectVisible(control, control->rect.left, control->rect.top,
                                    control->rect.right, control->rect.bottom);
    if (r != kOk) return r;
    if (control->window->focused == control) return kOk;
  }
  return PwlSetFocus(PwlGetContext(), control, 1, 1);
}

Result PwlFocusAndActivate(PwlControl* control) {
  if (!control) return PwlErr::NullControl;
  PwlSetFocus(PwlGetContext(), control, 1, 1);
  return PwlSend(control, nullptr, PwlGetContext(), 0, PwlMsg::Event, PwlEvt::Select);
}

Result PwlActivate(PwlControl* control) {
  if (!control) return PwlErr::NullControl;
  if (control->flags & PwlCtl::MarksChanged) {
    PwlSend(control, nullptr, PwlGetContext(), 0, PwlMsg::Event, PwlEvt::Select);
    PwlWindow* active = nullptr;
    PwlGetActiveWindow(&active);
    if (active) active->state |= PwlState::Changed;
  }
  return kOk;
}

void PwlCloseFocusedInput() {
  PwlControl* focused = PwlGetFocusedControl();
  if (focused && (focused->type == PwlType::EditBox || focused->type == PwlType::TextArea))
    PwlSend(focused, nullptr, nullptr, 0, PwlMsg::CloseInput, 0);
}

void PwlClearFocus() {
  PwlContext* context = PwlGetContext();
  if (!context || !context->active) return;
  PwlSetFocus(context, nullptr, 1, 1);
  if (context->modal) PwlCloseFocusedInput();
  context->active->focused = nullptr;
}

void PwlResetFocus() {
  PwlContext* context = PwlGetContext();
  if (!context || !context->active) return;
  PwlSetFocus(context, nullptr, 0, 0);
  if (context->modal) PwlCloseFocusedInput();
}

uint32_t PwlEnsureFocus(PwlWindow* window) {
  if (!window || window->focused) return 0;
  PwlControl* target = nullptr;
  const Result r = PwlFirstVisibleGroup(window, &target, 1);
  if (!target || r == PwlErr::PartlyVisible) {
    PwlControl* last = nullptr;
    PwlNextVisibleChild(window, &last, 1);
    if (last) target = last;
  }
  return Place(window, target);
}

uint32_t PwlFocusFirstVisible(PwlWindow* window) {
  if (!window) return 0;
  PwlControl* c = nullptr;
  PwlFirstVisibleChild(window, &c, 1);
  return Place(window, c);
}

uint32_t PwlFocusLastVisible(PwlWindow* window) {
  if (!window) return 0;
  PwlControl* c = nullptr;
  PwlNextVisibleChild(window, &c, 1);
  return Place(window, c);
}

uint32_t PwlFocusFirstField(PwlWindow* window) {
  if (!window || !gHooks.firstField) return 0;
  for (ListNode* n = ListFirst(&window->controls); n; n = ListNext(n)) {
    PwlControl* c = PwlAsControl(n);
    if (!(c->flags & PwlCtl::Focusable)) continue;
    const uint32_t t = c->type;
    if (t != PwlType::TextLink && t != PwlType::ImageLink && t != PwlType::Marquee) continue;
    if (!gHooks.firstField(c)) continue;
    PwlContext* context = PwlGetContext();
    PwlSetFocus(context, c, 1, 1);
    if (PwlRectVisible(c, c->rect.left, c->rect.top, c->rect.right, c->rect.bottom) != kOk &&
        PwlRequestScroll(window, c, 1))
      PwlSetFocus(context, c, 0, 0);
    return 1;
  }
  return 0;
}
