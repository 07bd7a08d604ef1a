// The SMS service (module 3): the task that carries short messages between
// the engine and the handset's network side, here the SMS datagram bridge.
//
// It takes send requests (0x384 {requester, SmsSendRequestRec}), sends each
// message through the bridge, one at a time, and answers the requester with
// 0x303 {reference text} when it went out or 0x383 {reference text, result
// code} when it did not, then 0x304. A cancel (0x385 {requester, value})
// ends the requester's requests with that value: those still waiting are
// answered with 0x304 alone, and so is the one under way when its outcome
// comes. The reference text goes to the requester with the answer.
//
// Every received message (0x3800 from the bridge or the phone) goes to the
// engine's SMS routing (services/sms/sms.h), which reassembles segmented
// messages and hands each whole one to the application task that claims it
// (0x307). The service claims the WAP pushes itself at its start: messages
// to application port 2948 go to the routing in its push class (2), which
// only that claim (kind 2) takes, and each whole push goes to push delivery
// (wappush.h). The routing's ageing timer (261 with user value 0) ages its
// reassemblies, one pass a second: a message waits a minute for its rest.
// What is still queued for the service when it stops is answered as the
// stop answers (send requests), handed on to push delivery (whole pushes),
// or freed and said (received messages).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct SmsReceived;
struct SmsState;

// The routing state where applications claim their messages
// (SmsRegisterApp); null while the service is not running.
SmsState* SmsServiceRouting();

// A received message the bridge read but the heap could not take: said as
// the routing says a message it drops for want of memory ("a pushed
// message: not enough memory" for a push), once for all the segments of a
// message, and never again as one whose rest did not come.
void SmsServiceSayLost(const SmsReceived* message);

// Creates the task; kOk, or ResultError(Sms, NoMemory).
Result SmsServiceStart();
// Posts the stop: the task answers what is still waiting with 0x383
// {reference text, kSmsServiceStopped} and 0x304, frees every record and
// ends. Nothing when it is not running.
void SmsServiceStop();
Result SmsServiceHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

namespace SmsServiceOwnMsg {
constexpr uint32_t Stop = Msg(Mod::Sms, 0x0F);
}
