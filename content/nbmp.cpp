#include "content/nbmp.h"

#include <cstddef>

namespace {

// A source answers a byte, the end of its data, or an error.
constexpr int32_t kEnd = -2;
constexpr int32_t kBad = -1;

constexpr uint8_t kInvalid = 0x80;
constexpr uint8_t kEscape = 0x96;

struct BitReader {
  uint32_t sourceKind;  // 0 text, 1 memory
  uint32_t bitsLeft;
  uint32_t currentByte;
};

struct TextSource {
  const uint8_t* at;
  uint8_t pending[2];
  uint32_t pendingCount;
  uint32_t pendingNext;
  uint8_t runChar;
};

struct MemorySource {
  const uint8_t* at;
  uint32_t left;
  uint8_t runByte;
};

BitReader gReader;
TextSource gText;
MemorySource gMemory;
uint8_t gRunCount;  // shared by both sources
uint8_t gAlphabet[256];
bool gAlphabetBuilt;

void BuildAlphabet() {
  if (gAlphabetBuilt) return;
  for (uint32_t i = 0; i < 256; ++i) gAlphabet[i] = kInvalid;
  for (uint32_t i = 0; i < 26; ++i) {
    gAlphabet['A' + i] = static_cast<uint8_t>(i);
    gAlphabet['a' + i] = static_cast<uint8_t>(26 + i);
  }
  for (uint32_t i = 0; i < 10; ++i) gAlphabet['0' + i] = static_cast<uint8_t>(52 + i);
  gAlphabet[static_cast<uint8_t>('+')] = 62;
  gAlphabet[static_cast<uint8_t>('/')] = 63;
  gAlphabet[static_cast<uint8_t>('=')] = 0;
  gAlphabetBuilt = true;
}

void SetUpText(const char* text) {
  BuildAlphabet();
  gText = {reinterpret_cast<const uint8_t*>(text), {0, 0}, 0, 0, 0};
  gRunCount = 0;
}

void SetUpMemory(const uint8_t* data, uint32_t length) {
  gMemory = {data, length, 0};
  gRunCount = 0;
}

// Skips control characters, spaces and bytes from 0x80 up; stops at the
// text's end (NUL) without moving past it.
void SkipBlanks() {
  while (*gText.at && static_cast<int8_t>(*gText.at) <= 0x20) ++gText.at;
}

// The next character of the text with runs expanded: the character, 0 at
// the end, -1 for a bad run count.
int32_t NextChar() {
  if (gRunCount && gText.runChar >= 1 && gText.runChar <= 127) {
    --gRunCount;
    return gText.runChar;
  }
  SkipBlanks();
  uint8_t c = *gText.at;
  if (c == 0 || c == '"') return 0;
  ++gText.at;
  if (c != '~') return c;
  SkipBlanks();
  const uint8_t countChar = *gText.at;
  if (countChar == 0 || countChar == '"') return 0;
  ++gText.at;
  SkipBlanks();
  c = *gText.at;
  if (c == 0 || c == '"') return 0;
  ++gText.at;
  const uint8_t value = gAlphabet[countChar];
  if (value & kInvalid) return kBad;
  gText.runChar = c;
  gRunCount = static_cast<uint8_t>(value - 1);  // a count of 0 stands for 256
  return c;
}

int32_t NextTextByte() {
  if (gText.pendingNext < gText.pendingCount) return gText.pending[gText.pendingNext++];
  int32_t c[4];
  for (int i = 0; i < 4; ++i) {
    c[i] = NextChar();
    if (c[i] == 0) return i == 0 ? kEnd : kBad;
    if (c[i] < 0 || (gAlphabet[c[i]] & kInvalid)) return kBad;
  }
  const uint32_t v0 = gAlphabet[c[0]], v1 = gAlphabet[c[1]], v2 = gAlphabet[c[2]],
                 v3 = gAlphabet[c[3]];
  const auto b0 = static_cast<uint8_t>(v0 << 2 | v1 >> 4);
  gText.pending[0] = static_cast<uint8_t>(v1 << 4 | v2 >> 2);
  gText.pending[1] = static_cast<uint8_t>(v2 << 6 | v3);
  gText.pendingNext = 0;
  gText.pendingCount = c[2] == '=' ? 0 : c[3] == '=' ? 1 : 2;
  return b0;
}

int32_t NextMemoryByte() {
  if (gRunCount) {
    --gRunCount;
    return gMemory.runByte;
  }
  if (!gMemory.left) return kEnd;
  --gMemory.left;
  const uint8_t b = *gMemory.at++;
  if (b != kEscape) return b;
  if (!gMemory.left) return kEnd;
  --gMemory.left;
  const uint8_t n = *gMemory.at++;
  if (n == kEscape) return kEscape;
  if (n > kEscape) return kBad;
  if (!gMemory.left) return kEnd;
  --gMemory.left;
  gMemory.runByte = *gMemory.at++;
  gRunCount = static_cast<uint8_t>(n - 1);  // 0 stands for 256
  return gMemory.runByte;
}

int32_t NextByte() { return gReader.sourceKind == 0 ? NextTextByte() : NextMemoryByte(); }

// The next n bits (n up to 16), most significant first; -1 at the end or on
// an error of the source.
int32_t ReadBits(uint32_t n) {
  if (gReader.bitsLeft == 0 && n == 8) {
    const int32_t b = NextByte();
    return b < 0 ? -1 : b;
  }
  uint32_t value = 0;
  while (n) {
    if (gReader.bitsLeft == 0) {
      const int32_t b = NextByte();
      if (b < 0) return -1;
      gReader.currentByte = static_cast<uint32_t>(b);
      gReader.bitsLeft = 8;
    }
    const uint32_t take = n < gReader.bitsLeft ? n : gReader.bitsLeft;
    const uint32_t shift = gReader.bitsLeft - take;
    value = value << take | ((gReader.currentByte >> shift) & ((1u << take) - 1));
    gReader.bitsLeft -= take;
    n -= take;
  }
  return static_cast<int32_t>(value);
}

// Reads a field into *out; false at the end of the source or on its error.
bool Field(uint32_t bits, uint32_t* out) {
  const int32_t v = ReadBits(bits);
  if (v < 0) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

constexpr uint64_t AlignUp(uint64_t n, uint64_t a) { return (n + a - 1) / a * a; }

}  // namespace

int NbmpDecodeStream(uint8_t* output, uint32_t outputSize, uint32_t sourceKind) {
  gReader = {sourceKind, 0, 0};
  if (!output || reinterpret_cast<uintptr_t>(output) % alignof(NbmpImage)) return 0;
  uint32_t reserved, frameCount, loopCount, depthCode, width, height;
  if (!Field(16, &reserved) || !Field(8, &frameCount) || !Field(4, &loopCount) ||
      !Field(4, &depthCode) || !Field(12, &width) || !Field(12, &height))
    return 0;
  if (depthCode > 2) return 0;

  const uint32_t ppb = NbmpPixelsPerByte(depthCode);
  const uint64_t canvasRowBytes = NbmpRowBytes(width, depthCode);
  const uint64_t canvasBytes = canvasRowBytes * height;
  if (canvasBytes >= outputSize) return 0;
  const uint64_t canvasAt = outputSize - canvasBytes;
  const uint64_t headerEnd = offsetof(NbmpImage, frames) + uint64_t{frameCount} * sizeof(NbmpFrame*);
  if (uint64_t{frameCount} * (canvasBytes + sizeof(NbmpFrame)) + headerEnd > canvasAt ||
      canvasAt < 1 || headerEnd >= canvasAt)
    return 0;
  uint8_t* canvas = output + canvasAt;

  auto* image = reinterpret_cast<NbmpImage*>(output);
  image->frameCount = static_cast<uint8_t>(frameCount);
  image->loopCount = static_cast<uint8_t>(loopCount);
  image->depthCode = static_cast<uint8_t>(depthCode);
  image->width = width;
  image->height = height;

  uint64_t at = AlignUp(headerEnd, alignof(NbmpFrame));
  uint64_t used = headerEnd;
  for (uint32_t f = 0; f < frameCount; ++f) {
    if (at + sizeof(NbmpFrame) > canvasAt) return 0;
    auto* frame = reinterpret_cast<NbmpFrame*>(output + at);
    image->frames[f] = frame;
    uint32_t x, y, fw, fh, delay, coordCode;
    if (!Field(12, &x) || !Field(12, &y) || !Field(12, &fw) || !Field(12, &fh) ||
        !Field(8, &delay) || !Field(8, &coordCode) || !Field(16, &reserved))
      return 0;
    frame->x = x;
    frame->y = y;
    frame->width = fw;
    frame->height = fh;
    frame->delay = static_cast<uint8_t>(delay);
    if (coordCode > 1) return 0;
    const uint32_t coordBits = coordCode == 1 ? 8 : 12;

    // The frame's cells must lie on the canvas: frames are never clipped.
    const uint32_t rowBytes = NbmpRowBytes(fw, depthCode);
    const uint32_t column0 = x / ppb;
    if (uint64_t{column0} + rowBytes > canvasRowBytes || uint64_t{y} + fh > height) return 0;

    uint8_t* pixels = NbmpFramePixels(frame);
    const uint64_t pixelsAt = at + sizeof(NbmpFrame);
    const uint64_t pixelBytes = uint64_t{rowBytes} * fh;
    if (pixelsAt + pixelBytes > canvasAt) return 0;
    // The cover mask, one bit a cell, is scratch behind the pixels.
    const uint32_t maskRowBytes = (rowBytes + 7) / 8;
    const uint64_t maskBytes = uint64_t{maskRowBytes} * fh;
    if (pixelsAt + pixelBytes + maskBytes > canvasAt) return 0;
    uint8_t* mask = pixels + pixelBytes;
    for (uint64_t i = 0; i < maskBytes; ++i) mask[i] = 0;

    uint32_t rects, copies;
    if (!Field(8, &rects) || !Field(8, &copies)) return 0;
    for (uint32_t r = 0; r < rects; ++r) {
      uint32_t x0, x1, y0, y1, fill = 0;
      if (!Field(coordBits, &x0) || !Field(coordBits, &x1) || !Field(coordBits, &y0) ||
          !Field(coordBits, &y1))
        return 0;
      const bool isFill = r >= copies;
      if (isFill && !Field(8, &fill)) return 0;
      if (x0 >= x1 || y0 >= y1) continue;  // covers nothing
      if (x1 > rowBytes || y1 > fh) return 0;
      for (uint32_t row = y0; row < y1; ++row) {
        uint8_t* cell = canvas + (uint64_t{row} + y) * canvasRowBytes + column0;
        for (uint32_t col = x0; col < x1; ++col) {
          if (isFill) cell[col] = static_cast<uint8_t>(fill);
          pixels[uint64_t{row} * rowBytes + col] = cell[col];
          mask[uint64_t{row} * maskRowBytes + col / 8] |= static_cast<uint8_t>(1u << (col % 8));
        }
      }
    }
    for (uint32_t row = 0; row < fh; ++row) {
      uint8_t* cell = canvas + (uint64_t{row} + y) * canvasRowBytes + column0;
      for (uint32_t col = 0; col < rowBytes; ++col) {
        if (mask[uint64_t{row} * maskRowBytes + col / 8] & (1u << (col % 8))) continue;
        uint32_t literal;
        if (!Field(8, &literal)) return 0;
        pixels[uint64_t{row} * rowBytes + col] = static_cast<uint8_t>(literal);
        cell[col] = static_cast<uint8_t>(literal);
      }
    }
    used = pixelsAt + pixelBytes;
    // The next record starts behind the pixels, over the mask, aligned for
    // its fields.
    at = AlignUp(used, alignof(NbmpFrame));
  }
  image->usedBytes = static_cast<uint32_t>(used);
  return 1;
}

int NbmpDecodeText(const char* text, uint8_t* output, uint32_t outputSize) {
  if (!text) return 0;
  SetUpText(text);
  return NbmpDecodeStream(output, outputSize, 0);
}

int NbmpDecodeMemory(const uint8_t* data, uint32_t length, uint8_t* output, uint32_t outputSize) {
  if (!data && length) return 0;
  SetUpMemory(data, length);
  return NbmpDecodeStream(output, outputSize, 1);
}

int32_t InlineTextDecode(const char* text, uint32_t count, uint8_t* out) {
  if (!text) return -1;
  SetUpText(text);
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t b = NextTextByte();
    if (b < 0) return -1;
    out[i] = static_cast<uint8_t>(b);
  }
  return static_cast<int32_t>(count);
}
