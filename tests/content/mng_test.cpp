// The MNG glue against ImageMagick's decode of animations written by
// ImageMagick (tests/data/mng/make.sh); cut, unended and oversized files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/mng.h"
#include "kernel/heap.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

Result Step(void** state, ContentFeed* feed, const ContentSource* source) {
  return MngDecodeStep(reinterpret_cast<MngDecoder**>(state), feed, source);
}
void Release(void** state) { MngDecodeRelease(reinterpret_cast<MngDecoder**>(state)); }

DecodeRun Decode(const std::vector<uint8_t>& bytes, uint32_t block = 0, bool announce = true) {
  return RunWholeDecoder(Step, Release, bytes, block, announce);
}

std::vector<uint8_t> Mng(const std::string& name) { return ReadDataFile("mng/" + name + ".mng"); }

// libmng's colour management rounds a sample now and then to the next value
// and ImageMagick's does not: colours are compared to one step of RGB565.
class MngTest : public DecoderTest {};

struct FileCase {
  const char* name;
  uint16_t loopCount;  // 0 endless
};

const FileCase kFiles[] = {{"forever", 0}, {"thrice", 3}, {"fast", 0}, {"transparent_first", 2}};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class MngFileTest : public MngTest,
                    public ::testing::WithParamInterface<std::tuple<FileCase, uint32_t>> {};

TEST_P(MngFileTest, MatchesImageMagickInEveryDelivery) {
  const auto& [c, block] = GetParam();
  DecodeRun run = Decode(Mng(c.name), block);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  EXPECT_EQ(FirstImage(run)->transparent, 1);
  // Delays are shown for at least 100 ms.
  ExpectAnimation(FirstImage(run), std::string("mng/") + c.name, c.loopCount, true, 100);
  FreeOutput(&run.output);
}

INSTANTIATE_TEST_SUITE_P(Files, MngFileTest,
                         ::testing::Combine(::testing::ValuesIn(kFiles),
                                            ::testing::Values(0u, 140u, 1u)),
                         [](const auto& info) {
                           return FileBlockName(std::get<0>(info.param).name,
                                                std::get<1>(info.param));
                         });

// Not an MNG, and a canvas of 300 x 300 x 4 bytes that exceeds the work
// buffer: the load fails instead of waiting for ever.
TEST_F(MngTest, RefusedBodiesLeaveNoImage) {
  std::vector<uint8_t> notMng = Mng("forever");
  notMng[1] = 'Q';
  for (const auto& body : {notMng, Mng("large")}) {
    DecodeRun run = Decode(body);
    EXPECT_EQ(run.result, MngErr::BadData);
    EXPECT_TRUE(run.stateFreed);
    EXPECT_EQ(ImageCount(run), 0u);
    FreeOutput(&run.output);
  }
}

// Data that ends early: a refusal, or the frames drawn before the cut.
TEST_F(MngTest, TruncationsEndCleanly) {
  const std::vector<uint8_t> file = Mng("forever");
  for (size_t n = 0; n < file.size(); n += 7) {
    DecodeRun run = Decode(std::vector<uint8_t>(file.begin(), file.begin() + n), 0, false);
    EXPECT_TRUE(run.stateFreed) << n;
    if (run.result == kOk) {
      EXPECT_TRUE(run.events & ContentEvent::Done) << n;
      ASSERT_EQ(ImageCount(run), 1u) << n;
      EXPECT_GE(FirstImage(run)->frameCount, 1) << n;
      EXPECT_LE(FirstImage(run)->frameCount, 3) << n;
    } else {
      EXPECT_EQ(run.result, MngErr::BadData) << n;
    }
    FreeOutput(&run.output);
  }
}

// A stream without its closing chunk gives back what the library allocated.
TEST_F(MngTest, StreamWithoutItsEndLeavesNothingBehind) {
  std::vector<uint8_t> file = Mng("thrice");
  ASSERT_GT(file.size(), 12u);
  const size_t mend = file.size() - 8;  // the name of the last chunk
  ASSERT_EQ(std::string(file.begin() + mend, file.begin() + mend + 4), "MEND");
  file[mend] = 0xF1;
  file[mend + 1] = file[mend + 2] = file[mend + 3] = 0xFF;
  for (uint32_t block : {0u, 140u, 12u, 1u}) {
    DecodeRun run = Decode(file, block);
    EXPECT_TRUE(run.stateFreed);
    EXPECT_EQ(run.result, kOk);
    ASSERT_EQ(ImageCount(run), 1u);
    EXPECT_EQ(FirstImage(run)->frameCount, 2);  // the last is drawn only at the end
    FreeOutput(&run.output);
  }
}

// Memory running out at any stage fails with a code or keeps the frames got.
TEST_F(MngTest, MemoryRunningOutAnywhereLeavesNothingBehind) {
  const std::vector<uint8_t> file = Mng("forever");
  SqueezeHeap(256000, 160000, 1500, [&](uint32_t spare) {
    DecodeRun run = Decode(file, 140);
    EXPECT_TRUE(run.result == kOk || run.result == MngErr::NoMemory ||
                run.result == MngErr::BadData)
        << spare;
    EXPECT_TRUE(run.stateFreed) << spare;
    FreeOutput(&run.output);
  });
}

}  // namespace
