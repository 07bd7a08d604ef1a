// The host's text-input window: a small window laid over the handset screen
// with one edit or list and the buttons "OK" and "Cancel", where the user
// types what the engine asks for. At most one is open at a time; it belongs
// to a session (the text-input session or a popup's text entry), which
// closes it once the main window has handed it the user's answer.
//
// The engine calls TiwOpen, TiwOpenList and TiwClose; the window itself is
// the host's (TiwOps), and the main window reads the answer through
// TiwTextLength and its kin.
#pragma once
#include <cstdint>

// The window's kinds of control.
namespace TiwType {
constexpr int32_t Line = 0, MultiLine = 1, Password = 2, Combo = 4, Single = 8, Multiple = 16;
}

// The mode word's bits that choose a kind.
namespace TiwMode {
constexpr uint32_t Line = 0x01, MultiLine = 0x02, Password = 0x04, PasswordToo = 0x08,
                   Plain = 0x10, Single = 0x20, Multiple = 0x40;
}

// One entry of a list: its text and flags (bit 0: chosen at start).
struct TiwItem {
  const char16_t* text;
  uint16_t flags;
};

// A box on the handset screen, in screen pixels.
struct TiwPlace {
  int32_t x, y, width, height;
};

// What the host's window shows.
struct TiwWindowSpec {
  int32_t type;  // TiwType
  const char16_t* title;
  const char16_t* text;  // initial text of an edit, selected whole; may be null
  uint32_t maxLength;    // characters an edit takes; 0: no limit
  // Over the owner: its left, top and width; null to centre the window over
  // the handset's screen.
  const TiwPlace* place;
  const TiwItem* items;  // a list's entries
  uint32_t itemCount;
};

// The window, as the host makes it.
struct TiwOps {
  void* ctx;
  // Creates and shows the window, blocks the main window and focuses the
  // edit or list; false when it cannot be made.
  bool (*open)(void* ctx, const TiwWindowSpec* spec);
  // Closes it, unblocks the main window and gives the display the focus.
  void (*close)(void* ctx);
  // The answer: the edit's text (its length first, then a copy of at most
  // size - 1 units and a 0, returning the units copied), the current item of
  // a list (-1 for none), and the chosen items of a multiple-choice list in
  // ascending order (returning how many were stored).
  uint32_t (*textLength)(void* ctx);
  uint32_t (*copyText)(void* ctx, char16_t* dest, uint32_t size);
  int32_t (*currentItem)(void* ctx);
  uint32_t (*selectedCount)(void* ctx);
  uint32_t (*selectedItems)(void* ctx, uint32_t* dest, uint32_t capacity);
};

// Installs the host's window (null restores the default, which opens
// nothing); returns the old one.
const TiwOps* TiwInstall(const TiwOps* ops);

// The border the window keeps inside its owner's box.
constexpr int32_t kTiwBorder = 1;

// The kind an edit's mode asks for: multi-line for 0x02 without 0x01 or
// 0x10, password for 0x04 or 0x08. A password is never shown, so a mode
// asking for both is a one-line password.
int32_t TiwTypeForMode(uint32_t mode);

// Opens the window for a session over the owner's box (null: centred). The
// mask is the session's business, not the window's. Returns the session, or
// null when a window is already open or cannot be made.
void* TiwOpen(void* session, const TiwPlace* owner, const char16_t* title, const char16_t* text,
              const char16_t* mask, uint32_t mode, uint32_t maxLength);
// Opens the window as a list: single choice for mode 0x20, multiple for
// 0x40, else a one-line edit.
void* TiwOpenList(void* session, const char16_t* title, const TiwItem* items, uint32_t mode,
                  uint32_t count);
// Closes the open window, if any.
void TiwClose(void* ignored);

// The open window's session (null when none is open) and kind.
void* TiwOpenSession();
int32_t TiwOpenType();

uint32_t TiwTextLength();
uint32_t TiwCopyText(char16_t* dest, uint32_t size);
int32_t TiwCurrentItem();
uint32_t TiwSelectedCount();
uint32_t TiwSelectedItems(uint32_t* dest, uint32_t capacity);
