// The settings store (module Config, task 2): named sections of typed
// values, nested in folders, kept in the storage classes.
//
// One section is open at a time in the whole engine. ConfigOpen asks the
// store's task; the answer 0x201 {status, handle} arrives once the section
// is read, after any earlier open has ended with ConfigSave or
// ConfigRelease. Every open must end with one of the two. Saving writes the
// whole class file and tells the section's listeners that it changed.
//
// Connection settings live in numbered slot folders ("0" to "31") of the
// "access" class, each with access profiles under its "isp" folder; the store
// keeps the active slot and the current access and WAP profile names.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct TskmanTask;
struct ConfigHandle;

namespace ConfigMsg {
constexpr uint32_t Started = Msg(Mod::Config, 0x00);      // to the starter
constexpr uint32_t Opened = Msg(Mod::Config, 0x01);       // {status, handle or 0}
constexpr uint32_t Saved = Msg(Mod::Config, 0x02);        // {status}
constexpr uint32_t Stopped = Msg(Mod::Config, 0x03);      // to the starter
constexpr uint32_t Changed = Msg(Mod::Config, 0x04);      // to each listed task
constexpr uint32_t ChangedAll = Msg(Mod::Config, 0x05);   // broadcast
constexpr uint32_t OpenRequest = Msg(Mod::Config, 0x80);  // {handle}, to the store's own task
}  // namespace ConfigMsg

constexpr Result kConfigNoMemory = ResultError(Mod::Config, Err::NoMemory);
constexpr Result kConfigBadArg = ResultError(Mod::Config, Err::BadArg);
constexpr Result kConfigNotFound = ResultError(Mod::Config, Err::NotFound);
constexpr Result kConfigNoFreeSlot = ResultError(Mod::Config, 0x8000);

// The kind of a stored value; any other value is kept and handed back as given.
enum class ConfigKind : uint32_t { Int = 0, String = 1, WString = 2, Raw = 3, Folder = 4 };

// The modules told of a section's change: null for none, count 0 for every
// task (broadcast 0x205), else 0x204 to each listed task but the writer.
struct ConfigNotifyList {
  const uint8_t* ids;
  uint32_t count;
};

constexpr uint32_t kConfigSlots = 32;
constexpr uint32_t kConfigProfileName = 16;

// Task life. ConfigStart answers 0x200 to `reply` on the task's start;
// ConfigStop makes the task remove itself and answer 0x203.
Result ConfigStart(TskmanTask* reply);
void ConfigStop();
// The browser phase begins: "UseSlot" is read again on the next slot open.
void ConfigResetOpen();

// The storage class (the name of its file) that keeps the section; null for
// a section the store does not know.
const char* ConfigClassOf(const char* section);

void ConfigOpen(TskmanTask* reply, const char* section, bool writable);
// With useSlotCode the slot folder is the code of ConfigSetUseSlot.
void ConfigOpenEx(TskmanTask* reply, const char* section, bool writable, bool useSlotCode);
// What a save that is not kept loses is said by the section's owner, in its
// own words: every save names them, and the store asks for them once, when
// the save's answer comes (before 0x202 reaches the owner), or at once for a
// save refused at once, while the owner's task (the open's reply task)
// stands, with that task and the status. The owner says on standard error
// what the save lost (ConfigSayNotKept); only a save it makes again at once,
// or one that loses nothing the file does not already hold, may go unsaid.
// A save without words, or whose owner has gone, is said by the store under
// the section's name. A save the file took over a damaged one (0x80368000)
// is kept.
using ConfigNotKeptFn = void (*)(TskmanTask* owner, Result status);
// Commits every open level and writes the class file; 0x202 {status} follows.
// A class file that was damaged when the section was opened is kept as
// "<class>.damaged" first; the answer is then 0x80368000 once the new file is
// written, or the storage error that stopped the keeping (nothing written).
// kConfigBadArg, and no answer, for a handle that is not an open section of
// the store; its words are asked for all the same.
Result ConfigSave(ConfigHandle* handle, ConfigNotKeptFn notKept);
// "could not save <class of the section>: <what>" on standard error; the
// run's exit status becomes 1.
void ConfigSayNotKept(const char* section, const char* what);
// Why a save or an open did not keep what it was given, as the line says it:
// "did not fit its quota", "its file could not be written", ...
const char* ConfigWhyText(Result status);
// Values one section gives up for the others of its storage class: a save
// of any section of the class that would pass the class's quota first drops
// values of `section` that `spare` ranks above 0, one at a time, the highest
// rank first (of equal ones the first stored), until the rest fits; then
// writes what is left (refused as before when that still does not fit).
// What the section keeps there must be worth less than what the others
// keep: copies that its owner writes again, and can do without. One section
// at a time; a null `spare` ends it.
// `dropped`, when given, hears of each value just before it goes (its bytes
// last only the call), so that the section may keep what only the file held.
using ConfigSpareFn = uint32_t (*)(const char* name, uint32_t nameLength);
using ConfigSpareDropFn = void (*)(const char* name, uint32_t nameLength, const uint8_t* value,
                                   uint32_t valueLength);
void ConfigSetSpare(const char* section, ConfigSpareFn spare, ConfigSpareDropFn dropped = nullptr);
// The most bytes the open level's block (as the section store serialises
// it) may take for a save to be written: within what a folder holds, and,
// with everything else of the class file as it stands, within the class's
// quota (0 when that leaves nothing). kConfigBadArg for a handle that is
// not open.
Result ConfigRoom(ConfigHandle* handle, uint32_t* bytes);
// Closes without writing and nulls the handle; the store is free again.
void ConfigRelease(ConfigHandle** handle);
// A free-standing writable handle over an empty section, with no storage.
Result ConfigCreate(ConfigHandle** out);
void ConfigFreeHandle(ConfigHandle** handle);

// Enters the "/"-separated folders below the current level; kConfigNotFound
// when one is missing (or is no folder) unless `create` makes it on a
// writable handle. A failed call leaves the handle where it was. A length of
// 0 means the path is 0-terminated.
Result ConfigOpenPath(ConfigHandle* handle, const char* path, uint32_t length, bool create);
// Leaves the levels the most recent ConfigOpenPath entered, storing each into
// its parent with `commit`; after the first failing commit the rest are
// dropped. Nothing at the section's own level.
Result ConfigClose(ConfigHandle* handle, bool commit);

// Values of the current level. A name length of 0 means a 0-terminated name.
// Pointers handed out stay valid until the level changes or is written.
Result ConfigGetRaw(ConfigHandle* handle, const char* name, uint32_t length, const uint8_t** data,
                    uint32_t* dataLength, ConfigKind* kind);
// The big-endian value of the bytes; 0 with kConfigNotFound when absent or of
// another kind.
Result ConfigGetInt(ConfigHandle* handle, const char* name, uint32_t length, int32_t* value);
Result ConfigGetString(ConfigHandle* handle, const char* name, uint32_t length,
                       const char** value);
Result ConfigGetWString(ConfigHandle* handle, const char* name, uint32_t length,
                        const char16_t** value);
Result ConfigSetRaw(ConfigHandle* handle, const char* name, uint32_t length, const void* data,
                    uint32_t dataLength, ConfigKind kind);
Result ConfigSetInt(ConfigHandle* handle, const char* name, int32_t value);
Result ConfigSetString(ConfigHandle* handle, const char* name, const char* value);
Result ConfigSetWString(ConfigHandle* handle, const char* name, const char16_t* value);
// The children of the current level in order; *cursor 0 starts, 0x80360003
// at the end. Names are 0-terminated.
Result ConfigEnum(ConfigHandle* handle, uintptr_t* cursor, const char** name,
                  uint32_t* nameLength, const uint8_t** value, uint32_t* valueLength,
                  ConfigKind* kind);
Result ConfigDelete(ConfigHandle* handle, const char* name, uint32_t length);
Result ConfigDeleteTree(ConfigHandle* handle);

// Slots. ConfigFindSlot works on an open "//access" root: mode 1 answers 0;
// otherwise the slot whose "url" equals `url`, else the lowest unused one
// (kConfigNoFreeSlot when none is left or it exceeds "AllowedServices").
Result ConfigFindSlot(uint32_t* slot, ConfigHandle* handle, const char* url, int32_t mode);
void ConfigSetActiveSlot(uint32_t n);
void ConfigSetAccessName(const char* name);
void ConfigSetWapProfileName(const char* name);
// "slot/profile": the slot becomes active and the profile the access profile.
void ConfigSelectFromPath(const char* text);
void ConfigGetActiveNames(const char** slot, const char** accessName);
void ConfigGetWapProfile(const char** slot, const char** name);
void ConfigSetUseSlot(const char* code);
const char* ConfigGetUseSlot();

void ConfigNotifyChange(TskmanTask* writer, const ConfigNotifyList* list);
