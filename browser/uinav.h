// The browser window's navigation: an address the window is sent is loaded
// as a page through the window's own URL task, or, when it names a script
// function ("URL#function(arguments)"), handed to the script task with the
// current page as the referring request.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct UiWindow;
struct TskmanTask;
struct UrlRequestRec;

// Starts the window's URL task and session, owned by the UI task.
Result UiNavOpen(UiWindow* window, TskmanTask* self);
// Finishes the page and the load under way and stops the URL task.
void UiNavClose(UiWindow* window);
// Takes the 8-bit address (MemAlloc'd) and goes there; relative addresses
// resolve against the current page.
void UiNavigate(UiWindow* window, char* address);
// The fetch layer's messages about the window's loads; false for others.
bool UiNavEvent(UiWindow* window, uint32_t message, uintptr_t arg1, uintptr_t arg2);
// The request of the page shown, or null.
UrlRequestRec* UiNavCurrentRequest(const UiWindow* window);
