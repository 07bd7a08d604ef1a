// The one-bit images of the built-in tree: each opens from the store,
// probes, and decodes to its size and to the pixels of its PNG source.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "graphics/sis.h"
#include "kernel/qorrom.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/golden.h"

namespace fs = std::filesystem;

namespace {

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}

// Runs in an empty working folder, so that no romfiles folder stands in.
class SisRomImagesTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    char pattern[] = "/tmp/sis_rom_images_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = fs::current_path();
    fs::current_path(dir_);
    SisTestDecoderInit(256, 256);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  fs::path dir_, old_;
};

TEST_F(SisRomImagesTest, EachImageDecodesToItsSource) {
  struct Image {
    std::string name;
    uint32_t width, height;
  };
  std::vector<Image> images;
  for (int d = 0; d < 10; ++d) images.push_back({std::to_string(d), 8, 16});
  for (const char* n : {"arrow_gray", "back", "home", "opt_help_0"}) images.push_back({n, 16, 16});
  images.push_back({"qorlogo", 48, 16});

  for (const Image& im : images) {
    SCOPED_TRACE(im.name);
    const std::string path = "/images/" + im.name + ".sis";
    uint32_t size = 0;
    const uint8_t* file = QorRomOpen(path.c_str(), &size);
    ASSERT_NE(file, nullptr);
    const std::vector<uint8_t> data(file, file + size);
    QorRomRelease(file);

    SisImageInfo info{};
    ASSERT_EQ(SisProbeHeader(data.data(), size, &info), 1);
    EXPECT_EQ(info.kind, SisKind::Mono);
    EXPECT_EQ(info.frameCount, 1u);
    EXPECT_EQ(info.width, im.width);
    EXPECT_EQ(info.height, im.height);
    std::vector<uint8_t> out(SisOutputSize(1));
    ASSERT_EQ(SisDecodeFrame(data.data(), size, out.data(), static_cast<uint32_t>(out.size()), 0, 0), 1);
    EXPECT_EQ(Word(out, 8), im.width);
    EXPECT_EQ(Word(out, 12), im.height);
    EXPECT_EQ(Word(out, 28), im.width);
    EXPECT_EQ(Word(out, 32), im.height);
    ASSERT_EQ(Word(out, 0), 40 + im.width * im.height / 8);

    GoldenImage src;
    ASSERT_TRUE(GoldenReadPng(QOR_GOLDEN_DIR "/../../../assets/images/" + im.name + ".png", &src));
    ASSERT_EQ(static_cast<uint32_t>(src.width), im.width);
    ASSERT_EQ(static_cast<uint32_t>(src.height), im.height);
    uint32_t ink = 0;
    for (uint32_t y = 0; y < im.height; ++y)
      for (uint32_t x = 0; x < im.width; ++x) {
        const bool dark = src.rgb[(y * im.width + x) * 3] < 128;
        const bool set = out[40 + y * im.width / 8 + x / 8] >> (7 - x % 8) & 1;
        ink += set;
        EXPECT_EQ(set, dark) << "pixel " << x << "," << y;
      }
    EXPECT_GT(ink, 0u);
  }
}

}  // namespace
