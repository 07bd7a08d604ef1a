// Push reception (module 69): receives pushed messages for the inbox. For
// now it is started and stopped with the services, and drops every push it
// is told of: it frees the URL and the pushed object.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

#include "kernel/tskman.h"

namespace NotifyMsg {
// {URL text, 0}: a pushed object waits in the cache under that URL, locked
// there (UrlFlag::Kept) until push reception is done with it. The task owns
// the text (engine memory).
constexpr uint32_t Push = Msg(Mod::Notify, 0x00);
constexpr uint32_t Stop = Msg(Mod::Notify, 0x05), Stopped = Msg(Mod::Notify, 0x06), Started = Msg(Mod::Notify, 0x07);
}
constexpr Result kNotifyNoMemory = ResultError(Mod::Notify, Err::NoMemory);

// Creates the task, which answers 0x4507 to the requester when started;
// 0x80450001 when it cannot be created (no answer then).
Result NotifyStartTask(TskmanTask* requester);
// Marks the task as stopping and posts 0x4505 to it; it answers 0x4506 to
// the task that started it.
void NotifyStopTask();
