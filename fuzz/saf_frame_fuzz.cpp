// The frame commands of animations: the input becomes the command list of
// the one frame of a small animation with three objects, at the depth its
// first byte picks; the frame renders without leaving the frame, the
// objects or the work buffer.
#include <cstdint>
#include <cstring>

#include "graphics/sis.h"

namespace {

constexpr uint32_t kCanvas = 48;

uint8_t gWork[kSisWorkBytes];
uint8_t gModel[kSisModelBufferBytes];
uint8_t gFile[4096];
uint8_t gOut[16 + 24 + kCanvas * kCanvas + 64];

struct Writer {
  uint32_t n = 0;
  void Put(uint32_t b) { gFile[n++] = static_cast<uint8_t>(b); }
  void Put16(uint32_t v) {
    Put(v >> 8);
    Put(v);
  }
};

// An object coded as one stored zlib block of a byte pattern.
void Object(Writer* w, uint32_t index, uint32_t width, uint32_t height, uint32_t depth, uint32_t key) {
  const uint32_t bytes = width * height * depth / 8;
  w->Put(4);
  w->Put16(7);
  const uint8_t head[7] = {static_cast<uint8_t>(index), static_cast<uint8_t>(width), static_cast<uint8_t>(height),
                           1, static_cast<uint8_t>(key), 0, 0};
  for (uint8_t b : head) w->Put(b);
  w->Put16(2 + 5 + bytes + 4);
  w->Put(0x78);
  w->Put(0x01);
  w->Put(1);
  w->Put(bytes & 0xFF);
  w->Put(bytes >> 8);
  w->Put(~bytes & 0xFF);
  w->Put(~bytes >> 8 & 0xFF);
  uint32_t a = 1, b = 0;
  for (uint32_t i = 0; i < bytes; ++i) {
    const uint32_t v = (i * 37 + index * 11) & 0xFF;
    w->Put(v);
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  const uint32_t adler = b << 16 | a;
  w->Put16(adler >> 16);
  w->Put16(adler & 0xFFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 2000) return 0;
  static constexpr uint32_t kDepths[4] = {1, 2, 4, 8};
  const uint32_t depth = kDepths[data[0] & 3];
  Writer w;
  const uint8_t head[7] = {'S', 'A', 'F', 0, 1, 0, 0};
  for (uint8_t b : head) w.Put(b);
  const uint8_t records[] = {1, 6, kCanvas, kCanvas, static_cast<uint8_t>(depth), 0, 0, 1, 2, 2, 0, 2 << 5,
                             3, 3, 1, 7, 0, 10, 2, 1, 0};
  w.Put(7);
  w.Put(0);
  w.Put(2);
  w.Put16(sizeof records);
  for (uint8_t b : records) w.Put(b);
  Object(&w, 0, 8, 8, depth, 0);
  Object(&w, 1, 16, 5, depth, 1);
  Object(&w, 7, 24, 24, depth, 3);
  // The frame: background, command count, then the input's commands.
  w.Put(6);
  w.Put16(static_cast<uint32_t>(size));
  w.Put(data[0] >> 2);
  for (size_t i = 1; i < size; ++i) w.Put(data[i]);
  w.Put(8);
  w.Put16(0);
  gFile[5] = static_cast<uint8_t>(w.n >> 8);
  gFile[6] = static_cast<uint8_t>(w.n);
  SisDecoderInit(gWork, sizeof gWork, gModel, sizeof gModel, kCanvas, kCanvas);
  if (!SisProbeHeader(gFile, w.n, nullptr)) return 0;
  SisDecodeFrame(gFile, w.n, gOut, sizeof gOut, 0, 0);
  return 0;
}
