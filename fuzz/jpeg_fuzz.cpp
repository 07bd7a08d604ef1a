// The JPEG decoder over arbitrary bytes: the body decoded whole and in
// pieces of a size the last byte picks, one piece per step, gives the same
// answer and the same picture; everything it allocated is freed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "content/jpeg.h"
#include "host/platform/shell.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Outcome {
  Result result = 0;
  uint32_t events = 0;
  std::vector<uint16_t> pixels;
};

Outcome Run(const uint8_t* data, uint32_t size, uint32_t piece, bool trickle, bool fit) {
  Outcome out;
  Queue input{};
  JpegStream io{&input, 0, fit ? 1u : 0u, -1, 0, nullptr};
  JpegDecoder* state = nullptr;
  uint32_t at = 0;
  auto queueOne = [&] {
    const uint32_t n = size - at < piece ? size - at : piece;
    Check(UtilDataChunkAppend(&input, data + at, n, Mod::TestCode) == kOk);
    at += n;
  };
  if (!trickle) {
    while (at < size) queueOne();
    io.endOfData = 1;
  }
  for (uint32_t steps = 0;; ++steps) {
    Check(steps < 20000000);
    if (trickle) {
      if (at < size) queueOne();
      if (at >= size) io.endOfData = 1;
    }
    out.result = JpegDecodeStep(&state, &io);
    if (out.result || (io.events & JpegEvent::Complete)) break;
  }
  out.events = io.events;
  // The decoder lets go of its state itself when it ends.
  Check(state == nullptr);
  UtilDataChunkFreeQueue(&input);
  if (ContentImage* image = io.image) {
    Check(image->kind == ContentKind::Banded);
    for (uint32_t b = 0; b < image->bandCount; ++b) {
      const PglSurface* band = image->bands[b];
      if (!band) continue;
      Check(band->width == image->width);
      const auto* px = reinterpret_cast<const uint16_t*>(PglPixels(band));
      out.pixels.insert(out.pixels.end(), px, px + size_t{band->pitch} * band->height);
    }
  }
  JpegImageFree(&io.image);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  static std::vector<uint64_t> arena(1u << 19);
  // A handset screen, so that fitting to its width has something to fit.
  static std::vector<uint16_t> screen(176 * 208);
  ShellSetScreenGeometry(176, 208, screen.data());
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;
  const uint32_t n = static_cast<uint32_t>(size);
  const uint32_t piece = n ? 1 + data[n - 1] % 61 : 1;
  const bool fit = n && (data[n - 1] & 0x80);
  const Outcome whole = Run(data, n, n ? n : 1, false, fit);
  const Outcome pieces = Run(data, n, piece, true, fit);
  // Out of memory may strike at other points when the steps differ.
  if (whole.result != JpegErr::NoMemory && pieces.result != JpegErr::NoMemory) {
    Check(whole.result == pieces.result);
    Check(whole.events == pieces.events);
    Check(whole.pixels == pieces.pixels);
  }
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
