// The GIF decoder against ImageMagick's decode of files written by
// ImageMagick and giflib (tests/data/gif/make.sh), and cut bodies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/gif.h"
#include "kernel/heap.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

Result Step(void** state, ContentFeed* feed) {
  return GifDecodeStep(reinterpret_cast<GifDecoder**>(state), feed);
}
void Release(void** state) { GifDecodeRelease(reinterpret_cast<GifDecoder**>(state)); }

DecodeRun Decode(const std::vector<uint8_t>& bytes, uint32_t block = 0, uint32_t flags = 0) {
  return RunDecoder(Step, Release, bytes, block, flags);
}

struct FileCase {
  const char* name;
  uint16_t loopCount;  // plays: the file's repeats + 1, 0 endless
  uint8_t transparent;
};

const FileCase kFiles[] = {
    {"interlaced", 1, 0},
    {"noise_giflib", 1, 0},
    {"anim_optimized", 2, 0},
    {"anim_transparent", 5, 1},
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class GifFileTest : public DecoderTest,
                    public ::testing::WithParamInterface<std::tuple<FileCase, uint32_t>> {};

TEST_P(GifFileTest, MatchesImageMagickInEveryDelivery) {
  const auto& [c, block] = GetParam();
  DecodeRun run = Decode(ReadDataFile(std::string("gif/") + c.name + ".gif"), block);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  EXPECT_EQ(FirstImage(run)->transparent, c.transparent);
  ExpectAnimation(FirstImage(run), std::string("gif/") + c.name, c.loopCount, false, 0);
  FreeOutput(&run.output);
}

INSTANTIATE_TEST_SUITE_P(Files, GifFileTest,
                         ::testing::Combine(::testing::ValuesIn(kFiles),
                                            ::testing::Values(0u, 140u, 1u)),
                         [](const auto& info) {
                           return FileBlockName(std::get<0>(info.param).name,
                                                std::get<1>(info.param));
                         });

class GifTest : public DecoderTest {};

// A body cut anywhere ends as a clean partial animation.
TEST_F(GifTest, BodyCutAtEveryOffsetEndsCleanly) {
  const std::vector<uint8_t> file = ReadDataFile("gif/anim_transparent.gif");
  for (size_t cut = 0; cut < file.size(); ++cut) {
    DecodeRun run = Decode({file.begin(), file.begin() + cut}, cut % 7 + 1);
    ASSERT_EQ(run.result, kOk) << cut;
    EXPECT_TRUE(run.stateFreed);
    EXPECT_TRUE(run.events & ContentEvent::Done) << cut;
    for (const ContentImageFrame* f = FirstImage(run) ? FirstImage(run)->firstFrame : nullptr; f;
         f = f->next)
      for (uint32_t b = 0; b < f->bandCount; ++b)
        ASSERT_TRUE(!f->bands[b] || f->bands[b]->width == f->width) << cut;
    FreeOutput(&run.output);
  }
}

class GifScreenTest : public EngineFixture {};

// Fitted to a screen narrower than the image, the image takes the screen's
// width and its height in proportion; each kept row and column is the last
// source one of those that shrink onto it, whatever pass of the interlace
// brings it and however the body arrives.
TEST_F(GifScreenTest, FittingToTheScreenKeepsTheLastRowAndColumnOfEachStep) {
  platform->MakeScreen(20, 30);
  const std::vector<Picture> ref = ReadPictures(ReadDataFile("gif/interlaced.pam"));
  ASSERT_EQ(ref.size(), 1u);
  const Picture& picture = ref[0];
  ASSERT_EQ(picture.width, 37u);
  ASSERT_EQ(picture.height, 29u);
  const uint32_t outWidth = 20, outHeight = 29 * 20 / 37;
  // The source index kept for output index o when n shrinks to m.
  auto source = [](uint32_t o, uint32_t n, uint32_t m) { return ((o + 1) * n + m - 1) / m - 1; };
  for (uint32_t block : {0u, 140u, 1u}) {
    SCOPED_TRACE(block);
    DecodeRun run = Decode(ReadDataFile("gif/interlaced.gif"), block, ContentRequest::FitToScreen);
    ASSERT_EQ(run.result, kOk);
    const ContentImage* image = FirstImage(run);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, outWidth);
    EXPECT_EQ(image->height, outHeight);
    const ContentImageFrame* frame = image->firstFrame;
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->width, outWidth);
    ASSERT_EQ(frame->height, outHeight);
    for (uint32_t y = 0; y < outHeight; ++y)
      for (uint32_t x = 0; x < outWidth; ++x)
        ASSERT_EQ(BandPixel(frame->bands, frame->bandCount, x, y),
                  ReferencePixel(picture, source(y, 29, outHeight) * 37 + source(x, 37, outWidth), false))
            << x << "," << y;
    FreeOutput(&run.output);
  }
  // Without the request the image keeps its size.
  DecodeRun plain = Decode(ReadDataFile("gif/interlaced.gif"));
  EXPECT_EQ(FirstImage(plain)->width, 37u);
  FreeOutput(&plain.output);
}

// A logical screen with no rows, wider than the screen: fitted to one row,
// where no frame can show.
TEST_F(GifScreenTest, FittedScreenWithoutRowsShowsNoFrame) {
  platform->MakeScreen(20, 30);
  // A 300 x 0 screen with four greys, one 4 x 4 frame of index 1.
  const std::vector<uint8_t> gif = {
      0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x2C, 0x01, 0x00, 0x00, 0x81, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x50, 0x50, 0x50, 0xA0, 0xA0, 0xA0, 0xF0, 0xF0, 0xF0, 0x2C, 0x00, 0x00,
      0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0x02, 0x0A, 0x4C, 0x12, 0x11, 0x11, 0x11,
      0x11, 0x42, 0x08, 0xA1, 0x00, 0x00, 0x3B};
  DecodeRun run = Decode(gif, 0, ContentRequest::FitToScreen);
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(FirstImage(run)->width, 20u);
  EXPECT_EQ(FirstImage(run)->frameCount, 0u);
  FreeOutput(&run.output);
}

}  // namespace
