// The render data pump plays loads of the tests' fetch driver into a sink
// row of the tests (plugged in after the product's table): 1-byte, 140-byte
// and whole blocks, the sink's deferred open, its calls again without data,
// objects that draw nothing, failures of the sink and of the load, a load
// with no sink, aborts in the middle and loads served from the cache. The
// heap is back where it started after each.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "layout/render_pump.h"
#include "layout/render_sink.h"
#include "tests/browser/url_fixture.h"

namespace {

std::string Body(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + 5) & 0xFF);
  return s;
}

// An HTML body (class 2) in blocks of that size.
FetchBody Html(size_t size, uint32_t block) {
  FetchBody body;
  body.body = Body(size);
  body.blockSize = block;
  body.contentType = "text/html";
  return body;
}

constexpr uintptr_t kSinkRecord = 0x51Cu;
constexpr Result kSinkFailed = 0x80990001;

// The test sink's script and what it saw. Answers are letters, used in turn
// and the last one repeated: '0' consumed, 'A' again, 'N' not drawn, 'F'
// failed.
struct Sink {
  Result openAnswer = RenderSinkAnswer::Deferred;
  std::string dataAnswers = "0";
  std::string emptyAnswers = "0";
  size_t dataCalls = 0, emptyCalls = 0;
  int opens = 0, closes = 0;
  std::string bytes;  // of the objects taken
  std::vector<uint32_t> access;
  std::vector<uintptr_t> pages;
  bool wordsRight = true;  // every call saw the word open stored
};
Sink* gSink = nullptr;

Result Answer(const std::string& script, size_t* call) {
  const char c = script[*call < script.size() ? *call : script.size() - 1];
  ++*call;
  switch (c) {
    case 'A': return RenderSinkAnswer::Again;
    case 'N': return RenderSinkAnswer::NotDrawn;
    case 'F': return kSinkFailed;
    default: return kOk;
  }
}

void Seen(RenderRequest* request) {
  gSink->access.push_back(RenderRequestGetAccessOk(request));
  gSink->pages.push_back(RenderRequestGetPage(request));
}

Result SinkOpen(RenderRequest* request, uintptr_t word, const void*, uint32_t) {
  ++gSink->opens;
  Seen(request);
  *reinterpret_cast<uintptr_t*>(word) = kSinkRecord;
  return gSink->openAnswer;
}

Result SinkWrite(RenderRequest* request, uintptr_t sink, const void* data, uint32_t) {
  Seen(request);
  gSink->wordsRight &= sink == kSinkRecord;
  if (!data) return Answer(gSink->emptyAnswers, &gSink->emptyCalls);
  const Result r = Answer(gSink->dataAnswers, &gSink->dataCalls);
  if (r == kOk || r == RenderSinkAnswer::NotDrawn) {
    auto* chunk = static_cast<const UtilDataChunk*>(data);
    gSink->bytes.append(reinterpret_cast<const char*>(UtilDataChunkData(chunk) + chunk->offset),
                        chunk->remaining);
  }
  return r;
}

Result SinkClose(RenderRequest* request, uintptr_t word, const void*, uint32_t) {
  ++gSink->closes;
  Seen(request);
  gSink->wordsRight &= *reinterpret_cast<uintptr_t*>(word) == kSinkRecord;
  return kOk;
}

// Class 2: the driver's test types and HTML.
const RenderSinkRow kTestRows[] = {{2, SinkOpen, SinkWrite, SinkClose}};

class RenderPumpTest : public UrlFixture {
 protected:
  void SetUp() override {
    UrlFixture::SetUp();
    gSink = &sink;
    RenderSetExtraRows(kTestRows, 1);
    requester = std::make_unique<Recorder>(Mod::TestCode, [this](Recorder&, const Received& r) {
      RenderPumpHandle(&pump, r.message, r.arg1, r.arg2);
      return kOk;
    });
    StartUrl(requester->task());
  }

  void Request(const std::string& url, uint32_t flags = 0) {
    ASSERT_EQ(UrlRequest(session, url.c_str(), flags, nullptr, &request, 0, requester->task(), 0),
              kOk);
    UrlRequestWatch(request, requester->task(), 0);
    RenderPumpStart(&pump, &renderRequest, request, requester->task());
  }

  // Ends the request, then the session and the task.
  void Finish() {
    if (request) UrlRequestDone(session, request);
    request = nullptr;
    UrlFixture::Finish();
  }

  void TearDown() override {
    if (UrlGetModule() && owner->Count(UrlMsg::Closed) == 0) Finish();
    requester.reset();
    RenderSetExtraRows(nullptr, 0);
    gSink = nullptr;
    UrlFixture::TearDown();
  }

  Sink sink;
  RenderPump pump{};
  int pageObject = 0;
  RenderRequest renderRequest{nullptr, reinterpret_cast<uintptr_t>(&pageObject), 7};
  std::unique_ptr<Recorder> requester;
  UrlRequestRec* request = nullptr;
};

struct PumpCase {
  size_t size;
  uint32_t block;  // 0: whole body
  bool announce;
  const char* type;
  const char* dataAnswers;
  const char* emptyAnswers;
};

void PrintTo(const PumpCase& c, std::ostream* os) {
  *os << c.size << " bytes in " << c.block << " " << (c.announce ? "announced " : "") << c.type
      << " answers " << c.dataAnswers << "/" << c.emptyAnswers;
}

class RenderPumpPlayTest : public RenderPumpTest, public ::testing::WithParamInterface<PumpCase> {};

TEST_P(RenderPumpPlayTest, TheSinkGetsTheBodyOnceInOrder) {
  const PumpCase& c = GetParam();
  sink.dataAnswers = c.dataAnswers;
  sink.emptyAnswers = c.emptyAnswers;
  FetchBody body;
  body.body = Body(c.size);
  body.blockSize = c.block;
  body.announceLength = c.announce;
  body.contentType = c.type;
  driver.Serve("/doc", body);
  Request("qortest://host/doc");
  Pump();

  EXPECT_TRUE(pump.finished);
  EXPECT_EQ(pump.result, kOk);
  EXPECT_EQ(sink.opens, 1);
  EXPECT_EQ(sink.closes, 1);
  EXPECT_TRUE(pump.deferred);
  EXPECT_TRUE(sink.wordsRight);
  EXPECT_EQ(sink.bytes, body.body);
  const bool collected = std::string(c.type) == "application/x-qor-collect";
  // The collecting row hands on one block, even an empty one.
  const size_t blocks = collected      ? 1
                        : c.size == 0  ? 0
                        : !c.block     ? 1
                                       : (c.size + c.block - 1) / c.block;
  EXPECT_EQ(pump.written + pump.notDrawn, blocks);
  // A refused object is offered again after one or more calls without data.
  size_t refused = 0;
  for (size_t i = 0; i < sink.dataCalls; ++i)
    refused += c.dataAnswers[i < std::string(c.dataAnswers).size() ? i : std::string(c.dataAnswers).size() - 1] == 'A';
  EXPECT_EQ(sink.dataCalls, blocks + refused);
  EXPECT_GE(sink.emptyCalls, refused);
  for (uint32_t access : sink.access) EXPECT_EQ(access, 7u);
  for (uintptr_t page : sink.pages) EXPECT_EQ(page, reinterpret_cast<uintptr_t>(&pageObject));
  Finish();
}

std::vector<PumpCase> PumpCases() {
  std::vector<PumpCase> out;
  for (size_t size : {0, 1, 139, 140, 141, 1000})
    for (uint32_t block : {1u, 140u, 0u})
      for (bool announce : {true, false})
        for (const char* type : {"text/html", "application/x-qor-collect"})
          out.push_back({size, block, announce, type, "0", "0"});
  // The sink refuses objects and wants calls without data first.
  for (const char* answers : {"A0", "AA0A00N", "NA0"})
    for (const char* empty : {"0", "A0", "AAN0"})
      out.push_back({700, 140, true, "text/html", answers, empty});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Blocks, RenderPumpPlayTest, ::testing::ValuesIn(PumpCases()));

TEST_F(RenderPumpTest, ObjectsThatDrawNothingAreCounted) {
  sink.dataAnswers = "N0N";
  driver.Serve("/doc", Html(420, 140));
  Request("qortest://host/doc");
  Pump();
  EXPECT_EQ(pump.written, 1u);
  EXPECT_EQ(pump.notDrawn, 2u);
  EXPECT_EQ(sink.bytes, Body(420));
  EXPECT_EQ(sink.closes, 1);
  Finish();
}

struct FailCase {
  const char* name;
  Result openAnswer;
  const char* dataAnswers;
  const char* emptyAnswers;
  int64_t failAt;   // the load fails there; -1 never
  const char* type;
  Result result;    // the pump's
  int opens, closes;
  size_t bytes;     // that reached the sink
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class RenderPumpFailTest : public RenderPumpTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(RenderPumpFailTest, EndsWithTheFailureAndClosesWhatWasOpened) {
  const FailCase& c = GetParam();
  sink.openAnswer = c.openAnswer;
  sink.dataAnswers = c.dataAnswers;
  sink.emptyAnswers = c.emptyAnswers;
  FetchBody body = Html(700, 140);
  body.failAt = c.failAt;
  body.contentType = c.type;
  driver.Serve("/doc", body);
  Request("qortest://host/doc");
  Pump();
  EXPECT_TRUE(pump.finished);
  EXPECT_EQ(pump.result, c.result);
  EXPECT_EQ(sink.opens, c.opens);
  EXPECT_EQ(sink.closes, c.closes);
  EXPECT_EQ(sink.bytes, Body(700).substr(0, c.bytes));
  Finish();
}

const FailCase kFailures[] = {
    {"sink fails the third", RenderSinkAnswer::Deferred, "00F", "0", -1, "text/html", kSinkFailed, 1, 1,
     280},
    {"sink fails a call without data", RenderSinkAnswer::Deferred, "0A", "F", -1, "text/html",
     kSinkFailed, 1, 1, 140},
    {"open fails", kSinkFailed, "0", "0", -1, "text/html", kSinkFailed, 1, 0, 0},
    {"open answers 0", kOk, "0", "0", -1, "text/html", kOk, 1, 1, 700},
    {"load fails in the middle", RenderSinkAnswer::Deferred, "0", "0", 300, "text/html",
     0x80610002, 1, 1, 300},
    {"load fails at once", RenderSinkAnswer::Deferred, "0", "0", 0, "text/html", 0x80610002, 0, 0, 0},
    {"content row fails", RenderSinkAnswer::Deferred, "0", "0", -1, "application/x-qor-refuse",
     kFetchRefused, 0, 0, 0},
    // Compiled script (class 7) has no sink.
    {"no sink", RenderSinkAnswer::Deferred, "0", "0", -1, "application/vnd.wap.wmlscriptc",
     kRenderNoSink, 0, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Failures, RenderPumpFailTest, ::testing::ValuesIn(kFailures));

TEST_F(RenderPumpTest, AbortWhileTheSinkWantsCallsWithoutData) {
  sink.dataAnswers = "0A";
  sink.emptyAnswers = "A";  // never done
  driver.Serve("/doc", Html(700, 140));
  Request("qortest://host/doc");
  for (int i = 0; i < 200; ++i) Step();
  EXPECT_FALSE(pump.finished);
  EXPECT_GT(sink.emptyCalls, 0u);
  RenderPumpAbort(&pump);
  EXPECT_TRUE(pump.finished);
  EXPECT_EQ(sink.closes, 1);
  const size_t calls = sink.emptyCalls + sink.dataCalls;
  Pump();
  EXPECT_EQ(sink.emptyCalls + sink.dataCalls, calls);
  EXPECT_EQ(sink.closes, 1);
  EXPECT_EQ(requester->Count(RenderMsg::PumpAgain) > 0, true);
  Finish();
}

TEST_F(RenderPumpTest, ALoadFromTheCache) {
  driver.Serve("/kept", Html(300, 140));
  Request("qorcache://host/kept");
  Pump();
  EXPECT_EQ(sink.bytes, Body(300));
  UrlRequestDone(session, request);
  request = nullptr;

  sink = Sink{};
  const int steps = driver.steps;
  Request("qorcache://host/kept");
  Pump();
  EXPECT_EQ(driver.steps, steps);
  EXPECT_TRUE(pump.finished);
  EXPECT_EQ(pump.result, kOk);
  EXPECT_EQ(sink.bytes, Body(300));
  EXPECT_EQ(sink.opens, 1);
  EXPECT_EQ(sink.closes, 1);
  Finish();
}

TEST_F(RenderPumpTest, ProductRowsComeFirstAndExtraRowsGo) {
  const RenderSinkRow image{RenderClass::Image, SinkOpen, SinkWrite, SinkClose};
  RenderSetExtraRows(&image, 1);
  EXPECT_NE(RenderFindSink(RenderClass::Image), &image);
  EXPECT_EQ(RenderFindSink(2), nullptr);
  RenderSetExtraRows(kTestRows, 1);
  EXPECT_EQ(RenderFindSink(2), &kTestRows[0]);
  RenderSetExtraRows(nullptr, 5);
  EXPECT_EQ(RenderFindSink(2), nullptr);
  RenderSetExtraRows(kTestRows, 1);
  EXPECT_EQ(RenderRequestGetAccessOk(nullptr), 0u);
  EXPECT_EQ(RenderRequestGetAccessOk(&renderRequest), 7u);
  Finish();
}

}  // namespace
