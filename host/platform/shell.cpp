#include "host/platform/shell.h"

#include "host/platform/hoststate.h"
#include "host/platform/platform.h"

namespace {
ShellScreen gScreen{};
bool gTickSuspended = false;
int gSoftKeys = 0;
int gSoftKeySwap = 0;
int32_t gScrollStep = 0;

struct KeyPair {
  uint32_t code;
  uint16_t value;
};
KeyPair gKeyMap[kShellKeyMapSize];
int gKeyMapCount = 0;
HostStateCallback gStateCallback = nullptr;
}  // namespace

void ShellSetScreenGeometry(int32_t width, int32_t height, uint16_t* pixels) {
  gScreen.width = width;
  gScreen.height = height;
  gScreen.pitch = (width + 3) & ~3;
  gScreen.pixels = pixels;
}

const ShellScreen& ShellGetScreen() { return gScreen; }

void ShellInvalidateScreen(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (right > gScreen.width - 1) right = gScreen.width - 1;
  if (bottom > gScreen.height - 1) bottom = gScreen.height - 1;
  const PlatformOps& ops = Platform();
  ops.invalidate(ops.ctx, left, top, right, bottom);
}

int ShellStartTick() {
  const PlatformOps& ops = Platform();
  return ops.startTick(ops.ctx);
}

void ShellStopTick() {
  const PlatformOps& ops = Platform();
  ops.stopTick(ops.ctx);
}

void ShellSuspendTick(bool suspended) { gTickSuspended = suspended; }
bool ShellTickSuspended() { return gTickSuspended; }

void HostMessageBoxTitled(const char* title, const char* text) {
  const PlatformOps& ops = Platform();
  ops.messageBox(ops.ctx, title, text);
}

HostStateCallback HostStateInstall(HostStateCallback callback) {
  HostStateCallback old = gStateCallback;
  gStateCallback = callback;
  return old;
}

void HostStateChanged(void* host, HostState state, uint32_t status) {
  if (gStateCallback) gStateCallback(host, state, status);
}

void HostMessageBox(const char* text) { HostMessageBoxTitled("Emulator Message", text); }

void ShellSetSoftKeyMode(int softKeys, int swap) {
  gSoftKeys = softKeys;
  gSoftKeySwap = swap;
}

void ShellGetSoftKeyMode(int* softKeys, int* swap) {
  *softKeys = gSoftKeys;
  *swap = gSoftKeySwap;
}

void ShellSetScrollStep(int32_t step) { gScrollStep = step; }
int32_t ShellGetScrollStep() { return gScrollStep; }
int32_t ShellStubSaveVcard(uintptr_t, uintptr_t, uintptr_t, uintptr_t) { return 0; }
int32_t ShellStubQuery3(uintptr_t, uintptr_t, uintptr_t) { return 0; }
int32_t ShellStubRcellOn() { return 1; }
int32_t ShellStubRcellOff() { return 1; }
int32_t ShellStubAccept(uintptr_t) { return 1; }
int32_t ShellStubCommerceLaunch(uintptr_t, uintptr_t, uintptr_t, uintptr_t) { return 0; }
void ShellStubSetFlags(uintptr_t, uintptr_t) {}
const char* ShellGetPhoneNumber() { return ""; }
void ShellStubKeyChar(uint32_t) {}
void ShellStubSetMode(uint32_t) {}
void ShellStubObjectHook() {}
void ShellNotifyBusy(uint32_t) {}

// Daylight saving is never in force on the handset's clock.
int ShellTimeHook(LibcTm*) { return 0; }

int32_t ShellTimeZoneSeconds() {
  const PlatformOps& ops = Platform();
  return ops.zoneMinutes(ops.ctx) * 60;
}

int64_t ShellNow() {
  const PlatformOps& ops = Platform();
  return ops.now(ops.ctx);
}

// The skin adds at most twelve pairs; further ones are refused, not written
// past the table.
bool ShellKeyMapAdd(uint32_t code, uint16_t value) {
  if (gKeyMapCount >= kShellKeyMapSize) return false;
  gKeyMap[gKeyMapCount++] = {code, value};
  return true;
}

uint16_t ShellKeyMapLookup(uint32_t code) {
  for (int i = 0; i < gKeyMapCount; ++i)
    if (gKeyMap[i].code == code) return gKeyMap[i].value;
  return 0;
}

void ShellKeyMapClear() { gKeyMapCount = 0; }
