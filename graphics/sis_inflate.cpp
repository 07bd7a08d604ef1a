// The deflate variant of animation blocks: RFC 1950 framing around RFC 1951
// blocks, where a dynamic block carries no table definition of its own and
// decodes with the preset tables (loaded by SisInflateAll, or left by the
// last fixed block). Output stays in the caller's buffer and doubles as the
// window. The stream resumes across calls: bits carry over in a 64-bit
// buffer, and a symbol whose bits have not all arrived is retried whole on
// the next call.
#include <cstring>

#include "graphics/sis_codec.h"

namespace {

constexpr uint32_t kLitCodes = 288, kDistCodes = 32, kMaxBits = 15;
constexpr uint32_t kLitFast = 9, kDistFast = 6;

// A canonical Huffman code: counts and symbols for the slow walk, and a
// first-level table answering codes up to `fastBits` long (entry: length <<
// 12 | symbol, 0 for a longer code or no code).
template <uint32_t Symbols, uint32_t FastBits>
struct Huffman {
  uint16_t count[kMaxBits + 1];
  uint16_t symbol[Symbols];
  uint16_t fast[1u << FastBits];
  bool ready;
};

using LitTable = Huffman<kLitCodes, kLitFast>;
using DistTable = Huffman<kDistCodes, kDistFast>;

uint32_t Reverse(uint32_t code, uint32_t len) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < len; ++i, code >>= 1) r = r << 1 | (code & 1);
  return r;
}

// 0 built; -1 over-subscribed; -2 incomplete (allowed for a single code).
template <uint32_t Symbols, uint32_t FastBits>
int Build(Huffman<Symbols, FastBits>* h, const uint8_t* lengths, uint32_t n) {
  std::memset(h, 0, sizeof *h);
  for (uint32_t i = 0; i < n; ++i) ++h->count[lengths[i]];
  int left = 1;
  uint32_t used = 0;
  for (uint32_t len = 1; len <= kMaxBits; ++len) {
    left = left * 2 - h->count[len];
    if (left < 0) return -1;
    used += h->count[len];
  }
  uint16_t offs[kMaxBits + 2] = {};
  for (uint32_t len = 1; len <= kMaxBits; ++len)
    offs[len + 1] = static_cast<uint16_t>(offs[len] + h->count[len]);
  for (uint32_t i = 0; i < n; ++i)
    if (lengths[i]) h->symbol[offs[lengths[i]]++] = static_cast<uint16_t>(i);
  // Canonical codes in order of length, then symbol: fill the fast table.
  uint32_t code = 0, k = 0;
  for (uint32_t len = 1; len <= kMaxBits; ++len) {
    for (uint32_t c = 0; c < h->count[len]; ++c, ++code, ++k) {
      if (len > FastBits) continue;
      const uint32_t rev = Reverse(code, len);
      for (uint32_t fill = rev; fill < (1u << FastBits); fill += 1u << len)
        h->fast[fill] = static_cast<uint16_t>(len << 12 | h->symbol[k]);
    }
    code <<= 1;
  }
  h->ready = true;
  if (left > 0 && used > 1) return -2;
  return 0;
}

enum Mode : uint32_t { kHeader, kBlock, kStored, kCodes, kCheck, kDone, kFailed };

struct Stream {
  Mode mode;
  uint64_t bits;
  uint32_t nbits;
  const uint8_t* in;
  uint32_t inLength, inPos, totalIn;
  uint8_t* out;
  uint32_t room, written;
  uint32_t last;    // the current block is the final one
  uint32_t stored;  // bytes of a stored block still to copy
  const char* message;
};

Stream s;
LitTable gLit;
DistTable gDist;

void Fill() {
  while (s.nbits <= 56 && s.inPos < s.inLength) {
    s.bits |= static_cast<uint64_t>(s.in[s.inPos++]) << s.nbits;
    s.nbits += 8;
    ++s.totalIn;
  }
}

inline uint32_t Peek(uint32_t n) { return static_cast<uint32_t>(s.bits & ((1ull << n) - 1)); }
inline void Drop(uint32_t n) {
  s.bits >>= n;
  s.nbits -= n;
}

// The symbol at `*pos` bits into the buffer, or -1 when the buffer ends
// first, -2 for no such code.
template <uint32_t Symbols, uint32_t FastBits>
int Decode(const Huffman<Symbols, FastBits>& h, uint32_t* pos) {
  const uint64_t bits = s.bits >> *pos;
  const uint32_t avail = s.nbits - *pos;
  const uint16_t e = h.fast[bits & ((1u << FastBits) - 1)];
  if (e) {
    const uint32_t len = e >> 12;
    if (len > avail) return -1;
    *pos += len;
    return e & 0xFFF;
  }
  int code = 0, first = 0, index = 0;
  for (uint32_t len = 1; len <= kMaxBits; ++len) {
    if (len > avail) return -1;
    code |= static_cast<int>(bits >> (len - 1) & 1);
    const int count = h.count[len];
    if (code - count < first) {
      *pos += len;
      return h.symbol[index + (code - first)];
    }
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return -2;
}

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void BuildFixed() {
  uint8_t lengths[kLitCodes];
  uint32_t i = 0;
  for (; i < 144; ++i) lengths[i] = 8;
  for (; i < 256; ++i) lengths[i] = 9;
  for (; i < 280; ++i) lengths[i] = 7;
  for (; i < 288; ++i) lengths[i] = 8;
  Build(&gLit, lengths, kLitCodes);
  uint8_t d[30];
  std::memset(d, 5, sizeof d);
  Build(&gDist, d, 30);
}

int32_t Fail(const char* message, int32_t code) {
  s.message = message;
  s.mode = kFailed;
  return code;
}

// Decodes symbols until the block ends, the input runs dry or a fault.
// 1 block ended, 0 needs input, negative a failure code.
int32_t Codes() {
  for (;;) {
    Fill();
    uint32_t pos = 0;
    const int sym = Decode(gLit, &pos);
    if (sym == -1) return 0;
    if (sym < 0) return Fail("invalid literal/length code", SisInflate::Data);
    if (sym < 256) {
      if (s.written >= s.room) return Fail("output full", SisInflate::Data);
      s.out[s.written++] = static_cast<uint8_t>(sym);
      Drop(pos);
      continue;
    }
    if (sym == 256) {
      Drop(pos);
      return 1;
    }
    const uint32_t li = static_cast<uint32_t>(sym) - 257;
    if (li >= 29) return Fail("invalid literal/length code", SisInflate::Data);
    if (pos + kLenExtra[li] > s.nbits) return 0;
    const uint32_t length = kLenBase[li] + static_cast<uint32_t>((s.bits >> pos) & ((1u << kLenExtra[li]) - 1));
    pos += kLenExtra[li];
    const int dsym = Decode(gDist, &pos);
    if (dsym == -1) return 0;
    if (dsym < 0 || dsym >= 30) return Fail("invalid distance code", SisInflate::Data);
    if (pos + kDistExtra[dsym] > s.nbits) return 0;
    const uint32_t dist =
        kDistBase[dsym] + static_cast<uint32_t>((s.bits >> pos) & ((1u << kDistExtra[dsym]) - 1));
    pos += kDistExtra[dsym];
    if (dist > s.written) return Fail("invalid distance too far back", SisInflate::Data);
    if (s.room - s.written < length) return Fail("output full", SisInflate::Data);
    Drop(pos);
    uint8_t* to = s.out + s.written;
    const uint8_t* from = to - dist;
    for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
    s.written += length;
  }
}

uint32_t Adler32(const uint8_t* p, uint32_t n) {
  uint32_t a = 1, b = 0;
  while (n) {
    const uint32_t chunk = n < 5552 ? n : 5552;
    n -= chunk;
    for (uint32_t i = 0; i < chunk; ++i) {
      a += *p++;
      b += a;
    }
    a %= 65521;
    b %= 65521;
  }
  return b << 16 | a;
}

// Runs the stream as far as the input goes.
int32_t Run() {
  for (;;) {
    Fill();
    switch (s.mode) {
      case kHeader: {
        if (s.nbits < 16) return SisInflate::More;
        const uint32_t cmf = Peek(8), flg = static_cast<uint32_t>(s.bits >> 8 & 0xFF);
        if ((cmf << 8 | flg) % 31) return Fail("incorrect header check", SisInflate::Data);
        if ((cmf & 15) != 8) return Fail("unknown compression method", SisInflate::Data);
        if ((cmf >> 4) > 7) return Fail("invalid window size", SisInflate::Data);
        if (flg & 0x20) return Fail("need dictionary", SisInflate::Data);
        Drop(16);
        s.mode = kBlock;
        break;
      }
      case kBlock: {
        if (s.last) {
          Drop(s.nbits & 7);
          s.mode = kCheck;
          break;
        }
        if (s.nbits < 3) return SisInflate::More;
        const uint32_t final = Peek(1);
        const uint32_t type = static_cast<uint32_t>(s.bits >> 1 & 3);
        if (type == 0) {
          // The header bits, the rest of the byte and LEN / NLEN.
          const uint32_t skip = 3 + ((s.nbits - 3) & 7);
          if (s.nbits < skip + 32) return SisInflate::More;
          s.last = final;
          Drop(skip);
          const uint32_t len = Peek(16), nlen = static_cast<uint32_t>(s.bits >> 16 & 0xFFFF);
          if ((len ^ 0xFFFF) != nlen) return Fail("invalid stored block lengths", SisInflate::Data);
          Drop(32);
          s.stored = len;
          s.mode = kStored;
        } else if (type == 1) {
          s.last = final;
          Drop(3);
          BuildFixed();
          s.mode = kCodes;
        } else if (type == 2) {
          s.last = final;
          Drop(3);
          if (!gLit.ready || !gDist.ready) return Fail("no preset tables", SisInflate::Data);
          s.mode = kCodes;
        } else {
          return Fail("invalid block type", SisInflate::Data);
        }
        break;
      }
      case kStored: {
        // Whole bytes wait in the bit buffer first, then come straight from the input.
        while (s.stored && s.nbits >= 8) {
          if (s.written >= s.room) return Fail("output full", SisInflate::Data);
          s.out[s.written++] = static_cast<uint8_t>(Peek(8));
          Drop(8);
          --s.stored;
        }
        if (s.stored) {
          uint32_t n = s.inLength - s.inPos;
          if (n > s.stored) n = s.stored;
          if (n == 0) return SisInflate::More;
          if (s.room - s.written < n) return Fail("output full", SisInflate::Data);
          std::memcpy(s.out + s.written, s.in + s.inPos, n);
          s.written += n;
          s.inPos += n;
          s.totalIn += n;
          s.stored -= n;
          if (s.stored) return SisInflate::More;
        }
        s.mode = kBlock;
        break;
      }
      case kCodes: {
        const int32_t r = Codes();
        if (r < 0) return r;
        if (r == 0) return SisInflate::More;
        s.mode = kBlock;
        break;
      }
      case kCheck: {
        if (s.nbits < 32) return SisInflate::More;
        uint32_t want = 0;
        for (int i = 0; i < 4; ++i) want = want << 8 | static_cast<uint32_t>(s.bits >> (8 * i) & 0xFF);
        Drop(32);
        if (want != Adler32(s.out, s.written)) return Fail("incorrect data check", SisInflate::Data);
        s.mode = kDone;
        return SisInflate::End;
      }
      case kDone:
        return SisInflate::End;
      case kFailed:
        return SisInflate::Data;
    }
  }
}

}  // namespace

int32_t SisInflateStep(SisInflateStream* st) {
  if (!st) return SisInflate::Other;
  if (st->mode == 0) {
    s = {};
    s.mode = kHeader;
    s.out = st->output;
    s.room = st->output ? st->room : 0;
  }
  s.in = st->input;
  s.inLength = st->input ? st->inputLength : 0;
  s.inPos = 0;
  int32_t r = Run();
  st->totalIn = s.totalIn;
  st->totalOut = s.written;
  if (r == SisInflate::More && st->mode > 1) r = SisInflate::Short;
  if (r != SisInflate::More) s.mode = r == SisInflate::End ? kDone : kFailed;
  return r;
}

namespace {

// Reads n bits of the table definition, LSB first; false at the end.
struct DefReader {
  const uint8_t* p;
  uint32_t length, pos;
  uint32_t bits, nbits;
  bool Need(uint32_t n, uint32_t* v) {
    while (nbits < n) {
      if (pos >= length) return false;
      bits |= static_cast<uint32_t>(p[pos++]) << nbits;
      nbits += 8;
    }
    *v = bits & ((1u << n) - 1);
    bits >>= n;
    nbits -= n;
    return true;
  }
};

// Decodes one code-length symbol bit by bit from the reader.
int ReadSymbol(DefReader* r, const Huffman<19, 7>& h) {
  int code = 0, first = 0, index = 0;
  for (uint32_t len = 1; len <= kMaxBits; ++len) {
    uint32_t bit;
    if (!r->Need(1, &bit)) return -1;
    code |= static_cast<int>(bit);
    const int count = h.count[len];
    if (code - count < first) return h.symbol[index + (code - first)];
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return -2;
}

}  // namespace

int32_t SisInflateAll(const uint8_t* input, uint16_t length) {
  if (!input) return SisInflate::Other;
  gLit.ready = gDist.ready = false;
  DefReader r{input, length, 0, 0, 0};
  uint32_t hlit, hdist, hclen;
  if (!r.Need(5, &hlit) || !r.Need(5, &hdist) || !r.Need(4, &hclen)) return SisInflate::Short;
  if (hlit > 29 || hdist > 29) {
    s.message = "too many length or distance symbols";
    return SisInflate::Data;
  }
  const uint32_t nlen = hlit + 257, ndist = hdist + 1, ncode = hclen + 4;
  static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  uint8_t lengths[kLitCodes + kDistCodes] = {};
  for (uint32_t i = 0; i < ncode; ++i) {
    uint32_t v;
    if (!r.Need(3, &v)) return SisInflate::Short;
    lengths[kOrder[i]] = static_cast<uint8_t>(v);
  }
  Huffman<19, 7> lencode;
  if (Build(&lencode, lengths, 19) != 0) {
    s.message = "invalid code lengths set";
    return SisInflate::Data;
  }
  std::memset(lengths, 0, sizeof lengths);
  uint32_t index = 0;
  while (index < nlen + ndist) {
    const int sym = ReadSymbol(&r, lencode);
    if (sym == -1) return SisInflate::Short;
    if (sym < 0) {
      s.message = "invalid code lengths set";
      return SisInflate::Data;
    }
    if (sym < 16) {
      lengths[index++] = static_cast<uint8_t>(sym);
      continue;
    }
    uint32_t len = 0, rep, v;
    if (sym == 16) {
      if (index == 0) {
        s.message = "invalid bit length repeat";
        return SisInflate::Data;
      }
      len = lengths[index - 1];
      if (!r.Need(2, &v)) return SisInflate::Short;
      rep = 3 + v;
    } else if (sym == 17) {
      if (!r.Need(3, &v)) return SisInflate::Short;
      rep = 3 + v;
    } else {
      if (!r.Need(7, &v)) return SisInflate::Short;
      rep = 11 + v;
    }
    if (index + rep > nlen + ndist) {
      s.message = "invalid bit length repeat";
      return SisInflate::Data;
    }
    while (rep--) lengths[index++] = static_cast<uint8_t>(len);
  }
  if (lengths[256] == 0) {
    s.message = "invalid code -- missing end-of-block";
    return SisInflate::Data;
  }
  if (Build(&gLit, lengths, nlen) != 0) {
    gLit.ready = false;
    s.message = "invalid literal/lengths set";
    return SisInflate::Data;
  }
  if (Build(&gDist, lengths + nlen, ndist) == -1) {
    gLit.ready = gDist.ready = false;
    s.message = "invalid distances set";
    return SisInflate::Data;
  }
  return 0;
}

void SisInflateResetTables() {
  gLit.ready = gDist.ready = false;
  s.mode = kDone;
}

const char* SisInflateMessage() { return s.message ? s.message : ""; }
