// The splash screen: a built-in picture centred on a white screen, shown for
// at least a given time, with a message to its task when it is done.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

#include "kernel/tskman.h"

struct UiSplash;

constexpr Result kUiSplashNoMemory = ResultError(Mod::Ui, Err::NoMemory);

// Shows "ui/splash" (done message not 0) or "ui/splash_ending" (done message
// 0) and starts a one-shot timer of `milliseconds` for the task, with the
// handle's address as the timer's user value.
Result UiSplashShow(UiSplash** handle, TskmanTask* task, uint32_t doneMessage, uint32_t milliseconds);
// The caller is ready: done now if the time is up, else when it is.
void UiSplashEnd(UiSplash** handle);
// A timer message (261) of the task; ignores timers that are not this splash's.
void UiSplashTimer(UiSplash** handle, uintptr_t timerUser, bool post);
// Stops the splash without a message; the picture stays on the screen.
void UiSplashClose(UiSplash** handle);
