// Popup dialogs (module 43): the toolkit's modal questions. A message with
// one button, a confirmation with two, a list menu and a text entry; each
// open popup is a task of its own with one PopupRequest as its context. The
// caller names a reply task, which receives exactly one answer, 0x2a09
// (value, flag), unless the popup is closed without one (PopupClose,
// PopupCloseFor, or a build that failed).
#pragma once
#include <cstdint>

#include "kernel/tskman.h"
#include "widgets/pwl.h"
#include "widgets/pwl_select.h"

struct FontInstance;
struct InputSession;

namespace PopupKind {
constexpr uint32_t Text = 1, Confirm = 2, Message = 3, List = 4;
}

// Commands of 0x2a0e.
namespace PopupCmd {
constexpr uint32_t Accept = 1, Cancel = 2;
}

// The key sub-code that cancels any popup.
constexpr uint32_t kPopupCancelKey = 22;
// Added to the caller's flags: list bodies and text-entry modes.
constexpr uint32_t kPopupListFlag = 0x100, kPopupTextMode = 0x80;

struct PopupRequest;
using PopupCallback = void (*)(PwlControl* control, uintptr_t request);

struct PopupButton {
  char16_t* label;
  PopupCallback callback;
  PwlControl* control;  // a button drawn in the window; null for soft keys
};

struct PopupTextBody {
  char16_t* prompt;
  char16_t* initial;
  char16_t* mask;
  uint32_t mode;
};

struct PopupMessageBody {
  char16_t* text;
  PopupButton button;
};

struct PopupConfirmBody {
  char16_t* text;
  PopupButton buttons[2];
};

using PopupListItem = PwlSelectItem;

// Begins as the select list's unbound option list, which it is bound to.
struct PopupListBody {
  char16_t* title;
  uint32_t flags;
  PopupListItem* items;
  uint32_t count;
  PwlControl* list;
  PwlControl* ok;
  // The OK button's label: the button owns it once made (and frees it when
  // the window goes), the body only until then.
  char16_t* okLabel;
};

struct PopupRequest {
  uint32_t kind;  // PopupKind
  PwlWindow* window;
  PwlWindow* saved;  // the active window when the popup opened
  PglRect box;       // the layout box, in the popup window's coordinates
  PwlControl* softKeys;
  PwlControl* text;
  uint32_t listMode;
  void* body;
  TskmanTask* popupTask;
  // Named as the popup opens: its requester may end while it shows, and the
  // answer then goes to no one.
  TskmanRef replyTask;
  InputSession* session;
};

// 1 while a message or confirm popup is built and shown; 0 after any drawn
// popup closes. The browser core reads it.
extern uint32_t PopupShowingMark;

Result PopupMessage(const char16_t* text, TskmanTask* reply);
// Null or empty labels fall back to "확인" and "취소".
Result PopupConfirm(const char16_t* text, const char16_t* first, const char16_t* second,
                    TskmanTask* reply);
Result PopupListMenu(const char16_t* title, const PopupListItem* items, uint32_t flags,
                     uint32_t count, TskmanTask* reply);
Result PopupInput(const char16_t* prompt, const char16_t* initial, const char16_t* mask,
                  uint32_t mode, TskmanTask* reply);
// Closes the open popup without an answer; nothing when there is none.
// Popups stack (another module's question may show under a requester's
// own), and this takes the oldest: a requester giving up its own question
// closes it with PopupCloseFor.
void PopupClose();
// Closes, without an answer, the newest popup whose answer goes to the task
// named by `requester`; nothing when it has none. The name may be kept from
// a task that has already ended: it matches the popups that task asked for
// and no task made since in its record.
void PopupCloseFor(const TskmanRef& requester);
// The newest popup task whose answer goes to the task named by `requester`;
// null when there is none.
TskmanTask* PopupFindFor(const TskmanRef& requester);
// The popup the user sees: with questions of several modules open at once
// (a script's dialog over provisioning's question) the newest is on top, and
// the first found would be one it covers. Null when none is open.
TskmanTask* PopupTop();

// A requester's watch over the popup it waits on. A popup that goes without
// an answer because a close took it tells nobody, so the requester looks for
// itself: once after the popup's start, then on a timer while it stands. One
// whose build failed tells its requester why (PopupFailed).
struct PopupWatch {
  TskmanRef popup;        // the popup waited on; its task is null when none
  TskmanTask* requester;  // receives the watch's messages
  TskmanTimer* timer;
  uint32_t serial;  // tells this watch's messages from an earlier one's
  // Once gone: the failed build's result (for one that could not be built
  // for want of memory a no-memory result), 0 when a close took it.
  Result failure;
};
constexpr uint32_t kPopupWatchMs = 500;

// Watches the popup just opened for `requester`.
void PopupWatchStart(PopupWatch* watch, TskmanTask* requester);
// The popup answered or was given up: the watch ends and its messages
// still queued are dropped.
void PopupWatchStop(PopupWatch* watch);
// The requester hands its PopupCheck, PopupGone, PopupFailed and timer
// messages here; true once the popup is known to have gone without an
// answer (the watch has then ended, its failure said).
bool PopupWatchGone(PopupWatch* watch, uint32_t message, uintptr_t arg1, uintptr_t arg2);

Result PopupTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// The soft-key callbacks of message and confirm popups.
void PopupConfirmYes(PwlControl* control, uintptr_t request);
void PopupConfirmNo(PwlControl* control, uintptr_t request);
void PopupMessageDone(PwlControl* control, uintptr_t request);

// One line of text at most `width` pixels: how many characters to draw and
// how many to step over (never 0 while text remains).
void PopupBreakLine(const FontInstance* font, const char16_t* text, int32_t width,
                    uint32_t* draw, uint32_t* advance);

// Builders, used by the popup task on its start message.
Result PopupBuildMessage(PopupRequest* request);
Result PopupBuildConfirm(PopupRequest* request);
Result PopupBuildList(PopupRequest* request);
Result PopupOpenEditor(PopupRequest* request);
