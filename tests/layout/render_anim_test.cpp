// The animation reader stepped frame by frame over images built on the
// engine heap: linked frames, frames decoded on demand (one kept at a time),
// loop counts of complete and incomplete images, one-frame images and
// frames that cannot be decoded. The heap is whole after each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/image.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "layout/render_anim.h"
#include "tests/support/engine_fixture.h"

namespace {

// Frames are told apart by their delay.
ContentImageFrame* NewFrame(uint32_t tag) {
  auto* frame = static_cast<ContentImageFrame*>(
      MemAllocZero(sizeof(ContentImageFrame) + sizeof(PglSurface*), Use::Data, Mod::TestCode));
  frame->delay = tag;
  frame->complete = 1;
  frame->bandCount = 2;
  frame->bands[0] = static_cast<PglSurface*>(MemAlloc(64, Use::Data, Mod::TestCode));
  frame->bands[1] = static_cast<PglSurface*>(MemAlloc(32, Use::Data, Mod::TestCode));
  return frame;
}

int gDecodes = 0;
uint32_t gFailFrame = 0;  // 0: every frame decodes
std::vector<uint32_t> gAsked;

ContentImageFrame* DecodeFrame(ContentImage*, uint32_t number) {
  ++gDecodes;
  gAsked.push_back(number);
  if (number == gFailFrame) return nullptr;
  return NewFrame(number);
}

struct AnimCase {
  const char* name;
  uint32_t kind;
  uint16_t frames;
  bool onDemand;
  bool keptBody;
  uint8_t complete;
  uint16_t loopCount;
  uint32_t failFrame;
  bool animated;
  const char* shown;  // frame tags over eight steps
  uint16_t plays;
  int decodes;
};

void PrintTo(const AnimCase& c, std::ostream* os) { *os << c.name; }

class RenderAnimTest : public HeapFixture, public ::testing::WithParamInterface<AnimCase> {};

TEST_P(RenderAnimTest, StepsThroughTheFrames) {
  const AnimCase& c = GetParam();
  gDecodes = 0;
  gFailFrame = c.failFrame;
  gAsked.clear();
  const uint32_t heapAtStart = HeapGetStats().freeBytes;

  auto* image = static_cast<ContentImage*>(
      MemAllocZero(sizeof(ContentImage), Use::Data, Mod::TestCode));
  image->kind = c.kind;
  image->frameCount = c.frames;
  image->loopCount = c.loopCount;
  image->allFrames = c.complete;
  image->playCounter = 9;  // the reader starts its own count
  uint8_t body[4] = {};
  if (c.onDemand) {
    image->firstFrame = NewFrame(0);
    image->decodeFrame = DecodeFrame;
    if (c.keptBody) image->keptBody = body;
  } else {
    ContentImageFrame** link = &image->firstFrame;
    for (uint32_t i = 0; i < c.frames; ++i) {
      *link = NewFrame(i);
      link = &(*link)->next;
    }
  }
  if (c.onDemand && !c.keptBody && c.frames > 1) image->firstFrame->next = NewFrame(1);
  const uint32_t heapWithImage = HeapGetStats().freeBytes;

  RenderAnimReader reader;
  EXPECT_EQ(RenderAnimStart(&reader, image), c.animated);
  EXPECT_EQ(image->playCounter, c.kind == ContentKind::Animation ? 0u : 9u);
  std::string shown;
  uint32_t heapWithOneDecoded = 0;
  for (int step = 0; step < 8; ++step) {
    ContentImageFrame* frame = RenderAnimStep(&reader);
    shown += frame ? std::to_string(frame->delay) : "-";
    if (frame) {
      EXPECT_EQ(frame, reader.frame);
    }
    // Only the frame decoded last is kept.
    if (image->currentFrame) {
      EXPECT_EQ(frame, image->currentFrame);
      if (!heapWithOneDecoded) heapWithOneDecoded = HeapGetStats().freeBytes;
      EXPECT_EQ(HeapGetStats().freeBytes, heapWithOneDecoded);
    } else {
      EXPECT_EQ(HeapGetStats().freeBytes, heapWithImage);
    }
  }
  EXPECT_EQ(shown, c.shown);
  if (c.kind == ContentKind::Animation) {
    EXPECT_EQ(image->playCounter, c.plays);
  }
  EXPECT_EQ(gDecodes, c.decodes);
  // Frames 1 up to the last, over and over (a failed frame ends a play).
  for (size_t i = 0; i < gAsked.size() && !c.failFrame; ++i)
    EXPECT_EQ(gAsked[i], 1 + i % (c.frames - 1u));

  RenderAnimEnd(&reader);
  EXPECT_EQ(image->currentFrame, nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, heapWithImage);
  for (ContentImageFrame* f = image->firstFrame; f;) {
    ContentImageFrame* next = f->next;
    RenderFreeFrame(f);
    f = next;
  }
  MemFree(&image);
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
  EXPECT_EQ(HeapValidate(), nullptr);
}

constexpr uint32_t k17 = ContentKind::Animation;

const AnimCase kCases[] = {
    {"linked, complete, two plays", k17, 3, false, false, 1, 2, 0, true, "12012222", 2, 0},
    {"linked, endless", k17, 3, false, false, 1, 0, 0, true, "12012012", 2, 0},
    {"linked, still loading", k17, 3, false, false, 0, 1, 0, true, "12012012", 2, 0},
    {"linked, one play", k17, 2, false, false, 1, 1, 0, true, "11111111", 1, 0},
    {"one complete frame", k17, 1, false, false, 1, 0, 0, false, "00000000", 0, 0},
    {"one frame still loading", k17, 1, false, false, 0, 0, 0, true, "00000000", 8, 0},
    {"no frames yet", k17, 0, false, false, 0, 0, 0, false, "--------", 0, 0},
    {"on demand, endless", k17, 4, true, true, 1, 0, 0, true, "12301230", 2, 6},
    {"on demand, one play", k17, 4, true, true, 1, 1, 0, true, "12333333", 1, 3},
    {"on demand, three plays", k17, 3, true, true, 1, 3, 0, true, "12012012", 2, 6},
    {"on demand, a frame that fails", k17, 4, true, true, 1, 0, 2, true, "10101010", 4, 8},
    {"decoder without a kept body follows links", k17, 2, true, false, 1, 0, 0, true, "10101010",
     4, 0},
    {"a still image", ContentKind::Banded, 3, false, false, 1, 0, 0, false, "--------", 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Images, RenderAnimTest, ::testing::ValuesIn(kCases));

}  // namespace
