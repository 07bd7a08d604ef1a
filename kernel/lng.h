// Character sets (module Lng, 27): conversion between the engine's UTF-16
// text and the 8-bit encodings of documents and protocols, keyed by IANA
// MIBenum.
//
// Every character set has one row of operations in the converter table. A
// MIBenum without a row falls back to the current language's default
// character set, and that failing too, to the windows-1252 row that ends the
// table. Received content is read from a queue of data chunks (kernel/datachunk.h)
// one character at a time; a chunk that is used up is freed.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

namespace Mib {
constexpr uint32_t UsAscii = 3, Latin1 = 4, Windows1252 = 2252, Utf8 = 106, Utf16Le = 1000,
                   Utf16Be = 32765, Utf16Native = 32766, End = 32767, Ksc5601 = 36, EucKr = 38,
                   ShiftJis = 17;
}

constexpr Result kLngNoMemory = ResultError(Mod::Lng, Err::NoMemory);
constexpr Result kLngNoConverter = ResultError(Mod::Lng, Err::NotFound);  // also: a charset name without an alias
constexpr Result kLngEndOfData = ResultError(Mod::Lng, 0x0004);

// The operations of a row. A capacity pointer that is null or holds 0 means
// no limit; when not null it receives the count written. A character whose
// output does not fit whole is neither written nor consumed.
//
// Reads one character from the head of the queue and returns its (first)
// UTF-16 unit; see the reader rule below.
using LngReadCharFn = char16_t (*)(Result* result, Queue* queue);
// The bytes the string encodes to (terminator excluded); its units through `units`.
using LngWideLengthFn = uint32_t (*)(uint32_t* units, const char16_t* string);
// Returns the units consumed; bytes written through `capacity`.
using LngEncodeFn = uint32_t (*)(const char16_t* units, uint32_t count, uint8_t* dest,
                                 uint32_t* capacity);
// The units the text decodes to (terminator excluded); its bytes through `bytes`.
using LngByteLengthFn = uint32_t (*)(uint32_t* bytes, const char* text);
// Returns the bytes consumed; units written through `capacity`.
using LngDecodeFn = uint32_t (*)(const uint8_t* bytes, uint32_t count, char16_t* dest,
                                 uint32_t* capacity);

struct LngConverter {
  uint32_t mib;
  LngReadCharFn readChar;
  LngWideLengthFn wideLength;
  LngEncodeFn encode;
  LngByteLengthFn byteLength;  // null for the UTF-16 byte-pair rows
  LngDecodeFn decode;          // null for the UTF-16 byte-pair rows
};

struct UtilDataChunk;

// A read position that does not consume: detection peeks through it.
struct LngChainCursor {
  Queue* queue;
  UtilDataChunk* chunk;  // null before the first read
  uint32_t offset;   // in chunk's data
  uint32_t state;    // detection state, 0 at the start
};

// The row's operation, 0; or the fallback row's operation and kLngNoConverter.
Result LngGetCharReader(LngReadCharFn* out, uint32_t mib);
Result LngGetWideLength(LngWideLengthFn* out, uint32_t mib);
Result LngGetEncoder(LngEncodeFn* out, uint32_t mib);
Result LngGetByteLength(LngByteLengthFn* out, uint32_t mib);
Result LngGetDecoder(LngDecodeFn* out, uint32_t mib);
// The row used for the MIBenum (after the fallback); never null.
const LngConverter* LngFindConverter(uint32_t mib);

// Whole-string conversions into engine memory (Use::String, Mod::Lng); null
// is stored for an empty result. 0, kLngNoMemory, or kLngNoConverter for a
// row that cannot decode (null stored).
Result LngCharsetToWide(char16_t** out, const char* text, uint32_t mib);
Result LngWideToCharset(char** out, const char16_t* string, uint32_t mib);
// Keeps the low byte of each unit, in the string's own buffer; the byte
// length. A null string gives 0.
uint32_t LngNarrowInPlace(char16_t* string);

// Byte values (unsigned) against units; the difference at the first
// mismatch or at the terminator.
int LngCompareNarrowWide(const char* narrow, const char16_t* wide);
// The same with ASCII folding on both sides; the difference of the unfolded
// characters at the first mismatch, 0 when equal.
int LngCompareNarrowWideNoCase(const char* narrow, const char16_t* wide);

// The name a character set is written out under, or null.
const char* LngGetCharsetName(uint32_t mib);
// The MIBenum of the alias equal to the first `length` characters of name
// (ASCII case ignored): 0, or kLngNoConverter with 0 stored.
Result LngFindCharset(uint32_t* mib, const char* name, uint32_t length);

// Reading bytes from a data queue. GetByte and ReadByte consume; a chunk
// used up is taken off the queue and freed.
Result LngChainGetByte(Queue* queue, uint8_t* out);
// The byte; the result code is set to 0 for a zero byte and to
// kLngEndOfData (0 returned) when the queue is empty, else left alone.
uint8_t LngChainReadByte(Result* result, Queue* queue);
// The byte at the cursor; moves on when advance is set. kLngEndOfData at the
// end of the data, the cursor left where it was.
Result LngChainPeekByte(uint8_t* out, LngChainCursor* cursor, int advance);
void LngChainCursorInit(LngChainCursor* cursor, Queue* queue);

// Decides a document's encoding from its first bytes: 1 when decided (the
// MIBenum stored, 0 when the bytes show none), 0 when more data is needed;
// call again with the same cursor once more has arrived. A byte-order mark
// is consumed from the queue; text known by its zero bytes keeps them all.
int LngDetectCharset(uint32_t* mib, LngChainCursor* cursor);

// The operation families behind the rows. Readers: one character from the
// head of the queue; when its bytes are not all there yet, nothing is
// consumed, the result code is set to kLngEndOfData and 0 returned; a zero
// unit sets it to 0; otherwise it is left alone.
char16_t LngSbcsReadChar(Result* result, Queue* queue);
uint32_t LngSbcsWideLength(uint32_t* units, const char16_t* string);
uint32_t LngSbcsEncode(const char16_t* units, uint32_t count, uint8_t* dest, uint32_t* capacity);
uint32_t LngSbcsByteLength(uint32_t* bytes, const char* text);
uint32_t LngSbcsDecode(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity);

// UTF-8. Ill-formed input (a bad lead or continuation byte, an overlong
// form, a surrogate, a code point above U+10FFFF) gives U+FFFD for one byte,
// alike in the length, decode and read paths. A four-byte sequence gives a
// surrogate pair; the reader returns its high half and the low half on the
// next call.
char16_t LngUtf8ReadChar(Result* result, Queue* queue);
uint32_t LngUtf8WideLength(uint32_t* units, const char16_t* string);
uint32_t LngUtf8Encode(const char16_t* units, uint32_t count, uint8_t* dest, uint32_t* capacity);
uint32_t LngUtf8ByteLength(uint32_t* bytes, const char* text);
uint32_t LngUtf8Decode(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity);

// UTF-16 in byte pairs, and text that already is UTF-16 in memory.
char16_t LngUtf16LeReadChar(Result* result, Queue* queue);
char16_t LngUtf16BeReadChar(Result* result, Queue* queue);
// Units of an in-memory UTF-16 text given as bytes; its byte count stored.
uint32_t LngUtf16ByteLength(uint32_t* bytes, const char* text);
// Copies count / 2 units; the bytes consumed (even).
uint32_t LngUtf16Copy(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity);

// The Korean double-byte code page (Unified Hangul Code).
char16_t LngDbcsReadChar(Result* result, Queue* queue);
uint32_t LngDbcsWideLength(uint32_t* units, const char16_t* string);
uint32_t LngDbcsEncode(const char16_t* units, uint32_t count, uint8_t* dest, uint32_t* capacity);
uint32_t LngDbcsByteLength(uint32_t* bytes, const char* text);
uint32_t LngDbcsDecode(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity);
