#include "tests/graphics/sis_deflate_split.h"

#include <zlib.h>

#include "tests/graphics/sis_encoders.h"

namespace {

struct Bits {
  std::vector<uint8_t> bytes;
  uint64_t n = 0;
  void Put(uint32_t bit) {
    if (n % 8 == 0) bytes.push_back(0);
    if (bit) bytes.back() |= static_cast<uint8_t>(1u << (n % 8));
    ++n;
  }
  // Bits [from, to) of a least-significant-bit-first stream.
  void Copy(const std::vector<uint8_t>& src, uint64_t from, uint64_t to) {
    for (uint64_t i = from; i < to; ++i) Put(src[i / 8] >> (i % 8) & 1);
  }
};

// The bit positions where the first block's header ends and where the
// stream's last block ends, as zlib's inflate reports them.
bool Marks(const std::vector<uint8_t>& raw, size_t size, uint64_t* header, uint64_t* end) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  std::vector<uint8_t> out(size + 1);
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  *header = *end = 0;
  int r = Z_OK;
  while (r == Z_OK) {
    r = inflate(&z, Z_TREES);
    // Stopped at the end of a block header, no output yet.
    if (r == Z_OK && *header == 0 && (z.data_type & 128) == 0 && z.total_out == 0)
      *header = z.total_in * 8 - static_cast<uint64_t>(z.data_type & 63);
    // Just after the last block's end code, before the bits up to the byte
    // boundary are dropped.
    if (r == Z_OK && (z.data_type & 192) == 192) *end = z.total_in * 8 - static_cast<uint64_t>(z.data_type & 63);
  }
  inflateEnd(&z);
  return r == Z_STREAM_END && *header != 0 && *end > *header;
}

void Finish(Bits* b, const std::vector<uint8_t>& data) {
  const uLong a = adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size()));
  for (int i = 3; i >= 0; --i) b->bytes.push_back(static_cast<uint8_t>(a >> (8 * i)));
}

}  // namespace

bool SisSplitDynamic(const std::vector<uint8_t>& data, SisSplitStream* out) {
  const std::vector<uint8_t> raw = SisDeflate(data, 9, -15, 9, Z_DEFAULT_STRATEGY);
  // One final dynamic block: BFINAL 1, BTYPE 2.
  if (raw.empty() || (raw[0] & 7) != 5) return false;
  uint64_t header = 0, end = 0;
  if (!Marks(raw, data.size(), &header, &end)) return false;
  Bits whole, tables, stream;
  whole.bytes = {0x78, 0xDA};
  whole.n = 16;
  whole.Copy(raw, 0, end);
  Finish(&whole, data);
  tables.Copy(raw, 3, header);
  stream.bytes = {0x78, 0xDA};
  stream.n = 16;
  stream.Copy(raw, 0, 3);
  stream.Copy(raw, header, end);
  Finish(&stream, data);
  *out = {whole.bytes, tables.bytes, stream.bytes};
  return true;
}
