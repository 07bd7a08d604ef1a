#include "tests/support/golden.h"

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

GoldenImage GoldenFromRgb565(const uint16_t* pixels, int width, int height, int pitch) {
  GoldenImage image;
  image.width = width;
  image.height = height;
  image.rgb.reserve(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint16_t v = pixels[static_cast<size_t>(y) * pitch + x];
      const uint32_t r = v >> 11, g = (v >> 5) & 63, b = v & 31;
      image.rgb.push_back(static_cast<uint8_t>(r << 3 | r >> 2));
      image.rgb.push_back(static_cast<uint8_t>(g << 2 | g >> 4));
      image.rgb.push_back(static_cast<uint8_t>(b << 3 | b >> 2));
    }
  }
  return image;
}

bool GoldenWritePng(const std::string& path, const GoldenImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr) != 0;
}

bool GoldenReadPng(const std::string& path, GoldenImage* image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGB;
  image->width = static_cast<int>(png.width);
  image->height = static_cast<int>(png.height);
  image->rgb.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image->rgb.data(), 0, nullptr)) {
    png_image_free(&png);
    return false;
  }
  return true;
}

::testing::AssertionResult GoldenMatches(const std::string& path, const GoldenImage& actual) {
  const char* update = std::getenv("QOR_UPDATE_GOLDEN");
  if (update && std::strcmp(update, "1") == 0) {
    if (!GoldenWritePng(path, actual))
      return ::testing::AssertionFailure() << "cannot write " << path;
    return ::testing::AssertionSuccess() << "wrote " << path;
  }
  GoldenImage expected;
  if (!GoldenReadPng(path, &expected))
    return ::testing::AssertionFailure()
           << "no golden image " << path << " (QOR_UPDATE_GOLDEN=1 creates it)";
  std::ostringstream why;
  if (expected.width != actual.width || expected.height != actual.height) {
    why << "size " << actual.width << "x" << actual.height << ", expected " << expected.width
        << "x" << expected.height;
  } else {
    int differing = 0, firstX = -1, firstY = -1;
    for (size_t i = 0; i < actual.rgb.size(); i += 3) {
      if (std::memcmp(&actual.rgb[i], &expected.rgb[i], 3) == 0) continue;
      if (differing++ == 0) {
        firstX = static_cast<int>(i / 3) % actual.width;
        firstY = static_cast<int>(i / 3) / actual.width;
      }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    why << differing << " pixels differ, the first at (" << firstX << ", " << firstY << ")";
  }
  std::filesystem::path beside(path);
  beside.replace_extension(".actual.png");
  GoldenWritePng(beside.string(), actual);
  return ::testing::AssertionFailure() << path << ": " << why.str() << "; actual image written to "
                                       << beside.string();
}
