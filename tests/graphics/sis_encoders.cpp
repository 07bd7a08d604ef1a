#include "tests/graphics/sis_encoders.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "graphics/sis.h"
#include "graphics/sis_codec.h"

namespace {

struct Packer {
  std::vector<uint8_t> out{0, 0};  // the skipped byte, then the code digits
  uint32_t range = 256;
  uint8_t o1[128][260]{};
  uint8_t o0[260]{};
  int level = 1;
  uint32_t ctx = 0;

  Packer() {
    o0[256] = 5;
    o0[257] = 6;
    for (auto& t : o1) t[257] = 1;
  }
  void Add(uint64_t v) {
    for (size_t i = out.size() - 1; v; --i) {
      const uint64_t s = out[i] + (v & 0xFF);
      out[i] = static_cast<uint8_t>(s);
      v = (v >> 8) + (s >> 8);
      if (i == 1) break;
    }
  }
  void Code(uint32_t lo, uint32_t hi, uint32_t total) {
    while (range <= 256) {
      out.push_back(0);
      range <<= 8;
    }
    const uint32_t r = range / total;
    Add(uint64_t{r} * lo);
    range = r * (hi - lo);
  }
  static uint32_t Slot(uint32_t c, uint32_t s) {
    if (s >> 1 == c) return 254 + (s & 1);
    if (s >= 254) return 2 * c + (s - 254);
    return s;
  }
  void Update(uint32_t s) {
    uint8_t* t = o1[ctx];
    for (uint32_t i = Slot(ctx, s) + 1; i <= 256; ++i) ++t[i];
    if (t[256] >= 255)
      for (uint32_t i = 0; i <= 256; ++i) t[i] >>= 1;
    t[257] = static_cast<uint8_t>(t[256] + 1);
    if (level < 1) {
      for (uint32_t i = s + 1; i <= 256; ++i) ++o0[i];
      if (o0[256] >= 255)
        for (uint32_t i = 0; i <= 256; ++i) o0[i] >>= 1;
      o0[257] = static_cast<uint8_t>(o0[256] + 1);
    }
    level = 1;
    ctx = s >> 1;
  }
  void Symbol(int s) {
    level = 1;
    const uint8_t* t = o1[ctx];
    if (s >= 0) {
      const uint32_t slot = Slot(ctx, static_cast<uint32_t>(s));
      if (t[slot + 1] > t[slot]) {
        Code(t[slot], t[slot + 1], t[257]);
        Update(static_cast<uint32_t>(s));
        return;
      }
    }
    Code(t[256], t[257], t[257]);
    level = 0;
    if (s >= 0 && o0[s + 1] > o0[s]) {
      Code(o0[s], o0[s + 1], o0[257]);
      Update(static_cast<uint32_t>(s));
      return;
    }
    Code(o0[256], o0[257], o0[257]);
    level = -1;
    if (s < 0) {
      Code(0, 1, 257);
      return;
    }
    if (s < 255)
      Code(static_cast<uint32_t>(s) + 1, static_cast<uint32_t>(s) + 2, 257);
    else
      Code(256, 257, 257);
    Update(static_cast<uint32_t>(s));
  }
};

}  // namespace

std::vector<uint8_t> SisPackAdaptive(const std::vector<uint8_t>& in) {
  Packer p;
  std::vector<uint8_t> flags, nibbles;
  uint32_t flagBits = 0;
  auto flag = [&](uint32_t b) {
    if (flagBits % 8 == 0) flags.push_back(0);
    if (b) flags.back() |= static_cast<uint8_t>(0x80 >> (flagBits % 8));
    ++flagBits;
  };
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    if (n - i < 3) {
      while (i < n) p.Symbol(in[i++]);
      break;
    }
    const uint8_t a = in[i], b = in[i + 1], c = in[i + 2];
    p.Symbol(a);
    p.Symbol(b);
    p.Symbol(c);
    i += 3;
    if (a != b || b != c) continue;
    size_t m = 0;
    while (i + m < n && in[i + m] == a) ++m;
    uint32_t nib = 0;
    if (m >= 8) {
      nib = m / 8 > 15 ? 15 : static_cast<uint32_t>(m / 8);
      flag(1);
      nibbles.push_back(static_cast<uint8_t>(nib));
      i += nib * 8;
    } else {
      flag(0);
    }
    if (nib == 15) {
      if (i < n) p.Symbol(in[i++]);
      continue;
    }
    while (i < n && in[i] == a) p.Symbol(in[i++]);
    if (i < n) p.Symbol(in[i++]);
  }
  p.Symbol(-1);
  // Sized first: GCC 12 at -O3 misreads an insert behind a four-byte
  // initialiser list as an out-of-bounds copy.
  std::vector<uint8_t> block;
  block.reserve(4 + flags.size() + (nibbles.size() + 1) / 2 + p.out.size());
  for (uint8_t byte : {static_cast<uint8_t>(flagBits >> 8), static_cast<uint8_t>(flagBits),
                       static_cast<uint8_t>(nibbles.size() >> 8),
                       static_cast<uint8_t>(nibbles.size())})
    block.push_back(byte);
  block.insert(block.end(), flags.begin(), flags.end());
  for (size_t k = 0; k < nibbles.size(); k += 2)
    block.push_back(static_cast<uint8_t>(nibbles[k] << 4 | (k + 1 < nibbles.size() ? nibbles[k + 1] : 0)));
  block.insert(block.end(), p.out.begin(), p.out.end());
  for (int k = 0; k < 4; ++k) block.push_back(0);
  return block;
}

void SafBuilder::Block(uint32_t tag, const std::vector<uint8_t>& b) {
  for (size_t v : {size_t{tag}, b.size() >> 8, b.size()}) body.push_back(static_cast<uint8_t>(v));
  body.insert(body.end(), b.begin(), b.end());
}

void SafBuilder::Object(uint32_t index, uint32_t w, uint32_t h, uint32_t coder, uint32_t key,
                        const std::vector<uint8_t>& coded) {
  Block(4, {static_cast<uint8_t>(index), static_cast<uint8_t>(w), static_cast<uint8_t>(h),
            static_cast<uint8_t>(coder), static_cast<uint8_t>(key), 0, 0});
  for (size_t v : {coded.size() >> 8, coded.size()}) body.push_back(static_cast<uint8_t>(v));
  body.insert(body.end(), coded.begin(), coded.end());
}

void SafBuilder::Frame(uint32_t background, const std::vector<std::vector<uint8_t>>& commands) {
  std::vector<uint8_t> b{static_cast<uint8_t>(background), static_cast<uint8_t>(commands.size())};
  for (const auto& c : commands) b.insert(b.end(), c.begin(), c.end());
  Block(6, b);
}

std::vector<uint8_t> SafBuilder::InfoBlock(uint32_t depthGiven) const {
  std::vector<uint8_t> records{1, 6, static_cast<uint8_t>(width), static_cast<uint8_t>(height),
                               static_cast<uint8_t>(depthGiven), 0, 0, 1,
                               2, 2, 0, 2 << 5,
                               3, 3, static_cast<uint8_t>(frames), 7, 0,
                               10, 2, static_cast<uint8_t>(delay >> 8), static_cast<uint8_t>(delay)};
  std::vector<uint8_t> b{7, 0, 2, static_cast<uint8_t>(records.size() >> 8),
                         static_cast<uint8_t>(records.size())};
  b.insert(b.end(), records.begin(), records.end());
  return b;
}

void SafBuilder::Info(uint32_t depthGiven) {
  const std::vector<uint8_t> b = InfoBlock(depthGiven);
  body.insert(body.end(), b.begin(), b.end());
}

std::vector<uint8_t> SafBuilder::File() const {
  std::vector<uint8_t> f{'S', 'A', 'F', 0, 1, 0, 0};
  const std::vector<uint8_t> info = InfoBlock(depth);
  f.insert(f.end(), info.begin(), info.end());
  f.insert(f.end(), body.begin(), body.end());
  for (int i = 0; i < 3; ++i) f.push_back(i ? 0 : 8);
  const size_t total = f.size();
  f[5] = static_cast<uint8_t>(total >> 8);
  f[6] = static_cast<uint8_t>(total);
  return f;
}

std::vector<uint8_t> SisDeflate(const std::vector<uint8_t>& data, int level, int windowBits,
                                int memLevel, int strategy) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, windowBits, memLevel, strategy);
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::vector<uint8_t> SisZlib(const std::vector<uint8_t>& data, int level) {
  return SisDeflate(data, level, 15, 8, level ? Z_FIXED : Z_DEFAULT_STRATEGY);
}

int32_t SisInflatePieces(const std::vector<uint8_t>& z, std::vector<uint8_t>* out, uint32_t room,
                         uint32_t piece) {
  out->assign(room, 0);
  SisInflateStream s{};
  s.output = out->data();
  s.room = room;
  int32_t r = SisInflate::More;
  for (size_t at = 0; r == SisInflate::More; at += piece) {
    const size_t n = at < z.size() ? std::min<size_t>(piece, z.size() - at) : 0;
    s.input = z.data() + std::min(at, z.size());
    s.inputLength = static_cast<uint32_t>(n);
    r = SisInflateStep(&s);
    s.mode = 1;
    if (n == 0 && r == SisInflate::More) break;
  }
  out->resize(s.totalOut);
  return r;
}

namespace {
uint8_t gWork[kSisWorkBytes];
uint8_t gModel[kSisModelBufferBytes];
}  // namespace

void SisTestDecoderInit(uint32_t width, uint32_t height) {
  SisDecoderInit(gWork, sizeof gWork, gModel, sizeof gModel, width, height);
}

std::vector<uint8_t> SisTestFrame(const std::vector<uint8_t>& file, int32_t index, bool probe,
                                  bool whole) {
  const auto len = static_cast<uint32_t>(file.size());
  if (probe && !SisProbeHeader(file.data(), len, nullptr)) return {};
  std::vector<uint8_t> out(SisOutputSize(1), 0xEE);
  if (SisDecodeFrame(file.data(), len, out.data(), static_cast<uint32_t>(out.size()), index, 0) != 1)
    return {};
  if (!whole) out.erase(out.begin(), out.begin() + 40);
  return out;
}
