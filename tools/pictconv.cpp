// Converts a PNG into a still pictogram of the built-in tree: a stored
// surface, its 28-byte long header followed by RGB565 rows.
//
//   qor_pictconv INPUT.png OUTPUT
//
// Header, little-endian: pixels (u32, 0 in a file: the pixels are inline),
// width, height, row bytes (2 x width), row pitch in pixels (width), flags
// (u32: 8 RGB565 | 0x10 inline | 0x80, and 0x20 when a key colour is in
// force), key colour (u16), two bytes of padding. The first byte, 0, marks a
// still image. Pixels less than half opaque become the key colour 0xF81F;
// an opaque pixel of that very colour is nudged off it.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/pngread.h"

namespace {

constexpr uint16_t kKeyColour = 0xF81F;
constexpr uint32_t kFormatRgb565 = 8, kInline = 0x10, kKeyed = 0x20, kKept = 0x80;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "qor_pictconv: %s\n", what.c_str());
  std::exit(1);
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) Fail("usage: qor_pictconv INPUT.png OUTPUT");
  PngRgba image;
  std::string error;
  if (!PngReadRgba(argv[1], &image, &error)) Fail(error);
  const std::vector<uint8_t>& rgba = image.pixels;
  const uint32_t width = image.width, height = image.height;
  if (width == 0 || height == 0 || width > 1024 || height > 1024) Fail("unreasonable size");

  std::vector<uint16_t> pixels(static_cast<size_t>(width) * height);
  bool keyed = false;
  for (size_t i = 0; i < pixels.size(); ++i) {
    const uint8_t* p = &rgba[i * 4];
    if (p[3] < 128) {
      pixels[i] = kKeyColour;
      keyed = true;
      continue;
    }
    auto v = static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
    pixels[i] = v == kKeyColour ? kKeyColour - 1 : v;
  }

  std::vector<uint8_t> out;
  PutU32(out, 0);
  PutU32(out, width);
  PutU32(out, height);
  PutU32(out, width * 2);
  PutU32(out, width);
  PutU32(out, kFormatRgb565 | kInline | kKept | (keyed ? kKeyed : 0));
  PutU16(out, keyed ? kKeyColour : 0);
  PutU16(out, 0);
  for (uint16_t v : pixels) PutU16(out, v);

  std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  if (!file) Fail(std::string("cannot write ") + argv[2]);
  return 0;
}
