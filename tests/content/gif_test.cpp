// The GIF decoder against ImageMagick's decode of files written by
// ImageMagick and giflib (tests/data/gif/make.sh): every frame pixel-exact,
// with its place, delay and the loop count; crafted streams for the code
// table, frame bounds and refused data.
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
    {"gradient", 1, 0},         {"interlaced", 1, 0},     {"interlaced_1row", 1, 0},
    {"transparent", 1, 1},      {"noise", 1, 0},          {"noise_giflib", 1, 0},
    {"gradient_giflib_interlaced", 1, 0},                 {"anim_local", 2, 0},
    {"anim_optimized", 2, 0},   {"anim_dispose", 0, 0},   {"anim_transparent", 5, 1},
    {"anim_giflib", 1, 0},
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
// only, which every LZW decoder reads, so tests can place clears (or leave
// them out) where they like.
struct GifWriter {
  std::vector<uint8_t> out;
  void Byte(uint32_t b) { out.push_back(static_cast<uint8_t>(b)); }
  void Le16(uint32_t v) {
    Byte(v & 0xFF);
    Byte(v >> 8);
  }
  void Header(uint32_t width, uint32_t height, uint32_t tableBits = 2) {
    for (char ch : std::string("GIF89a")) Byte(ch);
    Le16(width);
    Le16(height);
    Byte(0x80 | (tableBits - 1));
    Byte(1);  // background index
    Byte(0);
    for (uint32_t i = 0; i < (1u << tableBits); ++i) {  // grey ramp, entry 1 pure red
      Byte(i == 1 ? 255 : i * 40);
      Byte(i == 1 ? 0 : i * 40);
      Byte(i == 1 ? 0 : i * 40);
    }
  }
  void Loop(uint32_t repeats) {
    Byte('!');
    Byte(0xFF);
    Byte(11);
    for (char ch : std::string("NETSCAPE2.0")) Byte(ch);
    Byte(3);
    Byte(1);
    Le16(repeats);
    Byte(0);
  }
  void Control(uint32_t delay, int transparent) {
    Byte('!');
    Byte(0xF9);
    Byte(4);
    Byte(transparent >= 0 ? 1 : 0);
    Le16(delay);
    Byte(transparent >= 0 ? transparent : 0);
    Byte(0);
  }
  void Descriptor(uint32_t left, uint32_t top, uint32_t width, uint32_t height, uint32_t flags = 0) {
    Byte(',');
    Le16(left);
    Le16(top);
    Le16(width);
    Le16(height);
    Byte(flags);
  }
  // Literal codes for the indexes; a clear before every index listed in
  // clearsAt (and at the start), the end code last.
  void Data(uint32_t minCodeSize, const std::vector<uint32_t>& indexes,
            const std::vector<size_t>& clearsAt = {}, bool end = true) {
    Byte(minCodeSize);
    std::vector<uint8_t> bytes;
    uint32_t bits = 0, count = 0;
    const uint32_t clear = 1u << minCodeSize;
    uint32_t size = minCodeSize + 1, next = clear + 2;
    bool fresh = true;
    auto put = [&](uint32_t code) {
      bits |= code << count;
      count += size;
      while (count >= 8) {
        bytes.push_back(static_cast<uint8_t>(bits));
        bits >>= 8;
        count -= 8;
      }
    };
    auto doClear = [&] {
      put(clear);
      size = minCodeSize + 1;
      next = clear + 2;
      fresh = true;
    };
    doClear();
    for (size_t i = 0; i < indexes.size(); ++i) {
      for (size_t c : clearsAt)
        if (c == i) doClear();
      put(indexes[i]);
      if (!fresh && next < 4096) {
        ++next;
        if (next == 1u << size && size < 12) ++size;
      }
      fresh = false;
    }
    if (end) put(clear + 1);
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

uint16_t Grey(uint32_t i) {
  return i == 1 ? ContentRgb565(255, 0, 0) : ContentRgb565(i * 40, i * 40, i * 40);
}

class GifTest : public DecoderTest {};

// Literal codes only: the table fills to 4096 entries, the code size stays
// at 12 bits with no clear for a long stretch, then a clear starts over.
TEST_F(GifTest, FullCodeTableKeepsTwelveBitsUntilTheClear) {
  GifWriter w;
  w.Header(64, 100, 8);
  w.Descriptor(0, 0, 64, 100);
  std::vector<uint32_t> indexes(6400);
  for (size_t i = 0; i < indexes.size(); ++i) indexes[i] = (i * 7 + i / 64) % 4;
  w.Data(8, indexes, {5000});
  w.Trailer();
  for (uint32_t block : {0u, 1u}) {
    DecodeRun run = Decode(w.out, block);
    ASSERT_EQ(run.result, kOk);
    const ContentImageFrame* frame = FirstImage(run)->firstFrame;
    ASSERT_NE(frame, nullptr);
    for (uint32_t i = 0; i < 6400; ++i)
      ASSERT_EQ(BandPixel(frame->bands, frame->bandCount, i % 64, i / 64), Grey(indexes[i])) << i;
    FreeOutput(&run.output);
  }
}

TEST_F(GifTest, LoopCountCountsRepeatsAfterTheFirstPlay) {
  struct Case {
    int repeats;  // -1: no application extension
    uint16_t plays;
  };
  for (const Case c : {Case{-1, 1}, Case{0, 0}, Case{1, 2}, Case{9, 10}, Case{65535, 65535}}) {
    GifWriter w;
    w.Header(2, 1);
    if (c.repeats >= 0) w.Loop(static_cast<uint32_t>(c.repeats));
    w.Descriptor(0, 0, 2, 1);
    w.Data(2, {0, 1});
    w.Trailer();
    DecodeRun run = Decode(w.out);
    ASSERT_EQ(run.result, kOk);
    EXPECT_EQ(FirstImage(run)->loopCount, c.plays) << c.repeats;
    FreeOutput(&run.output);
  }
}

// A frame reaching past the logical screen keeps only its part on the
// screen; pixels past the frame's own size are dropped.
TEST_F(GifTest, FramesAndPixelsAreBoundedByTheImage) {
  GifWriter w;
  w.Header(4, 3);
  w.Control(5, 3);
  w.Descriptor(2, 1, 5, 4);  // 2 x 2 of it shows
  std::vector<uint32_t> indexes(5 * 4 + 30);
  for (size_t i = 0; i < indexes.size(); ++i) indexes[i] = i % 4;
  w.Data(2, indexes);
  w.Descriptor(9, 0, 2, 2);  // wholly off the screen
  w.Data(2, {1, 1, 1, 1});
  w.Trailer();
  DecodeRun run = Decode(w.out, 1);
  ASSERT_EQ(run.result, kOk);
  const ContentImage* image = FirstImage(run);
  ASSERT_EQ(image->frameCount, 1u);
  const ContentImageFrame* frame = image->firstFrame;
  EXPECT_EQ(frame->next, nullptr);
  EXPECT_EQ(frame->width, 2u);
  EXPECT_EQ(frame->height, 2u);
  EXPECT_EQ(frame->left, 2u);
  EXPECT_EQ(frame->top, 1u);
  EXPECT_EQ(frame->delay, 50u);
  EXPECT_EQ(image->transparent, 1);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 2; ++x) {
      const uint32_t index = indexes[y * 5 + x];
      EXPECT_EQ(BandPixel(frame->bands, frame->bandCount, x, y),
                index == 3 ? kContentKeyColour : Grey(index));
    }
  FreeOutput(&run.output);
}

TEST_F(GifTest, OpaqueKeyColourStaysVisibleInKeyedFrames) {
  GifWriter w;
  w.Header(2, 1, 2);
  w.out[13 + 3 * 2] = 0xFF;  // entry 2 is the key colour's own RGB
  w.out[13 + 3 * 2 + 1] = 0x00;
  w.out[13 + 3 * 2 + 2] = 0xFF;
  w.Control(0, 0);
  w.Descriptor(0, 0, 2, 1);
  w.Data(2, {0, 2});
  w.Trailer();
  DecodeRun run = Decode(w.out);
  ASSERT_EQ(run.result, kOk);
  const ContentImageFrame* frame = FirstImage(run)->firstFrame;
  EXPECT_EQ(BandPixel(frame->bands, 1, 0, 0), kContentKeyColour);
  EXPECT_EQ(BandPixel(frame->bands, 1, 1, 0), 0xF83F);
  FreeOutput(&run.output);
}

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
      {"version", still([](auto& b) { b[4] = '8'; })},
      {"code size 0", still([&](auto& b) { b[data] = 0; })},
      {"code size 12", still([&](auto& b) { b[data] = 12; })},
      {"block introducer", still([](auto& b) { b.back() = 'x'; })},
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
  for (const char* name : {"anim_transparent", "interlaced"}) {
    const std::vector<uint8_t> file = ReadDataFile(std::string("gif/") + name + ".gif");
    for (size_t cut = 0; cut < file.size(); ++cut) {
      DecodeRun run = Decode({file.begin(), file.begin() + cut}, cut % 7 + 1);
      ASSERT_EQ(run.result, kOk) << name << cut;
      EXPECT_TRUE(run.stateFreed);
      EXPECT_TRUE(run.events & ContentEvent::Done) << name << cut;
      if (FirstImage(run)) {
        for (const ContentImageFrame* f = FirstImage(run)->firstFrame; f; f = f->next)
          for (uint32_t b = 0; b < f->bandCount; ++b)
            if (f->bands[b]) {
              ASSERT_EQ(f->bands[b]->width, f->width);
            }
      }
      FreeOutput(&run.output);
    }
  }
}

class GifSmallHeapTest : public DecoderTest {
 protected:
  GifSmallHeapTest() : DecoderTest(160 * 1024) {}
};

TEST_F(GifSmallHeapTest, AFrameTooTallForMemoryAnswersTheMemoryCode) {
  GifWriter w;
  w.Header(300, 65535);
  w.Descriptor(0, 0, 300, 65535);
  w.Data(2, {0, 1, 2});
  w.Trailer();
  DecodeRun run = Decode(w.out);
  EXPECT_EQ(run.result, GifErr::NoMemory);
  EXPECT_TRUE(run.stateFreed);
  FreeOutput(&run.output);
}

class GifScreenTest : public EngineFixture {};

// Fitted to a screen half as wide, every second row and column is kept.
TEST_F(GifScreenTest, FittingToTheScreenKeepsEverySecondRowAndColumn) {
  platform->MakeScreen(20, 30);
  GifWriter w;
  w.Header(40, 20, 2);
  w.Descriptor(0, 0, 40, 20, 0x40);  // interlaced as well
  std::vector<uint32_t> byRow(800);
  for (size_t i = 0; i < byRow.size(); ++i) byRow[i] = (i % 40 * 3 + i / 40) % 4;
  // Stored in interlace order.
  std::vector<uint32_t> stored;
  for (uint32_t pass = 0; pass < 4; ++pass) {
    static constexpr uint32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (uint32_t y = kStart[pass]; y < 20; y += kStep[pass])
      for (uint32_t x = 0; x < 40; ++x) stored.push_back(byRow[y * 40 + x]);
  }
  w.Data(2, stored);
  w.Trailer();
  DecodeRun run = Decode(w.out, 140, ContentRequest::FitToScreen);
  ASSERT_EQ(run.result, kOk);
  const ContentImage* image = FirstImage(run);
  EXPECT_EQ(image->width, 20u);
  EXPECT_EQ(image->height, 10u);
  const ContentImageFrame* frame = image->firstFrame;
  ASSERT_EQ(frame->width, 20u);
  ASSERT_EQ(frame->height, 10u);
  for (uint32_t y = 0; y < 10; ++y)
    for (uint32_t x = 0; x < 20; ++x)
      ASSERT_EQ(BandPixel(frame->bands, frame->bandCount, x, y), Grey(byRow[(2 * y + 1) * 40 + 2 * x + 1]));
  FreeOutput(&run.output);
  // Without the request the image keeps its size.
  DecodeRun plain = Decode(w.out);
  EXPECT_EQ(FirstImage(plain)->width, 40u);
  FreeOutput(&plain.output);
}

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
