// What the routing and the reassembly share.
#pragma once
#include <cstdint>

struct NetBufChain;
struct SmsInMessage;
struct SmsSegmentHeader;
struct SmsState;
struct TskmanRef;

// Makes the delivered record of a whole message with its data (taken in
// every case): the header is cut off unless the kind is 2. A record for a
// task that is gone, or without memory, is dropped and freed. Answers false
// when memory ran short for a task that stands.
bool SmsDeliver(const TskmanRef& app, const SmsInMessage* message, NetBufChain* data,
                uint8_t headerLength);

// Counts a message lost for want of memory, unless its task is gone: that
// message was going nowhere.
void SmsCountLost(SmsState* state, const TskmanRef& app);

// A segment lost before the routing took it in: its message is counted lost
// once, whether its record waits already or comes with a later segment.
void SmsSegmentLost(SmsState* state, const SmsInMessage* message, const SmsSegmentHeader* header,
                    const TskmanRef& app);
