// The preset-table inflate over any stream: byte 0 picks the output room
// and the piece size, byte 1 the length of a table definition that follows
// (0 for none), the rest is the zlib stream fed a piece at a time. Output
// stays inside its room and every answer is one of the known ones.
#include <cstdint>
#include <cstdlib>

#include "graphics/sis_codec.h"

namespace {

uint8_t gOut[65536];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 70000) return 0;
  const uint32_t room = (data[0] & 0x0F) == 0x0F ? sizeof gOut : (data[0] & 0x0F) * 1024u + 17u;
  const uint32_t piece = (data[0] >> 4) == 0 ? 0xFFFFFFFFu : 1u << (data[0] >> 4);
  uint32_t tables = data[1];
  size_t at = 2;
  SisInflateResetTables();
  if (tables) {
    if (tables > size - at) tables = static_cast<uint32_t>(size - at);
    const int32_t r = SisInflateAll(data + at, static_cast<uint16_t>(tables));
    if (r != 0 && r != SisInflate::Short && r != SisInflate::Data) std::abort();
    at += tables;
  }
  SisInflateStream s{};
  s.output = gOut;
  s.room = room;
  int32_t r = SisInflate::More;
  while (r == SisInflate::More) {
    const size_t left = size - at;
    const uint32_t n = left < piece ? static_cast<uint32_t>(left) : piece;
    s.input = n ? data + at : nullptr;
    s.inputLength = n;
    r = SisInflateStep(&s);
    s.mode = 1;
    if (s.totalOut > room || s.totalIn > size) std::abort();
    if (n == 0) break;
    at += n;
  }
  if (r > SisInflate::More || r < SisInflate::Other) std::abort();
  return 0;
}
