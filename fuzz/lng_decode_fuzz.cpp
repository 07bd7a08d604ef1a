// Every row of the converter table, its decoder, chunk reader and encoder:
// the first byte picks the row and the chunk size, the rest is the data.
// Nothing writes past its capacity, the length operations agree with the
// conversions, each reader gives what its decoder gives whatever the chunk
// splits, and the whole-string conversions end their strings.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/heap.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/datachunk.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void EnsureHeap() {
  static std::vector<uint64_t> heap;
  if (heap.empty()) {
    heap.assign((4u << 20) / 8, 0);
    HeapArenaInit(heap.data(), 4u << 20);
  }
}

// Every row of the converter table, and a MIBenum without one (its
// language's default row answers).
constexpr uint32_t kMibs[] = {Mib::Windows1252, Mib::Utf8,    Mib::EucKr,       Mib::UsAscii,
                              Mib::Latin1,      Mib::Utf16Le, Mib::Utf16Be,     Mib::Utf16Native,
                              Mib::Ksc5601,     Mib::ShiftJis};
constexpr uint32_t kRows = sizeof kMibs / sizeof kMibs[0];

bool IsUtf16(uint32_t mib) {
  return mib == Mib::Utf16Le || mib == Mib::Utf16Be || mib == Mib::Utf16Native;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  EnsureHeap();
  const uint32_t mib = kMibs[data[0] % kRows];
  const LngConverter* row = LngFindConverter(mib);
  const uint32_t chunk = 1 + (data[0] / kRows) % 8;
  const uint8_t* bytes = data + 1;
  const uint32_t count = static_cast<uint32_t>(size - 1);

  // Whole buffer, then with a tight capacity.
  std::vector<char16_t> whole;
  uint32_t consumed = count;
  if (row->decode) {
    whole.resize(2 * count + 2);
    uint32_t written = 0;
    consumed = row->decode(bytes, count, whole.data(), &written);
    Check(consumed <= count && written <= 2 * count);
    whole.resize(written);
    if (count) {
      const uint32_t room = 1 + data[1] % 5;
      std::vector<char16_t> small(room);
      uint32_t capacity = room;
      const uint32_t used = row->decode(bytes, count, small.data(), &capacity);
      Check(capacity <= room && used <= consumed);
      Check(std::memcmp(small.data(), whole.data(), capacity * 2) == 0);
    }
  }

  // The reader over chunks of `chunk` bytes.
  Queue queue{nullptr, nullptr};
  for (uint32_t i = 0; i < count; i += chunk)
    UtilDataChunkAppend(&queue, bytes + i, count - i < chunk ? count - i : chunk, Mod::Lng);
  std::vector<char16_t> read;
  for (uint32_t n = 0;; ++n) {
    Check(n <= count);
    Result result = kOk;
    const char16_t unit = row->readChar(&result, &queue);
    if (result == kLngEndOfData) break;
    read.push_back(unit);
  }
  if (!IsUtf16(row->mib)) {
    Check(read == whole);
    Check(UtilDataChunkQueueBytes(&queue) == count - consumed);
  } else {
    Check(UtilDataChunkQueueBytes(&queue) < 4);
  }
  UtilDataChunkFreeQueue(&queue);

  // The units back through the row's encoder, with a tight capacity too.
  if (!read.empty()) {
    std::vector<uint8_t> out(4 * read.size());
    uint32_t capacity = static_cast<uint32_t>(out.size());
    const uint32_t took = row->encode(read.data(), static_cast<uint32_t>(read.size()), out.data(),
                                      &capacity);
    Check(took <= read.size() && capacity <= out.size());
    const uint32_t room = 1 + data[1] % 3;
    std::vector<uint8_t> small(room);
    capacity = room;
    row->encode(read.data(), static_cast<uint32_t>(read.size()), small.data(), &capacity);
    Check(capacity <= room);
  }

  // As a 0-terminated text (UTF-16 in memory for the native row): the
  // length agrees with the conversion.
  std::vector<char> text(bytes, bytes + count);
  if (row->mib == Mib::Utf16Native) {
    text.resize(count & ~1u);
    for (size_t i = 0; i + 1 < text.size(); i += 2)
      if (!text[i] && !text[i + 1]) text.resize(i);
    text.push_back(0);
  } else {
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
  }
  text.push_back(0);
  char16_t* wide = nullptr;
  if (!row->byteLength) {
    Check(LngCharsetToWide(&wide, text.data(), mib) == kLngNoConverter && !wide);
  } else {
    uint32_t textBytes = 0;
    const uint32_t units = row->byteLength(&textBytes, text.data());
    Check(textBytes + 1 <= text.size());
    if (!IsUtf16(row->mib)) Check(textBytes == std::strlen(text.data()));
    if (LngCharsetToWide(&wide, text.data(), mib) == kOk && wide) {
      uint32_t n = 0;
      while (wide[n]) ++n;
      Check(n <= units);
      if (!IsUtf16(row->mib)) Check(n == units);
    }
  }
  if (wide) {
    // And back: the encoder fills exactly what its length promised.
    uint32_t n = 0;
    while (wide[n]) ++n;
    char* narrow = nullptr;
    Check(LngWideToCharset(&narrow, wide, mib) == kOk);
    uint32_t wideUnits = 0;
    const uint32_t encoded = row->wideLength(&wideUnits, wide);
    Check(wideUnits == n);
    Check(narrow ? std::strlen(narrow) <= encoded : encoded == 0);
    MemFree(&narrow);
    MemFree(&wide);
  }
  Check(HeapValidate() == nullptr);
  return 0;
}
