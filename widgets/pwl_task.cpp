// The toolkit task (42): keys from the browser window as 0x2a0d, balloon
// timers, and the page fallbacks when the focus has nowhere to go.
#include "browser/benpage.h"
#include "browser/uiwindow.h"
#include "kernel/mem.h"
#include "widgets/pwl.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_internal.h"

namespace {

PwlPageScroller gScroller{};

Result SendEvent(PwlControl* c, uint32_t bits, void* data = nullptr) {
  return PwlSend(c, nullptr, data, 0, PwlMsg::Event, bits);
}

bool Shown(const PwlWindow* w) { return w->focused && (w->state & PwlState::Shown); }

// Nothing moved: the page of the browser window scrolls instead, or comes
// back round from its end (or its start).
void PageFallback(PwlWindow* w, uint32_t key) {
  const bool forward = key == PwlKey::Next || key == PwlKey::Down;
  const bool listKey = key == PwlKey::Next || key == PwlKey::Previous;
  const uint32_t direction = forward ? 1 : 2;
  const uint32_t half = w->height / 2;
  const uint32_t nudge = listKey ? 0 : half;
  UiWindow* ui = UiGetWindow();
  BenPage* page = ui ? ui->page : nullptr;
  if (!page) {
    PwlPostToOwner(w, PwlEvent::Scroll, direction, half);
    return;
  }
  const uint64_t n = ui->scrollMargin, p = page->contentHeight, t = page->scrollTop;
  if (p <= n && t <= n) {
    BenScrollMark = 1;
    const uint32_t focused = forward ? PwlFocusFirstVisible(w) : PwlFocusLastVisible(w);
    BenScrollMark = 0;
    // The first and last visible focus set the changed bit themselves.
    if (!focused) PwlPostToOwner(w, PwlEvent::Scroll, direction, nudge);
    return;
  }
  if (forward ? t + n + 1 < p : t != 0) {
    PwlPostToOwner(w, PwlEvent::Scroll, direction, half);
    return;
  }
  const Result r = !gScroller.toEdge       ? kBenPageAtEdge
                   : forward ? gScroller.toEdge(page, 1, ui->scrollMargin)
                             : gScroller.toBottom(page, ui->scrollMargin);
  if (r == kBenPageAtEdge) PwlPostToOwner(w, PwlEvent::Scroll, direction, nudge);
}

Result KeyStep(PwlContext* context, PwlWindow* w, uint32_t key) {
  PwlControl* f = w->focused;
  if (PwlImageMapIsActive(f) && SendEvent(f, key) == kOk) return kOk;
  if (PwlSelectIsOpen(f)) {
    const bool forward = key == PwlKey::Next || key == PwlKey::Down;
    return SendEvent(f, forward ? PwlEvt::Forward : PwlEvt::Backward);
  }
  uint32_t moved = 0;
  switch (key) {
    case PwlKey::Next:
      PwlNavDirection = 1;
      moved = PwlFocusMoveInList(context, w, 1, 1);
      break;
    case PwlKey::Previous:
      PwlNavDirection = 0;
      moved = PwlFocusMoveInList(context, w, 0, 1);
      break;
    case PwlKey::Up:
      PwlNavDirection = 0;
      moved = PwlFocusMoveSpatial(context, w, 0, 1);
      break;
    default:
      PwlNavDirection = 1;
      moved = PwlFocusMoveSpatial(context, w, 1, 1);
      break;
  }
  if (!moved) PageFallback(w, key);
  return kOk;
}

bool IsWindow(ListHead* list, const PwlWindow* wanted);

// A control's event may end in a popup callback that destroys its window
// and the control with it: both are checked before they are touched again.
bool StillFocused(PwlContext* context, PwlWindow* w, const PwlControl* f) {
  return IsWindow(&context->windows, w) && w->focused == f;
}

// The deepest window under a screen point, from the root down.
PwlWindow* WindowAt(PwlWindow* window, int32_t x, int32_t y) {
  for (;;) {
    PwlWindow* inner = nullptr;
    for (ListNode* n = ListFirst(&window->children); n; n = ListNext(n)) {
      auto* child = reinterpret_cast<PwlWindow*>(n);
      if (PwlPointInRect(&child->frame, x, y)) {
        inner = child;
        break;
      }
    }
    if (!inner) return window;
    window = inner;
  }
}

Result Pointer(PwlContext* context, uintptr_t point) {
  if (!context->root) return kOk;
  const auto x = static_cast<int32_t>(point & 0xFFFF);
  const auto y = static_cast<int32_t>((point >> 16) & 0xFFFF);
  PwlWindow* h = WindowAt(context->root, x, y);
  const int32_t fx = x - h->frame.left, fy = y - h->frame.top;
  const int32_t cx = static_cast<int32_t>(h->origin.x) + fx;
  const int32_t cy = static_cast<int32_t>(h->origin.y) + fy;

  UiWindow* ui = UiGetWindow();
  if (ui && ui->openList.open && ui->openList.control) {
    const PglRect hot{ui->openList.left, ui->openList.top, ui->openList.right,
                      ui->openList.bottom};
    if (PwlPointInRect(&hot, fx, fy)) {
      if (PwlHooks().selectPointer) PwlHooks().selectPointer(ui->openList.control, fx, fy);
      return kOk;
    }
  }
  PwlControl* hit = nullptr;
  for (ListNode* n = ListFirst(&h->controls); n && !hit; n = ListNext(n))
    if (PwlPointInRect(&PwlAsControl(n)->rect, cx, cy)) hit = PwlAsControl(n);
  if (!hit || !(hit->flags & PwlCtl::Focusable)) return kOk;

  const bool wasFocused = h->focused == hit;
  if (h == context->active && !wasFocused) {
    PwlSetFocus(context, nullptr, 1, 1);
    h->focused = nullptr;
    h->state = 0;
    PwlSend(hit, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusIn, 0);
  }
  if (!(hit->flags & PwlCtl::Enabled)) {
    PwlPostToOwner(h, PwlEvent::Key, PwlKey::Pointer,
                   static_cast<uintptr_t>(static_cast<uint32_t>(fy) << 16 | static_cast<uint32_t>(fx & 0xFFFF)));
    return kOk;
  }
  h->focused = hit;
  if (!wasFocused) PwlSetFocus(context, hit, 1, 1);
  PglPoint relative{cx - hit->rect.left, cy - hit->rect.top};
  SendEvent(hit, PwlEvt::Pointer, &relative);
  if (!StillFocused(context, h, hit)) return kOk;
  h->state = PwlState::Shown | (hit->flags & PwlCtl::MarksChanged ? PwlState::Changed : 0);
  return kOk;
}

Result Key(PwlContext* context, uint32_t key, uintptr_t argument) {
  PwlWindow* w = context->active;
  if (!w) return kOk;
  if (context->modal && key != PwlKey::Select) return kOk;
  PwlControl* f = w->focused;
  switch (key) {
    case PwlKey::Select: {
      if (!Shown(w)) return kOk;
      const Result r = SendEvent(f, PwlEvt::Select, context);
      if (StillFocused(context, w, f) && (f->flags & PwlCtl::MarksChanged))
        w->state |= PwlState::Changed;
      return r;
    }
    case PwlKey::Deselect:
      if (Shown(w)) {
        SendEvent(f, PwlEvt::Deselect);
        if (StillFocused(context, w, f)) w->state &= ~PwlState::Changed;
      }
      return kOk;
    case PwlKey::Next:
    case PwlKey::Previous:
    case PwlKey::Up:
    case PwlKey::Down:
      return KeyStep(context, w, key);
    case PwlKey::ForwardEvent:
      if (Shown(w)) SendEvent(f, PwlEvt::Forward);
      return kOk;
    case PwlKey::BackwardEvent:
      if (Shown(w)) SendEvent(f, PwlEvt::Backward);
      return kOk;
    case PwlKey::Soft1:
    case PwlKey::Soft2: {
      // Without a focused control there is nobody to tell.
      if (!f) return kOk;
      if (key == PwlKey::Soft1 && PwlImageMapIsActive(f) && SendEvent(f, PwlEvt::Select) == kOk)
        return kOk;
      const PwlSlot& slot = context->slots[key == PwlKey::Soft1 ? 0 : 1];
      return SendEvent(f, slot.code, reinterpret_cast<void*>(slot.data));
    }
    case PwlKey::Pointer:
      return Pointer(context, argument);
    default:
      PwlPostToOwner(w, PwlEvent::Key, key, argument);
      return kOk;
  }
}

// Whether the pointer names a live window: a timer's user value is checked
// against the tree, never read blindly.
bool IsWindow(ListHead* list, const PwlWindow* wanted) {
  for (ListNode* n = ListFirst(list); n; n = ListNext(n)) {
    auto* w = reinterpret_cast<PwlWindow*>(n);
    if (w == wanted || IsWindow(&w->children, wanted)) return true;
  }
  return false;
}

void BalloonTimer(PwlContext* context, uintptr_t timer, uintptr_t user) {
  auto* t = reinterpret_cast<TskmanTimer*>(timer);
  auto* w = reinterpret_cast<PwlWindow*>(user);
  if (w && IsWindow(&context->windows, w) && w->marker == kPwlWindowMarker && w->timer == t) {
    w->timer = nullptr;
    TskmanCancelTimer(&t);
    if (!w->hidden) {
      PwlRestoreSavedAreas(w);
      return;
    }
    // A hidden window has nothing to put back, but what the balloon held
    // still must move again.
    PwlFreeSavedAreas(w);
    PwlResumeAnimations();
    PwlRestartMarquees(w);
    return;
  }
  TskmanCancelTimer(&t);
}

}  // namespace

void PwlSetPageScroller(const PwlPageScroller* scroller) {
  gScroller = scroller ? *scroller : PwlPageScroller{};
}

Result PwlTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<PwlContext*>(context);
  if (!ctx) return kOk;
  if (message == TskMsg::Timer) {
    BalloonTimer(ctx, arg1, arg2);
    return kOk;
  }
  if (message == PwlEvent::Key) return Key(ctx, static_cast<uint32_t>(arg1), arg2);
  return kOk;
}
