#include "content/png.h"

#include <png.h>

#include <csetjmp>
#include <cstddef>
#include <cstring>

#include "kernel/mem.h"

struct PngDecoder {
  ContentBody body;
  uint32_t readAt;  // the memory stream's read position in the body
  uint8_t* work;
  uint32_t workSize;
  png_structp png;
  png_infop info;
  uint32_t error;  // the library reported an error
  bool alpha;
  uint32_t width, height, rowBytes, channels;
  png_bytepp rows;  // row pointers into the work buffer
  ContentImage* image;
};

namespace {

void OnError(png_structp png, png_const_charp) {
  auto* d = static_cast<PngDecoder*>(png_get_error_ptr(png));
  d->error = 1;
  // The library must not get control back: return to the glue's jump point.
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

png_voidp OnAlloc(png_structp, png_alloc_size_t size) {
  if (size > UINT32_MAX) return nullptr;
  return MemAlloc(static_cast<uint32_t>(size), Use::Data, Mod::PngGlue);
}

void OnFree(png_structp, png_voidp p) { MemFreeRaw(p); }

void OnRead(png_structp png, png_bytep out, size_t length) {
  auto* d = static_cast<PngDecoder*>(png_get_io_ptr(png));
  const uint32_t left = d->body.size - d->readAt;
  if (length > left) png_error(png, "read past the end of the body");
  memcpy(out, d->body.bytes + d->readAt, length);
  d->readAt += static_cast<uint32_t>(length);
}

void Free(PngDecoder** state) {
  PngDecoder* d = *state;
  if (!d) return;
  if (d->png) png_destroy_read_struct(&d->png, d->info ? &d->info : nullptr, nullptr);
  MemFree(&d->rows);
  ContentBodyFree(&d->body);
  MemFree(state);
}

// The decoded rows of the work buffer into bands. Stops quietly when a band
// cannot be had: the image keeps the bands it got.
void FillBands(PngDecoder* d, ContentFeed* feed) {
  const uint32_t perBand = ContentRowsPerBand(d->width);
  const uint32_t total = ContentBandTotal(d->width, d->height);
  uint32_t y = 0;
  for (uint32_t b = 0; b < total; ++b) {
    const uint32_t rows = d->height - y < perBand ? d->height - y : perBand;
    PglSurface* band = ContentBandNew(d->width, rows, d->width, d->alpha, Mod::PngGlue);
    if (!band) return;
    auto* out = reinterpret_cast<uint16_t*>(PglPixels(band));
    for (uint32_t r = 0; r < rows; ++r, ++y) {
      const uint8_t* in = d->rows[y];
      for (uint32_t x = 0; x < d->width; ++x, in += d->channels) {
        uint16_t pixel = ContentRgb565(in[0], in[1], in[2]);
        if (d->alpha)
          pixel = d->channels == 4 && in[3] == 0 ? kContentKeyColour : ContentOpaqueOnKey(pixel);
        *out++ = pixel;
      }
    }
    d->image->bands[b] = band;
    d->image->bandCount = static_cast<uint16_t>(b + 1);
    if (b + 1 < total) feed->events |= ContentEvent::Data;
  }
}

// Everything the library does for one body. Nothing that changes after the
// jump point lives in a local: the library may come back here by a jump.
Result Decode(PngDecoder* d, ContentFeed* feed) {
  if (d->body.size < 8 || png_sig_cmp(d->body.bytes, 0, 8) != 0) return PngErr::BadData;
  d->png =
      png_create_read_struct_2(PNG_LIBPNG_VER_STRING, d, OnError, OnWarning, d, OnAlloc, OnFree);
  if (!d->png) return PngErr::BadData;
  d->info = png_create_info_struct(d->png);
  if (!d->info) return PngErr::BadData;
  if (setjmp(png_jmpbuf(d->png))) return PngErr::BadData;
  png_set_error_fn(d->png, d, OnError, OnWarning);
  png_set_read_fn(d->png, d, OnRead);

  png_read_info(d->png, d->info);
  png_uint_32 width, height;
  int depth, colourType;
  png_get_IHDR(d->png, d->info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
  if (depth == 16) png_set_strip_16(d->png);
  if (colourType == PNG_COLOR_TYPE_PALETTE || depth < 8) png_set_expand(d->png);
  if (png_get_valid(d->png, d->info, PNG_INFO_tRNS)) {
    png_set_expand(d->png);
    d->alpha = true;
  }
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(d->png);
  if (colourType & PNG_COLOR_MASK_ALPHA) d->alpha = true;
  png_set_interlace_handling(d->png);
  png_read_update_info(d->png, d->info);
  png_get_IHDR(d->png, d->info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
  d->width = width;
  d->height = height;
  d->rowBytes = static_cast<uint32_t>(png_get_rowbytes(d->png, d->info));
  d->channels = png_get_channels(d->png, d->info);
  // The image record keeps 16-bit sizes; the pixel loop reads three or four
  // bytes a pixel.
  if (!width || !height || width > 0xFFFF || height > 0xFFFF || depth != 8 ||
      (d->channels != 3 && d->channels != 4) || d->rowBytes < d->channels * width)
    return PngErr::BadData;

  const uint32_t total = ContentBandTotal(width, height);
  const uint32_t bytes =
      static_cast<uint32_t>(offsetof(ContentImage, bands) + total * sizeof(PglSurface*));
  d->image = static_cast<ContentImage*>(MemAllocZero(bytes, Use::Data, Mod::PngGlue));
  if (!d->image) return PngErr::NoMemory;
  d->image->kind = ContentKind::Banded;
  d->image->width = static_cast<uint16_t>(width);
  d->image->height = static_cast<uint16_t>(height);
  ContentFeedOutput(feed, d->image);

  // The rows must fit the shared work buffer; otherwise the image stays
  // empty and the load completes.
  if (uint64_t{d->rowBytes} * height > d->workSize) return kOk;
  d->rows = static_cast<png_bytepp>(MemAlloc(height * sizeof(png_bytep), Use::Data, Mod::PngGlue));
  if (!d->rows) return kOk;
  for (uint32_t i = 0; i < height; ++i) d->rows[i] = d->work + size_t{i} * d->rowBytes;
  png_read_image(d->png, d->rows);
  png_read_end(d->png, nullptr);
  FillBands(d, feed);
  return kOk;
}

}  // namespace

Result PngDecodeStep(PngDecoder** state, ContentFeed* feed, const ContentSource* source) {
  if (!*state) {
    *state = static_cast<PngDecoder*>(MemAllocZero(sizeof(PngDecoder), Use::Data, Mod::PngGlue));
    if (!*state) return PngErr::NoMemory;
  }
  PngDecoder* d = *state;
  bool whole;
  Result result = ContentCollect(&d->body, feed, source, Mod::PngGlue, &whole);
  if (result == kOk && whole) {
    d->work = source->workBuffer;
    d->workSize = source->workBuffer ? source->workBufferSize : 0;
    result = Decode(d, feed);
    if (result == kOk) feed->events |= ContentEvent::Done;
  }
  if (result != kOk || whole) Free(state);
  return result;
}

void PngDecodeRelease(PngDecoder** state) { Free(state); }
