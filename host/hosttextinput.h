// The main window's side of the text-input window: the user confirmed or
// cancelled, and the open session gets the answer.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

// Done (the "OK" button or Enter, flag 1): a text window's text goes to
// InputSessionSubmitText, a list's chosen items to InputSessionSubmitList;
// with the flag set and the submission accepted, the session is closed.
// Returns the submission's result (0 when no window is open).
Result HostTextInputDone(int32_t flag);
// Cancelled ("Cancel" or Escape): the session is cancelled and closed.
void HostTextInputCancelled(int32_t flag);
// The window took the focus, or went: the browser view's title line says
// "typing" (UI string 13, 2) or "edit" (13, 3). Nothing without a browser
// window.
void HostTextInputFocused();
void HostTextInputGone();
