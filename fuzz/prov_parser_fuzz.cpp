// The connectivity-document parser over arbitrary bytes, fed in pieces of a
// size the last byte picks, and the writer over whatever tree it made: both
// answer with a code and leave the heap as they found it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "services/provisioning/prov.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  static std::vector<uint64_t> arena(1u << 18);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  const auto n = static_cast<uint32_t>(size);
  const uint32_t piece = n ? 1 + data[n - 1] % 23 : 1;
  ProvParser* parser = nullptr;
  if (ProvParserCreate(&parser, n && (data[0] & 1) ? ProvMode::Local : ProvMode::Remote) == kOk) {
    parser->slot = n ? data[0] % 3 : 0;
    parser->initiator = "fuzz";
    Queue queue{};
    Result r = 0;
    for (uint32_t at = 0; at < n && r == 0; at += piece) {
      const uint32_t count = n - at < piece ? n - at : piece;
      Check(UtilDataChunkAppend(&queue, data + at, count, Mod::TestCode) == kOk);
      r = ProvParserFeed(parser, &queue);
    }
    if (r == kWbxmlFinished) {
      ConfigHandle* access = nullptr;
      if (ConfigCreate(&access) == kOk) {
        ProvWriteEntry(parser, access);
        ConfigFreeHandle(&access);
      }
    }
    UtilDataChunkFreeQueue(&queue);
    ProvParserFree(&parser);
  }
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
