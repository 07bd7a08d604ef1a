// The text balloon, and the stopping of what moves under a rectangle while
// something is drawn over the page.
#include "widgets/pwl_balloon.h"

#include <cstddef>

#include "browser/uiwindow.h"
#include "layout/animeng.h"
#include "widgets/pwl_internal.h"
#include "widgets/pwl_marquee.h"
#include "widgets/pwl_text.h"
#include "widgets/pwl_ticker.h"

namespace {

constexpr char16_t kEllipsis[] = u"...";
// Pattern cells: T is left alone, B the outline, W the fill.
constexpr char kCornerTopLeft[3][4] = {"TTB", "TBW", "BWW"};
constexpr char kCornerTopRight[3][4] = {"BTT", "WBT", "WWB"};
constexpr char kCornerBottomLeft[3][4] = {"BWW", "TBW", "TTB"};
constexpr char kCornerBottomRight[3][4] = {"WWB", "WBT", "BTT"};
constexpr char kPointerDown[4][8] = {"TTTBTTT", "TTBWBTT", "TBWWWBT", "BWWWWWB"};
constexpr char kPointerUp[4][8] = {"BWWWWWB", "TBWWWBT", "TTBWBTT", "TTTBTTT"};

void Put(PwlWindow* w, int32_t x, int32_t y, char cell) {
  if (cell == 'T') return;
  const PglPoint p{x, y};
  PwlSetPixel(w, &p, cell == 'B' ? PwlBalloonColour::Ink : PwlBalloonColour::Fill);
}

template <size_t Rows, size_t Cols>
void Pattern(PwlWindow* w, int32_t x, int32_t y, const char (&cells)[Rows][Cols]) {
  for (size_t r = 0; r < Rows; ++r)
    for (size_t c = 0; c + 1 < Cols; ++c)
      Put(w, x + static_cast<int32_t>(c), y + static_cast<int32_t>(r), cells[r][c]);
}

// The box over columns x .. x + w + 5 and rows y .. y + h + 4, and its
// pointer, opened into the box's outline.
void DrawFrame(PwlWindow* win, int32_t x, int32_t y, int32_t w, int32_t h, int32_t px,
               int32_t py, bool below) {
  Pattern(win, x, y, kCornerTopLeft);
  Pattern(win, x + w + 3, y, kCornerTopRight);
  Pattern(win, x, y + h + 2, kCornerBottomLeft);
  Pattern(win, x + w + 3, y + h + 2, kCornerBottomRight);
  for (int32_t row = y + 3; row <= y + h + 2; ++row) {
    Put(win, x, row, 'B');
    Put(win, x + 1, row, 'W');
    Put(win, x + 2, row, 'W');
    Put(win, x + w + 3, row, 'W');
    Put(win, x + w + 4, row, 'W');
    Put(win, x + w + 5, row, 'B');
  }
  for (int32_t col = x + 3; col <= x + w + 2; ++col) {
    Put(win, col, y, 'B');
    Put(win, col, y + 1, 'W');
    Put(win, col, y + 2, 'W');
    Put(win, col, y + h + 2, 'W');
    Put(win, col, y + h + 3, 'W');
    Put(win, col, y + h + 4, 'B');
  }
  const int32_t open = below ? y : y + h + 2;
  if (below)
    Pattern(win, px, py, kPointerDown);
  else
    Pattern(win, px, py - 1, kPointerUp);
  for (int32_t col = px; col < px + 7; ++col)
    for (int32_t row = open; row < open + 3; ++row) Put(win, col, row, 'W');
}

// A drawing rectangle of the window as screen coordinates.
PglRect OnScreen(const PwlWindow* w, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {w->frame.left + left, w->frame.top + top, w->frame.left + right, w->frame.top + bottom};
}

Result Save(PglViewport** slot, const PglRect& rect) {
  PglViewport* vp = nullptr;
  if (Result r = PglAllocViewport(&vp); r != kOk) return r;
  if (Result r = PglSaveScreenRect(vp, &rect); r != kOk) {
    PglFreeSurface(&vp);
    return r;
  }
  *slot = vp;
  return kOk;
}

void PutBack(PglViewport** slot) {
  if (!*slot) return;
  PglRestoreScreen(*slot);
  PglFreeSurface(slot);
  PwlResumeAnimations();
}

PwlMarquee* AsMarquee(PwlControl* c) {
  return c->type == PwlType::Marquee ? reinterpret_cast<PwlMarquee*>(c) : nullptr;
}

int32_t ClampAtZero(int64_t v) { return v < 0 ? 0 : static_cast<int32_t>(v); }

}  // namespace

Result PwlShowBalloon(const FontInstance* font, uint32_t style, uint32_t count,
                      const char16_t* text, PwlWindow* window, const PglRect* anchor) {
  if (!window) return PwlErr::NullWindow;
  if (!anchor) return PwlErr::NullRect;
  TskmanCancelTimer(&window->timer);
  if (!text || count == 0) return kOk;
  // A balloon still up goes first, so its saved screen is neither lost nor
  // saved again over itself.
  if (window->saved[0] || window->saved[1]) PwlRestoreSavedAreas(window);

  // The bounds, in the window's drawing coordinates.
  const int32_t fl = 0, ft = 0;
  const int32_t W = window->frame.right - window->frame.left;
  const int32_t B = window->frame.bottom - window->frame.top;
  PglRect a = *anchor;
  if (a.bottom < ft || a.top > B) return kOk;
  if (a.top < ft) a.top = ft;
  if (a.bottom > B) a.bottom = B;

  int32_t w = 0, first = 0, h = 0;
  PwlTextWidth(font, style, count, text, &w);
  PwlCharWidth(font, style, text[0], &first);
  uint32_t shown = count;
  bool cut = false;
  if (w > W - 8) {
    int32_t dot = 0;
    PwlCharWidth(font, style, u'.', &dot);
    int32_t sum = 3 * dot;
    shown = 0;
    for (int32_t c = 0; shown < count; ++shown, sum += c) {
      PwlCharWidth(font, style, text[shown], &c);
      if (sum + c > W - 8) break;
    }
    w = sum;
    cut = true;
  }
  const bool single = !cut && count == 1;
  if (w <= first) w *= 2;
  PwlLineHeight(font, style, &h);

  const bool below = !(B < a.bottom + 12 + h);
  int32_t x;
  const int32_t s = a.left + w + 6;
  if (s > W) {
    x = W - w - 6;
  } else if (s > a.right) {
    x = a.left - (s - a.right) / 2;
    if (x < fl) x = fl + 1;
  } else {
    x = a.left + (a.right - s) / 2;
  }
  int32_t px = a.left + (a.right - a.left) / 2 - 3;
  if (px - 3 <= a.left) px = a.right - 3;
  int32_t py, y;
  if (below) {
    py = a.bottom + 2;
    y = a.bottom + 6;
  } else {
    py = a.top - 5;
    y = py - h - 6;
    if (y < ft) y = ft + 1;
  }
  if (x < 0 || y < 0 || px < 0 || py < 0) return kOk;

  const PglRect box = OnScreen(window, x, y, x + w + 6, y + h + 10);
  PwlStopAnimationsUnder(x, y, x + w + 6, y + h + 10);
  PwlStopMarqueesUnder(window, x, y, x + w + 6, y + h + 10);
  PglRect boxSave = box;
  if (boxSave.right > window->frame.right) boxSave.right = window->frame.right;
  if (boxSave.bottom > window->frame.bottom) boxSave.bottom = window->frame.bottom;
  if (Result r = Save(&window->saved[0], boxSave); r != kOk) return r;
  // Saving cuts the pointer's rectangle to the screen.
  if (Result r = Save(&window->saved[1], OnScreen(window, px, py, px + 7, py + 4)); r != kOk)
    return r;

  DrawFrame(window, x, y, w, h, px, py, below);
  const PglRect area{x + 3, y + 3, x + 2 + w, y + 2 + h};
  PwlFillRect2(window, &area, PwlBalloonColour::Fill);
  int32_t tx = x + 3;
  if (single) tx += first / 2;
  PwlDrawText(font, style, shown, text, window, tx, y + 3, nullptr, PwlBalloonColour::Ink,
              PwlBalloonColour::Fill);
  if (cut) {
    int32_t head = 0;
    PwlTextWidth(font, style, shown, text, &head);
    PwlDrawText(font, style, 3, kEllipsis, window, tx + head, y + 3, nullptr,
                PwlBalloonColour::Ink, PwlBalloonColour::Fill);
  }
  if (PwlContext* context = PwlGetContext())
    TskmanStartTimer(&window->timer, context->task, reinterpret_cast<uintptr_t>(window), 0,
                     kPwlBalloonMs);
  return kOk;
}

void PwlRestoreSavedAreas(PwlWindow* window) {
  if (!window) return;
  TskmanCancelTimer(&window->timer);
  PutBack(&window->saved[0]);
  PutBack(&window->saved[1]);
  PwlRestartMarquees(window);
}

void PwlStopAnimationsUnder(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  UiWindow* ui = UiGetWindow();
  if (!ui) return;
  for (ListNode* n = ListFirst(&ui->animations); n; n = ListNext(n)) {
    auto* anim = reinterpret_cast<UiPageAnim*>(n);
    if (anim->stopped || !anim->player) continue;
    const PwlOrigin o = anim->window ? anim->window->origin : PwlOrigin{};
    const int64_t x = int64_t{anim->x} - o.x, y = int64_t{anim->y} - o.y;
    const int64_t ax = x + anim->width - 1, ay = y + anim->height - 1;
    if (anim->width == 0 || anim->height == 0 || x > right || ax < left || y > bottom ||
        ay < top)
      continue;
    AnimEngStop(anim->player);
    anim->stopped = 1;
  }
}

void PwlResumeAnimations() {
  UiWindow* ui = UiGetWindow();
  if (!ui) return;
  for (ListNode* n = ListFirst(&ui->animations); n; n = ListNext(n)) {
    auto* anim = reinterpret_cast<UiPageAnim*>(n);
    if (!anim->stopped) continue;
    anim->stopped = 0;
    if (anim->player) AnimEngResume(anim->player);
  }
}

void PwlStopMarqueesUnder(PwlWindow* window, int32_t left, int32_t top, int32_t right,
                          int32_t bottom) {
  if (!window) return;
  PwlControl* first = nullptr;
  PwlControl* last = nullptr;
  PwlFirstVisibleChild(window, &first, 0);
  PwlNextVisibleChild(window, &last, 0);
  if (!first || !last) return;
  const PglRect over{left, top, right, bottom};
  for (PwlControl* c = first; c; c = PwlNextControl(c)) {
    PwlMarquee* m = AsMarquee(c);
    // Only a marquee that is moving is held; a paused one stays paused.
    if (m && !m->anchor && !m->held && m->entry && m->entry->state == PwlTickerState::Running) {
      const PwlOrigin o = window->origin;
      const PglRect r{ClampAtZero(int64_t{c->rect.left} - o.x),
                      ClampAtZero(int64_t{c->rect.top} - o.y),
                      ClampAtZero(int64_t{c->rect.right} - o.x),
                      ClampAtZero(int64_t{c->rect.bottom} - o.y)};
      if (PwlRectsOverlap(&r, &over)) {
        PwlTickerHalt(m->entry);
        m->held = 1;
      }
    }
    if (c == last) break;
  }
}

void PwlRestartMarquees(PwlWindow* window) {
  if (!window) return;
  for (ListNode* n = ListFirst(&window->controls); n; n = ListNext(n)) {
    PwlMarquee* m = AsMarquee(PwlAsControl(n));
    if (!m || !m->held) continue;
    m->held = 0;
    if (m->entry) PwlTickerRun(m->entry);
  }
}
