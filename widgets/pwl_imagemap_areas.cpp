// The image map's areas: converting a page area's coordinates, the boxes,
// the reading-order chain, settling the selection and finding the next area
// in a direction.
#include "browser/benmap.h"
#include "browser/benpage.h"
#include "browser/uiwindow.h"
#include "kernel/mem.h"
#include "layout/ddriver.h"
#include "widgets/pwl_imagemap.h"

using namespace pwlmap;

namespace {

int32_t Clamp32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// A coordinate in natural pixels: percentages of the natural size.
int64_t Natural(const BenMapCoord& c, uint32_t natural) {
  int64_t v = c.value;
  if (c.flags & 1) {
    if (v > 100) v = 100;
    v = v * natural / 100;
  }
  return v;
}

int64_t Shown(int64_t v, uint32_t natural, uint32_t shown) {
  return natural && natural != shown ? int64_t{shown} * v / natural : v;
}

int64_t ClipTo(int64_t v, uint32_t limit) { return v < 0 ? 0 : v > limit ? limit : v; }

// The area's box in shown-image pixels; false when it has none.
bool BoxOf(const DDriverItem* image, const PwlMapArea* a, int32_t* box) {
  const DDriverImageObject* o = image->object;
  const uint32_t nw = o->naturalWidth, nh = o->naturalHeight;
  if (!a->coords) return false;
  int64_t l, t, r, b;
  if (a->shape == BenMapShape::Circle) {
    if (a->coordCount < 3) return false;
    const int64_t cx = Natural(a->coords[0], nw), cy = Natural(a->coords[1], nh);
    const int64_t radius = Natural(a->coords[2], nw);
    l = ClipTo(cx - radius, nw), t = ClipTo(cy - radius, nh);
    r = ClipTo(cx + radius, nw), b = ClipTo(cy + radius, nh);
  } else {
    const uint32_t points = a->coordCount / 2;
    if (!points) return false;
    l = t = INT64_MAX;
    r = b = INT64_MIN;
    for (uint32_t p = 0; p < points; ++p) {
      const int64_t x = ClipTo(Natural(a->coords[2 * p], nw), nw);
      const int64_t y = ClipTo(Natural(a->coords[2 * p + 1], nh), nh);
      if (x < l) l = x;
      if (x > r) r = x;
      if (y < t) t = y;
      if (y > b) b = y;
    }
  }
  box[0] = Clamp32(Shown(l, nw, o->shownWidth));
  box[1] = Clamp32(Shown(t, nh, o->shownHeight));
  box[2] = Clamp32(Shown(r, nw, o->shownWidth));
  box[3] = Clamp32(Shown(b, nh, o->shownHeight));
  return true;
}

bool Before(const PwlMapArea* a, const PwlMapArea* b) {
  return a->box[1] < b->box[1] || (a->box[1] == b->box[1] && a->box[0] < b->box[0]);
}

// Boxes, visibility and the reading-order chain of the visible areas.
void Arrange(PwlImageMap* m) {
  PwlMapArea* head = nullptr;
  for (PwlMapArea* a = m->areas; a; a = a->next) {
    a->nextInOrder = nullptr;
    if (!BoxOf(m->image, a, a->box)) {
      a->box[0] = a->box[1] = a->box[2] = 0;
      a->box[3] = -1;
      continue;
    }
    const PglRect p = Placed(m, a);
    if (PwlRectVisible(&m->head, p.left, p.top, p.right, p.bottom) == PwlErr::OutsideView) {
      a->box[3] = -1;
      continue;
    }
    // Insertion keeps the map's order among equal positions.
    PwlMapArea** link = &head;
    while (*link && !Before(a, *link)) link = &(*link)->nextInOrder;
    a->nextInOrder = *link;
    *link = a;
  }
  m->first = head;
  m->last = head;
  while (m->last && m->last->nextInOrder) m->last = m->last->nextInOrder;
}

bool Forward(uint32_t d) { return d == PwlKey::Next || d == PwlKey::Down; }

// Step 5 of the list building: where the selection stands after a rebuild.
void Settle(PwlImageMap* m) {
  uint32_t d = m->lastDirection;
  const uint32_t nav = PwlNavDirection;
  bool restart = false;
  if (BenScrollMark) {
    m->reenter = m->refocus = 0;
    restart = true;
  } else {
    if (m->reenter) {
      m->reenter = 0;
      if (m->scrollPending && m->entered && m->selected) return;
      if (m->refocus && m->scrollPending && m->exhausted && !m->entered && m->selected)
        m->selected = nullptr;
    }
    const bool kept = m->scrollPending && m->entered && m->selected;
    if (kept) {
      m->exhausted = m->scrollPending = 0;
      return;
    }
    if (!m->refocus) {
      if (m->scrollPending) {
        if (!m->entered) d = nav ? PwlKey::Down : PwlKey::Up;
      } else if (m->entered && m->selected) {
        restart = true;
      } else if (!m->entered) {
        if (Forward(d) && nav)
          d = PwlKey::Up;
        else if (!Forward(d) && !nav)
          d = PwlKey::Down;
      }
    } else {
      if (m->scrollPending && m->exhausted && !m->entered && m->selected) return;
      restart = true;
    }
  }
  if (restart) {
    m->selected = nullptr;
    m->entered = m->exhausted = m->scrollPending = 1;
    d = nav ? PwlKey::Down : PwlKey::Up;
  }
  m->lastDirection = d;
  PwlMapArea* start = Forward(d) ? m->first : m->last;
  PwlMapArea* opposite = Forward(d) ? m->last : m->first;
  if (!m->scrollPending) m->selected = start;
  m->scrollPending = m->exhausted = 0;
  if (!m->selected) {
    m->selected = start;
  } else if (InView(m, m->selected)) {
    return;
  } else if (m->selected == opposite) {
    m->selected = start;
  }
  if (!m->selected || InView(m, m->selected)) return;
  if (PwlMapArea* found = Find(m, m->selected, d)) m->selected = found;
}

}  // namespace

Result PwlScaleMapCoords(const DDriverItem* image, const BenMapCoord* coords, uint32_t count,
                         int32_t* out) {
  if (!image || !image->object || !coords || !out) return PwlErr::BadArg;
  const DDriverImageObject* o = image->object;
  for (uint32_t k = 0; k < count; ++k) {
    const bool x = k % 2 == 0;
    const uint32_t natural = x ? o->naturalWidth : o->naturalHeight;
    const uint32_t shown = x ? o->shownWidth : o->shownHeight;
    out[k] = Clamp32(Shown(Natural(coords[k], natural), natural, shown));
  }
  return kOk;
}

namespace pwlmap {

bool Usable(const DDriverItem* image) {
  if (!image || image->kind != DDriverKind::Image || !(image->flags & DDriverFlag::Loaded))
    return false;
  const DDriverImageObject* o = image->object;
  return o && o->shownWidth && o->shownHeight && o->naturalWidth && o->naturalHeight;
}

PglRect Placed(const PwlImageMap* m, const PwlMapArea* a) {
  const int64_t x = m->image ? m->image->left : 0, y = m->image ? m->image->top : 0;
  return {Clamp32(x + a->box[0]), Clamp32(y + a->box[1]), Clamp32(x + a->box[2]),
          Clamp32(y + a->box[3])};
}

bool InView(const PwlImageMap* m, const PwlMapArea* a) {
  if (!a || a->box[3] == -1) return false;
  const PglRect p = Placed(m, a);
  return PwlRectVisible(&m->head, p.left, p.top, p.right, p.bottom) == kOk;
}

void FreeAreas(PwlImageMap* m) {
  while (PwlMapArea* a = m->areas) {
    m->areas = a->next;
    MemFree(&a);
  }
  m->selected = m->first = m->last = nullptr;
}

Result Build(PwlImageMap* m, bool always) {
  UiWindow* ui = UiGetWindow();
  BenPage* page = ui ? ui->page : nullptr;
  if (!page || !Usable(m->image)) {
    FreeAreas(m);
    m->map = nullptr;
    return PwlErr::BadArg;
  }
  if (!always && page->mapVersion == m->mapVersion && !m->reenter && m->selected) return kOk;
  BenMap* map = nullptr;
  BenPageFindMap(page, m->mapName, &map);
  m->map = map;
  if (!map) {
    FreeAreas(m);
    return PwlErr::BadArg;
  }
  if (page->mapVersion == m->mapVersion && !m->reenter && !m->refocus && m->selected)
    return kOk;
  m->mapVersion = page->mapVersion;
  const BenMapArea* wasSelected = m->selected ? m->selected->source : nullptr;
  FreeAreas(m);
  PwlMapArea** tail = &m->areas;
  for (const BenMapArea* pa = map->areas; pa; pa = pa->next) {
    auto* a = static_cast<PwlMapArea*>(MemAllocZero(sizeof(PwlMapArea), Use::Data, Mod::Pwl));
    if (!a) {
      FreeAreas(m);
      return PwlErr::NoMemory;
    }
    a->shape = pa->shape;
    a->coordCount = pa->coordCount;
    a->target = pa->target;
    a->extra = pa->extra;
    a->coords = pa->coords;
    a->source = pa;
    if (pa == wasSelected) m->selected = a;
    *tail = a;
    tail = &a->next;
  }
  Arrange(m);
  Settle(m);
  return kOk;
}

PwlMapArea* Find(PwlImageMap* m, const PwlMapArea* from, uint32_t key) {
  if (!from) return nullptr;
  switch (key) {
    case PwlKey::Next:
      return from->nextInOrder;
    case PwlKey::Previous:
      for (PwlMapArea* a = m->first; a; a = a->nextInOrder)
        if (a->nextInOrder == from) return a;
      return nullptr;
    case PwlKey::Up: {
      PwlMapArea* found = nullptr;
      for (PwlMapArea* a = m->first; a && a != from; a = a->nextInOrder)
        if (a->box[1] < from->box[1] && a->box[0] <= from->box[0]) found = a;
      return found;
    }
    case PwlKey::Down:
      for (PwlMapArea* a = from->nextInOrder; a; a = a->nextInOrder)
        if (a->box[1] > from->box[1] && a->box[0] >= from->box[0]) return a;
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace pwlmap
