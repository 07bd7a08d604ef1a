// Controls: creation and destruction through the class table, reading order,
// radio groups and the helpers the classes share.
#include "kernel/mem.h"
#include "layout/ddriver.h"
#include "widgets/pwl.h"

namespace {

bool ValidType(uint32_t type) { return type >= PwlType::ImageMap && type <= PwlType::TextArea; }

bool InlineType(uint32_t type) {
  return type == PwlType::ImageMap || type == PwlType::TextLink || type == PwlType::ImageLink ||
         type == PwlType::Marquee;
}

PwlControl* AsControl(ListNode* node) { return reinterpret_cast<PwlControl*>(node); }

}  // namespace

Result PwlCreate(PwlControl** out, PwlWindow* window, uintptr_t group, uintptr_t item,
                 uint32_t row, uint32_t type) {
  if (!ValidType(type)) return PwlErr::BadType;
  if (!out) return PwlErr::NullControl;
  *out = nullptr;
  if (!window) return PwlErr::NullWindow;
  const PwlControlClass* cls = PwlGetControlClass(type);
  uint32_t size = cls->instanceSize;
  if (size < sizeof(PwlControl)) size = sizeof(PwlControl);
  auto* control = static_cast<PwlControl*>(MemAllocZero(size, PwlUse::Control, Mod::Pwl));
  if (!control) return PwlErr::NoMemory;
  control->procedure = cls->procedure;
  control->type = type;
  control->window = window;
  control->group = group;
  control->item = item;
  control->row = row;
  control->flags = PwlCtl::Focusable;
  control->rect = {-1, -1, -1, -1};
  control->reserved2 = 0;
  if (cls->init && cls->init(control) != kOk) {
    MemFree(&control);
    return PwlErr::NoMemory;
  }
  ListAppend(&window->controls, &control->link);
  *out = control;
  return kOk;
}

Result PwlDestroy(PwlControl* control) {
  if (!control) return PwlErr::NullControl;
  if (!ValidType(control->type)) return PwlErr::BadType;
  PwlWindow* window = control->window;
  if (!window) return PwlErr::NullWindow;
  if (window->focused == control) window->focused = nullptr;
  if (control->link.next) {
    ListRemove(&control->link);
    control->link.next = control->link.prev = nullptr;
  }
  PwlSend(control, nullptr, nullptr, 0, PwlMsg::Destroy, 0);
  MemFree(&control);
  return kOk;
}

Result PwlSend(PwlControl* control, PwlControl* source, void* data, uint32_t flags,
               uint32_t message, uintptr_t argument) {
  if (!control) return PwlErr::NullControl;
  if (!control->procedure) return PwlErr::NoOperation;
  return control->procedure(control, source, data, flags, message, argument);
}

Result PwlMeasure(PwlControl* control, const void* classData, uint32_t flags, PwlSize* out,
                  uint32_t type) {
  if (!out) return PwlErr::NullData;
  if (!ValidType(type)) return PwlErr::BadType;
  const PwlControlClass* cls = PwlGetControlClass(type);
  if (!cls->measure) return PwlErr::NoOperation;
  return cls->measure(control, classData, flags, out);
}

Result PwlSetMark20(PwlControl* control, uint32_t on) {
  if (!control) return PwlErr::NullControl;
  if (on)
    control->flags |= PwlCtl::Active;
  else
    control->flags &= ~PwlCtl::Active;
  return kOk;
}

Result PwlGetArg1(const PwlControl* control, uintptr_t* out) {
  if (!control) return PwlErr::NullControl;
  if (!out) return PwlErr::NullData;
  *out = control->group;
  return kOk;
}

Result PwlGetArg2(const PwlControl* control, uintptr_t* out) {
  if (!control) return PwlErr::NullControl;
  if (!out) return PwlErr::NullData;
  *out = control->item;
  return kOk;
}

Result PwlGetArg2Length(const PwlControl* control, uint32_t* out) {
  if (!control) return PwlErr::NullControl;
  if (!out) return PwlErr::NullData;
  const auto* item = reinterpret_cast<const DDriverItem*>(control->item);
  *out = item ? item->number : 0;
  return kOk;
}

PwlControl* PwlGetFocusedControl() {
  PwlWindow* active = nullptr;
  PwlGetActiveWindow(&active);
  return active ? active->focused : nullptr;
}

Result PwlGetRelativeRect(const PwlControl* control, PglDrawArgs* args) {
  if (!control) return PwlErr::NullControl;
  if (!args) return PwlErr::NullData;
  const PwlOrigin o = control->window ? control->window->origin : PwlOrigin{};
  args->left = control->rect.left - static_cast<int32_t>(o.x);
  args->top = control->rect.top - static_cast<int32_t>(o.y);
  args->right = control->rect.right - static_cast<int32_t>(o.x);
  args->bottom = control->rect.bottom - static_cast<int32_t>(o.y);
  return kOk;
}

Result PwlRadioSetChecked(PwlControl* control) {
  if (!control) return PwlErr::NullControl;
  if (!(control->flags & PwlCtl::Grouped)) return PwlErr::BadType;
  uint32_t on = 1, off = 0;
  Result r = PwlSend(control, nullptr, &on, PwlMsgFlag::Checked, PwlMsg::SetChecked, 0);
  if (r != kOk) return r;
  const auto* head = reinterpret_cast<PwlCheckHead*>(control);
  // A chain that loops back is walked once round, not for ever.
  for (PwlControl* m = head->nextInGroup; m && m != control;
       m = reinterpret_cast<PwlCheckHead*>(m)->nextInGroup)
    if ((r = PwlSend(m, nullptr, &off, 0, PwlMsg::SetChecked, 0)) != kOk) return r;
  for (PwlControl* m = head->previousInGroup; m && m != control;
       m = reinterpret_cast<PwlCheckHead*>(m)->previousInGroup)
    if ((r = PwlSend(m, nullptr, &off, 0, PwlMsg::SetChecked, 0)) != kOk) return r;
  return kOk;
}

Result PwlInsertByPosition(PwlControl* control) {
  if (!control) return PwlErr::NullControl;
  PwlWindow* window = control->window;
  if (!window) return PwlErr::NullWindow;
  if (control->link.next) ListRemove(&control->link);
  ListHead* list = &window->controls;

  ListNode* anchor = ListLast(list);
  while (anchor) {
    PwlControl* c = AsControl(anchor);
    if (c->row > control->row || (c->row == control->row && c->rect.left > control->rect.left))
      anchor = ListPrev(anchor);
    else
      break;
  }
  if (!anchor) {
    ListInsertAfter(ListHeadNode(list), &control->link);
    return kOk;
  }
  // Never split a run of inline controls of another group: go past its end.
  ListNode* before = ListPrev(anchor);
  ListNode* after = ListNext(anchor);
  if (before && after && InlineType(AsControl(before)->type) &&
      InlineType(AsControl(after)->type)) {
    const PwlControl* prev = AsControl(before);
    const bool belongs = InlineType(control->type) && control->group == prev->group;
    if (!belongs) {
      const uintptr_t group = AsControl(anchor)->group;
      while (ListNode* next = ListNext(anchor)) {
        if (AsControl(next)->group != group) break;
        anchor = next;
      }
    }
  }
  ListInsertAfter(anchor, &control->link);
  return kOk;
}

Result PwlRedrawRange(PwlWindow* window) {
  if (!window) return PwlErr::NullWindow;
  PwlControl* first = nullptr;
  PwlControl* last = nullptr;
  PwlFirstVisibleChild(window, &first, 0);
  PwlNextVisibleChild(window, &last, 0);
  if (!first || !last) return kOk;
  for (ListNode* n = &first->link; n; n = ListNext(n)) {
    PwlSend(AsControl(n), nullptr, nullptr, 0, PwlMsg::Redraw, 0);
    if (n == &last->link) break;
  }
  return kOk;
}

Result PwlRepositionControls(PwlWindow* window) {
  if (!window) return PwlErr::NullWindow;
  for (ListNode* n = ListFirst(&window->controls); n;) {
    ListNode* next = ListNext(n);
    PwlControl* c = AsControl(n);
    const uint32_t flags =
        PwlMsgFlag::Reposition | (c->flags & PwlCtl::Bound ? PwlMsgFlag::Bound : 0);
    PwlSend(c, nullptr, c, flags, PwlMsg::Bind, 0);
    n = next;
  }
  return kOk;
}
