// The host's settings block: cleared at start, filled from qor.ini and the
// skin, and handed to the windows and to the engine's start-up task.
#pragma once
#include <cstdint>

#include "host/fontft.h"
#include "host/platform/hoststate.h"
#include "kernel/modules.h"

struct HostRect {
  int32_t x, y, width, height;
};

constexpr int kHostUrlChars = 256;
constexpr int kHostSkinChars = 512;

struct HostSettings {
  void* mainWindow;     // the main dialog (skin)
  void* displayWindow;  // its display child (handset screen)
  HostRect display;     // display position and size inside the dialog
  int32_t largePhone;
  int32_t frameRate;
  uint32_t memoryBytes;  // engine block size
  char homeUrl[kHostUrlChars + 1];
  char skinFile[kHostSkinChars + 1];
  HostState hostState;  // Starting, ServicesUp, BrowserRunning or BrowserStarting
  bool browserUp;     // the browser window exists
  bool closePending;  // a close came while a start chain was running
  bool stopping;      // a stop chain runs: further closes are ignored
  Result startFailure;        // why the start failed (0: it did not)
  // qor.ini's [SMS] Port as written when it was not usable (another port
  // was tried in its place); empty otherwise.
  char smsPortAsked[32];
  HostState startFailureState;  // the report that brought it
  int32_t keyHandled;    // a desktop key was consumed by the key table
  int32_t repeatFired;
  int32_t pressedButton;  // -1: none
  int32_t repeatDelayMs;
  int32_t repeatIntervalMs;
  int32_t armedRepeat;   // commands of the pressed button while a repeat is armed
  int32_t armedRelease;
  int32_t armedShort;
  bool repeatArmed;
  uint16_t* frameBuffer;
  void* skinBitmap;
  int32_t softKeys;
  int32_t softKeySwap;
  int32_t scrollStep;
  int32_t skinCropRow;  // first skin row drawn (desktop shorter than the skin)
  FontSettings fonts;
};

// Clears the block; pressed button = -1.
void HostSettingsClear(HostSettings* settings);
