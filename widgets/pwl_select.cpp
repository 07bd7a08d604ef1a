// The select list's class: binding, layout, the closed box, events, focus
// and storing the chosen values. The open list is in pwl_select_list.cpp.
#include "widgets/pwl_select.h"

#include "widgets/pwl_classes.h"
#include "browser/benform_select.h"
#include "browser/benshow.h"
#include "browser/benvar.h"
#include "browser/uiwindow.h"
#include "host/platform/shell.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "widgets/pwl_internal.h"
#include "widgets/pwl_text.h"

using namespace pwlsel;

namespace {

bool Bound(const PwlSelect* s) { return s->head.flags & PwlCtl::Bound; }
const BenFormSelectRecord* Record(const PwlSelect* s) {
  return static_cast<const BenFormSelectRecord*>(s->options);
}
const PwlSelectList* List(const PwlSelect* s) {
  return static_cast<const PwlSelectList*>(s->options);
}

uintptr_t Text(uint32_t entry) { return reinterpret_cast<uintptr_t>(PwlLabelText(entry)); }

int32_t Width(const FontInstance* font, const char16_t* text, uint32_t n) {
  int32_t w = 0;
  if (font && n) PwlTextWidth(font, 0, n, text, &w);
  return w;
}

int32_t PlusWidth(const FontInstance* font) {
  int32_t w = 0;
  if (font) PwlCharWidth(font, 0, u'+', &w);
  return w;
}

int32_t LineHeight(const FontInstance* font) {
  int32_t h = 0;
  if (font) PwlLineHeight(font, 0, &h);
  return h;
}

int32_t IconHeight() {
  PwlContext* context = PwlGetContext();
  return context ? static_cast<int32_t>(context->images[PwlImage::Menu].image.height) : 0;
}

bool IsBlank(char16_t c) { return c == u' ' || (c >= 9 && c <= 13); }

// The marker characters of a bound label: the last is the selection marker,
// the one before it the initial one.
uint32_t LabelLength(const char16_t* label) { return label ? LibcWStrLen(label) : 0; }

bool Initial(const PwlSelect* s, uint32_t i) {
  if (!Bound(s)) return List(s)->items[i].flags & 1;
  const char16_t* label = Label(s, i);
  const uint32_t n = LabelLength(label);
  return n >= 2 && label[n - 2] == u'+';
}

void SetMarker(PwlSelect* s, uint32_t i, char16_t marker) {
  if (!Bound(s)) {
    PwlSelectItem& item = List(s)->items[i];
    item.flags = static_cast<uint16_t>(marker == u'+' ? item.flags | 1 : item.flags & ~1u);
    return;
  }
  auto* label = const_cast<char16_t*>(Label(s, i));
  const uint32_t n = LabelLength(label);
  if (n >= 1) label[n - 1] = marker;
}

void UpdateDisplay(PwlSelect* s) {
  s->displayStart = s->displayLength = s->markerIndex = 0;
  if (s->current >= s->count) return;
  const char16_t* label = Label(s, s->current);
  if (!label) return;
  uint32_t n = 0;
  const char16_t* text = DisplayText(s, s->current, &n);
  s->displayStart = static_cast<uint32_t>(text - label);
  s->displayLength = n;
  const uint32_t length = LabelLength(label);
  s->markerIndex = Bound(s) && length >= 2 ? length - 2 : 0;
}

void ChooseCurrent(PwlSelect* s) {
  s->current = 0;
  for (uint32_t i = 0; i < s->count; ++i)
    if (Initial(s, i)) {
      s->current = i;
      break;
    }
  UpdateDisplay(s);
}

uint32_t Digits(uint32_t v) {
  uint32_t n = 1;
  while (v >= 10) v /= 10, ++n;
  return n;
}

// The chosen options' 1-based indices and values, each list separated by
// ";", into the record's two variables.
Result StoreValue(PwlSelect* s) {
  if (!Bound(s)) return kOk;
  const BenFormSelectRecord* record = Record(s);
  uint32_t indexUnits = 1, valueUnits = 1;
  for (uint32_t i = 0; i < s->count; ++i) {
    if (!Chosen(s, i)) continue;
    const char16_t* label = Label(s, i);
    const char16_t* feed = label ? LibcWStrChr(label, u'\n') : nullptr;
    if (!feed) return PwlErr::BadArg;
    indexUnits += Digits(i + 1) + 1;
    valueUnits += static_cast<uint32_t>(feed - label) + 1;
  }
  auto* indices = static_cast<char16_t*>(MemAlloc(indexUnits * 2, Use::String, Mod::Pwl));
  auto* values = static_cast<char16_t*>(MemAlloc(valueUnits * 2, Use::String, Mod::Pwl));
  if (!indices || !values) {
    MemFree(&indices);
    MemFree(&values);
    return PwlErr::NoMemory;
  }
  uint32_t ni = 0, nv = 0;
  for (uint32_t i = 0; i < s->count; ++i) {
    if (!Chosen(s, i)) continue;
    if (ni) indices[ni++] = u';', values[nv++] = u';';
    LibcIntToWStr(static_cast<int32_t>(i + 1), indices + ni, 10);
    ni += Digits(i + 1);
    const char16_t* label = Label(s, i);
    for (const char16_t* p = label; *p != u'\n'; ++p) values[nv++] = *p;
  }
  indices[ni] = values[nv] = 0;
  BenBrowser* browser = BenGetBrowser();
  if (browser && record->indexName) BenSetVar(browser, record->indexName, indices);
  if (browser && record->name) BenSetVar(browser, record->name, values);
  MemFree(&indices);
  MemFree(&values);
  return kOk;
}

void SelectOption(PwlSelect* s, uint32_t i) {
  if (i >= s->count) return;
  if (s->current < s->count) SetMarker(s, s->current, u'-');
  s->current = i;
  SetMarker(s, i, u'+');
  UpdateDisplay(s);
  StoreValue(s);
}

void ToggleOption(PwlSelect* s, uint32_t i) {
  if (i >= s->count) return;
  if (Chosen(s, i)) {
    SetMarker(s, i, u' ');
  } else {
    SetMarker(s, i, u'+');
    s->current = i;
  }
  UpdateDisplay(s);
  StoreValue(s);
}

void ReportAction(PwlSelect* s, uint32_t i) {
  if (!(s->head.flags & PwlSelFlag::Actions) || !Bound(s) || i >= s->count) return;
  const char16_t* label = Label(s, i);
  const uint32_t n = LabelLength(label);
  if (label && label[n + 1]) {
    PwlPostToOwner(s->head.window, PwlEvent::SelectAction,
                   reinterpret_cast<uintptr_t>(label + n + 1), 1);
    return;
  }
  const BenFormSelectRecord* record = Record(s);
  if (record->actions && record->actions[i])
    PwlPostToOwner(s->head.window, PwlEvent::SelectAction,
                   reinterpret_cast<uintptr_t>(record->actions[i]), 2);
}

bool AnyAction(const PwlSelect* s) {
  const BenFormSelectRecord* record = Record(s);
  for (uint32_t i = 0; i < s->count; ++i) {
    const char16_t* label = Label(s, i);
    if (label && label[LabelLength(label) + 1]) return true;
    if (record->actions && record->actions[i]) return true;
  }
  return false;
}

void Layout(PwlSelect* s) {
  PwlControl* c = &s->head;
  const int32_t w = IconWidth();
  const int32_t windowWidth = c->window ? static_cast<int32_t>(c->window->width) : 0;
  const int32_t room =
      (c->rect.right > c->rect.left ? c->rect.right - c->rect.left : windowWidth - 2) - (w + 12);
  int32_t widest = 0;
  s->current = 0;
  for (uint32_t i = 0; i < s->count; ++i) {
    uint32_t n = 0;
    const char16_t* text = DisplayText(s, i, &n);
    const int32_t tw = Width(s->font, text, n);
    if (tw > widest) widest = tw;
    if (Chosen(s, i)) s->current = i;
  }
  UpdateDisplay(s);
  s->firstShown = static_cast<uint16_t>(s->current >= 4 ? s->current - 3 : 0);
  if (c->flags & PwlSelFlag::Multiple) widest += PlusWidth(s->font);
  c->rect.right = c->rect.left + (widest < room ? widest : room) + 5 + (w ? w + 4 : 0) + 2;
  const int32_t lh = LineHeight(s->font), ih = IconHeight();
  c->rect.bottom = lh + 3 < ih + 4 ? c->rect.top + ih + 7 : c->rect.top + lh + 5;
  c->flags &= ~PwlSelFlag::LayoutPending;
}

bool Ready(const PwlSelect* s) {
  if (!s->options) return false;
  return Bound(s) ? Record(s)->plainLabels != nullptr : true;
}

Result DrawBox(PwlSelect* s) {
  PwlControl* c = &s->head;
  if (c->flags & PwlSelFlag::LayoutPending) return PwlErr::DoesNotFit;
  PwlWindow* window = c->window;
  if (!window) return PwlErr::NullWindow;
  PglDrawArgs r{};
  PwlGetRelativeRect(c, &r);
  const int32_t w = IconWidth();
  const bool focused = c->flags & PwlCtl::Focused;
  const bool multiple = c->flags & PwlSelFlag::Multiple;
  int32_t textRight = r.right - 1;
  const int32_t limit = static_cast<int32_t>(window->width) - 1 - 2;
  if (textRight > limit) textRight = limit;
  const PglRect area{r.left + 1, r.top + 3, textRight, r.top + 17};
  PwlFillRect2(window, &area, focused && !s->open ? kFocusFill : 0xFFFF);

  int32_t room = r.right - r.left - 6 - (w + 4) + 1;
  if (multiple) room -= PlusWidth(s->font);
  if (s->current < s->count) {
    uint32_t n = 0;
    const char16_t* text = DisplayText(s, s->current, &n);
    DrawCut(s, text, n, room, r.left + 3, r.top + 3, 0, 0x0000, 0xFFFF, false, 0);
    if (multiple && !(c->flags & PwlSelFlag::Dropdown) && Chosen(s, s->current))
      PwlDrawText(s->font, 0, 1, u"+", window, r.right - PlusWidth(s->font) - (w + 7) + 1,
                  r.top + 2, nullptr, 0x0000, 0xFFFF);
  }
  if (w) {
    PwlContext* context = PwlGetContext();
    const bool dropdown = c->flags & PwlSelFlag::Dropdown;
    const uint32_t index = dropdown ? (focused ? PwlImage::MenuFocus : PwlImage::Menu)
                                    : (focused ? PwlImage::MenuWideFocus : PwlImage::MenuWide);
    PglSurface* icon = &context->images[index].image;
    const PglRect separator{textRight - w + 1, area.top, textRight - w + 1, area.bottom};
    PwlDrawLine(window, &separator, 1, kFrame);
    const PglDrawArgs args{icon, 0, 0, static_cast<int32_t>(icon->width) - 1,
                           static_cast<int32_t>(icon->height) - 1, textRight - w + 2,
                           area.top - 1, 0, 0, 0};
    PwlDrawImage(window, &args);
  }
  const PglRect inner{area.left - 1, area.top - 1, area.right + 1, area.bottom + 1};
  PwlFrameRect(window, &inner, kFrame);
  const PglRect outer{area.left - 2, area.top - 2, area.right + 2, area.bottom + 2};
  PwlFrameRect(window, &outer, focused ? kChosen : 0xFFFF);
  return kOk;
}

void SpinnerLabels(PwlSelect* s) {
  PwlSetSlot(1, PwlSelEvt::Commit, 0);
  PwlSetSlot(2, PwlEvt::Forward, 0);
  PwlPostToOwner(s->head.window, PwlEvent::Label, Text(Chosen(s, s->current) ? 9 : 8), Text(11));
}

Result CloseEvent(PwlSelect* s) {
  if (!s->open) return kOk;
  CloseList(s);
  PwlClearSlot(2);
  PwlPostToOwner(s->head.window, PwlEvent::ClearLabels, 0, 0);
  PwlSetSlot(1, PwlSelEvt::Open, 0);
  PwlSetSlot(2, PwlEvt::Select, 2);
  PwlPostToOwner(s->head.window, PwlEvent::Label, Text(19), 0);
  return DrawBox(s);
}

void Navigate() {
  UiWindow* ui = UiGetWindow();
  if (!ui || !ui->currentString || ui->loading[0]) return;
  ui->loading[0] = ui->loading[1] = 1;
  ShellNotifyBusy(1);
  BenShowPage(ui, ui->currentString, 0);
}

void Step(PwlSelect* s, bool forward) {
  if (!s->count) return;
  const uint32_t next = forward ? (s->current + 1) % s->count
                                : (s->current + s->count - 1) % s->count;
  if (s->head.flags & PwlSelFlag::Multiple) {
    s->current = next;
    UpdateDisplay(s);
    SpinnerLabels(s);
  } else {
    SelectOption(s, next);
  }
  DrawBox(s);
}

Result Event(PwlSelect* s, uint32_t bits, void* data) {
  PwlControl* c = &s->head;
  if (!(c->flags & PwlCtl::Enabled)) return kOk;
  const bool dropdown = c->flags & PwlSelFlag::Dropdown;
  const bool multiple = c->flags & PwlSelFlag::Multiple;
  if (bits & (PwlEvt::Select | PwlEvt::Pointer)) {
    c->flags |= PwlSelFlag::Pressed;
    if ((bits & PwlEvt::Pointer) && dropdown && data) {
      const auto* p = static_cast<const PglPoint*>(data);
      if (p->x >= c->rect.right - c->rect.left + 1 - 14)
        return Event(s, s->open ? PwlSelEvt::Close : PwlSelEvt::Open, nullptr);
    }
    if ((bits & PwlEvt::Select) && reinterpret_cast<uintptr_t>(data) == 2) Navigate();
    return kOk;
  }
  switch (bits) {
    case PwlEvt::Leave:
      c->flags &= ~PwlSelFlag::Pressed;
      return kOk;
    case PwlEvt::Forward:
    case PwlEvt::Backward:
      if (!dropdown) {
        Step(s, bits == PwlEvt::Forward);
      } else if (s->open) {
        MoveHighlight(s, bits == PwlEvt::Forward);
        DrawList(s);
      }
      return kOk;
    case PwlSelEvt::Commit: {
      if (!dropdown && !multiple) return kOk;
      const uint32_t i = dropdown && s->open ? s->highlightOption : s->current;
      if (multiple)
        ToggleOption(s, i);
      else
        SelectOption(s, i);
      if (s->open) {
        DrawList(s);
        if (!multiple) CloseEvent(s);
      } else {
        if (multiple && !dropdown) SpinnerLabels(s);
        DrawBox(s);
      }
      if (c->flags & PwlSelFlag::Actions) {
        DrawBox(s);
        ReportAction(s, s->current);
      }
      return kOk;
    }
    case PwlSelEvt::Open: {
      // An empty list has no rows to show.
      if (s->open || !s->count) return kOk;
      if (Result r = OpenList(s); r != kOk) return r;
      PwlSetSlot(1, PwlSelEvt::Close, 0);
      PwlSetSlot(2, PwlSelEvt::Commit, 0);
      PwlPostToOwner(c->window, PwlEvent::Label, Text(20), Text(7));
      return kOk;
    }
    case PwlSelEvt::Close:
      return CloseEvent(s);
    default:
      return PwlSelErr::BadEvent;
  }
}

void FocusIn(PwlSelect* s, uint32_t flags) {
  PwlControl* c = &s->head;
  if (c->flags & PwlCtl::Focused) return;
  c->flags |= PwlCtl::Focused;
  if (flags & PwlMsgFlag::Redraw) DrawBox(s);
  const bool actions = c->flags & PwlSelFlag::Actions;
  if (c->flags & PwlSelFlag::Dropdown) {
    PwlSetSlot(1, PwlSelEvt::Open, 0);
    PwlSetSlot(2, PwlEvt::Select, 2);
    if (actions) {
      PwlSetSlot(1, PwlSelEvt::Commit, 0);
      PwlPostToOwner(c->window, PwlEvent::Label, Text(15), Text(11));
    } else {
      PwlPostToOwner(c->window, PwlEvent::Label, Text(19), 0);
    }
  } else if (c->flags & PwlSelFlag::Multiple) {
    SpinnerLabels(s);
  } else {
    PwlSetSlot(2, PwlEvt::Forward, 0);
    PwlSetSlot(1, actions ? PwlSelEvt::Commit : PwlEvt::Backward, 0);
    PwlPostToOwner(c->window, PwlEvent::Label, Text(actions ? 15 : 10), Text(11));
  }
  if (PwlContext* context = PwlGetContext()) context->keyMark = 1;
}

void FocusOut(PwlSelect* s, uint32_t flags) {
  PwlControl* c = &s->head;
  if (!(c->flags & PwlCtl::Focused)) return;
  c->flags &= ~PwlCtl::Focused;
  // A list left open without the focus could no longer be worked.
  CloseList(s);
  if (flags & PwlMsgFlag::Redraw) DrawBox(s);
  PwlClearSlot(1);
  PwlClearSlot(2);
  PwlPostToOwner(c->window, PwlEvent::ClearLabels, 0, 0);
}

Result Bind(PwlSelect* s, void* data, uint32_t flags) {
  PwlControl* c = &s->head;
  if (!data) return PwlSelErr::NullOptions;
  if (flags & PwlMsgFlag::Reposition) {
    if (s->options) ChooseCurrent(s);
    return kOk;
  }
  c->flags &= ~(PwlSelFlag::Multiple | PwlSelFlag::Dropdown | PwlSelFlag::Actions);
  s->options = data;
  uint32_t style = 0;
  if (flags & PwlMsgFlag::Bound) {
    c->flags |= PwlCtl::Bound;
    const auto* record = static_cast<const BenFormSelectRecord*>(data);
    style = record->flags;
    s->plainLabels = record->plainLabels;
    s->displayLabels = record->displayLabels;
    s->count = record->plainLabels ? record->count : 0;
  } else {
    c->flags &= ~PwlCtl::Bound;
    const auto* list = static_cast<const PwlSelectList*>(data);
    style = list->flags;
    s->plainLabels = s->displayLabels = nullptr;
    s->count = list->items ? list->count : 0;
  }
  if (style & BenSelectFlag::Multiple) c->flags |= PwlSelFlag::Multiple;
  if (style & BenSelectFlag::Dropdown) c->flags |= PwlSelFlag::Dropdown;
  if (Bound(s) && s->plainLabels && AnyAction(s)) c->flags |= PwlSelFlag::Actions;
  ChooseCurrent(s);
  if (!Bound(s) && !(c->flags & PwlSelFlag::Multiple) && s->count) SetMarker(s, s->current, u'+');
  return kOk;
}

Result ListResult(PwlSelect* s, const uint32_t* chosen, uint32_t n) {
  if (!chosen) n = 0;
  auto picked = [&](uint32_t i) {
    for (uint32_t k = 0; k < n; ++k)
      if (chosen[k] == i) return true;
    return false;
  };
  if (s->head.flags & PwlSelFlag::Multiple) {
    bool reported = false;
    for (uint32_t i = 0; i < s->count; ++i) {
      const bool now = picked(i), was = Chosen(s, i);
      if (now == was) continue;
      SetMarker(s, i, now ? u'+' : u'-');
      if (!reported) ReportAction(s, i), reported = true;
    }
    s->current = n && chosen[0] < s->count ? chosen[0] : 0;
  } else if (n && chosen[0] < s->count) {
    SelectOption(s, chosen[0]);
    ReportAction(s, chosen[0]);
  } else {
    SelectOption(s, 0);
  }
  StoreValue(s);
  UpdateDisplay(s);
  return DrawBox(s);
}

Result Init(PwlControl* c) {
  PwlSelect* s = Of(c);
  PwlOpenBodyFont(&s->font);
  return kOk;
}

Result Proc(PwlControl* c, PwlControl*, void* data, uint32_t flags, uint32_t message,
            uintptr_t argument) {
  if (!c) return PwlErr::NullControl;
  PwlSelect* s = Of(c);
  if (Result common; PwlCommonMessage(c, data, message, &common)) return common;
  switch (message) {
    case PwlMsg::Event:
      return Event(s, static_cast<uint32_t>(argument), data);
    case PwlMsg::Redraw:
      return DrawBox(s);
    case PwlSelMsg::TextRect: {
      if (!data) return PwlErr::NullRect;
      PglDrawArgs r{};
      PwlGetRelativeRect(c, &r);
      *static_cast<PglRect*>(data) = {r.left + 1, r.top + 1, r.right - (IconWidth() + 6),
                                      r.bottom - 1};
      return kOk;
    }
    case PwlMsg::SetRect: {
      if (!data) return PwlErr::NullRect;
      const auto* words = static_cast<const int32_t*>(data);
      c->rect.left = c->rect.right = words[0];
      c->rect.top = c->rect.bottom = words[1];
      if (!(flags & 0x10)) c->rect.right = words[2];
      if (Ready(s))
        Layout(s);
      else
        c->flags |= PwlSelFlag::LayoutPending;
      return kOk;
    }
    case PwlMsg::GetValue:
      if (!data) return PwlSelErr::NullOptions;
      *static_cast<void**>(data) = s->options;
      return kOk;
    case PwlMsg::Bind:
      return Bind(s, data, flags);
    case PwlMsg::FocusIn:
      FocusIn(s, flags);
      return kOk;
    case PwlMsg::FocusOut:
      FocusOut(s, flags);
      return kOk;
    case PwlMsg::ValueDelivered:
      return ListResult(s, static_cast<const uint32_t*>(data), static_cast<uint32_t>(argument));
    case PwlSelMsg::Pick: {
      if (!data) return PwlSelErr::NullOptions;
      const uint32_t i = *static_cast<const uint32_t*>(data);
      if (i >= s->count) return PwlErr::BadArg;
      if (c->flags & PwlSelFlag::Multiple)
        ToggleOption(s, i);
      else
        SelectOption(s, i);
      DrawBox(s);
      ReportAction(s, i);
      return kOk;
    }
    case PwlSelMsg::WidthLimit: {
      if (c->flags & PwlSelFlag::LayoutPending) return PwlErr::NullRect;
      if (!data) return PwlErr::NullRect;
      const int32_t limit = *static_cast<const int32_t*>(data);
      if (c->rect.right - c->rect.left > limit) c->rect.right = c->rect.left + limit;
      return kOk;
    }
    case PwlMsg::Destroy:
      CloseList(s);
      PwlReleaseFont(s->font);
      s->font = nullptr;
      return kOk;
    default:
      return PwlErr::NoOperation;
  }
}

const PwlControlClass kSelectClass{Init, Proc, PwlSelectMeasure, sizeof(PwlSelect)};

bool HookOpen(const PwlControl* c) { return reinterpret_cast<const PwlSelect*>(c)->open != 0; }
void HookClose(PwlControl* c) { CloseEvent(Of(c)); }

}  // namespace

namespace pwlsel {

const char16_t* Label(const PwlSelect* s, uint32_t i) {
  if (i >= s->count || !s->options) return nullptr;
  if (!Bound(s)) return List(s)->items[i].text;
  if (s->displayLabels && s->displayLabels[i]) return s->displayLabels[i];
  return s->plainLabels ? s->plainLabels[i] : nullptr;
}

const char16_t* DisplayText(const PwlSelect* s, uint32_t i, uint32_t* length) {
  *length = 0;
  const char16_t* label = Label(s, i);
  if (!label) return u"";
  uint32_t end = LabelLength(label);
  uint32_t start = 0;
  if (Bound(s)) {
    end = end >= 2 ? end - 2 : 0;
    for (uint32_t k = 0; k < end; ++k)
      if (label[k] == u'\n') start = k + 1;
  }
  while (end > start && IsBlank(label[end - 1])) --end;
  *length = end - start;
  return label + start;
}

bool Chosen(const PwlSelect* s, uint32_t i) {
  if (i >= s->count) return false;
  if (!Bound(s)) return List(s)->items[i].flags & 1;
  const char16_t* label = Label(s, i);
  const uint32_t n = LabelLength(label);
  return n >= 1 && label[n - 1] == u'+';
}

int32_t IconWidth() {
  PwlContext* context = PwlGetContext();
  return context ? static_cast<int32_t>(context->images[PwlImage::Menu].image.width) : 0;
}

int32_t DrawCut(PwlSelect* s, const char16_t* text, uint32_t n, int32_t room, int32_t x,
                int32_t y, uint32_t style, uint16_t fg, uint16_t bg, bool fillBack,
                int32_t rowTop) {
  PwlWindow* window = s->head.window;
  const FontInstance* font = s->font;
  if (!font || !window) return 0;
  int32_t width = 0;
  PwlTextWidth(font, style, n, text, &width);
  bool cut = false;
  int32_t ellipsis = 0;
  if (width > room) {
    cut = true;
    PwlCharWidth(font, style, u'\u2026', &ellipsis);
    while (n > 0) {
      --n;
      PwlTextWidth(font, style, n, text, &width);
      if (width + ellipsis <= room) break;
    }
    width += ellipsis;
  }
  if (fillBack && width > 0) {
    const PglRect back{x - 2, rowTop, x + width - 1, rowTop + kRowHeight - 1};
    PwlFillRect2(window, &back, bg);
  }
  PwlDrawText(font, style, n, text, window, x, y, nullptr, fg, bg);
  if (cut) {
    int32_t drawn = 0;
    PwlTextWidth(font, style, n, text, &drawn);
    PwlDrawText(font, style, 1, u"\u2026", window, x + drawn, y, nullptr, fg, bg);
  }
  return width;
}

}  // namespace pwlsel

Result PwlSelectMeasure(PwlControl* control, const void* options, uint32_t flags, PwlSize* out) {
  if (!options) return PwlSelErr::NullOptions;
  if (!out) return PwlErr::NullData;
  PwlWindow* window = control ? control->window : nullptr;
  if (!window) PwlGetRootWindow(&window);
  if (!window) return PwlErr::NullWindow;
  // A scratch control reads the labels the way the class does.
  PwlSelect probe{};
  probe.head.window = window;
  probe.options = const_cast<void*>(options);
  uint32_t style = 0;
  if (flags & PwlMsgFlag::Bound) {
    probe.head.flags = PwlCtl::Bound;
    const auto* record = static_cast<const BenFormSelectRecord*>(options);
    probe.plainLabels = record->plainLabels;
    probe.displayLabels = record->displayLabels;
    probe.count = record->plainLabels ? record->count : 0;
    style = record->flags;
  } else {
    const auto* list = static_cast<const PwlSelectList*>(options);
    probe.count = list->items ? list->count : 0;
    style = list->flags;
  }
  FontInstance* font = nullptr;
  PwlOpenBodyFont(&font);
  int32_t widest = 0;
  Result r = kOk;
  for (uint32_t i = 0; i < probe.count; ++i) {
    if (!Label(&probe, i)) {
      r = PwlErr::BadArg;
      break;
    }
    uint32_t n = 0;
    const char16_t* text = DisplayText(&probe, i, &n);
    const int32_t tw = Width(font, text, n);
    if (tw > widest) widest = tw;
  }
  if (style & BenSelectFlag::Multiple) widest += PlusWidth(font);
  const int32_t w = IconWidth();
  const int32_t cap = static_cast<int32_t>(window->width) - 2 - (w + 10);
  if (widest > cap) widest = cap;
  if (widest < 0) widest = 0;
  int32_t height = LineHeight(font) + 6;
  if (height < IconHeight() + 5) height = IconHeight() + 5;
  PwlReleaseFont(font);
  if (r != kOk) return r;
  out->width = static_cast<uint32_t>(widest + 6 + (w ? w + 4 : 0) + 2);
  out->height = static_cast<uint32_t>(height);
  return kOk;
}

void PwlInstallSelectClass() {
  PwlSetControlClass(PwlType::Select, &kSelectClass);
  PwlClassHooks hooks = PwlHooks();
  hooks.selectOpen = HookOpen;
  hooks.selectClose = HookClose;
  hooks.selectPointer = ListPointer;
  PwlSetClassHooks(&hooks);
}
