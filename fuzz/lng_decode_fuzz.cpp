// Every decoder and chunk reader: the first byte picks the family and the
// chunk size, the rest is the data. The decoders never write past their
// capacity, the length operations agree with them, each reader gives what
// its decoder gives whatever the chunk splits, and the whole-string
// conversions end their strings.
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

struct Family {
  uint32_t mib;
  LngReadCharFn read;
  LngDecodeFn decode;
};

constexpr Family kFamilies[] = {{Mib::Windows1252, LngSbcsReadChar, LngSbcsDecode},
                                {Mib::Utf8, LngUtf8ReadChar, LngUtf8Decode},
                                {Mib::EucKr, LngDbcsReadChar, LngDbcsDecode}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  EnsureHeap();
  const Family& f = kFamilies[data[0] % 3];
  const uint32_t chunk = 1 + (data[0] >> 2) % 8;
  const uint8_t* bytes = data + 1;
  const uint32_t count = static_cast<uint32_t>(size - 1);

  // Whole buffer, then with a tight capacity.
  std::vector<char16_t> whole(2 * count + 2);
  uint32_t written = 0;
  const uint32_t consumed = f.decode(bytes, count, whole.data(), &written);
  Check(consumed <= count && written <= 2 * count);
  whole.resize(written);
  if (count) {
    const uint32_t room = 1 + data[1] % 5;
    std::vector<char16_t> small(room);
    uint32_t capacity = room;
    const uint32_t used = f.decode(bytes, count, small.data(), &capacity);
    Check(capacity <= room && used <= consumed);
    Check(std::memcmp(small.data(), whole.data(), capacity * 2) == 0);
  }

  // The reader over chunks of `chunk` bytes.
  Queue queue{nullptr, nullptr};
  for (uint32_t i = 0; i < count; i += chunk)
    UtilDataChunkAppend(&queue, bytes + i, count - i < chunk ? count - i : chunk, Mod::Lng);
  std::vector<char16_t> read;
  for (;;) {
    Result result = kOk;
    const char16_t unit = f.read(&result, &queue);
    if (result == kLngEndOfData) break;
    read.push_back(unit);
  }
  Check(read == whole);
  Check(UtilDataChunkQueueBytes(&queue) == count - consumed);
  UtilDataChunkFreeQueue(&queue);

  // As a NUL-terminated text: the length agrees with the conversion.
  std::vector<char> text(bytes, bytes + count);
  text.push_back(0);
  uint32_t textBytes = 0;
  LngByteLengthFn length = nullptr;
  LngGetByteLength(&length, f.mib);
  const uint32_t units = length(&textBytes, text.data());
  Check(textBytes == std::strlen(text.data()));
  char16_t* wide = nullptr;
  if (LngCharsetToWide(&wide, text.data(), f.mib) == kOk && wide) {
    uint32_t n = 0;
    while (wide[n]) ++n;
    Check(n == units);
    // And back: the encoder fills exactly what its length promised.
    char* narrow = nullptr;
    Check(LngWideToCharset(&narrow, wide, f.mib) == kOk);
    LngWideLengthFn wideLength = nullptr;
    LngGetWideLength(&wideLength, f.mib);
    uint32_t wideUnits = 0;
    const uint32_t encoded = wideLength(&wideUnits, wide);
    Check(wideUnits == n);
    Check(narrow ? std::strlen(narrow) <= encoded : encoded == 0);
    MemFree(&narrow);
    MemFree(&wide);
  }
  Check(HeapValidate() == nullptr);
  return 0;
}
