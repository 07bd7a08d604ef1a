// The MNG glue against ImageMagick's decode of animations written by
// ImageMagick (tests/data/mng/make.sh): every frame pixel-exact on the
// canvas, with its delay and the loop count, whatever the blocks the body
// arrives in; cut and oversized files.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "content/mng.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
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

struct FrameInfo {
  uint32_t width, height, left, top, delay;
};

std::vector<FrameInfo> ReadFrameList(const std::string& name) {
  const std::vector<uint8_t> text = ReadDataFile("mng/" + name + ".txt");
  std::istringstream in(std::string(text.begin(), text.end()));
  std::vector<FrameInfo> frames;
  FrameInfo f{};
  while (in >> f.width >> f.height >> f.left >> f.top >> f.delay) frames.push_back(f);
  return frames;
}

// ImageMagick's RGB or RGBA pixel as a keyed frame must give it.
uint16_t Expected(const Picture& p, uint32_t i) {
  const uint8_t* px = &p.pixels[size_t{i} * p.depth];
  if (p.depth == 4 && px[3] == 0) return kContentKeyColour;
  return ContentOpaqueOnKey(ContentRgb565(px[0], px[1], px[2]));
}

// libmng passes every frame through its colour management (lcms, from the
// file's sRGB to the sRGB of the display), which rounds a sample now and
// then to the next value; ImageMagick does not. Transparent pixels match
// exactly, colours to one step of each RGB565 channel.
bool Near(int32_t got, uint16_t want) {
  if (got < 0) return false;
  if (got == want) return true;
  if (got == kContentKeyColour || want == kContentKeyColour) return false;
  auto near = [](int a, int b) { return a - b <= 1 && b - a <= 1; };
  return near(got >> 11, want >> 11) && near((got >> 5) & 63, (want >> 5) & 63) &&
         near(got & 31, want & 31);
}

class MngTest : public HeapFixture {
 protected:
  MngTest() : HeapFixture(4u << 20) {}
};

struct FileCase {
  const char* name;
  uint16_t loopCount;  // 0 endless
  uint32_t lastDelay;  // ms of the last frame, 0: as ImageMagick says
};

const FileCase kFiles[] = {
    {"forever", 0, 0}, {"thrice", 3, 0}, {"once", 1, 0},
    {"fast", 0, 0},    {"single", 1, 0}, {"transparent_first", 2, 0},
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class MngFileTest : public MngTest,
                    public ::testing::WithParamInterface<std::tuple<FileCase, uint32_t>> {};

TEST_P(MngFileTest, MatchesImageMagickInEveryDelivery) {
  const auto& [c, block] = GetParam();
  const std::vector<uint8_t> file = Mng(c.name);
  const std::vector<Picture> refs =
      ReadPictures(ReadDataFile(std::string("mng/") + c.name + ".pam"));
  const std::vector<FrameInfo> infos = ReadFrameList(c.name);
  ASSERT_FALSE(file.empty());
  ASSERT_EQ(refs.size(), infos.size());
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  DecodeRun run = Decode(file, block);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & ContentEvent::Done);
  EXPECT_TRUE(run.stateFreed);
  ASSERT_EQ(ImageCount(run), 1u);
  const ContentImage* image = FirstImage(run);
  EXPECT_EQ(image->kind, ContentKind::Animation);
  EXPECT_EQ(image->width, infos[0].width);
  EXPECT_EQ(image->height, infos[0].height);
  EXPECT_EQ(image->loopCount, c.loopCount);
  EXPECT_EQ(image->transparent, 1);
  EXPECT_EQ(image->allFrames, 1);
  ASSERT_EQ(image->frameCount, infos.size());
  size_t i = 0;
  for (const ContentImageFrame* frame = image->firstFrame; frame; frame = frame->next, ++i) {
    ASSERT_LT(i, infos.size());
    const std::string where = std::string(c.name) + " frame " + std::to_string(i);
    const FrameInfo& info = infos[i];
    const Picture& ref = refs[i];
    ASSERT_EQ(frame->width, info.width) << where;
    ASSERT_EQ(frame->height, info.height) << where;
    EXPECT_EQ(frame->left, info.left) << where;
    EXPECT_EQ(frame->top, info.top) << where;
    // Delays are shown for at least 100 ms.
    EXPECT_EQ(frame->delay, info.delay * 10 < 100 ? 100 : info.delay * 10) << where;
    EXPECT_EQ(frame->complete, 1) << where;
    const uint32_t perBand = 512 / (2 * info.width) ? 512 / (2 * info.width) : 1;
    ASSERT_EQ(frame->bandCount, (info.height + perBand - 1) / perBand) << where;
    EXPECT_EQ(frame->bands[0]->key, kContentKeyColour) << where;
    for (uint32_t y = 0; y < info.height; ++y)
      for (uint32_t x = 0; x < info.width; ++x)
        ASSERT_TRUE(
            Near(BandPixel(frame->bands, frame->bandCount, x, y), Expected(ref, y * ref.width + x)))
            << where << " at " << x << "," << y;
  }
  EXPECT_EQ(i, infos.size());
  FreeOutput(&run.output);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
}

INSTANTIATE_TEST_SUITE_P(Files, MngFileTest,
                         ::testing::Combine(::testing::ValuesIn(kFiles),
                                            ::testing::Values(0u, 140u, 1u)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_block" +
                                  std::to_string(std::get<1>(info.param));
                         });

// 300 x 300 x 4 bytes of canvas exceed the work buffer: the load fails
// instead of waiting for ever.
TEST_F(MngTest, CanvasBeyondTheWorkBufferFailsTheLoad) {
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  DecodeRun run = Decode(Mng("large"));
  EXPECT_EQ(run.result, MngErr::BadData);
  EXPECT_TRUE(run.stateFreed);
  EXPECT_EQ(ImageCount(run), 0u);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
}

TEST_F(MngTest, NotAnMngIsRefused) {
  std::vector<uint8_t> file = Mng("forever");
  file[1] = 'Q';
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  DecodeRun run = Decode(file);
  EXPECT_EQ(run.result, MngErr::BadData);
  EXPECT_TRUE(run.stateFreed);
  EXPECT_EQ(ImageCount(run), 0u);
  EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
}

// Data that ends early at any point: a refusal, or the frames drawn before
// the cut; never a crash, a read past the body or an endless load.
TEST_F(MngTest, TruncationsEndCleanly) {
  const std::vector<uint8_t> file = Mng("forever");
  const uint32_t freeBefore = HeapGetStats().freeBytes;
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
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore) << n;
  }
}

// Without its closing chunk the stream ends in the middle of the library's
// display; what it allocated comes back all the same.
TEST_F(MngTest, StreamWithoutItsEndLeavesNothingBehind) {
  std::vector<uint8_t> file = Mng("thrice");
  ASSERT_GT(file.size(), 12u);
  const size_t mend = file.size() - 8;  // the name of the last chunk
  ASSERT_EQ(std::string(file.begin() + mend, file.begin() + mend + 4), "MEND");
  file[mend] = 0xF1;
  file[mend + 1] = file[mend + 2] = file[mend + 3] = 0xFF;
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  for (uint32_t block : {0u, 140u, 12u, 1u}) {
    DecodeRun run = Decode(file, block);
    EXPECT_TRUE(run.stateFreed);
    EXPECT_EQ(run.result, kOk);
    ASSERT_EQ(ImageCount(run), 1u);
    EXPECT_EQ(FirstImage(run)->frameCount, 2);  // the last is drawn only at the end
    FreeOutput(&run.output);
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore);
  }
}

// Memory running out at every stage of a decode: the load fails with a code
// or keeps the frames it got, and everything taken comes back.
TEST_F(MngTest, MemoryRunningOutAnywhereLeavesNothingBehind) {
  const std::vector<uint8_t> file = Mng("forever");
  for (uint32_t spare = 0; spare < 160000; spare += 1500) {
    const uint32_t free = HeapGetStats().freeBytes;
    const uint32_t fill = free - 256000 - 64 - spare;
    void* filler = MemAlloc(fill, Use::Data, Mod::TestCode);
    if (!filler) continue;
    const uint32_t freeBefore = HeapGetStats().freeBytes;
    DecodeRun run = Decode(file, 140);
    EXPECT_TRUE(run.result == kOk || run.result == MngErr::NoMemory ||
                run.result == MngErr::BadData)
        << spare;
    EXPECT_TRUE(run.stateFreed) << spare;
    FreeOutput(&run.output);
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore) << spare;
    MemFree(&filler);
  }
}

}  // namespace
