#include "services/push/notify_store.h"

#include "browser/cache.h"
#include "browser/url.h"
#include "host/platform/files.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/sstore.h"
#include "kernel/ubstore.h"
#include "services/push/inbox.h"
#include "services/push/notify.h"
#include "services/push/notify_store_doc.h"
#include "services/push/sisl.h"

// A document the file gave up, held for the stop's save.
struct NotifyStoreHeld {
  NotifyStoreHeld* next;
  uint32_t n;
  uint32_t length;  // the bytes follow
};

namespace {

// The messages lost for want of memory and not said yet, and the second
// the last ones were said in.
struct LostCount {
  uint32_t pushed, received;
  int32_t second;
  bool said;
};
LostCount gLost;

void SayCount(uint32_t n, const char* kind) {
  if (n == 0) return;
  char what[80];
  if (n == 1) {
    LibcStrCopy(what, "a ");
  } else {
    LibcItoA(static_cast<int32_t>(n), what, 10);
    LibcStrCat(what, " ");
  }
  LibcStrCat(what, kind);
  LibcStrCat(what, n == 1 ? " message: not enough memory" : " messages: not enough memory");
  PlatformSayLost(what);
}

}  // namespace

void NotifySayLostCount() {
  SayCount(gLost.pushed, "pushed");
  SayCount(gLost.received, "received");
  gLost.pushed = gLost.received = 0;
}

void NotifySayLost(bool pushed) {
  ++(pushed ? gLost.pushed : gLost.received);
  const int32_t now = LibcTime(nullptr);
  if (gLost.said && now == gLost.second) return;
  NotifySayLostCount();
  gLost.said = true;
  gLost.second = now;
}

void NotifySayStoppedFirst(bool pushed, uint32_t count) {
  if (count == 0) return;
  if (count == 1) {
    PlatformSayLost(pushed ? "a pushed message: the emulator stopped before it was taken"
                           : "a received message: the emulator stopped before it was taken");
    return;
  }
  char what[96];
  LibcItoA(static_cast<int32_t>(count), what, 10);
  LibcStrCat(what, pushed ? " pushed messages: the emulator stopped before they were taken"
                          : " received messages: the emulator stopped before they were taken");
  PlatformSayLost(what);
}

namespace {

constexpr uint32_t kModule = Mod::Notify;
constexpr char kCount[] = "count";
constexpr char kSerial[] = "serial";  // the last push serial given when the inbox was written
constexpr uint32_t kPushClass = 8;
uint32_t gStartRoom;  // what the start takes after the restore
constexpr uint32_t kKeptFlags = UrlFlag::Presented | UrlFlag::Viewed;

void Put(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// "m<n>" holds a message, "d<n>" the document kept with it. A reader that
// knows only the messages passes the documents by.
void KeyOf(char* key, char kind, uint32_t n) {
  key[0] = kind;
  LibcItoA(static_cast<int32_t>(n), key + 1, 10);
}

uint32_t KeyLength(uint32_t n) {
  uint32_t length = 2;
  for (; n >= 10; n /= 10) ++length;
  return length;
}

// The length of a message's value (below).
uint32_t ValueLength(const UrlLoad* message) {
  const PushRecord* record = PushRecordOf(message);
  return 16 + LibcStrLen(message->name) + (record ? PushRecordStore(record, nullptr) : 0);
}

// flags, type id, name length, name, record length, record. A message
// without a push record (a connectivity document, a pushed page) is kept
// with a record length of 0: the inbox lists it by its address and kind,
// and a connectivity document's bytes go under a key of their own.
Result WriteOne(ConfigHandle* handle, uint32_t n, const UrlLoad* message) {
  const PushRecord* record = PushRecordOf(message);
  const uint32_t nameLength = LibcStrLen(message->name);
  const uint32_t length = ValueLength(message);
  const uint32_t recordLength = length - 16 - nameLength;
  auto* bytes = static_cast<uint8_t*>(MemAlloc(length, Use::Data, kModule));
  if (!bytes) return kNotifyNoMemory;
  Put(bytes, message->flags & kKeptFlags);
  Put(bytes + 4, message->typeId);
  Put(bytes + 8, nameLength);
  LibcMemCopy(bytes + 12, message->name, nameLength);
  Put(bytes + 12 + nameLength, recordLength);
  if (record) PushRecordStore(record, bytes + 16 + nameLength);
  char key[16];
  KeyOf(key, 'm', n);
  const Result r = ConfigSetRaw(handle, key, 0, bytes, length, ConfigKind::Raw);
  MemFree(&bytes);
  return r;
}

// The length of the stored name of the message, checked; 0 when the
// message does not read.
uint32_t NameLengthOf(const uint8_t* bytes, uint32_t length) {
  if (length < 16) return 0;
  const uint32_t nameLength = Get(bytes + 8);
  if (nameLength == 0 || nameLength > length - 16) return 0;
  if (Get(bytes + 12 + nameLength) != length - 16 - nameLength) return 0;
  for (uint32_t i = 0; i < nameLength; ++i)
    if (!bytes[12 + i]) return 0;
  return nameLength;
}

// The stored name of the message; null when it does not read or without memory.
char* NameOf(const uint8_t* bytes, uint32_t length) {
  const uint32_t nameLength = NameLengthOf(bytes, length);
  return nameLength ? LibcStrNDup(reinterpret_cast<const char*>(bytes + 12), nameLength) : nullptr;
}

// The level the inbox gives a stored message, from its record's action (a
// message without a record is a connectivity document); a message that
// does not read goes last.
uint32_t StoredLevel(const uint8_t* bytes, uint32_t length) {
  const uint32_t nameLength = NameLengthOf(bytes, length);
  if (!nameLength) return 0;
  if (length - 16 - nameLength < 4) return 64;
  return NotifyPushLevel(Get(bytes + 16 + nameLength));
}

// How a stored message fared: back in the inbox, skipped for good (it does
// not read), or kept in the section for a later start (no memory for it).
enum class Back { Restored, Damaged, Missed };

// A push name of this run may have been given before the inbox came back
// (a push that arrived at start-up): the kept message then takes a new one.
Back ParseFree(UrlParsed* parsed, char** name) {
  for (int tries = 0; tries < 2; ++tries) {
    if (Result r = UrlParse(parsed, *name, 0); r != kOk)
      return r == kUrlNoMemory ? Back::Missed : Back::Damaged;
    if (!parsed->scheme || LibcStrCmp(parsed->scheme, "push") != 0) {
      UrlFreeParsed(parsed);
      return Back::Damaged;
    }
    if (!CacheFindByName(parsed)) return Back::Restored;
    UrlFreeParsed(parsed);
    char* renamed = NotifyRenamePush(*name, kModule);
    MemFree(name);
    *name = renamed;
    if (!renamed) return Back::Missed;
  }
  return Back::Missed;
}

Back RestoreOne(const uint8_t* bytes, uint32_t length, const uint8_t* doc, uint32_t docLength) {
  const uint32_t nameLength = NameLengthOf(bytes, length);
  if (!nameLength) return Back::Damaged;
  char* name = LibcStrNDup(reinterpret_cast<const char*>(bytes + 12), nameLength);
  if (!name) return Back::Missed;
  const uint32_t flags = Get(bytes), typeId = Get(bytes + 4);
  const uint32_t recordLength = length - 16 - nameLength;
  UrlParsed parsed{};
  const Back parsedBack = ParseFree(&parsed, &name);
  MemFree(&name);
  if (parsedBack != Back::Restored) return parsedBack;
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  if (!load) return Back::Missed;
  UrlSetContentTypeId(load, typeId);
  // Push messages come back with their record; others have none.
  Back back = Back::Restored;
  if (load->contentClass == kPushClass) {
    PushRecord* record = nullptr;
    if (Result r = PushRecordLoad(bytes + 16 + nameLength, recordLength, &record); r != kOk)
      back = r == kSiSlNoMemory ? Back::Missed : Back::Damaged;
    else
      SiSlAttachRecord(load, record);
  } else if (load->typeId != UrlType::ConnectivityWbxml || recordLength != 0) {
    // The inbox keeps nothing else: a record of another type was not
    // written by it, and as a message with no summary it would end every
    // walk over the inbox.
    back = Back::Damaged;
  } else if (NotifyStoreDocRestore(load, reinterpret_cast<const char*>(bytes + 12), nameLength,
                                   doc, docLength) == NotifyStoreDocRead::NoMemory) {
    back = Back::Missed;
  }
  if (back != Back::Restored) {
    UrlLoadFree(load);
    return back;
  }
  load->schemeRow = UrlFindScheme("push");
  load->status = 200;
  load->endOfData = 1;
  load->closed = 1;
  load->events |= UrlEvent::StatusKnown | UrlEvent::Complete;
  load->flags |= UrlFlag::Listed | (flags & kKeptFlags);
  // Viewed or not, the inbox holds it: the cache never frees a listed message.
  UrlLoadSetFlags(load, UrlFlag::Kept);
  CacheAdd(load);
  if (NotifyKeepMessage(load)) return Back::Restored;
  NotifyRemoveMessage(load);
  return Back::Missed;
}

// Every message the start listed leaves the inbox again; the file keeps
// them.
void GiveBackListed() {
  UrlLoad* first = nullptr;
  const auto takeFirst = [](UrlLoad* message, void* user) {
    *static_cast<UrlLoad**>(user) = message;
    return true;
  };
  while (NotifyWalkKept(takeFirst, &first) && first) {
    NotifyRemoveMessage(first);
    first = nullptr;
  }
}

bool Stored(ConfigHandle* handle, char prefix, uint32_t n, const uint8_t** data, uint32_t* length) {
  char key[16];
  KeyOf(key, prefix, n);
  ConfigKind kind{};
  return ConfigGetRaw(handle, key, 0, data, length, &kind) == kOk && kind == ConfigKind::Raw;
}

// The number of values the open section holds.
int32_t Held(ConfigHandle* handle) {
  uintptr_t cursor = 0;
  const char* name = nullptr;
  const uint8_t* value = nullptr;
  uint32_t nameLength = 0, valueLength = 0;
  ConfigKind kind{};
  int32_t n = 0;
  while (n < 0x7FFFFFFF &&
         ConfigEnum(handle, &cursor, &name, &nameLength, &value, &valueLength, &kind) == kOk)
    ++n;
  return n;
}

// The number of messages the open section says it holds, checked against
// the values it does hold (a damaged count says more).
uint32_t StoredCount(ConfigHandle* handle) {
  int32_t count = 0;
  if (ConfigGetInt(handle, kCount, 0, &count) != kOk || count < 0) return 0;
  const int32_t held = Held(handle);
  return static_cast<uint32_t>(count < held ? count : held);
}

// A copy of stored document i taken when the file gave it up.
bool HeldDoc(const NotifyStoreMissed* missed, uint32_t i, const uint8_t** doc, uint32_t* length) {
  for (const NotifyStoreHeld* held = missed->held; held; held = held->next)
    if (held->n == i) {
      *doc = reinterpret_cast<const uint8_t*>(held + 1);
      *length = held->length;
      return true;
    }
  return false;
}

bool IsMissed(const NotifyStoreMissed* missed, uint32_t i) {
  if (missed->all) return true;
  return missed->bits && i < missed->count && (missed->bits[i / 8] >> (i % 8) & 1);
}

// The stored messages the start missed, copied out before the section is
// cleared: each as message length, message, document length, document.
struct Carried {
  uint8_t* bytes;
  uint32_t size;
  int32_t serial;  // the serial the section holds
  PushRecord** records;  // the push records of those that stay, for the listed ones
  uint32_t recordCount;
};

// The bytes of the copied message at `at`: both lengths and what they count.
uint32_t CarriedEntrySize(const Carried* carried, uint32_t at) {
  const uint32_t length = Get(carried->bytes + at);
  return 8 + length + Get(carried->bytes + at + 4 + length);
}

void FreeCarried(Carried* carried) {
  for (uint32_t i = 0; i < carried->recordCount; ++i) MemFreeRaw(carried->records[i]);
  MemFree(&carried->records);
  MemFree(&carried->bytes);
}

Result CopyMissed(ConfigHandle* handle, const NotifyStoreMissed* missed, bool documents,
                  Carried* out) {
  *out = Carried{};
  if (!missed->all && !missed->bits) return kOk;
  const uint32_t count = StoredCount(handle);
  ConfigGetInt(handle, kSerial, 0, &out->serial);
  // The first pass measures, the second copies.
  for (int pass = 0; pass < 2; ++pass) {
    uint32_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t *data = nullptr, *doc = nullptr;
      uint32_t length = 0, docLength = 0;
      if (!IsMissed(missed, i) || !Stored(handle, 'm', i, &data, &length)) continue;
      if (!documents ||
          (!Stored(handle, 'd', i, &doc, &docLength) && !HeldDoc(missed, i, &doc, &docLength)))
        docLength = 0;
      if (pass == 1) {
        Put(out->bytes + at, length);
        LibcMemCopy(out->bytes + at + 4, data, length);
        Put(out->bytes + at + 4 + length, docLength);
        if (docLength) LibcMemCopy(out->bytes + at + 8 + length, doc, docLength);
      }
      at += 8 + length + docLength;
    }
    if (pass == 1 || at == 0) break;
    out->bytes = static_cast<uint8_t*>(MemAlloc(at, Use::Data, kModule));
    if (!out->bytes) return kNotifyNoMemory;
    out->size = at;
  }
  return kOk;
}

// The listed messages that are written: push messages with their record
// and connectivity documents.
bool Writable(const UrlLoad* message) {
  if (message->contentClass == kPushClass) return PushRecordOf(message) != nullptr;
  return message->typeId == UrlType::ConnectivityWbxml;
}

// A listed push message that takes the place of a carried one. A listed
// one came in this run, after every carried one, or was stored beside them,
// where the rules let no two of one message stand (one an older inbox holds
// twice keeps the one the rules prefer). So the rules stand between them as
// in the inbox, also when the heap could not note the record they met: the
// newer push is then not lost.
bool ListedReplaces(UrlLoad* const* messages, uint32_t count, const PushRecord* carried) {
  for (uint32_t i = 0; i < count; ++i) {
    const PushRecord* record = PushRecordOf(messages[i]);
    if (record && Writable(messages[i]) && NotifyRecordReplaces(record, carried)) return true;
  }
  return false;
}

// The rules the run met reach the missed messages: one that a noted record
// or a listed message replaces leaves the copy; the push records of the
// others are kept for the listed messages. A record that does not read is
// carried as it is (the next start skips it). Those past the section keep
// no record: none of them may keep a listed one out, or both would be gone
// and only one of them said. Without memory to read one, kNotifyNoMemory.
Result SiftCarried(Carried* carried, const NotifyStoreRuled* ruled, UrlLoad* const* messages,
                   uint32_t count, uint32_t pastBelow) {
  uint32_t entries = 0;
  for (uint32_t at = 0; at < carried->size; ++entries) at += CarriedEntrySize(carried, at);
  if (entries == 0) return kOk;
  carried->records =
      static_cast<PushRecord**>(MemAlloc(entries * sizeof(PushRecord*), Use::Data, kModule));
  if (!carried->records) return kNotifyNoMemory;
  uint32_t to = 0;
  for (uint32_t at = 0; at < carried->size;) {
    const uint8_t* data = carried->bytes + at + 4;
    const uint32_t length = Get(carried->bytes + at);
    const uint32_t entry = CarriedEntrySize(carried, at);
    const uint32_t nameLength = NameLengthOf(data, length);
    PushRecord* record = nullptr;
    if (nameLength && length - 16 - nameLength != 0 &&
        PushRecordLoad(data + 16 + nameLength, length - 16 - nameLength, &record) == kSiSlNoMemory)
      return kNotifyNoMemory;
    if (record &&
        (NotifyStoreRuledReplace(ruled, record) || ListedReplaces(messages, count, record))) {
      MemFreeRaw(record);
    } else {
      if (record && StoredLevel(data, length) < pastBelow)
        MemFreeRaw(record);
      else if (record)
        carried->records[carried->recordCount++] = record;
      LibcMemMove(carried->bytes + to, carried->bytes + at, entry);
      to += entry;
    }
    at += entry;
  }
  carried->size = to;
  return kOk;
}

// A listed push message that a carried one would have kept out of the
// inbox: of the same message, met after it and not taking its place.
bool KeptOut(const Carried* carried, const UrlLoad* message) {
  const PushRecord* record = PushRecordOf(message);
  if (!record) return false;
  for (uint32_t i = 0; i < carried->recordCount; ++i)
    if (NotifySameMessage(record, carried->records[i]) &&
        !NotifyRecordReplaces(record, carried->records[i]))
      return true;
  return false;
}

// What one write may fill: at most `limit` messages, and no more bytes of
// the section than `room` (the messages first, newest first; documents only
// in what those leave), documents besides within their budget.
struct Fill {
  uint32_t limit;
  uint32_t room;
  uint32_t used;     // the section's bytes so far
  uint32_t n;        // messages so far
  uint32_t planned;  // messages to write
  uint32_t docRoom;  // section bytes left for documents
  uint32_t wanted;
  uint32_t documentBytes;
  bool limited;  // the limit, not the room, left messages out
};

bool TakesDocument(Fill* fill, uint32_t n, uint32_t size) {
  const uint32_t bytes = StoreEntryBytes(KeyLength(n), size);
  if (size > kNotifyStoreDocBudget - fill->documentBytes || bytes > fill->docRoom) return false;
  fill->docRoom -= bytes;
  fill->documentBytes += size;
  return true;
}

// Counts a message there is to write and whether it is planned: the first
// ones, while the limit and the room take them.
bool Plan(Fill* fill, uint32_t valueLength) {
  ++fill->wanted;
  if (fill->planned < fill->wanted - 1) return false;
  if (fill->planned >= fill->limit) {
    fill->limited = true;
    return false;
  }
  const uint32_t bytes = StoreEntryBytes(KeyLength(fill->planned), valueLength);
  if (bytes > fill->room - fill->used) return false;
  fill->used += bytes;
  ++fill->planned;
  return true;
}

// The listed messages that are written: not kept out by a carried one.
bool ListedWritable(const Carried* carried, const UrlLoad* message) {
  return Writable(message) && !KeptOut(carried, message);
}

// The level the inbox lists a message at.
uint32_t ListedLevel(const UrlLoad* message) {
  uint32_t code = 0, level = 0;
  NotifyGetIndicator(message, &code, &level);
  return level;
}

// Walks the messages to write in the order they are written, newest first
// as the inbox lists them: the listed ones in list order, each carried one
// before the first listed one of a lower level (so after those of its own
// level, which came later), the carried ones in the order the section held
// them. Those past the section are left out. `each`(message or null,
// carried entry) answers false to stop.
template <typename Each>
void InOrder(UrlLoad* const* messages, uint32_t count, const Carried* carried,
             uint32_t pastBelow, Each each) {
  uint32_t i = 0, at = 0;
  for (;;) {
    while (i < count && !ListedWritable(carried, messages[i])) ++i;
    while (at < carried->size &&
           StoredLevel(carried->bytes + at + 4, Get(carried->bytes + at)) < pastBelow)
      at += CarriedEntrySize(carried, at);
    if (i == count && at == carried->size) return;
    if (at < carried->size &&
        (i == count || StoredLevel(carried->bytes + at + 4, Get(carried->bytes + at)) >
                           ListedLevel(messages[i]))) {
      if (!each(nullptr, at)) return;
      at += CarriedEntrySize(carried, at);
    } else if (!each(messages[i++], 0)) {
      return;
    }
  }
}

// A missed message goes back under its new number; a document past what
// the budget leaves stays out, its message kept by name.
Result WriteCarried(ConfigHandle* handle, const Carried* carried, uint32_t at, Fill* fill) {
  char key[16];
  const uint32_t length = Get(carried->bytes + at);
  const uint8_t* data = carried->bytes + at + 4;
  const uint32_t docLength = Get(data + length);
  KeyOf(key, 'm', fill->n);
  if (Result r = ConfigSetRaw(handle, key, 0, data, length, ConfigKind::Raw); r != kOk) return r;
  if (docLength && TakesDocument(fill, fill->n, docLength)) {
    KeyOf(key, 'd', fill->n);
    if (Result r = ConfigSetRaw(handle, key, 0, data + length + 4, docLength, ConfigKind::Raw);
        r != kOk)
      return r;
  }
  return kOk;
}

// A listed message with its record (a push message) or its document (a
// connectivity message).
Result WriteListed(ConfigHandle* handle, UrlLoad* message, bool documents, Fill* fill) {
  if (Result r = WriteOne(handle, fill->n, message); r != kOk) return r;
  // A document over the limits stays out: its message is kept by name.
  const uint32_t size = documents ? NotifyStoreDocSize(message) : 0;
  if (size && size <= kNotifyStoreDocLimit && TakesDocument(fill, fill->n, size)) {
    char key[16];
    KeyOf(key, 'd', fill->n);
    if (Result r = NotifyStoreDocWrite(handle, key, message, size); r != kOk) return r;
  }
  return kOk;
}

Result WriteAll(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count, bool documents,
                const Carried* carried, uint32_t pastBelow, Fill* fill,
                NotifyStoreWritten* written) {
  Result r = kOk;
  InOrder(messages, count, carried, pastBelow, [&](UrlLoad* message, uint32_t at) {
    if (fill->n >= fill->planned) return false;
    if (message) {
      r = WriteListed(handle, message, documents, fill);
      ++written->listed;
    } else {
      r = WriteCarried(handle, carried, at, fill);
      if (written->missed && fill->n < kNotifyStoreMostWritten)
        written->missed[fill->n / 8] |= static_cast<uint8_t>(1u << (fill->n % 8));
    }
    ++fill->n;
    return r == kOk;
  });
  return r;
}

// The messages to write, as many of the first ones as the limit and the
// section's room take; those past the section are counted, never planned.
void PlanAll(Fill* fill, UrlLoad* const* messages, uint32_t count, const Carried* carried,
             uint32_t pastBelow) {
  InOrder(messages, count, carried, pastBelow, [&](UrlLoad* message, uint32_t at) {
    Plan(fill, message ? ValueLength(message) : Get(carried->bytes + at));
    return true;
  });
  for (uint32_t at = 0; at < carried->size; at += CarriedEntrySize(carried, at))
    if (StoredLevel(carried->bytes + at + 4, Get(carried->bytes + at)) < pastBelow) ++fill->wanted;
  fill->docRoom = fill->room - fill->used;
}

}  // namespace

bool NotifyStoreDocNumber(const char* key, uint32_t keyLength, uint32_t* n) {
  if (keyLength < 2 || key[0] != 'd') return false;
  *n = 0;
  for (uint32_t i = 1; i < keyLength; ++i) {
    if (key[i] < '0' || key[i] > '9') return false;
    *n = *n < 100000000 ? *n * 10 + static_cast<uint32_t>(key[i] - '0') : 0x3FFFFFFE;
  }
  return true;
}

uint32_t NotifyStoreSpare(const char* key, uint32_t keyLength) {
  uint32_t n = 0;
  if (!NotifyStoreDocNumber(key, keyLength, &n)) return 0;
  // Later numbers are older messages; a document the start could not put
  // back is held by the file alone, and goes after every other.
  const uint32_t rank = (n < 0x3FFFFFFE ? n : 0x3FFFFFFE) + 1;
  return NotifyStoredMissed(n) ? rank : rank + 0x40000000;
}

void NotifyStoreHold(NotifyStoreMissed* missed, uint32_t i, const uint8_t* value,
                     uint32_t length) {
  // A save that dropped the document and then failed left it in the file,
  // and the next one drops it again: it is the same document.
  const uint8_t* doc = nullptr;
  uint32_t docLength = 0;
  if (HeldDoc(missed, i, &doc, &docLength)) return;
  auto* held = static_cast<NotifyStoreHeld*>(
      MemAlloc(sizeof(NotifyStoreHeld) + length, Use::Data, kModule));
  if (!held) return;
  held->next = missed->held;
  held->n = i;
  held->length = length;
  if (length) LibcMemCopy(held + 1, value, length);
  missed->held = held;
}

bool NotifyStoreIsMissed(const NotifyStoreMissed* missed, uint32_t i) {
  return IsMissed(missed, i);
}

uint32_t NotifyStoreHeldCount(const NotifyStoreMissed* missed) {
  uint32_t n = 0;
  for (const NotifyStoreHeld* held = missed->held; held; held = held->next) ++n;
  return n;
}

uint32_t NotifyStoreMissedCount(const NotifyStoreMissed* missed) {
  if (missed->all) return NotifyStoreHeldCount(missed);
  uint32_t n = 0;
  for (uint32_t i = 0; i < missed->count; ++i) n += IsMissed(missed, i) ? 1 : 0;
  return n;
}

void NotifyStoreMissedClear(NotifyStoreMissed* missed) {
  while (NotifyStoreHeld* held = missed->held) {
    missed->held = held->next;
    MemFree(&held);
  }
  MemFree(&missed->bits);
  NotifyStoreRuledClear(&missed->ruled);
  *missed = NotifyStoreMissed{};
}

uint32_t NotifyStoreFixedBytes() {
  return kStoreEndBytes + StoreEntryBytes(sizeof kSerial - 1, 4) +
         StoreEntryBytes(sizeof kCount - 1, 4);
}

uint32_t NotifyStoreMessageBytes(const UrlLoad* message, uint32_t n) {
  return Writable(message) ? StoreEntryBytes(KeyLength(n), ValueLength(message)) : 0;
}

Result NotifyStoreWrite(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count,
                        bool documents, const NotifyStoreMissed* missed, uint32_t limit,
                        NotifyStoreWritten* written) {
  *written = NotifyStoreWritten{};
  Carried carried{};
  Result r = CopyMissed(handle, missed, documents, &carried);
  if (r == kOk) r = SiftCarried(&carried, missed->ruled, messages, count, missed->pastBelow);
  // The marks of the missed ones written cost memory only in a save that
  // has such ones, which is rare.
  if (r == kOk && carried.size) {
    written->missed = static_cast<uint8_t*>(
        MemAllocZero((kNotifyStoreMostWritten + 7) / 8, Use::Data, kModule));
    if (!written->missed) r = kNotifyNoMemory;
  }
  if (r != kOk) {
    FreeCarried(&carried);
    return r;
  }
  // What fits is chosen by the sizes before anything is written, so that
  // the save is made once.
  Fill fill{};
  fill.limit = limit;
  if (ConfigRoom(handle, &fill.room) != kOk) fill.room = kStoreMaxValue;
  fill.used = NotifyStoreFixedBytes();
  if (fill.used > fill.room) fill.used = fill.room;
  PlanAll(&fill, messages, count, &carried, missed->pastBelow);
  written->wanted = fill.wanted;
  written->planned = fill.planned;
  // The room is the section's own unless the quota leaves less.
  written->cutBy = fill.planned == fill.wanted ? kOk
                   : fill.limited              ? kNotifyNoMemory
                   : fill.room >= kStoreMaxValue ? kStoreBadArg
                                                 : kUbstoreOverQuota;
  ConfigDeleteTree(handle);
  r = WriteAll(handle, messages, count, documents, &carried, missed->pastBelow, &fill, written);
  FreeCarried(&carried);
  written->messages = fill.n;
  written->documentBytes = fill.documentBytes;
  if (r != kOk) return r;
  const uint32_t n = fill.n;
  // Names go on past those of the missed messages too.
  uint32_t serial = NotifyPushSerial();
  if (carried.serial > 0 && static_cast<uint32_t>(carried.serial) > serial)
    serial = static_cast<uint32_t>(carried.serial);
  r = ConfigSetInt(handle, kSerial, static_cast<int32_t>(serial));
  if (r != kOk) return r;
  return ConfigSetInt(handle, kCount, static_cast<int32_t>(n));
}

void NotifyStoreLeaveForStart(uint32_t bytes) { gStartRoom = bytes; }

void NotifyStoreRestore(ConfigHandle* handle, NotifyStoreMissed* missed) {
  const uint32_t count = StoredCount(handle);
  if (count == 0) return;
  // New names go on after every kept one (an inbox written before the
  // serial was kept has only its names to say so).
  int32_t serial = 0;
  if (ConfigGetInt(handle, kSerial, 0, &serial) == kOk && serial > 0)
    NotifyPushSerialAtLeast(static_cast<uint32_t>(serial));
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!Stored(handle, 'm', i, &data, &length)) continue;
    if (char* name = NameOf(data, length)) {
      NotifyPushSerialAtLeast(NotifyPushSerialOf(name));
      MemFree(&name);
    }
  }
  // Without room to mark what is missed, nothing comes back and all of it
  // stays for the next start.
  missed->bits = static_cast<uint8_t*>(MemAllocZero((count + 7) / 8, Use::Data, kModule));
  if (!missed->bits) {
    missed->all = 1;
    return;
  }
  missed->count = count;
  // The start goes on after the inbox and must find its room free and in
  // one piece. Held while the messages come back, that room is what they
  // cannot take; a heap without it lists none, and all of them stay in the
  // file for a start with room.
  void* room = gStartRoom ? MemAlloc(gStartRoom, Use::Data, kModule) : nullptr;
  const bool roomy = !gStartRoom || room;
  // Last first: each goes before the others of its level, so the list
  // comes back in its order. The save puts what the start missed back
  // where the inbox lists it, so the missed ones must be the last it lists
  // (the section holds them in that order): one the heap cannot take gives
  // back every one put back before it (all listed after it), and the newest
  // as many as that come back in their place (or this one is tried again),
  // those between staying in the file. Each message read is marked as it
  // comes; the marks below `listedBelow` are of those listed, the others
  // missed.
  uint32_t listedBelow = count;
  for (uint32_t i = count; i-- > 0;) {
    const uint8_t *data = nullptr, *doc = nullptr;
    uint32_t length = 0, docLength = 0;
    if (!Stored(handle, 'm', i, &data, &length)) continue;
    if (!Stored(handle, 'd', i, &doc, &docLength)) doc = nullptr;
    Back back = roomy ? RestoreOne(data, length, doc, docLength) : Back::Missed;
    if (back == Back::Missed && roomy && NotifyKeptCount() > 0) {
      const uint32_t fit = NotifyKeptCount();
      GiveBackListed();
      if (fit < i) {
        for (uint32_t skipped = fit; skipped <= i; ++skipped)
          if (Stored(handle, 'm', skipped, &data, &length))
            missed->bits[skipped / 8] |= static_cast<uint8_t>(1u << (skipped % 8));
        listedBelow = fit;
        i = fit;
        continue;
      }
      listedBelow = i + 1;
      back = RestoreOne(data, length, doc, docLength);
    }
    if (back == Back::Missed) listedBelow = i;
    if (back != Back::Damaged) missed->bits[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  MemFree(&room);
  bool any = false;
  for (uint32_t i = 0; i < count; ++i)
    if (i < listedBelow)
      missed->bits[i / 8] &= static_cast<uint8_t>(~(1u << (i % 8)));
    else
      any = any || IsMissed(missed, i);
  if (!any) NotifyStoreMissedClear(missed);
}
