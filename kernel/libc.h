// The engine's own C-library layer: memory, 8-bit and UTF-16 strings,
// number parsing and formatting, duplication into engine memory, calendar
// time and base64 quads. It keeps no state; its allocations are tagged
// Use::String and Mod::Libc.
//
// Destinations are never size-checked: the caller guarantees room.
// Case folding is ASCII only (A-Z to a-z). 8-bit comparisons take bytes as
// signed, UTF-16 comparisons take units as unsigned; every comparison returns
// the difference of the first differing (folded) pair, 0 when equal.
#pragma once
#include <cstdint>

// Memory.
void* LibcMemSet(void* dest, int byte, uint32_t n);
void* LibcMemCopy(void* dest, const void* src, uint32_t n);  // no overlap
void* LibcMemMove(void* dest, const void* src, uint32_t n);
int LibcMemCompare(const void* a, const void* b, uint32_t n);  // unsigned bytes

// 8-bit strings.
uint32_t LibcStrLen(const char* s);
char* LibcStrCopy(char* dest, const char* s);
char* LibcStrCat(char* dest, const char* s);
// Zero-fills to n when s ends early; no NUL when s has n or more bytes.
char* LibcStrNCopy(char* dest, const char* s, uint32_t n);
int LibcStrCmp(const char* s, const char* t);
int LibcStrNCmp(const char* s, const char* t, uint32_t n);
int LibcStrICmp(const char* s, const char* t);
int LibcStrNICmp(const char* s, const char* t, uint32_t n);
// c = 0 gives the terminator's address.
const char* LibcStrChr(const char* s, int c);
// c = 0 and an empty s both give null.
const char* LibcStrRChr(const char* s, int c);
// An empty t gives s.
const char* LibcStrStr(const char* s, const char* t);
// An empty t gives null.
const char* LibcStrIStr(const char* s, const char* t);
inline char* LibcStrChr(char* s, int c) {
  return const_cast<char*>(LibcStrChr(static_cast<const char*>(s), c));
}
inline char* LibcStrRChr(char* s, int c) {
  return const_cast<char*>(LibcStrRChr(static_cast<const char*>(s), c));
}
inline char* LibcStrStr(char* s, const char* t) {
  return const_cast<char*>(LibcStrStr(static_cast<const char*>(s), t));
}
inline char* LibcStrIStr(char* s, const char* t) {
  return const_cast<char*>(LibcStrIStr(static_cast<const char*>(s), t));
}

// Copies into engine memory; null when the allocation fails. LibcStrNDup
// allocates n + 1 bytes: the first n bytes of s, zero-filled past its end,
// and a NUL at n.
char* LibcStrDup(const char* s);
char* LibcStrNDup(const char* s, uint32_t n);

// UTF-16 strings.
uint32_t LibcWStrLen(const char16_t* w);
char16_t* LibcWStrCopy(char16_t* dest, const char16_t* w);
char16_t* LibcWStrCat(char16_t* dest, const char16_t* w);
// Zero-fills to n when w ends early; no terminator when w has n or more units.
char16_t* LibcWStrNCopy(char16_t* dest, const char16_t* w, uint32_t n);
int LibcWStrCmp(const char16_t* w, const char16_t* v);
int LibcWStrNCmp(const char16_t* w, const char16_t* v, uint32_t n);
int LibcWStrICmp(const char16_t* w, const char16_t* v);
// An 8-bit text against a UTF-16 text, at most n characters, ASCII folding.
// Bytes count as Latin-1 (unsigned), so a Latin-1 text equals its UTF-16 form.
int LibcStrWStrNICmp(const char* s, const char16_t* w, uint32_t n);
// unit = 0 gives the terminator's address.
const char16_t* LibcWStrChr(const char16_t* w, char16_t unit);
// An empty v gives w.
const char16_t* LibcWStrStr(const char16_t* w, const char16_t* v);
inline char16_t* LibcWStrChr(char16_t* w, char16_t unit) {
  return const_cast<char16_t*>(LibcWStrChr(static_cast<const char16_t*>(w), unit));
}
inline char16_t* LibcWStrStr(char16_t* w, const char16_t* v) {
  return const_cast<char16_t*>(LibcWStrStr(static_cast<const char16_t*>(w), v));
}
char16_t* LibcWStrDup(const char16_t* w);

// Numbers. Parsing skips blanks (space, 0x09-0x0D), takes one optional sign
// and decimal digits up to the first non-digit; it does not check overflow
// (the value wraps to 32 bits); no digits give 0.
int32_t LibcAtoI(const char* s);
int32_t LibcWtoI(const char16_t* w);
// Digits 0-9 then A-Z; a sign only in radix 10, any other radix formats the
// 32-bit pattern as unsigned. dest needs 34 units at most. A radix outside
// 2-36 writes an empty string.
char* LibcItoA(int32_t value, char* dest, int radix);
char16_t* LibcIntToWStr(int32_t value, char16_t* dest, int radix);

// Base64 quads: characters outside the alphabet are skipped, "=" pads. A pad
// in the first or second place of a quad ends decoding; one in the third
// yields 1 byte, in the fourth 2; an incomplete last quad is dropped. Stores
// the bytes written (at most 3 * length / 4) through count; returns 1.
int LibcBase64DecodeQuads(uint8_t* dest, uint32_t* count, const char* text, uint32_t length);

// Standard base64 (RFC 4648) of a text that may hold line breaks and other
// characters outside the alphabet, which are skipped; decoding ends at the
// first "=". An unpadded last group of two or three symbols still gives its
// one or two bytes. bytes needs room for 3 * length / 4; the bytes written
// are stored through count (when given) and returned.
uint32_t LibcBase64Decode(const char* text, uint32_t length, uint8_t* bytes, uint32_t* count);
// The value of a hex digit of either case, -1 for any other character.
int LibcHexDigit(char c);
// Quoted-printable (RFC 2045): "=XX" gives the byte of two hex digits (either
// case), "=" before a line end (or ending the text) is a soft break and dropped, blanks before a
// line end are dropped; an "=" without two hex digits stays as it is. output
// needs room for length bytes; returns the bytes written.
uint32_t LibcQpDecode(const char* text, uint32_t length, uint8_t* output);

// Frees the non-null slots of an array of eight engine-allocated pointers,
// then the array, and nulls *handle; nothing when *handle is null.
constexpr int kLibcPtrArraySlots = 8;
void LibcFreePtrArray(void*** handle);
template <class T>
inline void LibcFreePtrArray(T*** handle) {
  LibcFreePtrArray(reinterpret_cast<void***>(handle));
}

void UtilSetPair(uint32_t* record, uint32_t a, uint32_t b);

// Calendar time. The engine's time is int32_t seconds since 1970-01-01 UTC.
struct LibcTm {
  int32_t sec;    // 0-59
  int32_t min;    // 0-59
  int32_t hour;   // 0-23
  int32_t mday;   // 1-31
  int32_t mon;    // 0-11
  int32_t year;   // year - 1900
  int32_t wday;   // 0 = Sunday
  int32_t yday;   // 0-365
  int32_t isdst;  // 1 yes, 0 no, negative: the host decides
};

struct LibcMonthRow {
  int32_t days;  // February counts 29
  const char* shortName;
  const char* name;
};
extern const LibcMonthRow kLibcMonths[12];
// Days in the months before month m of a common year, less one.
extern const int32_t kLibcDaysBeforeMonth[13];

struct LibcZoneRow {
  const char* name;
  int32_t offset;  // seconds east of UTC
};
constexpr int kLibcZoneCount = 36;
extern const LibcZoneRow kLibcZones[kLibcZoneCount];

// The platform clock; also stored through out when out is not null.
int32_t LibcTime(int32_t* out);
// A negative time gives zeros with day 1 and isdst -1. Returns tm.
LibcTm* LibcGmTime(LibcTm* tm, const int32_t* time);
// Years 1969-2039 only; -1 outside them or when the seconds overflow 32 bits.
// Reads tm (a month outside 0-11 is carried into the year) and leaves it be.
int32_t LibcMakeTime(LibcTm* tm);
// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month
// 1-12), in 64 bits: for dates the 32-bit time cannot hold.
int64_t LibcDaysSince1970(int64_t year, int64_t month, int64_t day);
// "+HHMM" / "-HHMM" after blanks, else a zone name; 0 and the offset in
// seconds east of UTC, or -1 and offset 0.
int LibcParseZoneOffset(const char* text, int32_t* offset);
// The whole text against the zone table, case-insensitively; 0 or -1 with
// offset 0.
int LibcFindZoneName(const char* text, int32_t* offset);
