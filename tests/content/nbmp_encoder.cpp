#include "tests/content/nbmp_encoder.h"

namespace {

struct BitWriter {
  std::vector<uint8_t> out;
  uint32_t used = 8;  // bits used of the last byte
  void Put(uint32_t value, uint32_t bits) {
    for (int i = static_cast<int>(bits) - 1; i >= 0; --i) {
      if (used == 8) {
        out.push_back(0);
        used = 0;
      }
      if ((value >> i) & 1) out.back() |= static_cast<uint8_t>(0x80 >> used);
      ++used;
    }
  }
};

uint32_t PixelsPerByte(uint32_t depthCode) { return depthCode == 0 ? 8 : 4; }

struct Rect {
  uint32_t x0, x1, y0, y1;
  bool fill;
  uint8_t byte;
};

}  // namespace

uint32_t NbmpTestRowBytes(uint32_t width, uint32_t depthCode) {
  return (width + PixelsPerByte(depthCode) - 1) / PixelsPerByte(depthCode);
}

std::vector<uint8_t> NbmpTestCompose(const NbmpTestImage& image, std::vector<uint8_t> canvas) {
  const uint32_t canvasRow = NbmpTestRowBytes(image.width, image.depthCode);
  for (const NbmpTestFrame& f : image.frames) {
    const uint32_t rowBytes = NbmpTestRowBytes(f.width, image.depthCode);
    const uint32_t column0 = f.x / PixelsPerByte(image.depthCode);
    for (uint32_t r = 0; r < f.height; ++r)
      for (uint32_t c = 0; c < rowBytes; ++c)
        canvas[(r + f.y) * canvasRow + column0 + c] = f.cells[r * rowBytes + c];
  }
  return canvas;
}

std::vector<uint8_t> NbmpTestStream(const NbmpTestImage& image, const std::vector<uint8_t>& initial,
                                    bool wide) {
  BitWriter w;
  w.Put(0xA5C3, 16);
  w.Put(static_cast<uint32_t>(image.frames.size()), 8);
  w.Put(image.loopCount, 4);
  w.Put(image.depthCode, 4);
  w.Put(image.width, 12);
  w.Put(image.height, 12);
  std::vector<uint8_t> canvas = initial;
  const uint32_t canvasRow = NbmpTestRowBytes(image.width, image.depthCode);
  for (const NbmpTestFrame& f : image.frames) {
    const uint32_t rowBytes = NbmpTestRowBytes(f.width, image.depthCode);
    const uint32_t column0 = f.x / PixelsPerByte(image.depthCode);
    auto canvasAt = [&](uint32_t r, uint32_t c) -> uint8_t& {
      return canvas[(r + f.y) * canvasRow + column0 + c];
    };
    auto cell = [&](uint32_t r, uint32_t c) { return f.cells[r * rowBytes + c]; };
    // One-row rectangles: runs of bytes the canvas already holds are copied,
    // runs of four or more equal bytes are filled.
    std::vector<Rect> copies, fills;
    const uint32_t limit = wide ? 4095 : 255;
    for (uint32_t r = 0; r < f.height && r < limit; ++r) {
      uint32_t c = 0;
      while (c < rowBytes && c < limit) {
        uint32_t e = c;
        while (e < rowBytes && e < limit && cell(r, e) == canvasAt(r, e)) ++e;
        if (e > c) {
          if (copies.size() + fills.size() < 255) copies.push_back({c, e, r, r + 1, false, 0});
          c = e;
          continue;
        }
        while (e < rowBytes && e < limit && cell(r, e) == cell(r, c)) ++e;
        if (e - c >= 4 && copies.size() + fills.size() < 255)
          fills.push_back({c, e, r, r + 1, true, cell(r, c)});
        c = e;
      }
    }
    w.Put(f.x, 12);
    w.Put(f.y, 12);
    w.Put(f.width, 12);
    w.Put(f.height, 12);
    w.Put(f.delay, 8);
    w.Put(wide ? 0 : 1, 8);
    w.Put(0, 16);
    w.Put(static_cast<uint32_t>(copies.size() + fills.size()), 8);
    w.Put(static_cast<uint32_t>(copies.size()), 8);
    std::vector<uint8_t> covered(size_t{rowBytes} * f.height, 0);
    std::vector<Rect> all = copies;
    all.insert(all.end(), fills.begin(), fills.end());
    const uint32_t coordinateBits = wide ? 12 : 8;
    for (const Rect& rect : all) {
      w.Put(rect.x0, coordinateBits);
      w.Put(rect.x1, coordinateBits);
      w.Put(rect.y0, coordinateBits);
      w.Put(rect.y1, coordinateBits);
      if (rect.fill) w.Put(rect.byte, 8);
      for (uint32_t r = rect.y0; r < rect.y1; ++r)
        for (uint32_t c = rect.x0; c < rect.x1; ++c) covered[r * rowBytes + c] = 1;
    }
    for (uint32_t r = 0; r < f.height; ++r)
      for (uint32_t c = 0; c < rowBytes; ++c) {
        if (!covered[r * rowBytes + c]) w.Put(cell(r, c), 8);
        canvasAt(r, c) = cell(r, c);
      }
  }
  return w.out;
}

std::vector<uint8_t> NbmpTestPackMemory(const std::vector<uint8_t>& s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < s.size();) {
    size_t run = 1;
    while (i + run < s.size() && s[i + run] == s[i] && run < 256) ++run;
    if (run >= 4) {
      // Counts above 0x95 would read as an escape or an error: take at most
      // 0x95, or exactly 256 (written as 0).
      const size_t n = run == 256 ? 256 : (run > 0x95 ? 0x95 : run);
      out.push_back(0x96);
      out.push_back(static_cast<uint8_t>(n & 0xFF));
      out.push_back(s[i]);
      i += n;
    } else {
      if (s[i] == 0x96) out.push_back(0x96);
      out.push_back(s[i]);
      ++i;
    }
  }
  return out;
}

std::string NbmpTestPackText(const std::vector<uint8_t>& s, std::mt19937* noise) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string b64;
  for (size_t i = 0; i < s.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(s.size() - i < 3 ? s.size() - i : 3);
    uint32_t v = s[i] << 16;
    if (n > 1) v |= s[i + 1] << 8;
    if (n > 2) v |= s[i + 2];
    b64 += kAlphabet[v >> 18];
    b64 += kAlphabet[(v >> 12) & 63];
    b64 += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    b64 += n > 2 ? kAlphabet[v & 63] : '=';
  }
  auto blank = [&](std::string* out) {
    if (!noise) return;
    static const char kBlanks[] = {' ', '\n', '\r', '\t', 0x01, 0x1F, '\x80', '\xFF', '\xA0'};
    if ((*noise)() % 5 == 0) *out += kBlanks[(*noise)() % sizeof kBlanks];
  };
  std::string out;
  for (size_t i = 0; i < b64.size();) {
    size_t run = 1;
    while (i + run < b64.size() && b64[i + run] == b64[i] && run < 256) ++run;
    if (run >= 4) {
      const size_t n = run == 256 ? 256 : (run > 63 ? 63 : run);
      out += '~';
      blank(&out);
      out += kAlphabet[n & 63];  // 256 is written as the value 0
      blank(&out);
      out += b64[i];
      i += n;
    } else {
      out += b64[i++];
    }
    blank(&out);
  }
  return out;
}

NbmpTestImage NbmpTestRandomImage(std::mt19937& rng) {
  NbmpTestImage image;
  image.depthCode = rng() % 3;
  image.loopCount = rng() % 16;
  image.width = 1 + rng() % 100;
  image.height = 1 + rng() % 60;
  const uint32_t ppb = PixelsPerByte(image.depthCode);
  const uint32_t canvasRow = NbmpTestRowBytes(image.width, image.depthCode);
  const uint32_t frames = rng() % 6;
  for (uint32_t i = 0; i < frames; ++i) {
    NbmpTestFrame f;
    const uint32_t column0 = rng() % canvasRow;
    f.x = column0 * ppb + rng() % ppb;
    f.y = rng() % image.height;
    const uint32_t maxBytes = canvasRow - column0;
    f.width = (rng() % 3 == 0) ? 0 : 1 + rng() % (maxBytes * ppb);
    f.height = 1 + rng() % (image.height - f.y);
    f.delay = static_cast<uint8_t>(rng());
    const uint32_t rowBytes = NbmpTestRowBytes(f.width, image.depthCode);
    const uint8_t runByte = static_cast<uint8_t>(rng() % 2 ? 0x96 : rng());
    for (uint32_t k = 0; k < rowBytes * f.height; ++k) {
      const uint32_t pick = rng() % 4;
      f.cells.push_back(pick == 0 ? 0 : pick == 1 ? runByte : static_cast<uint8_t>(rng()));
    }
    image.frames.push_back(std::move(f));
  }
  return image;
}
