// Arbitrary bytecode run under a step limit: the input's first byte gives
// the local-variable count of function 0 and the length of its code; the
// code of function 0 follows, the rest is the code of function 1 (two
// arguments). The unit has constants of every kind. Any code ends as a
// finished run, an error status or a run still going at the limit, and the
// heap is back where it started once the run and the unit are freed. The
// same run taken one instruction a slice passes through the same states at
// every slice's end, wherever the first slice ends.
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "kernel/heap.h"
#include "services/wmlscript/wmls.h"
#include "tests/services/wmls_mbuint.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A run still going after this many slices is ended: a loop shows all it
// can within a few thousand steps, and a longer limit only slowed every
// endless input down.
constexpr size_t kSlices = 24;

uint64_t Mix(uint64_t h, uint64_t v) { return (h ^ v) * 0x100000001B3ull; }

uint64_t Cell(uint64_t h, const WmlsValue& v) {
  h = Mix(h, v.type);
  if (v.type == WmlsType::String) {
    for (const char16_t* p = WmlsStr(v); p && *p; ++p) h = Mix(h, *p);
  } else if (v.type != WmlsType::Unset && v.type != WmlsType::Invalid) {
    h = Mix(h, v.value);
  }
  return h;
}

uint64_t State(const WmlsRunContext& c, int32_t result) {
  uint64_t h = Mix(0xCBF29CE484222325ull, static_cast<uint32_t>(result));
  h = Mix(Mix(h, static_cast<uint32_t>(c.status)), static_cast<uint32_t>(c.top));
  for (int32_t i = 0; i <= c.top; ++i) h = Cell(h, c.stack[i]);
  for (const WmlsFrame* f = c.frame; f; f = f->previous) {
    h = Mix(h, f->offset);
    for (int16_t i = 0; i < f->variableCount; ++i) h = Cell(h, f->variables[i]);
  }
  return h;
}

constexpr size_t kEnded = static_cast<size_t>(-1);

// The run taken `first` instructions, then `steps` a slice, until it ends
// or `limit` instructions have been taken: {instructions taken, state}
// after each slice, and {kEnded, state} once it has ended.
std::vector<std::pair<size_t, uint64_t>> Trace(WmlsUnit* unit, uint32_t first, uint32_t steps, size_t limit) {
  std::vector<std::pair<size_t, uint64_t>> states;
  WmlsRunContext ctx;
  int32_t r = WmlsRunStart(&ctx, unit, 0, nullptr, 0);
  Check(r == 0);
  for (size_t taken = 0, slice = first; r == 0 && ctx.status == 0 && taken + slice <= limit; slice = steps) {
    r = WmlsRunSlice(&ctx, static_cast<uint32_t>(slice));
    Check(ctx.top >= -1 && ctx.top < ctx.capacity);
    taken += slice;
    states.push_back({r != 0 || ctx.status != 0 ? kEnded : taken, State(ctx, r)});
  }
  Check(r == 0 || ctx.status != 0);
  WmlsRunRelease(&ctx);
  return states;
}

// The run taken one instruction at a time: its state after each of the
// wanted instruction counts, and where and how it ended.
struct Single {
  std::vector<uint64_t> at;
  size_t endedAt = kEnded;
  uint64_t end = 0;
};

Single TraceSingle(WmlsUnit* unit, size_t limit, const std::vector<bool>& wanted) {
  Single s;
  s.at.assign(limit + 1, 0);
  WmlsRunContext ctx;
  int32_t r = WmlsRunStart(&ctx, unit, 0, nullptr, 0);
  Check(r == 0);
  for (size_t taken = 0; r == 0 && ctx.status == 0 && taken < limit;) {
    r = WmlsRunSlice(&ctx, 1);
    ++taken;
    if (r != 0 || ctx.status != 0) {
      s.endedAt = taken;
      s.end = State(ctx, r);
    } else if (wanted[taken]) {
      s.at[taken] = State(ctx, r);
    }
  }
  WmlsRunRelease(&ctx);
  return s;
}

// Every state between slices of the sliced run is the state the run taken
// one instruction at a time has after as many instructions, and both end
// the same way.
void CheckAgainst(const Single& single, const std::vector<std::pair<size_t, uint64_t>>& sliced) {
  for (const auto& [taken, state] : sliced) {
    if (taken == kEnded) {
      Check(single.endedAt != kEnded && single.end == state);
    } else {
      Check(single.endedAt == kEnded || single.endedAt > taken);
      Check(single.at[taken] == state);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 21);
  static const bool ready = (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 2 || size > 4096) return 0;
  const uint32_t locals = data[0] & 0x3F;
  const size_t split = 1 + (size - 1) * ((data[0] >> 6) + 1) / 4;

  std::vector<uint8_t> body;
  WmlsMbUInt(body, 6);    // constants
  WmlsMbUInt(body, 106);  // UTF-8
  const uint8_t constants[] = {0, 0xF9, 1, 0x7F, 0xFF, 2, 0x80, 0, 0, 0, 3, 0x40, 0x49, 0x0F, 0xDB,
                               4, 3, 'a', 'b', 'c', 5};
  body.insert(body.end(), constants, constants + sizeof constants);
  WmlsMbUInt(body, 0);  // pragmas
  body.push_back(2);
  body.push_back(0);
  body.push_back(0);
  body.push_back(static_cast<uint8_t>(locals));
  WmlsMbUInt(body, static_cast<uint32_t>(split - 1));
  body.insert(body.end(), data + 1, data + split);
  body.push_back(2);
  body.push_back(1);
  WmlsMbUInt(body, static_cast<uint32_t>(size - split));
  body.insert(body.end(), data + split, data + size);
  std::vector<uint8_t> unitBytes{1};
  WmlsMbUInt(unitBytes, static_cast<uint32_t>(body.size()));
  unitBytes.insert(unitBytes.end(), body.begin(), body.end());

  const uint32_t freeBefore = HeapGetStats().freeBytes;
  WmlsUnit* unit = nullptr;
  Check(WmlsUnitParse(unitBytes.data(), static_cast<uint32_t>(unitBytes.size()), &unit) == WmlsParse::Ok);
  const size_t limit = kSlices * kWmlsSliceSteps;
  const auto full = Trace(unit, kWmlsSliceSteps, kWmlsSliceSteps, limit);
  // Slices that begin anywhere in the code.
  const uint32_t shift = 1 + data[size - 1] % (kWmlsSliceSteps - 1);
  const auto shifted = Trace(unit, shift, kWmlsSliceSteps, limit);
  std::vector<bool> wanted(limit + 1, false);
  for (const auto* trace : {&full, &shifted})
    for (const auto& [taken, state] : *trace)
      if (taken != kEnded) wanted[taken] = true;
  const Single single = TraceSingle(unit, limit, wanted);
  CheckAgainst(single, full);
  CheckAgainst(single, shifted);
  WmlsUnitFree(&unit);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
