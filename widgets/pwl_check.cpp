// Check boxes (type 4) and radio buttons (type 7): an image for each state,
// the checked bit mirrored in the bound form record, and for radio buttons
// a chain through the members of their group.
#include "browser/benform.h"
#include "kernel/libc.h"
#include "widgets/pwl_classes.h"

namespace {

constexpr uint32_t kLabelCheck = 4, kLabelUncheck = 5, kLabelChoose = 7;

PwlCheckHead* Head(PwlControl* c) { return reinterpret_cast<PwlCheckHead*>(c); }
BenFormFieldRecord* Record(PwlControl* c) {
  return c->flags & PwlCtl::Bound ? static_cast<BenFormFieldRecord*>(Head(c)->bound) : nullptr;
}
bool Radio(const PwlControl* c) { return c->type == PwlType::Radio; }
bool Checked(const PwlControl* c) { return (c->flags & PwlCtl::Checked) != 0; }
bool Focused(const PwlControl* c) { return (c->flags & PwlCtl::Focused) != 0; }

// The image that sets the control's size.
uint32_t SizeImage(const PwlControl* c) {
  return Radio(c) ? PwlImage::RadioSet : PwlImage::CheckSet;
}

void SetChecked(PwlControl* c, bool on) {
  BenFormFieldRecord* record = Record(c);
  if (on) {
    c->flags |= PwlCtl::Checked;
    if (record) record->state |= BenCheckState::Checked;
  } else {
    c->flags &= ~PwlCtl::Checked;
    if (record) record->state &= ~BenCheckState::Checked;
  }
}

void PostLabel(PwlControl* c, uint32_t index) {
  PwlPostToOwner(c->window, PwlEvent::Label, reinterpret_cast<uintptr_t>(PwlLabelText(index)),
                 0);
}

Result Draw(PwlControl* c) {
  const uint32_t base = Radio(c) ? PwlImage::RadioClear : PwlImage::CheckClear;
  const PglSurface* image = PwlImageOf(base + 2 * Focused(c) + Checked(c));
  if (!image) return PwlClassErr::NoImage;
  const PglRect r = PwlFrameRectOf(c);
  if (image->flags & PglFlag::Keyed) {
    const PglRect box{r.left, r.top, r.left + static_cast<int32_t>(image->width) - 1,
                      r.top + static_cast<int32_t>(image->height) - 1};
    if (Result e = PwlFillRect2(c->window, &box, Head(c)->background); e != kOk) return e;
  }
  const PglDrawArgs args{const_cast<PglSurface*>(image),
                         0,
                         0,
                         static_cast<int32_t>(image->width) - 1,
                         static_cast<int32_t>(image->height) - 1,
                         r.left,
                         r.top,
                         0,
                         0,
                         0};
  return PwlDrawImage(c->window, &args);
}

// A name of a grouped control; null when it has none.
const char16_t* GroupName(PwlControl* c) {
  if (c->flags & PwlCtl::Bound) {
    const BenFormFieldRecord* record = Record(c);
    return record ? record->group : nullptr;
  }
  return static_cast<const char16_t*>(Head(c)->bound);
}

void Unlink(PwlControl* c) {
  PwlCheckHead* h = Head(c);
  if (h->previousInGroup) Head(h->previousInGroup)->nextInGroup = h->nextInGroup;
  if (h->nextInGroup) Head(h->nextInGroup)->previousInGroup = h->previousInGroup;
  h->previousInGroup = h->nextInGroup = nullptr;
}

Result JoinGroup(PwlControl* c) {
  const char16_t* name = GroupName(c);
  if (!name) {
    c->flags |= PwlCtl::Grouped;
    return PwlErr::BadArg;
  }
  // Joining again moves the control, never leaves a second link to it.
  Unlink(c);
  Result result = kOk;
  for (ListNode* n = ListFirst(&c->window->controls); n; n = ListNext(n)) {
    auto* other = reinterpret_cast<PwlControl*>(n);
    if (other == c || !Radio(other) || !(other->flags & PwlCtl::Grouped)) continue;
    const char16_t* otherName = GroupName(other);
    if (!otherName) {
      result = PwlErr::BadArg;
      break;
    }
    if (LibcWStrCmp(name, otherName) != 0) continue;
    PwlCheckHead* found = Head(other);
    Head(c)->previousInGroup = other;
    Head(c)->nextInGroup = found->nextInGroup;
    if (found->nextInGroup) Head(found->nextInGroup)->previousInGroup = c;
    found->nextInGroup = c;
    break;
  }
  c->flags |= PwlCtl::Grouped;
  return result;
}

Result Event(PwlControl* c, uintptr_t bits) {
  if (!(c->flags & PwlCtl::Enabled)) return kOk;
  if (!(bits & PwlClassEvt::Either)) return PwlClassErr::BadEvent;
  if (Radio(c)) {
    if (Checked(c)) return kOk;
    if (c->flags & PwlCtl::Grouped) {
      if (Result r = PwlRadioSetChecked(c); r != kOk) return r;
    } else {
      uint32_t on = 1;
      PwlSend(c, nullptr, &on, PwlMsgFlag::Checked, PwlMsg::SetChecked, 0);
    }
    return Draw(c);
  }
  SetChecked(c, !Checked(c));
  PostLabel(c, Checked(c) ? kLabelUncheck : kLabelCheck);
  return Draw(c);
}

Result Bind(PwlControl* c, void* data, uint32_t flags) {
  if (!(flags & PwlMsgFlag::Bound)) {
    // Re-reading after a re-layout has nothing to read without a record.
    if (flags & PwlMsgFlag::Reposition) return kOk;
    c->flags |= flags;
    if (Radio(c)) Head(c)->bound = data;
    return kOk;
  }
  if (!(flags & PwlMsgFlag::Reposition)) Head(c)->bound = data;
  c->flags |= PwlCtl::Bound;
  const BenFormFieldRecord* record = Record(c);
  if (!record) return PwlClassErr::NoImage;
  if (record->state & BenCheckState::Checked)
    c->flags |= PwlCtl::Checked;
  else
    c->flags &= ~PwlCtl::Checked;
  return kOk;
}

Result FocusIn(PwlControl* c, uint32_t flags) {
  if (Focused(c)) return kOk;
  c->flags |= PwlCtl::Focused;
  Result r = flags & PwlMsgFlag::Redraw ? Draw(c) : kOk;
  if (Radio(c)) {
    if (!Checked(c)) {
      PwlSetSlot(1, PwlEvt::Select, 0);
      PostLabel(c, kLabelChoose);
    }
  } else {
    PostLabel(c, Checked(c) ? kLabelUncheck : kLabelCheck);
    PwlSetSlot(1, PwlEvt::Select, 0);
  }
  if (PwlContext* context = PwlGetContext()) context->keyMark = 1;
  return r;
}

Result FocusOut(PwlControl* c, uint32_t flags) {
  if (!Focused(c)) return kOk;
  c->flags &= ~PwlCtl::Focused;
  Result r = flags & PwlMsgFlag::Redraw ? Draw(c) : kOk;
  PwlClearSlot(1);
  PwlPostToOwner(c->window, PwlEvent::ClearLabels, 0, 0);
  return r;
}

Result CheckProc(PwlControl* c, PwlControl*, void* data, uint32_t flags, uint32_t message,
                 uintptr_t argument) {
  if (!c) return PwlErr::NullControl;
  if (Result common; PwlCommonMessage(c, data, message, &common)) return common;
  switch (message) {
    case PwlMsg::Event:
      return Event(c, argument);
    case PwlMsg::Redraw:
      return Draw(c);
    case PwlMsg::SetRect: {
      if (!data) return PwlErr::NullRect;
      const PglSurface* image = PwlImageOf(SizeImage(c));
      if (!image) return PwlClassErr::NoImage;
      const auto* at = static_cast<const int32_t*>(data);
      c->rect = {at[0], at[1], at[0] + static_cast<int32_t>(image->width) - 1,
                 at[1] + static_cast<int32_t>(image->height) - 1};
      return kOk;
    }
    case PwlMsg::GetValue: {
      if (!data) return PwlErr::BadArg;
      auto* out = static_cast<uintptr_t*>(data);
      if (c->flags & PwlCtl::Bound)
        *out = reinterpret_cast<uintptr_t>(Head(c)->bound);
      else if (!Radio(c))
        *out = Checked(c) ? 1 : 0;
      return kOk;
    }
    case PwlMsg::Bind:
      return Bind(c, data, flags);
    case PwlMsg::SetChecked: {
      SetChecked(c, (flags & PwlMsgFlag::Checked) != 0);
      if (Radio(c)) {
        const uint32_t word = data ? *static_cast<const uint32_t*>(data) : 0;
        if (word && !Checked(c))
          PostLabel(c, kLabelChoose);
        else
          PwlPostToOwner(c->window, PwlEvent::ClearLabels, 0, 0);
      }
      return Draw(c);
    }
    case PwlMsg::FocusIn:
      return FocusIn(c, flags);
    case PwlMsg::FocusOut:
      return FocusOut(c, flags);
    case PwlClassMsg::SetBackground:
      if (!data) return PwlErr::NullData;
      Head(c)->background = *static_cast<const uint16_t*>(data);
      return kOk;
    case PwlMsg::JoinGroup:
      return Radio(c) ? JoinGroup(c) : PwlErr::NoOperation;
    case PwlMsg::Destroy:
      // A member that goes leaves its group whole.
      if (Radio(c)) Unlink(c);
      return kOk;
    default:
      return PwlErr::NoOperation;
  }
}

Result CheckInit(PwlControl* c) {
  PwlCheckHead* h = Head(c);
  h->bound = nullptr;
  h->background = 0xFFFF;
  h->previousInGroup = h->nextInGroup = nullptr;
  return kOk;
}

Result Measure(uint32_t image, PwlSize* out) {
  if (!out) return PwlErr::NullData;
  const PglSurface* s = PwlImageOf(image);
  if (!s) return PwlClassErr::NoImage;
  *out = {s->width, s->height};
  return kOk;
}

Result CheckMeasure(PwlControl*, const void*, uint32_t, PwlSize* out) {
  return Measure(PwlImage::CheckSet, out);
}

Result RadioMeasure(PwlControl*, const void*, uint32_t, PwlSize* out) {
  return Measure(PwlImage::RadioSet, out);
}

}  // namespace

const PwlControlClass kPwlCheckBoxClass{CheckInit, CheckProc, CheckMeasure, sizeof(PwlCheckHead)};
const PwlControlClass kPwlRadioClass{CheckInit, CheckProc, RadioMeasure, sizeof(PwlCheckHead)};
