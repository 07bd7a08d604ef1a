// Pictogram files come from the built-in tree or, in their place, from a
// romfiles folder anyone can fill: any bytes parse to a frame or an error,
// a frame's rows lie inside the file, and drawing every frame on a screen
// reads nothing else. The same bytes are then loaded by name through the
// romfiles override of a private working folder, and made into the body the
// pict: scheme hands on, whose every frame is drawn before it is freed.
//
// Input: the frame to ask for (1 byte), then the file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "content/content_rows.h"
#include "content/pict_scheme.h"
#include "graphics/pict.h"
#include "fuzz/private_folder.h"
#include "kernel/heap.h"
#include "kernel/qorrom.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The process works in a folder of its own, so the romfiles it writes are
// the only ones the store can find.
bool EnterPrivateFolder() {
  FuzzPrivateFolder("pict-fuzz", true);
  return ::mkdir("romfiles", 0700) == 0 && ::mkdir("romfiles/pict", 0700) == 0;
}

void Draw(const PglSurface& picture) {
  static std::vector<uint16_t> pixels(160 * 240);
  PglSurface screen{reinterpret_cast<uint8_t*>(pixels.data()), 160, 240, 320, 160, kPglRgb565, 0};
  PglBlitJob job{};
  job.source = &picture;
  job.target = &screen;
  job.right = picture.width - 1;
  job.bottom = picture.height - 1;
  PglBlit(&job, 0, 0xFFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena((1u << 20) / 8);
  static const bool folder = EnterPrivateFolder();
  if (!folder || size < 1 || size > 65536) return 0;
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t frame = data[0] % 4;
  // An exact copy, so a read past the file is caught.
  std::vector<uint8_t> file(data + 1, data + size);
  const std::span<const uint8_t> bytes(file.data(), file.size());

  for (uint32_t f = 0; f <= frame; ++f) {
    PglSurface s{};
    const Result r = PictParseImage(bytes, f, &s);
    if (r != kOk) {
      Check(r == PictErr::NotFound || r == PictErr::Malformed);
      continue;
    }
    const uint8_t* pixels = s.pixels;
    Check(pixels >= file.data() && pixels + s.rowBytes <= file.data() + file.size());
    Draw(s);
  }

  if (std::FILE* out = std::fopen("romfiles/pict/fuzz", "wb")) {
    if (!file.empty()) std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    PglSurface s{};
    const uint8_t* image = nullptr;
    if (PictLoadImage("fuzz", frame, &s, &image) == kOk) {
      Draw(s);
      QorRomRelease(image);
    }
    ContentImage* body = nullptr;
    const Result r = PictCreateImage("fuzz", &body, PictMode::Name);
    Check(r == kOk || r == PictCode::NotFound || r == PictCode::NoMemory);
    if (r == kOk) {
      if (body->kind == ContentKind::Stored) {
        Draw(*body->stored);
      } else {
        Check(body->kind == ContentKind::Animation);
        for (const ContentImageFrame* f = body->firstFrame; f; f = f->next) Draw(*f->bands[0]);
      }
      ContentImageFree(body);
    }
  }
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);
  return 0;
}
