#include "kernel/qorrom_compress.h"

namespace {

constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 8191;
// How many older positions of the same hash a match search looks at.
constexpr uint32_t kChainLimit = 1024;
// Copies up to this long are offered at every length.
constexpr uint32_t kEveryLength = 64;
// A copy at least this long is followed rather than searched inside.
constexpr uint32_t kLongRun = 128;

uint32_t LiteralBits(uint8_t byte) { return byte < 128 ? 8 : 9; }

// Code and distance field: near (up to 63), middle (64-319), far.
uint32_t DistanceBits(uint32_t distance) { return distance < 64 ? 10 : distance < 320 ? 12 : 16; }

uint32_t LengthBits(uint32_t length) {
  if (length == 3) return 1;
  const uint32_t k = static_cast<uint32_t>(31 - __builtin_clz(length)) - 1;  // 4-7 -> 1
  return 2 * k + 2;
}

uint32_t Hash(const uint8_t* p) {
  return ((p[0] << 8 ^ p[1] << 4 ^ p[2]) * 2654435761u >> 20) & (QorRomEncoder::kHashSize - 1);
}

struct BitWriter {
  uint8_t* out;
  uint32_t room;
  uint32_t bytes;
  uint64_t bits;  // bits written in total
  bool overflow;
};

void Put(BitWriter* w, uint32_t value, uint32_t n) {
  for (uint32_t i = n; i-- > 0;) {
    const uint32_t index = static_cast<uint32_t>(w->bits >> 3);
    if (index >= w->room) {
      w->overflow = true;
      return;
    }
    if ((w->bits & 7) == 0) w->out[index] = 0;
    if (value >> i & 1) w->out[index] |= static_cast<uint8_t>(0x80 >> (w->bits & 7));
    ++w->bits;
  }
}

void PutLiteral(BitWriter* w, uint8_t byte) {
  if (byte < 128)
    Put(w, static_cast<uint32_t>(byte >> 5) << 5 | (byte & 31), 8);
  else
    Put(w, (4u + ((byte - 128u) >> 6)) << 6 | (byte & 63), 9);
}

void PutCopy(BitWriter* w, uint32_t distance, uint32_t length) {
  if (distance < 64)
    Put(w, 7u << 7 | 1u << 6 | distance, 10);
  else if (distance < 320)
    Put(w, 7u << 9 | (distance - 64), 12);
  else
    Put(w, 6u << 13 | (distance - 320), 16);
  if (length == 3) {
    Put(w, 0, 1);
    return;
  }
  const uint32_t k = static_cast<uint32_t>(31 - __builtin_clz(length)) - 1;
  Put(w, (1u << k) - 1, k);
  Put(w, 0, 1);
  Put(w, length - (2u << k), k + 1);
}

void Relax(QorRomEncoder* work, uint32_t to, uint32_t cost, uint32_t length, uint32_t distance) {
  if (cost < work->cost[to]) {
    work->cost[to] = cost;
    work->length[to] = static_cast<uint16_t>(length);
    work->distance[to] = static_cast<uint16_t>(distance);
  }
}

// Offers copies of `distance` from `pos` for lengths `from` to `best`. Past
// kEveryLength only the longest and the top of each length class are
// offered: a run this long costs a few bits either way, and offering every
// length would make long runs quadratic.
void OfferLengths(QorRomEncoder* work, uint32_t pos, uint32_t distance, uint32_t from,
                  uint32_t best) {
  const uint32_t base = work->cost[pos] + DistanceBits(distance);
  for (uint32_t len = from; len <= best;) {
    Relax(work, pos + len, base + LengthBits(len), len, distance);
    if (len < kEveryLength) {
      ++len;
    } else if (len < best) {
      const uint32_t top = (2u << (31 - __builtin_clz(len + 1))) - 1;  // 2^k - 1 above len
      len = top < best ? top : best;
    } else {
      break;
    }
  }
}

// Offers every copy from `pos`: for each length, the nearest (cheapest)
// distance class that reaches it. Returns the longest copy found.
uint32_t OfferCopies(QorRomEncoder* work, const uint8_t* data, uint32_t size, uint32_t pos,
                     uint32_t* longestDistance) {
  const uint32_t most = size - pos < kMaxMatch ? size - pos : kMaxMatch;
  uint32_t bestLength[3] = {0, 0, 0};
  uint32_t bestDistance[3] = {0, 0, 0};
  uint32_t longest = 0;
  uint32_t steps = 0;
  for (int32_t cand = work->head[Hash(data + pos)]; cand >= 0 && steps < kChainLimit;
       cand = work->older[cand], ++steps) {
    const uint32_t distance = pos - static_cast<uint32_t>(cand);
    uint32_t n = 0;
    while (n < most && data[cand + n] == data[pos + n]) ++n;
    // A farther class only pays when it reaches further than a nearer one.
    if (n < kMinMatch || n <= longest) continue;
    const int cls = distance < 64 ? 0 : distance < 320 ? 1 : 2;
    bestLength[cls] = n;
    bestDistance[cls] = distance;
    longest = n;
    *longestDistance = distance;
    if (n == most) break;
  }
  uint32_t from = kMinMatch;
  for (int cls = 0; cls < 3; ++cls) {
    if (bestLength[cls] < from) continue;
    OfferLengths(work, pos, bestDistance[cls], from, bestLength[cls]);
    from = bestLength[cls] + 1;
  }
  return longest;
}

}  // namespace

uint32_t QorRomCompress(QorRomEncoder* work, const uint8_t* data, uint32_t size, uint8_t* out,
                        uint32_t room) {
  if (size == 0 || size > kQorRomMaxExpanded) return 0;
  for (int16_t& h : work->head) h = -1;
  for (uint32_t i = 0; i <= size; ++i) work->cost[i] = UINT32_MAX;
  work->cost[0] = 0;
  // Inside a long copy the search is skipped: its own continuation is
  // offered instead, which keeps long runs linear.
  uint32_t runEnd = 0, runDistance = 0;
  for (uint32_t pos = 0; pos < size; ++pos) {
    Relax(work, pos + 1, work->cost[pos] + LiteralBits(data[pos]), 1, 0);
    if (pos + kMinMatch <= size) {
      if (pos + kMinMatch <= runEnd) {
        OfferLengths(work, pos, runDistance, kMinMatch, runEnd - pos);
      } else {
        uint32_t distance = 0;
        const uint32_t longest = OfferCopies(work, data, size, pos, &distance);
        if (longest >= kLongRun) {
          runEnd = pos + longest;
          runDistance = distance;
        }
      }
      const uint32_t h = Hash(data + pos);
      work->older[pos] = work->head[h];
      work->head[h] = static_cast<int16_t>(pos);
    }
  }

  // Walk the chosen steps back from the end, leaving each step's length at
  // the position it starts from.
  uint32_t pos = size;
  uint32_t next = 0;  // 0 marks the end
  uint32_t nextDistance = 0;
  while (pos > 0) {
    const uint32_t len = work->length[pos];
    const uint32_t dist = work->distance[pos];
    work->length[pos] = static_cast<uint16_t>(next);
    work->distance[pos] = static_cast<uint16_t>(nextDistance);
    next = len;
    nextDistance = dist;
    pos -= len;
  }
  work->length[0] = static_cast<uint16_t>(next);
  work->distance[0] = static_cast<uint16_t>(nextDistance);

  BitWriter w{out, room, 0, 0, false};
  for (pos = 0; pos < size && !w.overflow; pos += work->length[pos]) {
    const uint32_t len = work->length[pos];
    if (len == 1 && pos + 1 == size && (w.bits & 7) == 0) {
      // The decoder takes a final byte that no code touches as it stands,
      // and would misread an 8-bit literal here as that byte.
      Put(&w, data[pos], 8);
    } else if (len == 1) {
      PutLiteral(&w, data[pos]);
    } else {
      PutCopy(&w, work->distance[pos], len);
    }
  }
  if (w.overflow) return 0;
  return static_cast<uint32_t>((w.bits + 7) >> 3);
}
