#include "tests/content/content_harness.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "kernel/heap.h"
#include "kernel/mem.h"

std::vector<uint8_t> ReadDataFile(const std::string& relative) {
  std::ifstream in(std::string(QOR_TEST_DATA) + "/" + relative, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

namespace {

// Delivers the body block by block to `step` until it reports the body
// complete or fails; `delivered` hears how many bytes are in so far.
template <class Step, class Delivered>
DecodeRun Drive(const std::vector<uint8_t>& bytes, uint32_t blockSize, uint32_t requestFlags,
                Step step, Delivered delivered) {
  DecodeRun run;
  Queue input{};
  ContentFeed feed{&input, 0, &run.output, 0, requestFlags};
  const size_t block = blockSize ? blockSize : (bytes.empty() ? 1 : bytes.size());
  size_t at = 0;
  for (;;) {
    if (at < bytes.size()) {
      const size_t n = bytes.size() - at < block ? bytes.size() - at : block;
      UtilDataChunkAppend(&input, bytes.data() + at, static_cast<uint32_t>(n), Mod::TestCode);
      at += n;
      delivered(at);
    }
    if (at >= bytes.size()) feed.endOfData = 1;
    run.result = step(&feed);
    if (run.result != kOk || (feed.events & ContentEvent::Done) || at >= bytes.size()) break;
  }
  run.events = feed.events;
  UtilDataChunkFreeQueue(&input);
  return run;
}

}  // namespace

DecodeRun RunDecoder(StepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                     uint32_t blockSize, uint32_t requestFlags) {
  void* state = nullptr;
  DecodeRun run = Drive(
      bytes, blockSize, requestFlags, [&](ContentFeed* feed) { return step(&state, feed); },
      [](size_t) {});
  run.stateFreed = state == nullptr;
  release(&state);
  return run;
}

DecodeRun RunWholeDecoder(WholeStepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                          uint32_t blockSize, bool announce) {
  constexpr uint32_t workSize = 256000;
  auto* work = static_cast<uint8_t*>(MemAlloc(workSize, Use::Data, Mod::TestCode));
  memset(work, 0xA5, workSize);
  ContentSource source{announce ? static_cast<uint32_t>(bytes.size()) : 0, 0, work, workSize};
  void* state = nullptr;
  DecodeRun run = Drive(
      bytes, blockSize, 0, [&](ContentFeed* feed) { return step(&state, feed, &source); },
      [&](size_t at) { source.deliveredCount = static_cast<uint32_t>(at); });
  run.stateFreed = state == nullptr;
  release(&state);
  MemFree(&work);
  return run;
}

void FreeOutput(Queue* output) {
  auto FreeBands = [](PglSurface** bands, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) MemFree(&bands[i]);
  };
  while (QueueNode* node = QueuePopFront(output)) {
    auto* image = reinterpret_cast<ContentImage*>(node);
    if (image->kind == ContentKind::Banded) FreeBands(image->bands, image->bandCount);
    for (ContentImageFrame* frame = image->firstFrame; frame;) {
      ContentImageFrame* next = frame->next;
      FreeBands(frame->bands, frame->bandCount);
      MemFree(&frame);
      frame = next;
    }
    MemFree(&image);
  }
}

int32_t BandPixel(PglSurface* const* bands, uint32_t bandCount, uint32_t x, uint32_t y) {
  uint32_t top = 0;
  for (uint32_t i = 0; i < bandCount; ++i) {
    const PglSurface* band = bands[i];
    if (!band) return -1;
    if (y < top + band->height) {
      if (x >= band->width) return -1;
      const auto* pixels = reinterpret_cast<const uint16_t*>(PglPixels(band));
      return pixels[(y - top) * band->pitch + x];
    }
    top += band->height;
  }
  return -1;
}

uint16_t ReferencePixel(const Picture& p, uint32_t i, bool keyed) {
  const uint8_t* px = &p.pixels[size_t{i} * p.depth];
  const bool grey = p.depth <= 2;
  const bool hasAlpha = p.depth == 2 || p.depth == 4;
  if (hasAlpha && px[p.depth - 1] == 0) return kContentKeyColour;
  const uint16_t colour = ContentRgb565(px[0], grey ? px[0] : px[1], grey ? px[0] : px[2]);
  return keyed ? ContentOpaqueOnKey(colour) : colour;
}

namespace {

struct FrameInfo {
  uint32_t width, height, left, top, delay;
};

std::vector<FrameInfo> ReadFrameList(const std::string& relative) {
  const std::vector<uint8_t> text = ReadDataFile(relative);
  std::istringstream in(std::string(text.begin(), text.end()));
  std::vector<FrameInfo> frames;
  FrameInfo f{};
  std::string rest;
  while (in >> f.width >> f.height >> f.left >> f.top >> f.delay) {
    frames.push_back(f);
    std::getline(in, rest);
  }
  return frames;
}

bool Near(int32_t got, uint16_t want) {
  if (got < 0) return false;
  if (got == want) return true;
  if (got == kContentKeyColour || want == kContentKeyColour) return false;
  auto near = [](int a, int b) { return a - b <= 1 && b - a <= 1; };
  return near(got >> 11, want >> 11) && near((got >> 5) & 63, (want >> 5) & 63) &&
         near(got & 31, want & 31);
}

}  // namespace

void ExpectBands(PglSurface* const* bands, uint32_t bandCount, const Picture& ref, bool keyed,
                 bool nearEnough, const std::string& where, uint32_t rowBytes) {
  if (!rowBytes) rowBytes = 2 * ref.width;
  const uint32_t perBand = 512 / rowBytes ? 512 / rowBytes : 1;
  ASSERT_EQ(bandCount, (ref.height + perBand - 1) / perBand) << where;
  for (uint32_t i = 0; i < bandCount; ++i) {
    EXPECT_EQ(bands[i]->height, i + 1 < bandCount ? perBand : ref.height - i * perBand) << where;
    EXPECT_TRUE(!keyed || bands[i]->key == kContentKeyColour) << where;
  }
  for (uint32_t y = 0; y < ref.height; ++y)
    for (uint32_t x = 0; x < ref.width; ++x) {
      const int32_t got = BandPixel(bands, bandCount, x, y);
      const uint16_t want = ReferencePixel(ref, y * ref.width + x, keyed);
      ASSERT_TRUE(nearEnough ? Near(got, want) : got == want)
          << where << " at " << x << "," << y << ": " << got << " for " << want;
    }
}

void ExpectAnimation(const ContentImage* image, const std::string& name, uint16_t loopCount,
                     bool nearEnough, uint32_t minDelay) {
  const std::vector<Picture> refs = ReadPictures(ReadDataFile(name + ".pam"));
  const std::vector<FrameInfo> infos = ReadFrameList(name + ".txt");
  ASSERT_EQ(refs.size(), infos.size()) << name;
  ASSERT_FALSE(infos.empty()) << name;
  EXPECT_EQ(image->kind, ContentKind::Animation);
  EXPECT_EQ(image->width, infos[0].width);
  EXPECT_EQ(image->height, infos[0].height);
  EXPECT_EQ(image->loopCount, loopCount);
  EXPECT_EQ(image->allFrames, 1);
  ASSERT_EQ(image->frameCount, infos.size());
  size_t i = 0;
  for (const ContentImageFrame* frame = image->firstFrame; frame && i < infos.size();
       frame = frame->next, ++i) {
    const std::string where = name + " frame " + std::to_string(i);
    const FrameInfo& info = infos[i];
    ASSERT_EQ(frame->width, info.width) << where;
    ASSERT_EQ(frame->height, info.height) << where;
    ASSERT_EQ(refs[i].width, info.width) << where;
    EXPECT_EQ(frame->left, info.left) << where;
    EXPECT_EQ(frame->top, info.top) << where;
    EXPECT_EQ(frame->delay, info.delay * 10 < minDelay ? minDelay : info.delay * 10) << where;
    EXPECT_EQ(frame->complete, 1) << where;
    const bool keyed = frame->bandCount && (frame->bands[0]->flags & PglFlag::Keyed);
    ExpectBands(frame->bands, frame->bandCount, refs[i], keyed, nearEnough, where);
  }
  EXPECT_EQ(i, infos.size());
}

void SqueezeHeap(uint32_t beside, uint32_t limit, uint32_t step,
                 const std::function<void(uint32_t spare)>& run) {
  for (uint32_t spare = 0; spare < limit; spare += step) {
    const uint32_t fill = HeapGetStats().freeBytes - beside - 64 - spare;
    void* filler = MemAlloc(fill, Use::Data, Mod::TestCode);
    if (!filler) continue;
    const uint32_t freeBefore = HeapGetStats().freeBytes;
    run(spare);
    EXPECT_EQ(HeapGetStats().freeBytes, freeBefore) << spare;
    MemFree(&filler);
  }
}

std::string FileBlockName(const std::string& name, uint32_t block) {
  return name + "_block" + std::to_string(block);
}

void DecoderTest::SetUp() {
  HeapFixture::SetUp();
  freeAtStart_ = HeapGetStats().freeBytes;
}

void DecoderTest::TearDown() {
  EXPECT_EQ(HeapGetStats().freeBytes, freeAtStart_) << "the decoder left memory behind";
}

namespace {

// Reads a header token (a word or number), skipping white space and comments.
std::string Token(const std::vector<uint8_t>& f, size_t* at) {
  while (*at < f.size() && (isspace(f[*at]) || f[*at] == '#')) {
    if (f[*at] == '#')
      while (*at < f.size() && f[*at] != '\n') ++*at;
    else
      ++*at;
  }
  std::string t;
  while (*at < f.size() && !isspace(f[*at])) t += static_cast<char>(f[(*at)++]);
  return t;
}

}  // namespace

std::vector<Picture> ReadPictures(const std::vector<uint8_t>& f) {
  std::vector<Picture> out;
  size_t at = 0;
  while (at + 2 < f.size()) {
    Picture p;
    const std::string magic = Token(f, &at);
    if (magic == "P4") {
      p.width = std::stoul(Token(f, &at));
      p.height = std::stoul(Token(f, &at));
      ++at;  // the one white space before the bits
      const uint32_t rowBytes = (p.width + 7) / 8;
      if (at + size_t{rowBytes} * p.height > f.size()) return {};
      p.depth = 1;
      for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x)
          p.pixels.push_back((f[at + y * rowBytes + x / 8] >> (7 - x % 8)) & 1 ? 0 : 255);
      at += size_t{rowBytes} * p.height;
    } else if (magic == "P7") {
      for (std::string key = Token(f, &at); key != "ENDHDR"; key = Token(f, &at)) {
        if (key.empty()) return {};
        const std::string value = Token(f, &at);
        if (key == "WIDTH") p.width = std::stoul(value);
        if (key == "HEIGHT") p.height = std::stoul(value);
        if (key == "DEPTH") p.depth = std::stoul(value);
      }
      ++at;
      const size_t n = size_t{p.width} * p.height * p.depth;
      if (at + n > f.size()) return {};
      p.pixels.assign(f.begin() + at, f.begin() + at + n);
      at += n;
    } else {
      return out;
    }
    out.push_back(std::move(p));
  }
  return out;
}
