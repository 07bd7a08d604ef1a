// The status indicator (module 82): the handset's status icons and the
// page's advertisement image. It is started and stopped with the services.
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace StatusMsg {
constexpr uint32_t Started = 0x5200, Stop = 0x5201;
constexpr uint32_t Indicator = Msg(Mod::Stat, 0x00);   // {indicator kind, value}
constexpr uint32_t AdverImage = Msg(Mod::Stat, 0x07);  // {0, image}: the task keeps the image
constexpr uint32_t AdverNone = Msg(Mod::Stat, 0x08);   // {0, none}: no advertisement image
}
// Indicator kinds.
namespace StatusKind {
constexpr uint32_t Push = 4;
}
constexpr uint32_t kStatusKinds = 16;
constexpr Result kStatusNoMemory = 0x80520001;

// Creates the task, which answers 0x5200 on its start message; 0x80520001
// when memory runs out (no answer then).
Result StatusCreateTask(TskmanTask* requester);
// Sends 0x5201 to the task, which removes itself; no answer.
void StatusStopTask(TskmanTask* requester);

// The value last set for an indicator kind (code bitwise-or level), 0 when
// none was or there is no task.
uint32_t StatusGetIndicator(uint32_t kind);
// The advertisement image the task keeps, or null.
void* StatusGetImage();
// How a kept image is released when it is replaced or the task ends; the
// owner of the image type installs it. Null restores the default, which
// frees the image's one block.
using StatusImageRelease = void (*)(void* image);
void StatusSetImageRelease(StatusImageRelease release);
