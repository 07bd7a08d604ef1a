#include "tests/player/dct_encoder.h"

#include <cstdio>
#include <jpeglib.h>

#include <map>

namespace {

struct BitWriter {
  std::vector<uint8_t> bytes;
  uint32_t used = 8;  // bits used in the last byte
  void Put(uint32_t value, uint32_t n) {
    for (uint32_t i = n; i-- > 0;) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      bytes.back() |= static_cast<uint8_t>(((value >> i) & 1) << (7 - used));
      ++used;
    }
  }
};

struct Code {
  uint32_t bits, length;
};

// Canonical codes of a libjpeg Huffman table, by symbol.
std::map<uint8_t, Code> CodesOf(const JHUFF_TBL* table) {
  std::map<uint8_t, Code> codes;
  uint32_t code = 0, k = 0;
  for (uint32_t length = 1; length <= 16; ++length) {
    for (uint32_t i = 0; i < table->bits[length]; ++i) codes[table->huffval[k++]] = {code++, length};
    code <<= 1;
  }
  return codes;
}

struct Tables {
  std::map<uint8_t, Code> dc, ac;
  Tables() {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    dc = CodesOf(cinfo.dc_huff_tbl_ptrs[0]);
    ac = CodesOf(cinfo.ac_huff_tbl_ptrs[0]);
    jpeg_destroy_compress(&cinfo);
  }
};

uint32_t SizeOf(int32_t v) {
  uint32_t a = static_cast<uint32_t>(v < 0 ? -v : v), n = 0;
  while (a) {
    ++n;
    a >>= 1;
  }
  return n;
}

void PutValue(BitWriter* out, int32_t v, uint32_t size) {
  if (size) out->Put(static_cast<uint32_t>(v < 0 ? v + (1 << size) - 1 : v), size);
}

constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

void PutBlock(BitWriter* out, const Tables& t, const std::array<int32_t, 64>& block,
              int32_t predictor) {
  const int32_t diff = block[0] - predictor;
  const uint32_t dcSize = SizeOf(diff);
  const Code dc = t.dc.at(static_cast<uint8_t>(dcSize));
  out->Put(dc.bits, dc.length);
  PutValue(out, diff, dcSize);
  uint32_t run = 0;
  for (uint32_t k = 1; k < 64; ++k) {
    const int32_t v = block[kZigzag[k]];
    if (v == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      const Code zrl = t.ac.at(0xF0);
      out->Put(zrl.bits, zrl.length);
      run -= 16;
    }
    const uint32_t size = SizeOf(v);
    const Code c = t.ac.at(static_cast<uint8_t>(run << 4 | size));
    out->Put(c.bits, c.length);
    PutValue(out, v, size);
    run = 0;
  }
  if (run) {
    const Code eob = t.ac.at(0x00);
    out->Put(eob.bits, eob.length);
  }
}

}  // namespace

std::vector<uint8_t> DctTestEncode(const DctTestImage& image) {
  static const Tables tables;
  BitWriter out;
  out.Put(0, 16);
  out.Put(0, 16);
  out.Put(image.width, 16);
  out.Put(image.height, 16);
  out.Put(0, 32);  // the alpha offset, filled in below
  out.Put(0, 1);
  out.Put(image.quality, 3);
  out.Put(0, 4);
  const uint32_t across = (image.width + 15u) / 16, down = (image.height + 15u) / 16;
  int32_t previous[3] = {}, rowFirst[3] = {};
  size_t b = 0;
  for (uint32_t row = 0; row < down; ++row)
    for (uint32_t column = 0; column < across; ++column) {
      const bool first = row == 0 && column == 0;
      int32_t dc[3];
      for (int component = 0; component < 3; ++component) {
        const int32_t predictor = first ? 0 : column == 0 ? rowFirst[component] : previous[component];
        const auto& block = image.blocks.at(b++);
        dc[component] = block[0];
        PutBlock(&out, tables, block, predictor);
        if (component == 0)
          for (int k = 0; k < 3; ++k) PutBlock(&out, tables, image.blocks.at(b++), dc[0]);
      }
      for (int component = 0; component < 3; ++component) {
        previous[component] = dc[component];
        if (column == 0) rowFirst[component] = dc[component];
      }
    }
  if (image.withAlpha) {
    const auto offset = static_cast<uint32_t>(out.bytes.size());
    for (int i = 0; i < 4; ++i) out.bytes[8 + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
    out.used = 8;
    for (const auto& [value, count] : image.alpha) {
      uint32_t n = SizeOf(static_cast<int32_t>(count));
      out.Put(value, 8);
      out.Put(n, 4);
      out.Put(count, n);
    }
  }
  return out.bytes;
}
