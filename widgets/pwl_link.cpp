// Text links and image links (types 2 and 3): a link broken over several
// lines is one control per line with the same anchor, so a run gains and
// loses the focus as one and offers its label once.
#include <cstddef>

#include "browser/benanchor.h"
#include "browser/uiwindow.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "layout/animeng.h"
#include "layout/ddriver.h"
#include "layout/render_ui.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_classes.h"
#include "widgets/pwl_marquee.h"
#include "widgets/pwl_text.h"

namespace {

constexpr uint32_t kLabelOk = 2;

static_assert(offsetof(PwlTextLink, anchor) == offsetof(PwlImageLink, anchor) &&
              offsetof(PwlTextLink, item) == offsetof(PwlImageLink, item));

// The fields both link classes share.
PwlImageLink* Link(PwlControl* c) { return reinterpret_cast<PwlImageLink*>(c); }
PwlTextLink* TextLink(PwlControl* c) { return reinterpret_cast<PwlTextLink*>(c); }

bool Focused(const PwlControl* c) { return (c->flags & PwlCtl::Focused) != 0; }

char16_t* DupText(const char16_t* text) {
  auto* copy =
      static_cast<char16_t*>(MemAlloc((LibcWStrLen(text) + 1) * 2, Use::String, Mod::Pwl));
  if (copy) LibcWStrCopy(copy, text);
  return copy;
}

}  // namespace

// --- Events ------------------------------------------------------------------

// Links and link marquees answer select and pointer events alike.
Result PwlLinkEvent(PwlControl* c, BenAnchorRecord* anchor, void* data, uintptr_t bits) {
  constexpr uint32_t kReady = PwlCtl::Enabled | PwlCtl::Active;
  if ((c->flags & kReady) != kReady) return kOk;
  if (PwlForwardOwnerDrawn(c, data)) return kOk;
  if (!(bits & PwlClassEvt::Either)) return PwlClassErr::BadEvent;
  if (bits & PwlEvt::Select) {
    if (anchor) {
      const void* target = anchor->address ? static_cast<const void*>(anchor->address)
                                           : static_cast<const void*>(anchor->alternate);
      anchor->useWindowString = 0;
      if (reinterpret_cast<uintptr_t>(data) == PwlClassEvt::WindowString) {
        const char16_t* current = RenderGetWindowString();
        if (!anchor->windowString && current) anchor->windowString = DupText(current);
        target = anchor->windowString;
        anchor->useWindowString = 1;
      }
      if (target || anchor->action)
        PwlPostOnce(c->window, PwlEvent::Activated, reinterpret_cast<uintptr_t>(c), c->group);
    }
  }
  if (bits & PwlEvt::Pointer) {
    const auto* point = static_cast<const int32_t*>(data);
    const uint32_t x = point ? static_cast<uint32_t>(point[0]) & 0xFFFF : 0;
    const uint32_t y = point ? static_cast<uint32_t>(point[1]) & 0xFFFF : 0;
    PwlPostOnce(c->window, PwlEvent::Point, reinterpret_cast<uintptr_t>(c), x | y << 16);
  }
  return kOk;
}

namespace {

Result Event(PwlControl* c, void* data, uintptr_t bits) {
  return PwlLinkEvent(c, Link(c)->anchor, data, bits);
}

// --- Image link decoration ---------------------------------------------------

PglRect ImageRect(PwlControl* c) {
  const DDriverItem* item = Link(c)->item;
  if (!item) return PwlFrameRectOf(c);
  const PwlOrigin o = c->window->origin;
  const int32_t left = item->left - static_cast<int32_t>(o.x);
  const int32_t top = item->top - static_cast<int32_t>(o.y);
  return {left, top, left + item->width - 1, top + static_cast<int32_t>(item->height) - 1};
}

}  // namespace

Result PwlOfferTitle(PwlControl* c, const BenAnchorRecord* anchor, const PglRect& rect) {
  if (!Focused(c) || !anchor || !anchor->title) return kOk;
  PwlWindow* w = c->window;
  w->balloonControl = c;
  if (!w->balloonsOn) {
    w->balloonPending = 1;
    return kOk;
  }
  FontInstance* font = nullptr;
  Result r = PwlOpenBodyFont(&font);
  if (r == kOk)
    r = PwlShowBalloon(font, 0, LibcWStrLen(anchor->title), anchor->title, w, &rect);
  PwlReleaseFont(font);
  return r;
}

void PwlForgetBalloonControl(PwlControl* c) {
  if (c->window && c->window->balloonControl == c) {
    c->window->balloonControl = nullptr;
    c->window->balloonPending = 0;
  }
}

namespace {

Result OfferTitle(PwlControl* c, const PglRect& rect) {
  return PwlOfferTitle(c, Link(c)->anchor, rect);
}

bool BalloonShown(const PwlWindow* w) { return w->saved[0] || w->saved[1] || w->timer; }

Result DrawImageFrame(PwlControl* c) {
  // A balloon still up would be drawn over and later put back wrong.
  PwlRestoreSavedAreas(c->window);
  const BenAnchorRecord* anchor = Link(c)->anchor;
  if (anchor && anchor->noFrame) return OfferTitle(c, ImageRect(c));
  const PglRect r = ImageRect(c);
  const PglRect bands[4] = {{r.left, r.top, r.right, r.top + 1},
                            {r.left, r.bottom - 1, r.right, r.bottom},
                            {r.left, r.top + 2, r.left + 1, r.bottom - 2},
                            {r.right - 1, r.top + 2, r.right, r.bottom - 2}};
  Result result = kOk;
  for (const PglRect& band : bands) {
    if (Result e = PwlFillRect(c->window, &band); e != kOk) result = e;
    if (Focused(c))
      if (Result e = PwlInvertRect(c->window, &band); e != kOk) result = e;
  }
  if (Result e = OfferTitle(c, r); e != kOk) result = e;
  return result;
}

// Layout gives a player only to the animated kinds of image, so the player
// is what tells; the source node's own type is not for the toolkit to read.
bool Animated(const DDriverItem* item) { return item && item->player; }

// --- Text link decoration ----------------------------------------------------

struct Run {
  const char16_t* text;
  uint32_t count;
  PglRect rect;
};

Run RunOf(PwlControl* c) {
  const DDriverItem* item = Link(c)->item;
  Run run{nullptr, 0, PwlFrameRectOf(c)};
  if (!item) return run;
  run.rect = ImageRect(c);
  if (item->chunk) {
    run.text = item->chunk + (item->kind == DDriverKind::SharedText ? item->offset : 0);
    run.count = item->length;
  }
  return run;
}

Result DrawRun(PwlControl* c, const Run& run, uint16_t fg, uint16_t bg) {
  const DDriverItem* item = Link(c)->item;
  Result r = PwlFillRect2(c->window, &run.rect, bg);
  if (item && item->font && run.text && run.count)
    if (Result e = PwlDrawText(item->font, item->style, run.count, run.text, c->window,
                               run.rect.left, run.rect.top, nullptr, fg, bg);
        e != kOk)
      r = e;
  return r;
}

Result DrawNormal(PwlControl* c) {
  const DDriverItem* item = Link(c)->item;
  if (!item) return kOk;
  return DrawRun(c, RunOf(c), item->foreground, item->background);
}

Result DrawFocused(PwlControl* c) {
  const DDriverItem* item = Link(c)->item;
  if (!item) return kOk;
  const uint16_t bg = item->focusBackground ? item->focusBackground
                                            : PwlInverseColour(item->background);
  const uint16_t fg = item->focusForeground ? item->focusForeground : PwlInverseColour(bg);
  return DrawRun(c, RunOf(c), fg, bg);
}

// The heights of the other lines of the same link.
int32_t OtherLinesHeight(PwlControl* c) {
  const BenAnchorRecord* anchor = Link(c)->anchor;
  int32_t sum = 0;
  for (ListNode* n = ListFirst(&c->window->controls); n; n = ListNext(n)) {
    auto* other = reinterpret_cast<PwlControl*>(n);
    if (other == c || other->type != PwlType::TextLink || Link(other)->anchor != anchor) continue;
    sum += other->rect.bottom - other->rect.top + 1;
  }
  return sum;
}

// The screen under the run, kept so that focus out puts it back exactly.
void SaveUnder(PwlControl* c, const Run& run) {
  PwlTextLink* link = TextLink(c);
  PglFreeSurface(&link->saved);
  const PglRect& frame = c->window->frame;
  PglRect r{frame.left + run.rect.left, frame.top + run.rect.top, frame.left + run.rect.right,
            frame.top + run.rect.bottom + OtherLinesHeight(c)};
  if (r.top < frame.top) r.top = frame.top;
  if (r.bottom > frame.bottom) r.bottom = frame.bottom;
  if (r.left < frame.left || r.right > frame.right || r.top > r.bottom) return;
  DrawNormal(c);
  if (PglAllocViewport(&link->saved) != kOk) return;
  if (PglSaveScreenRect(link->saved, &r) != kOk) {
    PglFreeSurface(&link->saved);
    return;
  }
  link->savedScrollTop = c->window->origin.y;
}

Result Decorate(PwlControl* c, bool focusing) {
  if (c->type == PwlType::ImageLink) return DrawImageFrame(c);
  PwlTextLink* link = TextLink(c);
  if (focusing) {
    if (c->window->cache[1]) SaveUnder(c, RunOf(c));
    Result r = DrawFocused(c);
    // The balloon points at the link's last line.
    if (r == kOk && !BalloonShown(c->window)) {
      PglRect rect = RunOf(c).rect;
      rect.bottom += OtherLinesHeight(c);
      r = OfferTitle(c, rect);
    }
    return r;
  }
  if (link->saved) {
    Result r = kOk;
    if (c->window->origin.y == link->savedScrollTop) r = PglRestoreScreen(link->saved);
    PglFreeSurface(&link->saved);
    return r == kPglRestoreRefused ? kOk : r;
  }
  return DrawNormal(c);
}

// --- Focus -------------------------------------------------------------------

Result FocusIn(PwlControl* c, uint32_t flags) {
  if (Focused(c)) return kOk;
  c->flags |= PwlCtl::Focused;
  const BenAnchorRecord* anchor = Link(c)->anchor;
  if (flags & PwlMsgFlag::Redraw) {
    const DDriverItem* item = Link(c)->item;
    if (c->type == PwlType::ImageLink && anchor && Animated(item)) {
      if (anchor->stepOnce)
        AnimEngStepOnce(item->player);
      else
        AnimEngRestart(item->player);
    }
    Decorate(c, true);
  }
  PwlContext* context = PwlGetContext();
  if (context) context->keyMark = 0;
  const bool status = anchor && ((anchor->status[0] && anchor->address) ||
                                 (anchor->status[1] && anchor->alternate));
  if (status)
    PwlPostOnce(c->window, PwlEvent::Labels, reinterpret_cast<uintptr_t>(anchor->status[0]),
                reinterpret_cast<uintptr_t>(anchor->status[1]));
  else
    PwlPostOnce(c->window, PwlEvent::Label, reinterpret_cast<uintptr_t>(PwlLabelText(kLabelOk)),
                0);
  // The second soft key selects with the browser window's current string.
  PwlSetSlot(1, PwlEvt::Select, 0);
  PwlSetSlot(2, PwlEvt::Select, PwlClassEvt::WindowString);
  if (context) context->keyMark = 1;
  return kOk;
}

Result FocusOut(PwlControl* c, uint32_t flags) {
  if (!Focused(c)) return kOk;
  c->flags &= ~PwlCtl::Focused;
  if (flags & PwlMsgFlag::Redraw) {
    const BenAnchorRecord* anchor = Link(c)->anchor;
    const DDriverItem* item = Link(c)->item;
    if (c->type == PwlType::ImageLink && anchor && Animated(item)) {
      if (anchor->stepOnce)
        AnimEngShowFirst(item->player);
      else
        AnimEngRewind(item->player);
    }
    Decorate(c, false);
  }
  PwlClearSlot(1);
  PwlClearSlot(2);
  PwlPostOnce(c->window, PwlEvent::ClearLabels, 0, 0);
  UiClearStatusText();
  return kOk;
}

Result LinkProc(PwlControl* c, PwlControl*, void* data, uint32_t flags, uint32_t message,
                uintptr_t argument) {
  if (!c) return PwlErr::NullControl;
  if (Result common; PwlCommonMessage(c, data, message, &common)) return common;
  switch (message) {
    case PwlMsg::Event:
      return Event(c, data, argument);
    case PwlMsg::Redraw:
      return Focused(c) ? Decorate(c, true) : kOk;
    case PwlMsg::SetRect: {
      if (!data) return PwlErr::NullRect;
      // The new rectangle is what must make sense; all -1 means unplaced.
      const PglRect r = *static_cast<const PglRect*>(data);
      if (r.left > r.right || r.top > r.bottom) return PwlErr::BadArg;
      c->rect = r;
      return kOk;
    }
    case PwlMsg::Bind: {
      if (!(flags & PwlMsgFlag::Bound) || (flags & PwlMsgFlag::Reposition)) return kOk;
      if (!data) return PwlClassErr::NoImage;
      auto* const* words = static_cast<void* const*>(data);
      Link(c)->anchor = static_cast<BenAnchorRecord*>(words[0]);
      Link(c)->item = static_cast<DDriverItem*>(words[1]);
      c->flags |= PwlCtl::Bound;
      return kOk;
    }
    case PwlMsg::FocusIn:
      return FocusIn(c, flags);
    case PwlMsg::FocusOut:
      return FocusOut(c, flags);
    case PwlMsg::Destroy:
      if (c->type == PwlType::TextLink) PglFreeSurface(&TextLink(c)->saved);
      PwlForgetBalloonControl(c);
      return kOk;
    default:
      return PwlErr::NoOperation;
  }
}

Result TextLinkInit(PwlControl* c) {
  PwlTextLink* link = TextLink(c);
  link->anchor = nullptr;
  link->item = nullptr;
  link->saved = nullptr;
  link->savedScrollTop = 0;
  return kOk;
}

Result ImageLinkInit(PwlControl* c) {
  Link(c)->anchor = nullptr;
  Link(c)->item = nullptr;
  return kOk;
}

Result ImageLinkMeasure(PwlControl*, const void* classData, uint32_t, PwlSize* out) {
  if (!out) return PwlErr::NullData;
  const auto* item = static_cast<const DDriverItem*>(classData);
  *out = item ? PwlSize{item->width, item->height} : PwlSize{};
  return item ? kOk : PwlClassErr::NoImage;
}

}  // namespace

const PwlControlClass kPwlTextLinkClass{TextLinkInit, LinkProc, nullptr, sizeof(PwlTextLink)};
const PwlControlClass kPwlImageLinkClass{ImageLinkInit, LinkProc, ImageLinkMeasure,
                                         sizeof(PwlImageLink)};

uint16_t PwlInverseColour(uint16_t c) {
  const uint32_t r = (c & 0xF800u) >> 8, g = (c & 0x7E0u) >> 3, b = (c & 0x1Fu) * 8;
  return static_cast<uint16_t>(((255 - r) >> 3) << 11 | ((255 - g) >> 2) << 5 | ((255 - b) >> 3));
}

bool PwlLinkIsFirstField(const PwlControl* c) {
  if (!c) return false;
  // Only controls of these classes carry an anchor where we look for it.
  const PwlControlClass* row = PwlGetControlClass(c->type);
  const BenAnchorRecord* anchor = nullptr;
  if (row == &kPwlTextLinkClass || row == &kPwlImageLinkClass)
    anchor = reinterpret_cast<const PwlImageLink*>(c)->anchor;
  else if (row == &kPwlMarqueeClass)
    anchor = reinterpret_cast<const PwlMarquee*>(c)->anchor;
  return anchor && anchor->firstField;
}
