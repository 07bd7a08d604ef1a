#include "graphics/pict.h"

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"

namespace {

uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The bytes a stored surface takes in the file: its header and the rows
// PglSurfaceSize sizes (0 for a format it does not size).
uint64_t StoredSize(uint32_t width, uint32_t height, uint32_t format) {
  uint32_t bytes = 0;
  if (PglSurfaceSize(&bytes, width, height, format, 0x80, 0) != kOk) return 0;
  return kPictStoredHeader + uint64_t{bytes};
}

// Reads the stored surface at `at`; its pixels stay in the file.
Result ReadStored(std::span<const uint8_t> file, uint64_t at, PglSurface* out, uint64_t* end) {
  if (at + kPictStoredHeader > file.size()) return PictErr::Malformed;
  const uint8_t* h = file.data() + at;
  const uint32_t width = U32(h + 4), height = U32(h + 8), rowBytes = U32(h + 12),
                 pitch = U32(h + 16), flags = U32(h + 20);
  const uint32_t format = flags & PglFlag::Format;
  PglSurface shape;
  PglInitSurface(&shape, width, height, format, 0, 0);
  const uint64_t stored = StoredSize(width, height, format);
  if (!width || !height || !shape.rowBytes || stored <= kPictStoredHeader) return PictErr::Malformed;
  if (at + stored > file.size()) return PictErr::Malformed;
  // The rows as the header lays them out must lie within the stored bytes.
  const uint64_t pitchBytes = format == kPglRgb565 ? uint64_t{pitch} * 2 : pitch;
  if (rowBytes < shape.rowBytes || pitchBytes < rowBytes ||
      pitchBytes * (height - 1) + rowBytes > stored - kPictStoredHeader)
    return PictErr::Malformed;
  const uint8_t* pixels = h + kPictStoredHeader;
  if (format == kPglRgb565 && reinterpret_cast<uintptr_t>(pixels) % 2) return PictErr::Malformed;

  out->pixels = const_cast<uint8_t*>(pixels);
  out->width = width;
  out->height = height;
  out->rowBytes = rowBytes;
  out->pitch = pitch;
  // The native header does not sit before the pixels, and no file is the
  // screen.
  out->flags = flags & ~(PglFlag::Inline | PglFlag::Screen);
  out->key = U16(h + 24);
  *end = at + stored;
  return kOk;
}

}  // namespace

Result PictParseImage(std::span<const uint8_t> file, uint32_t frame, PglSurface* surface) {
  if (file.empty()) return PictErr::NotFound;
  uint64_t end = 0;
  if (file[0] == 0) return ReadStored(file, 0, surface, &end);
  if (file[0] != 1) return PictErr::NotFound;
  if (file.size() < kPictAnimHeader) return PictErr::Malformed;
  if (frame >= U16(file.data() + 16)) return PictErr::NotFound;
  PglSurface current;
  uint64_t at = kPictAnimHeader;
  for (uint32_t i = 0;; ++i) {
    if (Result r = ReadStored(file, at, &current, &end); r != kOk) return r;
    if (i == frame) break;
    at = end + kPictFrameRecord;
  }
  *surface = current;
  return kOk;
}

Result PictLoadImage(const char* name, uint32_t frame, PglSurface* surface,
                     const uint8_t** file) {
  static constexpr char kFolder[] = "/pict/";
  const uint32_t length = LibcStrLen(name);
  auto* path = static_cast<char*>(MemAlloc(length + sizeof kFolder, Use::String, kModPict));
  if (!path) return PictErr::NoMemory;
  LibcStrCat(LibcStrCopy(path, kFolder), name);
  uint32_t size = 0;
  Result why = kOk;
  const uint8_t* bytes = QorRomOpen(path, &size, &why);
  MemFree(&path);
  // A file memory could not hold is not a missing one: the caller's start
  // failure shows the file layer's own code.
  if (!bytes) return why == kQorRomNoMemory ? why : PictErr::NotFound;
  const Result r = PictParseImage(std::span<const uint8_t>(bytes, size), frame, surface);
  if (r != kOk) {
    QorRomRelease(bytes);
    return r;
  }
  *file = bytes;
  return kOk;
}
