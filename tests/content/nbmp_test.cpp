// The nbmp codec: random images and animations written by the test encoder
// (tests/content/nbmp_encoder.cpp) come back cell for cell through both
// sources; the sources' run and escape forms, and refused streams.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "content/nbmp.h"
#include "tests/content/nbmp_encoder.h"

namespace {

// An aligned buffer with `size` usable bytes.
struct Output {
  explicit Output(uint32_t size) : words((size + 7) / 8 + 1, 0), size(size) {}
  uint8_t* data() { return reinterpret_cast<uint8_t*>(words.data()); }
  const NbmpImage* image() { return reinterpret_cast<const NbmpImage*>(data()); }
  std::vector<uint64_t> words;
  uint32_t size;
};

void ExpectDecoded(Output& out, const NbmpTestImage& want, const std::string& where) {
  const NbmpImage* got = out.image();
  ASSERT_EQ(got->frameCount, want.frames.size()) << where;
  EXPECT_EQ(got->loopCount, want.loopCount) << where;
  EXPECT_EQ(got->depthCode, want.depthCode) << where;
  EXPECT_EQ(got->width, want.width) << where;
  EXPECT_EQ(got->height, want.height) << where;
  uint32_t end = 0;
  for (size_t i = 0; i < want.frames.size(); ++i) {
    NbmpFrame* frame = got->frames[i];
    const NbmpTestFrame& f = want.frames[i];
    EXPECT_EQ(frame->x, f.x) << where;
    EXPECT_EQ(frame->y, f.y) << where;
    EXPECT_EQ(frame->width, f.width) << where;
    EXPECT_EQ(frame->height, f.height) << where;
    EXPECT_EQ(frame->delay, f.delay) << where;
    ASSERT_EQ(std::vector<uint8_t>(NbmpFramePixels(frame), NbmpFramePixels(frame) + f.cells.size()),
              f.cells)
        << where << " frame " << i;
    end = static_cast<uint32_t>(NbmpFramePixels(frame) + f.cells.size() - out.data());
  }
  if (!want.frames.empty()) {
    EXPECT_EQ(got->usedBytes, end) << where;
  }
  const uint32_t canvasBytes = NbmpTestRowBytes(want.width, want.depthCode) * want.height;
  const std::vector<uint8_t> canvas =
      NbmpTestCompose(want, std::vector<uint8_t>(canvasBytes, 0));
  EXPECT_EQ(std::memcmp(out.data() + out.size - canvasBytes, canvas.data(), canvasBytes), 0) << where;
}

TEST(NbmpTest, RandomImagesComeBackThroughBothSources) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 400; ++round) {
    const NbmpTestImage image = NbmpTestRandomImage(rng);
    const uint32_t canvasBytes = NbmpTestRowBytes(image.width, image.depthCode) * image.height;
    const bool wide = round % 3 == 0;
    const std::vector<uint8_t> stream =
        NbmpTestStream(image, std::vector<uint8_t>(canvasBytes, 0), wide);
    const std::string where = "round " + std::to_string(round);
    // The room check asks for a canvas's worth per frame besides the canvas.
    const uint32_t size = 64 + (image.frames.size() + 1) * (canvasBytes + 64) + 2 * canvasBytes;
    {
      Output out(size);
      const std::vector<uint8_t> raw = NbmpTestPackMemory(stream);
      ASSERT_EQ(NbmpDecodeMemory(raw.data(), static_cast<uint32_t>(raw.size()), out.data(), size), 1)
          << where;
      ExpectDecoded(out, image, where + " memory");
    }
    for (bool noisy : {false, true}) {
      Output out(size);
      std::mt19937 noise(round);
      const std::string text = NbmpTestPackText(stream, noisy ? &noise : nullptr) + (round % 2 ? "\"" : "");
      ASSERT_EQ(NbmpDecodeText(text.c_str(), out.data(), size), 1) << where << " " << text;
      ExpectDecoded(out, image, where + " text");
    }
  }
}

// The bytes of a one-frame 1-bit image of 8 x `rows` pixels whose frame has
// no rectangles: everything after them is literals, one byte a row.
std::vector<uint8_t> LiteralFrameHeader(uint32_t rows) {
  NbmpTestImage image;
  image.width = 8;
  image.height = rows;
  image.frames.push_back({0, 0, 8, rows, 3, std::vector<uint8_t>(rows, 0x11)});
  std::vector<uint8_t> stream = NbmpTestStream(image, std::vector<uint8_t>(rows, 0x11), false);
  // Every cell repeats the canvas, so the encoder copies: rewrite the frame as
  // all literals (R = C = 0) and cut the literals off.
  const size_t header = 7 + 12;
  stream.resize(header);
  stream[header - 2] = 0;
  stream[header - 1] = 0;
  return stream;
}

std::vector<uint8_t> Cells(Output& out) {
  NbmpFrame* frame = out.image()->frames[0];
  return std::vector<uint8_t>(NbmpFramePixels(frame), NbmpFramePixels(frame) + frame->height);
}

TEST(NbmpTest, MemorySourceEscapesAndRuns) {
  struct Case {
    uint32_t rows;
    std::vector<uint8_t> tail;
    std::vector<uint8_t> cells;  // empty: refused
  };
  const Case cases[] = {
      {1, {0x96, 0x96}, {0x96}},
      {3, {0x96, 0x03, 0x41}, {0x41, 0x41, 0x41}},
      {256, {0x96, 0x00, 0x41}, std::vector<uint8_t>(256, 0x41)},
      {4, {0x96, 0x01, 0x07, 0x96, 0x96, 0x96, 0x02, 0x00}, {0x07, 0x96, 0x00, 0x00}},
      {1, {0x96, 0x97}, {}},
      {1, {0x96}, {}},
      {2, {0x96, 0x03, 0x41}, {0x41, 0x41}},  // the rest of a run is not read
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = LiteralFrameHeader(c.rows);
    bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
    Output out(4096);
    const int ok = NbmpDecodeMemory(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(), out.size);
    EXPECT_EQ(ok, c.cells.empty() ? 0 : 1) << c.rows;
    if (ok) {
      EXPECT_EQ(Cells(out), c.cells);
    }
  }
}

TEST(NbmpTest, TextSourceRunsGroupsAndEnds) {
  struct Case {
    const char* text;
    uint32_t count;
    std::vector<uint8_t> bytes;  // empty: -1
  };
  std::vector<uint8_t> zeros(192, 0);
  std::vector<uint8_t> ones;
  for (int i = 0; i < 64; ++i) ones.insert(ones.end(), {0x04, 0x10, 0x41});
  const Case cases[] = {
      {"~AA", 192, zeros},
      {"~AB", 192, ones},
      {"~AA", 193, {}},
      {"~CQQQ", 3, {0x41, 0x04, 0x10}},
      {" ~\n C\t Q\x80QQ", 3, {0x41, 0x04, 0x10}},
      {"QQ==", 1, {0x41}},
      {"QUI=", 2, {0x41, 0x42}},
      {"QUJD", 3, {0x41, 0x42, 0x43}},
      {"QQ", 1, {}},           // ends inside a group
      {"QQ\"==", 1, {}},       // a double quote ends the text
      {"Q*==", 1, {}},         // not in the alphabet
      {"~*QQQQ", 1, {}},       // a run count not in the alphabet
      {"~C", 1, {}},           // a run without its character
      {"QUJDRA==", 4, {0x41, 0x42, 0x43, 0x44}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.count + 1, 0xEE);
    const int32_t n = InlineTextDecode(c.text, c.count, out.data());
    if (c.bytes.empty()) {
      EXPECT_EQ(n, -1) << c.text;
    } else {
      ASSERT_EQ(n, static_cast<int32_t>(c.count)) << c.text;
      EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + c.count), c.bytes) << c.text;
      EXPECT_EQ(out[c.count], 0xEE);
    }
  }
}

TEST(NbmpTest, FrameAtAnOddPixelLandsOnItsByteColumn) {
  NbmpTestImage image;
  image.width = 16;
  image.height = 1;
  image.frames.push_back({5, 0, 8, 1, 0, {0xAB}});
  const std::vector<uint8_t> stream = NbmpTestStream(image, {0, 0}, false);
  Output out(256);
  ASSERT_EQ(NbmpDecodeMemory(stream.data(), static_cast<uint32_t>(stream.size()), out.data(), 256), 1);
  EXPECT_EQ(out.data()[254], 0xAB);
  EXPECT_EQ(out.data()[255], 0x00);
}

// Streams that would put a byte outside the block, or hold fields the format
// does not have, are refused before anything lands outside the buffer.
TEST(NbmpTest, RefusedStreams) {
  auto one = [](auto change) {
    NbmpTestImage image;
    image.width = 16;
    image.height = 4;
    image.frames.push_back({0, 0, 16, 4, 1, std::vector<uint8_t>(8, 0x5A)});
    std::vector<uint8_t> canvas(8, 0);
    std::vector<uint8_t> stream = NbmpTestStream(image, canvas, false);
    change(stream);
    return stream;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
  };
  const Case cases[] = {
      {"depth code 3", one([](auto& s) { s[3] = (s[3] & 0xF0) | 3; })},
      {"coordinate code 2", one([](auto& s) { s[7 + 7] = 2; })},
      // x = 8 moves the 2-byte frame one byte past the 2-byte canvas row.
      {"frame past the canvas", one([](auto& s) { s[7] = 0x00; s[8] = 0x80; })},
      {"frame below the canvas", one([](auto& s) { s[8] |= 0x01; })},
      // One rectangle x0 0, x1 3 (past the 2-byte frame row), y 0 to 1.
      {"rectangle past the frame",
       one([](auto& s) {
         s.resize(7 + 12);
         s[17] = 1;
         s[18] = 1;
         for (uint8_t b : {0, 3, 0, 1}) s.push_back(b);
         for (int i = 0; i < 6; ++i) s.push_back(0x5A);
       })},
      {"frame count past the buffer", one([](auto& s) { s[2] = 0xFF; })},
  };
  for (const Case& c : cases) {
    Output out(512);
    EXPECT_EQ(NbmpDecodeMemory(c.stream.data(), static_cast<uint32_t>(c.stream.size()), out.data(), 512), 0)
        << c.what;
  }
}

TEST(NbmpTest, CutStreamsAndShortBuffersFail) {
  std::mt19937 rng(7);
  NbmpTestImage image;
  do image = NbmpTestRandomImage(rng); while (image.frames.size() < 2);
  const uint32_t canvasBytes = NbmpTestRowBytes(image.width, image.depthCode) * image.height;
  const std::vector<uint8_t> stream = NbmpTestStream(image, std::vector<uint8_t>(canvasBytes, 0), false);
  const std::vector<uint8_t> raw = NbmpTestPackMemory(stream);
  const uint32_t size = 64 + (image.frames.size() + 1) * (canvasBytes + 64) + 2 * canvasBytes;
  for (size_t cut = 0; cut < raw.size(); ++cut) {
    Output out(size);
    // An exact copy, so a read past the cut is caught.
    std::vector<uint8_t> part(raw.begin(), raw.begin() + cut);
    EXPECT_EQ(NbmpDecodeMemory(part.data(), static_cast<uint32_t>(cut), out.data(), size), 0) << cut;
  }
  const std::string text = NbmpTestPackText(stream, nullptr);
  for (size_t cut = 0; cut < text.size(); ++cut) {
    Output out(size);
    EXPECT_EQ(NbmpDecodeText(text.substr(0, cut).c_str(), out.data(), size), 0) << cut;
  }
  // Every buffer size either decodes the whole image or refuses it; the
  // buffer is exact, so a write past it is caught.
  bool decoded = false;
  for (uint32_t s = 0; s <= size; s += 1 + s / 64) {
    std::vector<uint64_t> words(s / 8 + 1);
    std::vector<uint8_t> exact(s);
    uint8_t* buffer = s ? exact.data() : reinterpret_cast<uint8_t*>(words.data());
    if (reinterpret_cast<uintptr_t>(buffer) % alignof(NbmpImage)) continue;
    decoded |= NbmpDecodeMemory(raw.data(), static_cast<uint32_t>(raw.size()), buffer, s) == 1;
  }
  EXPECT_TRUE(decoded);
}

}  // namespace
