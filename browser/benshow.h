// Navigation requests from controls (module 25).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct UiWindow;

// Asks the browser task (25) to navigate the browser window to an address:
// message kBenShowPageMessage (address, flags), the address borrowed from the
// window. Fails with NotFound when there is no browser task.
constexpr uint32_t kBenShowPageMessage = 0x1910;
Result BenShowPage(UiWindow* window, const char16_t* address, uint32_t flags);
