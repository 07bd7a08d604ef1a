// The browser window's command entry: handset commands from the host's keys
// and skin buttons.
#pragma once
#include <cstdint>

namespace UiCmd {
constexpr int32_t Select = 1, Deselect = 2, Next = 3, Previous = 4, Up = 5, Down = 6,
                  NextList = 7, PreviousList = 8, Soft1 = 9, Soft2 = 10, Tap = 11, Home = 12,
                  Info = 13, Notify = 14, PageUp = 15, PageDown = 16, Back = 21, Release = 25,
                  Char = 27, End = 31;
}

// Hands a handset command with its argument to the browser window.
void UiCommand(int32_t command, uintptr_t argument);

