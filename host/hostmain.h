// The host's entry: settings, engine block, windows, modem, engine start,
// the main loop, and the way down again.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/platform/hoststate.h"
#include "kernel/modules.h"

struct HostSettings;

// What the window system provides to the entry routine.
struct HostShellOps {
  void* ctx;
  // Creates the main window (and, with a skin, the display window), not yet
  // shown; false when it cannot.
  bool (*createWindows)(void* ctx, HostSettings* settings);
  // Shows them: once the start has passed the modem and the bridge.
  void (*showWindows)(void* ctx);
  void (*destroyWindows)(void* ctx);
  bool (*pumpMessages)(void* ctx);
  void (*sleep)(void* ctx, int32_t milliseconds);
  bool (*quitRequested)(void* ctx);
};

// Results of the entry routine besides the last step's result.
constexpr Result kHostNoEngineBlock = 0x80000001;
constexpr Result kHostNoWindow = 0x80000002;

// Runs the whole host; returns the last step's result or a failure. A start
// that failed is told in a message box and returned as its failure.
Result HostMain(const HostShellOps& ops);

// The process exit status for HostMain's result: 0 for a run that ended as
// asked, saved every file at its stop, and had the memory for its history and
// for its home page whenever it ran it, 1 otherwise.
int HostExitStatus(Result result);

// The text of the box shown when no skin could be loaded.
extern const char kHostNoSkinText[];

// The settings block of the running host (null outside HostMain).
HostSettings* HostCurrentSettings();

// The main window was asked to close: what happens depends on the host state.
void HostOnClose(HostSettings* settings);
// The engine's report of a phase change, or that the home page could not
// run or the history could not be held for want of memory (each said once a
// run on standard error, with a size to raise [Memory] Size to); HostMain
// installs it for its run.
void HostOnStateChanged(void* host, HostState state, uint32_t status);

// What the user is told when the start failed (settings->startFailure): the
// bridge's port taken, or the engine or browser short of memory.
void HostStartFailureText(const HostSettings* settings, char* text, size_t size);

// The engine's frame buffer, made when the main window is set up: white,
// RGB565, rows of the screen's pitch.
uint16_t* HostCreateFrameBuffer(HostSettings* settings);
void HostFreeFrameBuffer(HostSettings* settings);
