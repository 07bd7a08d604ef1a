// The kept push messages outlive the emulator: push reception writes them
// into the settings section "inbox" when it stops and puts them back into
// the cache and the kept list when it starts.
#pragma once
#include <cstdint>

#include "kernel/config.h"
#include "kernel/sstore.h"

struct UrlLoad;
struct PushRecord;

constexpr char kNotifyStoreSection[] = "inbox";

// A message lost for want of memory on its way to the inbox is said as
// what happened, no save's failure: "a pushed message: not enough memory"
// for a push, "a received message: ..." for any other short message. A
// burst is counted, not said a line each: a loss in a second with no loss
// said yet is said at once with those counted before it ("576 pushed
// messages: ..."); the others wait for the next such loss or for
// NotifySayLostCount, which the stops of push reception and of the
// short-message services call. Saying needs no memory.
void NotifySayLost(bool pushed);
void NotifySayLostCount();
// Messages the emulator stopped before taking, said the same way: "a
// pushed message: the emulator stopped before it was taken", or "<count>
// received messages: ... before they were taken". A count of 0 says nothing.
void NotifySayStoppedFirst(bool pushed = true, uint32_t count = 1);

// A connectivity message keeps its document (content type, headers and
// body) beside its record while that document takes at most
// kNotifyStoreDocLimit bytes in the section, and while the documents of the
// whole inbox stay within kNotifyStoreDocBudget bytes, taken in list order:
// the section shares its storage class's quota (8000 bytes unless the host
// sets another) with the repository and local content (see below). A message whose
// document does not fit is kept by its name alone, as an inbox written
// before documents were kept holds it, and comes back with an empty object.
constexpr uint32_t kNotifyStoreDocLimit = 2048;
constexpr uint32_t kNotifyStoreDocBudget = 4096;

// The documents are copies of what the running inbox holds, and never cost
// local content or a channel its store: a save of the class file that would
// pass the quota drops them first (the settings store's spare values; the
// services install this with their rows). Their messages come back by name.
// They give way one at a time, the oldest message's first, and those of
// messages the start could not put back (below) last: the file alone holds
// them. The rank for the settings store: 0 for a value that is no document.
uint32_t NotifyStoreSpare(const char* key, uint32_t keyLength);
// A document dropped so: one of a message the start missed is held in
// memory for the stop's save (when the heap has room for it).
void NotifyStoreSpareDropped(const char* key, uint32_t keyLength, const uint8_t* value,
                             uint32_t valueLength);

// The stored messages a start did not put back: every one when the section
// could not be read, else those the heap could not hold then. The next
// write keeps them where the inbox lists them, so an inbox that did not come
// back whole is never written over; but first the SI and SL records the
// rules met meanwhile reach them as they would have reached them in the
// inbox: a missed message one of those or a listed message replaces (an SI
// delete among them) stays out, and a listed one that a missed one would
// have kept out goes.
struct NotifyStoreRuled;
struct NotifyStoreHeld;
struct NotifyStoreMissed {
  uint8_t* bits;   // bit i: stored message i; null when none was missed
  uint32_t count;  // the stored messages the bits cover
  uint32_t all;    // every stored message
  NotifyStoreRuled* ruled;  // the records the rules met since the start
  NotifyStoreHeld* held;    // their documents the file gave up since
  // The listed messages alone passed what the section holds, first at a
  // message of level pastBelow - 1 (0: they did not): the missed ones of a
  // level up to that, which the inbox lists after it, are past the section
  // too. The write counts them and writes none; and no record is noted any
  // longer, so that the rules a burst meets hold no memory.
  uint32_t pastBelow;
};
void NotifyStoreMissedClear(NotifyStoreMissed* missed);
// Holds a copy of stored document i, which the file gives up (once: a
// save that gave it up and failed leaves it in the file to give up again).
void NotifyStoreHold(NotifyStoreMissed* missed, uint32_t i, const uint8_t* value,
                     uint32_t length);
// The number of a document's key ("d<n>"); false for another key.
bool NotifyStoreDocNumber(const char* key, uint32_t keyLength, uint32_t* n);
// Whether stored message i is one the start missed.
bool NotifyStoreIsMissed(const NotifyStoreMissed* missed, uint32_t i);
// The same for the running push reception (false when it does not run).
bool NotifyStoredMissed(uint32_t i);
// The missed messages the file holds (when all were missed, their number is
// not known: those whose documents are held); and of those, the ones whose
// documents only memory holds now.
uint32_t NotifyStoreMissedCount(const NotifyStoreMissed* missed);
uint32_t NotifyStoreHeldCount(const NotifyStoreMissed* missed);
// Notes a copy of a record the rules met, while anything is missed. Of the
// records of one message only those that may reach further are noted.
// Without memory it is not noted: a message it kept still takes a missed
// one's place at the save (the listed messages meet the missed ones there
// too), but a delete, or a record whose message has left the inbox since,
// does not reach them then.
void NotifyStoreNoteRuled(NotifyStoreMissed* missed, const PushRecord* record);

// Clears the open section and writes the listed messages in list order
// (push messages with their record; with `documents`, connectivity
// messages with their document where it fits), and among them the stored
// ones the start missed as they were stored (their documents too, with
// `documents` and while they fit), where the inbox would list them: each
// after the listed ones of its level and of higher ones, which came later,
// in the order the section held them. The last push serial given goes with
// them. Without memory to hold the missed ones meanwhile, or to mark them
// as written, kNotifyNoMemory before anything changes.
// The first ones in that order (the newest listed first) are written: at
// most `limit`, and no more than the section takes within what a section
// holds and the class file's quota leaves it (ConfigRoom), counted from
// their sizes before anything is written; documents only in the room the
// messages leave.
constexpr uint32_t kNotifyStoreMostWritten = kStoreMaxValue / 16;  // no entry takes less
struct NotifyStoreWritten {
  uint32_t documentBytes;  // what the documents written take
  uint32_t messages;       // the messages written
  uint32_t listed;         // of those the listed ones
  // Bit n: message n written is one the start missed (of the first
  // kNotifyStoreMostWritten); null when none was. Taken only while there
  // are missed ones to write, the caller frees it (MemFree) once the save
  // no longer numbers them.
  uint8_t* missed;
  uint32_t wanted;         // the messages there were to write
  uint32_t planned;        // those chosen to be written (all of them unless it failed)
  // What left messages out: kOk none, kStoreBadArg the section's size,
  // kUbstoreOverQuota the quota, kNotifyNoMemory the limit.
  Result cutBy;
};
Result NotifyStoreWrite(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count,
                        bool documents, const NotifyStoreMissed* missed, uint32_t limit,
                        NotifyStoreWritten* written);
// The bytes the section takes whatever messages it holds, and those that
// message n (counted from 0 in the order above) takes; 0 for a message the
// inbox does not write.
uint32_t NotifyStoreFixedBytes();
uint32_t NotifyStoreMessageBytes(const UrlLoad* message, uint32_t n);
// Puts every stored message back (checked as it is read; a damaged one is
// skipped), each kept and listed again, and moves the push serial past
// every kept name. One whose record or document the heap cannot hold is
// marked in *missed (every one when there is no memory to mark them). A
// document that does not read leaves its message as one kept by name.
// The restore leaves the room NotifyStoreLeaveForStart set free in one
// piece, for what the start does after it: a message that would take it is
// missed as well, and with no room for it at all every one is.
void NotifyStoreRestore(ConfigHandle* handle, NotifyStoreMissed* missed);
// The bytes the start takes after push reception's start; 0, the default,
// where nothing follows it.
void NotifyStoreLeaveForStart(uint32_t bytes);

// For the store's save: whether a noted record replaces the stored message
// whose record is `kept`; and the list freed.
bool NotifyStoreRuledReplace(const NotifyStoreRuled* ruled, const PushRecord* kept);
void NotifyStoreRuledClear(NotifyStoreRuled** ruled);
