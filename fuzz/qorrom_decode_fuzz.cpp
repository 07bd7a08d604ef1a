// The built-in file decoder on arbitrary input: it never writes past its
// room, and a block chain and a stored entry decode as the whole input does.
// The encoder stays off this path (it would take most of the time); the
// seeds whose names start with "enc_" were made by it once, from pages,
// pictograms, runs and a full window, so the fuzzer starts from real streams.
//
// Input: two bytes of room (little-endian, up to 8192), then the stream.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "kernel/qorrom.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 16384) return 0;
  const uint32_t room = (data[0] | data[1] << 8) % (kQorRomMaxExpanded + 1);
  const uint8_t* input = data + 2;
  const auto length = static_cast<uint32_t>(size - 2);

  // Exactly `room` bytes, so a write past them is caught by the sanitizer.
  std::vector<uint8_t> whole(room);
  uint32_t produced = room;
  const QorRomInBlock block{nullptr, input, length, 0};
  const int ok = QorRomDecodeStream(&block, whole.data(), &produced);

  // The same input cut into blocks of 1, 2, 3, ... bytes.
  std::vector<QorRomInBlock> blocks;
  for (uint32_t pos = 0, take = 1; pos < length; pos += take, ++take) {
    if (take > length - pos) take = length - pos;
    blocks.push_back({nullptr, input, take, pos});
  }
  for (size_t i = 0; i + 1 < blocks.size(); ++i) blocks[i].next = &blocks[i + 1];
  std::vector<uint8_t> chained(room);
  uint32_t chainedProduced = room;
  const int chainedOk =
      QorRomDecodeStream(blocks.empty() ? nullptr : blocks.data(), chained.data(), &chainedProduced);
  Check(ok == chainedOk);
  if (!ok) return 0;
  Check(produced <= room && produced == chainedProduced);
  Check(std::memcmp(whole.data(), chained.data(), produced) == 0);

  // As one stored entry: the same bytes behind the caller's header word.
  std::vector<uint8_t> image(room + 4);
  uint32_t entry = room;
  const int exact = QorRomDecompress(input, length, image.data(), &entry);
  Check(entry == produced && exact == (produced == room));
  Check(std::memcmp(image.data() + 4, whole.data(), produced) == 0);
  return 0;
}
