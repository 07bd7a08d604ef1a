// The GIF decoder against ImageMagick's decode of files written by
// ImageMagick and giflib (tests/data/gif/make.sh); crafted streams for the
// code table, frame bounds and refused data.
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
  return RunDecoder(Step, Release, bytes, block, true, flags);
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

// Writes GIF streams field by field; image data is coded with literal codes
// only, which every LZW decoder reads.
struct GifWriter {
  std::vector<uint8_t> out;
  void Byte(uint32_t b) { out.push_back(static_cast<uint8_t>(b)); }
  void Le16(uint32_t v) {
    Byte(v & 0xFF);
    Byte(v >> 8);
  }
  void Header(uint32_t width, uint32_t height) {  // a table of four greys
    for (char ch : std::string("GIF89a")) Byte(ch);
    Le16(width);
    Le16(height);
    for (uint32_t b : {0x81, 0, 0}) Byte(b);
    for (uint32_t i = 0; i < 12; ++i) Byte(i / 3 * 80);
  }
  void Descriptor(uint32_t left, uint32_t top, uint32_t width, uint32_t height) {
    Byte(',');
    Le16(left);
    Le16(top);
    Le16(width);
    Le16(height);
    Byte(0);
  }
  // A clear, literal codes for the indexes, the end code.
  void Data(uint32_t minCodeSize, const std::vector<uint32_t>& indexes) {
    Byte(minCodeSize);
    std::vector<uint8_t> bytes;
    uint32_t bits = 0, count = 0;
    const uint32_t clear = 1u << minCodeSize;
    uint32_t size = minCodeSize + 1, next = clear + 2;
    bool fresh = true;  // no entry is made for the first code after a clear
    auto put = [&](uint32_t code) {
      bits |= code << count;
      count += size;
      while (count >= 8) {
        bytes.push_back(static_cast<uint8_t>(bits));
        bits >>= 8;
        count -= 8;
      }
    };
    put(clear);
    for (size_t i = 0; i < indexes.size(); ++i) {
      put(indexes[i]);
      if (!fresh && next < 4096) {
        ++next;
        if (next == 1u << size && size < 12) ++size;
      }
      fresh = false;
    }
    put(clear + 1);
    if (count) bytes.push_back(static_cast<uint8_t>(bits));
    for (size_t at = 0; at < bytes.size(); at += 255) {
      const size_t n = bytes.size() - at < 255 ? bytes.size() - at : 255;
      Byte(static_cast<uint32_t>(n));
      out.insert(out.end(), bytes.begin() + at, bytes.begin() + at + n);
    }
    Byte(0);
  }
  void Trailer() { Byte(';'); }
};

class GifTest : public DecoderTest {};

TEST_F(GifTest, BadDataAnswersItsCodeAndFreesTheDecoder) {
  auto still = [](auto change) {
    GifWriter w;
    w.Header(2, 2);
    w.Descriptor(0, 0, 2, 2);
    w.Data(2, {0, 1, 2, 3});
    w.Trailer();
    change(w.out);
    return w.out;
  };
  const size_t data = 13 + 12 + 10;  // offset of the minimum code size
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"signature", still([](auto& b) { b[1] = 'X'; })},
      {"code size 12", still([&](auto& b) { b[data] = 12; })},
      // Clear (4) then code 7, an entry not yet made.
      {"code past the table", still([&](auto& b) { b[data + 2] = 0x3C; })},
      // Clear then code 6, the entry being made, with nothing before it.
      {"new entry after a clear", still([&](auto& b) { b[data + 2] = 0x34; })},
  };
  for (const Case& c : cases) {
    for (uint32_t block : {0u, 1u}) {
      DecodeRun run = Decode(c.bytes, block);
      EXPECT_EQ(run.result, GifErr::BadData) << c.what;
      EXPECT_TRUE(run.stateFreed) << c.what;
      FreeOutput(&run.output);
    }
  }
}

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

// A logical screen with no rows, wider than the screen: fitted to one row,
// where no frame can show.
TEST_F(GifScreenTest, FittedScreenWithoutRowsShowsNoFrame) {
  platform->MakeScreen(20, 30);
  GifWriter w;
  w.Header(300, 0);
  w.Descriptor(0, 0, 4, 4);
  w.Data(2, std::vector<uint32_t>(16, 1));
  w.Trailer();
  DecodeRun run = Decode(w.out, 0, ContentRequest::FitToScreen);
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(FirstImage(run)->width, 20u);
  EXPECT_EQ(FirstImage(run)->frameCount, 0u);
  FreeOutput(&run.output);
}

}  // namespace
