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

// The segmented messages just delivered (services/sms/sms_completed.cpp):
// each with its reference, sender and count and a sum of every segment's
// bytes as its record held them (segment 1 with its header), for as long as
// an unfinished message waits. A full table gives up its oldest; without
// memory a message is not remembered.
uint32_t SmsSegmentSum(const uint8_t* bytes, uint32_t length);
void SmsRememberCompleted(SmsState* state, uint16_t reference, const char* sender, uint8_t total,
                          const uint32_t* sums);
// Whether the segment is one of a message just delivered, the same bytes
// under the same sequence.
bool SmsIsCompletedCopy(const SmsState* state, uint16_t reference, const char* sender,
                        uint8_t total, uint8_t seq, uint32_t sum);
// One ageing pass; answers whether any are still remembered.
bool SmsAgeCompleted(SmsState* state);
void SmsForgetCompleted(SmsState* state);
// A segment lost before the routing took it in: its message is counted lost
// once, whether its record waits already or comes with a later segment.
void SmsSegmentLost(SmsState* state, const SmsInMessage* message, const SmsSegmentHeader* header,
                    const TskmanRef& app);
