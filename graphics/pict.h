// Pictograms (module 70): small built-in images below "/pict/" of the
// built-in file tree, used in place as stored surfaces.
//
// A pictogram file is little-endian with 32-bit records. First byte 0: a
// still image, the whole file one stored surface. First byte 1: an animation,
// a 68-byte image record (frame count: u16 at byte 16) and frame 0's 28-byte
// frame record, then from byte 96 frame 0's stored surface; each further
// frame is its 28-byte frame record followed by its stored surface.
//
// A stored surface is a 28-byte header {pixels u32 (0), width, height, row
// bytes, row pitch, flags (all u32), key colour u16, 2 bytes padding}
// followed by height rows of pixels, as many bytes as PglSurfaceSize gives.
#pragma once
#include <cstdint>
#include <span>

#include "graphics/pgl.h"
#include "kernel/modules.h"

constexpr uint32_t kModPict = Mod::Pict;

namespace PictErr {
constexpr Result NoMemory = ResultError(kModPict, Err::NoMemory);
constexpr Result Malformed = ResultError(kModPict, Err::BadArg);
constexpr Result NotFound = ResultError(kModPict, Err::NotFound);
}  // namespace PictErr

constexpr uint32_t kPictStoredHeader = 28;
constexpr uint32_t kPictAnimHeader = 96;
constexpr uint32_t kPictFrameRecord = 28;

// Reads frame `frame` of the pictogram in `file` (a still image has only
// itself) into `surface`, whose pixels then point into `file`: they are
// borrowed, never freed through the surface, and live as long as the file.
// NotFound for a first byte other than 0 or 1 or a frame beyond the count;
// Malformed for a file cut short or a surface that does not fit it.
Result PictParseImage(std::span<const uint8_t> file, uint32_t frame, PglSurface* surface);

// Opens "/pict/" + name from the built-in file tree and reads frame `frame`
// as PictParseImage does. On success the file image goes to *file and the
// caller gives it back with QorRomRelease once done with the surface. A file
// memory could not hold gives kQorRomNoMemory, not NotFound.
Result PictLoadImage(const char* name, uint32_t frame, PglSurface* surface, const uint8_t** file);
