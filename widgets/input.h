// The text-input session (module 48): text for a control is typed in the
// host's text-input window, never on the handset screen. The session opens
// that window for its owner, checks what the user confirms against the
// field's WML input mask or maximum length, and delivers it; the toolkit is
// modal while a session is open.
//
// An input mask is a sequence of elements: a format code (A a N n X x M m)
// or "\c" (the literal c) governs one position; "*" followed by a code or
// "\c" governs every remaining position and a digit 1-9 followed by one
// governs that many; either of those two must end the mask.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "kernel/tskman.h"

struct PwlControl;

namespace InputErr {
constexpr Result NullSession = 0x80308000;
constexpr Result NoOwner = 0x80308002;
constexpr Result TooLong = 0x80308004;
// The host's text-input window did not open.
constexpr Result NoWindow = 0x80308005;
// The edit box's answer when no session could be opened; also a session or a
// copy of the text that memory could not hold.
constexpr Result CannotOpen = 0x80300001;
// The mask's own results are the toolkit's: a text that does not match,
// a position past the end of the mask, a mask that does not parse.
constexpr Result Mismatch = 0x802a0002;
constexpr Result PastEnd = 0x802a8003;
constexpr Result BadMask = 0x802a8019;
}  // namespace InputErr

// Bits of the mode word besides its low byte, the kind of window.
namespace InputMode {
constexpr uint32_t AcceptEmpty = 0x200, RefuseEmpty = 0x400;
}

// What a mask element accepts: the eight format codes in order, then a literal.
namespace InputClass {
constexpr uint32_t Upper = 0, Lower = 1, Digit = 2, DigitOrSign = 3, UpperOrDigit = 4,
                   LowerOrDigit = 5, Any = 6, AnyLower = 7, Literal = 8;
}

constexpr uint32_t kInputSessionUse = 29;

struct InputSession {
  uint32_t mode;       // the text-input window's mode word
  uint32_t maxLength;  // characters; 0: no limit
  const char16_t* mask;  // borrowed from the owner, which outlives the session; or null
  void* editor;          // the open text-input window, null once closed
  TskmanTask* ownerTask;  // gets the result as events instead of a control (popups)
  PwlControl* ownerControl;
  uint32_t closed;
  // The owner's pointer to this session, nulled when the session closes so
  // that the owner never holds a freed session.
  InputSession** ownerSlot;
};

// Opens the host's window over the control with the title (the window's
// argument), the initial text, the mask, the mode and the maximum length, in
// the order the edit box and the window take them. Null when there is no
// memory (`why`, when given, takes CannotOpen) or no window (NoWindow).
InputSession* InputSessionOpen(PwlControl* owner, const char16_t* title, const char16_t* text,
                               const char16_t* mask, uint32_t mode, uint32_t maxLength,
                               Result* why = nullptr);
// Registers the owner's pointer to the session (see ownerSlot).
void InputSessionSetOwnerSlot(InputSession* session, InputSession** slot);
// Checks the confirmed text and delivers a copy: to the owner task as 0x2a03,
// else to the owner control as message 19 and then a redraw. A text that
// fails its checks is not delivered and the session stays open.
Result InputSessionSubmitText(InputSession* session, const char16_t* text);
// Delivers the chosen items of a list (count 32-bit values).
Result InputSessionSubmitList(InputSession* session, uint32_t count, const uint32_t* items);
// Tells an owner task (0x2a0c); a control learns of it only through the close.
Result InputSessionCancel(InputSession* session);
// Redraws the owner control and deselects it, lowers the modal mark, closes
// the window and frees the session. The control's redraw result.
Result InputSessionClose(InputSession* session);

// 1 when the UTF-16 unit lies in the general category (InputCat), else 0.
int InputCharInClass(char16_t ch, uint32_t category);
// 1 when the mask parses (a null or empty mask does), else 0.
int InputMaskIsValid(const char16_t* mask);
// The element governing position p: its class, its literal, and whether the
// mask requires characters after p. PastEnd or BadMask.
Result InputMaskCheck(const char16_t* mask, uint32_t position, uint32_t* cls, char16_t* literal,
                      uint32_t* more);
// 1 when the character may stand at the position; a mask that does not parse
// there lets it pass.
int InputMaskCharOk(const char16_t* mask, char16_t ch, uint32_t position, uint32_t* more);
// 0 when the whole text matches (an invalid or null mask matches every
// text), else Mismatch.
Result InputMaskValidate(const char16_t* mask, const char16_t* text, uint32_t mode);
