// What the host's windows make of the mouse and the keyboard: skin buttons
// with their long-press repeat, and desktop keys, as handset commands.
#pragma once
#include <cstdint>

struct HostSettings;

// The desktop keys the display window gives a meaning to.
enum class HostKey {
  Other, F2, F3, F4, F8, F9, Home, End, Enter, Left, Right, Up, Down, PageUp, PageDown,
  Delete, Backspace, NumpadMultiply, Digit3, Digit8
};

// The window services the input handling needs; the Qt windows provide them.
struct HostInputOps {
  void* ctx;
  void (*startRepeatTimer)(void* ctx, int32_t milliseconds);  // (re)starts the one timer
  void (*stopRepeatTimer)(void* ctx);
  void (*drawButton)(void* ctx, int32_t index, bool pressed);
  void (*captureMouse)(void* ctx, bool capture);
  void (*openLanguageDialog)(void* ctx);
};

void HostInputInstall(const HostInputOps* ops);

// Main window: the left button went down (or double-clicked) at a point of
// the skin; the repeat timer fired; the button went up or the capture was
// lost.
void HostButtonDown(HostSettings* settings, int32_t x, int32_t y, bool doubleClick);
void HostRepeatTimer(HostSettings* settings);
void HostButtonUp(HostSettings* settings, bool captureLost);

// Display window: key down and up, a typed character, a click released.
void HostKeyDown(HostSettings* settings, HostKey key, bool shift);
void HostKeyUp(HostSettings* settings, HostKey key);
void HostCharTyped(HostSettings* settings, char32_t ch);
void HostDisplayTap(HostSettings* settings, int32_t x, int32_t y);
