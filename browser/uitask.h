// The browser window's UI task (module 19).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

namespace UiMsg {
constexpr uint32_t Command = 0x1301;       // {command, argument}, to the UI task
constexpr uint32_t BrowserEnded = 0x1304;  // to the start-up task
// {PwlWindow** out}, sent: the content window, made first if need be.
constexpr uint32_t GetContentWindow = 0x1302;
}

// Creates the browser window context and its UI task with the home URL; 0 on
// success.
Result UiCreate(const char* homeUrl);
// Clears the back-key and menu-key locks that pages set.
void UiResetKeyLocks();
bool UiBackKeyDisabled();
bool UiMenuKeyDisabled();
