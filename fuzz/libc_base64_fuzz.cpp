// Base64 quads: never writes past 3 * length / 4 bytes, and whatever is
// encoded decodes back, with junk mixed in. The base64 and quoted-printable
// decoders of messages stay in their room.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kernel/libc.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

uint32_t Decode(const char* text, size_t length, std::vector<uint8_t>* out) {
  const size_t room = 3 * length / 4;
  // Exactly the guaranteed room, so a write past it is caught.
  std::unique_ptr<uint8_t[]> dest(new uint8_t[room]);
  uint32_t count = UINT32_MAX;
  Check(LibcBase64DecodeQuads(dest.get(), &count, text, static_cast<uint32_t>(length)) == 1);
  Check(count <= room);
  if (out) out->assign(dest.get(), dest.get() + count);
  return count;
}

std::string Encode(const uint8_t* data, size_t size, uint8_t junk) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < size; i += 3) {
    uint32_t bits = uint32_t{data[i]} << 16;
    if (i + 1 < size) bits |= uint32_t{data[i + 1]} << 8;
    if (i + 2 < size) bits |= data[i + 2];
    for (size_t k = 0; k < 4; ++k) {
      const bool present = k < 2 || i + k - 1 < size;
      text += present ? kAlphabet[(bits >> (18 - 6 * k)) & 63] : '=';
      // Characters outside the alphabet (other than the pad) are skipped.
      if ((i + k) % 7 == 0) text += static_cast<char>(junk);
    }
  }
  return text;
}

}  // namespace

// The message decoders stay inside their promised room too.
void DecodeMessage(const char* text, size_t length) {
  std::unique_ptr<uint8_t[]> base64(new uint8_t[3 * length / 4 + 1]);
  uint32_t count = UINT32_MAX;
  Check(LibcBase64Decode(text, static_cast<uint32_t>(length), base64.get(), &count) <=
        3 * length / 4);
  std::unique_ptr<uint8_t[]> qp(new uint8_t[length + 1]);
  Check(LibcQpDecode(text, static_cast<uint32_t>(length), qp.get()) <= length);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  std::vector<char> text(data, data + size);
  Decode(text.data(), text.size(), nullptr);
  DecodeMessage(text.data(), text.size());

  uint8_t junk = size ? data[0] : '\n';
  const bool inAlphabet = (junk >= 'A' && junk <= 'Z') || (junk >= 'a' && junk <= 'z') ||
                          (junk >= '0' && junk <= '9') || junk == '+' || junk == '/' || junk == '=';
  if (inAlphabet) junk = '\n';
  const std::string encoded = Encode(data, size, junk);
  std::vector<uint8_t> back;
  Decode(encoded.data(), encoded.size(), &back);
  Check(back == std::vector<uint8_t>(data, data + size));
  return 0;
}
