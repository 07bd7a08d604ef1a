// The PNG glue against ImageMagick's decode of files written by ImageMagick
// (tests/data/png/make.sh) in any blocks; damaged and cut files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "content/png.h"
#include "kernel/heap.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

Result Step(void** state, ContentFeed* feed, const ContentSource* source) {
  return PngDecodeStep(reinterpret_cast<PngDecoder**>(state), feed, source);
}
void Release(void** state) { PngDecodeRelease(reinterpret_cast<PngDecoder**>(state)); }

DecodeRun Decode(const std::vector<uint8_t>& bytes, uint32_t block = 0, bool announce = true) {
  return RunWholeDecoder(Step, Release, bytes, block, announce);
}

std::vector<uint8_t> Png(const std::string& name) { return ReadDataFile("png/" + name + ".png"); }

class PngTest : public DecoderTest {};

struct FileCase {
  const char* name;
  bool keyed;  // the file has transparency: its bands carry the key colour
};

const FileCase kFiles[] = {
    {"palette_trns", true}, {"grey2", false}, {"rgb8", false},
    {"rgba16", true},       {"interlaced_rgba", true}, {"keycolour", true},
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
  DecodeRun run = Decode(file, block);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.events & ContentEvent::Data);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  const ContentImage* image = FirstImage(run);
  EXPECT_EQ(image->kind, ContentKind::Banded);
  EXPECT_EQ(image->width, refs[0].width);
  EXPECT_EQ(image->height, refs[0].height);
  ExpectBands(image->bands, image->bandCount, refs[0], c.keyed, false, c.name);
  FreeOutput(&run.output);
}

INSTANTIATE_TEST_SUITE_P(Files, PngFileTest,
                         ::testing::Combine(::testing::ValuesIn(kFiles),
                                            ::testing::Values(0u, 140u, 1u)),
                         [](const auto& info) {
                           return FileBlockName(std::get<0>(info.param).name,
                                                std::get<1>(info.param));
                         });

// The file with a private ancillary chunk of `size` bytes after its header:
// a larger body, the same picture.
std::vector<uint8_t> Padded(std::vector<uint8_t> file, uint32_t size) {
  std::vector<uint8_t> chunk = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                                uint8_t(size), 'q', 'o', 'R', 'p'};
  chunk.resize(chunk.size() + size, 0x5A);
  const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(uint8_t(crc >> shift));
  constexpr size_t kAfterHeader = 8 + 25;  // signature, then the IHDR chunk
  file.insert(file.begin() + kAfterHeader, chunk.begin(), chunk.end());
  return file;
}

// The body is held whole whatever its size, announced or not: rows that fit
// the work buffer are decoded; rows that do not give an empty image of the
// picture's size, and the load still completes.
TEST_F(PngTest, BodiesOfAnySizeAreDecodedWhenTheirRowsFit) {
  const std::vector<Picture> refs = ReadPictures(ReadDataFile("png/rgb8.pam"));
  ASSERT_EQ(refs.size(), 1u);
  for (uint32_t padding : {0u, 300000u})
    for (bool announce : {true, false}) {
      DecodeRun run = Decode(Padded(Png("rgb8"), padding), 4096, announce);
      EXPECT_EQ(run.result, kOk) << padding << " " << announce;
      ASSERT_EQ(ImageCount(run), 1u);
      const ContentImage* image = FirstImage(run);
      ExpectBands(image->bands, image->bandCount, refs[0], false, false, "rgb8");
      FreeOutput(&run.output);

      run = Decode(Padded(Png("wide_rgba"), padding), 4096, announce);
      EXPECT_EQ(run.result, kOk) << padding << " " << announce;
      EXPECT_TRUE(run.events & ContentEvent::Done);
      EXPECT_TRUE(run.stateFreed);
      ASSERT_EQ(ImageCount(run), 1u);
      image = FirstImage(run);
      EXPECT_EQ(image->width, 400);
      EXPECT_EQ(image->height, 200);
      EXPECT_EQ(image->bandCount, 0);
      FreeOutput(&run.output);
    }
}

// Not a PNG: refused without an image; damaged image data: refused once
// the image was announced.
TEST_F(PngTest, RefusedBodiesAnswerTheirCode) {
  std::vector<uint8_t> notPng = Png("rgb8");
  notPng[1] = 'Q';
  const std::pair<std::vector<uint8_t>, uint32_t> cases[] = {
      {notPng, 0}, {std::vector<uint8_t>(notPng.begin(), notPng.begin() + 5), 0},
      {Png("bad_crc_idat"), 1}};
  for (const auto& [body, images] : cases) {
    DecodeRun run = Decode(body, 140);
    EXPECT_EQ(run.result, PngErr::BadData);
    EXPECT_EQ(ImageCount(run), images);
    EXPECT_TRUE(run.stateFreed);
    FreeOutput(&run.output);
  }
}

// Data that ends early at any point: a clean refusal (the library finds the
// file short) and nothing left behind; never a crash or a read past the body.
TEST_F(PngTest, TruncationsEndCleanly) {
  const std::vector<uint8_t> file = Png("palette_trns");
  for (size_t n = 0; n < file.size(); ++n) {
    DecodeRun run = Decode(std::vector<uint8_t>(file.begin(), file.begin() + n), 0, false);
    EXPECT_EQ(run.result, PngErr::BadData) << n;
    EXPECT_TRUE(run.stateFreed) << n;
    FreeOutput(&run.output);
  }
}

}  // namespace
