// The browser window's UI task (module 19).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

namespace UiMsg {
constexpr uint32_t Command = 0x1301;       // {command, argument}, to the UI task
constexpr uint32_t BrowserEnded = 0x1304;  // to the start-up task
// To the start-up task: the home page could not run for want of memory.
constexpr uint32_t HomePageNoMemory = 0x1305;
// To the start-up task: memory could not hold the history; the browser runs
// without it, and what it would have kept this run is not kept.
constexpr uint32_t HistoryNoMemory = 0x1306;
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
// Whether the address is the browser window's home page (the address it
// was created with); false without a window.
bool UiIsHomeAddress(const char* address);
// Tells the start-up task that a load or run of the home page failed for
// want of memory; the host says so.
void UiHomePageNoMemory();
