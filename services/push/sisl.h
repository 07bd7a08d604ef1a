// Service Indication and Service Loading documents (module WtlNotify, 68):
// the content rows of application/vnd.wap.sic (46) and vnd.wap.slc (48)
// turn a compiled document into one compact push record on the load's
// output list, which the push inbox reads.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "kernel/modules.h"

constexpr Result kSiSlNoMemory = ResultError(Mod::WtlNotify, Err::NoMemory);
constexpr Result kSiSlBadArg = ResultError(Mod::WtlNotify, Err::BadArg);

// Push record types.
namespace PushRecordType {
constexpr uint32_t Si = 0, Sl = 3;
}

// One scale for both documents.
namespace PushAction {
constexpr uint32_t Delete = 0, SignalNone = 1, Cache = 2, SignalLow = 3, ExecuteLow = 4,
                   SignalMedium = 5, ExecuteHigh = 6, SignalHigh = 7;
}

constexpr uint16_t kSiAbsent = 0xFFFF;

// One allocation: the fixed fields, then the text area (UTF-16): href,
// si-id, created, si-expires, each NUL-terminated when present, then the
// text chunks joined and NUL-terminated. Indexes are in UTF-16 units into
// the text area; si-id takes href's index when the document has none.
struct SiRecord {
  SiRecord* link;
  uint32_t action;
  uint32_t type;  // PushRecordType::Si
  uint16_t href, siId, created, expires, text;
  char16_t area[1];
};

struct SlRecord {
  SlRecord* link;
  uint32_t action;
  uint32_t type;  // PushRecordType::Sl
  char16_t href[1];  // NUL-terminated, empty when absent
};

// The common head of both records.
struct PushRecord {
  PushRecord* link;
  uint32_t action;
  uint32_t type;
};

// The string of an SI field, or null when absent.
inline const char16_t* SiField(const SiRecord* record, uint16_t index) {
  return index == kSiAbsent ? nullptr : record->area + index;
}

// The stored form of a record, field by field (little-endian): action,
// type, for an SI its five indexes (16-bit), then the count of text units
// and the units. Written into out when given; its length either way.
uint32_t PushRecordStore(const PushRecord* record, uint8_t* out);
// A record read back from its stored form, checked (every index inside,
// every text ended): 0 and the record; kSiSlBadArg when the bytes do not
// read, kSiSlNoMemory without memory (*out null either way).
Result PushRecordLoad(const uint8_t* bytes, uint32_t length, PushRecord** out);

// The first push record on the load's output list, or null.
const PushRecord* PushRecordOf(const UrlLoad* load);

// The two content rows' operations.
Result SiSlContentProcess(UrlModuleContext* module, UrlLoad* load);
Result SiSlContentRelease(UrlModuleContext* module, UrlLoad* load);

// Appends the record to the load's output list (output-added event).
void SiSlAttachRecord(UrlLoad* load, void* record);

// A date value as the record keeps it: text as it stands (longer than 7
// units with "-", "T" and "Z"), else opaque bytes written as hexadecimal
// digits into "0000-00-00T00:00:00Z". A new string (module 68) or null.
char16_t* SiSlDateValue(const char16_t* value, uint32_t length);
