// The engine's phases as the host sees them: the start-up task and the SMS
// datagram bridge report each change to the host's core through one
// callback, which the host's core installs itself.
#pragma once
#include <cstdint>

// One code space for the reports and for the host's own state. The start-up
// task reports the phase it was in when a phase ends (1, 2, 4, 5), and 0 and
// 3 when a phase is up; the bridge reports 6 and 7. The start-up task also
// passes on 8 and 9, which change no state.
enum class HostState : int32_t {
  Starting = -1,               // the host, before the engine's first report
  ServicesUp = 0,              // every service runs: the SMS bridge starts next
  ServicesStarting = 1,        // the start-up task starts the services
  ServicesStopping = 2,        // the start-up task stops the services
  BrowserRunning = 3,          // the browser window exists
  BrowserModulesStarting = 4,  // the start-up task starts the browser's modules
  BrowserWindowOpen = 5,       // the start-up task made the browser window
  BrowserStarting = 6,         // the bridge is up: the browser phase starts
  BridgeDown = 7,              // the bridge stopped or failed: the services stop next
  HomePageNoMemory = 8,        // the home page could not run for want of memory
  HistoryNoMemory = 9,         // the browser runs without its history, for want of memory
};

using HostStateCallback = void (*)(void* host, HostState state, uint32_t status);

// Installs the callback (null: reports go nowhere); returns the one before.
HostStateCallback HostStateInstall(HostStateCallback callback);
// A report to the host: the engine reached `state`; `host` is the block the
// host handed to the engine's start.
void HostStateChanged(void* host, HostState state, uint32_t status);
