// The marquee class (type 6): movement on the ticker, and drawing over the
// page it moves across.
#include "widgets/pwl_marquee.h"

#include "browser/benanchor.h"
#include "browser/uiwindow.h"
#include "graphics/image.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "layout/ddriver.h"
#include "layout/render_ui.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_classes.h"
#include "widgets/pwl_text.h"
#include "widgets/pwl_ticker.h"

namespace {

constexpr Result kMissingData = 0x802a800b;
constexpr uint32_t kLabelOk = 2;
constexpr uint32_t kEntryValue = 1;

PwlMarquee* M(PwlControl* c) { return reinterpret_cast<PwlMarquee*>(c); }
bool Focused(const PwlControl* c) { return (c->flags & PwlCtl::Focused) != 0; }

uint32_t TextLength(const PwlMarquee* m) { return m->text ? LibcWStrLen(m->text) : 0; }
int32_t ImageWidth(const PwlMarquee* m) {
  return m->image ? static_cast<int32_t>(m->image->width) : 0;
}
int32_t ContentWidth(const PwlMarquee* m) { return m->textWidth + ImageWidth(m); }
int32_t Span(const PwlMarquee* m) { return m->control.rect.right - m->control.rect.left; }
int32_t Space(uint32_t v) { return static_cast<int32_t>(v > 0xFFFF ? 0xFFFF : v); }
bool Endless(const PwlMarquee* m) { return m->loops == 0; }
bool Finished(const PwlMarquee* m) { return !Endless(m) && m->loopsLeft == 0; }

void Recompute(PwlMarquee* m) {
  const uint32_t length = TextLength(m);
  if (!m->image && length == 0) return;
  m->textWidth = 0;
  if (m->font && length) PwlTextWidth(m->font, m->style, length, m->text, &m->textWidth);
  const int32_t limit = Span(m) - 3 - 2 * Space(m->hspace);
  m->offset = 0;
  if (m->direction == 1) {
    if (m->behaviour == PwlMarqueeBehaviour::Slide) {
      m->offset = 1 - ContentWidth(m);
      m->loopsLeft = m->loops = 1;
    }
  } else if (m->behaviour == PwlMarqueeBehaviour::Slide && Focused(&m->control) && m->mode == 0) {
    m->offset = limit;
    m->loopsLeft = m->loops = 1;
  }
}

// --- Drawing -----------------------------------------------------------------

struct Frame {
  PglRect rect;   // the rectangle, frame-relative
  PglRect inner;  // less border and spaces
};

Frame FrameOf(const PwlMarquee* m) {
  const PwlControl& c = m->control;
  const PwlOrigin o = c.window->origin;
  Frame f;
  f.rect = {c.rect.left - static_cast<int32_t>(o.x), c.rect.top - static_cast<int32_t>(o.y),
            c.rect.right - static_cast<int32_t>(o.x), c.rect.bottom - static_cast<int32_t>(o.y)};
  const int32_t border = Space(m->border);
  const int32_t dx = border + Space(m->hspace), dy = border + Space(m->vspace);
  f.inner = {f.rect.left + dx, f.rect.top + dy, f.rect.right - dx, f.rect.bottom - dy};
  return f;
}

// The inner box cut to the window, on the screen; false when nothing is left.
bool ScreenBox(const PwlWindow* w, const PglRect& inner, PglRect* out) {
  const int32_t right = static_cast<int32_t>(w->width) - 1;
  const int32_t bottom = static_cast<int32_t>(w->height) - 1;
  PglRect r{inner.left < 0 ? 0 : inner.left, inner.top < 0 ? 0 : inner.top,
            inner.right > right ? right : inner.right, inner.bottom > bottom ? bottom : inner.bottom};
  if (r.left > r.right || r.top > r.bottom) return false;
  *out = {w->frame.left + r.left, w->frame.top + r.top, w->frame.left + r.right,
          w->frame.top + r.bottom};
  return true;
}

bool Whole(const PwlWindow* w, const PglRect& inner, const PglRect& screen) {
  return screen.left == w->frame.left + inner.left && screen.top == w->frame.top + inner.top &&
         screen.right == w->frame.left + inner.right &&
         screen.bottom == w->frame.top + inner.bottom;
}

void SaveBackground(PwlMarquee* m, const PglRect& screen) {
  if (m->saved || PglAllocViewport(&m->saved) != kOk) return;
  if (PglSaveScreenRect(m->saved, &screen) != kOk) PglFreeSurface(&m->saved);
}

// The saved page goes back under the box at its current top, cut to the
// window's height.
void PutBackground(PwlMarquee* m, const PglRect& screen) {
  PglViewport* s = m->saved;
  s->y = screen.top;
  const int32_t bottom = m->control.window->frame.bottom;
  int32_t rows = static_cast<int32_t>(s->surface->height);
  if (s->y + rows - 1 > bottom) rows = bottom - s->y + 1;
  if (rows <= 0) return;
  const PglRect part{0, 0, static_cast<int32_t>(s->surface->width) - 1, rows - 1};
  PglRestoreScreenRect(s, &part);
}

// One copy of the content with its left edge at x.
void DrawCopy(PwlMarquee* m, const Frame& f, const PglRect& screen, int32_t x, uint16_t fg,
              uint16_t bg) {
  PwlWindow* w = m->control.window;
  const int32_t height = f.rect.bottom - f.rect.top + 1;
  int32_t textX = x;
  int32_t textY = f.inner.top + Space(m->textOffset);
  if (m->image) {
    PglViewport* image = m->image;
    const int32_t iw = static_cast<int32_t>(image->width);
    const int32_t ih = static_cast<int32_t>(image->height);
    const int32_t sx = screen.left - w->frame.left;  // the box's left, frame-relative
    const int32_t ex = screen.right - w->frame.left;
    const int32_t cut = x < sx ? sx - x : 0;
    int32_t last = iw - 1;
    if (x + last > ex) last = ex - x;
    // Rows are cut to the box as well, for an image taller than it.
    const int32_t top = w->frame.top + f.rect.top + (height - ih) / 2;
    const int32_t first = top < screen.top ? screen.top - top : 0;
    const int32_t lastRow = top + ih - 1 > screen.bottom ? screen.bottom - top : ih - 1;
    if (cut <= last && first <= lastRow) {
      image->x = w->frame.left + x + cut;
      image->y = top + first;
      const PglRect part{cut, first, last, lastRow};
      PglRestoreScreenRect(image, &part);
    }
    textX = x + iw;
    int32_t lineHeight = 0;
    if (m->font) PwlLineHeight(m->font, m->style, &lineHeight);
    textY = f.rect.top + (height - lineHeight) / 2;
  }
  const uint32_t length = TextLength(m);
  if (!m->font || !length) return;
  const int32_t ox = screen.left - w->frame.left, oy = screen.top - w->frame.top;
  const PwlBox clip{screen.left, screen.top, static_cast<uint32_t>(screen.right - screen.left + 1),
                    static_cast<uint32_t>(screen.bottom - screen.top + 1)};
  PwlDrawText(m->font, m->style, length, m->text, w, textX - ox, textY - oy, &clip, fg, bg);
}

void DrawContent(PwlMarquee* m) {
  PwlWindow* w = m->control.window;
  if (!w || w->hidden) return;
  const Frame f = FrameOf(m);
  PglRect screen;
  if (!ScreenBox(w, f.inner, &screen)) return;
  int32_t x = f.inner.left + (Finished(m) ? 0 : m->offset);
  uint16_t fg = m->foreground, bg = m->background;
  const auto* owner = reinterpret_cast<const DDriverItem*>(m->control.item);

  if (Focused(&m->control)) {
    if (w->cache[1]) SaveBackground(m, screen);
    bg = owner && owner->focusBackground ? owner->focusBackground : PwlInverseColour(m->background);
    fg = owner && owner->focusForeground ? owner->focusForeground : PwlInverseColour(m->foreground);
    PwlFillRect2(w, &f.inner, bg);
  } else if (!w->cache[1] || m->direct) {
    PwlFillRect2(w, &f.inner, bg);
  } else if (m->saved) {
    PutBackground(m, screen);
  } else if (!Whole(w, f.inner, screen)) {
    // A box cut by the window's edge keeps no page: it is filled instead.
    PwlFillRect2(w, &f.inner, bg);
  } else {
    SaveBackground(m, screen);
  }

  const int32_t content = ContentWidth(m);
  const bool repeat = m->behaviour == PwlMarqueeBehaviour::Continuous && m->entry &&
                      m->entry->state == PwlTickerState::Running &&
                      !(m->mode == 1 && content < f.inner.right - f.inner.left + 1);
  int32_t gap = 0;
  if (repeat && m->font) PwlMaxCharWidth(m->font, m->style, &gap);
  // A content without width would never pass the box.
  const int32_t advance = content + gap > 0 ? content + gap : 1;
  do {
    DrawCopy(m, f, screen, x, fg, bg);
    x += advance;
  } while (repeat && x <= f.inner.right);
}

void FreeBackground(PwlMarquee* m) { PglFreeSurface(&m->saved); }

// A focused link marquee shows its anchor's title beside itself, as a text
// link does, but only while the window's owner has balloons on.
Result ShowTitle(PwlMarquee* m, const PglRect& rect) {
  PwlControl* c = &m->control;
  return c->window->balloonsOn ? PwlOfferTitle(c, m->anchor, rect) : kOk;
}

Result Draw(PwlMarquee* m) {
  PwlWindow* w = m->control.window;
  if (Span(m) <= 0 || !w) return kOk;
  const Frame f = FrameOf(m);
  if (!w->cache[1]) PwlFillRect(w, &f.rect);
  if (m->saved) {
    PglRect screen;
    if (ScreenBox(w, f.inner, &screen) && m->saved->y == screen.top) PglRestoreScreen(m->saved);
    FreeBackground(m);
  }
  if (w->saved[0] || w->saved[1]) PwlRestoreSavedAreas(w);
  PwlRestartMarquees(w);
  const Result r = ShowTitle(m, f.rect);
  DrawContent(m);
  return r;
}

// --- Movement ------------------------------------------------------------------

// One loop is over; true when it was the last.
bool EndLoop(PwlMarquee* m) {
  const bool last = !Endless(m) && m->loopsLeft == 1;
  if (m->loopsLeft > 0) --m->loopsLeft;
  return last;
}

void Scroll(PwlMarquee* m, int32_t limit, int32_t content) {
  if (m->direction) {
    m->offset += kPwlMarqueeStep;
    if (m->offset > limit && !EndLoop(m)) m->offset = 1 - content;
  } else {
    m->offset -= kPwlMarqueeStep;
    if (m->offset + content < 0 && !EndLoop(m)) m->offset = limit;
  }
}

void Slide(PwlMarquee* m, int32_t limit, int32_t content) {
  if (m->direction) {
    m->offset += kPwlMarqueeStep;
    if (m->offset + content > limit) m->offset = EndLoop(m) ? limit - content : 1 - content;
  } else {
    m->offset -= kPwlMarqueeStep;
    if (m->offset < 0) m->offset = EndLoop(m) ? 0 : limit;
  }
}

void Alternate(PwlMarquee* m, int32_t content) {
  const int32_t room = Span(m) - 2 * Space(m->hspace) + 1;
  if (room <= content) {
    m->offset = 0;
    return;
  }
  if (!m->direction) {
    m->offset -= kPwlMarqueeStep;
    if (m->offset < 0) {
      if (EndLoop(m)) {
        m->offset = 0;
      } else {
        m->direction = 1;
        m->offset = -m->offset;
      }
    }
  } else {
    m->offset += kPwlMarqueeStep;
    if (m->offset + content > room) {
      if (EndLoop(m)) {
        m->offset = room - content;
      } else {
        m->direction = 0;
        m->offset = 2 * room - (m->offset + 2 * content);
      }
    }
  }
}

// --- Link behaviour --------------------------------------------------------------

Result Event(PwlMarquee* m, void* data, uintptr_t bits) {
  return PwlLinkEvent(&m->control, m->anchor, data, bits);
}

Result FocusIn(PwlMarquee* m, uint32_t flags) {
  PwlControl* c = &m->control;
  if (Focused(c)) return kOk;
  c->flags |= PwlCtl::Focused;
  if (m->loopsLeft == 0) {
    m->loopsLeft = m->loops;
    Recompute(m);
  }
  if (flags & PwlMsgFlag::Redraw) Draw(m);
  if (m->anchor) PwlTickerRun(m->entry);
  PwlContext* context = PwlGetContext();
  if (context) context->keyMark = 0;
  const BenAnchorRecord* a = m->anchor;
  if (a && ((a->status[0] && a->address) || (a->status[1] && a->alternate)))
    PwlPostOnce(c->window, PwlEvent::Labels, reinterpret_cast<uintptr_t>(a->status[0]),
                reinterpret_cast<uintptr_t>(a->status[1]));
  else
    PwlPostOnce(c->window, PwlEvent::Label, reinterpret_cast<uintptr_t>(PwlLabelText(kLabelOk)),
                0);
  PwlSetSlot(1, PwlEvt::Select, 0);
  PwlSetSlot(2, PwlEvt::Select, PwlClassEvt::WindowString);
  if (context) context->keyMark = 1;
  return kOk;
}

Result FocusOut(PwlMarquee* m, uint32_t flags) {
  PwlControl* c = &m->control;
  if (!Focused(c)) return kOk;
  c->flags &= ~PwlCtl::Focused;
  m->loopsLeft = 0;
  if (m->anchor) {
    PwlTickerPause(m->entry);
    m->offset = 0;
  }
  if (flags & PwlMsgFlag::Redraw) Draw(m);
  PwlClearSlot(1);
  PwlClearSlot(2);
  PwlPostOnce(c->window, PwlEvent::ClearLabels, 0, 0);
  UiClearStatusText();
  return kOk;
}

Result Bind(PwlMarquee* m, const void* data, uint32_t flags) {
  if (!data) return kMissingData;
  if (data == &m->control) return kOk;
  const auto* b = static_cast<const PwlMarqueeBind*>(data);
  const bool took = !m->text || !m->text[0];
  if (took) {
    m->text = b->text;
    m->anchor = b->anchor;
  }
  if ((flags & PwlMsgFlag::Bound) && !(flags & PwlMsgFlag::Reposition))
    m->control.flags |= PwlCtl::Bound;
  m->mode = b->mode;
  m->textOffset = b->textOffset;
  m->direct = b->direct;
  bool imaged = false;
  if (b->image && !m->image && m->mode <= 1 && PglAllocViewport(&m->image) == kOk) {
    const int animated = b->image->kind == ContentKind::Animation;
    if (PglSurfaceFromImage(m->image, b->image, animated) != kOk) PglFreeSurface(&m->image);
    imaged = m->image != nullptr;
  }
  // Measured once everything that moves the start is known.
  if (took || imaged) Recompute(m);
  return kOk;
}

uint32_t Word(const void* data) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)); }

Result MarqueeInit(PwlControl* c) {
  PwlMarquee* m = M(c);
  m->background = 0xFFFF;
  m->loopsLeft = 1;
  m->loops = 0;
  return PwlTickerAdd(c, kEntryValue, kPwlMarqueePeriod, &m->entry);
}

}  // namespace

const PwlControlClass kPwlMarqueeClass{MarqueeInit, PwlMarqueeProc, nullptr, sizeof(PwlMarquee)};

void PwlInstallMarqueeClass() { PwlSetControlClass(PwlType::Marquee, &kPwlMarqueeClass); }

void PwlMarqueeStep(PwlMarquee* m) {
  const int32_t content = ContentWidth(m);
  if (m->mode == 1 && content < Span(m)) return;
  const int32_t limit = Span(m) - 3 - 2 * Space(m->hspace);
  switch (m->behaviour) {
    case PwlMarqueeBehaviour::Scroll:
      Scroll(m, limit, content);
      break;
    case PwlMarqueeBehaviour::Slide:
      Slide(m, limit, content);
      break;
    case PwlMarqueeBehaviour::Alternate:
      Alternate(m, content);
      break;
    case PwlMarqueeBehaviour::Continuous:
      m->offset -= kPwlMarqueeStep;
      if (m->offset + content < 0) m->offset += content;
      break;
    default:
      break;
  }
  if (Endless(m))
    m->loopsLeft = 0;
  else if (m->loopsLeft == 0)
    PwlTickerHalt(m->entry);
}

Result PwlMarqueeProc(PwlControl* c, PwlControl*, void* data, uint32_t flags, uint32_t message,
                      uintptr_t argument) {
  if (!c) return PwlErr::NullControl;
  PwlMarquee* m = M(c);
  switch (message) {
    case PwlMsg::Event:
      return Event(m, data, argument);
    case PwlMsg::Redraw:
      return Draw(m);
    case PwlMsg::Enable:
      c->flags |= PwlCtl::Enabled;
      if (m->anchor)
        DrawContent(m);
      else
        PwlTickerRun(m->entry);
      return kOk;
    case PwlMsg::Disable:
      c->flags &= ~PwlCtl::Enabled;
      PwlTickerPause(m->entry);
      return kOk;
    case PwlMsg::GetRect:
      if (!data) return PwlErr::NullRect;
      *static_cast<PglRect*>(data) = c->rect;
      return kOk;
    case PwlMsg::SetRect:
      if (!data) return PwlErr::NullRect;
      c->rect = *static_cast<const PglRect*>(data);
      Recompute(m);
      return kOk;
    case PwlMsg::Bind:
      return Bind(m, data, flags);
    case PwlMsg::FocusIn:
      return FocusIn(m, flags);
    case PwlMsg::FocusOut:
      return FocusOut(m, flags);
    case PwlMsg::TickerPeriods: {
      // The ticker counts whole periods; a late timer may bring several.
      int32_t n = data ? *static_cast<const int32_t*>(data) : 1;
      for (; n > 0; --n) PwlMarqueeStep(m);
      DrawContent(m);
      return kOk;
    }
    case PwlMarqueeMsg::Nothing:
      return kOk;
    case PwlMarqueeMsg::SetFont: {
      if (!data) return kMissingData;
      const auto* spec = static_cast<const PwlMarqueeFont*>(data);
      m->font = spec->font;
      m->style = static_cast<uint16_t>(spec->word & 0xFFFF & 0xEF);
      m->foreground = static_cast<uint16_t>(spec->word >> 16);
      return kOk;
    }
    case PwlMarqueeMsg::SetFocusable:
      if (data)
        c->flags |= PwlCtl::Focusable;
      else
        c->flags &= ~PwlCtl::Focusable;
      return kOk;
    case PwlMarqueeMsg::Direction:
      if (m->behaviour != PwlMarqueeBehaviour::Alternate &&
          m->behaviour != PwlMarqueeBehaviour::Continuous) {
        m->direction = Word(data);
        Recompute(m);
      }
      return kOk;
    case PwlMarqueeMsg::Behaviour:
      m->behaviour = Word(data);
      if (m->behaviour == PwlMarqueeBehaviour::Alternate ||
          m->behaviour == PwlMarqueeBehaviour::Continuous)
        m->direction = 0;
      Recompute(m);
      return kOk;
    case PwlMarqueeMsg::Loops:
      m->loops = m->loopsLeft = Word(data);
      return kOk;
    case PwlMarqueeMsg::Background:
      m->background = static_cast<uint16_t>(Word(data));
      return kOk;
    case PwlMsg::Destroy:
      FreeBackground(m);
      PglFreeSurface(&m->image);
      PwlTickerRemove(m->entry);
      m->entry = nullptr;
      PwlForgetBalloonControl(c);
      return kOk;
    default:
      return PwlErr::NoOperation;
  }
}
