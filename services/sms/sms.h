// The engine's short-message layer (module 3): received messages are routed
// to the application task that claims them, segmented ones reassembled
// first; text messages are handed to the SMS service task for sending.
//
// The SMS service task (outside the engine) calls SmsRoute for every
// message it receives, SmsAge on the ageing timer SmsStartTimer starts for
// it (message 261 with user value 0), and serves the send (0x384) and
// cancel (0x385) requests of services/smsmsg.h.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/tskman.h"
#include "services/smsmsg.h"

// A received message as the SMS service hands it over; the routing reads it
// and copies what it delivers.
struct SmsInMessage {
  uint32_t source;
  uint32_t kind;  // 0 a text message; 2 the user-data header is kept
  const char* sender;
  uint8_t dataLength;
  uint8_t headerLength;  // the user-data header leads the data
  const uint8_t* data;
  uint32_t cls;
  uint32_t port;  // low 16 bits
};

// The concatenation header of one segment.
struct SmsSegmentHeader {
  uint16_t reference;
  uint8_t total;     // 0 or 1: a message of its own
  uint8_t sequence;  // from 1
};

struct SmsReassembly;

// An application's claim on incoming messages: kind 0 serves text messages
// (pattern compared without regard to ASCII case), kind 1 every other kind,
// kind 2 segments and messages whose header is kept.
constexpr uint32_t kSmsPatternMax = 16;
struct SmsAppRegistration {
  SmsAppRegistration* next;
  TskmanRef task;  // named as it claims: a claim can outlive its task
  uint32_t kind;
  int8_t offset;  // bytes after the user-data header
  int8_t length;
  uint8_t pattern[kSmsPatternMax];
};

// A segmented message whose reassembly record could not be made, or that
// was given up as its wait ended: its other segments are the same loss for
// as long as a record would have waited for them. The field holds every
// sender the phone or the bridge gives (an address length is one byte); a
// longer one is not remembered.
constexpr uint32_t kSmsUnrecordedSender = 256;
struct SmsUnrecorded {
  char sender[kSmsUnrecordedSender];
  uint16_t reference;
  uint8_t total;
  int32_t lifetime;  // 0: none
};
// Messages remembered so at once: more, interleaved, may be counted again.
constexpr uint32_t kSmsUnrecordedMax = 4;

// A segmented message just delivered, remembered for a wait so that a
// segment of it sent again is not taken for another message.
struct SmsCompleted;
// Messages remembered so at once: a copy of an older one is taken for a
// message of its own, and said unfinished as its wait ends.
constexpr uint32_t kSmsCompletedMax = 8;

// Told of a message whose rest never came, as its wait ends or as the
// routing is freed: its sender, how many of its segments came and of how
// many, and the task that claimed it. A message already counted lost for
// want of memory, or whose task is gone, is not told; nor is one that held
// only segments sent again of messages just delivered.
using SmsUnfinishedFn = void (*)(const char* sender, uint32_t came, uint32_t total,
                                 const TskmanRef& app);

struct SmsState {
  Queue reassemblies;  // SmsReassembly records
  SmsAppRegistration* registrations;
  TskmanTimer* timer;  // the pending ageing timer, or null
  // Received messages dropped for want of memory, each counted once, as
  // its first segment is lost: the service says each loss.
  uint32_t lostShortOfMemory;
  SmsUnrecorded unrecorded[kSmsUnrecordedMax];
  SmsCompleted* completed[kSmsCompletedMax];
};

// The SMS service names who is told of messages given up (null: nobody).
void SmsOnUnfinished(SmsUnfinishedFn told);

// Ageing passes a reassembly waits for its next segment.
constexpr int32_t kSmsLifetime = 60;
constexpr uint32_t kSmsAgeingMs = 30;

// Application claims: kOk, ResultError(Sms, NoMemory) or BadArg for a
// pattern longer than kSmsPatternMax. The last registration comes last.
Result SmsRegisterApp(SmsState* state, TskmanTask* task, uint32_t kind, int8_t offset,
                      const uint8_t* pattern, uint8_t length);
// Drops every claim of the task.
void SmsUnregisterApp(SmsState* state, TskmanTask* task);

// The claiming task (whether or not it still stands), or null. A message
// dropped for want of memory raises state->lostShortOfMemory, once for all
// its segments.
TskmanTask* SmsRoute(SmsState* state, const SmsInMessage* message);
// A message the SMS service could not take in for want of memory before it
// reached the routing: counted as the routing counts its own losses, once
// for all the segments of a message (whose record, if one waits, is then
// not told unfinished). Answers the claiming task, as SmsRoute does; a
// message nobody claims is not counted.
TskmanTask* SmsRouteLost(SmsState* state, const SmsInMessage* message);
TskmanRef SmsFindAppByContent(SmsState* state, const SmsInMessage* message);
// A count of 0 takes the first record of the reference and sender, whatever its
// count.
TskmanRef SmsFindReassemblyApp(SmsState* state, uint16_t reference, const char* sender,
                               uint8_t total = 0);
void SmsOnSegment(SmsState* state, const SmsInMessage* message, const SmsSegmentHeader* header,
                  const TskmanRef& app);
void SmsReassemble(SmsState* state, const SmsInMessage* message, const SmsSegmentHeader* header,
                   const TskmanRef& app);
// Starts the ageing timer for the SMS service task when none is pending;
// when none can start, the messages remembered as lost without a record
// and those just delivered are forgotten.
void SmsStartTimer(SmsState* state);
// One ageing pass, on the timer: every reassembly loses one from its
// lifetime and those that reach 0 are told (SmsOnUnfinished) and freed
// with what they gathered; so do the messages remembered as lost without a
// record and those just delivered. The timer is then forgotten (it was
// one-shot) and started again while any remains.
// Answers the number of reassemblies left.
uint32_t SmsAge(SmsState* state);
uint32_t SmsReassemblyCount(const SmsState* state);
// Tells each reassembly still waiting (SmsOnUnfinished) and frees it, frees
// every registration, forgets the messages lost without a record and those
// just delivered, and cancels the timer.
void SmsStateFree(SmsState* state);

// A delivered record with its data chain.
void SmsMessageFree(SmsMessage** message);

// Hands a text message to the SMS service task (module 3), which takes the
// request over; without a message or memory the requester is answered 0x383
// at once. The reference text is taken in every case.
void SmsSendRequest(TskmanTask* requester, char16_t* reference, uint32_t value,
                    SmsMessage* message);
void SmsCancelRequest(TskmanTask* requester, uint32_t value);

// The answer of a send request when no SMS service task stands.
constexpr Result kSmsNoService = ResultError(Mod::Sms, Err::NotFound);
