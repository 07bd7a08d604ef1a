// Layout and drawing of edit boxes and text areas: the frame, the text (or
// its "#" stand-ins), the wrapped lines of a text area, the icon at the
// right end, and the viewer's table of line starts, which remembers where
// every line shown so far began so that the viewer can scroll back up.
#include "kernel/mem.h"
#include "widgets/pwl_text.h"
#include "widgets/pwl_textbox.h"

namespace {

constexpr uint32_t kLabelDown = 17, kLabelUp = 18;
constexpr uint32_t kUse = 30;
constexpr char16_t kHash = '#';

bool IsBlank(char16_t ch) { return ch == ' ' || (ch >= 9 && ch <= 13); }
bool IsBreak(char16_t ch) { return ch == '\r' || ch == '\n'; }

bool Focused(const PwlTextBox* b) { return (b->control.flags & PwlCtl::Focused) != 0; }
bool Viewer(const PwlTextBox* b) { return b->viewer && PwlBoxIsArea(b); }
bool Arrows(const PwlTextBox* b) { return Viewer(b) && (b->moreLines || b->scrollState); }

int32_t ImageWidth(uint32_t index) {
  const PglSurface* s = PwlImageOf(index);
  return s ? static_cast<int32_t>(s->width) : 0;
}

// The wider of the images the box shows at its right end.
int32_t RightEndWidth(const PwlTextBox* b) {
  const uint32_t first = Arrows(b) ? PwlImage::TextUp : PwlImage::EditBox;
  const uint32_t count = Arrows(b) ? 4 : 2;
  int32_t w = 0;
  for (uint32_t i = first; i < first + count; ++i)
    if (ImageWidth(i) > w) w = ImageWidth(i);
  return w;
}

PwlLineChunk* NewChunk(PwlLineChunk* previous) {
  auto* chunk = static_cast<PwlLineChunk*>(MemAlloc(sizeof(PwlLineChunk), kUse, Mod::Pwl));
  if (!chunk) return nullptr;
  chunk->previous = previous;
  chunk->next = nullptr;
  for (uint32_t& s : chunk->starts) s = kPwlNoLine;
  if (previous) previous->next = chunk;
  return chunk;
}

// Writes a line start `ahead` entries after the current one.
Result Record(PwlTextBox* b, uint32_t ahead, uint32_t start) {
  PwlLineChunk* chunk = b->chunk;
  uint32_t index = b->lineIndex + ahead;
  while (index >= kPwlLinesPerChunk) {
    if (!chunk->next && !NewChunk(chunk)) return PwlErr::NoMemory;
    chunk = chunk->next;
    index -= kPwlLinesPerChunk;
  }
  chunk->starts[index] = start;
  return kOk;
}

// How many characters of the line at `pos` (n before its break) the line
// takes, and how many of them are drawn.
uint32_t TakeLine(const PwlTextBox* b, uint32_t pos, uint32_t n, uint32_t* drawn) {
  const char16_t* t = b->text + pos;
  uint32_t take = n;
  if (n) {
    int32_t room = b->innerWidth;
    uint32_t fit = n;
    PwlFitText(b->font, b->style, &room, t, &fit);
    if (fit > 0 && fit < n) {
      if (IsBlank(t[fit])) {
        take = fit + 1;
      } else {
        take = fit;
        for (uint32_t i = fit; i > 0; --i)
          if (IsBlank(t[i - 1])) {
            take = i;
            break;
          }
      }
    }
  }
  uint32_t d = take;
  while (d > 0 && IsBlank(t[d - 1])) --d;
  *drawn = d;
  return take;
}

// Walks the lines from the scroll offset; draws them when asked. In viewer
// mode drawing also writes the line table.
Result Wrap(PwlTextBox* b, bool draw, const PglRect* r) {
  const uint32_t len = b->length;
  const char16_t* t = b->text;
  const int32_t height = b->control.rect.bottom - b->control.rect.top - 1;
  const bool table = draw && Viewer(b);
  uint32_t pos = b->scroll < len ? b->scroll : len;
  Result result = kOk;
  uint32_t lines = 0;
  for (; lines < b->rows && pos < len; ++lines) {
    if (static_cast<int32_t>(lines + 1) * b->lineHeight >= height) break;
    if (table && lines > 0)
      if (Result e = Record(b, lines, pos); e != kOk) return e;
    uint32_t end = pos;
    while (end < len && !IsBreak(t[end])) ++end;
    uint32_t drawn = 0;
    const uint32_t take = TakeLine(b, pos, end - pos, &drawn);
    if (draw && drawn)
      PwlDrawText(b->font, b->style, drawn, t + pos, b->control.window, r->left + 4,
                  r->top + 3 + static_cast<int32_t>(lines) * b->lineHeight, nullptr, 0x0000,
                  0xFFFF);
    pos += take;
    if (pos == end && pos < len) {
      const char16_t first = t[pos++];
      if (pos < len && IsBreak(t[pos]) && t[pos] != first) ++pos;
    }
  }
  if (!Viewer(b)) return result;
  // The next line's start too, so that the viewer can step down to it.
  if (table && pos < len && lines > 0)
    if (Result e = Record(b, lines, pos); e != kOk) return e;
  b->scrollState =
      (pos < len ? PwlScrollState::Below : 0) | (b->scroll > 0 ? PwlScrollState::Above : 0);
  b->moreLines = pos < len;
  return result;
}

Result DrawImage(PwlWindow* w, uint32_t index, int32_t x, int32_t y, int32_t* width,
                 int32_t* height) {
  const PglSurface* s = PwlImageOf(index);
  if (!s) return kOk;
  *width = static_cast<int32_t>(s->width);
  *height = static_cast<int32_t>(s->height);
  const PglDrawArgs args{const_cast<PglSurface*>(s), 0, 0, *width - 1, *height - 1, x, y, 0, 0, 0};
  return PwlDrawImage(w, &args);
}

void DrawRightEnd(PwlTextBox* b, const PglRect& inside) {
  PwlWindow* w = b->control.window;
  const bool focused = Focused(b);
  const uint32_t first = Arrows(b) ? (focused ? PwlImage::TextUpFocus : PwlImage::TextUp)
                                   : (focused ? PwlImage::EditBoxFocus : PwlImage::EditBox);
  const PglSurface* image = PwlImageOf(first);
  if (!image) return;
  const int32_t iw = RightEndWidth(b);
  const PglRect line{inside.right - (iw + 2), inside.top, inside.right - (iw + 2), inside.bottom};
  PwlDrawLine(w, &line, 1, 0x0000);
  int32_t width = 0, height = 0;
  DrawImage(w, first, inside.right - static_cast<int32_t>(image->width), inside.top + 1, &width,
            &height);
  if (!Arrows(b)) return;
  const uint32_t down = focused ? PwlImage::TextDownFocus : PwlImage::TextDown;
  if (const PglSurface* d = PwlImageOf(down))
    DrawImage(w, down, inside.right - static_cast<int32_t>(d->width),
              inside.bottom - static_cast<int32_t>(d->height), &width, &height);
  if (PwlGetFocusedControl() == &b->control) PwlTextBoxOfferArrows(b);
}

}  // namespace

void PwlTextBoxOfferArrows(PwlTextBox* b) {
  const bool above = b->scrollState & PwlScrollState::Above;
  const bool below = b->scrollState & PwlScrollState::Below;
  if (above)
    PwlSetSlot(2, PwlClassEvt::LineUp, 0);
  else
    PwlClearSlot(2);
  if (below)
    PwlSetSlot(1, PwlClassEvt::LineDown, 0);
  else
    PwlClearSlot(1);
  PwlPostToOwner(b->control.window, PwlEvent::Label,
                 below ? reinterpret_cast<uintptr_t>(PwlLabelText(kLabelDown)) : 0,
                 above ? reinterpret_cast<uintptr_t>(PwlLabelText(kLabelUp)) : 0);
}

Result PwlTextBoxLayout(PwlTextBox* b) {
  PwlControl* c = &b->control;
  if (!b->font || !b->text || !(c->flags & PwlBoxFlag::RectSet) || !b->shown) return kOk;
  if (PwlBoxIsArea(b) && !(c->flags & PwlCtl::Bound) && b->lineHeight > 0)
    b->rows = static_cast<uint32_t>((c->rect.bottom - c->rect.top) / b->lineHeight);
  const int32_t available = c->rect.right - c->rect.left - 9 - ImageWidth(PwlImage::EditBox);
  const uint32_t scroll = b->scroll < b->length ? b->scroll : b->length;
  if (c->flags & PwlBoxFlag::Password) {
    int32_t hash = 0;
    PwlCharWidth(b->font, b->style, kHash, &hash);
    const uint32_t fit = hash > 0 && available > 0 ? static_cast<uint32_t>(available / hash) : 0;
    b->visible = b->length < fit ? b->length : fit;
  } else {
    int32_t room = available;
    uint32_t count = b->length - scroll;
    if (count && room > 0)
      PwlFitText(b->font, b->style, &room, b->text + scroll, &count);
    else
      count = 0;
    b->visible = count;
  }
  if (Viewer(b))
    if (Result r = Wrap(b, false, nullptr); r != kOk) return r;
  const int32_t w = RightEndWidth(b);
  b->innerWidth = c->rect.right - c->rect.left - 9 - (w ? w + 3 : 0);
  return kOk;
}

Result PwlTextBoxDraw(PwlTextBox* b) {
  PwlControl* c = &b->control;
  if (!b->shown || !(c->flags & PwlBoxFlag::RectSet)) return kOk;
  PwlWindow* w = c->window;
  const PglRect r = PwlFrameRectOf(c);
  if (!(c->flags & PwlBoxFlag::NoFrame)) {
    const PglRect lines[4] = {{r.left + 1, r.top + 1, r.right - 1, r.top + 1},
                              {r.left + 1, r.bottom - 2, r.right - 1, r.bottom - 2},
                              {r.left + 1, r.top + 1, r.left + 1, r.bottom - 2},
                              {r.right - 1, r.top + 1, r.right - 1, r.bottom - 2}};
    for (uint32_t i = 0; i < 4; ++i) PwlDrawLine(w, &lines[i], i < 2 ? 2 : 1, 0x0000);
  }
  const PglRect inside{r.left + 2, r.top + 2, r.right - 2, r.bottom - 3};
  PwlFillRect2(w, &inside, 0xFFFF);
  Result result = kOk;
  if (b->text && b->font) {
    if (Viewer(b) && !b->firstChunk) {
      // The first draw starts the table with the text's start.
      if (!(b->firstChunk = b->chunk = NewChunk(nullptr))) return PwlErr::NoMemory;
      b->firstChunk->starts[0] = 0;
      b->lineIndex = 0;
    }
    if (PwlBoxIsArea(b)) {
      result = Wrap(b, true, &r);
    } else if (c->flags & PwlBoxFlag::Password) {
      static const char16_t kHashes[] = u"################################################";
      constexpr uint32_t kRun = sizeof kHashes / 2 - 1;
      int32_t hash = 0;
      PwlCharWidth(b->font, b->style, kHash, &hash);
      for (uint32_t done = 0; done < b->visible;) {
        const uint32_t n = b->visible - done < kRun ? b->visible - done : kRun;
        PwlDrawText(b->font, b->style, n, kHashes, w,
                    r.left + 4 + static_cast<int32_t>(done) * hash, r.top + 3, nullptr, 0x0000,
                    0xFFFF);
        done += n;
      }
    } else if (b->scroll < b->length) {
      const uint32_t left = b->length - b->scroll;
      PwlDrawText(b->font, b->style, b->visible < left ? b->visible : left, b->text + b->scroll, w,
                  r.left + 4, r.top + 3, nullptr, 0x0000, 0xFFFF);
    }
  }
  DrawRightEnd(b, inside);
  PwlFrameRect(w, &r, Focused(b) ? 0x0000 : 0xFFFF);
  return result;
}

void PwlTextBoxFreeLines(PwlTextBox* b) {
  for (PwlLineChunk* chunk = b->firstChunk; chunk;) {
    PwlLineChunk* next = chunk->next;
    MemFree(&chunk);
    chunk = next;
  }
  b->firstChunk = b->chunk = nullptr;
  b->lineIndex = 0;
}

uint32_t PwlTextBoxStep(PwlTextBox* b, bool down) {
  if (!b->chunk) return 0;
  PwlLineChunk* chunk = b->chunk;
  uint32_t index = b->lineIndex;
  if (down) {
    if (++index == kPwlLinesPerChunk) {
      if (!chunk->next) return 0;
      chunk = chunk->next;
      index = 0;
    }
  } else if (index-- == 0) {
    if (!chunk->previous) return 0;
    chunk = chunk->previous;
    index = kPwlLinesPerChunk - 1;
  }
  const uint32_t start = chunk->starts[index];
  if (start == kPwlNoLine || start > b->length) return 0;
  b->chunk = chunk;
  b->lineIndex = index;
  b->scroll = start;
  return 1;
}
