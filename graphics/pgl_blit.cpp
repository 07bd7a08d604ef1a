// PglBlit: the job's rectangle is cut to both surfaces, then either converted
// to RGB565 (pgl_blit_convert.cpp) or copied within one format.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"
#include "kernel/libc.h"

void PglConvertToRgb565(const PglBlitJob* job, uint32_t cols, uint32_t rows, uint16_t colour1,
                        uint16_t colour2);

namespace {

bool IsBlitFormat(uint32_t f) {
  return f == kPglMono || f == kPglGrey || f == kPglCube || f == kPglRgb565;
}

// Cuts the job to both surfaces: source right and bottom to the source, the
// run to the target. False when nothing is left.
bool ClipJob(PglBlitJob* job, uint32_t* cols, uint32_t* rows) {
  const PglSurface* s = job->source;
  const PglSurface* t = job->target;
  if (!s->width || !s->height) return false;
  if (job->right >= s->width) job->right = s->width - 1;
  if (job->bottom >= s->height) job->bottom = s->height - 1;
  if (job->left > job->right || job->top > job->bottom) return false;
  if (job->x >= t->width || job->y >= t->height) return false;
  *cols = job->right - job->left + 1;
  *rows = job->bottom - job->top + 1;
  if (*cols > t->width - job->x) *cols = t->width - job->x;
  if (*rows > t->height - job->y) *rows = t->height - job->y;
  job->right = job->left + *cols - 1;
  job->bottom = job->top + *rows - 1;
  return true;
}

template <class Pixel>
void CopySameRow(Pixel* d, const Pixel* s, uint32_t cols, const PglBlitJob& job, uint16_t colour1,
                 uint16_t colour2) {
  const bool recolour = job.mode & PglMode::Recolour;
  const auto c1 = static_cast<Pixel>(colour1), c2 = static_cast<Pixel>(colour2);
  if (job.mode & PglMode::Transparent) {
    for (uint32_t i = 0; i < cols; ++i)
      if (s[i]) d[i] = recolour ? c1 : s[i];
  } else if (job.source->flags & PglFlag::Keyed) {
    const uint16_t key = job.source->key;
    for (uint32_t i = 0; i < cols; ++i)
      if (s[i] != key) d[i] = s[i];
  } else if (recolour) {
    for (uint32_t i = 0; i < cols; ++i) d[i] = s[i] ? c1 : c2;
  } else {
    // The page view scrolls within one surface, so the runs may overlap.
    LibcMemMove(d, s, cols * sizeof(Pixel));
  }
}

void CopyRow(const PglBlitJob& job, uint32_t sy, uint32_t ty, uint32_t cols, bool plain,
             uint16_t colour1, uint16_t colour2) {
  const PglSurface* s = job.source;
  const uint8_t* srow = PglRow(s, PglPixels(s), sy);
  uint8_t* trow = PglRow(job.target, PglPixels(job.target), ty);
  switch (PglFormatOf(s)) {
    case kPglRgb565: {
      const auto* sp = reinterpret_cast<const uint16_t*>(srow) + job.left;
      auto* tp = reinterpret_cast<uint16_t*>(trow) + job.x;
      if (plain) LibcMemMove(tp, sp, cols * 2);
      else CopySameRow(tp, sp, cols, job, colour1, colour2);
      break;
    }
    case kPglCube:
      if (plain) LibcMemMove(trow + job.x, srow + job.left, cols);
      else CopySameRow(trow + job.x, srow + job.left, cols, job, colour1, colour2);
      break;
    default: {
      const uint32_t bpp = PglFormatOf(s) == kPglMono ? 1 : 2;
      PglCopyBits(trow, job.x * bpp, srow, job.left * bpp, cols * bpp,
                  !plain && (job.mode & PglMode::Transparent));
      break;
    }
  }
}

// The shared front of PglBlit and PglBlitBottomUp: format checks and clipping.
Result Prepare(const PglBlitJob* in, PglBlitJob* job, uint32_t* cols, uint32_t* rows,
               bool* converting, bool* empty) {
  *job = *in;
  const uint32_t sf = PglFormatOf(job->source), tf = PglFormatOf(job->target);
  if (!IsBlitFormat(sf)) return PglErr::BadFormat;
  *converting = sf != kPglRgb565 && tf == kPglRgb565;
  // Only conversions into RGB565 exist; any other pairing would read the
  // target as if it had the source's layout.
  if (!*converting && sf != tf) return PglErr::BadFormat;
  if (!PglPixels(job->source) || !PglPixels(job->target)) return PglErr::NoPixels;
  *empty = !ClipJob(job, cols, rows);
  return kOk;
}

void InvalidateRun(const PglBlitJob& job, uint32_t cols, uint32_t rows) {
  PglInvalidate(job.target, static_cast<int32_t>(job.x), static_cast<int32_t>(job.y),
                static_cast<int32_t>(job.x + cols - 1), static_cast<int32_t>(job.y + rows - 1));
}

}  // namespace

Result PglBlit(const PglBlitJob* in, uint16_t colour1, uint16_t colour2) {
  PglBlitJob job;
  uint32_t cols = 0, rows = 0;
  bool converting = false, empty = false;
  if (Result r = Prepare(in, &job, &cols, &rows, &converting, &empty); r != kOk || empty)
    return r;
  if (converting) {
    PglConvertToRgb565(&job, cols, rows, colour1, colour2);
  } else {
    const bool plain = !(job.mode & (PglMode::Transparent | PglMode::Recolour)) &&
                       !(PglFormatOf(job.source) != kPglMono &&
                         PglFormatOf(job.source) != kPglGrey &&
                         (job.source->flags & PglFlag::Keyed));
    for (uint32_t r = 0; r < rows; ++r)
      CopyRow(job, job.top + r, job.y + r, cols, plain, colour1, colour2);
  }
  InvalidateRun(job, cols, rows);
  return kOk;
}

Result PglBlitWhole(PglBlitJob* job, uint16_t colour1, uint16_t colour2) {
  job->left = job->top = 0;
  job->right = job->source->width - 1;
  job->bottom = job->source->height - 1;
  return PglBlit(job, colour1, colour2);
}

Result PglBlitBottomUp(const PglBlitJob* in) {
  PglBlitJob job;
  uint32_t cols = 0, rows = 0;
  bool converting = false, empty = false;
  if (Result r = Prepare(in, &job, &cols, &rows, &converting, &empty); r != kOk || empty)
    return r;
  if (converting) return PglErr::BadFormat;
  for (uint32_t r = rows; r-- > 0;) CopyRow(job, job.top + r, job.y + r, cols, true, 0, 0);
  InvalidateRun(job, cols, rows);
  return kOk;
}

void PglCopyBits(uint8_t* dst, uint32_t to, const uint8_t* src, uint32_t from, uint32_t bits,
                 bool orInto) {
  if (!bits) return;
  const uint32_t first = to >> 3, last = (to + bits - 1) >> 3;
  const int64_t shift = int64_t{from} - to;  // source bit of target bit 0, relative
  const bool backward = reinterpret_cast<uintptr_t>(dst) * 8 + to >
                        reinterpret_cast<uintptr_t>(src) * 8 + from;
  const uint32_t count = last - first + 1;
  for (uint32_t n = 0; n < count; ++n) {
    const uint32_t k = backward ? last - n : first + n;
    const uint32_t lo = k == first ? to & 7 : 0;
    const uint32_t hi = k == last ? (to + bits - 1) & 7 : 7;
    const auto mask = static_cast<uint8_t>((0xFFu << lo) & (0xFFu >> (7 - hi)));
    const auto a = static_cast<uint64_t>(int64_t{k} * 8 + lo + shift);  // first source bit
    const uint64_t byteA = a >> 3, byteB = (a + (hi - lo)) >> 3;
    uint32_t window = src[byteA];
    if (byteB != byteA) window |= uint32_t{src[byteB]} << 8;
    const auto value = static_cast<uint8_t>(((window >> (a & 7)) << lo) & mask);
    dst[k] = orInto ? static_cast<uint8_t>(dst[k] | value)
                    : static_cast<uint8_t>((dst[k] & ~mask) | value);
  }
}
