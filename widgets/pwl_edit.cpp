// Edit boxes (type 9) and text areas (type 10): the control shows the value
// and hands editing to the text-input session; the value comes back as
// message 19. A bound box shares its text with the form record's current
// value; a text area may instead be a read-only viewer that scrolls.
#include "widgets/pwl_classes.h"
#include "browser/benform.h"
#include "browser/benvar.h"
#include "host/platform/shell.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "widgets/input.h"
#include "widgets/pwl_text.h"
#include "widgets/pwl_textbox.h"

namespace {

constexpr uint32_t kLabelEdit = 3, kLabelDown = 17, kLabelUp = 18;
constexpr uint32_t kUtf8 = 106;
constexpr uint32_t kEmptyCapacity = 8;
// Session modes: the kind of window in the low byte.
constexpr uint32_t kModeLine = 1, kModePassword = 4, kModeArea = 0x202;

bool IsBreak(char16_t ch) { return ch == '\r' || ch == '\n'; }
bool Focused(const PwlControl* c) { return (c->flags & PwlCtl::Focused) != 0; }
bool Enabled(const PwlControl* c) { return (c->flags & PwlCtl::Enabled) != 0; }

Result Send(PwlControl* c, void* data, uint32_t flags, uint32_t message, uintptr_t argument = 0) {
  return PwlTextBoxProc(c, nullptr, data, flags, message, argument);
}

// Frees the text; a bound record's value is the same buffer and goes too.
void FreeText(PwlTextBox* b) {
  if (b->record && b->record->value == b->text) b->record->value = nullptr;
  MemFree(&b->text);
  b->length = b->capacity = b->visible = 0;
}

// A cleaned copy of the text: up to two line breaks dropped at each end.
// Never reads outside the text, and never writes into it.
char16_t* CleanCopy(const char16_t* text, uint32_t* length, uint32_t* capacity) {
  if (!text) {
    auto* empty = static_cast<char16_t*>(MemAllocZero(kEmptyCapacity * 2, Use::String, Mod::Pwl));
    *length = 0;
    *capacity = kEmptyCapacity;
    return empty;
  }
  uint32_t start = 0, end = LibcWStrLen(text);
  for (int i = 0; i < 2 && start < end && IsBreak(text[start]); ++i) ++start;
  for (int i = 0; i < 2 && end > start && IsBreak(text[end - 1]); ++i) --end;
  const uint32_t n = end - start;
  auto* copy = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::Pwl));
  if (!copy) return nullptr;
  LibcMemCopy(copy, text + start, n * 2);
  copy[n] = 0;
  *length = n;
  *capacity = n + 1;
  return copy;
}

// Takes `source` as the box's text through a cleaned copy; every buffer the
// copy replaces is freed.
Result TakeText(PwlTextBox* b, const char16_t* source) {
  uint32_t length = 0, capacity = 0;
  char16_t* copy = CleanCopy(source, &length, &capacity);
  if (!copy) return PwlErr::NoMemory;
  char16_t* old[3] = {b->text, nullptr, nullptr};
  if (BenFormFieldRecord* record = b->record) {
    old[1] = record->value;
    old[2] = record->newValue;
    record->value = copy;
    record->newValue = nullptr;
  }
  // The same buffer may stand in several places: each is freed once.
  if (old[1] == old[0]) old[1] = nullptr;
  if (old[2] == old[0] || old[2] == old[1]) old[2] = nullptr;
  for (char16_t*& p : old) MemFree(&p);
  b->text = copy;
  b->length = length;
  b->capacity = capacity;
  b->scroll = 0;
  b->visible = 0;
  PwlTextBoxFreeLines(b);
  return kOk;
}

Result BindRecord(PwlTextBox* b, void* data, uint32_t flags) {
  PwlControl* c = &b->control;
  c->flags |= PwlCtl::Bound;
  if (!(flags & PwlMsgFlag::Reposition)) b->record = static_cast<BenFormFieldRecord*>(data);
  BenFormFieldRecord* record = b->record;
  if (!record) return PwlClassErr::NoImage;
  if (PwlBoxIsArea(b) && record->rows) b->rows = record->rows;
  b->maxLength = record->maxLength ? record->maxLength : kPwlDefaultMaxLength;
  b->title = record->title ? record->title : record->name;
  b->modeLetter = record->mode;
  if (record->flags & BenInputFlag::Password)
    c->flags |= PwlBoxFlag::Password;
  else
    c->flags &= ~PwlBoxFlag::Password;
  const char16_t* source = record->newValue ? record->newValue
                           : record->value  ? record->value
                                            : record->initialValue;
  if (Result r = TakeText(b, source); r != kOk) return r;
  PwlFontSpec font{"BodyText", kPwlBodySize, 0, 0};
  Send(c, &font, 0, PwlClassMsg::SetFont);
  if (c->flags & PwlBoxFlag::RectSet) {
    PglRect rect = c->rect;
    Send(c, &rect, 0, PwlMsg::SetRect);
  }
  return kOk;
}

Result Bind(PwlTextBox* b, void* data, uint32_t flags) {
  if (flags & PwlMsgFlag::Bound) return BindRecord(b, data, flags);
  // A re-layout of an unbound box has nothing to re-read.
  if (flags & PwlMsgFlag::Reposition) return PwlTextBoxLayout(b);
  if (!data) return PwlClassErr::NoImage;
  const auto* d = static_cast<const PwlTextBoxData*>(data);
  // A text shared with a record bound before stays the record's.
  if (b->record && b->record->value == b->text) b->text = nullptr;
  b->record = nullptr;
  b->control.flags &= ~PwlCtl::Bound;
  b->maxLength = d->maxLength ? d->maxLength : kPwlDefaultMaxLength;
  b->title = d->title;
  if (Result r = TakeText(b, d->text); r != kOk) return r;
  return PwlTextBoxLayout(b);
}

Result SetFont(PwlTextBox* b, const PwlFontSpec* spec) {
  if (!spec) return PwlErr::NullData;
  PwlControl* c = &b->control;
  PwlReleaseFont(b->font);
  b->font = nullptr;
  int32_t family = 0, size = 0;
  if (Result r = PwlSelectFont(&family, spec->name); r != kOk) return r;
  FontInstance* font = nullptr;
  if (Result r = PwlCreateFont(&font, family, spec->size, &size); r != kOk) return r;
  b->style = spec->fixedPitch ? PwlStyle::Fixed : 0;
  int32_t lineHeight = 0;
  PwlLineHeight(font, b->style, &lineHeight);
  if ((c->flags & PwlBoxFlag::RectSet) && lineHeight > c->rect.bottom - c->rect.top - 2) {
    PwlReleaseFont(font);
    return PwlClassErr::TooTall;
  }
  b->font = font;
  b->lineHeight = lineHeight;
  b->fixedWidth = 0;
  b->fixedCapacity = 0;
  if (spec->fixedPitch) {
    PwlMaxCharWidth(font, b->style, &b->fixedWidth);
    const PglSurface* icon = PwlImageOf(PwlImage::EditBox);
    const int32_t available =
        c->rect.right - c->rect.left - 9 - (icon ? static_cast<int32_t>(icon->width) : 0);
    if (b->fixedWidth > 0 && available > 2)
      b->fixedCapacity = static_cast<uint32_t>((available - 2) / b->fixedWidth);
  }
  return PwlTextBoxLayout(b);
}

// Stores a bound field's value in its browser variable.
void StoreVariable(PwlTextBox* b) {
  const BenFormFieldRecord* record = b->record;
  if (!(b->control.flags & PwlCtl::Bound) || !record || !record->variable) return;
  const char16_t* value = record->value ? record->value : record->newValue ? record->newValue : u"";
  if (BenBrowser* browser = BenGetBrowser()) BenSetVar(browser, record->variable, value);
}

Result Event(PwlTextBox* b, uintptr_t bits) {
  PwlControl* c = &b->control;
  if (!Enabled(c)) return kOk;
  if (bits & (PwlEvt::Select | PwlEvt::Pointer)) {
    c->flags |= PwlBoxFlag::Pressed;
  } else if (bits & PwlEvt::Leave) {
    if (c->flags & PwlBoxFlag::Pressed) {
      c->flags &= ~PwlBoxFlag::Pressed;
      StoreVariable(b);
    }
  } else if (bits & PwlClassEvt::Release) {
    c->flags &= ~PwlBoxFlag::Pressed;
  } else if (bits & PwlClassEvt::Clear) {
    FreeText(b);
    b->scroll = 0;
    PwlTextBoxFreeLines(b);
  } else if (bits & PwlClassEvt::LineDown) {
    if (b->viewer && (b->scrollState & PwlScrollState::Below) && PwlTextBoxStep(b, true))
      return PwlTextBoxDraw(b);
  } else if (bits & PwlClassEvt::LineUp) {
    if (b->viewer && (b->scrollState & PwlScrollState::Above) && PwlTextBoxStep(b, false))
      return PwlTextBoxDraw(b);
  } else {
    return PwlErr::NoOperation;
  }
  return kOk;
}

Result FocusIn(PwlTextBox* b, uint32_t flags) {
  PwlControl* c = &b->control;
  ShellStubKeyChar(static_cast<uint8_t>(b->modeLetter ? b->modeLetter : 'a'));
  if (!b->viewer) c->flags |= PwlCtl::Enabled;
  if (Focused(c)) return kOk;
  c->flags |= PwlCtl::Focused;
  Result r = flags & PwlMsgFlag::Redraw ? PwlTextBoxDraw(b) : kOk;
  if (!b->viewer) {
    PwlSetSlot(1, PwlEvt::Select, 0);
    PwlPostToOwner(c->window, PwlEvent::Label,
                   reinterpret_cast<uintptr_t>(PwlLabelText(kLabelEdit)), 0);
  } else if (!b->scrollState) {
    PwlPostToOwner(c->window, PwlEvent::Label, 0, 0);
  } else {
    PwlWindow* active = nullptr;
    PwlGetActiveWindow(&active);
    if (active && !active->focused) {
      PwlSetSlot(1, b->scrollState & PwlScrollState::Below ? PwlClassEvt::LineDown : 0, 0);
      PwlSetSlot(2, b->scrollState & PwlScrollState::Above ? PwlClassEvt::LineUp : 0, 0);
    }
    const bool below = b->scrollState & PwlScrollState::Below;
    const bool above = b->scrollState & PwlScrollState::Above;
    PwlPostToOwner(c->window, PwlEvent::Label,
                   below ? reinterpret_cast<uintptr_t>(PwlLabelText(kLabelDown)) : 0,
                   above ? reinterpret_cast<uintptr_t>(PwlLabelText(kLabelUp)) : 0);
  }
  if (PwlContext* context = PwlGetContext()) context->keyMark = 1;
  return r;
}

Result FocusOut(PwlTextBox* b, uint32_t flags) {
  PwlControl* c = &b->control;
  if (!b->viewer) c->flags &= ~PwlCtl::Enabled;
  if (!Focused(c)) return kOk;
  c->flags &= ~PwlCtl::Focused;
  Result r = flags & PwlMsgFlag::Redraw ? PwlTextBoxDraw(b) : kOk;
  PwlClearSlot(1);
  if (b->viewer) PwlClearSlot(2);
  PwlPostToOwner(c->window, PwlEvent::ClearLabels, 0, 0);
  return r;
}

// The delivered text is the control's from here on.
Result SetValue(PwlTextBox* b, char16_t* text) {
  PwlControl* c = &b->control;
  FreeText(b);
  if ((c->flags & PwlCtl::Bound) && b->record) {
    // What was typed wins over a value still waiting in the record.
    MemFree(&b->record->newValue);
    b->record->value = text;
    return Send(c, c, PwlMsgFlag::Reposition | PwlMsgFlag::Bound, PwlMsg::Bind);
  }
  // The old maximum length stays: a delivered text is no reason to lower it.
  PwlTextBoxData data{b->maxLength, text, b->title};
  const Result r = Send(c, &data, 0, PwlMsg::Bind);
  MemFree(&text);
  return r;
}

// Lets go of the session without touching it again: from here on it can
// reach neither this control nor its pointer.
void Forget(PwlTextBox* b) {
  if (InputSession* s = b->session) {
    InputSessionSetOwnerSlot(s, nullptr);
    s->ownerControl = nullptr;
  }
  b->session = nullptr;
}

Result OpenSession(PwlTextBox* b) {
  PwlControl* c = &b->control;
  if (b->session) return kOk;
  uint32_t mode = kModeArea, maxLength = 0;
  const char16_t* mask = nullptr;
  if (!PwlBoxIsArea(b)) {
    const bool password = c->flags & PwlBoxFlag::Password;
    mode = password ? kModePassword : kModeLine;
    maxLength = b->maxLength;
    if ((c->flags & PwlCtl::Bound) && b->record) {
      const uint32_t recordFlags = b->record->flags;
      if (recordFlags & BenInputFlag::AcceptEmpty) mode |= InputMode::AcceptEmpty;
      if (recordFlags & BenInputFlag::RefuseEmpty) mode += InputMode::RefuseEmpty;
      mask = b->record->mask;
    }
  }
  char16_t* title = nullptr;
  if (b->title) LngCharsetToWide(&title, b->title, kUtf8);
  InputSession* session = InputSessionOpen(c, title, b->text, mask, mode, maxLength);
  MemFree(&title);
  if (!session) return InputErr::CannotOpen;
  b->session = session;
  InputSessionSetOwnerSlot(session, &b->session);
  return kOk;
}

Result Destroy(PwlTextBox* b) {
  if (InputSession* s = b->session) {
    Forget(b);
    InputSessionClose(s);
  }
  if (!(b->control.flags & PwlCtl::Bound)) MemFree(&b->text);
  PwlTextBoxFreeLines(b);
  PwlReleaseFont(b->font);
  b->font = nullptr;
  return kOk;
}

int32_t WindowWidth(PwlControl* c, uint32_t* height) {
  PwlWindow* w = c ? c->window : nullptr;
  if (!w) PwlGetActiveWindow(&w);
  *height = w ? w->height : 0;
  return w ? static_cast<int32_t>(w->width) : 0;
}

}  // namespace

Result PwlTextBoxReset(PwlControl* c) {
  PwlTextBox* b = PwlBoxOf(c);
  b->text = nullptr;
  b->scroll = b->maxLength = b->length = b->capacity = b->visible = 0;
  b->fixedWidth = 0;
  b->style = 0;
  b->font = nullptr;
  b->viewer = 0;
  b->rows = 1;
  b->shown = 1;
  return kOk;
}

Result PwlTextBoxInit(PwlControl* c) {
  PwlTextBoxReset(c);
  PwlTextBox* b = PwlBoxOf(c);
  c->flags |= PwlBoxFlag::TextArea;
  b->rows = 2;
  b->scrollState = 0;
  b->moreLines = 0;
  return kOk;
}

Result PwlTextBoxProc(PwlControl* c, PwlControl*, void* data, uint32_t flags, uint32_t message,
                      uintptr_t argument) {
  if (!c) return PwlErr::NullControl;
  PwlTextBox* b = PwlBoxOf(c);
  if (Result common; PwlCommonMessage(c, data, message, &common)) return common;
  switch (message) {
    case PwlMsg::Event:
      return Event(b, argument);
    case PwlMsg::Redraw:
      return PwlTextBoxDraw(b);
    case PwlClassMsg::TextRect: {
      if (!data) return PwlErr::NullRect;
      const PglSurface* icon = PwlImageOf(PwlImage::EditBox);
      const int32_t w = icon ? static_cast<int32_t>(icon->width) : 0;
      const PglRect r = PwlFrameRectOf(c);
      *static_cast<PglRect*>(data) = {r.left + 1, r.top + 1, r.right - (w + 3), r.bottom - 1};
      return kOk;
    }
    case PwlMsg::SetRect:
      if (!data) return PwlErr::NullRect;
      c->rect = *static_cast<const PglRect*>(data);
      b->innerWidth = c->rect.right - c->rect.left - 9;
      c->flags |= PwlBoxFlag::RectSet;
      return PwlTextBoxLayout(b);
    case PwlMsg::GetValue:
      if (!data) return PwlClassErr::NoImage;
      *static_cast<uintptr_t*>(data) = c->flags & PwlCtl::Bound
                                           ? reinterpret_cast<uintptr_t>(b->record)
                                           : reinterpret_cast<uintptr_t>(b->text);
      return kOk;
    case PwlMsg::Bind:
      return Bind(b, data, flags);
    case PwlMsg::FocusIn:
      return FocusIn(b, flags);
    case PwlMsg::FocusOut:
      return FocusOut(b, flags);
    case PwlClassMsg::SetFont:
      return SetFont(b, static_cast<const PwlFontSpec*>(data));
    case PwlMsg::ValueDelivered:
      if (!data) return PwlClassErr::NoImage;
      return SetValue(b, static_cast<char16_t*>(data));
    case PwlClassMsg::Viewer:
      b->viewer = 1;
      return PwlTextBoxLayout(b);
    case PwlClassMsg::NoFrame:
      c->flags |= PwlBoxFlag::NoFrame;
      return kOk;
    case PwlClassMsg::Hide:
      b->shown = 0;
      return kOk;
    case PwlClassMsg::Show:
      if (b->shown) return kOk;
      b->shown = 1;
      PwlTextBoxLayout(b);
      return PwlTextBoxDraw(b);
    case PwlMsg::CloseInput: {
      InputSession* s = b->session;
      b->session = nullptr;
      return s ? InputSessionClose(s) : kOk;
    }
    case PwlMsg::Destroy:
      return Destroy(b);
    default:
      return PwlErr::NoOperation;
  }
}

Result PwlTextBoxClassProc(PwlControl* c, PwlControl* source, void* data, uint32_t flags,
                           uint32_t message, uintptr_t argument) {
  if (!c) return PwlClassErr::BoxNullControl;
  if (message != PwlMsg::Event) return PwlTextBoxProc(c, source, data, flags, message, argument);
  PwlTextBox* b = PwlBoxOf(c);
  if (argument & 0x4) return PwlTextBoxProc(c, source, data, flags, message, argument);
  if ((argument & (PwlEvt::Select | PwlEvt::Pointer)) && !b->viewer) {
    // A disabled box opens nothing.
    if (!Enabled(c)) return kOk;
    PwlTextBoxProc(c, source, data, flags, message, argument);
    if (OpenSession(b) == kOk) return kOk;
    PwlTextBoxProc(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Leave);
    return InputErr::CannotOpen;
  }
  if (argument & PwlEvt::Deselect) {
    Forget(b);
    return PwlTextBoxProc(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Leave);
  }
  if ((argument & (PwlEvt::Leave | PwlClassEvt::Clear)) && !b->viewer)
    return PwlTextBoxProc(c, source, data, flags, message, argument);
  if (argument & (PwlClassEvt::LineUp | PwlClassEvt::LineDown))
    return PwlTextBoxProc(c, source, data, flags, message, argument);
  if (argument & PwlClassEvt::Release) {
    const Result r = PwlTextBoxProc(c, source, data, flags, message, argument);
    Forget(b);
    return r;
  }
  return PwlClassErr::BoxBadEvent;
}

Result PwlTextBoxMeasure(PwlControl* c, const void* classData, uint32_t, PwlSize* out) {
  if (!out) return PwlErr::NullData;
  const auto* record = static_cast<const BenFormFieldRecord*>(classData);
  if (!record) return PwlClassErr::NoImage;
  FontInstance* font = nullptr;
  if (Result r = PwlOpenBodyFont(&font); r != kOk) return r;
  int32_t ch = 0, h = 0;
  PwlMaxCharWidth(font, 0, &ch);
  PwlLineHeight(font, 0, &h);
  PwlReleaseFont(font);
  const PglSurface* icon = PwlImageOf(PwlImage::EditBox);
  const int32_t w = icon ? static_cast<int32_t>(icon->width) : 0;
  const int32_t iconHeight = icon ? static_cast<int32_t>(icon->height) : 0;
  const bool line = record->kind == BenFieldKind::Input;
  int32_t width = 0;
  if (line && (record->flags & BenInputFlag::PixelWidth)) {
    const auto p = static_cast<int32_t>(record->size);
    width = p > w + 12 ? p : w + 12;
  } else if (record->size) {
    width = static_cast<int32_t>(record->size) * ch + (icon ? w + 4 : 0) + 10;
  } else {
    width = 25 * ch + w + 12;
  }
  const uint32_t rows = line ? 1 : record->rows;
  int32_t height = rows > 1 ? h * static_cast<int32_t>(rows) + 4 : h + 4;
  if (height < iconHeight + 5) height = iconHeight + 5;
  uint32_t windowHeight = 0;
  const int32_t windowWidth = WindowWidth(c, &windowHeight);
  if (width > windowWidth - 3) width = windowWidth - 3;
  if (height > static_cast<int32_t>(windowHeight)) height = static_cast<int32_t>(windowHeight) - 1;
  *out = {static_cast<uint32_t>(width < 0 ? 0 : width),
          static_cast<uint32_t>(height < 0 ? 0 : height)};
  return kOk;
}

const PwlControlClass kPwlEditBoxClass{PwlTextBoxReset, PwlTextBoxClassProc, PwlTextBoxMeasure,
                                       sizeof(PwlTextBox)};
const PwlControlClass kPwlTextAreaClass{PwlTextBoxInit, PwlTextBoxClassProc, PwlTextBoxMeasure,
                                        sizeof(PwlTextBox)};
