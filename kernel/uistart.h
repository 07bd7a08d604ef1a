// The start-up task (module 45): brings the engine's modules up one after
// another, each start triggered by the previous module's answer, and down
// again in reverse order; its last answer ends the host's main loop.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

// The result of the start-up task's last step: the main loop ends on it.
constexpr Result kUiStartFinished = 0x802d0007;
constexpr Result kUiStartNoMemory = 0x802d0001;

namespace UiStartMsg {
constexpr uint32_t StopServices = 0x2D80, ServicesStopped = 0x2D81, ServicesUp = 0x2D82,
                   ShowSplash = 0x2D83, SplashDone = 0x2D84, CreateBrowser = 0x2D85;
}

// Starts the task manager and the start-up task; `host` comes back in every
// HostStateChanged report.
Result HostStartEngine(void* host);
// After the main loop: the task manager shuts down, the cache empties.
void HostStopEngine();
// Asks the start-up task to stop the services; nothing when it is gone.
void UiStopServices();
// Tells the browser window to end the browser phase.
void UiSendEndKey();
// Starts the browser phase with the home URL.
Result UiStartBrowser(const char* homeUrl);
