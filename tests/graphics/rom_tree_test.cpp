// Every file of the built-in tree opens through the file store as what its
// name says: certificates as DER, pages whose links lead into the tree,
// handset images through their decoder and pictograms through their loader,
// both equal to their PNG sources.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "graphics/pict.h"
#include "graphics/sis.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "tests/support/engine_fixture.h"
#include "tools/pngread.h"

namespace fs = std::filesystem;

namespace {

const std::string kAssets = QOR_ASSETS_DIR "/";
const std::string kPictSources = kAssets + "pict/";

uint8_t gWork[kSisWorkBytes];
uint8_t gModel[kSisModelBufferBytes];

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The pictogram's pixels are its source's, as the converter maps them:
// RGB565, with pixels less than half opaque as the key colour.
void ExpectFromSource(const std::string& rel, const PglSurface& s) {
  std::string source = kPictSources + rel + ".png";
  // An animation's first frame is drawn among the animations' frames.
  if (!fs::exists(source)) source = kPictSources + "anim/" + rel + "/0.png";
  if (!fs::exists(source)) source = kPictSources + fs::path(rel).filename().string() + ".png";
  PngRgba png;
  std::string error;
  ASSERT_TRUE(PngReadRgba(source, &png, &error)) << error;
  ASSERT_EQ(png.width, s.width);
  ASSERT_EQ(png.height, s.height);
  bool keyed = false;
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x) {
      const uint8_t* p = &png.pixels[(static_cast<size_t>(y) * s.width + x) * 4];
      uint16_t want = 0xF81F;
      if (p[3] >= 128) {
        want = static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
        if (want == 0xF81F) --want;
      } else {
        keyed = true;
      }
      uint16_t got;
      std::memcpy(&got, s.pixels + (static_cast<size_t>(y) * s.pitch + x) * 2, 2);
      ASSERT_EQ(got, want) << "pixel " << x << "," << y;
    }
  EXPECT_EQ((s.flags & PglFlag::Keyed) != 0, keyed);
  EXPECT_TRUE(!keyed || s.key == 0xF81F) << s.key;
}

// Runs in an empty working folder, so that no romfiles folder stands in.
class RomTreeTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    char pattern[] = "/tmp/rom_tree_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = fs::current_path();
    fs::current_path(dir_);
    SisDecoderInit(gWork, sizeof gWork, gModel, sizeof gModel, 256, 256);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  fs::path dir_, old_;
};

TEST_F(RomTreeTest, EveryFileOpensAsItsKind) {
  size_t files = 0;
  for (uint32_t d = 0; d < kQorRomDirCount; ++d) {
    const uint32_t end = d + 1 < kQorRomDirCount ? kQorRomDirs[d + 1].first : kQorRomFileCount;
    for (uint32_t f = kQorRomDirs[d].first; f < end; ++f) {
      const std::string path = std::string(kQorRomDirs[d].path) + "/" + kQorRomFiles[f].name;
      SCOPED_TRACE(path);
      ++files;
      uint32_t size = 0;
      const uint8_t* file = QorRomOpen(path.c_str(), &size);
      ASSERT_NE(file, nullptr);
      const std::vector<uint8_t> bytes(file, file + size);
      QorRomRelease(file);
      ASSERT_GT(size, 0u);

      if (EndsWith(path, ".cer")) {
        EXPECT_EQ(bytes[0], 0x30);  // DER: one SEQUENCE
      } else if (EndsWith(path, ".html")) {
        // Links to built-in pages lead to pages of the tree.
        const std::string page(bytes.begin(), bytes.end());
        static constexpr char kShow[] = "info://SHOW/";
        for (size_t at = page.find(kShow); at != std::string::npos; at = page.find(kShow, at + 1)) {
          const size_t start = at + sizeof kShow - 1;
          const std::string target = page.substr(start, page.find_first_of("\"?", start) - start);
          uint32_t targetSize = 0;
          const uint8_t* linked = QorRomOpen(target.c_str(), &targetSize);
          EXPECT_NE(linked, nullptr) << "a link to " << target;
          QorRomRelease(linked);
        }
      } else if (EndsWith(path, ".sis")) {
        // One-bit images: a pixel is set where its source is dark.
        SisImageInfo info{};
        ASSERT_EQ(SisProbeHeader(bytes.data(), size, &info), 1);
        EXPECT_EQ(info.kind, SisKind::Mono);
        std::vector<uint8_t> out(SisOutputSize(1));
        ASSERT_EQ(SisDecodeFrame(bytes.data(), size, out.data(), static_cast<uint32_t>(out.size()), 0, 0), 1);
        const std::string stem = fs::path(path).stem().string();
        PngRgba png;
        std::string error;
        ASSERT_TRUE(PngReadRgba(kAssets + "images/" + stem + ".png", &png, &error)) << error;
        ASSERT_EQ(png.width, info.width);
        ASSERT_EQ(png.height, info.height);
        for (uint32_t y = 0; y < png.height; ++y)
          for (uint32_t x = 0; x < png.width; ++x) {
            const bool dark = png.pixels[(static_cast<size_t>(y) * png.width + x) * 4] < 128;
            const bool set = out[40 + y * png.width / 8 + x / 8] >> (7 - x % 8) & 1;
            ASSERT_EQ(set, dark) << "pixel " << x << "," << y;
          }
      } else {
        ASSERT_EQ(path.rfind("/pict/", 0), 0u);
        const std::string rel = path.substr(6);
        PglSurface surface{};
        const uint8_t* pict = nullptr;
        ASSERT_EQ(PictLoadImage(rel.c_str(), 0, &surface, &pict), kOk);
        EXPECT_EQ(surface.flags & PglFlag::Format, static_cast<uint32_t>(kPglRgb565));
        ExpectFromSource(rel, surface);
        QorRomRelease(pict);
      }
    }
  }
  EXPECT_EQ(files, 341u);
}

// A packed pictogram memory cannot expand is want of memory, as the file
// store says it, never a pictogram that is not there.
TEST_F(RomTreeTest, APictogramMemoryCannotHoldIsNotMissing) {
  std::string packed;
  for (uint32_t d = 0; d < kQorRomDirCount && packed.empty(); ++d) {
    const uint32_t end = d + 1 < kQorRomDirCount ? kQorRomDirs[d + 1].first : kQorRomFileCount;
    for (uint32_t f = kQorRomDirs[d].first; f < end && packed.empty(); ++f) {
      const std::string path = std::string(kQorRomDirs[d].path) + "/" + kQorRomFiles[f].name;
      uint32_t stored = 0, expanded = 0;
      const uint8_t* entry = QorRomFind(path.c_str(), &stored, &expanded);
      if (path.rfind("/pict/", 0) == 0 && entry && (static_cast<uint32_t>(entry[0]) << 24 & kQorRomCompressed))
        packed = path.substr(6);
    }
  }
  ASSERT_FALSE(packed.empty());
  PglSurface surface{};
  const uint8_t* pict = nullptr;
  std::vector<void*> eaten = EatHeapFinely(256);
  EXPECT_EQ(PictLoadImage(packed.c_str(), 0, &surface, &pict), kQorRomNoMemory) << packed;
  EXPECT_EQ(PictLoadImage("no/such/pictogram", 0, &surface, &pict), PictErr::NotFound);
  for (void* p : eaten) MemFree(&p);
}

}  // namespace
