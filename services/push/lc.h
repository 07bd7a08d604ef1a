// The local content store (module 74): pages pushed to the handset, kept so
// that they can be shown without a network. A pushed multipart/related
// document is split into its parts; each part is stored in the settings
// section "homepage" under its Content-ID, the list of the document's parts
// beside them under the root's Content-ID + ".list", and "current" names
// the root of the latest document ("cid:" + Content-ID). The cid: scheme
// reads parts back.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "kernel/tskman.h"

namespace LcMsg {
constexpr uint32_t Started = Msg(Mod::LocalContent, 0x00);
constexpr uint32_t StoreEntry = Msg(Mod::LocalContent, 0x01);   // {entry, commit flag}
constexpr uint32_t StoreQueue = Msg(Mod::LocalContent, 0x02);   // {queue head, queue tail}
constexpr uint32_t DeleteIndex = Msg(Mod::LocalContent, 0x03);  // {index}
constexpr uint32_t Delete = Msg(Mod::LocalContent, 0x04);       // {request}
constexpr uint32_t Read = Msg(Mod::LocalContent, 0x05);         // {request}
constexpr uint32_t Commit = Msg(Mod::LocalContent, 0x06);       // {requester or 0, value}
constexpr uint32_t Stopped = Msg(Mod::LocalContent, 0x09);
}

constexpr Result kLcNoMemory = ResultError(Mod::LocalContent, Err::NoMemory);
constexpr Result kLcBadArg = ResultError(Mod::LocalContent, Err::BadArg);

// --- Name lists ------------------------------------------------------------------
// Little-endian 32-bit words: capacity, used, marked item offset (-1 none),
// first unmarked item offset (-1 none), unmarked count, then the items from
// byte 20: a 32-bit size (a multiple of 4, counted from the size word) and a
// NUL-terminated text padded with zeros. Item offsets count from byte 20.
// The three slots of an entry's header block hold the offsets of its
// Content-ID, Content-Type and Content-Transfer-Encoding items instead.
// A list is kept as these bytes, in memory as when stored, and read and
// written word by word.
using LcList = uint8_t;
constexpr uint32_t kLcListHead = 20;
LcList* LcListCreate(uint32_t capacity);
uint32_t LcListCapacity(const LcList* list);
uint32_t LcListUsed(const LcList* list);
// 0 added (or present already), 1 no room (grow and add again).
uint32_t LcListAdd(LcList* list, const char* text, bool marked);
// A new list with room for `more` bytes besides; null without memory.
LcList* LcListGrow(LcList* list, uint32_t more);
// The marked item's text, or null.
const char* LcListMarked(const LcList* list);
// Walks the non-blank items: *offset -1 starts; the next text, or null.
const char* LcListNext(const LcList* list, int32_t* offset);
// Blanks (empties) the item with that text; true when there was one.
bool LcListBlank(LcList* list, const char* text);
// Checks a stored list: its words and every item inside its length.
bool LcListValid(const uint8_t* bytes, uint32_t length);
// The stored form: capacity cut to the used size (rounded up to 4), and
// length capacity + 24.
uint8_t* LcListPack(const LcList* list, uint32_t* length);

// --- Entries -----------------------------------------------------------------------
// One stored part. Stored as: total (header capacity + data capacity + 36),
// data-block offset (from byte 16), two words kept zero, the header block
// (a name list), then the data block: capacity, used, the bytes and a NUL.
struct LcEntry {
  LcList* header;  // slots: Content-ID, Content-Type, encoding
  uint8_t* data;    // dataCapacity bytes
  uint32_t dataCapacity;
  uint32_t dataUsed;
};

namespace LcHeader {
constexpr uint32_t ContentId = 0, ContentType = 1, Encoding = 2;
}

LcEntry* LcEntryCreate();
void LcEntryFree(LcEntry** entry);
// Keeps the first value of the kind (LcHeader); false without memory.
bool LcEntrySetHeader(LcEntry* entry, uint32_t kind, const char* value);
const char* LcEntryHeader(const LcEntry* entry, uint32_t kind);
bool LcEntryAppend(LcEntry* entry, const uint8_t* bytes, uint32_t length);
// The stored form (engine memory) and its length; null without memory.
uint8_t* LcEntryPack(const LcEntry* entry, uint32_t* length);
// An entry read back from its stored form; null when the bytes do not read
// as one (kLcBadArg) or memory runs out (kLcNoMemory).
LcEntry* LcEntryUnpack(const uint8_t* bytes, uint32_t length, Result* error);

// --- The task --------------------------------------------------------------------
// Creates the task, which posts 0x4A00 to the requester.
void LcStartTask(TskmanTask* requester);
// Posts 262 to the task, which commits and answers 0x4A09; without the task
// 0x4A09 is posted at once.
void LcStopTask(TskmanTask* requester);

// A read or delete by name ("current" names the latest document's root).
struct LcRequest {
  uint32_t done;
  char* name;
  LcEntry* entry;  // a read's answer, the requester's to free
  Result error;
  TskmanTask* notifyTask;  // told {request, 0} with notifyMessage when done
  uint32_t notifyMessage;
};

// The push application (class 1 of push reception).
Result LcPushOpen(const char* url, uintptr_t* cookie);
void LcPushData(const uint8_t* bytes, uint32_t length, uintptr_t cookie);
