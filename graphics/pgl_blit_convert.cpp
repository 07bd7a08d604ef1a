// Blits of 1-bit, 2-bit and colour-cube sources onto RGB565: the road of all
// text on the screen (font glyphs arrive as 1-bit surfaces).
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"

namespace {

constexpr uint8_t kCubeLevels[6] = {0, 51, 102, 153, 204, 255};  // n * 255 / 5

constexpr uint16_t Rgb565(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint16_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
}

}  // namespace

// The cube's three components are index / 36, (index / 6) mod 6 and index
// mod 6; they are taken as red, green and blue, the usual web cube.
uint16_t PglCubeToRgb565(uint8_t index) {
  return Rgb565(kCubeLevels[(index / 36) % 6], kCubeLevels[(index / 6) % 6],
                kCubeLevels[index % 6]);
}

uint8_t PglRgb565ToCube(uint16_t colour) {
  const uint32_t r = (colour >> 11) * 255 / 31, g = ((colour >> 5) & 63) * 255 / 63,
                 b = (colour & 31) * 255 / 31;
  auto level = [](uint32_t v) { return (v * 5 + 127) / 255; };
  return static_cast<uint8_t>(level(r) * 36 + level(g) * 6 + level(b));
}

void PglConvertToRgb565(const PglBlitJob* job, uint32_t cols, uint32_t rows, uint16_t colour1,
                        uint16_t colour2) {
  const PglSurface* s = job->source;
  const uint8_t* spixels = PglPixels(s);
  uint8_t* tpixels = PglPixels(job->target);
  const bool transparent = (job->mode & PglMode::Transparent) || (s->flags & PglFlag::Keyed);
  const bool recolour = job->mode & PglMode::Recolour;
  const uint32_t format = PglFormatOf(s);
  const uint16_t ink = recolour ? colour1 : 0x0000;
  const uint16_t greys[4] = {0, recolour ? colour1 : kPglGreyLight,
                             recolour ? colour1 : kPglGreyDark, ink};

  for (uint32_t r = 0; r < rows; ++r) {
    const uint8_t* sp = PglRow(s, const_cast<uint8_t*>(spixels), job->top + r);
    uint16_t* tp = reinterpret_cast<uint16_t*>(PglRow(job->target, tpixels, job->y + r)) + job->x;
    if (format == kPglMono) {
      // Glyphs start on a byte: whole source bytes go eight pixels at a time,
      // the bit picking one of two colours without a branch when opaque.
      const uint16_t pick[2] = {colour2, ink};
      uint32_t c = 0, at = job->left;
      auto one = [&](uint32_t bit) {
        if (!transparent) tp[c] = pick[bit];
        else if (bit) tp[c] = ink;
      };
      for (; c < cols && (at & 7); ++c, ++at) one((sp[at >> 3] >> (at & 7)) & 1);
      for (; c + 8 <= cols; c += 8, at += 8) {
        const uint32_t byte = sp[at >> 3];
        if (transparent) {
          for (uint32_t k = 0; k < 8; ++k)
            if ((byte >> k) & 1) tp[c + k] = ink;
        } else {
          for (uint32_t k = 0; k < 8; ++k) tp[c + k] = pick[(byte >> k) & 1];
        }
      }
      for (; c < cols; ++c, ++at) one((sp[at >> 3] >> (at & 7)) & 1);
    } else if (format == kPglGrey) {
      sp += job->left >> 2;
      uint32_t pos = job->left & 3;
      uint32_t byte = *sp;
      for (uint32_t c = 0; c < cols; ++c) {
        const uint32_t code = (byte >> 2 * pos) & 3;
        if (code) tp[c] = greys[code];
        else if (!transparent) tp[c] = colour2;
        if (++pos == 4 && c + 1 < cols) {
          pos = 0;
          byte = *++sp;
        }
      }
    } else {  // the colour cube; index 0 is the background like the zero bit
      sp += job->left;
      for (uint32_t c = 0; c < cols; ++c) {
        if (sp[c]) tp[c] = recolour ? colour1 : PglCubeToRgb565(sp[c]);
        else if (!transparent) tp[c] = colour2;
      }
    }
  }
}
