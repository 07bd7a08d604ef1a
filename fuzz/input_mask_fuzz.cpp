// Masks and texts into the input-mask checker: it reads no further than the
// terminators, answers only its own codes, and agrees with itself.
//
// Input: a mode byte (bit 0 adds 0x200, bit 1 adds 0x400), then the mask, a
// newline, and the text. Bytes are widened to UTF-16; 0xFF takes the next two
// bytes as one big-endian unit, to reach every character.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "widgets/input.h"

namespace {
std::vector<char16_t> Units(const uint8_t* data, size_t size) {
  std::vector<char16_t> out;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      out.push_back(static_cast<char16_t>(data[i + 1] << 8 | data[i + 2]));
      i += 2;
    } else {
      out.push_back(data[i]);
    }
  }
  // A 0 inside ends the string early, as it would in the engine.
  out.push_back(0);
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  uint32_t mode = 1;
  if (data[0] & 1) mode |= InputMode::AcceptEmpty;
  if (data[0] & 2) mode |= InputMode::RefuseEmpty;
  size_t split = 1;
  while (split < size && data[split] != '\n') ++split;
  const std::vector<char16_t> mask = Units(data + 1, split - 1);
  const std::vector<char16_t> text =
      split < size ? Units(data + split + 1, size - split - 1) : std::vector<char16_t>{0};

  const Result r = InputMaskValidate(mask.data(), text.data(), mode);
  if (r != kOk && r != InputErr::Mismatch) std::abort();
  const int valid = InputMaskIsValid(mask.data());
  if (!valid && r != kOk) std::abort();  // a mask that does not parse restricts nothing

  uint32_t more = 0;
  bool allOk = true;
  for (uint32_t i = 0; text[i]; ++i) allOk = allOk && InputMaskCharOk(mask.data(), text[i], i, &more);
  if (valid && text[0] && r == kOk && (!allOk || more)) std::abort();

  for (uint32_t p = 0; p < 12; ++p) {
    uint32_t cls = 99, moreHere = 0;
    char16_t literal = 0;
    const Result c = InputMaskCheck(mask.data(), p, &cls, &literal, &moreHere);
    if (c == kOk && cls > InputClass::Literal) std::abort();
    if (c != kOk && c != InputErr::PastEnd && c != InputErr::BadMask) std::abort();
  }
  for (uint32_t cat = 0; cat < 16; ++cat) InputCharInClass(text[0], cat);
  return 0;
}
