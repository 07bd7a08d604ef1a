// The JPEG decoder over files written by cjpeg and jpegtran: pictures close
// to libjpeg-turbo's, the same whichever way the body arrives, refused kinds
// refused, cut bodies ending cleanly, and the heap left as it was found.
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

struct Difference {
  int maxChannel = 0;     // largest difference of one channel of one pixel
  double worstBlock = 0;  // largest mean difference over an 8x8 block
};

// Compares in the precision of RGB565.
Difference Compare(const JpegRun& run, const JpegReference& ref) {
  Difference d;
  const uint32_t bw = (run.width + 7) / 8, bh = (run.height + 7) / 8;
  std::vector<double> sum(size_t{bw} * bh, 0), count(size_t{bw} * bh, 0);
  for (uint32_t y = 0; y < run.height; ++y)
    for (uint32_t x = 0; x < run.width; ++x) {
      const uint16_t p = run.pixels[size_t{y} * run.width + x];
      const uint8_t* q = &ref.rgb[(size_t{y} * ref.width + x) * 3];
      const int mine[3] = {(p >> 11) << 3, ((p >> 5) & 63) << 2, (p & 31) << 3};
      const int theirs[3] = {q[0] & 0xF8, q[1] & 0xFC, q[2] & 0xF8};
      const size_t block = size_t{y / 8} * bw + x / 8;
      for (int c = 0; c < 3; ++c) {
        const int diff = std::abs(mine[c] - theirs[c]);
        if (diff > d.maxChannel) d.maxChannel = diff;
        sum[block] += diff;
        count[block] += 1;
      }
    }
  for (size_t i = 0; i < sum.size(); ++i)
    if (count[i] > 0 && sum[i] / count[i] > d.worstBlock) d.worstBlock = sum[i] / count[i];
  return d;
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
  const Difference d = Compare(run, ref);
  EXPECT_LE(d.maxChannel, c.maxChannel);
  EXPECT_LE(d.worstBlock, c.worstBlock);
}

// Bodies delivered one byte per step, or in 140-byte blocks, give the same
// picture as the whole body at once.
TEST_P(JpegReferenceTest, SameWhateverTheBlocks) {
  const std::vector<uint8_t> body = JpegReadFile(GetParam().file);
  const JpegRun whole = JpegRunDecode(body, 0, false);
  ASSERT_EQ(whole.result, kOk);
  const JpegRun bytes = JpegRunDecode(body, 1, true);
  EXPECT_EQ(bytes.result, kOk);
  EXPECT_TRUE(bytes.events & JpegEvent::Complete);
  EXPECT_EQ(bytes.width, whole.width);
  EXPECT_EQ(bytes.bandRows, whole.bandRows);
  EXPECT_TRUE(bytes.pixels == whole.pixels);
  const JpegRun blocks = JpegRunDecode(body, 140, true);
  EXPECT_TRUE(blocks.pixels == whole.pixels);
  const JpegRun queued = JpegRunDecode(body, 1, false);
  EXPECT_TRUE(queued.pixels == whole.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegReferenceTest,
    ::testing::Values(Case{"b420.jpg", 32, 11.0}, Case{"b422.jpg", 32, 12.0},
                      Case{"b444.jpg", 32, 12.0}, Case{"b440.jpg", 32, 11.0},
                      Case{"grey.jpg", 24, 9.0}, Case{"grey2x2.jpg", 24, 9.0},
                      Case{"restart1.jpg", 32, 11.0}, Case{"restart3.jpg", 32, 12.0},
                      Case{"optimised.jpg", 32, 11.0}, Case{"q1.jpg", 24, 17.0},
                      Case{"q100.jpg", 32, 12.0}, Case{"tiny.jpg", 8, 1.0},
                      Case{"greytiny.jpg", 12, 3.0}, Case{"wide4000x8.jpg", 32, 12.0},
                      Case{"square48x32.jpg", 32, 10.0}, Case{"c200x120.jpg", 32, 13.0},
                      Case{"c352x40.jpg", 32, 13.0}, Case{"scans.jpg", 32, 11.0},
                      Case{"scans2.jpg", 32, 11.0}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('.'));
    });

struct Refusal {
  const char* file;
  Result code;
};

class JpegRefusalTest : public JpegTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(JpegRefusalTest, FailsWithItsCode) {
  const std::vector<uint8_t> body = JpegReadFile(GetParam().file);
  ASSERT_FALSE(body.empty());
  for (uint32_t block : {0u, 1u}) {
    const JpegRun run = JpegRunDecode(body, block, block != 0);
    EXPECT_EQ(run.result, GetParam().code);
    EXPECT_FALSE(run.made);
    EXPECT_FALSE(run.events & JpegEvent::Complete);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, JpegRefusalTest,
                         ::testing::Values(Refusal{"progressive.jpg", JpegErr::Progressive},
                                           Refusal{"arithmetic.jpg", JpegErr::BadData},
                                           Refusal{"lossless.jpg", JpegErr::BadData},
                                           Refusal{"precision12.jpg", JpegErr::BadData},
                                           Refusal{"cmyk.jpg", JpegErr::BadData}),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('.'));
                         });

// A body cut anywhere ends: refused while no frame has been read, complete
// with the rows that arrived afterwards.
TEST_F(JpegTest, CutBodiesEndCleanly) {
  for (const char* file : {"b420.jpg", "restart1.jpg", "scans.jpg", "grey.jpg"}) {
    const std::vector<uint8_t> body = JpegReadFile(file);
    const JpegRun full = JpegRunDecode(body, 0, false);
    for (size_t n = 0; n < body.size(); ++n) {
      const std::vector<uint8_t> cut(body.begin(), body.begin() + long(n));
      const JpegRun run = JpegRunDecode(cut, 0, false);
      if (run.made) {
        EXPECT_EQ(run.result, kOk) << file << " cut at " << n;
        EXPECT_TRUE(run.events & JpegEvent::Complete) << file << " cut at " << n;
        EXPECT_EQ(run.width, full.width);
      } else {
        EXPECT_EQ(run.result, JpegErr::BadData) << file << " cut at " << n;
      }
    }
  }
}

// Rows arrive in bands as the data does: the first band is complete before
// the last bytes are in.
TEST_F(JpegTest, BandsCompleteAsDataArrives) {
  const std::vector<uint8_t> body = JpegReadFile("c200x120.jpg");
  const std::vector<uint8_t> half(body.begin(), body.begin() + long(body.size() / 2));
  const JpegRun run = JpegRunDecode(half, 0, false);
  const JpegRun full = JpegRunDecode(body, 0, false);
  ASSERT_TRUE(run.made);
  ASSERT_EQ(run.bandRows.size(), full.bandRows.size());
  EXPECT_TRUE(std::equal(run.pixels.begin(), run.pixels.begin() + 200 * 16, full.pixels.begin()));
}

// Selected source rows and columns: n is picked when floor((n + 1) s / w)
// passes floor(n s / w).
std::vector<uint32_t> Picked(uint32_t from, uint32_t to) {
  std::vector<uint32_t> out;
  for (uint32_t n = 0; n < from; ++n)
    if ((uint64_t{n} + 1) * to / from > uint64_t{n} * to / from) out.push_back(n);
  return out;
}

TEST_F(JpegTest, FitToScreenWidthDropsRowsAndColumnsEvenly) {
  const std::vector<uint8_t> body = JpegReadFile("c352x40.jpg");
  const JpegRun full = JpegRunDecode(body, 0, false);
  Screen(176);
  const JpegRun fit = JpegRunDecode(body, 0, false, true);
  ASSERT_EQ(fit.result, kOk);
  ASSERT_EQ(fit.width, 176u);
  ASSERT_EQ(fit.height, 20u);
  const std::vector<uint32_t> rows = Picked(40, 20), cols = Picked(352, 176);
  EXPECT_EQ(rows[0], 1u);  // every second source row
  for (uint32_t y = 0; y < fit.height; ++y)
    for (uint32_t x = 0; x < fit.width; ++x)
      ASSERT_EQ(fit.pixels[y * 176 + x], full.pixels[rows[y] * 352 + cols[x]]) << x << "," << y;
  // Without the fit flag the screen does not matter.
  const JpegRun plain = JpegRunDecode(body, 0, false);
  EXPECT_TRUE(plain.pixels == full.pixels);
}

// Far wider than the screen, a single output row still comes out; a scaled
// height that is not a multiple of the first band's rows still gets one band
// per 16 source rows, every band made, all scaled rows present.
TEST_F(JpegTest, FitToScreenWidthMakesEveryBand) {
  struct Case {
    const char* file;
    int32_t screen;
    uint32_t width, height, bands;
  };
  const Case cases[] = {{"wide4000x8.jpg", 176, 176, 1, 1}, {"c200x120.jpg", 45, 45, 27, 8}};
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

// Damage inside one restart interval spoils that interval only: decoding
// picks up again at the next restart marker.
TEST_F(JpegTest, DamagedRestartIntervalStaysInside) {
  std::vector<uint8_t> body = JpegReadFile("restart1.jpg");
  const JpegRun clean = JpegRunDecode(body, 0, false);
  // Entropy data of MCU 5 lies between RST4 (0xFF 0xD4) and RST5.
  size_t start = 0, end = 0;
  int seen = 0;
  for (size_t i = 0; i + 1 < body.size(); ++i)
    if (body[i] == 0xFF && body[i + 1] >= 0xD0 && body[i + 1] <= 0xD7) {
      if (++seen == 5) start = i + 2;
      if (seen == 6) {
        end = i;
        break;
      }
    }
  ASSERT_LT(start, end);
  // Extra bytes that the interval does not need, then garbage.
  body.insert(body.begin() + long(end), {0x12, 0x34, 0x56, 0x78});
  for (size_t i = start; i < end; ++i) {
    const uint8_t garbage = uint8_t(body[i] * 7 + 13);
    body[i] = garbage == 0xFF ? 0 : garbage;  // no marker made by accident
  }
  const JpegRun damaged = JpegRunDecode(body, 0, false);
  ASSERT_EQ(damaged.result, kOk);
  ASSERT_EQ(damaged.pixels.size(), clean.pixels.size());
  // With 4 MCUs across, MCU 5 is the second of the second MCU row.
  for (uint32_t y = 0; y < clean.height; ++y)
    for (uint32_t x = 0; x < clean.width; ++x) {
      if (y >= 16 && y < 32 && x >= 16 && x < 32) continue;
      ASSERT_EQ(damaged.pixels[y * clean.width + x], clean.pixels[y * clean.width + x])
          << x << "," << y;
    }
}

// Offset of the first marker with this code.
size_t MarkerAt(const std::vector<uint8_t>& body, uint8_t code) {
  for (size_t i = 0; i + 1 < body.size(); ++i)
    if (body[i] == 0xFF && body[i + 1] == code) return i;
  ADD_FAILURE() << "no marker " << int(code);
  return 0;
}

struct Patch {
  const char* what;
  uint8_t marker;  // the segment patched
  uint32_t at;     // byte offset from its 0xFF
  uint8_t value;
};

class JpegPatchTest : public JpegTest, public ::testing::WithParamInterface<Patch> {};

// Values outside what the decoder handles are refused, whatever else the
// file holds.
TEST_P(JpegPatchTest, Refused) {
  std::vector<uint8_t> body = JpegReadFile("b420.jpg");
  const Patch& p = GetParam();
  body[MarkerAt(body, p.marker) + p.at] = p.value;
  EXPECT_EQ(JpegRunDecode(body, 0, false).result, JpegErr::BadData);
  EXPECT_EQ(JpegRunDecode(body, 1, true).result, JpegErr::BadData);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, JpegPatchTest,
    ::testing::Values(Patch{"FourScanComponents", 0xDA, 4, 4},
                      Patch{"ScanComponentNotInFrame", 0xDA, 5, 9},
                      Patch{"DcTableAbove3", 0xDA, 6, 0x40},
                      Patch{"AcTableAbove3", 0xDA, 6, 0x04},
                      Patch{"SamplingFactor3", 0xC0, 11, 0x32},
                      Patch{"SamplingFactor0", 0xC0, 11, 0x20},
                      Patch{"QuantTableAbove3", 0xC0, 12, 4},
                      Patch{"SameComponentIdTwice", 0xC0, 13, 1},
                      Patch{"HeightZero", 0xC0, 6, 0},
                      Patch{"QuantPrecision2", 0xDB, 4, 0x20},
                      Patch{"QuantTableId4", 0xDB, 4, 0x04},
                      Patch{"HuffmanTableId4", 0xC4, 4, 0x04},
                      Patch{"HuffmanClass2", 0xC4, 4, 0x20},
                      Patch{"HuffmanCodesOverfull", 0xC4, 5, 3}),
    [](const ::testing::TestParamInfo<Patch>& info) { return std::string(info.param.what); });

// A quantisation entry of 0 acts as 16 at the first position and as the
// entry before it in zigzag order elsewhere.
TEST_F(JpegTest, ZeroQuantisationEntries) {
  const std::vector<uint8_t> body = JpegReadFile("b444.jpg");
  const size_t table = MarkerAt(body, 0xDB) + 5;  // table 0, zigzag order
  for (uint32_t index : {0u, 5u, 63u}) {
    std::vector<uint8_t> zero = body, explicitValue = body;
    zero[table + index] = 0;
    explicitValue[table + index] = index == 0 ? 16 : body[table + index - 1];
    const JpegRun a = JpegRunDecode(zero, 0, false), b = JpegRunDecode(explicitValue, 0, false);
    ASSERT_EQ(a.result, kOk);
    EXPECT_TRUE(a.pixels == b.pixels) << index;
  }
}

// Fill bytes and stuffed zeros between segments do not disturb the header.
TEST_F(JpegTest, FillBytesBeforeTheScan) {
  const std::vector<uint8_t> body = JpegReadFile("b420.jpg");
  std::vector<uint8_t> padded = body;
  padded.insert(padded.begin() + long(MarkerAt(body, 0xDA)), {0xFF, 0x00, 0x55, 0xFF, 0xFF});
  padded.insert(padded.begin() + long(MarkerAt(body, 0xC0)), {0xFF, 0xFF});
  const JpegRun a = JpegRunDecode(body, 0, false), b = JpegRunDecode(padded, 1, true);
  ASSERT_EQ(b.result, kOk);
  EXPECT_TRUE(a.pixels == b.pixels);
}

// A scan that stops early at the end-of-image marker ends the picture there:
// complete, with the rows that arrived.
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

// Memory running out at any allocation fails the load with the
// out-of-memory code (with the error bit once the scan has begun) and frees
// everything.
TEST(JpegMemoryTest, EveryShortHeapFailsCleanly) {
  const std::vector<uint8_t> body = JpegReadFile("c200x120.jpg");
  bool succeeded = false, failedInScan = false;
  for (uint32_t bytes = 4096; bytes <= 96 * 1024 && !succeeded; bytes += 256) {
    std::vector<uint64_t> arena(bytes / 8);
    HeapArenaInit(arena.data(), bytes);
    const uint32_t before = HeapGetStats().freeBytes;
    const JpegRun run = JpegRunDecode(body, 0, false);
    if (run.result == kOk) {
      succeeded = true;
      EXPECT_TRUE(run.events & JpegEvent::Complete);
    } else {
      ASSERT_EQ(run.result, JpegErr::NoMemory) << bytes;
      failedInScan = failedInScan || (run.events & JpegEvent::Error);
    }
    EXPECT_EQ(HeapGetStats().freeBytes, before) << bytes;
  }
  EXPECT_TRUE(succeeded);
  EXPECT_TRUE(failedInScan);
}

// A restart marker where no restart interval was set ends the scan's data:
// the picture stops there instead of running on over zeros.
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

// Huffman tables without codes still use up the data: a short scan ends
// early instead of decoding a whole picture out of nothing.
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

// Not JPEG at all: no frame, refused when the data ends.
TEST_F(JpegTest, NoFrameIsRefused) {
  const std::vector<uint8_t> body(100, 0x42);
  EXPECT_EQ(JpegRunDecode(body, 0, false).result, JpegErr::BadData);
  EXPECT_EQ(JpegRunDecode({}, 0, false).result, JpegErr::BadData);
}

}  // namespace
