#include "tests/graphics/sis_gray_encoder.h"

#include <array>
#include <cstddef>

#include "tools/sisenc.h"

namespace {

// The coder's state, with a run read in a slot left open until the pixels
// that follow in that slot decide its length: a run's predicted pixels
// change no state until the run ends, so the choice can wait.
struct PlaneCoder {
  struct Read {
    uint32_t k, value;  // value 1 << k codes as a single 0 bit
  };
  std::vector<Read> reads;
  std::array<uint8_t, 8> predicted{}, k{};
  std::array<int32_t, 16> open{};   // index into reads, -1 none
  std::array<uint32_t, 16> count{};  // predicted pixels so far
  uint32_t runs = 0;

  PlaneCoder() { open.fill(-1); }

  void Adapt(uint32_t c) {
    if (k[c] > 0)
      --k[c];
    else
      predicted[c] ^= 1;
  }
  void Close(uint32_t slot, uint32_t value) {
    reads[static_cast<size_t>(open[slot])].value = value;
    open[slot] = -1;
  }
  // A run cut short by the table reset: a full-length run leaves the same
  // state, since nothing grows before its end.
  void CloseAll() {
    for (uint32_t s = 0; s < 16; ++s)
      if (open[s] >= 0) Close(s, 1u << s);
  }
  void Predicted(uint32_t c, uint32_t slot) {
    if (++count[slot] == 1u << slot) {
      Close(slot, 1u << slot);
      if (k[c] < 15) ++k[c];
    }
  }
  void Pixel(uint32_t c, uint32_t bit) {
    const uint32_t slot = k[c];
    if (open[slot] < 0) {
      if (runs == 32) {
        CloseAll();
        runs = 0;
      }
      ++runs;
      reads.push_back({slot, 0});
      open[slot] = static_cast<int32_t>(reads.size() - 1);
      count[slot] = 0;
    }
    if (bit == predicted[c]) {
      Predicted(c, slot);
    } else {
      Close(slot, count[slot]);  // below 1 << slot
      Adapt(c);
    }
  }
  void Emit(SisBitWriter* w) {
    CloseAll();
    for (const Read& r : reads) {
      if (r.value == 1u << r.k) {
        w->Put(0, 1);
      } else {
        w->Put(1, 1);
        w->Put(r.value, r.k);
      }
    }
  }
};

void Plane(uint32_t w, uint32_t h, const std::vector<uint8_t>& bits, SisBitWriter* out) {
  PlaneCoder pc;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      auto at = [&](uint32_t xx, uint32_t yy) { return uint32_t{bits[yy * w + xx]}; };
      uint32_t c;
      if (y == 0)
        c = x == 0 ? 0 : at(x - 1, 0);
      else if (x == 0)
        c = 2 * at(0, y - 1);
      else
        c = 4 * at(x - 1, y - 1) + 2 * at(x, y - 1) + at(x - 1, y);
      pc.Pixel(c, at(x, y));
    }
  pc.Emit(out);
}

void Put16(std::vector<uint8_t>* b, size_t v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}

}  // namespace

std::vector<uint8_t> SisGrayPlanes(uint32_t w, uint32_t h, const std::vector<uint8_t>& pixels) {
  // The planes hold the Gray code of each value: its high bit, then the
  // XOR of its two bits.
  std::vector<uint8_t> hi(pixels.size()), lo(pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) {
    hi[i] = static_cast<uint8_t>(pixels[i] >> 1 & 1);
    lo[i] = static_cast<uint8_t>((pixels[i] >> 1 ^ pixels[i]) & 1);
  }
  SisBitWriter out;
  Plane(w, h, hi, &out);
  Plane(w, h, lo, &out);
  return out.bytes;
}

uint32_t SisGrayBuilder::Own(uint32_t widthTiles, uint32_t heightTiles, const std::vector<uint8_t>& pixels,
                             bool cacheable, uint32_t mode) {
  const auto coded = SisGrayPlanes(widthTiles * 8, heightTiles * 8, pixels);
  const auto n = static_cast<uint32_t>(layers.size() + 1);
  std::vector<uint8_t> r{static_cast<uint8_t>((cacheable ? 0x80 : 0) | n), static_cast<uint8_t>(mode)};
  if (mode == 32) r.push_back(0);
  r.push_back(static_cast<uint8_t>(widthTiles));
  r.push_back(static_cast<uint8_t>(heightTiles));
  Put16(&r, coded.size());
  r.insert(r.end(), coded.begin(), coded.end());
  layers.push_back(r);
  return n;
}

uint32_t SisGrayBuilder::Reference(uint32_t target, const std::vector<SisGrayPatch>& patches,
                                   uint32_t widthTiles, bool cacheable) {
  const auto n = static_cast<uint32_t>(layers.size() + 1);
  std::vector<uint8_t> r{static_cast<uint8_t>((cacheable ? 0x80 : 0) | n), static_cast<uint8_t>(0x80 | target),
                         static_cast<uint8_t>(patches.empty() ? 0 : 0x80)};
  if (!patches.empty()) {
    std::vector<uint8_t> data;
    for (const auto& p : patches) {
      const uint32_t cols = p.last % widthTiles - p.first % widthTiles + 1;
      const uint32_t rows = p.last / widthTiles - p.first / widthTiles + 1;
      data.push_back(static_cast<uint8_t>(p.first));
      data.push_back(static_cast<uint8_t>(p.last));
      const auto coded = SisGrayPlanes(cols * 8, rows * 8, p.pixels);
      data.insert(data.end(), coded.begin(), coded.end());
    }
    Put16(&r, patches.size());
    Put16(&r, data.size());
    r.insert(r.end(), data.begin(), data.end());
  }
  layers.push_back(r);
  return n;
}

std::vector<uint8_t> SisGrayBuilder::File() const {
  std::vector<uint8_t> f{'S', 'I', 'S', 0, 0, 0,
                         static_cast<uint8_t>(width), static_cast<uint8_t>(height),
                         static_cast<uint8_t>(invert), static_cast<uint8_t>(frames.size()), 4, 0,
                         static_cast<uint8_t>(delay), static_cast<uint8_t>(passes), 0x80, 2, 1,
                         static_cast<uint8_t>(layers.size())};
  for (const auto& l : layers) f.insert(f.end(), l.begin(), l.end());
  for (const auto& fr : frames) {
    f.push_back(static_cast<uint8_t>(fr.flags | (fr.background >= 0 ? 0x20 : 0)));
    if (fr.background >= 0) f.push_back(static_cast<uint8_t>(fr.background));
    f.push_back(static_cast<uint8_t>(fr.entries.size()));
    for (const auto& e : fr.entries) {
      const uint32_t sign = (e.x < 0 ? 0x80u : 0u) | (e.y < 0 ? 0x40u : 0u);
      f.push_back(static_cast<uint8_t>(e.layer));
      f.push_back(static_cast<uint8_t>(e.pass));
      f.push_back(static_cast<uint8_t>(e.flags | sign));
      f.push_back(static_cast<uint8_t>(e.x < 0 ? -e.x : e.x));
      f.push_back(static_cast<uint8_t>(e.y < 0 ? -e.y : e.y));
    }
  }
  return f;
}
