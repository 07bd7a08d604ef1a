// The content handlers' rows through the real URL task and the tests' fetch
// driver; the heap is whole after every load.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "browser/status.h"
#include "browser/url.h"
#include "content/content_label.h"
#include "content/content_rows.h"
#include "content/handover_rows.h"
#include "content/handset_rows.h"
#include "kernel/heap.h"
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
  auto n = [](uint32_t v) { return std::to_string(v); };
  auto bands = [&](PglSurface* const* list, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      const PglSurface* band = list[i];
      out += band ? "[" + n(band->width) + "x" + n(band->height) + "]" : "[none]";
      const auto* px = band ? reinterpret_cast<const uint16_t*>(PglPixels(band)) : nullptr;
      for (uint32_t y = 0; band && y < band->height; ++y)
        for (uint32_t x = 0; x < band->width; ++x) {
          char hex[8];
          snprintf(hex, sizeof hex, "%04x", px[y * band->pitch + x]);
          out += hex;
        }
    }
  };
  for (void* object : objects) {
    auto* image = static_cast<ContentImage*>(object);
    out += "kind " + n(image->kind) + " " + n(image->width) + "x" + n(image->height);
    if (image->kind == ContentKind::Banded) bands(image->bands, image->bandCount);
    if (image->kind == ContentKind::Animation) {
      out += " frames " + n(image->frameCount) + " loop " + n(image->loopCount);
      for (ContentImageFrame* f = image->firstFrame; f; f = f->next) {
        out += " f" + n(f->width) + "x" + n(f->height) + "@" + n(f->left) + "," + n(f->top) + " d" +
               n(f->delay) + " c" + n(f->complete);
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
  std::string picture;
  std::vector<std::string> blocks;  // data output
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
  Outcome Fetch(const std::string& type, const std::vector<uint8_t>& bytes, uint32_t block,
                bool announce = true) {
    Outcome o;
    const Ended ended = Serve(type, std::string(bytes.begin(), bytes.end()), block, announce, 0,
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
      } else if (dataOutput) {
        for (void* object : objects) {
          auto* chunk = static_cast<UtilDataChunk*>(object);
          o.blocks.emplace_back(
              reinterpret_cast<const char*>(UtilDataChunkData(chunk)) + chunk->offset,
              chunk->remaining);
        }
      } else {
        o.picture = Describe(objects);
        if (inspect) inspect(objects);
      }
    });
    o.complete = ended.complete;
    o.failure = ended.failure;
    return o;
  }

  // The same picture in one block, 140-byte blocks or bytes, announced or not.
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

  std::function<void(const std::vector<void*>&)> inspect;
  bool dataOutput = false;  // the output holds data blocks, not images
  bool nodeOutput = false;  // the output holds document nodes
};

std::vector<uint8_t> NbmpStream(const NbmpTestImage& image) {
  const size_t canvas = size_t{NbmpTestRowBytes(image.width, image.depthCode)} * image.height;
  return NbmpTestStream(image, std::vector<uint8_t>(canvas, 0), false);
}
std::vector<uint8_t> NbmpBody(const NbmpTestImage& image) { return NbmpTestPackMemory(NbmpStream(image)); }

// One random NBMP body of a depth code other than 1, drawn by the tables below.
std::vector<uint8_t> RandomNbmpOfDepthTwoOrMore() {
  std::mt19937 rng(1803);
  NbmpTestImage nbmp = NbmpTestRandomImage(rng);
  if (nbmp.depthCode == 1) nbmp.depthCode = 2;
  return NbmpBody(nbmp);
}

// Four greys in their shades; a frame wider than its canvas shows as its
// first pixel; depth one is refused by the row.
TEST_F(ContentRowsTest, NbmpEdgeCases) {
  NbmpTestImage image;
  image.width = 5;
  image.height = 2;
  image.depthCode = 2;
  image.frames = {{0, 0, 5, 2, 1, {0x1B, 0x80, 0xE4, 0x40}}};
  EXPECT_EQ(Fetch("image/nbmp", NbmpBody(image), 0).picture,
            "kind 17 5x2 frames 1 loop 0 f5x2@0,0 d100 c1[5x2]ffffd69aad550000ad550000ad55d69affffd69a;");
  image.depthCode = 0;
  image.frames = {{0, 0, 8, 2, 1, {0x80, 0x00}}};
  EXPECT_EQ(Fetch("image/nbmp", NbmpBody(image), 0).picture,
            "kind 17 5x2 frames 1 loop 0 f1x1@0,0 d100 c1[1x1]0000;");
  image.depthCode = 1;
  EXPECT_EQ(Fetch("image/nbmp", NbmpBody(image), 0).failure, NbmpRowErr::Malformed);
}

std::vector<uint8_t> SisBody(uint32_t frames, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> pixels(4 * 8 * 3);  // 32 x 24 pixels, one bit each
  for (uint8_t& b : pixels) b = static_cast<uint8_t>(rng());
  return SisMonoImage(4, 3, pixels, frames, seed % 2 == 0, 3);
}

// An 8-bit animation with the grey-ramp palette: frames are cut from the
// decoder's 256-pixel rows to the canvas; later frames decode on demand.
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
  inspect = [](const std::vector<void*>& objects) {
    ASSERT_EQ(objects.size(), 1u);
    auto* image = static_cast<ContentImage*>(objects[0]);
    EXPECT_EQ(image->frameCount, 3);
    ContentImageFrame* f = image->firstFrame;
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->width, 40);
    EXPECT_EQ(BandPixel(f->bands, f->bandCount, 3, 1), Grey(8));
    EXPECT_EQ(BandPixel(f->bands, f->bandCount, 39, 29), Grey(3));
    ContentImageFrame* second = image->decodeFrame(image, 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(BandPixel(second->bands, second->bandCount, 0, 0), Grey(83));
    EXPECT_EQ(BandPixel(second->bands, second->bandCount, 4, 1), Grey(1));
    ContentFrameFree(second);
    EXPECT_EQ(image->decodeFrame(image, 3), nullptr);
  };
  Fetch("image/sis", SafBody(3), 0);
}

// The collector keeps to the announced length and to the row's room, and
// without a length finishes at the end of the data.
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
  for (const Case& c : {Case{10, 4, 100, false, kOk, false}, Case{4, 10, 100, false, kLong, false},
                        Case{0, 10, 100, true, kOk, true}, Case{0, 10, 6, true, kLong, false}}) {
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

TEST_F(ContentRowsTest, CutBodiesEndCleanly) {
  CutEverywhere("image/sis", SisBody(3, 10), 1);
  std::mt19937 rng(7);
  CutEverywhere("image/nbmp", NbmpBody(NbmpTestRandomImage(rng)), 3);
  EXPECT_EQ(Fetch("image/sis", std::vector<uint8_t>(300, 0x42), 0).failure, SisRowErr::Malformed);
}

// Each image row gives one picture however the body comes; a refused kind
// fails the load with its decoder's code.
TEST_F(ContentRowsTest, ImageRowsGiveOnePictureInEveryDelivery) {
  const struct {
    const char* type;
    std::vector<uint8_t> body;
    const char* look;  // what the picture description starts with
  } kRows[] = {
      {"image/vnd.wap.wbmp", ReadDataFile("wbmp/magick_33x17.wbmp"), "kind 14 "},
      {"image/nbmp", RandomNbmpOfDepthTwoOrMore(), "kind 17 "},
      {"image/sis", SisBody(3, 3), "kind 17 "},
      {"image/sis", SafBody(1), "kind 17 "},
      {"image/jpeg", ReadDataFile("jpeg/b420.jpg"), "kind 14 "},
      {"image/png", ReadDataFile("png/palette_trns.png"), "kind 14 "},
      {"image/mng", ReadDataFile("mng/thrice.mng"), "kind 17 "},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.type);
    ASSERT_FALSE(row.body.empty());
    const std::string picture = SameInEveryDelivery(row.type, row.body);
    EXPECT_EQ(picture.rfind(row.look, 0), 0u) << picture.substr(0, 40);
  }
  const Outcome progressive = Fetch("image/jpeg", ReadDataFile("jpeg/progressive.jpg"), 0);
  EXPECT_EQ(progressive.failure, 0x80108001u);
}

// The URL module's work buffer had since the module's start, given way to a
// request the heap could not meet, or given way and the object cache since
// filled with pages: each image draws the same, its later frames too.
TEST_F(ContentRowsTest, ImagesDrawTheSameWhereverTheWorkBufferStands) {
  std::string later;  // a later frame of an animation, decoded on demand
  inspect = [&](const std::vector<void*>& objects) {
    later.clear();
    for (void* object : objects) {
      auto* image = static_cast<ContentImage*>(object);
      if (image->kind != ContentKind::Animation || !image->decodeFrame) continue;
      ContentImageFrame* frame = image->decodeFrame(image, 1);
      later = frame ? std::to_string(frame->width) + "x" + std::to_string(frame->height) : "none";
      ContentFrameFree(frame);
    }
  };
  const struct {
    const char* type;
    std::vector<uint8_t> body;
  } kImages[] = {
      {"image/nbmp", RandomNbmpOfDepthTwoOrMore()},
      {"image/sis", SafBody(3)},
      {"image/png", ReadDataFile("png/palette_trns.png")},
      {"image/mng", ReadDataFile("mng/thrice.mng")},
  };
  for (const auto& image : kImages) {
    SCOPED_TRACE(image.type);
    ASSERT_NO_FATAL_FAILURE(PlaceWorkBuffer(WorkBuffer::Had));
    const Outcome had = Fetch(image.type, image.body, 0);
    const std::string hadLater = later;
    ASSERT_TRUE(had.complete);
    for (const WorkBuffer where : {WorkBuffer::GaveWay, WorkBuffer::GaveWayCacheFull}) {
      SCOPED_TRACE(where == WorkBuffer::GaveWay ? "given way" : "given way, the cache full");
      ASSERT_NO_FATAL_FAILURE(PlaceWorkBuffer(where));
      const Outcome o = Fetch(image.type, image.body, 0);
      EXPECT_EQ(o.failure, had.failure);
      EXPECT_TRUE(o.picture == had.picture) << o.picture.substr(0, 60);
      EXPECT_EQ(later, hadLater);
    }
  }
}

// Generic WBXML takes the type its public identifier names, and that row
// handles the body; a one-byte body names none and leaves it unused.
TEST_F(ContentRowsTest, WbxmlIsRetypedByItsPublicIdentifier) {
  dataOutput = true;
  const std::vector<uint8_t> sic = {0x03, 5, 0x6A, 0x00, 0x7F, 0x01};
  for (uint32_t block : {0u, 1u}) {
    const Outcome o = Fetch("application/vnd.wap.wbxml", sic, block);
    EXPECT_TRUE(o.complete);
    EXPECT_EQ(o.typeId, UrlType::Sic);
    std::string out;
    for (const std::string& b : o.blocks) out += b;
    EXPECT_EQ(out, std::string(sic.begin(), sic.end()));
  }
  const Outcome one = Fetch("application/vnd.wap.wbxml", {0x03}, 0);
  EXPECT_TRUE(one.complete);
  EXPECT_EQ(one.typeId, UrlType::Wbxml);
}

// A compiled deck becomes its cards and texts, as WMLC or as WBXML naming WML.
TEST_F(ContentRowsTest, CompiledDecksBecomeCardsAndTexts) {
  nodeOutput = true;
  const std::vector<uint8_t> deck = ReadDataFile("wbxml/deck.wbxml");
  ASSERT_FALSE(deck.empty());
  const Outcome whole = Fetch("application/vnd.wap.wmlc", deck, 0);
  EXPECT_TRUE(whole.complete);
  EXPECT_EQ(whole.picture.substr(0, 5), "card;");
  EXPECT_NE(whole.picture.find("card;", 5), std::string::npos);  // two cards
  // Labelled with its first text and its address.
  EXPECT_EQ(whole.labelText.substr(0, 15), u"Welcome & hello");
  EXPECT_EQ(whole.labelUrl, u"qortest://h/body");
  for (const char* type : {"application/x-wap-wta-wmlc", "application/vnd.wap.wbxml"}) {
    const Outcome o = Fetch(type, deck, 1, false);
    EXPECT_TRUE(o.complete) << type;
    EXPECT_EQ(o.picture, whole.picture) << type;
  }
  // Not a deck: the build error with the row's base.
  const Outcome bad = Fetch("application/vnd.wap.wmlc", {0x03, 0x05, 0x6A, 0x00, 0x45, 0x01}, 0);
  EXPECT_EQ(bad.failure, 0x80260002u);
}

// What the handset was handed ("kind:what" each), and what it answers.
std::vector<std::string> gHanded;
Result gAnswer = kOk;
Result Hand(const std::string& entry) {
  gHanded.push_back(entry);
  return gAnswer;
}
std::string Text(const uint8_t* body, uint32_t length) {
  return std::string(reinterpret_cast<const char*>(body), length);
}
constexpr HandoverOps kRecordingHandset{
    [](const char* a, const char* b, const char* c, const char* d, const char* e, const char* f) {
      return Hand(std::string("record:") + a + "|" + b + "|" + c + "|" + d + "|" + e + "|" + f);
    },
    [](const char* text) { return Hand(std::string("usat:") + text); },
    [](const uint8_t* body, uint32_t length, const char* major, uint32_t) {
      return Hand(std::string("media:") + major + ":" + Text(body, length));
    },
    [](const uint8_t* body, uint32_t length, uint32_t typeId, uint32_t) {
      return Hand("map:" + std::to_string(typeId) + ":" + Text(body, length));
    },
    [](const char* text, const char* back) {
      return Hand(std::string("info:") + text + "|" + (back ? back : "none"));
    }};

class HandoverRowsTest : public ContentRowsTest {
 protected:
  void SetUp() override {
    ContentRowsTest::SetUp();
    gHanded.clear();
    gAnswer = kOk;
    old = HandoverInstall(&kRecordingHandset);
    dataOutput = true;
  }
  void TearDown() override {
    HandoverInstall(old);
    ContentRowsTest::TearDown();
  }
  std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
  const HandoverOps* old = nullptr;
};

// Bodies go to their handset services in every delivery, pims records field
// by field cut to their widths; a form reply without a page still completes.
TEST_F(HandoverRowsTest, BodiesGoToTheirHandsetServices) {
  struct Case {
    const char* type;
    std::string body;
    Result result;
    std::vector<std::string> handed;
  };
  const Case cases[] = {
      {"application/pims", "abcdefg;2;" + std::string(40, 'z') + ";4;5;6;7\r\nx;y\r\n\r\n",
       PimsCode::Stored,
       {"record:abcde|2|" + std::string(32, 'z') + "|4|5|6", "record:x|y||||", "record:|||||"}},
      {"video/k3g", "BODY", MediaCode::Saved, {"media:video:BODY"}},
      {"map/gif", "BODY", 0, {"map:155:BODY"}},
      {"application/usat", "BODY", UsatCode::Taken, {"usat:BODY"}},
      {"application/game_info", "BODY", GameInfoCode::Taken, {}},
      {"application/x-www-form-urlencoded", "a=1&b=%C3%A9&c", 0, {}},
      // Without a browser there is no page to go back to.
      {"platform/app", "app=1", PuiCode::Taken, {"info:app=1|none"}},
  };
  for (const Case& c : cases)
    for (bool announce : {true, false})
      for (uint32_t block : {0u, 1u}) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(block));
        gHanded.clear();
        const Outcome o = Fetch(c.type, Bytes(c.body), block, announce);
        EXPECT_EQ(o.failure, c.result);
        EXPECT_EQ(o.complete, c.result == 0);
        EXPECT_EQ(gHanded, c.handed);
      }
  // A refusal ends the load with the handset's answer.
  gAnswer = 0x80990001;
  EXPECT_EQ(Fetch("application/pims", Bytes("a\r\nb\r\n"), 0).failure, 0x80990001u);
  gAnswer = 1;
  EXPECT_EQ(Fetch("application/usat", Bytes("x"), 0).failure, UsatCode::Refused);
}

// A form reply only fills the page that asked: its load is not listed as a
// page of its own, whatever the request asked.
TEST_F(HandoverRowsTest, AFormReplyLeavesNoListedLoad) {
  for (uint32_t block : {0u, 1u}) {
    uint32_t flags = UrlFlag::Listed;
    const Ended ended = Serve("application/x-www-form-urlencoded", "a=1&b=2", block, true, UrlFlag::Listed,
                              [&](UrlRequestRec* request) { flags = UrlRequestLoad(request)->flags; });
    EXPECT_TRUE(ended.complete) << block;
    EXPECT_EQ(flags & UrlFlag::Listed, 0u) << block;
  }
}

// --- The adver element's image objects ---------------------------------------
// The object is decoded from the element's text into the page's work buffer
// and posted to the status indicator, which keeps it; the heap comes back
// once the indicator has gone.
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
  // Decodes `text` as the element hands it over: the record's text is the
  // decoder's to free, whatever it answers.
  Result Decode(uint8_t source, const std::string& text, uint32_t workBytes = kUrlWorkBufferSize) {
    HtmlImageObject record{};
    record.sourceType = source;
    record.text = static_cast<char16_t*>(MemAlloc(2 * (text.size() + 1), Use::Data, Mod::WtlHtml));
    for (size_t i = 0; i <= text.size(); ++i) record.text[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
    record.workBuffer = work.data();
    record.workBufferSize = workBytes;
    const Result r = HtmlImageObjectDecode(&record);
    EXPECT_EQ(record.text, nullptr);
    Pump();
    return r;
  }
  ContentImage* Posted() { return static_cast<ContentImage*>(StatusGetImage()); }

  std::unique_ptr<Recorder> owner;
  bool statusStarted = false;
  std::vector<uint8_t> work;
  uint32_t heapAtStart = 0;
};

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const bool two = i + 1 < bytes.size(), three = i + 2 < bytes.size();
    const uint32_t v = bytes[i] << 16 | (two ? bytes[i + 1] << 8 : 0) | (three ? bytes[i + 2] : 0);
    text += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], two ? kAlphabet[(v >> 6) & 63] : '=',
             three ? kAlphabet[v & 63] : '='};
  }
  return text;
}

// Without the status indicator nobody keeps the image: it is built and
// dropped, and the answer says so.
TEST_F(AdverImageTest, WithoutStatusTaskTheImageIsBuiltAndDropped) {
  EXPECT_EQ(Decode(HtmlImageSource::Str, "a|b|c"), 3u);
}

// A text image shows each message of "|"-separated text as a frame of its own
// for 20 hundredths.
TEST_F(AdverImageTest, TextImageHasOneFramePerMessage) {
  StartStatus();
  ASSERT_EQ(Decode(HtmlImageSource::Str, "one|two|three"), kOk);
  ContentImage* image = Posted();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->textImage, 1u);
  EXPECT_EQ(image->frameCount, 3);
  uint32_t frames = 0;
  for (ContentImageFrame* f = image->firstFrame; f; f = f->next, ++frames) {
    EXPECT_EQ(f->delay, 20u);
    EXPECT_EQ(f->complete, 1u);
  }
  EXPECT_EQ(frames, 3u);
}

TEST_F(AdverImageTest, TheDocumentModelHandsItsAdverElementOver) {
  StartStatus();
  HtmlNode* node = HtmlAdverCreate(work.data(), static_cast<uint32_t>(work.size()));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(HtmlAdverAttribute(node, "inline", u"first|second"), kOk);
  EXPECT_EQ(HtmlAdverAttribute(node, "type", u"STR"), kOk);
  Pump();
  ASSERT_NE(Posted(), nullptr);
  EXPECT_EQ(Posted()->frameCount, 2);
  HtmlNodeFree(node);
  // A type that names no image tells the status indicator there is none: the
  // kept image goes through the image handlers' own release, which the heap
  // check at the end sees.
  node = HtmlAdverCreate(work.data(), static_cast<uint32_t>(work.size()));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(HtmlAdverAttribute(node, "type", u"gif"), kOk);
  Pump();
  EXPECT_EQ(Posted(), nullptr);
  HtmlNodeFree(node);
}

// Malformed text, and a work buffer too small for the decoder, post nothing.
TEST_F(AdverImageTest, RefusedObjectsPostNothing) {
  StartStatus();
  std::mt19937 rng(3);
  const std::string nbmp = NbmpTestPackText(NbmpStream(NbmpTestRandomImage(rng)), nullptr);
  const std::string sis = Base64(SisBody(1, 4));
  const struct {
    uint8_t source;
    std::string text;
    uint32_t workBytes;
    Result answer;
  } rows[] = {
      {HtmlImageSource::Sis, "bm90IGFuIGltYWdl", kUrlWorkBufferSize, SisRowErr::Malformed},
      {HtmlImageSource::Sis, "", kUrlWorkBufferSize, SisRowErr::Malformed},
      {HtmlImageSource::Nbmp, "!!!!", kUrlWorkBufferSize, NbmpRowErr::Malformed},
      {HtmlImageSource::Sis, sis, 1000, kHtmlObjectNoMemory},
      {HtmlImageSource::Nbmp, nbmp, 1000, kHtmlObjectNoMemory},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 16));
    EXPECT_EQ(Decode(row.source, row.text, row.workBytes), row.answer);
    EXPECT_EQ(Posted(), nullptr);
  }
}

TEST_F(AdverImageTest, NbmpTextPlaysWithoutEnd) {
  StartStatus();
  std::mt19937 rng(3);
  NbmpTestImage image = NbmpTestRandomImage(rng);
  if (image.depthCode == 1) image.depthCode = 2;
  image.loopCount = 4;
  ASSERT_EQ(Decode(HtmlImageSource::Nbmp, NbmpTestPackText(NbmpStream(image), nullptr)), kOk);
  ASSERT_NE(Posted(), nullptr);
  EXPECT_EQ(Posted()->loopCount, 0);
}

TEST_F(AdverImageTest, ThreeFrameSisDecodesEveryFrameAtOnce) {
  StartStatus();
  ASSERT_EQ(Decode(HtmlImageSource::Sis, Base64(SisBody(3, 12))), kOk);
  ContentImage* posted = Posted();
  ASSERT_NE(posted, nullptr);
  EXPECT_EQ(posted->frameCount, 3);
  EXPECT_EQ(posted->allFrames, 1u);
  uint32_t withBands = 0;
  for (ContentImageFrame* f = posted->firstFrame; f; f = f->next) withBands += f->bandCount > 0;
  EXPECT_EQ(withBands, 3u);
}

}  // namespace
