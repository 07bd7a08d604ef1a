// The select list (control type 8): a one-line box showing the current
// option, as a dropdown that opens a list of up to four rows or as a spinner
// stepping in place; either may allow several options to be chosen.
//
// Bound to a page's BenFormSelectRecord (bind flags 0x80) it keeps the
// selection in the labels' markers and stores the chosen indices and values
// in the browser's variables; unbound, it takes a PwlSelectList and keeps the
// selection in the items' flags (bit 0).
#pragma once
#include <cstdint>

#include "widgets/pwl.h"

struct FontInstance;

struct PwlSelectItem {
  char16_t* text;
  uint16_t flags;  // bit 0: chosen
};

// An unbound option list; the popup's list body begins with it.
struct PwlSelectList {
  char16_t* title;
  uint32_t flags;  // BenSelectFlag: multiple, dropdown
  PwlSelectItem* items;
  uint32_t count;
};

// The select list's own flag bits in the control's flags word.
namespace PwlSelFlag {
constexpr uint32_t LayoutPending = 0x10, Pressed = 0x20000, Dropdown = 0x20000000,
                   Multiple = 0x40000000, Actions = 0x80000000;
}

// Event bits besides the common ones.
namespace PwlSelEvt {
constexpr uint32_t Commit = 0x4000, Open = 0x20000, Close = 0x40000;
}

namespace PwlSelMsg {
constexpr uint32_t TextRect = 5, Pick = 20, WidthLimit = 23;
}

namespace PwlSelErr {
constexpr Result NullOptions = 0x802a800b, BadEvent = 0x802a8017;
}

struct PwlSelect {
  PwlControl head;
  void* options;  // BenFormSelectRecord (bound) or PwlSelectList
  char16_t** plainLabels;
  char16_t** displayLabels;
  uint32_t count;
  uint32_t current;
  uint32_t displayStart, displayLength;
  uint32_t markerIndex;
  FontInstance* font;
  uint32_t open;
  uint16_t firstShown, highlightRow, highlightOption, rowsShown;
  PglViewport* saved;  // the screen under the open list
  PglRect list;        // the open list, frame-relative
};

// Installs the select list's class row and its class hooks.
void PwlInstallSelectClass();
Result PwlSelectMeasure(PwlControl* control, const void* options, uint32_t flags, PwlSize* out);

// Shared by the select list's files.
namespace pwlsel {
constexpr uint16_t kFrame = 0x9CFD, kFocusFill = 0xDEDF, kHighlight = 0x739F, kChosen = 0x001F;
constexpr int32_t kRowHeight = 16;
constexpr uint32_t kMaxRows = 4;
inline PwlSelect* Of(PwlControl* c) { return reinterpret_cast<PwlSelect*>(c); }
const char16_t* Label(const PwlSelect* s, uint32_t i);
// The shown part of option i: its display text with trailing blanks and
// control characters removed.
const char16_t* DisplayText(const PwlSelect* s, uint32_t i, uint32_t* length);
bool Chosen(const PwlSelect* s, uint32_t i);
int32_t IconWidth();
// Draws a text cut to `room` pixels with "…"; returns its drawn width.
int32_t DrawCut(PwlSelect* s, const char16_t* text, uint32_t n, int32_t room, int32_t x,
                int32_t y, uint32_t style, uint16_t fg, uint16_t bg, bool fillBack,
                int32_t rowTop);
Result OpenList(PwlSelect* s);
void CloseList(PwlSelect* s);
void DrawList(PwlSelect* s);
void MoveHighlight(PwlSelect* s, bool down);
void ListPointer(PwlControl* c, int32_t x, int32_t y);
}  // namespace pwlsel
