#include "tests/content/content_harness.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "kernel/mem.h"

std::vector<uint8_t> ReadDataFile(const std::string& relative) {
  std::ifstream in(std::string(QOR_TEST_DATA) + "/" + relative, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

DecodeRun RunDecoder(StepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                     uint32_t blockSize, bool ended, uint32_t requestFlags) {
  DecodeRun run;
  Queue input{};
  ContentFeed feed{&input, 0, &run.output, 0, requestFlags};
  void* state = nullptr;
  const size_t block = blockSize ? blockSize : (bytes.empty() ? 1 : bytes.size());
  size_t at = 0;
  for (;;) {
    if (at < bytes.size()) {
      const size_t n = bytes.size() - at < block ? bytes.size() - at : block;
      UtilDataChunkAppend(&input, bytes.data() + at, static_cast<uint32_t>(n), Mod::TestCode);
      at += n;
    }
    if (at >= bytes.size() && ended) feed.endOfData = 1;
    run.result = step(&state, &feed);
    if (run.result != kOk || (feed.events & ContentEvent::Done) || at >= bytes.size()) break;
  }
  run.events = feed.events;
  run.stateFreed = state == nullptr;
  release(&state);
  UtilDataChunkFreeQueue(&input);
  return run;
}

DecodeRun RunWholeDecoder(WholeStepFn step, ReleaseFn release, const std::vector<uint8_t>& bytes,
                          uint32_t blockSize, bool announce, bool ended, uint32_t workSize) {
  DecodeRun run;
  Queue input{};
  ContentFeed feed{&input, 0, &run.output, 0, 0};
  auto* work = static_cast<uint8_t*>(MemAlloc(workSize ? workSize : 1, Use::Data, Mod::TestCode));
  memset(work, 0xA5, workSize);
  ContentSource source{announce ? static_cast<uint32_t>(bytes.size()) : 0, 0, work, workSize};
  void* state = nullptr;
  const size_t block = blockSize ? blockSize : (bytes.empty() ? 1 : bytes.size());
  size_t at = 0;
  for (;;) {
    if (at < bytes.size()) {
      const size_t n = bytes.size() - at < block ? bytes.size() - at : block;
      UtilDataChunkAppend(&input, bytes.data() + at, static_cast<uint32_t>(n), Mod::TestCode);
      at += n;
      source.deliveredCount = static_cast<uint32_t>(at);
    }
    if (at >= bytes.size() && ended) feed.endOfData = 1;
    run.result = step(&state, &feed, &source);
    if (run.result != kOk || (feed.events & ContentEvent::Done) || at >= bytes.size()) break;
  }
  run.events = feed.events;
  run.stateFreed = state == nullptr;
  release(&state);
  UtilDataChunkFreeQueue(&input);
  MemFree(&work);
  return run;
}

namespace {

void FreeBands(PglSurface** bands, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) MemFree(&bands[i]);
}

}  // namespace

void FreeOutput(Queue* output) {
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
          p.pixels.push_back((f[at + y * rowBytes + x / 8] >> (7 - x % 8)) & 1);
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
