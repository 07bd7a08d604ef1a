// The section store (module sStore): one settings section in memory as a
// list of named, typed values, folders nested as values holding a whole
// serialised section, and the byte block the storage-class files keep.
//
// A serialised section is a run of entries, each
//   kind (1) | name length N, 1-255 (1) | value length V, big-endian (2) |
//   value (V) | name (N) | 0 | one pad byte when 5 + V + N is odd
// ended by four 0 bytes; a reader stops at the first name length of 0.
//
// A read-only section is searched in its block in place; an editable one
// copies the block into a data area of its own and keeps one node per entry,
// so changes never touch the block it was read from.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

constexpr Result kStoreNoMemory = ResultError(Mod::SStore, Err::NoMemory);
constexpr Result kStoreBadArg = ResultError(Mod::SStore, Err::BadArg);  // a name or value the format cannot carry
constexpr Result kStoreNotFound = ResultError(Mod::SStore, Err::NotFound);
constexpr Result kStoreMalformed = ResultError(Mod::SStore, 0x8000);

constexpr uint32_t kStoreMaxName = 255;
constexpr uint32_t kStoreMaxValue = 0xFFFF;
constexpr uint32_t kStoreEndBytes = 4;

// The bytes one entry takes in a serialised section, its pad included.
uint32_t StoreEntryBytes(uint32_t nameLength, uint32_t valueLength);

// The kinds of stored values; any other kind byte is kept as given.
namespace StoreKind {
constexpr uint32_t Int = 0, String = 1, WString = 2, Raw = 3, Folder = 4;
}

struct StoreSection;

// One entry as the enumeration and the look-ups hand it out. The pointers
// stay valid until the section is written to or freed.
struct StoreEntry {
  const uint8_t* name;
  uint32_t nameLength;
  const uint8_t* value;
  uint32_t valueLength;
  uint32_t kind;
};

// One open level of a settings handle's path: the first record holds the
// stored block's root, each further one a folder opened inside the one below.
struct StoreStackRecord {
  ListNode link;
  StoreSection* section;
  uint32_t baseLevel;  // the depth the path call that entered it started from
  uint32_t nameLength;
  uint8_t name[kStoreMaxName + 1];
};

// Builds a section over a block; an editable one gets its own copy, and so
// does a read-only one whose names are not all followed by their 0. *used
// receives the bytes up to and including the end marker (or the block's end
// when the marker is cut short). A block of length 0 is an empty section.
// Only an entry whose value or name runs past the block is damage: such a
// block answers kStoreMalformed and *out is an empty section of the asked
// kind, so the caller may go on with it as empty; out of memory answers
// kStoreNoMemory with *out null.
Result StoreParseSection(StoreSection** out, const uint8_t* block, uint32_t length, uint32_t* used,
                         bool editable);
// Whether the block is whole as a class file's root: its entries read and
// are followed by the whole end marker. A root cut where an entry begins
// reads as fewer entries; only the missing marker tells the cut. An empty
// block is whole (an empty file).
bool StoreBlockEnded(const uint8_t* block, uint32_t length);
void StoreFreeSection(StoreSection** section);
bool StoreIsEditable(const StoreSection* section);
bool StoreIsDirty(const StoreSection* section);

// A name length of 0 means the name is 0-terminated.
Result StoreReadValue(const StoreSection* section, const char* name, uint32_t nameLength,
                      StoreEntry* entry);
// Replaces the value of the first entry of that name, keeping its place, or
// appends a new entry. kStoreBadArg for a name of 0 or more than 255 bytes,
// a value over 65,535 bytes or a read-only section.
Result StoreWriteValue(StoreSection* section, const char* name, uint32_t nameLength,
                       const void* value, uint32_t valueLength, uint32_t kind);
Result StoreDeleteKey(StoreSection* section, const char* name, uint32_t nameLength);
// Removes every entry; kStoreBadArg for a read-only section.
Result StoreDeleteAll(StoreSection* section);

// Enumeration in stored order; kStoreNotFound at the end.
Result StoreFirst(const StoreSection* section, uintptr_t* cursor, StoreEntry* entry);
Result StoreNext(const StoreSection* section, uintptr_t* cursor, StoreEntry* entry);

// With a null buffer stores the size the block needs in *size. With a buffer
// of at least that size writes the block and stores its size; a smaller one
// answers kStoreBadArg. With freeAfter the section is freed (and nulled)
// whatever the outcome.
Result StoreSerialize(StoreSection** section, uint8_t* buffer, uint32_t* size, bool freeAfter);

// The section stack of a settings handle.
void StoreStackInit(ListHead* stack);
StoreStackRecord* StoreTop(ListHead* stack);
uint32_t StoreDepth(const ListHead* stack);
// Pushes a record over the block under the name. A damaged block is pushed as
// an empty section and answers kStoreMalformed; only out of memory or a name
// over 255 bytes leaves the stack as it was.
Result StoreOpenSection(ListHead* stack, const char* name, uint32_t nameLength,
                        const uint8_t* block, uint32_t length, bool editable);
// Pops the top record and stores its section, serialised, as a folder in the
// section below under `name` (null: the record's own name). A section that
// was not changed is dropped without rewriting its parent. The record is
// freed whatever the outcome.
Result StoreCommitLevel(ListHead* stack, const char* name, uint32_t nameLength);
// Pops the top record and frees its section without storing it.
void StoreReleaseSection(ListHead* stack);
void StoreReleaseAll(ListHead* stack);
