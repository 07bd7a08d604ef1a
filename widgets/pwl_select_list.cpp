// The select list's open list: its place over or under the box, the screen
// saved under it, its rows and highlight, and pointer taps on it.
#include "browser/uiwindow.h"
#include "kernel/mem.h"
#include "widgets/pwl_balloon.h"
#include "widgets/pwl_select.h"
#include "widgets/pwl_text.h"

using namespace pwlsel;

namespace {

PglRect OnScreen(const PwlWindow* w, const PglRect& r) {
  return {r.left + w->frame.left, r.top + w->frame.top, r.right + w->frame.left,
          r.bottom + w->frame.top};
}

// The list's frame-relative rectangle for `rows` rows under (or over) the box.
PglRect Place(PwlSelect* s, uint32_t* rows) {
  PwlControl* c = &s->head;
  PwlWindow* w = c->window;
  PglDrawArgs r{};
  PwlGetRelativeRect(c, &r);
  int32_t textRight = r.right - 1;
  const int32_t limitX = static_cast<int32_t>(w->width) - 1 - 2;
  if (textRight > limitX) textRight = limitX;
  const int32_t textBottom = r.top + 17;

  PwlContext* context = PwlGetContext();
  const int32_t screenWidth = static_cast<int32_t>(context->screen.width);
  const int32_t screenHeight = static_cast<int32_t>(context->screen.height);
  const UiWindow* ui = UiGetWindow();
  const int32_t limit = screenHeight - static_cast<int32_t>(ui ? ui->bottomBarHeight : 0) - 1;

  auto height = [](uint32_t n) { return static_cast<int32_t>(n) * kRowHeight + 2; };
  PglRect list{r.left - 1, textBottom + 2, textRight + 1, textBottom + 1 + height(*rows)};
  if (list.bottom + w->frame.top > limit) {
    const PglRect above{list.left, r.top - height(*rows) + 1, list.right, r.top};
    if (above.top + w->frame.top >= 0) {
      list = above;
    } else if (*rows > 1) {
      --*rows;
      list.bottom = list.top + height(*rows) - 1;
    }
  }
  // Kept on the screen.
  const int32_t minX = -w->frame.left, minY = -w->frame.top;
  const int32_t maxX = screenWidth - 1 - w->frame.left, maxY = screenHeight - 1 - w->frame.top;
  if (list.left < minX) list.left = minX;
  if (list.top < minY) list.top = minY;
  if (list.right > maxX) list.right = maxX;
  if (list.bottom > maxY) list.bottom = maxY;
  return list;
}

void SetRecord(PwlSelect* s, bool open) {
  UiWindow* ui = UiGetWindow();
  if (!ui) return;
  if (open) {
    ui->openList = {1, s->list.left, s->list.top, s->list.right, s->list.bottom, &s->head};
  } else if (ui->openList.control == &s->head) {
    ui->openList = {};
  }
}

void KeepFirstShown(PwlSelect* s) {
  const uint32_t rows = s->rowsShown;
  if (s->highlightOption >= s->count) s->highlightOption = 0, s->highlightRow = 0;
  if (s->highlightRow >= rows) s->highlightRow = static_cast<uint16_t>(rows - 1);
  if (s->highlightRow > s->highlightOption) s->highlightRow = s->highlightOption;
  if (s->firstShown + rows > s->count) s->firstShown = static_cast<uint16_t>(s->count - rows);
}

}  // namespace

namespace pwlsel {

Result OpenList(PwlSelect* s) {
  PwlControl* c = &s->head;
  if (s->open || !c->window || !PwlGetContext()) return kOk;
  uint32_t rows = s->count < kMaxRows ? s->count : kMaxRows;
  if (!rows) return kOk;
  const PglRect list = Place(s, &rows);
  if (list.right < list.left || list.bottom < list.top) return kOk;
  s->list = list;
  s->rowsShown = static_cast<uint16_t>(rows);
  KeepFirstShown(s);

  PwlStopAnimationsUnder(list.left - 1, list.top - 1, list.right + 1, list.bottom + 1);
  PwlStopMarqueesUnder(c->window, list.left - 1, list.top - 1, list.right + 1, list.bottom + 1);
  const PglRect onScreen = OnScreen(c->window, list);
  const PglRect grown{onScreen.left - 1, onScreen.top - 1, onScreen.right + 1, onScreen.bottom + 1};
  if (PglAllocViewport(&s->saved) != kOk || PglSaveScreenRect(s->saved, &grown) != kOk) {
    PglFreeSurface(&s->saved);
    PwlResumeAnimations();
    PwlRestartMarquees(c->window);
    return PwlErr::NoMemory;
  }
  s->open = 1;
  DrawList(s);
  SetRecord(s, true);
  return kOk;
}

void CloseList(PwlSelect* s) {
  if (!s->open) return;
  if (s->saved) PglRestoreScreen(s->saved);
  PwlResumeAnimations();
  PwlRestartMarquees(s->head.window);
  PglFreeSurface(&s->saved);
  s->open = 0;
  SetRecord(s, false);
}

void DrawList(PwlSelect* s) {
  if (!s->open) return;
  PwlWindow* window = s->head.window;
  PwlContext* context = PwlGetContext();
  const PglRect& l = s->list;
  PwlFillRect2(window, &l, 0xFFFF);
  const int32_t width = l.right - l.left + 1;
  const int32_t room = s->count > kMaxRows ? width - IconWidth() - 2 : width - 4;
  const PglSurface& up = context->images[PwlImage::ScrollUp].image;
  const PglSurface& down = context->images[PwlImage::ScrollDown].image;
  for (uint32_t r = 0; r < s->rowsShown; ++r) {
    const uint32_t i = s->firstShown + r;
    if (i >= s->count) break;
    const bool highlighted = i == s->highlightOption;
    uint16_t fg = 0x0000, bg = 0xFFFF;
    uint32_t style = 0;
    if (Chosen(s, i)) {
      fg = kChosen;
      style = PwlStyle::Bold;
      if (highlighted) bg = kHighlight;
    } else if (highlighted) {
      fg = 0xFFFF;
      bg = kHighlight;
    }
    const int32_t y = l.top + 2 + kRowHeight * static_cast<int32_t>(r);
    uint32_t n = 0;
    const char16_t* text = DisplayText(s, i, &n);
    DrawCut(s, text, n, room, l.left + 4, y, style, fg, bg, true, y - 1);
    const int32_t arrowX = l.right - (static_cast<int32_t>(up.width) + 2);
    if (r == 0 && s->firstShown > 0 && up.width) {
      const PglDrawArgs args{const_cast<PglSurface*>(&up), 0, 0, static_cast<int32_t>(up.width) - 1,
                             static_cast<int32_t>(up.height) - 1, arrowX, l.top + 3, 0, 0, 0};
      PwlDrawImage(window, &args);
    }
    if (r + 1 == s->rowsShown && i + 1 < s->count && down.width) {
      const PglDrawArgs args{const_cast<PglSurface*>(&down), 0, 0,
                             static_cast<int32_t>(down.width) - 1,
                             static_cast<int32_t>(down.height) - 1, arrowX,
                             l.bottom - static_cast<int32_t>(down.height) - 3, 0, 0, 0};
      PwlDrawImage(window, &args);
    }
  }
  PwlFrameRect(window, &l, kFrame);
}

void MoveHighlight(PwlSelect* s, bool down) {
  if (!s->count || !s->rowsShown) return;
  const uint32_t last = s->count - 1;
  const uint32_t lastRow = s->rowsShown - 1u;
  if (down) {
    if (s->highlightOption >= last) {
      s->highlightOption = 0;
      s->highlightRow = 0;
    } else {
      ++s->highlightOption;
      if (s->highlightRow < lastRow) ++s->highlightRow;
    }
  } else if (s->highlightOption == 0) {
    s->highlightOption = static_cast<uint16_t>(last);
    s->highlightRow = static_cast<uint16_t>(lastRow);
  } else {
    --s->highlightOption;
    if (s->highlightRow > 0) --s->highlightRow;
  }
  if (s->highlightRow > s->highlightOption) s->highlightRow = s->highlightOption;
  s->firstShown = static_cast<uint16_t>(s->highlightOption - s->highlightRow);
}

void ListPointer(PwlControl* c, int32_t x, int32_t y) {
  if (!c || c->type != PwlType::Select) return;
  PwlSelect* s = Of(c);
  if (!s->open || !s->rowsShown) return;
  const PglRect& l = s->list;
  const uint32_t rows = s->rowsShown;
  const int32_t rowHeight = (l.bottom - l.top + 1) / static_cast<int32_t>(rows);
  const bool atRight = x > l.right - 10;
  if (atRight && y < l.top + 10) {
    if (s->firstShown == 0) return;
    --s->firstShown;
    // The highlight goes up with the view rather than leave it.
    if (s->highlightRow + 1u < rows)
      ++s->highlightRow;
    else
      --s->highlightOption;
    DrawList(s);
    return;
  }
  if (atRight && y > l.bottom - 10) {
    if (s->firstShown + rows >= s->count) return;
    ++s->firstShown;
    if (s->highlightRow > 0)
      --s->highlightRow;
    else
      ++s->highlightOption;
    DrawList(s);
    return;
  }
  if (rowHeight <= 0 || y < l.top) return;
  const uint32_t row = static_cast<uint32_t>((y - l.top) / rowHeight);
  if (row >= rows || s->firstShown + row >= s->count) return;
  // The tapped row is the one committed.
  s->highlightRow = static_cast<uint16_t>(row);
  s->highlightOption = static_cast<uint16_t>(s->firstShown + row);
  PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlSelEvt::Commit);
}

}  // namespace pwlsel
