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

class PngTest : public DecoderTest {};

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

// Bodies that still give their image, whole or, past the work buffer or
// without one, announced but empty: rows of 400 x 4 bytes for 200 rows need
// 320,000 bytes, the work buffer holds 256,000. A damaged ancillary chunk is
// dropped; without an announced length (chunked and cid: bodies) the body
// grows block by block and is decoded when the data ends.
TEST_F(PngTest, BodiesThatGiveTheirImage) {
  struct Case {
    const char* file;
    uint32_t block;
    bool announce;
    uint32_t workSize;
    uint32_t bandCount;
    const char* reference;  // its pixels, or null
  };
  const Case cases[] = {
      {"large_rgba", 0, true, 256000, 0, nullptr},
      {"rgb8", 0, true, 0, 0, nullptr},
      {"bad_crc_gama", 0, true, 256000, 1, "rgb8"},
      {"rgba8", 0, false, 256000, 1, "rgba8"},
      {"rgba8", 140, false, 256000, 1, "rgba8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    DecodeRun run = Decode(Png(c.file), c.block, c.announce, true, c.workSize);
    EXPECT_EQ(run.result, kOk);
    EXPECT_TRUE(run.events & ContentEvent::Done);
    EXPECT_TRUE(run.stateFreed);
    ASSERT_EQ(ImageCount(run), 1u);
    const ContentImage* image = FirstImage(run);
    if (c.reference) {
      const std::vector<Picture> refs =
          ReadPictures(ReadDataFile(std::string("png/") + c.reference + ".pam"));
      ASSERT_EQ(refs.size(), 1u);
      ExpectBands(image->bands, image->bandCount, refs[0], false, false, c.file);
    } else {
      EXPECT_EQ(image->bandCount, 0);
    }
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

// Memory running out at every stage of a decode: the load fails with a code
// or keeps the bands it got, and everything taken comes back.
TEST_F(PngTest, MemoryRunningOutAnywhereLeavesNothingBehind) {
  const std::vector<uint8_t> file = Png("interlaced_rgba");
  SqueezeHeap(256000, 80000, 700, [&](uint32_t spare) {
    DecodeRun run = Decode(file, 140);
    EXPECT_TRUE(run.result == kOk || run.result == PngErr::NoMemory ||
                run.result == PngErr::BadData)
        << spare;
    EXPECT_TRUE(run.stateFreed) << spare;
    FreeOutput(&run.output);
  });
}

}  // namespace
