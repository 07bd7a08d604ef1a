// nbmp streams through both sources, and base64 text through the inline
// decoder. Input: the source (first byte: 0 memory, 1 text, 2 inline text),
// the output size (next two bytes, big-endian), then the stream. The output
// buffer is exactly that size, so a write past it is caught; a decoded block
// keeps its frames before the canvas.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "content/nbmp.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 100000) return 0;
  const uint32_t kind = data[0] % 3;
  const uint32_t outSize = (uint32_t{data[1]} << 8 | data[2]) * 4;
  std::vector<uint64_t> words(outSize / 8 + 1);
  // An exact-size buffer when the size keeps the block aligned.
  std::vector<uint8_t> exact(outSize);
  uint8_t* out = outSize ? exact.data() : reinterpret_cast<uint8_t*>(words.data());
  const uint8_t* body = data + 3;
  const uint32_t length = static_cast<uint32_t>(size - 3);

  if (kind == 2) {
    const std::string text(reinterpret_cast<const char*>(body), length);
    const int32_t n = InlineTextDecode(text.c_str(), outSize, out);
    Check(n == -1 || n == static_cast<int32_t>(outSize));
    return 0;
  }
  int ok;
  if (kind == 0) {
    // An exact copy so that a read past the stream is caught.
    std::vector<uint8_t> copy(body, body + length);
    ok = NbmpDecodeMemory(copy.data(), length, out, outSize);
  } else {
    const std::string text(reinterpret_cast<const char*>(body), length);
    ok = NbmpDecodeText(text.c_str(), out, outSize);
  }
  if (!ok) return 0;
  const auto* image = reinterpret_cast<const NbmpImage*>(out);
  const uint64_t canvas = uint64_t{NbmpRowBytes(image->width, image->depthCode)} * image->height;
  Check(image->usedBytes <= outSize - canvas);
  for (uint32_t i = 0; i < image->frameCount; ++i) {
    NbmpFrame* frame = image->frames[i];
    const uint8_t* pixels = NbmpFramePixels(frame);
    const uint64_t end = static_cast<uint64_t>(pixels - out) +
                         uint64_t{NbmpRowBytes(frame->width, image->depthCode)} * frame->height;
    Check(reinterpret_cast<const uint8_t*>(frame) >= out && end <= image->usedBytes);
  }
  return 0;
}
