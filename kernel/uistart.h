// The start-up task (module 45): brings the engine's modules up one after
// another, each start triggered by the previous module's answer, and down
// again in reverse order; its last answer ends the host's main loop.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

// The result of the start-up task's last step: the main loop ends on it.
constexpr Result kUiStartFinished = ResultError(Mod::UiStart, 0x0007);
constexpr Result kUiStartNoMemory = ResultError(Mod::UiStart, Err::NoMemory);

// What the browser's phase takes at its peak, which comes after push
// reception put the kept inbox back: its history's block and back stack,
// the window's pictures (packed ones expand into blocks of up to 8 KB) and
// the script home page take some 71 KB at once (43 KB kept) at every size;
// the rest is for the blocks' headers and the splits a best fit leaves.
constexpr uint32_t kUiStartBrowserPhaseBytes = 80 * 1024;

namespace UiStartMsg {
constexpr uint32_t StopServices = Msg(Mod::UiStart, 0x80), ServicesStopped = Msg(Mod::UiStart, 0x81), ServicesUp = Msg(Mod::UiStart, 0x82),
                   ShowSplash = Msg(Mod::UiStart, 0x83), SplashDone = Msg(Mod::UiStart, 0x84), CreateBrowser = Msg(Mod::UiStart, 0x85);
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
