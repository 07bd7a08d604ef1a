// The push button (type 5): a label inside a frame with open corners,
// inverted while focused; a label too wide for its room is cut and ends in
// an ellipsis.
#include "browser/benform.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "widgets/pwl_classes.h"
#include "widgets/pwl_text.h"

namespace {

constexpr uint32_t kLabelSubmit = 0, kLabelReset = 1, kLabelOk = 6, kLabelPrevious = 10,
                   kLabelFormFill = 16;
constexpr uint32_t kNoLabel = 0xFFFFFFFF;
constexpr uint32_t kUtf8 = 106;
constexpr char16_t kEllipsis = 0x2026;

PwlButton* Button(PwlControl* c) { return reinterpret_cast<PwlButton*>(c); }
bool Focused(const PwlControl* c) { return (c->flags & PwlCtl::Focused) != 0; }
bool IsSpace(char16_t ch) { return ch == ' ' || (ch >= 9 && ch <= 13); }

uint32_t DefaultLabel(uint32_t kind) {
  if (kind & BenButtonFlag::Submit) {
    if (kind & BenButtonFlag::Previous) return kLabelPrevious;
    if (kind & BenButtonFlag::SubmitReset) return kLabelReset;
    return kLabelSubmit;
  }
  if (kind & BenButtonFlag::Reset) return kLabelReset;
  if (kind & BenButtonFlag::FormFill) return kLabelFormFill;
  return kNoLabel;
}

// The label shown, making the control's own label when it needs one.
const char16_t* LabelOf(PwlControl* c) {
  PwlButton* b = Button(c);
  if (c->flags & PwlCtl::Bound) {
    if (b->ownLabel) return b->ownLabel;
    if (!b->record) return nullptr;
    const uint32_t index = DefaultLabel(b->record->flags);
    if (index != kNoLabel) b->ownLabel = PwlDupUiString(index);
    return b->ownLabel;
  }
  if (c->flags & PwlButtonFlag::FormFill) {
    if (!b->ownLabel) b->ownLabel = PwlDupUiString(kLabelFormFill);
    return b->ownLabel;
  }
  return b->label;
}

int32_t Width(const FontInstance* font, uint32_t count, const char16_t* text) {
  int32_t w = 0;
  PwlTextWidth(font, 0, count, text, &w);
  return w;
}

// How many characters of the label fit in `room` with an ellipsis after
// them, and the width they take.
uint32_t Cut(const FontInstance* font, const char16_t* label, int32_t* room) {
  *room -= Width(font, 1, &kEllipsis);
  int32_t fit = *room;
  uint32_t count = 0;
  PwlFitText(font, 0, &fit, label, &count);
  // A blank just before the cut makes a tidier break.
  for (uint32_t back = 1; back <= 3 && back <= count; ++back) {
    const uint32_t at = count - back;
    if (IsSpace(label[at])) {
      *room -= Width(font, count - at, label + at);
      return at;
    }
  }
  return count;
}

Result Layout(PwlControl* c, int32_t width) {
  PwlButton* b = Button(c);
  const char16_t* label = LabelOf(c);
  if (!label || !b->font) return PwlErr::NoMemory;
  int32_t room = width ? width - 6 : static_cast<int32_t>(c->window->width) - 8;
  int32_t h = 0;
  PwlLineHeight(b->font, 0, &h);
  const uint32_t length = LibcWStrLen(label);
  const int32_t t = Width(b->font, length, label);
  if (t <= room) {
    c->rect.right = c->rect.left + t + 5;
    b->shown = length;
  } else {
    b->shown = Cut(b->font, label, &room);
    c->rect.right = c->rect.left + Width(b->font, 1, &kEllipsis) + room + 5;
  }
  c->rect.bottom = c->rect.top + h + 3;
  c->flags &= ~PwlButtonFlag::LayoutPending;
  return kOk;
}

Result Draw(PwlControl* c) {
  if (c->flags & PwlButtonFlag::LayoutPending) return PwlErr::DoesNotFit;
  PwlButton* b = Button(c);
  const char16_t* label = LabelOf(c);
  if (!label || !b->font) return kOk;
  const PglRect r = PwlFrameRectOf(c);
  PwlWindow* w = c->window;
  PwlFillRect(w, &r);
  const uint32_t length = LibcWStrLen(label);
  Result result = kOk;
  if (b->shown >= length) {
    PwlDrawText(b->font, 0, length, label, w, r.left + 3, r.top + 2, nullptr, 0x0000, 0xFFFF);
  } else {
    auto* cut =
        static_cast<char16_t*>(MemAlloc((b->shown + 2) * 2, Use::String, Mod::Pwl));
    if (cut) {
      LibcMemCopy(cut, label, b->shown * 2);
      cut[b->shown] = kEllipsis;
      cut[b->shown + 1] = 0;
      PwlDrawText(b->font, 0, b->shown + 1, cut, w, r.left + 3, r.top + 2, nullptr, 0x0000,
                  0xFFFF);
      MemFree(&cut);
    } else {
      result = PwlErr::NoMemory;
    }
  }
  const PglRect lines[4] = {{r.left + 1, r.top, r.right - 1, r.top},
                            {r.left + 1, r.bottom, r.right - 1, r.bottom},
                            {r.left, r.top + 1, r.left, r.bottom - 1},
                            {r.right, r.top + 1, r.right, r.bottom - 1}};
  for (uint32_t i = 0; i < 4; ++i) PwlDrawLine(w, &lines[i], i < 2 ? 2 : 1, 0x0000);
  if (Focused(c)) {
    const PglRect inside{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
    PwlInvertRect(w, &inside);
  }
  return result;
}

void InvertInside(PwlControl* c) {
  const PglRect r = PwlFrameRectOf(c);
  const PglRect inside{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
  PwlInvertRect(c->window, &inside);
}

Result Bind(PwlControl* c, void* data, uint32_t flags) {
  PwlButton* b = Button(c);
  if (!(flags & PwlMsgFlag::Reposition)) {
    if (!data) return PwlClassErr::NoImage;
    MemFree(&b->ownLabel);
    // A label given earlier was the control's own; a new one replaces it.
    if (b->label != data && !(c->flags & (PwlCtl::Bound | PwlButtonFlag::FormFill)))
      MemFree(&b->label);
    if (flags & PwlMsgFlag::Bound) {
      b->record = static_cast<BenFormFieldRecord*>(data);
      b->label = nullptr;
    } else {
      b->label = static_cast<const char16_t*>(data);
      b->record = nullptr;
    }
  }
  if (flags & PwlMsgFlag::Bound) {
    c->flags |= PwlCtl::Bound;
    if (!b->ownLabel && b->record && b->record->label)
      LngCharsetToWide(&b->ownLabel, b->record->label, kUtf8);
  } else if (flags & PwlButtonFlag::FormFill) {
    c->flags |= PwlButtonFlag::FormFill;
  } else {
    c->flags &= ~PwlCtl::Bound;
  }
  // The label is made now, so that the control shows what it will draw.
  LabelOf(c);
  if (c->flags & PwlButtonFlag::LayoutPending) Layout(c, 0);
  return kOk;
}

Result SetRect(PwlControl* c, const int32_t* data, uint32_t flags) {
  if (flags & kPwlButtonAtPoint) {
    c->rect = {data[0], data[1], data[0], data[1]};
  } else {
    c->rect = {data[0], data[1], data[2], data[1]};
  }
  c->flags |= PwlButtonFlag::LayoutPending;
  PwlButton* b = Button(c);
  if (b->label || b->record || (c->flags & PwlButtonFlag::FormFill))
    Layout(c, c->rect.right - c->rect.left);
  return kOk;
}

Result Event(PwlControl* c, void* data, uintptr_t bits) {
  constexpr uint32_t kReady = PwlCtl::Enabled | PwlCtl::Active;
  if ((c->flags & kReady) != kReady) return kOk;
  if (PwlForwardOwnerDrawn(c, data)) return kOk;
  if (!(bits & PwlClassEvt::Either)) return PwlClassErr::BadEvent;
  if (bits & PwlEvt::Select)
    PwlPostToOwner(c->window, PwlEvent::Activated, reinterpret_cast<uintptr_t>(c), c->group);
  if (bits & PwlEvt::Pointer) {
    const auto* point = static_cast<const int32_t*>(data);
    const uint32_t x = point ? static_cast<uint32_t>(point[0]) & 0xFFFF : 0;
    const uint32_t y = point ? static_cast<uint32_t>(point[1]) & 0xFFFF : 0;
    PwlPostToOwner(c->window, PwlEvent::Point, reinterpret_cast<uintptr_t>(c), x | y << 16);
  }
  return kOk;
}

Result ButtonProc(PwlControl* c, PwlControl*, void* data, uint32_t flags, uint32_t message,
                  uintptr_t argument) {
  if (!c) return PwlErr::NullControl;
  if (Result common; PwlCommonMessage(c, data, message, &common)) return common;
  switch (message) {
    case PwlMsg::Event:
      return Event(c, data, argument);
    case PwlMsg::Redraw:
      return Draw(c);
    case PwlMsg::SetRect:
      if (!data) return PwlErr::NullRect;
      return SetRect(c, static_cast<const int32_t*>(data), flags);
    case PwlMsg::Bind:
      return Bind(c, data, flags);
    case PwlMsg::FocusIn:
      if (Focused(c)) return kOk;
      c->flags |= PwlCtl::Focused;
      if (flags & PwlMsgFlag::Redraw) InvertInside(c);
      PwlSetSlot(1, PwlEvt::Select, 0);
      PwlPostToOwner(c->window, PwlEvent::Label,
                     reinterpret_cast<uintptr_t>(PwlLabelText(kLabelOk)), 0);
      if (PwlContext* context = PwlGetContext()) context->keyMark = 1;
      return kOk;
    case PwlMsg::FocusOut:
      if (!Focused(c)) return kOk;
      c->flags &= ~PwlCtl::Focused;
      if (flags & PwlMsgFlag::Redraw) InvertInside(c);
      PwlClearSlot(1);
      PwlPostToOwner(c->window, PwlEvent::ClearLabels, 0, 0);
      return kOk;
    case PwlMsg::Destroy: {
      PwlButton* b = Button(c);
      if (!(c->flags & (PwlCtl::Bound | PwlButtonFlag::FormFill))) MemFree(&b->label);
      MemFree(&b->ownLabel);
      PwlReleaseFont(b->font);
      b->font = nullptr;
      return kOk;
    }
    default:
      return PwlErr::NoOperation;
  }
}

Result ButtonInit(PwlControl* c) {
  PwlButton* b = Button(c);
  b->shown = 0;
  b->label = nullptr;
  b->record = nullptr;
  b->ownLabel = nullptr;
  return PwlOpenBodyFont(&b->font);
}

Result ButtonMeasure(PwlControl* c, const void* data, uint32_t flags, PwlSize* out) {
  if (!data) return PwlClassErr::NoImage;
  if (!out) return PwlErr::NullData;
  *out = {};
  char16_t* own = nullptr;
  const char16_t* label = static_cast<const char16_t*>(data);
  if (flags & PwlMsgFlag::Bound) {
    const auto* record = static_cast<const BenFormFieldRecord*>(data);
    label = nullptr;
    if (record->label) {
      LngCharsetToWide(&own, record->label, kUtf8);
    } else if (const uint32_t index = DefaultLabel(record->flags); index != kNoLabel) {
      own = PwlDupUiString(index);
    }
    label = own;
  }
  if (!label) return PwlClassErr::NoImage;
  FontInstance* font = nullptr;
  Result r = PwlOpenBodyFont(&font);
  if (r == kOk) {
    PwlWindow* window = c ? c->window : nullptr;
    if (!window) PwlGetActiveWindow(&window);
    const int32_t windowWidth = window ? static_cast<int32_t>(window->width) : 0;
    int32_t h = 0;
    PwlLineHeight(font, 0, &h);
    int32_t t = Width(font, LibcWStrLen(label), label);
    if (t > windowWidth - 9) {
      int32_t room = windowWidth - 9;
      Cut(font, label, &room);
      t = Width(font, 1, &kEllipsis) + room;
    }
    int32_t w = t + 6;
    if (w > windowWidth - 1) w = windowWidth - 1;
    *out = {static_cast<uint32_t>(w < 0 ? 0 : w), static_cast<uint32_t>(h + 4)};
    PwlReleaseFont(font);
  }
  MemFree(&own);
  return r;
}

}  // namespace

const PwlControlClass kPwlButtonClass{ButtonInit, ButtonProc, ButtonMeasure, sizeof(PwlButton)};
