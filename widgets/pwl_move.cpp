// Focus movement: in list order, by position on the screen, and with the
// page as it scrolls; and the scroll requests to the window's owner.
#include "widgets/pwl.h"
#include "widgets/pwl_internal.h"

namespace {

constexpr int32_t kSelectRowHeight = 12;

Result Visibility(PwlControl* c, const PglRect& r) {
  return PwlRectVisible(c, r.left, r.top, r.right, r.bottom);
}

int32_t OriginY(const PwlWindow* w) { return static_cast<int32_t>(w->origin.y); }

// Steps 1 of both movements: a focus that is not shown is forgotten when
// the direction turns.
void NoteDirection(PwlWindow* w, uint32_t direction) {
  if (direction != w->lastDirection && !(w->state & PwlState::Shown)) w->focused = nullptr;
  w->lastDirection = direction;
}

// Steps 4 and 5 of both movements: focus a visible candidate (asking the
// owner to scroll a partly visible one into view), or hand an unseen one to
// the owner, or keep the focus where it is.
uint32_t FocusCandidate(PwlContext* context, PwlWindow* w, PwlControl* old, const PglRect& u,
                        PwlControl* candidate, uint32_t direction, uint32_t redraw) {
  const Result v = Visibility(candidate, candidate->rect);
  if (v != PwlErr::OutsideView) {
    PwlSetFocus(context, candidate, redraw, redraw);
    if (v == PwlErr::PartlyVisible && PwlRequestScroll(w, candidate, direction ? 1 : 0))
      PwlSetFocus(context, candidate, 0, 0);
    return 1;
  }
  const bool beyond = direction ? candidate->rect.bottom < OriginY(w)
                                : candidate->rect.top > OriginY(w) + static_cast<int32_t>(w->height);
  if (beyond) {
    PwlPostToOwner(w, PwlEvent::BringIntoView, static_cast<uint32_t>(candidate->rect.top),
                   reinterpret_cast<uintptr_t>(candidate));
    return 1;
  }
  if (old && Visibility(old, u) != PwlErr::OutsideView)
    PwlSetFocus(context, old, redraw, redraw);
  else
    PwlSetFocus(context, nullptr, redraw, redraw);
  return 0;
}

bool Overlaps(const PglRect& c, int32_t l, int32_t r) {
  return (c.left >= l && c.left < r) || (c.right > l && c.right <= r) ||
         (c.left <= l && c.right >= r);
}

}  // namespace

uint32_t PwlRequestScroll(PwlWindow* window, const PwlControl* control, uint32_t mode) {
  const int32_t viewTop = OriginY(window);
  const int32_t viewBottom = viewTop + static_cast<int32_t>(window->height) - 1;
  const int64_t delta = mode == 1 ? int64_t{control->rect.bottom} - viewBottom
                                  : int64_t{control->rect.top} - viewTop;
  const uint32_t direction = delta > 0 ? 1 : 2;
  uint64_t distance = static_cast<uint64_t>(delta < 0 ? -delta : delta);
  uint32_t whole = 1;
  if (distance > window->height / 2) {
    distance = window->height / 2;
    whole = 0;
  }
  if (distance) PwlPostToOwner(window, PwlEvent::Scroll, direction, static_cast<uintptr_t>(distance));
  return whole;
}

uint32_t PwlFocusMoveInList(PwlContext* context, PwlWindow* w, uint32_t direction,
                            uint32_t redraw) {
  if (!w) return 0;
  PwlControl* old = w->focused;
  NoteDirection(w, direction);

  PwlControl* candidate = nullptr;
  PglRect u{};
  if (old) {
    u = old->rect;
    for (candidate = PwlStepControl(old, direction); candidate;
         candidate = PwlStepControl(candidate, direction)) {
      if (PwlSameRun(old, candidate)) {
        const PglRect& r = candidate->rect;
        if (r.left < u.left) u.left = r.left;
        if (r.top < u.top) u.top = r.top;
        if (r.right > u.right) u.right = r.right;
        if (r.bottom > u.bottom) u.bottom = r.bottom;
        continue;
      }
      if (candidate->flags & PwlCtl::Focusable) break;
    }
  } else if (direction) {
    PwlFirstVisibleChild(w, &candidate, 1);
    if (candidate && candidate->rect.top < OriginY(w)) return 0;
  } else {
    PwlNextVisibleChild(w, &candidate, 1);
    if (candidate &&
        candidate->rect.bottom >= OriginY(w) + static_cast<int32_t>(w->height))
      return 0;
  }
  if (!candidate) return 0;
  return FocusCandidate(context, w, old, u, candidate, direction, redraw);
}

PwlControl* PwlFindVerticalNeighbour(PwlWindow* w, uint32_t direction) {
  PwlControl* first = nullptr;
  PwlFirstVisibleChild(w, &first, 1);
  PwlControl* f = w->focused;
  if (!f) return first;
  const int32_t L = f->rect.left, T = f->rect.top, R = f->rect.right, B = f->rect.bottom;
  ListNode* start = first ? &first->link : ListFirst(&w->controls);

  // Row pass: the nearest top in the direction.
  PwlControl* found = nullptr;
  int32_t best = direction ? 1000000 : -1000000;
  for (ListNode* n = start; n; n = ListNext(n)) {
    PwlControl* c = PwlAsControl(n);
    if (c == f || !(c->flags & PwlCtl::Focusable)) continue;
    const PglRect& r = c->rect;
    const bool overlaps = r.right > L && r.left < R;
    if (direction) {
      if (r.top <= T || (r.top < B && !overlaps)) continue;
      if (r.top < best) best = r.top, found = c;
    } else {
      if (r.top >= T || (r.bottom > T && !overlaps)) continue;
      if (r.top > best) best = r.top, found = c;
    }
  }
  if (!found) return nullptr;

  // Column pass: in that row, the control under the focus, else the leftmost.
  const int32_t rowTop = found->rect.top;
  const int32_t rowBottom =
      found->type == PwlType::Select ? rowTop + kSelectRowHeight : found->rect.bottom;
  PwlControl* leftmost = nullptr;
  PwlControl* under = nullptr;
  for (ListNode* n = start; n; n = ListNext(n)) {
    PwlControl* c = PwlAsControl(n);
    if (c == f || !(c->flags & PwlCtl::Focusable)) continue;
    const PglRect& r = c->rect;
    const bool edge = direction ? r.top >= rowTop && r.top < rowBottom
                                : r.bottom > rowTop && r.bottom <= rowBottom;
    const bool inside = r.top >= rowTop && r.bottom <= rowBottom;
    const bool spans = r.top <= rowTop && r.bottom >= rowBottom;
    if (!edge && !inside && !spans) continue;
    if (!leftmost || r.left < leftmost->rect.left) leftmost = c;
    if (Overlaps(r, L, R) && (!under || r.left < under->rect.left)) under = c;
  }
  return under ? under : leftmost;
}

uint32_t PwlFocusMoveSpatial(PwlContext* context, PwlWindow* w, uint32_t direction,
                             uint32_t redraw) {
  if (!w) return 0;
  PwlControl* old = w->focused;
  NoteDirection(w, direction);
  PwlControl* candidate = PwlFindVerticalNeighbour(w, direction);
  if (!candidate) return 0;
  if (!old) {
    PwlSetFocus(context, candidate, redraw, redraw);
    return 1;
  }
  while (candidate && (PwlSameRun(old, candidate) || !(candidate->flags & PwlCtl::Focusable)))
    candidate = PwlStepControl(candidate, direction);
  if (!candidate) return 0;
  return FocusCandidate(context, w, old, PwlRunRect(old), candidate, direction, redraw);
}

uint32_t PwlFocusStep(PwlWindow* window, uint32_t direction, uint32_t redraw) {
  return PwlFocusMoveInList(PwlGetContext(), window, direction, redraw);
}

uint32_t PwlScrollBy(PwlWindow* w, int32_t amount) {
  if (!w) return 0;
  PwlContext* context = PwlGetContext();
  PwlControl* focused = w->focused;
  if (PwlSelectIsOpen(focused) && PwlHooks().selectClose) PwlHooks().selectClose(focused);
  const int64_t y = int64_t{w->origin.y} + amount;
  w->origin.y = y < 0 ? 0 : static_cast<uint32_t>(y);
  const uint32_t down = amount >= 1 ? 1 : 0;

  if (!focused) {
    PwlControl* c = nullptr;
    if (down)
      PwlFirstVisibleChild(w, &c, 1);
    else
      PwlNextVisibleChild(w, &c, 1);
    if (!c) return 0;
    PwlSetFocus(context, c, 1, 1);
    return 1;
  }
  PwlControl* beyond = down ? PwlRunLast(focused) : PwlRunFirst(focused);
  do {
    beyond = PwlStepControl(beyond, down);
  } while (beyond && !(beyond->flags & PwlCtl::Focusable));
  if (beyond && Visibility(beyond, beyond->rect) == kOk) {
    PwlSetFocus(context, beyond, 1, 1);
    return 1;
  }
  const Result v = Visibility(focused, PwlRunRect(focused));
  if (v == PwlErr::PartlyVisible) {
    PwlSetFocus(context, focused, 1, 1);
  } else if (v != kOk) {
    PwlSetFocus(context, nullptr, 1, 1);
    w->focused = nullptr;
  }
  return 0;
}
