// The WBMP decoder against netpbm's decode of files written by pbmtowbmp and
// ImageMagick (tests/data/wbmp/make.sh), delivered whole, in 140-byte blocks
// and a byte at a time; cut bodies, refused headers and failed allocations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/wbmp.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

Result Step(void** state, ContentFeed* feed) {
  return WBmpDecodeStep(reinterpret_cast<WBmpDecoder**>(state), feed);
}
void Release(void** state) { WBmpDecodeRelease(reinterpret_cast<WBmpDecoder**>(state)); }

DecodeRun Decode(const std::vector<uint8_t>& bytes, uint32_t block = 0, bool ended = true) {
  return RunDecoder(Step, Release, bytes, block, ended);
}

uint32_t RowBytes(uint32_t width) { return (2 * width + 15) & ~15u; }
uint32_t RowsPerBand(uint32_t width) {
  const uint32_t n = 512 / RowBytes(width);
  return n ? n : 1;
}

// Every pixel of the image against netpbm's bits (1 black), for the rows
// given; the band layout follows the rule of 16-byte rows.
void ExpectPixels(const ContentImage* image, const Picture& ref, uint32_t rows) {
  ASSERT_EQ(image->kind, ContentKind::Banded);
  ASSERT_EQ(image->width, ref.width);
  ASSERT_EQ(image->height, ref.height);
  const uint32_t perBand = RowsPerBand(ref.width);
  for (uint32_t b = 0; b < image->bandCount; ++b) {
    const PglSurface* band = image->bands[b];
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(band->pitch, RowBytes(ref.width) / 2);
    EXPECT_EQ(band->width, ref.width);
    const uint32_t expected = ref.height - b * perBand < perBand ? ref.height - b * perBand : perBand;
    EXPECT_EQ(band->height, expected);
    EXPECT_EQ(PglFormatOf(band), kPglRgb565);
  }
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t x = 0; x < ref.width; ++x) {
      const int32_t want = ref.pixels[y * ref.width + x] ? 0x0000 : 0xFFFF;
      ASSERT_EQ(BandPixel(image->bands, image->bandCount, x, y), want) << x << "," << y;
    }
}

class WBmpFileTest : public DecoderTest,
                     public ::testing::WithParamInterface<std::tuple<std::string, uint32_t>> {};

TEST_P(WBmpFileTest, MatchesNetpbmInEveryDelivery) {
  const auto& [name, block] = GetParam();
  const std::vector<uint8_t> file = ReadDataFile("wbmp/" + name + ".wbmp");
  const std::vector<Picture> ref = ReadPictures(ReadDataFile("wbmp/" + name + ".pbm"));
  ASSERT_FALSE(file.empty());
  ASSERT_EQ(ref.size(), 1u);

  DecodeRun run = Decode(file, block);
  EXPECT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.events & ContentEvent::Data);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  const ContentImage* image = FirstImage(run);
  EXPECT_EQ(image->bandCount, (ref[0].height + RowsPerBand(ref[0].width) - 1) / RowsPerBand(ref[0].width));
  ExpectPixels(image, ref[0], ref[0].height);
  FreeOutput(&run.output);
}

std::vector<std::string> FileNames() {
  std::vector<std::string> names;
  for (int w : {1, 7, 8, 9, 128, 130, 256, 257})
    for (int h : {1, 300}) names.push_back("netpbm_" + std::to_string(w) + "x" + std::to_string(h));
  names.push_back("magick_33x17");
  names.push_back("magick_200x40");
  return names;
}

INSTANTIATE_TEST_SUITE_P(Files, WBmpFileTest,
                         ::testing::Combine(::testing::ValuesIn(FileNames()),
                                            ::testing::Values(0u, 140u, 1u)),
                         [](const auto& info) {
                           return FileBlockName(std::get<0>(info.param), std::get<1>(info.param));
                         });

class WBmpTest : public DecoderTest {};

TEST_F(WBmpTest, TheGraphicsLayerStacksTheWidePitchBands) {
  const std::vector<Picture> ref = ReadPictures(ReadDataFile("wbmp/magick_33x17.pbm"));
  DecodeRun run = Decode(ReadDataFile("wbmp/magick_33x17.wbmp"), 7);
  ASSERT_EQ(run.result, kOk);
  PglViewport view{};
  ASSERT_EQ(PglSurfaceFromImage(&view, FirstImage(run), 0), kOk);
  const auto* pixels = reinterpret_cast<const uint16_t*>(view.surface->pixels);
  for (uint32_t y = 0; y < 17; ++y)
    for (uint32_t x = 0; x < 33; ++x)
      ASSERT_EQ(pixels[y * view.surface->pitch + x], ref[0].pixels[y * 33 + x] ? 0 : 0xFFFF);
  MemFree(&view.surface->pixels);
  MemFree(&view.surface);
  FreeOutput(&run.output);
}

// A body cut anywhere ends cleanly: before the size is known with no image,
// afterwards with the rows that arrived and the rest of their band black.
TEST_F(WBmpTest, BodyCutAtEveryOffsetKeepsWhatArrived) {
  const std::vector<uint8_t> file = ReadDataFile("wbmp/netpbm_9x300.wbmp");
  const std::vector<Picture> ref = ReadPictures(ReadDataFile("wbmp/netpbm_9x300.pbm"));
  const uint32_t header = 5, rowBytes = 2;
  for (uint32_t cut = 0; cut < file.size(); ++cut) {
    for (uint32_t block : {0u, 3u}) {
      DecodeRun run = Decode({file.begin(), file.begin() + cut}, block);
      ASSERT_EQ(run.result, kOk) << cut;
      EXPECT_TRUE(run.events & ContentEvent::Done) << cut;
      EXPECT_TRUE(run.stateFreed);
      if (cut < header) {
        EXPECT_EQ(ImageCount(run), 0u) << cut;
      } else {
        const ContentImage* image = FirstImage(run);
        const uint32_t rows = (cut - header) / rowBytes;
        const uint32_t bands = (cut - header + 16 * rowBytes - 1) / (16 * rowBytes);
        EXPECT_EQ(image->bandCount, bands) << cut;
        // A cut band keeps its full height (checked with the layout).
        if (bands) ExpectPixels(image, ref[0], rows);
      }
      FreeOutput(&run.output);
    }
  }
}

TEST_F(WBmpTest, BytesAfterTheLastRowAreLeftAlone) {
  std::vector<uint8_t> file = {0x00, 0x00, 0x08, 0x02, 0xF0, 0x0F, 0x12, 0x34};
  DecodeRun run = Decode(file);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_EQ(FirstImage(run)->bandCount, 1u);
  EXPECT_EQ(BandPixel(FirstImage(run)->bands, 1, 0, 1), 0x0000);
  EXPECT_EQ(BandPixel(FirstImage(run)->bands, 1, 7, 1), 0xFFFF);
  FreeOutput(&run.output);
}

TEST_F(WBmpTest, RefusedHeadersAnswerTheMalformedCode) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool image;
  };
  const Case cases[] = {
      {"type 1", {0x01, 0x00, 0x01, 0x01, 0x80}, false},
      {"type in five bytes", {0x80, 0x80, 0x80, 0x80, 0x00, 0x00}, false},
      {"width 0", {0x00, 0x00, 0x00, 0x01, 0x80}, false},
      {"height 0", {0x00, 0x00, 0x01, 0x00, 0x80}, false},
      {"width in five bytes", {0x00, 0x00, 0x80, 0x80, 0x80, 0x80, 0x01, 0x01}, false},
      {"height 65536", {0x00, 0x00, 0x01, 0x84, 0x80, 0x00}, false},
  };
  for (const Case& c : cases) {
    for (uint32_t block : {0u, 1u}) {
      DecodeRun run = Decode(c.bytes, block);
      EXPECT_EQ(run.result, WBmpErr::Malformed) << c.what;
      EXPECT_EQ(ImageCount(run), 0u) << c.what;
      EXPECT_TRUE(run.stateFreed) << c.what;
      FreeOutput(&run.output);
    }
  }
}

class WBmpSmallHeapTest : public DecoderTest {
 protected:
  WBmpSmallHeapTest() : DecoderTest(120 * 1024) {}
};

TEST_F(WBmpSmallHeapTest, AllocationFailuresAnswerTheMemoryCode) {
  // 65535 x 65535: the image record with a slot per band does not fit.
  DecodeRun big = Decode({0x00, 0x00, 0x83, 0xFF, 0x7F, 0x83, 0xFF, 0x7F, 0xFF});
  EXPECT_EQ(big.result, WBmpErr::NoMemory);
  EXPECT_EQ(ImageCount(big), 0u);
  EXPECT_TRUE(big.stateFreed);
  FreeOutput(&big.output);
  // 65535 x 1: the image is made, its one band of 131072 bytes is not.
  DecodeRun wide = Decode({0x00, 0x00, 0x83, 0xFF, 0x7F, 0x01, 0xFF});
  EXPECT_EQ(wide.result, WBmpErr::NoMemory);
  EXPECT_EQ(ImageCount(wide), 1u);
  FreeOutput(&wide.output);
}

}  // namespace
