// Helpers the toolkit's own files share: list walking and link runs.
#pragma once
#include "widgets/pwl.h"

inline PwlControl* PwlAsControl(ListNode* node) { return reinterpret_cast<PwlControl*>(node); }

inline PwlControl* PwlNextControl(PwlControl* c) {
  ListNode* n = ListNext(&c->link);
  return n ? PwlAsControl(n) : nullptr;
}

inline PwlControl* PwlPrevControl(PwlControl* c) {
  ListNode* n = ListPrev(&c->link);
  return n ? PwlAsControl(n) : nullptr;
}

inline PwlControl* PwlStepControl(PwlControl* c, uint32_t forward) {
  return forward ? PwlNextControl(c) : PwlPrevControl(c);
}

inline bool PwlIsRunType(uint32_t type) {
  return type == PwlType::TextLink || type == PwlType::ImageLink;
}

// Whether other is a piece of the same broken link as c.
inline bool PwlSameRun(const PwlControl* c, const PwlControl* other) {
  return PwlIsRunType(c->type) && PwlIsRunType(other->type) && c->group == other->group;
}

inline PwlControl* PwlRunFirst(PwlControl* c) {
  while (PwlControl* p = PwlPrevControl(c)) {
    if (!PwlSameRun(c, p)) break;
    c = p;
  }
  return c;
}

inline PwlControl* PwlRunLast(PwlControl* c) {
  while (PwlControl* n = PwlNextControl(c)) {
    if (!PwlSameRun(c, n)) break;
    c = n;
  }
  return c;
}

// The union of the run's rectangles.
inline PglRect PwlRunRect(PwlControl* c) {
  PwlControl* m = PwlRunFirst(c);
  PglRect u = m->rect;
  for (PwlControl* last = PwlRunLast(c); m != last;) {
    m = PwlNextControl(m);
    if (m->rect.left < u.left) u.left = m->rect.left;
    if (m->rect.top < u.top) u.top = m->rect.top;
    if (m->rect.right > u.right) u.right = m->rect.right;
    if (m->rect.bottom > u.bottom) u.bottom = m->rect.bottom;
  }
  return u;
}

const PwlClassHooks& PwlHooks();
// Frees the screen areas saved under a balloon, without restoring them.
void PwlFreeSavedAreas(PwlWindow* window);
