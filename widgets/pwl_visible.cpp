// Visibility of controls in their window's view: the content area from the
// scroll origin, as large as the window.
#include "widgets/pwl.h"

namespace {

struct View {
  int64_t left, top, right, bottom;
};

View ViewOf(const PwlWindow* w) {
  return {w->origin.x, w->origin.y, int64_t{w->origin.x} + w->width - 1,
          int64_t{w->origin.y} + w->height - 1};
}

bool Meets(const View& v, const PglRect& r) {
  return r.left <= v.right && r.right >= v.left && r.top <= v.bottom && r.bottom >= v.top;
}

bool IsLinkType(uint32_t type) {
  return type == PwlType::ImageMap || type == PwlType::TextLink || type == PwlType::ImageLink;
}

PwlControl* AsControl(ListNode* node) { return reinterpret_cast<PwlControl*>(node); }

}  // namespace

Result PwlCheckVertical(const PwlWindow* window, const PglRect* rect) {
  const View v = ViewOf(window);
  if (rect->bottom < v.top || rect->top > v.bottom) return PwlErr::OutsideView;
  if (rect->top < v.top && rect->bottom <= v.bottom) return PwlErr::PartlyVisible;
  if (rect->top >= v.top && rect->bottom > v.bottom) return PwlErr::PartlyVisible;
  return kOk;  // inside, or spanning the whole height
}

Result PwlRectVisible(const PwlControl* control, int32_t left, int32_t top, int32_t right,
                      int32_t bottom) {
  if (!control) return PwlErr::NullControl;
  if (!control->window) return PwlErr::NullWindow;
  const View v = ViewOf(control->window);
  if (right < v.left || left > v.right || bottom < v.top || top > v.bottom)
    return PwlErr::OutsideView;
  const PglRect r{left, top, right, bottom};
  return PwlCheckVertical(control->window, &r);
}

Result PwlFirstVisibleChild(PwlWindow* window, PwlControl** out, uint32_t focusableOnly) {
  if (!out) return PwlErr::NullControl;
  *out = nullptr;
  if (!window) return PwlErr::NullWindow;
  const View v = ViewOf(window);
  for (ListNode* n = ListFirst(&window->controls); n; n = ListNext(n)) {
    PwlControl* c = AsControl(n);
    if (focusableOnly && !(c->flags & PwlCtl::Focusable)) continue;
    if (!Meets(v, c->rect)) continue;
    *out = c;
    return PwlCheckVertical(window, &c->rect);
  }
  return PwlErr::OutsideView;
}

Result PwlNextVisibleChild(PwlWindow* window, PwlControl** out, uint32_t focusableOnly) {
  if (!out) return PwlErr::NullControl;
  *out = nullptr;
  if (!window) return PwlErr::NullWindow;
  const View v = ViewOf(window);
  for (ListNode* n = ListLast(&window->controls); n; n = ListPrev(n)) {
    PwlControl* c = AsControl(n);
    if (focusableOnly && !(c->flags & PwlCtl::Focusable)) continue;
    if (!Meets(v, c->rect)) continue;
    *out = c;
    return PwlCheckVertical(window, &c->rect);
  }
  return PwlErr::OutsideView;
}

Result PwlFirstVisibleGroup(PwlWindow* window, PwlControl** out, uint32_t focusableOnly) {
  if (!out) return PwlErr::NullControl;
  *out = nullptr;
  if (!window) return PwlErr::NullWindow;
  const View v = ViewOf(window);
  for (ListNode* n = ListFirst(&window->controls); n;) {
    PwlControl* first = AsControl(n);
    PwlControl* last = first;
    PglRect r = first->rect;
    ListNode* next = ListNext(n);
    if (IsLinkType(first->type)) {
      while (next && AsControl(next)->group == first->group) {
        last = AsControl(next);
        if (last->rect.right > r.right) r.right = last->rect.right;
        if (last->rect.bottom > r.bottom) r.bottom = last->rect.bottom;
        next = ListNext(next);
      }
    }
    n = next;
    if (focusableOnly && !(first->flags & PwlCtl::Focusable)) continue;
    if (r.left <= v.right && r.right >= v.left && r.top >= v.top && r.top <= v.bottom) {
      *out = last;
      return PwlCheckVertical(window, &r);
    }
  }
  return PwlErr::OutsideView;
}

bool PwlRectsOverlap(const PglRect* a, const PglRect* b) {
  return a->left <= b->right && b->left <= a->right && a->top <= b->bottom &&
         b->top <= a->bottom;
}

bool PwlPointInRect(const PglRect* rect, int32_t x, int32_t y) {
  return x >= rect->left && x <= rect->right && y >= rect->top && y <= rect->bottom;
}
