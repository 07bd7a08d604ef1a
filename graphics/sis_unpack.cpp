// The adaptive unpacker: a range decoder whose symbols come from an order-1
// model (context = upper 7 bits of the previous byte), escaping to an order-0
// model and then to a flat one, with a run layer on top. It decodes a block
// in steps of at most 50 groups and asks for its input in windows.
#include <cstring>

#include "graphics/sis_codec.h"

namespace {

constexpr int kEnd = -1;
constexpr uint32_t kEscape = 256;
constexpr uint32_t kGroupsPerStep = 50;
constexpr uint32_t kRunCap = 120;  // nibble 15 x 8: the run may go on
constexpr uint32_t kAreaMax = kSisWindow;

enum State : uint32_t { kInitial = 0, kContinue = 1, kFinished = 2, kHeader = 3, kNewWindow = 4 };

struct Unpacker {
  uint32_t state;
  // range decoder
  uint32_t code, range, r;
  const uint8_t* in;
  uint32_t inLength, inPos;
  uint32_t readInStep, readInWindow;
  uint32_t offset;  // of the current window from the block start
  // models
  uint8_t* order1;  // 128 tables
  uint8_t order0[kSisModelTable];
  int32_t level;
  uint32_t context;
  // run layer: flag bits then nibbles, copied out of the first window
  uint8_t areas[kAreaMax];
  uint32_t flagBits, flagBytes, nibbles, flagPos, nibblePos;
  uint32_t outCount;
};

Unpacker g;

uint8_t NextByte() {
  const uint8_t b = g.inPos < g.inLength ? g.in[g.inPos] : 0;
  ++g.inPos;
  ++g.readInStep;
  return b;
}

}  // namespace

void SisAddOnes(uint8_t* p, uint32_t n) {
  // Counts never pass 255 (the models halve first), so whole words add
  // without carries between the bytes.
  while (n && (reinterpret_cast<uintptr_t>(p) & 3)) ++*p++, --n;
  for (; n >= 4; p += 4, n -= 4) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    w += 0x01010101u;
    std::memcpy(p, &w, 4);
  }
  while (n--) ++*p++;
}

void SisRangeStart() {
  NextByte();
  g.code = NextByte();
  g.range = 256;
}

void SisRangeNormalize() {
  while (g.range <= 256) {
    g.code = g.code << 8 | NextByte();
    g.range <<= 8;
  }
}

uint32_t SisRangeTarget(uint32_t total) {
  SisRangeNormalize();
  g.r = g.range / total;
  return g.code / g.r;
}

void SisRangeNarrow(uint32_t low, uint32_t high) {
  g.range = g.r * (high - low);
  g.code -= g.r * low;
}

uint32_t SisModelTotal() {
  if (g.level >= 1) return g.order1[g.context * kSisModelTable + 257];
  if (g.level == 0) return g.order0[257];
  return 257;
}

namespace {

// The largest slot whose cumulative count is not above the target.
uint32_t Bisect(const uint8_t* t, uint32_t target) {
  uint32_t lo = 0, hi = 256;  // t[lo] <= target < t[hi + 1] or hi = 256
  while (lo < hi) {
    const uint32_t mid = (lo + hi + 1) / 2;
    if (t[mid] <= target)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

// Slots 254 and 255 of a context's table hold the two symbols that share the
// context's upper bits; the symbols 254 and 255 take their places.
uint32_t SlotOfSymbol(uint32_t ctx, uint32_t sym) {
  if (sym >> 1 == ctx) return 254 + (sym & 1);
  if (sym >= 254) return 2 * ctx + (sym - 254);
  return sym;
}

}  // namespace

// The symbol (0..255), kEscape, or kEnd for the target at the current level;
// narrows the range to it.
int SisModelFind(uint32_t target) {
  if (g.level >= 1) {
    const uint8_t* t = g.order1 + g.context * kSisModelTable;
    uint32_t slot;
    if (target >= t[256])
      slot = 256;
    else if (target >= t[255])
      slot = 255;
    else if (target >= t[254])
      slot = 254;
    else
      slot = Bisect(t, target);
    SisRangeNarrow(t[slot], slot == 256 ? t[257] : t[slot + 1]);
    if (slot == 256) return kEscape;
    return static_cast<int>(SlotOfSymbol(g.context, slot));  // the mapping is its own inverse
  }
  if (g.level == 0) {
    const uint8_t* t = g.order0;
    if (target >= t[256]) {
      SisRangeNarrow(t[256], t[257]);
      return kEscape;
    }
    const uint32_t slot = Bisect(t, target);
    SisRangeNarrow(t[slot], t[slot + 1]);
    return static_cast<int>(slot);
  }
  if (target == 0) {
    SisRangeNarrow(0, 1);
    return kEnd;
  }
  if (target < 256) {
    SisRangeNarrow(target, target + 1);
    return static_cast<int>(target - 1);
  }
  SisRangeNarrow(256, 257);
  return 255;
}

void SisModelUpdate(uint32_t sym) {
  uint8_t* t = g.order1 + g.context * kSisModelTable;
  const uint32_t slot = SlotOfSymbol(g.context, sym);
  SisAddOnes(t + slot + 1, 256 - slot);
  if (t[256] >= 255)
    for (uint32_t i = 0; i <= 256; ++i) t[i] >>= 1;
  t[257] = static_cast<uint8_t>(t[256] + 1);
  if (g.level < 1) {
    SisAddOnes(g.order0 + sym + 1, 256 - sym);
    if (g.order0[256] >= 255)
      for (uint32_t i = 0; i <= 256; ++i) g.order0[i] >>= 1;
    g.order0[257] = static_cast<uint8_t>(g.order0[256] + 1);
  }
  g.level = 1;
  g.context = sym >> 1;
}

void SisModelReset() {
  std::memset(g.order0, 0, sizeof g.order0);
  g.order0[256] = 5;
  g.order0[257] = 6;
  for (uint32_t i = 0; i < 128; ++i) {
    uint8_t* t = g.order1 + i * kSisModelTable;
    std::memset(t, 0, kSisModelTable);
    t[257] = 1;
  }
  g.level = 1;
  g.context = 0;
}

int SisSetModelBuffer(uint8_t* buffer, uint32_t size) {
  if (!buffer || size < kSisModelBytes) {
    g.order1 = nullptr;
    return 1;
  }
  g.order1 = buffer;
  return 0;
}

void SisDecodeAdaptiveReset() { g.state = kInitial; }

namespace {

int DecodeSymbol() {
  for (;;) {
    const int s = SisModelFind(SisRangeTarget(SisModelTotal()));
    if (s != static_cast<int>(kEscape)) {
      if (s >= 0) SisModelUpdate(static_cast<uint32_t>(s));
      return s;
    }
    --g.level;
  }
}

uint32_t NextFlag() {
  if (g.flagPos >= g.flagBits) return 0;
  const uint32_t bit = g.areas[g.flagPos >> 3] >> (7 - (g.flagPos & 7)) & 1;
  ++g.flagPos;
  return bit;
}

uint32_t NextNibble() {
  if (g.nibblePos >= g.nibbles) return 0;
  const uint8_t b = g.areas[g.flagBytes + (g.nibblePos >> 1)];
  const uint32_t n = g.nibblePos & 1 ? b & 15u : b >> 4;
  ++g.nibblePos;
  return n;
}

// Outcome of one group: still going, block end, or out of room.
enum Group { kGoOn, kEndOfBlock, kNoRoom };

Group Put(uint8_t* out, uint32_t room, int s) {
  if (s < 0) return kEndOfBlock;
  if (g.outCount >= room) return kNoRoom;
  out[g.outCount++] = static_cast<uint8_t>(s);
  return kGoOn;
}

Group DecodeGroup(uint8_t* out, uint32_t room) {
  int b[3];
  for (int& s : b) {
    s = DecodeSymbol();
    if (const Group r = Put(out, room, s); r != kGoOn) return r;
  }
  if (b[0] != b[1] || b[1] != b[2]) return kGoOn;
  uint32_t count = NextFlag() ? NextNibble() * 8 : 0;
  if (room - g.outCount < count) return kNoRoom;
  std::memset(out + g.outCount, b[0], count);
  g.outCount += count;
  if (count == kRunCap) return Put(out, room, DecodeSymbol());
  for (;;) {
    const int s = DecodeSymbol();
    if (const Group r = Put(out, room, s); r != kGoOn) return r;
    if (s != b[0]) return kGoOn;
  }
}

}  // namespace

void SisDecodeAdaptive(const uint8_t* window, uint32_t length, uint8_t* output, uint32_t room,
                       uint32_t* outCount, SisAdaptiveResult* result) {
  if (!g.order1) {
    *result = {SisAdaptive::NoModel, 0, kSisWindow};
    *outCount = 0;
    g.state = kInitial;
    return;
  }
  if (g.state == kInitial || g.state == kFinished) {
    *result = {SisAdaptive::Window, 0, kSisWindow};
    *outCount = 0;
    g.state = kHeader;
    return;
  }
  g.in = window;
  g.inLength = window ? length : 0;
  g.inPos = 0;
  g.readInStep = 0;
  if (g.state == kHeader) {
    if (g.inLength < 4) {
      *result = {SisAdaptive::Bad, 0, 0};
      *outCount = 0;
      g.state = kInitial;
      return;
    }
    g.flagBits = static_cast<uint32_t>(window[0] << 8 | window[1]);
    g.nibbles = static_cast<uint32_t>(window[2] << 8 | window[3]);
    g.flagBytes = (g.flagBits + 7) / 8;
    const uint32_t areas = g.flagBytes + (g.nibbles + 1) / 2;
    // The areas and the two bytes that start the range decoder lie in the
    // first window.
    if (areas + 6 > g.inLength) {
      *result = {SisAdaptive::Bad, 0, 0};
      *outCount = 0;
      g.state = kInitial;
      return;
    }
    std::memcpy(g.areas, window + 4, areas);
    g.flagPos = g.nibblePos = 0;
    g.outCount = 0;
    SisModelReset();
    g.inPos = 4 + areas;
    SisRangeStart();
    g.offset = areas + 6;
    g.readInWindow = 0;
    *result = {SisAdaptive::Window, g.offset, kSisWindow};
    *outCount = 0;
    g.state = kNewWindow;
    return;
  }
  // States 1 and 4 read on from the start of the window the caller holds;
  // in state 1 that is the same window, already partly read.
  if (g.state == kContinue) g.inPos = g.readInWindow;
  Group r = kGoOn;
  // A step also ends early when the window is nearly read, so that a step
  // of costly symbols does not run off its window.
  for (uint32_t i = 0; i < kGroupsPerStep && r == kGoOn && g.readInWindow + g.readInStep < kSisWindowUsed; ++i)
    r = DecodeGroup(output, room);
  g.readInWindow += g.readInStep;
  *outCount = g.outCount;
  if (r == kNoRoom) {
    *result = {SisAdaptive::Bad, 0, 0};
    g.state = kInitial;
  } else if (r == kEndOfBlock) {
    SisRangeNormalize();
    *result = {SisAdaptive::Done, g.offset, 0};
    g.state = kInitial;
  } else if (g.readInWindow < kSisWindowUsed) {
    *result = {SisAdaptive::Again, g.offset, kSisWindow};
    g.state = kContinue;
  } else {
    g.offset += g.readInWindow;
    g.readInWindow = 0;
    *result = {SisAdaptive::Window, g.offset, kSisWindow};
    g.state = kNewWindow;
  }
}
