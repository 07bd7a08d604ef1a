// The converter table, its lookup with the fallback to the current
// language's default character set, and the whole-string conversions.
#include "kernel/lng.h"

#include "host/platform/lang.h"
#include "kernel/mem.h"

namespace {

// Text written out in any of the UTF-16 character sets is written as UTF-8.
// The byte-pair rows cannot decode a NUL-terminated text, so they have no
// byte-length and decode operations.
constexpr LngConverter kConverters[] = {
    {Mib::UsAscii, LngSbcsReadChar, LngSbcsWideLength, LngSbcsEncode, LngSbcsByteLength,
     LngSbcsDecode},
    {Mib::Latin1, LngSbcsReadChar, LngSbcsWideLength, LngSbcsEncode, LngSbcsByteLength,
     LngSbcsDecode},
    {Mib::Windows1252, LngSbcsReadChar, LngSbcsWideLength, LngSbcsEncode, LngSbcsByteLength,
     LngSbcsDecode},
    {Mib::Utf8, LngUtf8ReadChar, LngUtf8WideLength, LngUtf8Encode, LngUtf8ByteLength,
     LngUtf8Decode},
    {Mib::Utf16Le, LngUtf16LeReadChar, LngUtf8WideLength, LngUtf8Encode, nullptr, nullptr},
    {Mib::Utf16Be, LngUtf16BeReadChar, LngUtf8WideLength, LngUtf8Encode, nullptr, nullptr},
    {Mib::Utf16Native, LngUtf16LeReadChar, LngUtf8WideLength, LngUtf8Encode, LngUtf16ByteLength,
     LngUtf16Copy},
    {Mib::Ksc5601, LngDbcsReadChar, LngDbcsWideLength, LngDbcsEncode, LngDbcsByteLength,
     LngDbcsDecode},
    {Mib::EucKr, LngDbcsReadChar, LngDbcsWideLength, LngDbcsEncode, LngDbcsByteLength,
     LngDbcsDecode},
    // Ends the table; also the row of last resort.
    {Mib::End, LngSbcsReadChar, LngSbcsWideLength, LngSbcsEncode, LngSbcsByteLength,
     LngSbcsDecode},
};

const LngConverter* Walk(uint32_t mib) {
  const LngConverter* row = kConverters;
  while (row->mib != mib && row->mib != Mib::End) ++row;
  return row;
}

// The row of the MIBenum, or of the language's default with kLngNoConverter.
Result Lookup(const LngConverter** out, uint32_t mib) {
  const LngConverter* row = Walk(mib);
  if (row->mib == mib) {
    *out = row;
    return kOk;
  }
  *out = Walk(ShellGetLanguage()->converterDefault);
  return kLngNoConverter;
}

template <class Fn>
Result Get(Fn* out, uint32_t mib, Fn LngConverter::*slot) {
  const LngConverter* row;
  const Result result = Lookup(&row, mib);
  *out = row->*slot;
  return result;
}

}  // namespace

const LngConverter* LngFindConverter(uint32_t mib) {
  const LngConverter* row;
  Lookup(&row, mib);
  return row;
}

Result LngGetCharReader(LngReadCharFn* out, uint32_t mib) {
  return Get(out, mib, &LngConverter::readChar);
}
Result LngGetWideLength(LngWideLengthFn* out, uint32_t mib) {
  return Get(out, mib, &LngConverter::wideLength);
}
Result LngGetEncoder(LngEncodeFn* out, uint32_t mib) {
  return Get(out, mib, &LngConverter::encode);
}
Result LngGetByteLength(LngByteLengthFn* out, uint32_t mib) {
  return Get(out, mib, &LngConverter::byteLength);
}
Result LngGetDecoder(LngDecodeFn* out, uint32_t mib) {
  return Get(out, mib, &LngConverter::decode);
}

Result LngCharsetToWide(char16_t** out, const char* text, uint32_t mib) {
  *out = nullptr;
  const LngConverter* row = LngFindConverter(mib);
  if (!row->byteLength || !row->decode) return kLngNoConverter;
  uint32_t bytes = 0;
  const uint32_t units = row->byteLength(&bytes, text);
  if (units == 0) return kOk;
  if (units >= UINT32_MAX / 2 - 1) return kLngNoMemory;
  auto* string = static_cast<char16_t*>(MemAlloc((units + 1) * 2, Use::String, Mod::Lng));
  if (!string) return kLngNoMemory;
  // The terminator is decoded with the text; the capacity guards the buffer
  // and the terminator is set where decoding ended whatever the row did.
  uint32_t written = units + 1;
  row->decode(reinterpret_cast<const uint8_t*>(text), bytes + 1, string, &written);
  string[written <= units ? written : units] = 0;
  *out = string;
  return kOk;
}

Result LngWideToCharset(char** out, const char16_t* string, uint32_t mib) {
  *out = nullptr;
  const LngConverter* row = LngFindConverter(mib);
  uint32_t units = 0;
  const uint32_t bytes = row->wideLength(&units, string);
  if (bytes == 0) return kOk;
  if (bytes == UINT32_MAX) return kLngNoMemory;
  auto* text = static_cast<char*>(MemAlloc(bytes + 1, Use::String, Mod::Lng));
  if (!text) return kLngNoMemory;
  // An encoder may leave a last unit unwritten (a high surrogate without its
  // low half); the terminator goes where the bytes end.
  uint32_t written = bytes;
  row->encode(string, units, reinterpret_cast<uint8_t*>(text), &written);
  text[written] = 0;
  *out = text;
  return kOk;
}

uint32_t LngNarrowInPlace(char16_t* string) {
  if (!string) return 0;
  auto* bytes = reinterpret_cast<unsigned char*>(string);
  uint32_t n = 0;
  // Byte n is written after unit n is read, and lies at or below its first byte.
  for (char16_t unit; (unit = string[n]) != 0; ++n) bytes[n] = static_cast<unsigned char>(unit);
  bytes[n] = 0;
  return n;
}

int LngCompareNarrowWide(const char* narrow, const char16_t* wide) {
  const auto* p = reinterpret_cast<const unsigned char*>(narrow);
  for (; *p == *wide; ++p, ++wide)
    if (*p == 0) return 0;
  return static_cast<int>(*p) - static_cast<int>(*wide);
}

int LngCompareNarrowWideNoCase(const char* narrow, const char16_t* wide) {
  const auto fold = [](uint32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  const auto* p = reinterpret_cast<const unsigned char*>(narrow);
  for (; fold(*p) == fold(*wide); ++p, ++wide)
    if (*p == 0) return 0;
  return static_cast<int>(*p) - static_cast<int>(*wide);
}
