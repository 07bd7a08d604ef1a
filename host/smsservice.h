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
// Received messages (0x3800 from the bridge or the phone) to application
// port 2948 are WAP pushes for push delivery (wappush.h), segmented ones
// reassembled first; every other message goes to the engine's SMS routing
// (services/sms/sms.h), which hands it to the application task that claims
// it. The routing's ageing timer (261 with user value 0) ages its
// reassemblies.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct SmsState;

// The routing state where applications claim their messages
// (SmsRegisterApp); null while the service is not running.
SmsState* SmsServiceRouting();

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
// The user value of the service's own ageing timer for pushes in segments
// (one pass a second).
constexpr uintptr_t kSmsPushAgeingTimer = 1;
constexpr uint32_t kSmsPushAgeingMs = 1000;
// The pushes in segments waiting for their rest (for the tests).
uint32_t SmsServicePendingPushes();
