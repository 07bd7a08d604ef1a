// The image map's class: binding, the focus frame, the red outline of the
// selected area, moves with the keys, select and the soft-key actions.
#include "widgets/pwl_imagemap.h"

#include "widgets/pwl_classes.h"
#include "browser/benmap.h"
#include "browser/benpage.h"
#include "browser/uiwindow.h"
#include "kernel/mem.h"
#include "layout/ddriver.h"
#include "widgets/pwl_internal.h"

using namespace pwlmap;

namespace {

constexpr uint16_t kOutline = 0xF800;

void RemoveOutline(PwlImageMap* m) {
  if (!m->outline) return;
  PglRestoreScreen(m->outline);
  PglFreeSurface(&m->outline);
}

// Makes sure the area list is current before a move or an outline.
void Ensure(PwlImageMap* m) {
  const UiWindow* ui = UiGetWindow();
  const BenPage* page = ui ? ui->page : nullptr;
  const bool changed = page && page->mapVersion != m->mapVersion;
  if (changed || m->reenter || !m->selected) Build(m, false);
}

int32_t Clamp32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// The sides of a polygon, drawn here when the graphics layer's polygon
// refuses one of fewer than four points.
void DrawSides(PglSurface* screen, const PglRect* clip, const PglPoint* p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const PglPoint& a = p[i];
    const PglPoint& b = p[(i + 1) % n];
    const PglLine side{a.x, a.y, b.x, b.y};
    PglDrawClippedLine(screen, clip, &side, kOutline);
  }
}

// 0 drawn (or nothing to draw), 1 no memory, 2 no image or map, 3 no
// coordinates.
uint32_t DrawOutline(PwlImageMap* m) {
  RemoveOutline(m);
  Ensure(m);
  PwlMapArea* a = m->selected;
  if (!a || !InView(m, a)) return 0;
  if (!Usable(m->image) || !m->map) return 2;
  if (!a->coords || !a->coordCount) return 3;
  PwlControl* c = &m->head;
  PwlWindow* w = c->window;
  PwlContext* context = PwlGetContext();
  if (!w || !context) return 2;
  const int64_t sx = int64_t{w->frame.left} + c->rect.left - int64_t{w->origin.x};
  const int64_t sy = int64_t{w->frame.top} + c->rect.top - int64_t{w->origin.y};
  PglRect box{Clamp32(sx + a->box[0]), Clamp32(sy + a->box[1]), Clamp32(sx + a->box[2]),
              Clamp32(sy + a->box[3])};
  if (box.left < w->frame.left) box.left = w->frame.left;
  if (box.top < w->frame.top) box.top = w->frame.top;
  if (box.right > w->frame.right) box.right = w->frame.right;
  if (box.bottom > w->frame.bottom) box.bottom = w->frame.bottom;
  if (box.left > box.right || box.top > box.bottom) return 0;

  if (PglAllocViewport(&m->outline) != kOk) return 1;
  if (PglSaveScreenRect(m->outline, &box) != kOk) {
    PglFreeSurface(&m->outline);
    return 1;
  }
  const uint32_t n = a->coordCount;
  auto* v = static_cast<int32_t*>(MemAlloc(n * 4, Use::Data, Mod::Pwl));
  auto* points = static_cast<PglPoint*>(
      MemAlloc((n / 2 + 1) * static_cast<uint32_t>(sizeof(PglPoint)), Use::Data, Mod::Pwl));
  if (!v || !points) {
    MemFree(&v);
    MemFree(&points);
    return 1;
  }
  PwlScaleMapCoords(m->image, a->coords, n, v);
  PglSurface* screen = &context->screen;
  if (a->shape == BenMapShape::Circle) {
    if (n >= 3) {
      const PglPoint centre{Clamp32(sx + v[0]), Clamp32(sy + v[1])};
      PglDrawCircle(screen, &box, &centre, v[2], kOutline);
    }
  } else if (a->shape == BenMapShape::Polygon) {
    const uint32_t count = n / 2;
    for (uint32_t i = 0; i < count; ++i)
      points[i] = {Clamp32(sx + v[2 * i]), Clamp32(sy + v[2 * i + 1])};
    if (count >= 4)
      PglDrawPolygon(screen, &box, points, count, kOutline);
    else if (count >= 2)
      DrawSides(screen, &box, points, count);
  } else if (n >= 4) {
    auto corner = [](int32_t value) { return value < 0 ? 0 : value; };
    const PglRect r{Clamp32(sx + corner(v[0])), Clamp32(sy + corner(v[1])),
                    Clamp32(sx + corner(v[2])), Clamp32(sy + corner(v[3]))};
    PglDrawRectOutline(screen, &box, &r, kOutline);
  }
  MemFree(&v);
  MemFree(&points);
  return 0;
}

void DrawFrame(PwlImageMap* m) {
  PwlControl* c = &m->head;
  PglDrawArgs r{};
  PwlGetRelativeRect(c, &r);
  const PglRect bands[4] = {{r.left, r.top, r.right, r.top + 1},
                            {r.left, r.bottom - 1, r.right, r.bottom},
                            {r.left, r.top + 2, r.left + 1, r.bottom - 2},
                            {r.right - 1, r.top + 2, r.right, r.bottom - 2}};
  const bool focused = c->flags & PwlCtl::Focused;
  const bool usable = Usable(m->image);
  for (const PglRect& band : bands) {
    PwlFillRect(c->window, &band);
    if (focused)
      PwlInvertRect(c->window, &band);
    else if (!usable)
      PwlDrawSegment(c->window, &band, 0x0000);
  }
}

// Leaving the map past its last area: whether the page could still scroll
// that way decides how the map is entered next time.
void Leave(PwlImageMap* m, uint32_t key) {
  m->scrollPending = 0;
  m->entered = 1;
  const UiWindow* ui = UiGetWindow();
  const BenPage* page = ui ? ui->page : nullptr;
  if (!page) return;
  const int64_t top = page->scrollTop, view = page->viewHeight;
  const PglRect& rect = m->head.rect;
  if (key == PwlKey::Next || key == PwlKey::Down) {
    if (top + view < int64_t{page->contentHeight} - 1) {
      m->scrollPending = 1;
      m->entered = 0;
      if (top + view <= rect.bottom) m->entered = 1;
    }
  } else if (top > 0) {
    m->scrollPending = 1;
    m->entered = 0;
    if (rect.top < top) m->entered = 1;
  }
}

Result Move(PwlImageMap* m, uint32_t key) {
  RemoveOutline(m);
  Ensure(m);
  PwlMapArea* found = nullptr;
  if (!m->exhausted) {
    found = Find(m, m->selected, key);
    if (found) m->selected = found;
    if (!found || !InView(m, found)) {
      found = nullptr;
      m->exhausted = 1;
    }
  }
  m->lastDirection = key;
  PwlNavDirection = key == PwlKey::Next || key == PwlKey::Down ? 1 : 0;
  if (!found) {
    Leave(m, key);
    return PwlErr::NullRect;
  }
  m->scrollPending = 0;
  m->entered = 1;
  DrawOutline(m);
  return kOk;
}

bool HasActions(const PwlImageMap* m) {
  return m->actions[0].callback || m->actions[1].callback;
}

Result Event(PwlImageMap* m, uintptr_t argument, void* data) {
  PwlControl* c = &m->head;
  if (!(c->flags & PwlCtl::Enabled)) return kOk;
  if (PwlForwardOwnerDrawn(c, data)) return kOk;
  if (argument >= PwlKey::Next && argument <= PwlKey::Down)
    return Move(m, static_cast<uint32_t>(argument));
  if (argument & PwlEvt::Leave) {
    m->reenter = m->refocus = 0;
    return kOk;
  }
  if (argument & PwlEvt::Select) {
    if (m->selected && m->selected->target) {
      if (TskmanTask* ui = TskmanFind(Mod::Ui))
        TskmanPost(ui, PwlEvent::MapArea, reinterpret_cast<uintptr_t>(m->selected->target), 0);
      return kOk;
    }
    const auto which = reinterpret_cast<uintptr_t>(data);
    if (which == 1 || which == 2) {
      const PwlSoftAction action = m->actions[which - 1];
      // The callback may destroy this control: nothing of it is touched after.
      if (action.callback) action.callback(c, action.argument);
    }
    return kOk;
  }
  if (argument & PwlEvt::Pointer) {
    const auto* p = static_cast<const PglPoint*>(data);
    const uint32_t x = p ? static_cast<uint32_t>(p->x) & 0xFFFF : 0;
    const uint32_t y = p ? static_cast<uint32_t>(p->y) & 0xFFFF : 0;
    PwlPostToOwner(c->window, PwlEvent::Point, reinterpret_cast<uintptr_t>(c), x | y << 16);
    return kOk;
  }
  return PwlMapErr::BadEvent;
}

void FocusIn(PwlImageMap* m, uint32_t flags) {
  PwlControl* c = &m->head;
  if (c->flags & PwlCtl::Focused) return;
  c->flags |= PwlCtl::Focused;
  if (flags & PwlMsgFlag::Redraw) {
    DrawFrame(m);
    m->refocus = 1;
    DrawOutline(m);
  }
  PwlContext* context = PwlGetContext();
  if (!HasActions(m)) {
    if (context) context->keyMark = 0;
    if (m->areas)
      if (TskmanTask* ui = TskmanFind(Mod::Ui))
        TskmanPost(ui, PwlEvent::Label, reinterpret_cast<uintptr_t>(PwlLabelText(12)), 0);
    return;
  }
  PwlPostToOwner(c->window, PwlEvent::Labels, reinterpret_cast<uintptr_t>(m->actions[0].label),
                 reinterpret_cast<uintptr_t>(m->actions[1].label));
  if (m->actions[0].callback) PwlSetSlot(1, PwlEvt::Select, 1);
  if (m->actions[1].callback) PwlSetSlot(2, PwlEvt::Select, 2);
  if (context) context->keyMark = 1;
}

void FocusOut(PwlImageMap* m, uint32_t flags) {
  PwlControl* c = &m->head;
  if (!(c->flags & PwlCtl::Focused)) return;
  c->flags &= ~PwlCtl::Focused;
  // The outline's saved screen holds the focused frame where an area reaches
  // the control's edge: it goes back first, then the frame is drawn plain.
  RemoveOutline(m);
  if (flags & PwlMsgFlag::Redraw) DrawFrame(m);
  m->reenter = 1;
  PwlClearSlot(1);
  PwlClearSlot(2);
  PwlPostToOwner(c->window, PwlEvent::ClearLabels, 0, 0);
}

Result Init(PwlControl* c) {
  PwlImageMap* m = Of(c);
  m->lastDirection = PwlKey::Down;
  m->mapVersion = 0xFFFFFFFF;
  m->entered = m->reenter = 1;
  return kOk;
}

Result Proc(PwlControl* c, PwlControl*, void* data, uint32_t flags, uint32_t message,
            uintptr_t argument) {
  if (!c) return PwlErr::NullControl;
  PwlImageMap* m = Of(c);
  if (Result common; PwlCommonMessage(c, data, message, &common)) return common;
  switch (message) {
    case PwlMsg::Event:
      return Event(m, argument, data);
    case PwlMsg::Redraw:
      DrawFrame(m);
      // The screen under the old outline is being drawn afresh.
      PglFreeSurface(&m->outline);
      if (c->flags & PwlCtl::Focused) DrawOutline(m);
      return kOk;
    case PwlMsg::SetRect: {
      if (!data) return PwlErr::NullRect;
      const PglRect& r = *static_cast<const PglRect*>(data);
      if (r.left > r.right || r.top > r.bottom) return PwlErr::BadArg;
      c->rect = r;
      return kOk;
    }
    case PwlMsg::Bind: {
      if (!data) return PwlMapErr::NullData;
      if (!(flags & PwlMsgFlag::Bound) || (flags & PwlMsgFlag::Reposition)) return kOk;
      const auto* binding = static_cast<const PwlMapBinding*>(data);
      m->mapName = binding->mapName;
      m->image = binding->image;
      if (BenScrollMark) m->reenter = 1;
      if (Build(m, true) != kOk) m->entered = 1;
      m->refocus = 0;
      c->flags |= PwlCtl::Bound;
      return kOk;
    }
    case PwlMsg::FocusIn:
      FocusIn(m, flags);
      return kOk;
    case PwlMsg::FocusOut:
      FocusOut(m, flags);
      return kOk;
    case PwlMapMsg::SoftAction1:
    case PwlMapMsg::SoftAction2: {
      if (!data) return PwlMapErr::NullData;
      PwlSoftAction& slot = m->actions[message - PwlMapMsg::SoftAction1];
      MemFree(&slot.label);
      slot = *static_cast<const PwlSoftAction*>(data);
      return kOk;
    }
    case PwlMsg::Destroy:
      PglFreeSurface(&m->outline);
      FreeAreas(m);
      PwlNavDirection = 1;
      BenScrollMark = 0;
      // Labels still on their way (to the owner, or passed on to the UI
      // task) would be read after they are freed: they go first.
      if (const auto label = reinterpret_cast<uintptr_t>(m->actions[0].label)) {
        if (c->window && c->window->owner)
          TskmanPurgeEvents(c->window->owner, PwlEvent::Labels, label, -1);
        if (TskmanTask* ui = TskmanFind(Mod::Ui)) TskmanPurgeEvents(ui, PwlEvent::Labels, label, -1);
      }
      MemFree(&m->actions[0].label);
      MemFree(&m->actions[1].label);
      return kOk;
    default:
      return PwlErr::NoOperation;
  }
}

const PwlControlClass kImageMapClass{Init, Proc, nullptr, sizeof(PwlImageMap)};

// The map takes the keys itself while its image is loaded and an area is
// selected.
bool HookActive(const PwlControl* c) {
  const auto* m = reinterpret_cast<const PwlImageMap*>(c);
  return m->image && (m->image->flags & DDriverFlag::Loaded) && m->selected;
}

}  // namespace

PwlMapArea* PwlImageMapSelect(PwlControl* control, const void* area) {
  if (!control || control->type != PwlType::ImageMap || !area) return nullptr;
  PwlImageMap* m = Of(control);
  if (!Usable(m->image) || !m->map) return nullptr;
  PwlMapArea* found = nullptr;
  for (PwlMapArea* a = m->areas; a && !found; a = a->next)
    if (a == area || a->source == area) found = a;
  if (!found) return nullptr;
  RemoveOutline(m);
  m->reenter = m->refocus = m->exhausted = 0;
  m->entered = m->scrollPending = 1;
  m->selected = found;
  DrawOutline(m);
  return found;
}

void PwlInstallImageMapClass() {
  PwlSetControlClass(PwlType::ImageMap, &kImageMapClass);
  PwlClassHooks hooks = PwlHooks();
  hooks.imageMapActive = HookActive;
  PwlSetClassHooks(&hooks);
}
