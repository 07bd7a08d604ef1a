// Converts a PNG into a one-bit handset image of the built-in tree: one
// object covering the canvas, shown in one frame.
//
//   qor_sisconv INPUT.png OUTPUT
//
// Dark opaque pixels (less than half bright, at least half opaque) are set;
// light or transparent ones are clear. The width and height must be
// multiples of 8, at most 248 x 120. Each 8 x 8 block is written raw or
// run-coded, whichever makes the smaller file.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/pngread.h"
#include "tools/sisenc.h"

namespace {

constexpr uint32_t kMaxWidthUnits = 31, kMaxHeightUnits = 15;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "qor_sisconv: %s\n", what.c_str());
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) Fail("usage: qor_sisconv INPUT.png OUTPUT");
  PngRgba image;
  std::string error;
  if (!PngReadRgba(argv[1], &image, &error)) Fail(error);
  const std::vector<uint8_t>& rgba = image.pixels;
  const uint32_t width = image.width, height = image.height;
  if (width == 0 || height == 0 || width % 8 || height % 8 || width / 8 > kMaxWidthUnits ||
      height / 8 > kMaxHeightUnits)
    Fail(std::string(argv[1]) + ": the size must be multiples of 8, at most 248 x 120");

  std::vector<uint8_t> rows(width / 8 * height, 0);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
      const uint32_t light = (p[0] * 299u + p[1] * 587u + p[2] * 114u) / 1000;
      if (p[3] >= 128 && light < 128) rows[y * (width / 8) + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }

  const std::vector<uint8_t> raw = SisMonoImage(width / 8, height / 8, rows, 1, false, 0);
  const std::vector<uint8_t> runs = SisMonoImage(width / 8, height / 8, rows, 1, true, 0);
  const std::vector<uint8_t>& out = runs.size() < raw.size() ? runs : raw;

  std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  if (!file) Fail(std::string("cannot write ") + argv[2]);
  return 0;
}
