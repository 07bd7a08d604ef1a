// The JPEG decoder over files written by cjpeg and jpegtran: pictures close
// to libjpeg-turbo's whichever way the body arrives, refused kinds and
// fields, cut bodies ending cleanly, and the heap left as it was found.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "content/jpeg.h"
#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "tests/content/jpeg_support.h"
#include "tests/support/engine_fixture.h"

namespace {

class JpegTest : public HeapFixture {
 protected:
  JpegTest() : HeapFixture(8u << 20) {}
  void SetUp() override {
    HeapFixture::SetUp();
    saved_ = ShellGetScreen();
    ShellSetScreenGeometry(0, 0, nullptr);
    heapAtStart_ = HeapGetStats().freeBytes;
  }
  void TearDown() override {
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart_) << "the decoder left memory behind";
    ShellSetScreenGeometry(saved_.width, saved_.height, saved_.pixels);
  }
  void Screen(int32_t width) {
    screen_.assign(size_t((width + 3) & ~3) * 208, 0);
    ShellSetScreenGeometry(width, 208, screen_.data());
  }

 private:
  ShellScreen saved_{};
  std::vector<uint16_t> screen_;
  uint32_t heapAtStart_ = 0;
};

// The largest difference of one channel of one pixel, and the largest mean
// difference over an 8x8 block, in the precision of RGB565.
std::pair<int, double> Compare(const JpegRun& run, const JpegReference& ref) {
  int maxChannel = 0;
  const uint32_t bw = (run.width + 7) / 8, bh = (run.height + 7) / 8;
  std::vector<double> sum(size_t{bw} * bh, 0);
  for (uint32_t y = 0; y < run.height; ++y)
    for (uint32_t x = 0; x < run.width; ++x) {
      const uint16_t p = run.pixels[size_t{y} * run.width + x];
      const uint8_t* q = &ref.rgb[(size_t{y} * ref.width + x) * 3];
      const int mine[3] = {(p >> 11) << 3, ((p >> 5) & 63) << 2, (p & 31) << 3};
      const int theirs[3] = {q[0] & 0xF8, q[1] & 0xFC, q[2] & 0xF8};
      for (int c = 0; c < 3; ++c) {
        const int diff = std::abs(mine[c] - theirs[c]);
        maxChannel = std::max(maxChannel, diff);
        sum[size_t{y / 8} * bw + x / 8] += diff / 192.0;  // a full block has 192 samples
      }
    }
  return {maxChannel, *std::max_element(sum.begin(), sum.end())};
}

struct Case {
  const char* file;
  int maxChannel;     // fixed from a first measured run, with a little room
  double worstBlock;
};

class JpegReferenceTest : public JpegTest, public ::testing::WithParamInterface<Case> {};

TEST_P(JpegReferenceTest, CloseToLibjpeg) {
  const Case& c = GetParam();
  const std::vector<uint8_t> body = JpegReadFile(c.file);
  ASSERT_FALSE(body.empty());
  const JpegReference ref = JpegReferenceDecode(body);
  const JpegRun run = JpegRunDecode(body, 0, false);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & JpegEvent::Complete);
  EXPECT_FALSE(run.events & JpegEvent::Error);
  ASSERT_TRUE(run.made);
  ASSERT_EQ(run.width, ref.width);
  ASSERT_EQ(run.height, ref.height);
  EXPECT_EQ(run.bandCount, (ref.height + 15) / 16);
  for (uint32_t rows : run.bandRows) EXPECT_GT(rows, 0u);
  const auto [maxChannel, worstBlock] = Compare(run, ref);
  EXPECT_LE(maxChannel, c.maxChannel);
  EXPECT_LE(worstBlock, c.worstBlock);
  // The same picture a byte a step, or in 140-byte blocks.
  for (uint32_t block : {1u, 140u}) {
    const JpegRun trickled = JpegRunDecode(body, block, true);
    EXPECT_EQ(trickled.result, kOk);
    EXPECT_TRUE(trickled.events & JpegEvent::Complete);
    EXPECT_EQ(trickled.bandRows, run.bandRows);
    EXPECT_TRUE(trickled.pixels == run.pixels) << block;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegReferenceTest,
    ::testing::Values(Case{"b420.jpg", 32, 11.0}, Case{"b422.jpg", 32, 12.0},
                      Case{"grey.jpg", 24, 9.0}, Case{"restart1.jpg", 32, 11.0},
                      Case{"scans.jpg", 32, 11.0}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('.'));
    });

// A body cut anywhere completes: without an image when it ends before its
// frame header, with the image's full size once the header is whole.
TEST_F(JpegTest, CutBodiesEndCleanly) {
  for (const char* file : {"b420.jpg", "restart1.jpg"}) {
    const std::vector<uint8_t> body = JpegReadFile(file);
    const JpegRun full = JpegRunDecode(body, 0, false);
    // Where the frame header (a baseline SOF) starts and ends.
    size_t frameAt = 0, frameEnd = 0;
    for (size_t i = 0; i + 3 < body.size() && !frameEnd; ++i)
      if (body[i] == 0xFF && body[i + 1] == 0xC0) {
        frameAt = i;
        frameEnd = i + 2 + (body[i + 2] << 8 | body[i + 3]);
      }
    ASSERT_NE(frameEnd, 0u) << file;
    for (size_t n = 0; n < body.size(); ++n) {
      const std::vector<uint8_t> cut(body.begin(), body.begin() + long(n));
      const JpegRun run = JpegRunDecode(cut, 0, false);
      EXPECT_EQ(run.result, kOk) << file << " cut at " << n;
      EXPECT_TRUE(run.events & JpegEvent::Complete) << file << " cut at " << n;
      if (run.made) {
        EXPECT_EQ(run.width, full.width);
      }
      if (n <= frameAt || n >= frameEnd) {
        EXPECT_EQ(run.made, n >= frameEnd) << file << " cut at " << n;
      }
    }
  }
}

// Fitted to the screen width: one band per 16 source rows, every band made,
// every scaled row present, even a single one.
TEST_F(JpegTest, FitToScreenWidthMakesEveryBand) {
  struct Case {
    const char* file;
    int32_t screen;
    uint32_t width, height, bands;
  };
  const Case cases[] = {{"wide4000x8.jpg", 176, 176, 1, 1}, {"c200x120.jpg", 45, 45, 27, 8},
                        {"c352x40.jpg", 176, 176, 20, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Screen(c.screen);
    const JpegRun fit = JpegRunDecode(JpegReadFile(c.file), 1, true, true);
    ASSERT_EQ(fit.result, kOk);
    EXPECT_TRUE(fit.events & JpegEvent::Complete);
    EXPECT_EQ(fit.width, c.width);
    EXPECT_EQ(fit.height, c.height);
    ASSERT_EQ(fit.bandCount, c.bands);
    uint32_t total = 0;
    for (uint32_t rows : fit.bandRows) {
      EXPECT_GT(rows, 0u);
      total += rows;
    }
    EXPECT_EQ(total, c.height);
  }
}

// Offset of the first marker with this code.
size_t MarkerAt(const std::vector<uint8_t>& body, uint8_t code) {
  for (size_t i = 0; i + 1 < body.size(); ++i)
    if (body[i] == 0xFF && body[i + 1] == code) return i;
  ADD_FAILURE() << "no marker " << int(code);
  return 0;
}

// Kinds and values outside what the decoder handles are refused.
TEST_F(JpegTest, RefusedBodiesAnswerTheirCode) {
  struct Case {
    const char* file;
    uint8_t marker;  // the segment patched, 0: none
    uint32_t at;     // byte offset from its 0xFF
    uint8_t value;
    Result code;
  };
  for (const Case& c : {Case{"progressive.jpg", 0, 0, 0, JpegErr::Progressive},
                        Case{"arithmetic.jpg", 0, 0, 0, JpegErr::BadData},
                        Case{"b420.jpg", 0xDA, 4, 4, JpegErr::BadData},     // four scan components
                        Case{"b420.jpg", 0xC0, 6, 0, JpegErr::BadData},     // height 0
                        Case{"b420.jpg", 0xC4, 5, 3, JpegErr::BadData}}) {  // Huffman codes overfull
    std::vector<uint8_t> body = JpegReadFile(c.file);
    if (c.marker) body[MarkerAt(body, c.marker) + c.at] = c.value;
    for (uint32_t block : {0u, 1u}) {
      const JpegRun run = JpegRunDecode(body, block, block != 0);
      EXPECT_EQ(run.result, c.code) << c.file << " " << int(c.marker) << " " << c.at;
      EXPECT_TRUE(c.marker || !run.made);
    }
  }
}

// An end-of-image marker inside the scan ends the picture there, complete.
TEST_F(JpegTest, EndMarkerInsideTheScan) {
  const std::vector<uint8_t> body = JpegReadFile("c200x120.jpg");
  std::vector<uint8_t> cut(body.begin(), body.begin() + long(body.size() * 2 / 3));
  cut.push_back(0xFF);
  cut.push_back(0xD9);
  cut.resize(cut.size() + 200, 0x11);  // trailing bytes are dropped
  const JpegRun full = JpegRunDecode(body, 0, false);
  for (uint32_t block : {0u, 1u}) {
    const JpegRun run = JpegRunDecode(cut, block, block != 0);
    ASSERT_EQ(run.result, kOk);
    EXPECT_TRUE(run.events & JpegEvent::Complete);
    EXPECT_TRUE(std::equal(run.pixels.begin(), run.pixels.begin() + 200 * 32, full.pixels.begin()));
  }
}

// A restart marker without a restart interval ends the scan's data.
TEST_F(JpegTest, RestartMarkerWithoutIntervalEndsTheData) {
  std::vector<uint8_t> body = JpegReadFile("c200x120.jpg");
  const size_t data = MarkerAt(body, 0xDA) + 14;  // after a three-component scan header
  body.insert(body.begin() + long(data + 100), {0xFF, 0xD0});
  const JpegRun run = JpegRunDecode(body, 0, false);
  ASSERT_EQ(run.result, kOk);
  EXPECT_TRUE(run.events & JpegEvent::Complete);
  ASSERT_EQ(run.bandRows.size(), 8u);
  EXPECT_GT(run.bandRows.front(), 0u);
  EXPECT_EQ(run.bandRows.back(), 0u);  // never reached
}

// Huffman tables without codes still use up the data: a short scan ends early.
TEST_F(JpegTest, EmptyHuffmanTablesEatTheData) {
  std::vector<uint8_t> body = JpegReadFile("c200x120.jpg");
  for (int table = 0; table < 4; ++table) {
    size_t at = 0;
    int seen = 0;
    for (size_t i = 0; i + 1 < body.size(); ++i)
      if (body[i] == 0xFF && body[i + 1] == 0xC4 && seen++ == table) at = i;
    uint32_t total = 0;
    for (size_t i = at + 5; i < at + 21; ++i) {
      total += body[i];
      body[i] = 0;
    }
    body.erase(body.begin() + long(at + 21), body.begin() + long(at + 21 + total));
  }
  const size_t data = MarkerAt(body, 0xDA) + 14;
  body.resize(data + 50);
  const JpegRun run = JpegRunDecode(body, 0, false);
  ASSERT_EQ(run.result, kOk);
  ASSERT_EQ(run.bandRows.size(), 8u);
  EXPECT_EQ(run.bandRows.back(), 0u);
}

}  // namespace
