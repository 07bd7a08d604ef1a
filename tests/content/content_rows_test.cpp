// The content handlers' rows through the real URL task and the tests' fetch
// driver: the same picture whatever the block size, bodies cut at every
// offset, raw-data loads, the table's order, the work buffer's areas, and
// the adver element's image objects; the heap is whole after every load.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "browser/status.h"
#include "browser/url.h"
#include "content/body_collect.h"
#include "content/content_label.h"
#include "content/content_rows.h"
#include "content/handover_rows.h"
#include "content/handset_rows.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "host/platform/handover.h"
#include "markup/html_node.h"
#include "tests/content/content_harness.h"
#include "tests/content/nbmp_encoder.h"
#include "tests/content/rows_fixture.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/engine_fixture.h"
#include "tools/sisenc.h"

namespace {

// A stable text of every image: geometry, frames and every band's pixels.
std::string Describe(const std::vector<void*>& objects) {
  std::string out;
  auto bands = [&out](PglSurface* const* list, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      const PglSurface* band = list[i];
      if (!band) {
        out += "[none]";  // a band not made (yet)
        continue;
      }
      out += "[" + std::to_string(band->width) + "x" + std::to_string(band->height) + "]";
      const auto* px = reinterpret_cast<const uint16_t*>(PglPixels(band));
      for (uint32_t y = 0; y < band->height; ++y)
        for (uint32_t x = 0; x < band->width; ++x) {
          char hex[8];
          snprintf(hex, sizeof hex, "%04x", px[y * band->pitch + x]);
          out += hex;
        }
    }
  };
  for (void* object : objects) {
    auto* image = static_cast<ContentImage*>(object);
    out += "kind " + std::to_string(image->kind) + " " + std::to_string(image->width) + "x" +
           std::to_string(image->height);
    if (image->kind == ContentKind::Banded) bands(image->bands, image->bandCount);
    if (image->kind == ContentKind::Animation) {
      out += " frames " + std::to_string(image->frameCount) + " loop " +
             std::to_string(image->loopCount);
      for (ContentImageFrame* f = image->firstFrame; f; f = f->next) {
        out += " f" + std::to_string(f->width) + "x" + std::to_string(f->height) + "@" +
               std::to_string(f->left) + "," + std::to_string(f->top) + " d" +
               std::to_string(f->delay) + " c" + std::to_string(f->complete);
        bands(f->bands, f->bandCount);
      }
    }
    out += ";";
  }
  return out;
}

struct Outcome {
  bool complete = false;
  Result failure = 0;
  uint32_t processCalls = 0;
  std::string picture;
  std::vector<std::string> blocks;  // raw-data output
  uint32_t typeId = 0;               // the load's type when it ended
  std::u16string labelText, labelUrl;  // the document summary of node output
};

class ContentRowsTest : public RowsFixture {
 protected:
  void SetUp() override {
    RowsFixture::SetUp();
    requester->blocks = false;
  }

  // One load of the body; `inspect` sees the image(s) before the load goes.
  template <class F>
  Outcome Fetch(const std::string& type, const std::vector<uint8_t>& bytes, uint32_t block,
                bool announce, uint32_t flags, F inspect) {
    Outcome o;
    const Ended ended = Serve(type, std::string(bytes.begin(), bytes.end()), block, announce, flags,
                              [&](UrlRequestRec* request) {
      UrlLoad* load = UrlRequestLoad(request);
      std::vector<void*> objects;
      for (QueueNode* n = load->output.head; n; n = n->next) objects.push_back(n);
      o.typeId = load->typeId;
      if (nodeOutput) {
        ContentSummary summary;
        EXPECT_EQ(WmlcBuildContentLabel(&summary, load), kOk);
        EXPECT_EQ(summary.action, kSummaryShowDocument);
        o.labelText = summary.text;
        if (summary.url) o.labelUrl = summary.url;
        MemFree(&summary.allocation);
        for (void* object : objects) {
          const auto* node = static_cast<const HtmlNode*>(object);
          o.picture += node->kind == HtmlNodeKind::Card   ? "card;"
                       : node->kind == HtmlNodeKind::Text ? "text;"
                                                          : "other;";
        }
      } else if ((flags & UrlFlag::RawData) || dataOutput) {
        for (void* object : objects) {
          auto* chunk = static_cast<UtilDataChunk*>(object);
          o.blocks.emplace_back(
              reinterpret_cast<const char*>(UtilDataChunkData(chunk)) + chunk->offset,
              chunk->remaining);
        }
      } else {
        o.picture = Describe(objects);
        inspect(objects);
      }
      if (after) after(UrlGetModule());
    });
    o.complete = ended.complete;
    o.failure = ended.failure;
    return o;
  }
  Outcome Fetch(const std::string& type, const std::vector<uint8_t>& bytes, uint32_t block,
                bool announce = true, uint32_t flags = 0) {
    return Fetch(type, bytes, block, announce, flags, [](const std::vector<void*>&) {});
  }

  // The same picture for one block, 140-byte blocks and a byte at a time,
  // with and without an announced length.
  std::string SameInEveryDelivery(const std::string& type, const std::vector<uint8_t>& bytes) {
    const Outcome whole = Fetch(type, bytes, 0);
    EXPECT_TRUE(whole.complete);
    EXPECT_EQ(whole.failure, 0u);
    for (uint32_t block : {140u, 1u})
      for (bool announce : {true, false}) {
        SCOPED_TRACE(std::to_string(block) + (announce ? " announced" : " chunked"));
        const Outcome o = Fetch(type, bytes, block, announce);
        EXPECT_TRUE(o.complete);
        EXPECT_EQ(o.picture, whole.picture);
      }
    return whole.picture;
  }

  // Every cut ends as a partial picture or a clean failure.
  void CutEverywhere(const std::string& type, const std::vector<uint8_t>& bytes, uint32_t step) {
    for (size_t n = 0; n < bytes.size(); n += step) {
      SCOPED_TRACE(n);
      std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
      const Outcome o = Fetch(type, cut, 7, n % 2 == 0);
      EXPECT_TRUE(o.complete != (o.failure != 0));
    }
  }

  std::function<void(UrlModuleContext*)> after;
  bool dataOutput = false;  // the output holds data blocks, not images
  bool nodeOutput = false;  // the output holds document nodes
};

const char* const kWbmp = "image/vnd.wap.wbmp";

// Pixels are checked against netpbm with the decoder itself; here the row
// gives the same picture however the body comes.
TEST_F(ContentRowsTest, WbmpFilesGiveOnePictureInEveryDelivery) {
  for (const char* name : {"netpbm_1x1", "netpbm_257x300", "magick_33x17"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> file = ReadDataFile(std::string("wbmp/") + name + ".wbmp");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(SameInEveryDelivery(kWbmp, file).rfind("kind 14 ", 0), 0u);
  }
}

TEST_F(ContentRowsTest, WbmpCutAtEveryOffset) {
  CutEverywhere(kWbmp, ReadDataFile("wbmp/magick_33x17.wbmp"), 1);
}

TEST_F(ContentRowsTest, WbmpOfNoWidthIsRefused) {
  const Outcome o = Fetch(kWbmp, {0x00, 0x00, 0x00, 0x01, 0x80}, 0);
  EXPECT_EQ(o.failure, 0x800f0002u);
  EXPECT_EQ(o.picture, "");
}

TEST_F(ContentRowsTest, RawDataNeverReachesTheRow) {
  const std::vector<uint8_t> file = ReadDataFile("wbmp/netpbm_8x1.wbmp");
  const Outcome o = Fetch(kWbmp, file, 2, true, UrlFlag::RawData);
  EXPECT_TRUE(o.complete);
  std::string joined;
  for (const std::string& b : o.blocks) {
    EXPECT_LE(b.size(), 2u);
    joined += b;
  }
  EXPECT_EQ(joined, std::string(file.begin(), file.end()));
}

TEST_F(ContentRowsTest, TableOrderDecidesSharedIds) {
  UrlLoad* load = nullptr;
  UrlParsed url{};
  ASSERT_EQ(UrlParse(&url, "qortest://h/x", 0), kOk);
  struct Case {
    const char* mime;
    uint32_t type, cls;
    bool handled;
  };
  for (const Case& c : {Case{"image/vnd.wap.wbmp", 33, 5, true}, Case{"image/sis", 136, 5, true},
                        Case{"image/nbmp", 137, 5, true}, Case{"image/png", 32, 5, true},
                        Case{"application/x-wap-wta-wmlc", 55, 4, true},
                        Case{"audio/k3g", 156, 0, true}, Case{"x-audio/ma5", 157, 19, false},
                        Case{"map/wbmp", 155, 0, true}, Case{"text/html", 2, 2, false}}) {
    SCOPED_TRACE(c.mime);
    load = UrlLoadCreate(&url);
    ASSERT_NE(load, nullptr);
    UrlSetContentTypeMime(load, c.mime);
    EXPECT_EQ(load->typeId, c.type);
    EXPECT_EQ(load->contentClass, c.cls);
    EXPECT_EQ(load->contentRow != nullptr, c.handled);
    UrlLoadFree(load);
  }
  // A lookup by id finds the first row with it.
  EXPECT_STREQ(UrlFindContentTypeById(155)->major, "video");
  EXPECT_STREQ(UrlFindContentTypeById(158)->major, "image");
  EXPECT_STREQ(UrlFindContentTypeById(157)->extensions, "ma5");
  UrlFreeParsed(&url);
}

// --- nbmp ------------------------------------------------------------------
std::vector<uint8_t> NbmpStream(const NbmpTestImage& image) {
  const size_t canvas = size_t{NbmpTestRowBytes(image.width, image.depthCode)} * image.height;
  return NbmpTestStream(image, std::vector<uint8_t>(canvas, 0), false);
}
std::vector<uint8_t> NbmpBody(const NbmpTestImage& image) {
  return NbmpTestPackMemory(NbmpStream(image));
}

TEST_F(ContentRowsTest, NbmpRandomAnimationsGiveOnePictureInEveryDelivery) {
  std::mt19937 rng(1803);
  for (int i = 0; i < 6; ++i) {
    NbmpTestImage image = NbmpTestRandomImage(rng);
    if (image.depthCode == 1) image.depthCode = 2;
    SCOPED_TRACE(i);
    const std::vector<uint8_t> body = NbmpBody(image);
    const std::string picture = SameInEveryDelivery("image/nbmp", body);
    EXPECT_NE(picture.find("kind 17"), std::string::npos);
  }
}

TEST_F(ContentRowsTest, NbmpFramesBandsAndLoops) {
  NbmpTestImage image;
  image.width = 100;
  image.height = 10;
  image.loopCount = 3;
  image.depthCode = 0;
  NbmpTestFrame f{0, 0, 100, 10, 5, std::vector<uint8_t>(13 * 10, 0xF0)};
  image.frames.push_back(f);
  image.frames.push_back(NbmpTestFrame{0, 0, 0, 0, 1, {}});  // no size: skipped
  Fetch("image/nbmp", NbmpBody(image), 0, true, 0, [](const std::vector<void*>& objects) {
    ASSERT_EQ(objects.size(), 1u);
    auto* img = static_cast<ContentImage*>(objects[0]);
    EXPECT_EQ(img->kind, ContentKind::Animation);
    EXPECT_EQ(img->loopCount, 3);
    ASSERT_EQ(img->frameCount, 1);
    ContentImageFrame* frame = img->firstFrame;
    EXPECT_EQ(frame->delay, 500u);
    EXPECT_EQ(frame->bandCount, 5);  // 512 div 200 = 2 rows a band
    EXPECT_EQ(frame->bands[0]->height, 2u);
    EXPECT_EQ(BandPixel(frame->bands, frame->bandCount, 0, 9), 0x0000);
    EXPECT_EQ(BandPixel(frame->bands, frame->bandCount, 4, 9), 0xFFFF);
  });
}

// Small images whose whole picture is known: four greys in their shades; a
// frame wider than the canvas (eight pixels fit its one byte a row, not its
// five columns) shows its first pixel; frames of no size leave an image
// without frames; depth one is refused by the row.
TEST_F(ContentRowsTest, NbmpSmallPictures) {
  struct Case {
    uint32_t width, height, depthCode, loopCount;
    std::vector<NbmpTestFrame> frames;
    Result failure;
    const char* picture;
  };
  const Case cases[] = {
      {5, 2, 2, 0, {{0, 0, 5, 2, 1, {0x1B, 0x80, 0xE4, 0x40}}}, 0,
       "kind 17 5x2 frames 1 loop 0 f5x2@0,0 d100 c1[5x2]ffffd69aad550000ad550000ad55d69affffd69a;"},
      {5, 2, 0, 0, {{0, 0, 8, 2, 1, {0x80, 0x00}}}, 0,
       "kind 17 5x2 frames 1 loop 0 f1x1@0,0 d100 c1[1x1]0000;"},
      {16, 4, 0, 2, {{0, 0, 0, 0, 1, {}}, {3, 1, 0, 2, 1, {}}}, 0, "kind 17 16x4 frames 0 loop 2;"},
      {4, 4, 1, 0, {{0, 0, 4, 4, 1, std::vector<uint8_t>(4, 0x1B)}}, NbmpRowErr::Malformed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    NbmpTestImage image;
    image.width = c.width;
    image.height = c.height;
    image.depthCode = c.depthCode;
    image.loopCount = c.loopCount;
    image.frames = c.frames;
    const Outcome o = Fetch("image/nbmp", NbmpBody(image), 0);
    EXPECT_EQ(o.failure, c.failure);
    EXPECT_EQ(o.complete, c.failure == 0);
    EXPECT_EQ(o.picture, c.picture);
  }
}

TEST_F(ContentRowsTest, NbmpCutAtEveryOffset) {
  std::mt19937 rng(7);
  NbmpTestImage image = NbmpTestRandomImage(rng);
  CutEverywhere("image/nbmp", NbmpBody(image), 3);
}

TEST_F(ContentRowsTest, BodyLongerThanAnnouncedIsRefused) {
  NbmpTestImage image;
  image.width = image.height = 8;
  image.frames.push_back(NbmpTestFrame{0, 0, 8, 8, 1, std::vector<uint8_t>(8, 0x55)});
  std::vector<uint8_t> body = NbmpBody(image);
  // The driver announces the true length; a body over the row's room is
  // refused however it comes.
  std::vector<uint8_t> huge(kNbmpBodyRoom + 1, 0);
  EXPECT_EQ(Fetch("image/nbmp", huge, 4096, false).failure, NbmpRowErr::Malformed);
  EXPECT_EQ(Fetch("image/nbmp", huge, 4096, true).failure, NbmpRowErr::Malformed);
  EXPECT_TRUE(Fetch("image/nbmp", body, 3, false).complete);
}

// The collector on a load of its own: what the scheme announced decides
// when the body is whole and how much it may hold.
TEST_F(ContentRowsTest, BodyCollectorKeepsToTheAnnouncedLength) {
  const uint32_t heap = HeapGetStats().freeBytes;
  UrlParsed url{};
  ASSERT_EQ(UrlParse(&url, "qortest://h/x", 0), kOk);
  const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  struct Case {
    uint32_t announced, delivered, room;
    bool ended;
    Result result;
    bool complete;
  };
  constexpr Result kLong = 0x80FF0002, kMem = 0x80FF0001;
  for (const Case& c : {Case{10, 10, 100, false, kOk, true}, Case{10, 4, 100, false, kOk, false},
                        Case{10, 4, 100, true, kOk, true}, Case{4, 10, 100, false, kLong, false},
                        Case{0, 10, 100, false, kOk, false}, Case{0, 10, 100, true, kOk, true},
                        Case{0, 10, 6, true, kLong, false}, Case{200, 10, 100, false, kLong, false},
                        Case{0, 0, 100, true, kOk, true}}) {
    SCOPED_TRACE(std::to_string(c.announced) + " " + std::to_string(c.delivered) + " " +
                 std::to_string(c.room) + (c.ended ? " ended" : ""));
    UrlLoad* load = UrlLoadCreate(&url);
    ASSERT_NE(load, nullptr);
    load->announcedLength = c.announced;
    for (uint32_t at = 0; at < c.delivered; at += 3)
      UrlLoadDeliver(load, bytes + at, c.delivered - at < 3 ? c.delivered - at : 3);
    load->endOfData = c.ended;
    ContentBody body{};
    ContentBodyState state;
    EXPECT_EQ(ContentBodyCollect(&body, load, c.room, Mod::TestCode, kMem, kLong, &state), c.result);
    if (c.result == kOk) {
      EXPECT_EQ(state == ContentBodyState::Complete, c.complete);
      EXPECT_EQ(body.size, c.delivered);
      EXPECT_EQ(load->input.head, nullptr);
      if (c.delivered) {
        EXPECT_EQ(std::memcmp(body.bytes, bytes, c.delivered), 0);
      }
    }
    ContentBodyFree(&body);
    UrlLoadFree(load);
  }
  UrlFreeParsed(&url);
  EXPECT_EQ(HeapGetStats().freeBytes, heap);
}

// --- sis -------------------------------------------------------------------
std::vector<uint8_t> SisBody(uint32_t frames, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> pixels(4 * 8 * 3);  // 32 x 24 pixels, one bit each
  for (uint8_t& b : pixels) b = static_cast<uint8_t>(rng());
  return SisMonoImage(4, 3, pixels, frames, seed % 2 == 0, 3);
}

TEST_F(ContentRowsTest, SisImagesGiveOnePictureInEveryDelivery) {
  for (uint32_t frames : {1u, 3u}) {
    SCOPED_TRACE(frames);
    SameInEveryDelivery("image/sis", SisBody(frames, frames));
  }
}

TEST_F(ContentRowsTest, SisOneFrameKeepsNoBodyThreeFramesDecodeOnDemand) {
  Fetch("image/sis", SisBody(1, 4), 0, true, 0, [](const std::vector<void*>& objects) {
    ASSERT_EQ(objects.size(), 1u);
    auto* image = static_cast<ContentImage*>(objects[0]);
    EXPECT_EQ(image->frameCount, 1);
    EXPECT_EQ(image->keptBody, nullptr);
    EXPECT_EQ(image->decodeFrame, nullptr);
    ASSERT_NE(image->firstFrame, nullptr);
    EXPECT_EQ(image->firstFrame->width, 32);
    EXPECT_EQ(image->firstFrame->height, 24);
  });
  Fetch("image/sis", SisBody(3, 6), 0, true, 0, [](const std::vector<void*>& objects) {
    ASSERT_EQ(objects.size(), 1u);
    auto* image = static_cast<ContentImage*>(objects[0]);
    EXPECT_EQ(image->frameCount, 3);
    ASSERT_NE(image->keptBody, nullptr);
    ASSERT_NE(image->decodeFrame, nullptr);
    for (uint32_t i = 1; i < 3; ++i) {
      ContentImageFrame* frame = image->decodeFrame(image, i);
      ASSERT_NE(frame, nullptr);
      EXPECT_EQ(frame->width, 32);
      ContentFrameFree(frame);
    }
    // At or past the count there is no frame.
    EXPECT_EQ(image->decodeFrame(image, 3), nullptr);
    EXPECT_EQ(image->decodeFrame(image, 1000), nullptr);
  });
}

// An 8-bit animation with the grey-ramp palette: frames are cut from the
// decoder's 256-pixel rows to the canvas, and later frames decode on demand.
std::vector<uint8_t> SafBody(uint32_t frames) {
  SafBuilder b;
  b.width = 40;
  b.height = 30;
  b.frames = frames;
  std::vector<uint8_t> ramp(8);
  for (uint32_t i = 0; i < 8; ++i) ramp[i] = static_cast<uint8_t>(i * 7 + 1);
  b.Object(0, 4, 2, 1, 0, SisZlib(ramp, 0));
  for (uint32_t f = 0; f < frames; ++f)
    b.Frame(3 + 40 * f, {{0, 5, 0, 0, 0, static_cast<uint8_t>(2 + f), 1}});
  return b.File();
}

constexpr uint16_t Grey(uint32_t v) {
  return static_cast<uint16_t>((v >> 3) << 11 | (v >> 2) << 5 | v >> 3);
}

TEST_F(ContentRowsTest, SisPaletteAnimationsThroughTheRow) {
  SameInEveryDelivery("image/sis", SafBody(1));
  Fetch("image/sis", SafBody(3), 0, true, 0, [](const std::vector<void*>& objects) {
    ASSERT_EQ(objects.size(), 1u);
    auto* image = static_cast<ContentImage*>(objects[0]);
    EXPECT_EQ(image->width, 40);
    EXPECT_EQ(image->height, 30);
    EXPECT_EQ(image->frameCount, 3);
    ContentImageFrame* f = image->firstFrame;
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->width, 40);
    EXPECT_EQ(f->height, 30);
    EXPECT_EQ(f->bands[0]->height, 6u);  // 512 div 80
    EXPECT_EQ(BandPixel(f->bands, f->bandCount, 0, 0), Grey(3));
    EXPECT_EQ(BandPixel(f->bands, f->bandCount, 3, 1), Grey(8));
    EXPECT_EQ(BandPixel(f->bands, f->bandCount, 39, 29), Grey(3));
    ContentImageFrame* second = image->decodeFrame(image, 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(BandPixel(second->bands, second->bandCount, 0, 0), Grey(83));
    EXPECT_EQ(BandPixel(second->bands, second->bandCount, 4, 1), Grey(1));
    ContentFrameFree(second);
  });
}

TEST_F(ContentRowsTest, SisStaysInsideItsWorkAreas) {
  before = [](UrlModuleContext* m) {
    LibcMemSet(m->workBuffer + WorkArea::SisNeeds, 0xA5, m->workBufferSize - WorkArea::SisNeeds);
  };
  bool untouched = false;
  after = [&untouched](UrlModuleContext* m) {
    untouched = true;
    for (uint32_t i = WorkArea::SisNeeds; i < m->workBufferSize; ++i)
      if (m->workBuffer[i] != 0xA5) untouched = false;
  };
  Fetch("image/sis", SisBody(3, 8), 0);
  EXPECT_TRUE(untouched);
}

TEST_F(ContentRowsTest, SisCutAtEveryOffsetAndGarbage) {
  CutEverywhere("image/sis", SisBody(3, 10), 1);
  EXPECT_EQ(Fetch("image/sis", std::vector<uint8_t>(300, 0x42), 0).failure, SisRowErr::Malformed);
}

// --- The adver element's image objects ---------------------------------------
class AdverImageTest : public EngineFixture {
 protected:
  AdverImageTest() : EngineFixture(4u << 20) {}
  void SetUp() override {
    EngineFixture::SetUp();
    ContentRowsInstall();
    work.resize(kUrlWorkBufferSize);
    owner = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
    heapAtStart = HeapGetStats().freeBytes;
  }
  void TearDown() override {
    if (statusStarted) StatusStopTask(owner->task());
    Pump();
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    owner.reset();
    ContentRowsRemove();
    EngineFixture::TearDown();
  }
  void StartStatus() {
    ASSERT_EQ(StatusCreateTask(owner->task()), kOk);
    statusStarted = true;
    Pump();
  }
  std::unique_ptr<Recorder> owner;
  bool statusStarted = false;
  Result Decode(uint8_t source, const std::u16string& text) {
    HtmlImageObject record{};
    record.sourceType = source;
    record.text = static_cast<char16_t*>(MemAlloc(2 * (text.size() + 1), Use::Data, Mod::WtlHtml));
    for (size_t i = 0; i <= text.size(); ++i) record.text[i] = i < text.size() ? text[i] : 0;
    record.workBuffer = work.data();
    record.workBufferSize = static_cast<uint32_t>(work.size());
    Result r = HtmlImageObjectDecode(&record);
    EXPECT_EQ(record.text, nullptr);
    Pump();
    return r;
  }
  std::vector<uint8_t> work;
  uint32_t heapAtStart = 0;
};

TEST_F(AdverImageTest, WithoutStatusTaskTheImageIsBuiltAndDropped) {
  EXPECT_EQ(Decode(HtmlImageSource::Str, u"a|b|c"), 3u);
}

TEST_F(AdverImageTest, TextImageHasOneFramePerMessage) {
  StartStatus();
  ASSERT_EQ(Decode(HtmlImageSource::Str, u"one|two|three"), kOk);
  auto* image = static_cast<ContentImage*>(StatusGetImage());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->textImage, 1u);
  EXPECT_EQ(image->frameCount, 3);
  EXPECT_EQ(image->firstFrame->delay, 20u);
}

TEST_F(AdverImageTest, TheDocumentModelHandsItsAdverElementOver) {
  StartStatus();
  HtmlNode* node = HtmlAdverCreate(work.data(), static_cast<uint32_t>(work.size()));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(HtmlAdverAttribute(node, "inline", u"first|second"), kOk);
  EXPECT_EQ(HtmlAdverAttribute(node, "type", u"STR"), kOk);
  Pump();
  auto* image = static_cast<ContentImage*>(StatusGetImage());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->frameCount, 2);
  HtmlNodeFree(node);
  // A type that names no image tells the status indicator there is none
  // (14600): the kept image is released through the image handlers' own
  // release, which the heap check at the end sees.
  node = HtmlAdverCreate(work.data(), static_cast<uint32_t>(work.size()));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(HtmlAdverAttribute(node, "type", u"gif"), kOk);
  Pump();
  EXPECT_EQ(StatusGetImage(), nullptr);
  HtmlNodeFree(node);
}

TEST_F(AdverImageTest, BadTextPostsNothing) {
  StartStatus();
  EXPECT_EQ(Decode(HtmlImageSource::Sis, u"bm90IGFuIGltYWdl"), SisRowErr::Malformed);
  EXPECT_EQ(Decode(HtmlImageSource::Nbmp, u"!!!!"), NbmpRowErr::Malformed);
  EXPECT_EQ(StatusGetImage(), nullptr);
  std::vector<uint8_t> small(1000);
  HtmlImageObject record{};
  record.sourceType = HtmlImageSource::Sis;
  record.workBuffer = small.data();
  record.workBufferSize = static_cast<uint32_t>(small.size());
  EXPECT_EQ(HtmlImageObjectDecode(&record), kHtmlObjectNoMemory);
}

TEST_F(AdverImageTest, NbmpTextPlaysWithoutEnd) {
  StartStatus();
  std::mt19937 rng(3);
  NbmpTestImage image = NbmpTestRandomImage(rng);
  if (image.depthCode == 1) image.depthCode = 2;
  image.loopCount = 4;
  const std::string text = NbmpTestPackText(NbmpStream(image), nullptr);
  ASSERT_EQ(Decode(HtmlImageSource::Nbmp, std::u16string(text.begin(), text.end())), kOk);
  auto* posted = static_cast<ContentImage*>(StatusGetImage());
  ASSERT_NE(posted, nullptr);
  EXPECT_EQ(posted->loopCount, 0);
}

TEST_F(AdverImageTest, ThreeFrameSisDecodesEveryFrameAtOnce) {
  StartStatus();
  const std::vector<uint8_t> body = SisBody(3, 12);
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u16string text;
  for (size_t i = 0; i < body.size(); i += 3) {
    uint32_t v = body[i] << 16 | (i + 1 < body.size() ? body[i + 1] << 8 : 0) |
                 (i + 2 < body.size() ? body[i + 2] : 0);
    text += kAlphabet[v >> 18];
    text += kAlphabet[(v >> 12) & 63];
    text += i + 1 < body.size() ? kAlphabet[(v >> 6) & 63] : '=';
    text += i + 2 < body.size() ? kAlphabet[v & 63] : '=';
  }
  ASSERT_EQ(Decode(HtmlImageSource::Sis, text), kOk);
  auto* posted = static_cast<ContentImage*>(StatusGetImage());
  ASSERT_NE(posted, nullptr);
  EXPECT_EQ(posted->frameCount, 3);
  uint32_t withBands = 0;
  for (ContentImageFrame* f = posted->firstFrame; f; f = f->next) withBands += f->bandCount > 0;
  EXPECT_EQ(withBands, 3u);
}

// The rows over the outside formats' decoders: a real file of each gives one
// picture in every delivery, through the URL task and the work buffer, and a
// refused kind fails the load with its decoder's code.
TEST_F(ContentRowsTest, JpegPngAndMngRowsGiveOnePictureInEveryDelivery) {
  const struct {
    const char* type;
    const char* file;
    const char* look;  // what the picture description starts with
  } kRows[] = {
      {"image/jpeg", "jpeg/b420.jpg", "kind 14 "},
      {"image/jpeg", "jpeg/grey.jpg", "kind 14 "},
      {"image/png", "png/rgba8.png", "kind 14 "},
      {"image/png", "png/palette_trns.png", "kind 14 "},
      {"image/mng", "mng/thrice.mng", "kind 17 "},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.file);
    const std::vector<uint8_t> file = ReadDataFile(row.file);
    ASSERT_FALSE(file.empty());
    const std::string picture = SameInEveryDelivery(row.type, file);
    EXPECT_EQ(picture.rfind(row.look, 0), 0u) << picture.substr(0, 40);
  }
  const Outcome progressive = Fetch("image/jpeg", ReadDataFile("jpeg/progressive.jpg"), 0);
  EXPECT_EQ(progressive.failure, 0x80108001u);
}

// Generic WBXML takes the type its public identifier names, and that row
// handles the body from then on; other identifiers leave it unused.
TEST_F(ContentRowsTest, WbxmlIsRetypedByItsPublicIdentifier) {
  dataOutput = true;
  struct Case {
    uint8_t publicId;
    uint32_t typeId;
    bool passesOn;
  };
  // Rows with no handler yet pass the body on unchanged under the new type.
  const Case cases[] = {
      {7, UrlType::Wbxml, false}, {0, UrlType::Wbxml, false},
      {11, UrlType::ConnectivityWbxml, true}, {5, UrlType::Sic, true},
  };
  for (const Case& c : cases)
    for (uint32_t block : {0u, 1u}) {
      SCOPED_TRACE(std::to_string(c.publicId) + " in blocks of " + std::to_string(block));
      const std::vector<uint8_t> body = {0x03, c.publicId, 0x6A, 0x00, 0x7F, 0x01};
      const Outcome o = Fetch("application/vnd.wap.wbxml", body, block);
      EXPECT_TRUE(o.complete);
      EXPECT_EQ(o.failure, 0u);
      EXPECT_EQ(o.typeId, c.typeId);
      std::string out;
      for (const std::string& b : o.blocks) out += b;
      EXPECT_EQ(out, c.passesOn ? std::string(body.begin(), body.end()) : "");
    }
  // A body of one byte names no document.
  const Outcome one = Fetch("application/vnd.wap.wbxml", {0x03}, 0);
  EXPECT_TRUE(one.complete);
  EXPECT_EQ(one.typeId, UrlType::Wbxml);
}

// A compiled deck becomes its cards and texts, however it arrives and
// whether it comes as WMLC or as generic WBXML naming WML.
TEST_F(ContentRowsTest, CompiledDecksBecomeCardsAndTexts) {
  nodeOutput = true;
  const std::vector<uint8_t> deck = ReadDataFile("wbxml/deck.wbxml");
  ASSERT_FALSE(deck.empty());
  const Outcome whole = Fetch("application/vnd.wap.wmlc", deck, 0);
  EXPECT_TRUE(whole.complete);
  EXPECT_EQ(whole.picture.substr(0, 5), "card;");
  // Labelled with its first text and its address.
  EXPECT_EQ(whole.labelText.substr(0, 15), u"Welcome & hello");
  EXPECT_EQ(whole.labelUrl, u"qortest://h/body");
  EXPECT_NE(whole.picture.find("card;", 5), std::string::npos);  // two cards
  for (const char* type : {"application/vnd.wap.wmlc", "application/x-wap-wta-wmlc",
                           "application/vnd.wap.wbxml"})
    for (uint32_t block : {1u, 7u}) {
      SCOPED_TRACE(std::string(type) + " " + std::to_string(block));
      const Outcome o = Fetch(type, deck, block, block == 7);
      EXPECT_TRUE(o.complete);
      EXPECT_EQ(o.failure, 0u);
      EXPECT_EQ(o.picture, whole.picture);
    }
  // Not a deck: the build error with the row's base.
  const Outcome bad = Fetch("application/vnd.wap.wmlc", {0x03, 0x05, 0x6A, 0x00, 0x45, 0x01}, 0);
  EXPECT_EQ(bad.failure, 0x80260002u);
}

// What the handset was handed, and what it answers.
struct Handed {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> usat;
  std::vector<std::string> media;  // "major:body"
  std::vector<std::string> maps;   // "type:body"
  std::vector<std::string> info;   // "text|back address"
  Result answer = kOk;
  static Handed* current;
};
Handed* Handed::current = nullptr;

Result StoreRecord(const char* a, const char* b, const char* c, const char* d, const char* e,
                   const char* f) {
  Handed::current->records.push_back({a, b, c, d, e, f});
  return Handed::current->answer;
}
Result SaveUsat(const char* text) {
  Handed::current->usat.push_back(text);
  return Handed::current->answer;
}
Result SaveMedia(const uint8_t* body, uint32_t length, const char* major, uint32_t unused) {
  EXPECT_EQ(unused, 0u);
  Handed::current->media.push_back(std::string(major) + ":" +
                                   std::string(reinterpret_cast<const char*>(body), length));
  return Handed::current->answer;
}
Result LaunchMap(const uint8_t* body, uint32_t length, uint32_t typeId, uint32_t unused) {
  EXPECT_EQ(unused, 0u);
  Handed::current->maps.push_back(std::to_string(typeId) + ":" +
                                  std::string(reinterpret_cast<const char*>(body), length));
  return Handed::current->answer;
}
Result InfoHook(const char* text, const char* back) {
  Handed::current->info.push_back(std::string(text) + "|" + (back ? back : "none"));
  return Handed::current->answer;
}
constexpr HandoverOps kRecordingHandset{StoreRecord, SaveUsat, SaveMedia, LaunchMap, InfoHook};

class HandoverRowsTest : public ContentRowsTest {
 protected:
  void SetUp() override {
    ContentRowsTest::SetUp();
    Handed::current = &handed;
    old = HandoverInstall(&kRecordingHandset);
    dataOutput = true;
  }
  void TearDown() override {
    HandoverInstall(old);
    Handed::current = nullptr;
    ContentRowsTest::TearDown();
  }
  std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
  Handed handed;
  const HandoverOps* old = nullptr;
};

TEST_F(HandoverRowsTest, PimsRecordsGoToTheStoreFieldByField) {
  const std::string forty(40, 'z');
  for (uint32_t block : {0u, 1u, 7u}) {
    SCOPED_TRACE(block);
    handed.records.clear();
    const Outcome o = Fetch("application/pims",
                            Bytes("abcdefg;2;" + forty + ";4;5;6;7\r\nx;y\r\n\r\n"), block);
    EXPECT_EQ(o.failure, PimsCode::Stored);
    const std::vector<std::vector<std::string>> expected = {
        {"abcde", "2", std::string(32, 'z'), "4", "5", "6"},
        {"x", "y", "", "", "", ""},
        {"", "", "", "", "", ""},
    };
    EXPECT_EQ(handed.records, expected);
  }
}

TEST_F(HandoverRowsTest, PimsStoreRefusalEndsTheLoadWithItsAnswer) {
  handed.answer = 0x80990001;
  const Outcome o = Fetch("application/pims", Bytes("a\r\nb\r\n"), 0);
  EXPECT_EQ(o.failure, 0x80990001u);
  EXPECT_EQ(handed.records.size(), 1u);
}

TEST_F(HandoverRowsTest, UsatBodyGoesWholeToTheHandset) {
  for (bool announce : {true, false})
    for (uint32_t block : {0u, 3u}) {
      handed.usat.clear();
      const Outcome o = Fetch("application/usat", Bytes("D0 0A 81 03"), block, announce);
      EXPECT_EQ(o.failure, UsatCode::Taken);
      EXPECT_EQ(handed.usat, std::vector<std::string>{"D0 0A 81 03"});
    }
  handed.answer = 1;
  EXPECT_EQ(Fetch("application/usat", Bytes("x"), 0).failure, UsatCode::Refused);
  EXPECT_EQ(Fetch("application/usat", {}, 0, false).failure, UsatCode::Refused);
}

std::vector<std::string> gProvisioned;
void Provision(uint8_t* buffer, uint32_t length) {
  gProvisioned.emplace_back(reinterpret_cast<const char*>(buffer), length);
}

TEST_F(HandoverRowsTest, NdwnDownloadIsHeldAndHandedToProvisioning) {
  std::vector<uint8_t> item(1000);
  for (size_t i = 0; i < item.size(); ++i) item[i] = static_cast<uint8_t>(i * 7);
  NdwnSetProvisioningHook(Provision);
  gProvisioned.clear();
  std::string held;
  after = [&](UrlModuleContext*) {
    uint32_t length = 0;
    const uint8_t* bytes = NdwnHeldItem(&length);
    held.assign(reinterpret_cast<const char*>(bytes), length);
    NdwnHeldItemFree();
  };
  for (uint32_t block : {250u, 1u}) {
    SCOPED_TRACE(block);
    held.clear();
    const Outcome o = Fetch("application/ndwn", item, block);
    EXPECT_EQ(o.failure, NdwnCode::HandedOver);
    EXPECT_EQ(held, std::string(item.begin(), item.end()));
  }
  EXPECT_EQ(gProvisioned.size(), 2u);
  EXPECT_EQ(gProvisioned.back(), std::string(item.begin(), item.end()));
  NdwnSetProvisioningHook(nullptr);
}

TEST_F(HandoverRowsTest, WholeBodiesGoToTheirHandsetServices) {
  struct Case {
    const char* type;
    Result result;
    std::vector<std::string> media, maps;
  };
  const Case cases[] = {
      {"video/k3g", MediaCode::Saved, {"video:BODY"}, {}},
      {"audio/k3g", MediaCode::Saved, {"audio:BODY"}, {}},
      {"map/nbmp", 0, {}, {"155:BODY"}},
      {"map/gif", 0, {}, {"155:BODY"}},
      {"application/3d", 0, {}, {}},
      {"application/game_info", GameInfoCode::Taken, {}, {}},
      {"platform/app", PuiCode::Taken, {}, {}},
  };
  for (const Case& c : cases)
    for (bool announce : {true, false})
      for (uint32_t block : {0u, 1u}) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(block));
        handed.media.clear();
        handed.maps.clear();
        const Outcome o = Fetch(c.type, Bytes("BODY"), block, announce);
        EXPECT_EQ(o.failure, c.result);
        EXPECT_EQ(o.complete, c.result == 0);
        EXPECT_EQ(handed.media, c.media);
        EXPECT_EQ(handed.maps, c.maps);
        handed.info.clear();
      }
  // Without a browser there is no page to go back to.
  Fetch("platform/app", Bytes("app=1"), 1);
  EXPECT_EQ(handed.info, std::vector<std::string>{"app=1|none"});
}

// Without a page the reply's pairs find no fields; the load still completes
// and leaves nothing behind in every delivery.
TEST_F(HandoverRowsTest, FormReplyCompletesWithoutAPage) {
  for (uint32_t block : {0u, 1u, 3u}) {
    const Outcome o = Fetch("application/x-www-form-urlencoded", Bytes("a=1&b=%C3%A9&c"), block);
    EXPECT_TRUE(o.complete);
    EXPECT_EQ(o.failure, 0u);
    EXPECT_TRUE(o.blocks.empty());
  }
}

// Without a title a label names the kind of content; the second card's
// title counts when no text comes before it.
TEST_F(ContentRowsTest, LabelsWithoutATitleNameTheKindOfContent) {
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  UrlParsed url{};
  ASSERT_EQ(UrlParse(&url, "http://h/p", 0), kOk);
  struct Case {
    uint32_t typeId, cls;
    const char16_t* text;
  };
  for (const Case& c : {Case{54, 0, u"새설정"}, Case{7, 2, u"연락처"}, Case{6, 2, u"직위"},
                        Case{32, 5, u"이미지"}, Case{2, 2, u"웹페이지"}, Case{18, 9, u"폼데이타"}}) {
    UrlLoad* load = UrlLoadCreate(&url);
    ASSERT_NE(load, nullptr);
    load->typeId = c.typeId;
    load->contentClass = c.cls;
    ContentSummary summary;
    ASSERT_EQ(WmlcBuildContentLabel(&summary, load), kOk);
    EXPECT_EQ(std::u16string(summary.text), c.text);
    EXPECT_EQ(std::u16string(summary.url), u"http://h/p");
    MemFree(&summary.allocation);
    UrlLoadFree(load);
  }
  UrlLoad* load = UrlLoadCreate(&url);
  load->typeId = UrlType::Wmlc;
  load->contentClass = 3;
  for (const char16_t* title : {u"One", u"Two"}) {
    HtmlNode* card = HtmlNodeCreate(HtmlNodeKind::Card);
    card->title = static_cast<char16_t*>(MemAlloc(8, Use::String, 28));
    std::char_traits<char16_t>::copy(card->title, title, 4);
    card->titleLength = 3;
    QueueAppend(&load->output, reinterpret_cast<QueueNode*>(card));
  }
  ContentSummary summary;
  ASSERT_EQ(WmlcBuildContentLabel(&summary, load), kOk);
  EXPECT_EQ(std::u16string(summary.text), u"Two");
  MemFree(&summary.allocation);
  HtmlFreeNodeList(&load->output, HtmlListKind::Nodes);
  UrlLoadFree(load);
  UrlFreeParsed(&url);
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

}  // namespace
