#include "tools/pngread.h"

#include <png.h>

bool PngReadRgba(const std::string& path, PngRgba* image, std::string* error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    *error = path + ": " + png.message;
    return false;
  }
  png.format = PNG_FORMAT_RGBA;
  image->pixels.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr)) {
    *error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  image->width = png.width;
  image->height = png.height;
  return true;
}
