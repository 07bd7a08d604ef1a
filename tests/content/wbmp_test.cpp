// The WBMP decoder against netpbm's decode of files written by pbmtowbmp and
// ImageMagick (tests/data/wbmp/make.sh), and cut bodies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/wbmp.h"
#include "kernel/heap.h"
#include "tests/content/content_harness.h"

namespace {

Result Step(void** state, ContentFeed* feed) {
  return WBmpDecodeStep(reinterpret_cast<WBmpDecoder**>(state), feed);
}
void Release(void** state) { WBmpDecodeRelease(reinterpret_cast<WBmpDecoder**>(state)); }

DecodeRun Decode(const std::vector<uint8_t>& bytes, uint32_t block = 0) {
  return RunDecoder(Step, Release, bytes, block);
}

// Rows are padded to 16 bytes.
uint32_t RowBytes(uint32_t width) { return (2 * width + 15) & ~15u; }

class WBmpFileTest : public DecoderTest,
                     public ::testing::WithParamInterface<std::tuple<std::string, uint32_t>> {};

TEST_P(WBmpFileTest, MatchesNetpbmInEveryDelivery) {
  const auto& [name, block] = GetParam();
  const std::vector<Picture> ref = ReadPictures(ReadDataFile("wbmp/" + name + ".pbm"));
  ASSERT_EQ(ref.size(), 1u);
  DecodeRun run = Decode(ReadDataFile("wbmp/" + name + ".wbmp"), block);
  EXPECT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  const ContentImage* image = FirstImage(run);
  EXPECT_EQ(image->width, ref[0].width);
  ExpectBands(image->bands, image->bandCount, ref[0], false, false, name, RowBytes(ref[0].width));
  FreeOutput(&run.output);
}

INSTANTIATE_TEST_SUITE_P(Files, WBmpFileTest,
                         ::testing::Combine(::testing::Values("netpbm_257x1", "netpbm_9x300",
                                                              "magick_33x17"),
                                            ::testing::Values(0u, 140u, 1u)),
                         [](const auto& info) {
                           return FileBlockName(std::get<0>(info.param), std::get<1>(info.param));
                         });

class WBmpTest : public DecoderTest {};

// A body cut anywhere ends cleanly: before the size is known with no image,
// afterwards with the rows that arrived in bands of 16 rows.
TEST_F(WBmpTest, BodyCutAtEveryOffsetKeepsWhatArrived) {
  const std::vector<uint8_t> file = ReadDataFile("wbmp/netpbm_9x300.wbmp");
  const Picture ref = ReadPictures(ReadDataFile("wbmp/netpbm_9x300.pbm")).at(0);
  const uint32_t header = 5, rowBytes = 2;
  for (uint32_t cut = 0; cut < file.size(); ++cut) {
    DecodeRun run = Decode({file.begin(), file.begin() + cut}, cut % 4);
    ASSERT_EQ(run.result, kOk) << cut;
    EXPECT_TRUE(run.events & ContentEvent::Done) << cut;
    EXPECT_TRUE(run.stateFreed);
    ASSERT_EQ(ImageCount(run), cut < header ? 0u : 1u) << cut;
    if (cut >= header) {
      const ContentImage* image = FirstImage(run);
      EXPECT_EQ(image->bandCount, (cut - header + 16 * rowBytes - 1) / (16 * rowBytes)) << cut;
      for (uint32_t y = 0; y < (cut - header) / rowBytes; ++y)
        for (uint32_t x = 0; x < 9; ++x)
          ASSERT_EQ(BandPixel(image->bands, image->bandCount, x, y),
                    ReferencePixel(ref, y * 9 + x, false)) << cut;
    }
    FreeOutput(&run.output);
  }
}

// A heap that refuses the decoder anywhere (its state, the image, a band)
// gets the decoder's own failure, never a loop, and nothing stays taken. A
// block the heap refused to the feeder is lost, so what follows may be
// malformed.
TEST_F(WBmpTest, AHeapThatRefusesAnywhereAnswersNoMemory) {
  const std::vector<uint8_t> file = ReadDataFile("wbmp/netpbm_9x300.wbmp");
  for (const uint32_t block : {0u, 140u}) {
    SqueezeHeap(0, 2000, 8, [&](uint32_t spare) {
      DecodeRun run = Decode(file, block);
      EXPECT_TRUE(run.result == kOk || run.result == WBmpErr::NoMemory ||
                  (block && run.result == WBmpErr::Malformed))
          << spare << " " << std::hex << run.result;
      EXPECT_TRUE(run.stateFreed) << spare;
      FreeOutput(&run.output);
    });
  }
}

}  // namespace
