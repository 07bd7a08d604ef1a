// The PNG glue against ImageMagick's decode of files written by ImageMagick
// (tests/data/png/make.sh): every pixel of every colour type and bit depth,
// whatever the blocks the body arrives in; damaged, cut and oversized files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/png.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

Result Step(void** state, ContentFeed* feed, const ContentSource* source) {
  return PngDecodeStep(reinterpret_cast<PngDecoder**>(state), feed, source);
}
void Release(void** state) { PngDecodeRelease(reinterpret_cast<PngDecoder**>(state)); }

DecodeRun Decode(const std::vector<uint8_t>& bytes, uint32_t block = 0, bool announce = true,
                 bool ended = true, uint32_t workSize = 256000) {
  return RunWholeDecoder(Step, Release, bytes, block, announce, ended, workSize);
}

std::vector<uint8_t> Png(const std::string& name) { return ReadDataFile("png/" + name + ".png"); }

// ImageMagick's pixel (grey, grey+alpha, RGB or RGBA) as the glue must give it.
uint16_t Expected(const Picture& p, uint32_t i, bool keyed) {
  const uint8_t* px = &p.pixels[size_t{i} * p.depth];
  const bool grey = p.depth <= 2;
  const uint8_t r = px[0], g = grey ? px[0] : px[1], b = grey ? px[0] : px[2];
  const bool hasAlpha = p.depth == 2 || p.depth == 4;
  if (hasAlpha && px[p.depth - 1] == 0) return kContentKeyColour;
  const uint16_t colour = ContentRgb565(r, g, b);
  return keyed ? ContentOpaqueOnKey(colour) : colour;
}

void ExpectPicture(const ContentImage* image, const Picture& ref, bool keyed,
                   const std::string& where) {
  ASSERT_EQ(image->kind, ContentKind::Banded) << where;
  ASSERT_EQ(image->width, ref.width) << where;
  ASSERT_EQ(image->height, ref.height) << where;
  const uint32_t perBand = 512 / (2 * ref.width) ? 512 / (2 * ref.width) : 1;
  ASSERT_EQ(image->bandCount, (ref.height + perBand - 1) / perBand) << where;
  for (uint32_t i = 0; i < image->bandCount; ++i) {
    EXPECT_EQ(image->bands[i]->height,
              i + 1 < image->bandCount ? perBand : ref.height - i * perBand);
    EXPECT_EQ(image->bands[i]->key, keyed ? kContentKeyColour : 0) << where;
  }
  for (uint32_t y = 0; y < ref.height; ++y)
    for (uint32_t x = 0; x < ref.width; ++x)
      ASSERT_EQ(BandPixel(image->bands, image->bandCount, x, y),
                Expected(ref, y * ref.width + x, keyed))
          << where << " at " << x << "," << y;
}

class PngTest : public HeapFixture {
 protected:
  PngTest() : HeapFixture(4u << 20) {}
};

struct FileCase {
  const char* name;
  bool keyed;  // the file has transparency: its bands carry the key colour
};

const FileCase kFiles[] = {
    {"palette_trns", true},    {"palette1", false},
    {"palette2", false},       {"palette4", false},
    {"palette8", false},       {"grey1", false},
    {"grey2", false},          {"grey4", false},
    {"grey8", false},          {"grey16", false},
    {"greyalpha8", true},      {"greyalpha16", true},
    {"grey_trns", true},       {"rgb8", false},
    {"rgb16", false},          {"rgba8", true},
    {"rgba16", true},          {"rgb_trns", true},
    {"interlaced_rgba", true}, {"interlaced_palette4", false},
    {"keycolour", true},       {"wide256", false},
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class PngFileTest : public PngTest,
                    public ::testing::WithParamInterface<std::tuple<FileCase, uint32_t>> {};

TEST_P(PngFileTest, MatchesImageMagickInEveryDelivery) {
  const auto& [c, block] = GetParam();
  const std::vector<uint8_t> file = Png(c.name);
  const std::vector<Picture> refs =
      ReadPictures(ReadDataFile(std::string("png/") + c.name + ".pam"));
  ASSERT_FALSE(file.empty());
  ASSERT_EQ(refs.size(), 1u);
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  DecodeRun run = Decode(file, block);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.events & ContentEvent::Data);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  ExpectPicture(FirstImage(run), refs[0], c.keyed, c.name);
  FreeOutput(&run.output);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
}

INSTANTIATE_TEST_SUITE_P(Files, PngFileTest,
                         ::testing::Combine(::testing::ValuesIn(kFiles),
                                            ::testing::Values(0u, 140u, 1u)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_block" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST_F(PngTest, OpaqueKeyColourStaysVisibleBesideTransparentPixel) {
  DecodeRun run = Decode(Png("keycolour"));
  ASSERT_EQ(run.result, kOk);
  const ContentImage* image = FirstImage(run);
  EXPECT_EQ(BandPixel(image->bands, image->bandCount, 0, 0), kContentKeyColour);
  EXPECT_EQ(BandPixel(image->bands, image->bandCount, 1, 0), 0xF83F);
  FreeOutput(&run.output);
}

TEST_F(PngTest, WideImageHasOneRowPerBand) {
  DecodeRun run = Decode(Png("wide256"));
  ASSERT_EQ(run.result, kOk);
  const ContentImage* image = FirstImage(run);
  ASSERT_EQ(image->bandCount, 5);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(image->bands[i]->height, 1u);
  FreeOutput(&run.output);
}

// Rows of 400 x 4 bytes for 200 rows need 320,000 bytes; the work buffer
// holds 256,000. The image is announced and stays empty; the load completes.
TEST_F(PngTest, RowsBeyondTheWorkBufferLeaveTheImageEmpty) {
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  DecodeRun run = Decode(Png("large_rgba"));
  EXPECT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  EXPECT_EQ(FirstImage(run)->width, 400);
  EXPECT_EQ(FirstImage(run)->height, 200);
  EXPECT_EQ(FirstImage(run)->bandCount, 0);
  FreeOutput(&run.output);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
}

TEST_F(PngTest, NoWorkBufferLeavesTheImageEmpty) {
  DecodeRun run = Decode(Png("rgb8"), 0, true, true, 0);
  EXPECT_EQ(run.result, kOk);
  ASSERT_EQ(ImageCount(run), 1u);
  EXPECT_EQ(FirstImage(run)->bandCount, 0);
  FreeOutput(&run.output);
}

TEST_F(PngTest, DamagedImageDataCrcIsRefused) {
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  DecodeRun run = Decode(Png("bad_crc_idat"), 140);
  EXPECT_EQ(run.result, PngErr::BadData);
  EXPECT_TRUE(run.stateFreed);
  FreeOutput(&run.output);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
}

TEST_F(PngTest, DamagedAncillaryCrcIsDroppedAndTheImageDecoded) {
  DecodeRun run = Decode(Png("bad_crc_gama"));
  ASSERT_EQ(run.result, kOk);
  const std::vector<Picture> refs = ReadPictures(ReadDataFile("png/rgb8.pam"));
  ASSERT_EQ(refs.size(), 1u);
  ExpectPicture(FirstImage(run), refs[0], false, "bad_crc_gama");
  FreeOutput(&run.output);
}

TEST_F(PngTest, NotAPngIsRefusedWithoutAnImage) {
  std::vector<uint8_t> file = Png("rgb8");
  file[1] = 'Q';
  DecodeRun run = Decode(file);
  EXPECT_EQ(run.result, PngErr::BadData);
  EXPECT_EQ(ImageCount(run), 0u);
  EXPECT_TRUE(run.stateFreed);
  run = Decode(std::vector<uint8_t>(file.begin(), file.begin() + 5));
  EXPECT_EQ(run.result, PngErr::BadData);
  EXPECT_EQ(ImageCount(run), 0u);
}

// Data that ends early at any point: a clean refusal (the library finds the
// file short) and nothing left behind; never a crash or a read past the body.
TEST_F(PngTest, TruncationsEndCleanly) {
  const std::vector<uint8_t> file = Png("palette_trns");
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  for (size_t n = 0; n < file.size(); ++n) {
    DecodeRun run = Decode(std::vector<uint8_t>(file.begin(), file.begin() + n), 0, false);
    EXPECT_EQ(run.result, PngErr::BadData) << n;
    EXPECT_TRUE(run.stateFreed) << n;
    FreeOutput(&run.output);
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore) << n;
  }
}

TEST_F(PngTest, WithoutAnnouncedLengthOneBlockIsDecoded) {
  DecodeRun run = Decode(Png("rgba8"), 0, false);
  EXPECT_EQ(run.result, kOk);
  EXPECT_EQ(ImageCount(run), 1u);
  FreeOutput(&run.output);
}

// Without an announced length (chunked and cid: bodies) the body grows block
// by block and is decoded when the data ends.
TEST_F(PngTest, WithoutAnnouncedLengthTheBodyIsWholeAtTheEnd) {
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  DecodeRun run = Decode(Png("rgba8"), 140, false);
  EXPECT_EQ(run.result, kOk);
  EXPECT_EQ(ImageCount(run), 1u);
  FreeOutput(&run.output);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
}

// Memory running out at every stage of a decode: the load fails with a code
// or keeps the bands it got, and everything taken comes back.
TEST_F(PngTest, MemoryRunningOutAnywhereLeavesNothingBehind) {
  const std::vector<uint8_t> file = Png("interlaced_rgba");
  for (uint32_t spare = 0; spare < 80000; spare += 700) {
    const uint32_t free = HeapGetStats().freeBytes;
    const uint32_t fill = free - 256000 - 64 - spare;
    void* filler = MemAlloc(fill, Use::Data, Mod::TestCode);
    if (!filler) continue;
    const uint32_t freeBefore = HeapGetStats().freeBytes;
    DecodeRun run = Decode(file, 140);
    EXPECT_TRUE(run.result == kOk || run.result == PngErr::NoMemory ||
                run.result == PngErr::BadData)
        << spare;
    EXPECT_TRUE(run.stateFreed) << spare;
    FreeOutput(&run.output);
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore) << spare;
    MemFree(&filler);
  }
}

}  // namespace
