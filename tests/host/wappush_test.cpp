// Push delivery: the WSP push PDU reader, the pushed object placed in the
// cache and served by the real URL task, and pushes in segments put back
// together.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "browser/cache.h"
#include "browser/url.h"
#include "host/sms.h"
#include "host/smsbridge.h"
#include "host/smsaddress.h"
#include "host/smsservice.h"
#include "host/platform/files.h"
#include "host/wappush.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "net/netbuf.h"
#include "services/push/notify.h"
#include "services/sms/sms.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/failure_record.h"
#include "tests/support/fetch_driver.h"

namespace {

using Bytes = std::string;
using Headers = std::vector<std::pair<std::string, std::string>>;

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}
// A text with its NUL.
Bytes T(const std::string& text) { return text + std::string(1, '\0'); }

// A push PDU: transaction id 1, type 6, the headers (content type first)
// with their length, then the body.
Bytes Push(const Bytes& headers, const Bytes& body) {
  return B({0x01, 0x06, static_cast<int>(headers.size())}) + headers + body;
}

// Content-general-form: the length, then the media type and its parameters.
Bytes General(const Bytes& inner) { return B({static_cast<int>(inner.size())}) + inner; }

Headers HeadersOf(const UrlLoad* load) {
  Headers out;
  for (const UrlHeader* h = load->headers; h; h = h->next) out.emplace_back(h->name, h->value);
  return out;
}

UrlParsed Parsed(const char* url) {
  UrlParsed parsed;
  EXPECT_EQ(UrlParse(&parsed, url, 0), kOk);
  return parsed;
}

// A load to read PDUs onto.
UrlLoad* NewLoad() {
  UrlParsed parsed = Parsed("push:test.1");
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  return load;
}

TEST(WspTables, WellKnownCodesHaveTheirNames) {
  struct Row {
    const char* (*table)(uint32_t);
    uint32_t code;
    const char* name;
  };
  const Row rows[] = {
      {WspContentTypeName, 0x03, "text/plain"},
      {WspContentTypeName, 0x08, "text/vnd.wap.wml"},
      {WspContentTypeName, 0x14, "application/vnd.wap.wmlc"},
      {WspContentTypeName, 0x29, "application/vnd.wap.wbxml"},
      {WspContentTypeName, 0x2E, "application/vnd.wap.sic"},
      {WspContentTypeName, 0x30, "application/vnd.wap.slc"},
      {WspContentTypeName, 0x36, "application/vnd.wap.connectivity-wbxml"},
      {WspContentTypeName, 0x3E, "application/vnd.wap.mms-message"},
      {WspHeaderName, 0x11, "Content-Type"},
      {WspHeaderName, 0x14, "Expires"},
      {WspHeaderName, 0x2F, "X-Wap-Application-Id"},
      {WspHeaderName, 0x30, "X-Wap-Content-URI"},
      {WspHeaderName, 0x31, "X-Wap-Initiator-URI"},
      {WspHeaderName, 0x34, "Push-Flag"},
      {WspParameterName, 0x01, "charset"},
      {WspParameterName, 0x11, "sec"},
      {WspParameterName, 0x12, "mac"},
  };
  for (const Row& r : rows) {
    ASSERT_NE(r.table(r.code), nullptr) << r.name;
    EXPECT_STREQ(r.table(r.code), r.name);
  }
  EXPECT_EQ(WspParameterName(0x04), nullptr);
  EXPECT_EQ(WspContentTypeName(0x7F), nullptr);
  EXPECT_EQ(WspHeaderName(0x7F), nullptr);
  EXPECT_EQ(WspParameterName(0x7F), nullptr);
}

class WapPushParseTest : public HeapFixture {};

struct ParseCase {
  const char* what;
  Bytes pdu;
  uint32_t typeId;
  Headers headers;
  Bytes body;
  uint32_t charset = 0;
};

TEST_F(WapPushParseTest, ContentTypesParametersAndHeadersBecomeTheLoadsHeaders) {
  const ParseCase cases[] = {
      {"a well-known type as a short integer, the application id as one",
       Push(B({0xAE, 0xAF, 0x82}), "SI"), UrlType::Sic,
       {{"Content-Type", "application/vnd.wap.sic"}, {"X-Wap-Application-Id", "2"}}, "SI"},
      {"SEC and MAC of a provisioning push",
       Push(General(B({0xB6, 0x91, 0x81, 0x92}) + T("ABCD")), "doc"), UrlType::ConnectivityWbxml,
       {{"Content-Type", "application/vnd.wap.connectivity-wbxml"}, {"sec", "1"}, {"mac", "ABCD"}},
       "doc"},
      {"a text type with a charset",
       Push(General(T("text/plain") + B({0x81, 0xEA})), "x"), UrlType::Text,
       {{"Content-Type", "text/plain"}, {"charset", "106"}}, "x", 106},
      {"a text type alone", Push(T("application/x-thing"), ""), 0,
       {{"Content-Type", "application/x-thing"}}, ""},
      {"a long application id, a push flag and an application header",
       Push(B({0xB0, 0xAF, 0x02, 0x80, 0x00, 0xB4, 0x83}) + T("X-Own") + T("value"), "slc"),
       UrlType::Slc,
       {{"Content-Type", "application/vnd.wap.slc"},
        {"X-Wap-Application-Id", "32768"},
        {"Push-Flag", "3"},
        {"X-Own", "value"}},
       "slc"},
      {"a text application id, an untyped parameter, a quoted value",
       Push(General(B({0xAE}) + T("lvl") + B({0x83})) + B({0xAF}) +
                T("x-wap-application:localcontent.ua") + B({0xB1, 0x22}) + T("http://ppg/"),
            "b"),
       UrlType::Sic,
       {{"Content-Type", "application/vnd.wap.sic"},
        {"lvl", "3"},
        {"X-Wap-Application-Id", "x-wap-application:localcontent.ua"},
        {"X-Wap-Initiator-URI", "http://ppg/"}},
       "b"},
      {"the typed forms: q, level, secure, any charset",
       Push(General(B({0x89, 0x80, 0x33, 0x82, 0x92, 0x90, 0x00})), ""), 0x09,
       {{"Content-Type", "text/vnd.wap.wmlscript"},
        {"q", "0.50"},
        {"level", "1.2"},
        {"secure", ""}},
       ""},
      {"three-decimal q, a major-only level, any charset, a level as text",
       Push(General(B({0x89, 0x80, 0x83, 0x31, 0x82, 0x9F, 0x81, 0x80, 0x82}) + T("2.0")), ""),
       0x09,
       {{"Content-Type", "text/vnd.wap.wmlscript"},
        {"q", "0.333"},
        {"level", "1"},
        {"charset", "*"},
        {"level", "2.0"}},
       ""},
      {"a field of another code page and a compound value are passed by",
       Push(B({0xAE, 0xA0, 0x03, 0x01, 0x02, 0x03, 0xAD, 0x1F, 0x02, 0xAA, 0xBB, 0xAC, 0x09, 1, 2,
              3, 4, 5, 6, 7, 8, 9, 0x04, 0xA0, 0x85}),
            "z"), UrlType::Sic,
       {{"Content-Type", "application/vnd.wap.sic"}, {"Proxy-Authenticate", "66051"}}, "z"},
      {"an unknown well-known type keeps its number",
       Push(B({0xFF, 0x9F, 0x81}), ""), 0x7F,
       {{"Pragma", "1"}}, ""},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.what);
    UrlLoad* load = NewLoad();
    ASSERT_NE(load, nullptr);
    WapPushInfo info;
    ASSERT_EQ(WapPushParse(reinterpret_cast<const uint8_t*>(c.pdu.data()),
                           static_cast<uint32_t>(c.pdu.size()), load, &info),
              kOk);
    EXPECT_EQ(info.transactionId, 1u);
    EXPECT_EQ(load->typeId, c.typeId);
    EXPECT_EQ(HeadersOf(load), c.headers);
    EXPECT_EQ(c.pdu.substr(info.bodyOffset, info.bodyLength), c.body);
    EXPECT_EQ(info.bodyOffset + info.bodyLength, c.pdu.size());
    EXPECT_EQ(load->charset, c.charset);
    UrlLoadFree(load);
  }
}

TEST_F(WapPushParseTest, MalformedInputAnswersItsCode) {
  const std::pair<const char*, Bytes> malformed[] = {
      {"nothing", ""},
      {"no type", B({0x01})},
      {"no headers length", B({0x01, 0x06})},
      {"headers past the end", B({0x01, 0x06, 0x05, 0xAE})},
      {"an endless uintvar", B({0x01, 0x06, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01})},
      {"empty headers: no content type", B({0x01, 0x06, 0x00}) + "body"},
      {"a content type length past the headers", Push(B({0x05, 0xAE}), "")},
      {"a text type without its end", Push("text/plain", "")},
      {"a parameter value cut short", Push(B({0x02, 0xAE, 0x92}), "")},
      {"a q value of 0", Push(B({0x03, 0xAE, 0x80, 0x00}), "")},
      {"a q value past 1099", Push(B({0x04, 0xAE, 0x80, 0x88, 0x4C}), "")},
      {"a charset of a zero length", Push(B({0x03, 0xAE, 0x81, 0x00}), "")},
      {"a field value cut short", Push(B({0xAE, 0xAF}), "")},
      {"a header whose text runs to the end", Push(B({0xAE}) + "X-Cut", "")},
      {"a zero byte as a field name", Push(B({0xAE, 0x00}), "")},
      {"a length quote as a parameter name", Push(B({0x03, 0xAE, 0x1F, 0x01}), "")},
      {"a long integer of more than 8 bytes as a parameter name",
       Push(General(B({0xAE, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x80})), "")},
  };
  for (const auto& [what, pdu] : malformed) {
    SCOPED_TRACE(what);
    const uint32_t before = HeapGetStats().freeBytes;
    UrlLoad* load = NewLoad();
    WapPushInfo info;
    EXPECT_EQ(WapPushParse(reinterpret_cast<const uint8_t*>(pdu.data()),
                           static_cast<uint32_t>(pdu.size()), load, &info),
              kWapPushMalformed);
    UrlLoadFree(load);
    EXPECT_EQ(HeapGetStats().freeBytes, before);
  }
  UrlLoad* load = NewLoad();
  WapPushInfo info;
  const Bytes confirmed = B({0x01, 0x07, 0x01, 0xAE});
  EXPECT_EQ(WapPushParse(reinterpret_cast<const uint8_t*>(confirmed.data()), 4, load, &info),
            kWapPushNotPush);
  UrlLoadFree(load);
}

TEST_F(WapPushParseTest, EveryCutOfAPushIsReadOrRefusedWithoutReadingPastIt) {
  const Bytes pdu = Push(General(B({0xB6, 0x91, 0x81, 0x92}) + T("00112233")) +
                             B({0xAF, 0x02, 0x80, 0x00, 0xB4, 0x83}) + T("X-Own") + T("v"),
                         "body bytes");
  const uint32_t before = HeapGetStats().freeBytes;
  for (size_t n = 0; n <= pdu.size(); ++n) {
    // A copy of exactly n bytes, so a read past them is seen by the sanitizers.
    std::vector<uint8_t> cut(pdu.begin(), pdu.begin() + static_cast<long>(n));
    UrlLoad* load = NewLoad();
    WapPushInfo info;
    const Result r = WapPushParse(cut.data(), static_cast<uint32_t>(n), load, &info);
    const size_t headersEnd = 3 + static_cast<uint8_t>(pdu[2]);
    if (n < headersEnd)
      EXPECT_EQ(r, kWapPushMalformed) << n;
    else
      EXPECT_EQ(r, kOk) << n;
    UrlLoadFree(load);
  }
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}


class WapPushPlaceTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    owner = std::make_unique<Recorder>(Mod::TestHarness);
    requester = std::make_unique<FetchRequester>();
    Pump();
    heapAtStart = HeapGetStats().freeBytes;
    ASSERT_EQ(UrlStartTask(&urlTask, owner->task()), kOk);
    ASSERT_EQ(UrlSessionCreate(&session, requester->task()), kOk);
  }
  void TearDown() override {
    UrlSessionDestroy(session);
    UrlStopTask(urlTask);
    Pump();
    reception.reset();
    Pump();
    EXPECT_EQ(UrlGetModule(), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    requester.reset();
    owner.reset();
    EngineFixture::TearDown();
  }
  // A stand-in push reception that keeps the URLs it is told of.
  void StandIn() {
    reception = std::make_unique<Recorder>(Mod::Notify, [this](Recorder&, const Received& r) {
      if (r.message == NotifyMsg::Push) {
        char* url = reinterpret_cast<char*>(r.arg1);
        urls.emplace_back(url);
        MemFree(&url);
      }
      return kOk;
    });
    Pump();
  }
  Result Place(const char* sender, const Bytes& pdu) {
    return WapPushPlace(sender, reinterpret_cast<const uint8_t*>(pdu.data()),
                        static_cast<uint32_t>(pdu.size()));
  }
  UrlLoad* Cached(const std::string& url) {
    UrlParsed parsed = Parsed(url.c_str());
    UrlLoad* load = CacheFindByName(&parsed);
    UrlFreeParsed(&parsed);
    return load;
  }
  // What push reception does once it has read a pushed object.
  void Release(const std::string& url) {
    UrlLoad* load = Cached(url);
    ASSERT_NE(load, nullptr);
    CacheRemove(load);
    UrlLoadClearFlags(load, UrlFlag::Kept);
  }

  std::unique_ptr<Recorder> owner, reception;
  std::unique_ptr<FetchRequester> requester;
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  uint32_t heapAtStart = 0;
  std::vector<std::string> urls;
};

const Bytes kSiPush = Push(B({0xAE, 0xAF, 0x80, 0xB4, 0x83}), "\x02\x05\x6A\x00 an SI body");

TEST_F(WapPushPlaceTest, ARequesterOfThePushedUrlGetsTheBodyAndHeadersFromTheCache) {
  StandIn();
  ASSERT_EQ(Place("+491701234567", kSiPush), kOk);
  Pump();
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(urls[0].rfind("push:+491701234567.", 0), 0u);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, urls[0], 3, &request), kOk);
  Pump();
  EXPECT_EQ(requester->Count(UrlMsg::Complete), 1u);
  EXPECT_EQ(requester->received[request], "\x02\x05\x6A\x00 an SI body");
  EXPECT_TRUE(request->fromCache);
  EXPECT_EQ(UrlLoadTypeId(request), UrlType::Sic);
  const char* value = nullptr;
  ASSERT_EQ(UrlGetHeader(UrlRequestLoad(request), "push-flag", &value), kOk);
  EXPECT_STREQ(value, "3");
  requester->Done(session, request);
  // Locked until push reception lets it go, whatever the memory pressure.
  EXPECT_EQ(CacheFreeOne(), 0);
  Release(urls[0]);
  EXPECT_EQ(Cached(urls[0]), nullptr);
}

bool gStartRun;  // push reception's start has run

// Push reception whose start failed ends after its URL task: until then it
// is there, but takes no push, and delivery places nothing for it.
TEST_F(WapPushPlaceTest, NothingIsPlacedForAReceptionEndingAfterAFailedStart) {
  // Push reception starts the fetch layer itself, as at start-up.
  UrlSessionDestroy(session);
  UrlStopTask(urlTask);
  Pump();
  ASSERT_EQ(UrlGetModule(), nullptr);
  uint32_t ending = 0;
  for (uint32_t reserve = 0; reserve <= 8000; reserve += 16) {
    SCOPED_TRACE(reserve);
    owner->log.clear();
    // The heap runs short once the task is made: its start is what fails.
    const bool created = NotifyStartTask(owner->task()) == kOk;
    std::vector<void*> eaten = EatHeapFinely(reserve);
    gStartRun = false;
    TskmanSetObserver([](const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t) {
      gStartRun = gStartRun || (task->id == Mod::Notify && message == TskMsg::Start);
    });
    for (int i = 0; i < 100 && created && !gStartRun;) i += Step() == kOk ? 1 : 100;
    TskmanSetObserver(nullptr);
    for (void* p : eaten) MemFreeRaw(p);
    bool answered = false;  // the answer waits in the ring
    TskmanSiftEvents(
        owner->task(),
        [](void* user, uint32_t message, uintptr_t*, uintptr_t*) {
          *static_cast<bool*>(user) |= message == NotifyMsg::Started;
          return false;
        },
        &answered);
    if (created && !answered && TskmanFind(Mod::Notify)) {
      ++ending;
      const uint32_t cached = CacheCount();
      EXPECT_EQ(Place("+491701234567", kSiPush), kWapPushNoReceiver);
      EXPECT_EQ(CacheCount(), cached);
    }
    if (answered) NotifyStopTask();
    Pump();
    ASSERT_EQ(TskmanFind(Mod::Notify), nullptr);
  }
  EXPECT_GT(ending, 0u);
  ASSERT_EQ(UrlStartTask(&urlTask, owner->task()), kOk);
  ASSERT_EQ(UrlSessionCreate(&session, requester->task()), kOk);
}

// A datagram as the bridge's peer sends it, decoded by the bridge.
SmsReceived* Decode(int kind, const std::string& address, const Bytes& header, int port,
                    const Bytes& data) {
  Bytes d = B({2, kind, static_cast<int>(address.size()), 0}) + address;
  if (kind == 2 && !header.empty() && header[0] == 0) {
    d[3] = static_cast<char>(header.size() + 2);
    d += header + B({port >> 8, port & 0xFF}) + data;
  } else {
    d[3] = static_cast<char>(header.size());
    d += header + data;
  }
  NetBufChain* chain = NetBufAlloc(static_cast<uint32_t>(d.size()));
  NetBufWrite(chain, d.data(), 0, static_cast<uint32_t>(d.size()));
  SmsReceived* r = SmsBridgeDecode(chain);
  NetBufRelease(&chain);
  return r;
}

class SmsAddressingTest : public HeapFixture {};

TEST_F(SmsAddressingTest, PortsAndSegmentsOfBothCodings) {
  struct Case {
    const char* what;
    int kind;
    Bytes header;
    int port;
    SmsAddressing want;
  };
  const Case cases[] = {
      {"the port form, one message", 2, B({0}), 2948, {1, 2948, 2948, 0, 1}},
      {"the port form, a segment with its port in the header", 2, B({0, 3, 1, 0x0B, 0x84}), 77,
       {1, 2948, 77, 3, 2}},
      {"the port form, a segment without a port: its reference", 2, B({0, 2, 0}), 77,
       {1, 77, 77, 2, 1}},
      {"the port form, zeros where the port would be", 2, B({0, 1, 0, 0, 0}), 2948,
       {1, 2948, 2948, 1, 1}},
      {"a standard header with 16-bit ports", 0, B({6, 5, 4, 0x0B, 0x84, 0x23, 0xF0}), 0,
       {1, 2948, 0, 0, 1}},
      {"a standard header with ports and a 8-bit reference", 0,
       B({11, 5, 4, 0x0B, 0x84, 0x23, 0xF0, 0, 3, 0x2A, 2, 2}), 0, {1, 2948, 0x2A, 2, 2}},
      {"a standard header with a 16-bit reference and 8-bit ports", 0,
       B({10, 8, 4, 0x12, 0x34, 3, 3, 4, 2, 0x50, 0x51}), 0, {1, 0x50, 0x1234, 3, 3}},
      {"an element running past its header is not read", 0, B({4, 5, 4, 0x0B, 0x84}), 0,
       {0, 0, 0, 0, 1}},
      {"no header", 0, Bytes(), 0, {0, 0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmsReceived* r = Decode(c.kind, "+4911", c.header, c.port, "data");
    ASSERT_NE(r, nullptr);
    SmsAddressing a;
    SmsReadAddressing(r, &a);
    EXPECT_EQ(a.hasPort, c.want.hasPort);
    EXPECT_EQ(a.port, c.want.port);
    EXPECT_EQ(a.reference, c.want.reference);
    EXPECT_EQ(a.total, c.want.total);
    EXPECT_EQ(a.sequence, c.want.sequence);
    SmsRelease(nullptr, r, 0);
  }
}

class SmsServicePushTest : public WapPushPlaceTest {
 protected:
  void SetUp() override {
    WapPushPlaceTest::SetUp();
    StandIn();
    ASSERT_EQ(SmsServiceStart(), kOk);
    Pump();
  }
  void TearDown() override {
    SmsServiceStop();
    Pump();
    EXPECT_EQ(TskmanFind(Mod::Sms), nullptr);
    WapPushPlaceTest::TearDown();
  }
  void Receive(SmsReceived* r) {
    ASSERT_NE(r, nullptr);
    SmsDeliver(r);
    Pump();
  }
  // A segment of a push in the bridge's port form, its reference as the port.
  void Segment(const char* sender, int reference, int total, int sequence, const Bytes& bytes) {
    Receive(Decode(2, sender, B({0, total, sequence - 1, 0x0B, 0x84}), reference, bytes));
  }
  uint32_t Waiting() const { return SmsReassemblyCount(SmsServiceRouting()); }
  // The body of a placed push, read through the URL task; then let go.
  Bytes Body(const std::string& url) {
    UrlRequestRec* request = nullptr;
    EXPECT_EQ(requester->Request(session, url, 3, &request), kOk);
    Pump();
    Bytes body = requester->received[request];
    requester->Done(session, request);
    Release(url);
    return body;
  }
  // Seconds of host ticks, each delivered.
  void Seconds(int n) {
    for (int i = 0; i < n * 1000 / static_cast<int>(kTskmanTickMs); ++i) {
      Tick();
      Pump();
    }
  }
};

TEST_F(SmsServicePushTest, APushInSegmentsIsPlacedOnceItsLastSegmentComes) {
  const Bytes pdu = Push(B({0xAE, 0xAF, 0x80}), std::string(300, 'p') + "end");
  const Bytes segments[] = {pdu.substr(0, 130), pdu.substr(130, 130), pdu.substr(260)};
  for (int seq : {3, 1, 2}) {
    EXPECT_TRUE(urls.empty());
    Receive(Decode(2, "+4911", B({0, 3, seq - 1, 0x0B, 0x84}), 0x4242, segments[seq - 1]));
  }
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(Waiting(), 0u);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, urls[0], 3, &request), kOk);
  Pump();
  EXPECT_EQ(requester->received[request], std::string(300, 'p') + "end");
  requester->Done(session, request);
  Release(urls[0]);
}

TEST_F(SmsServicePushTest, ASinglePushInAStandardHeaderAndOtherMessagesToTheRouting) {
  // An application that claims every message: text (kind 0) and the rest (kind 1).
  Recorder app(Mod::TestCode);
  ASSERT_EQ(SmsRegisterApp(SmsServiceRouting(), app.task(), 0, 0, nullptr, 0), kOk);
  ASSERT_EQ(SmsRegisterApp(SmsServiceRouting(), app.task(), 1, 0, nullptr, 0), kOk);
  Receive(Decode(0, "+4911", B({6, 5, 4, 0x0B, 0x84, 0x23, 0xF0}), 0, kSiPush));
  Receive(Decode(0, "+4911", Bytes(), 0, "a text"));
  Receive(Decode(2, "+4911", B({0}), 1234, "to another port"));
  ASSERT_EQ(urls.size(), 1u);
  std::vector<std::string> routed;
  for (const Received& r : app.log) {
    if (r.message != SmsServiceMsg::Delivered) continue;
    auto* m = reinterpret_cast<SmsMessage*>(r.arg1);
    std::string data(NetBufLength(m->data), '\0');
    NetBufRead(m->data, data.data(), 0, static_cast<uint32_t>(data.size()));
    routed.push_back(data);
    SmsMessageFree(&m);
  }
  // The port-form header of the second is kept for the application.
  EXPECT_EQ(routed, (std::vector<std::string>{"a text", Bytes(1, '\0') + "to another port"}));
  Release(urls[0]);
}

// Whatever the heap leaves while the service places a whole push the routing
// gave it, the push reaches push reception or its loss for want of memory is
// said, once.
TEST_F(SmsServicePushTest, APushTheHeapCannotTakeIsSaidOnce) {
  FailureRecord record;
  uint32_t placed = 0, said = 0;
  for (uint32_t reserve = 0; reserve <= 4096; reserve += 16) {
    ++platform->now;  // a loss in a second of its own is said at once
    record.said.clear();
    urls.clear();
    // As the routing hands on a whole push: its port-form lead, then the PDU.
    auto* m = static_cast<SmsMessage*>(MemAllocZero(sizeof(SmsMessage), Use::Data, Mod::Sms));
    ASSERT_NE(m, nullptr);
    LibcStrCopy(m->sender, "+4911");
    m->kind = SmsKind::Port;
    m->headerLength = 1;
    const Bytes data = Bytes(1, '\0') + kSiPush;
    m->data = NetBufAlloc(static_cast<uint32_t>(data.size()));
    ASSERT_NE(m->data, nullptr);
    NetBufWrite(m->data, data.data(), 0, static_cast<uint32_t>(data.size()));
    std::vector<void*> eaten = EatHeapFinely(reserve);
    TskmanPost(TskmanFind(Mod::Sms), SmsServiceMsg::Delivered, reinterpret_cast<uintptr_t>(m), 0);
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    Pump();
    if (urls.size() == 1) {
      ++placed;
      EXPECT_TRUE(record.said.empty()) << reserve;
      Release(urls[0]);
    } else {
      ++said;
      EXPECT_TRUE(urls.empty()) << reserve;
      EXPECT_EQ(record.said, std::vector<std::string>{"a pushed message: not enough memory"})
          << reserve;
    }
  }
  EXPECT_GT(placed, 0u);
  EXPECT_GT(said, 0u);
}

// Whatever the heap leaves while the routing takes a received message in,
// whole or in segments, the message arrives or its loss for want of memory
// is said, once: a segment lost is the whole message lost, however many of
// its segments the heap cannot take.
TEST_F(SmsServicePushTest, AMessageTheRoutingCannotTakeIsSaidOnce) {
  const std::string pushLost = "a pushed message: not enough memory";
  const std::string messageLost = "a received message: not enough memory";
  const Bytes pdu = Push(B({0xAE, 0xAF, 0x80}), std::string(200, 'p'));
  struct Case {
    const char* what;
    bool push;
    // The message as the bridge hands it over, under the given reference.
    std::vector<SmsReceived*> (*make)(const Bytes& pdu, int reference);
  };
  const Case cases[] = {
      {"a push of its own", true,
       [](const Bytes& p, int) { return std::vector{Decode(2, "+4911", B({0}), 2948, p)}; }},
      {"a push in three segments", true,
       [](const Bytes& p, int reference) {
         std::vector<SmsReceived*> out;
         for (int seq : {2, 1, 3})
           out.push_back(Decode(2, "+4911", B({0, 3, seq - 1, 0x0B, 0x84}), reference,
                                p.substr((seq - 1) * 80, 80)));
         return out;
       }},
      {"a text", false,
       [](const Bytes& p, int) { return std::vector{Decode(0, "+4911", Bytes(), 0, p)}; }},
      {"a message to another port in two segments", false,
       [](const Bytes& p, int reference) {
         std::vector<SmsReceived*> out;
         for (int seq : {1, 2})
           out.push_back(Decode(2, "+4911", B({0, 2, seq - 1, 0x13, 0x88}), reference,
                                p.substr((seq - 1) * 100, 100)));
         return out;
       }},
  };
  // An application that claims every message but the pushes.
  Recorder app(Mod::TestCode);
  ASSERT_EQ(SmsRegisterApp(SmsServiceRouting(), app.task(), 0, 0, nullptr, 0), kOk);
  ASSERT_EQ(SmsRegisterApp(SmsServiceRouting(), app.task(), 1, 0, nullptr, 0), kOk);
  FailureRecord record;
  int reference = 0x100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t arrived = 0, said = 0;
    for (uint32_t reserve = 0; reserve <= 3072; reserve += 8) {
      ++platform->now;  // a loss in a second of its own is said at once
      SCOPED_TRACE(reserve);
      record.said.clear();
      urls.clear();
      app.log.clear();
      // Each cut its own reference: what a lost message gathered waits on.
      const std::vector<SmsReceived*> parts = c.make(pdu, ++reference);
      std::vector<void*> eaten = EatHeapFinely(reserve);
      for (SmsReceived* part : parts) Receive(part);
      for (void* p : eaten) MemFreeRaw(p);
      Pump();
      uint32_t delivered = 0;
      for (const Received& r : app.log)
        if (r.message == SmsServiceMsg::Delivered) {
          auto* m = reinterpret_cast<SmsMessage*>(r.arg1);
          SmsMessageFree(&m);
          ++delivered;
        }
      const uint32_t got = c.push ? static_cast<uint32_t>(urls.size()) : delivered;
      for (const std::string& url : urls) Release(url);
      if (got == 1) {
        ++arrived;
        EXPECT_TRUE(record.said.empty());
      } else {
        ++said;
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(record.said, std::vector<std::string>{c.push ? pushLost : messageLost});
      }
    }
    EXPECT_GT(arrived, 0u);
    EXPECT_GT(said, 0u);
  }
}

// The segments of one reference from one sender make one push: a repeat is
// dropped, another sender or another reference makes another push, and a
// sequence outside the count is never kept.
TEST_F(SmsServicePushTest, RepeatsSendersAndReferencesKeepTheirPushesApart) {
  const Bytes a = Push(B({0xAE, 0xAF, 0x80}), "the first body");
  const Bytes b = Push(B({0xAE, 0xAF, 0x80}), "the second body");
  const Bytes c = Push(B({0xAE, 0xAF, 0x80}), "the third body");
  Segment("+4911", 5, 2, 1, a.substr(0, 8));
  Segment("+4911", 5, 2, 1, a.substr(0, 8));  // sent again, it changes nothing
  Segment("+4922", 5, 2, 2, b.substr(8));  // another sender, another push
  Segment("+4911", 6, 2, 2, c.substr(8));  // another reference
  EXPECT_EQ(Waiting(), 3u);
  Segment("+4911", 5, 2, 3, "?");  // past the count
  Segment("+4911", 5, 2, 0, "?");  // no sequence
  EXPECT_EQ(Waiting(), 3u);
  EXPECT_TRUE(urls.empty());
  Segment("+4911", 5, 2, 2, a.substr(8));
  Segment("+4922", 5, 2, 1, b.substr(0, 8));
  Segment("+4911", 6, 2, 1, c.substr(0, 8));
  ASSERT_EQ(urls.size(), 3u);
  EXPECT_EQ(Waiting(), 0u);
  EXPECT_EQ(urls[1].rfind("push:+4922.", 0), 0u);
  EXPECT_EQ((std::vector<Bytes>{Body(urls[0]), Body(urls[1]), Body(urls[2])}),
            (std::vector<Bytes>{"the first body", "the second body", "the third body"}));
}

// A push whose rest does not come is dropped after a minute; every segment,
// a repeat too, gives it its minute again.
TEST_F(SmsServicePushTest, APushWhoseRestDoesNotComeAgesOut) {
  const Bytes pdu = Push(B({0xAE, 0xAF, 0x80}), "body");
  Segment("+4911", 5, 2, 1, pdu.substr(0, 4));
  Seconds(kSmsLifetime - 2);
  ASSERT_EQ(Waiting(), 1u);
  Segment("+4911", 5, 2, 1, pdu.substr(0, 4));
  Seconds(kSmsLifetime - 1);
  ASSERT_EQ(Waiting(), 1u);
  Seconds(2);
  EXPECT_EQ(Waiting(), 0u);
  // Its last segment alone is a new message that waits in turn.
  Segment("+4911", 5, 2, 2, pdu.substr(4));
  EXPECT_TRUE(urls.empty());
  EXPECT_EQ(Waiting(), 1u);
  Seconds(kSmsLifetime + 1);
  EXPECT_EQ(Waiting(), 0u);
}

// A message whose rest never came is said, when its minute of waiting ends
// or at the stop: who sent it and how many of its segments came; a message
// that completes is said nowhere, nor is a segment of it that comes again,
// in either coding of a push.
TEST_F(SmsServicePushTest, AMessageWhoseRestNeverCameIsSaid) {
  struct Case {
    const char* what;
    bool push;
    std::vector<int> sequences;  // those that come, of `total`
    int total;
    bool stop;  // said at the stop after 1.5 s, else as its wait ends
    const char* said;
    std::vector<int> late = {};  // those that come once it was said
    bool udh = false;            // a push in standard headers, 8-bit reference
  };
  const Case cases[] = {
      {"half a push, then the stop", true, {1}, 2, true,
       "a pushed message from +4911: 1 of its 2 segments came, the rest never did"},
      {"half a push, then its minute", true, {2}, 2, false,
       "a pushed message from +4911: 1 of its 2 segments came, the rest never did"},
      {"a message to another port, then the stop", false, {1, 3}, 3, true,
       "a received message from +4922: 2 of its 3 segments came, the rest never did"},
      {"a message to another port, then its minute", false, {3, 1}, 3, false,
       "a received message from +4922: 2 of its 3 segments came, the rest never did"},
      {"a whole message, then the stop", false, {2, 1}, 2, true, nullptr},
      {"a message to another port, its minute, then its rest", false, {1}, 3, false,
       "a received message from +4922: 1 of its 3 segments came, the rest never did",
       {2, 3}},
      {"a whole push, a segment again, then the stop", true, {1, 2, 2}, 2, true, nullptr},
      {"a whole push, a segment again, then its minute", true, {2, 1, 1}, 2, false, nullptr},
      {"a whole push in standard headers, a segment again, then the stop", true, {1, 2, 2}, 2,
       true, nullptr, {}, true},
  };
  const Bytes ports = B({5, 4, 0x0B, 0x84, 0x23, 0xF0});
  Recorder app(Mod::TestCode);
  const Bytes pdu = Push(B({0xAE, 0xAF, 0x80}), std::string(200, 'p'));
  FailureRecord record;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(SmsRegisterApp(SmsServiceRouting(), app.task(), 1, 0, nullptr, 0), kOk);
    record.said.clear();
    for (int seq : c.sequences)
      Receive(c.udh ? Decode(0, "+4911", B({11}) + ports + B({0, 3, 7, c.total, seq}), 0,
                             pdu.substr((seq - 1) * 50, 50))
                    : Decode(2, c.push ? "+4911" : "+4922",
                             B({0, c.total, seq - 1, c.push ? 0x0B : 0x13, c.push ? 0x84 : 0x88}),
                             7, pdu.substr((seq - 1) * 50, 50)));
    EXPECT_TRUE(record.said.empty());
    if (c.stop) {
      Seconds(1);
      SmsServiceStop();
      Pump();
      ASSERT_EQ(TskmanFind(Mod::Sms), nullptr);
      ASSERT_EQ(SmsServiceStart(), kOk);
      Pump();
    } else {
      Seconds(kSmsLifetime - 1);
      EXPECT_TRUE(record.said.empty());
      Seconds(2);
      EXPECT_EQ(Waiting(), 0u);
    }
    // What comes late is the same loss: it is not said again.
    for (int seq : c.late)
      Receive(Decode(2, "+4922", B({0, c.total, seq - 1, 0x13, 0x88}), 7,
                     pdu.substr((seq - 1) * 50, 50)));
    if (!c.late.empty()) Seconds(kSmsLifetime + 1);
    EXPECT_EQ(record.said, c.said ? std::vector<std::string>{c.said} : std::vector<std::string>{});
    for (const Received& r : app.log)
      if (r.message == SmsServiceMsg::Delivered) {
        auto* m = reinterpret_cast<SmsMessage*>(r.arg1);
        SmsMessageFree(&m);
      }
    app.log.clear();
    // A whole push is placed once.
    EXPECT_EQ(urls.size(), c.push && !c.said ? 1u : 0u);
    for (const std::string& url : urls) Release(url);
    urls.clear();
    SmsUnregisterApp(SmsServiceRouting(), app.task());
  }
}

// A port-form segment whose lead and payload pass what a message holds (a
// two-byte header: a count and no sequence) is no segment the routing can
// take: its push is said lost once, whichever of its segments comes first,
// and never again as one whose rest did not come. One that fits is placed.
TEST_F(SmsServicePushTest, ASegmentPastWhatAMessageHoldsIsSaidOnce) {
  const Bytes pdu = Push(B({0xAE, 0xAF, 0x80}), std::string(400, 'p'));
  struct Segment {
    Bytes header;
    size_t at, length;
  };
  const struct {
    const char* sender;
    std::vector<Segment> segments;
    bool said;
  } cases[] = {
      {"+4911", {{B({0, 2, 0}), 0, 252}, {B({0, 2, 1}), 252, Bytes::npos}}, false},
      {"+4922", {{B({0, 2}), 0, 253}, {B({0, 2, 1}), 253, Bytes::npos}}, true},
      {"+4933", {{B({0, 2, 1}), 253, Bytes::npos}, {B({0, 2}), 0, 253}}, true},
  };
  FailureRecord record;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sender);
    record.said.clear();
    for (const Segment& segment : c.segments)
      Receive(Decode(2, c.sender, segment.header, 2948, pdu.substr(segment.at, segment.length)));
    Seconds(kSmsLifetime + 1);
    EXPECT_EQ(Waiting(), 0u);
    EXPECT_EQ(record.said,
              c.said ? std::vector<std::string>{std::string("a pushed message from ") + c.sender +
                                                ": a segment longer than a message holds"}
                     : std::vector<std::string>{});
    EXPECT_EQ(urls.size(), c.said ? 0u : 1u);
    for (const std::string& url : urls) Release(url);
    urls.clear();
  }
}

// A push in a standard user-data header, in 8-bit-reference segments,
// reaches push delivery by the same reassembly.
TEST_F(SmsServicePushTest, APushInStandardHeaderSegmentsIsPutBackTogether) {
  const Bytes pdu = Push(B({0xAE, 0xAF, 0x80}), std::string(200, 's'));
  const Bytes ports = B({5, 4, 0x0B, 0x84, 0x23, 0xF0});
  for (int seq : {2, 1}) {
    const Bytes header = B({11}) + ports + B({0, 3, 0x2A, 2, seq});
    Receive(Decode(0, "+4933", header, 0, seq == 1 ? pdu.substr(0, 120) : pdu.substr(120)));
  }
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(Body(urls[0]), std::string(200, 's'));
}

}  // namespace

namespace {

// Messages with a user-data header that are not to the push port are not
// pushes: the push claim leaves them to the applications that claim them.
TEST_F(SmsServicePushTest, AMessageWithAHeaderToAnotherPortIsNoPush) {
  Recorder app(Mod::TestCode);
  ASSERT_EQ(SmsRegisterApp(SmsServiceRouting(), app.task(), 0, 0, nullptr, 0), kOk);
  ASSERT_EQ(SmsRegisterApp(SmsServiceRouting(), app.task(), 1, 0, nullptr, 0), kOk);
  // A text with a standard header: an 8-bit reference, one segment; then
  // one to application port 5000.
  Receive(Decode(0, "+4911", B({5, 0, 3, 0x2A, 1, 1}), 0, "a text"));
  Receive(Decode(0, "+4911", B({6, 5, 4, 0x13, 0x88, 0x23, 0xF0}), 0, kSiPush));
  EXPECT_TRUE(urls.empty());
  EXPECT_EQ(app.Count(SmsServiceMsg::Delivered), 2u);
  for (const Received& r : app.log)
    if (r.message == SmsServiceMsg::Delivered) {
      auto* m = reinterpret_cast<SmsMessage*>(r.arg1);
      SmsMessageFree(&m);
    }
  for (const std::string& url : urls) Release(url);
}

// A sender longer than the routing's sender field: its segments still make
// one push, and a sender that is only the field's first characters keeps
// its own.
TEST_F(SmsServicePushTest, SendersLongerThanTheSenderFieldKeepTheirPushesApart) {
  const std::string shorter = "+491701234567890123";  // 19 characters: fits
  const std::string longer = shorter + "4";
  const Bytes a = Push(B({0xAE, 0xAF, 0x80}), "the longer sender's");
  const Bytes b = Push(B({0xAE, 0xAF, 0x80}), "the shorter sender's");
  Segment(longer.c_str(), 5, 2, 1, a.substr(0, 8));
  Segment(shorter.c_str(), 5, 2, 2, b.substr(8));
  EXPECT_TRUE(urls.empty()) << "segments of two senders were joined";
  Segment(longer.c_str(), 5, 2, 2, a.substr(8));
  Segment(shorter.c_str(), 5, 2, 1, b.substr(0, 8));
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(Waiting(), 0u);
  EXPECT_EQ((std::vector<Bytes>{Body(urls[0]), Body(urls[1])}),
            (std::vector<Bytes>{"the longer sender's", "the shorter sender's"}));
}

// A segment that announces another count than the message waiting under
// its reference belongs to another message: it is not joined to it, but
// waits apart for the rest of its own.
TEST_F(SmsServicePushTest, ASegmentOfAnotherCountIsNotJoined) {
  const Bytes a = Push(B({0xAE, 0xAF, 0x80}), "the first body");
  Segment("+4911", 5, 2, 1, a.substr(0, 8));
  Segment("+4911", 5, 3, 2, "from another message");
  EXPECT_TRUE(urls.empty());
  EXPECT_EQ(Waiting(), 2u);
  Segment("+4911", 5, 2, 2, a.substr(8));
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(Body(urls[0]), "the first body");
}

// Segments gathered when the service stops are freed with it (the heap
// check of the teardown), and so is a whole push still queued for it.
TEST_F(SmsServicePushTest, SegmentsWaitingAtTheStopAreFreed) {
  const Bytes a = Push(B({0xAE, 0xAF, 0x80}), "a body");
  Segment("+4911", 5, 3, 1, a.substr(0, 4));
  Segment("+4911", 5, 3, 3, a.substr(8));
  ASSERT_EQ(Waiting(), 1u);
  SmsReceived* last = Decode(2, "+4911", B({0, 3, 1, 0x0B, 0x84}), 5, a.substr(4, 4));
  ASSERT_NE(last, nullptr);
  SmsDeliver(last);
  SmsServiceStop();
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Sms), nullptr);
}

}  // namespace
