// Call texts "name(arguments)" as a link's fragment hands them over, each
// byte one unit of the text, against a unit with an exported function of two
// arguments. Any text ends as a refused start or a finished run, and the
// heap is back where it started once the run and the unit are freed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kernel/heap.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_task.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Function 0 "f" (two arguments) returns its first argument less its second.
const uint8_t kUnit[] = {1, 15, 0, 106, 0, 1, 1, 0, 1, 'f', 2, 0, 4, 0xE0, 0xE1, 0x21, 0x3A};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 18);
  static const bool ready = (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size > 4096) return 0;
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  WmlsUnit* unit = nullptr;
  Check(WmlsUnitParse(kUnit, sizeof kUnit, &unit) == WmlsParse::Ok);
  std::vector<char16_t> call(data, data + size);
  call.push_back(0);
  WmlsRunContext ctx;
  int32_t r = WmlsRunCall(&ctx, unit, call.data(), nullptr, nullptr, nullptr);
  for (int slice = 0; r == 0 && ctx.status == 0 && slice < 20; ++slice) r = WmlsRunSlice(&ctx, kWmlsSliceSteps);
  WmlsRunRelease(&ctx);
  WmlsUnitFree(&unit);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
