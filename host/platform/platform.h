// The platform layer: everything the engine needs of the world outside.
//
// The engine libraries reach the host only through these operations. The Qt
// host installs its own set at start; tests install fakes. Every operation
// has a harmless default, so an engine without a host still runs.
#pragma once
#include <cstdint>

struct PlatformOps {
  void* ctx;
  // Repaint the inclusive rectangle of the screen window (no erase).
  void (*invalidate)(void* ctx, int32_t left, int32_t top, int32_t right, int32_t bottom);
  // Start the 50 ms engine tick: 0 on success, 1 when it cannot be set.
  int (*startTick)(void* ctx);
  void (*stopTick)(void* ctx);
  // A task-modal message box with a stop icon.
  void (*messageBox)(void* ctx, const char* title, const char* text);
  // Seconds since 1970-01-01 00:00 UTC.
  int64_t (*now)(void* ctx);
  // Minutes east of UTC of the desktop's time zone.
  int32_t (*zoneMinutes)(void* ctx);
};

// Installs a set of operations (null restores the defaults); returns the old.
const PlatformOps* PlatformInstall(const PlatformOps* ops);
const PlatformOps& Platform();
