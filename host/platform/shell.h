// The host services the engine calls by name: screen geometry and repaint,
// the engine tick, message boxes, the time hooks, and the settings the skin
// hands to the browser view.
#pragma once
#include <cstdint>

// Frame buffer: top-down RGB565, `pitch` pixels to a row (width rounded up
// to a multiple of 4).
struct ShellScreen {
  int32_t width;
  int32_t height;
  int32_t pitch;
  uint16_t* pixels;
};

void ShellSetScreenGeometry(int32_t width, int32_t height, uint16_t* pixels);
const ShellScreen& ShellGetScreen();
// Clamps right and bottom to the screen and repaints the inclusive rectangle.
void ShellInvalidateScreen(int32_t left, int32_t top, int32_t right, int32_t bottom);

int ShellStartTick();
void ShellStopTick();
void ShellSuspendTick(bool suspended);
bool ShellTickSuspended();

void HostMessageBox(const char* text);
void HostMessageBoxTitled(const char* title, const char* text);

void ShellSetSoftKeyMode(int softKeys, int swap);
void ShellGetSoftKeyMode(int* softKeys, int* swap);
void ShellSetScrollStep(int32_t step);
int32_t ShellGetScrollStep();
// The handset's hooks that the emulator answers without doing anything (the
// hand-overs of content go through host/platform/handover.h).
int32_t ShellStubSaveVcard(uintptr_t, uintptr_t, uintptr_t, uintptr_t);         // 0
int32_t ShellStubQuery3(uintptr_t item, uintptr_t length, uintptr_t digit);     // 0
int32_t ShellStubRcellOn();                                                     // 1
int32_t ShellStubRcellOff();                                                    // 1
int32_t ShellStubAccept(uintptr_t value);                                       // 1
int32_t ShellStubCommerceLaunch(uintptr_t, uintptr_t, uintptr_t, uintptr_t);    // 0
void ShellStubSetFlags(uintptr_t, uintptr_t);
// The handset's own telephone number: none in the emulator ("").
const char* ShellGetPhoneNumber();
// The handset's hooks for a typed character, an input mode, an object and a
// busy state: the emulator has nothing to do for them.
void ShellStubKeyChar(uint32_t character);
void ShellStubSetMode(uint32_t mode);
void ShellStubObjectHook();
void ShellNotifyBusy(uint32_t flag);

struct LibcTm;
int ShellTimeHook(LibcTm* tm);
int32_t ShellTimeZoneSeconds();
int64_t ShellNow();

// The skin's handset key map: up to 12 pairs {key code, value}.
constexpr int kShellKeyMapSize = 12;
bool ShellKeyMapAdd(uint32_t code, uint16_t value);
uint16_t ShellKeyMapLookup(uint32_t code);
void ShellKeyMapClear();
