// Channels through the real URL task, settings store and template engine:
// documents compiled by xml2wbxml (tests/data/chan/) decoded into their
// records, their resources fetched from the tests' fetch driver into the
// repository, and read back through rep: URLs and the "rep" source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "browser/bentask.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "browser/benpage.h"
#include "kernel/mem.h"
#include "kernel/ubstore.h"
#include "layout/render_sink.h"
#include "markup/wbxml.h"
#include "services/channels/rep.h"
#include "services/service_rows.h"
#include "tests/services/prov_support.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/failure_record.h"
#include "tests/support/fetch_driver.h"
#include "tests/support/pinned_work_buffer.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ChanDocument(const std::string& name) {
  return ReadWholeFile(std::string(QOR_CHAN_DATA_DIR) + "/" + name);
}

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

class ChanTest : public EngineFixture {
 protected:
  ChanTest() : EngineFixture(4u << 20) {}
  void SetUp() override {
    dir = std::make_unique<TempDir>(true);
    EngineFixture::SetUp();
    ui = std::make_unique<Recorder>(Mod::Ui);
    browser = std::make_unique<Recorder>(Mod::Ben);
    stage.Start([this] { Pump(); });
    session = stage.session;
    requester = stage.requester.get();
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
      FetchBody body;
      body.body = std::string("body of ") + name;
      body.contentType = "text/plain";
      driver.Serve(std::string("/c/") + name, body);
    }
  }
  void TearDown() override {
    stage.Stop([this] { Pump(); });
    EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
    EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
    for (auto* r : {ui.get(), browser.get()})
      for (const Received& m : r->log) FreeMessage(m);
    ui.reset();
    browser.reset();
    EngineFixture::TearDown();
    dir.reset();
  }
  static void FreeMessage(const Received& m) {
    if (m.message == BenMsg::UiShowUrl || m.message == BenMsg::UiNavigate) {
      auto* text = reinterpret_cast<char*>(m.arg1);
      MemFree(&text);
    } else if (m.message == BenMsg::Binding) {
      auto* b = reinterpret_cast<BenEventBinding*>(m.arg1);
      auto* id = reinterpret_cast<char*>(m.arg2);
      BenFreeBindings(&b);
      MemFree(&id);
    } else if (m.message == BenMsg::Unbind) {
      auto* id = reinterpret_cast<char*>(m.arg2);
      MemFree(&id);
    } else if (m.message == BenMsg::Bindings) {
      auto* b = reinterpret_cast<BenEventBinding*>(m.arg1);
      BenFreeBindings(&b);
    }
  }
  // What the browser window was asked to show since the last call.
  std::vector<std::string> Shown() {
    std::vector<std::string> out;
    for (const Received& m : ui->log) {
      if (m.message == BenMsg::UiShowUrl || m.message == BenMsg::UiNavigate)
        out.push_back(reinterpret_cast<const char*>(m.arg1));
      FreeMessage(m);
    }
    ui->log.clear();
    return out;
  }
  void ServeDocument(const std::string& name, int32_t expiry = 0) {
    FetchBody body;
    body.body = ChanDocument(name);
    body.contentType = "application/vnd.wap.channelc";
    body.expiry = expiry;
    driver.Serve("/" + name, body);
  }
  // Runs the fetch task over the document; what the window was shown.
  std::vector<std::string> Fetch(const std::string& name) {
    ServeDocument(name);
    EXPECT_EQ(RepStartFetchTask(("qortest://h/" + name).c_str()), kOk);
    Pump();
    return Shown();
  }
  std::string Repository() { return stage.Read("repository", [this] { Pump(); }); }
  // Puts an integer key into the stored repository where a folder belongs.
  void SpoilRepository(const char* key) {
    stage.reader->log.clear();
    ConfigOpen(stage.reader->task(), "repository", true);
    Pump();
    ConfigHandle* h = nullptr;
    for (const Received& m : stage.reader->log)
      if (m.message == ConfigMsg::Opened && m.arg1 == kOk) h = reinterpret_cast<ConfigHandle*>(m.arg2);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ConfigSetInt(h, key, 1), kOk);
    EXPECT_EQ(ConfigSave(h, nullptr), kOk);
    Pump();
  }
  void ServeMany() {
    FetchBody missing;
    missing.status = 404;
    missing.contentType = "text/plain";
    driver.Serve("/c/a.txt", missing);
    for (int i = 1; i <= 12; ++i) {
      char name[16];
      snprintf(name, sizeof name, "/c/r%02d.txt", i);
      FetchBody body;
      body.body = name;
      body.contentType = "text/plain";
      driver.Serve(name, body);
    }
  }
  // Loads a URL; its data, or the failure code as "failed 0x...".
  std::string Load(const std::string& url, uint32_t* typeId = nullptr,
                   uint32_t flags = UrlFlag::RawData) {
    UrlRequestRec* request = nullptr;
    if (Result r = UrlRequest(session, url.c_str(), flags, nullptr, &request, 0,
                              requester->task(), 0);
        r != kOk)
      return "refused";
    requester->log.clear();
    Pump();
    std::string out;
    for (const Received& m : requester->log)
      if (m.message == UrlMsg::Failed) {
        char hex[16];
        snprintf(hex, sizeof hex, "%08x", static_cast<uint32_t>(m.arg2));
        out = std::string("failed 0x") + hex;
      }
    if (out.empty()) {
      void* chunk = nullptr;
      lastBlocks = 0;
      while (UrlLoadNextChunk(request, &chunk) == kOk) {
        ++lastBlocks;
        auto* block = static_cast<UtilDataChunk*>(chunk);
        out.append(reinterpret_cast<const char*>(UtilDataChunkData(block) + block->offset),
                   block->remaining);
      }
      if (typeId) *typeId = UrlLoadTypeId(request);
      lastUrl.clear();
      char* text = nullptr;
      if (UrlToString(&text, &UrlRequestLoad(request)->url, 0) == kOk && text) lastUrl = text;
      MemFree(&text);
    }
    UrlRequestDone(session, request);
    Pump();
    return out;
  }

  std::string lastUrl;  // of the last load, as it ended
  int lastBlocks = 0;
  std::unique_ptr<TempDir> dir;
  FetchDriver driver;
  ServiceStage stage;
  std::unique_ptr<Recorder> ui, browser;
  Recorder* requester = nullptr;
  UrlSession* session = nullptr;
};

// --- Documents -------------------------------------------------------------------

TEST_F(ChanTest, ADocumentDecodesIntoItsNoticeAndChannels) {
  ServeDocument("two.wbxml", 86400 * 365 + 3661);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(UrlRequest(session, "qortest://h/two.wbxml", 0, nullptr, &request, 0,
                       requester->task(), 0),
            kOk);
  Pump();
  std::vector<void*> records;
  void* object = nullptr;
  while (UrlLoadNextChunk(request, &object) == kOk) records.push_back(object);
  ASSERT_EQ(records.size(), 3u);
  const auto* notice = static_cast<const RepNotice*>(records[0]);
  EXPECT_EQ(notice->action, 2u);
  EXPECT_EQ(notice->type, 2u);
  EXPECT_EQ(Narrow(RepNoticeText(notice, notice->href)), "chan://?qortest://h/two.wbxml");
  EXPECT_EQ(Narrow(RepNoticeText(notice, notice->siId)), "news");
  EXPECT_EQ(Narrow(RepNoticeText(notice, notice->siExpires)), "1971-01-01T01:01:01Z");
  EXPECT_EQ(Narrow(RepNoticeText(notice, notice->text)), "News today");
  EXPECT_EQ(notice->created, kRepAbsent);
  const auto* news = static_cast<const RepChannel*>(records[1]);
  EXPECT_EQ(news->maxspace, 3072);
  EXPECT_STREQ(news->base, "http://h/c/");
  EXPECT_STREQ(news->success, "http://h/c/ok");
  EXPECT_EQ(news->failure, nullptr);
  EXPECT_STREQ(news->identity.channelId, "news");
  EXPECT_EQ(Narrow(news->identity.title), "News today");
  EXPECT_EQ(news->identity.event, 7u);
  EXPECT_EQ(news->identity.userAccessible, 1u);
  ASSERT_EQ(news->resourceCount, 2u);
  const RepResource* a = news->resources;
  EXPECT_STREQ(a->href, "img/a.png");
  EXPECT_EQ(a->lastmod, 100);
  EXPECT_STREQ(a->next->href, "https://h/c/b.wml");
  EXPECT_STREQ(a->next->etag, "e1");
  EXPECT_EQ(a->next->next, nullptr);
  const auto* sport = static_cast<const RepChannel*>(records[2]);
  EXPECT_STREQ(sport->identity.channelId, "sport");
  EXPECT_EQ(sport->identity.title, nullptr);
  EXPECT_EQ(sport->identity.event, 0u);  // not a known event
  EXPECT_EQ(sport->identity.userAccessible, 0u);
  EXPECT_EQ(sport->resources, nullptr);
  UrlRequestDone(session, request);
  Pump();
}

TEST_F(ChanTest, DocumentsAndTheirFailures) {
  ServeDocument("noid.wbxml");
  EXPECT_EQ(Load("qortest://h/noid.wbxml", nullptr, 0), "failed 0x803e0002");
  FetchBody cut;
  cut.body = ChanDocument("two.wbxml").substr(0, 60);
  cut.contentType = "application/vnd.wap.channelc";
  driver.Serve("/cut.chc", cut);
  EXPECT_EQ(Load("qortest://h/cut.chc", nullptr, 0), "failed 0x803e0003");  // cut short
  EXPECT_EQ(RepEventNumber("wtaev-cc/ic"), 1u);
  EXPECT_EQ(RepEventNumber("wtaev-ms/ns"), 12u);
  EXPECT_EQ(RepEventNumber("cc/ic"), 0u);
}

TEST_F(ChanTest, UrlsJoinAndTakeTheRepScheme) {
  const struct {
    const char* base;
    const char* href;
    const char* joined;
  } joins[] = {
      {"http://h/c/", "img/a.png", "http://h/c/img/a.png"},
      {"http://h/c", "img/a.png", "http://h/c/img/a.png"},
      {"http://h/c/", "/img/a.png", "http://h/c/img/a.png"},
      {nullptr, "img/a.png", "img/a.png"},
      {"http://h/c/", "https://x/y", "https://x/y"},
  };
  for (const auto& j : joins) {
    char* out = RepJoinUrl(j.base, j.href);
    EXPECT_STREQ(out, j.joined);
    MemFree(&out);
  }
  for (auto [in, want] : {std::pair{"https://h/x", "rep://h/x"}, {"http://h/x", "rep://h/x"},
                          {"ab:c", "ab:c"}, {"none", "none"}}) {
    char* out = RepSchemeToRep(in);
    EXPECT_STREQ(out, want);
    MemFree(&out);
  }
}

// --- Fetching and the repository -----------------------------------------------

TEST_F(ChanTest, AChannelIsFetchedIntoTheRepository) {
  EXPECT_EQ(Fetch("fetch.wbxml"), std::vector<std::string>{"qortest://h/c/ok.html"});
  const std::string stored = Repository();
  EXPECT_NE(stored.find("Resource/0/url=rep://h/c/a.txt\nResource/0/usage=#1\n"), std::string::npos)
      << stored;
  EXPECT_NE(stored.find("Resource/1/mod=#5\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Channel/0/chanid=weather\nChannel/0/title=u'Weather'\nChannel/0/user=#1\n"
                        "Channel/0/event=#1\nChannel/0/numres=#2\nChannel/0/0=#0\nChannel/0/1=#1\n"),
            std::string::npos)
      << stored;
  ASSERT_EQ(browser->Count(BenMsg::Binding), 1u);
  const auto* binding = reinterpret_cast<const BenEventBinding*>(browser->log.back().arg1);
  EXPECT_EQ(binding->event, 1u);
  EXPECT_STREQ(binding->url, "rep://0");
  EXPECT_STREQ(reinterpret_cast<const char*>(browser->log.back().arg2), "weather");
  // Read back by number and by URL; the stored URL becomes the load's own.
  uint32_t type = 0;
  EXPECT_EQ(Load("rep://0/", &type), "body of a.txt");
  EXPECT_EQ(lastUrl, "rep://h/c/a.txt");  // relative links resolve against it
  EXPECT_EQ(type, UrlType::Text) << "the stored resource keeps its text/plain type";
  EXPECT_EQ(Load("rep://h/c/b.txt"), "body of b.txt");
  EXPECT_EQ(Load("REP://H/c/b.txt"), "body of b.txt");
  EXPECT_EQ(Load("rep://h/c/none.txt"), "failed 0x803f0003");
  EXPECT_EQ(Load("rep://9/"), "failed 0x803f003f");
}

// A channel stored or removed whose save the settings store does not keep
// (the shipped quota and one resource of 9,000 bytes; a quota cut below
// the file) has shown its page as it was stored, before the save, which
// waits for the repository's queue to run dry; the save's answer says what
// was not kept, once for each channel, as its last change in that save
// leaves it, and the browser's event bindings are made again from the
// file, which holds what it held before.
TEST_F(ChanTest, AChannelWhoseSaveIsNotKeptIsSaid) {
  const struct {
    std::vector<const char*> documents;  // fetched together, into one save
    uint32_t resourceBytes;  // of a.txt
    int32_t quota;           // of the repository while the documents are fetched
    std::vector<std::string> shown;
    std::string said;
    const char* stays;  // what the file still holds, or "" for no channel
  } cases[] = {
      {{"fetch.wbxml"}, 9000, 8000, {"qortest://h/c/ok.html"},
       "repository: channel Weather: did not fit its quota; it is not kept", ""},
      {{"remove.wbxml"}, 10, 10, {"info://SHOW/reposit/DelSucc.html"},
       "repository: channel weather: did not fit its quota; its removal is not kept",
       "Channel/0/chanid=weather\n"},
      {{"remove.wbxml", "fetch.wbxml"}, 10, 10,
       {"info://SHOW/reposit/DelSucc.html", "qortest://h/c/ok.html"},
       "repository: channel Weather: did not fit its quota; it is not kept",
       "Channel/0/chanid=weather\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.documents));
    std::remove("repository");
    FetchBody a;
    a.body = std::string(c.resourceBytes, 'a');
    a.contentType = "text/plain";
    driver.Serve("/c/a.txt", a);
    if (*c.stays) Fetch("fetch.wbxml");
    for (const Received& m : browser->log) FreeMessage(m);
    browser->log.clear();
    UbstoreSetQuota("repository", c.quota);
    FailureRecord failures;
    for (const char* document : c.documents) {
      ServeDocument(document);
      EXPECT_EQ(RepStartFetchTask((std::string("qortest://h/") + document).c_str()), kOk);
    }
    Pump();
    EXPECT_EQ(Shown(), c.shown);
    UbstoreSetQuota("repository", 8000);
    EXPECT_EQ(failures.said, std::vector<std::string>{c.said});
    const std::string stored = Repository();
    if (*c.stays)
      EXPECT_NE(stored.find(c.stays), std::string::npos) << stored;
    else
      EXPECT_EQ(stored.find("Channel/0/"), std::string::npos) << stored;
    EXPECT_EQ(browser->Count(BenMsg::Bindings), 1u);
  }
}

// A resource served with a type the handset does not know is stored without
// one; read back, its type comes from its name's extension.
TEST_F(ChanTest, AStoredResourceOfUnknownTypeTakesItsTypeFromItsName) {
  FetchBody body;
  body.body = "body of a.txt";
  body.contentType = "application/x-unknown";
  driver.Serve("/c/a.txt", body);
  EXPECT_EQ(Fetch("fetch.wbxml"), std::vector<std::string>{"qortest://h/c/ok.html"});
  for (const char* url : {"rep://0/", "rep://h/c/a.txt"}) {
    uint32_t type = 0;
    EXPECT_EQ(Load(url, &type), "body of a.txt") << url;
    EXPECT_EQ(type, UrlType::Text) << url;
  }
}

TEST_F(ChanTest, FailedChannelsShowTheirFailurePageAndStoreNothing) {
  // http resources go over WSP, which this system cannot fetch.
  EXPECT_EQ(Fetch("http.wbxml"), std::vector<std::string>{"http://h/c/fail.html"});
  EXPECT_EQ(Fetch("big.wbxml"), std::vector<std::string>{"info://SHOW/reposit/ChanFail.html"});
  FetchBody missing;
  missing.status = 404;
  missing.contentType = "text/plain";
  driver.Serve("/c/a.txt", missing);
  EXPECT_EQ(Fetch("fetch.wbxml"), std::vector<std::string>{"info://SHOW/reposit/ChanFail.html"});
  EXPECT_EQ(Fetch("nothing.wbxml"), std::vector<std::string>{"info://SHOW/reposit/ChanFail.html"});
  EXPECT_EQ(Repository().find("Channel/0"), std::string::npos);
}

// A channel fetched again: what the repository holds unchanged is not
// requested; a channel of the same id replaces the stored one; a channel
// without resources removes it.
TEST_F(ChanTest, ReplacementsAndRemovalKeepTheUsageCounts) {
  Fetch("fetch.wbxml");
  const int before = driver.starts;
  EXPECT_EQ(Fetch("fetch.wbxml"), std::vector<std::string>{"qortest://h/c/ok.html"});
  EXPECT_EQ(driver.starts - before, 1);  // the document only: same etag, no newer date
  std::string stored = Repository();
  EXPECT_NE(stored.find("Channel/numchan=#1\nChannel/freechan=#2\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Resource/0/usage=#1\n"), std::string::npos) << stored;
  FetchBody c;
  c.body = std::string(241, 'c');
  c.contentType = "text/plain";
  driver.Serve("/c/c.txt", c);
  EXPECT_EQ(Fetch("replace.wbxml"), std::vector<std::string>{"info://SHOW/reposit/ChanSucc.html"});
  EXPECT_EQ(Load("rep://2/").size(), 241u);
  EXPECT_EQ(lastBlocks, 2);
  stored = Repository();
  EXPECT_NE(stored.find("Channel/2/title=u'Weather 2'\n"), std::string::npos) << stored;
  EXPECT_EQ(stored.find("Channel/1/"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Resource/0/usage=#1\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Resource/1/usage=#0\n"), std::string::npos) << stored;  // b.txt: unused
  EXPECT_NE(stored.find("Resource/2/url=rep://h/c/c.txt\n"), std::string::npos) << stored;
  EXPECT_EQ(Fetch("remove.wbxml"), std::vector<std::string>{"info://SHOW/reposit/DelSucc.html"});
  stored = Repository();
  EXPECT_EQ(stored.find("Channel/2/"), std::string::npos) << stored;
  EXPECT_EQ(browser->Count(BenMsg::Unbind), 1u);
  // The next binding request cleans up the resources nothing lists.
  TskmanPost(ReplibGetTask(), ReplibMsg::Bindings, 0, 0);
  Pump();
  stored = Repository();
  EXPECT_NE(stored.find("Resource/numres=#0\n"), std::string::npos) << stored;
  EXPECT_EQ(browser->Count(BenMsg::Bindings), 1u);
}

// The chan: scheme starts a fetch; a channel whose time has passed goes at
// the next binding request.
TEST_F(ChanTest, ChanUrlsAndExpiry) {
  ServeDocument("fetch.wbxml", 1000);
  EXPECT_EQ(Load("chan://?qortest://h/fetch.wbxml", nullptr, 0), "");
  EXPECT_EQ(Shown(), std::vector<std::string>{"qortest://h/c/ok.html"});
  EXPECT_NE(Repository().find("Channel/0/exp=#1000\n"), std::string::npos);
  platform->now = 999;
  TskmanPost(ReplibGetTask(), ReplibMsg::Bindings, 0, 0);
  Pump();
  EXPECT_NE(Repository().find("Channel/0/exp=#1000\n"), std::string::npos) << "not yet";
  ASSERT_EQ(browser->Count(BenMsg::Bindings), 1u);
  const auto* list = reinterpret_cast<const BenEventBinding*>(browser->log.back().arg1);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->event, 1u);
  EXPECT_STREQ(list->url, "rep://0");
  EXPECT_STREQ(list->channelId, "weather");
  EXPECT_EQ(list->next, nullptr);
  platform->now = 1001;
  TskmanPost(ReplibGetTask(), ReplibMsg::Bindings, 0, 0);
  Pump();
  const std::string stored = Repository();
  EXPECT_EQ(stored.find("Channel/0/"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Resource/numres=#0\n"), std::string::npos) << stored;
}

// A channel document shown as a page draws nothing and starts its fetch when
// the page closes its sink.
TEST_F(ChanTest, TheChannelSinkStartsTheFetch) {
  RenderSetChannelClose(RepStartFetchTask);
  ServeDocument("fetch.wbxml");
  const RenderSinkRow* row = RenderFindSink(kRepChannelClass);
  ASSERT_NE(row, nullptr);
  BenPage page{};
  char url[] = "qortest://h/fetch.wbxml";
  page.url = url;
  RenderRequest request{&page, 0};
  EXPECT_EQ(row->write(&request, 0, nullptr, 0), 0x800Fu);
  EXPECT_EQ(row->close(&request, 0, nullptr, 0), kOk);
  Pump();
  EXPECT_EQ(Shown(), std::vector<std::string>{"qortest://h/c/ok.html"});
  RenderSetChannelClose(nullptr);
}

// The user page lists the user-accessible channels through the "rep"
// source; the repository outlives a restart of the settings store.
TEST_F(ChanTest, TheUserPageAndARestart) {
  uint32_t type = 0;
  std::string page = Load("rep:///", &type);
  EXPECT_EQ(type, UrlType::Html);
  EXPECT_EQ(page.find(std::string("r\0e\0p\0:\0/\0/\0", 12)), std::string::npos);
  Fetch("fetch.wbxml");
  ConfigStop();
  Pump();
  ASSERT_EQ(ConfigStart(stage.starter->task()), kOk);
  Pump();
  EXPECT_EQ(Load("rep://1/"), "body of b.txt");
  page = Load("rep:///");
  std::string narrow;
  for (size_t i = 0; i < page.size(); i += 2) narrow += page[i];
  EXPECT_NE(narrow.find("<a href=\"rep://0\">Weather</a>"), std::string::npos) << narrow;
}

// Requests still queued when the repository task is told to stop are each
// given back: a waiting load learns there is no repository, one that gave up
// is freed with what it held, and the task ends with nothing left behind.
TEST_F(ChanTest, RequestsQueuedAtStopAreAnsweredOrFreed) {
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  auto* waiting = static_cast<ReplibResult*>(MemAllocZero(sizeof(ReplibResult), Use::Data, Mod::TestCode));
  auto* gaveUp = static_cast<ReplibResult*>(MemAllocZero(sizeof(ReplibResult), Use::Data, Mod::TestCode));
  auto* cell = static_cast<int32_t*>(MemAllocZero(sizeof(int32_t), Use::Data, Mod::TestCode));
  gaveUp->status = ReplibCode::NotFound;
  TskmanTask* replib = ReplibGetTask();
  ASSERT_NE(replib, nullptr);
  TskmanPost(replib, ReplibMsg::Resolve, 0, reinterpret_cast<uintptr_t>(waiting));
  TskmanPost(replib, ReplibMsg::UserPage, reinterpret_cast<uintptr_t>(gaveUp), 0);
  TskmanPost(replib, ReplibMsg::SourceClose, reinterpret_cast<uintptr_t>(cell), 0);
  TskmanPost(replib, TskMsg::Stop2, 0, 0);
  Pump();
  EXPECT_EQ(waiting->done, 1u);
  EXPECT_EQ(waiting->status, ReplibCode::NoFolder);
  ReplibFreeResult(&waiting);
  EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}


// A repository task that could not make its record at its start, and a
// request that reaches it after it has set out to end: the request is still
// carried out, and the task ends after it.
TEST_F(ChanTest, ARequestAfterAFailedStartIsStillCarriedOut) {
  const PinnedWorkBuffer pinned;
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  TskmanTask* replib = ReplibGetTask();
  ASSERT_NE(replib, nullptr);
  std::vector<void*> fillers;
  for (uint32_t size = 1u << 20; size >= 8;)
    if (void* f = MemAlloc(size, Use::Data, Mod::TestCode))
      fillers.push_back(f);
    else
      size /= 2;
  Step();  // the start, without memory for the record
  for (void* f : fillers) MemFree(&f);
  TskmanPost(replib, ReplibMsg::Bindings, 0, 0);
  Pump();
  EXPECT_EQ(browser->Count(BenMsg::Bindings), 1u);
  for (const Received& m : browser->log) FreeMessage(m);
  browser->log.clear();
  EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

// A task that has set out to end is found by an asker that then gives up
// before sending (its own record could not be made): nothing is on its way,
// and the task still ends by itself.
TEST_F(ChanTest, ATaskWhoseAskerGaveUpBeforeSendingStillEnds) {
  Pump();
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  ASSERT_NE(ReplibGetTask(), nullptr);
  Step();  // its start: nothing asked of it
  ASSERT_NE(ReplibGetTask(), nullptr);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

// A channel that fails while the repository still holds checks about its
// resources: the checks come back into the channel as it was reset, never
// into freed memory, and the next channel of the document goes on.
TEST_F(ChanTest, AChannelFailingWithChecksOutstanding) {
  const struct {
    const char* document;
    bool many;  // the 13-resource document's resources served, the first missing
    std::vector<std::string> shown;
    const char* stored;  // a channel id the repository then holds, or null
  } cases[] = {
      // http resources go over WSP, which this system cannot fetch.
      {"http3.wbxml", false, {"info://SHOW/reposit/ChanFail.html"}, nullptr},
      {"nested.wbxml", false,
       {"info://SHOW/reposit/ChanFail.html", "qortest://h/c/second.html"}, "second"},
      {"many.wbxml", true, {"info://SHOW/reposit/ChanFail.html"}, "second"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    if (c.many) ServeMany();
    EXPECT_EQ(Fetch(c.document), c.shown);
    EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
    EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
    const std::string stored = Repository();
    if (c.stored)
      EXPECT_NE(stored.find(std::string("Channel/0/chanid=") + c.stored + "\n"), std::string::npos)
          << stored;
    else
      EXPECT_EQ(stored.find("Channel/0"), std::string::npos) << stored;
  }
}

// Two documents fetched at once: each fetch task hears the answers about its
// own resources, both channels are stored and both tasks end.
TEST_F(ChanTest, TwoDocumentsAtOnceAreBothStored) {
  ServeDocument("fetch.wbxml");
  ServeDocument("other.wbxml");
  ASSERT_EQ(RepStartFetchTask("qortest://h/fetch.wbxml"), kOk);
  ASSERT_EQ(RepStartFetchTask("qortest://h/other.wbxml"), kOk);
  Pump();
  std::vector<std::string> shown = Shown();
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<std::string>{"qortest://h/c/ok.html", "qortest://h/c/other.html"}));
  EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
  const std::string stored = Repository();
  EXPECT_NE(stored.find("chanid=weather\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("chanid=other\n"), std::string::npos) << stored;
  EXPECT_EQ(Load("rep://h/c/c.txt"), "body of c.txt");
}

// A channel document that cannot even be asked for ends its task quietly.
TEST_F(ChanTest, ADocumentThatCannotBeRequestedShowsNothing) {
  ASSERT_EQ(RepStartFetchTask(""), kOk);
  Pump();
  EXPECT_EQ(Shown(), std::vector<std::string>{});
  EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
}

// A store that fails: while storing a resource only the channel's own
// failure page is shown; while writing the channel, the built-in one
// stands in for a missing one.
TEST_F(ChanTest, AFailedStoreShowsTheFailurePageOfItsStep) {
  const struct {
    const char* spoiled;  // a key where the repository keeps a folder
    const char* document;
    std::vector<std::string> shown;
  } cases[] = {
      {"Resource", "fetch.wbxml", {}},
      {"Channel", "fetch.wbxml", {"info://SHOW/reposit/ChanFail.html"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.spoiled) + " " + c.document);
    SpoilRepository(c.spoiled);
    EXPECT_EQ(Fetch(c.document), c.shown);
    EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
    stage.reader->log.clear();
    ConfigOpen(stage.reader->task(), "repository", true);
    Pump();
    for (const Received& m : stage.reader->log)
      if (m.message == ConfigMsg::Opened && m.arg1 == kOk) {
        auto* h = reinterpret_cast<ConfigHandle*>(m.arg2);
        ConfigDelete(h, c.spoiled, 0);
        ConfigSave(h, nullptr);
      }
    Pump();
  }
}

// The settings store goes away while the repository keeps its section open;
// the save it then tries is refused at once, and the section is let go all
// the same, leaving nothing behind.
TEST_F(ChanTest, ASaveRefusedAtOnceLetsTheSectionGo) {
  ServeDocument("fetch.wbxml", 1000);
  ASSERT_EQ(RepStartFetchTask("qortest://h/fetch.wbxml"), kOk);
  Pump();
  Shown();
  Recorder asker(Mod::Performance);
  Pump();
  for (const Received& m : browser->log) FreeMessage(m);
  browser->log.clear();
  const uint32_t heapBefore = HeapGetStats().freeBytes;
  RepResource resource{};
  char href[] = "a.txt";
  resource.href = href;
  auto* check = static_cast<RepCheck*>(MemAlloc(sizeof(RepCheck), Use::Data, Mod::TestCode));
  *check = RepCheck{TskmanRefOf(asker.task()), nullptr, &resource};
  platform->now = 1001;  // the stored channel has expired: the cleanup changes the section
  TskmanTask* replib = ReplibGetTask();
  TskmanPost(replib, ReplibMsg::Check, reinterpret_cast<uintptr_t>("qortest://h/c/"),
             reinterpret_cast<uintptr_t>(check));
  TskmanPost(replib, ReplibMsg::Bindings, 0, 0);
  Pump();
  ASSERT_EQ(asker.Count(RepMsg::Checked), 1u);
  ASSERT_NE(TskmanFind(Mod::WtlReplib), nullptr) << "a check keeps the section open";
  ConfigStop();
  Pump();
  TskmanPost(replib, ReplibMsg::FetchFailed, 0, 0);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
  ASSERT_EQ(ConfigStart(stage.starter->task()), kOk);
  Pump();
  MemFree(&check);
  for (const Received& m : browser->log) FreeMessage(m);
  browser->log.clear();
  EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
}

// A document decoded with the heap running out anywhere fails as out of
// memory or decodes whole; a nested channel's start fails the same way.
TEST_F(ChanTest, RunningOutOfMemoryWhileDecodingFailsAsOutOfMemory) {
  const std::string document = ChanDocument("two.wbxml");
  const PinnedWorkBuffer pinned;
  bool whole = false;
  uint32_t refusals = 0;
  for (uint32_t spare = 0; spare < (16u << 10) && !whole; spare += 8) {
    UrlLoad load{};
    QueueBytes(&load.input, document, Mod::TestCode);
    load.endOfData = 1;
    ASSERT_EQ(UrlParse(&load.url, "qortest://h/two.wbxml", 0), kOk);
    const uint32_t freeAtStart = HeapGetStats().freeBytes;
    void* filler = MemAlloc(freeAtStart - 64 - spare, Use::Data, Mod::TestCode);
    if (!filler) {
      UtilDataChunkFreeQueue(&load.input);
      UrlFreeParsed(&load.url);
      continue;
    }
    const Result r = RepContentProcess(nullptr, &load);
    RepContentRelease(nullptr, &load);
    MemFree(&filler);
    uint32_t records = 0;
    while (QueueNode* n = QueuePopFront(&load.output)) {
      ++records;
      MemFree(&n);
    }
    UtilDataChunkFreeQueue(&load.input);
    UrlFreeParsed(&load.url);
    if (r == kOk) {
      whole = true;
      EXPECT_EQ(records, 3u);
    } else {
      ++refusals;
      EXPECT_TRUE(r == RepCode::NoMemory || r == kWbxmlNoMemory) << std::hex << r << " " << spare;
    }
  }
  EXPECT_TRUE(whole);
  EXPECT_GT(refusals, 10u);
}

}  // namespace

namespace {

// Told to stop after any number of steps of a fetch, the repository task
// ends only once nothing is on its way to it: a save's answer must not find
// a task that has ended.
TEST_F(ChanTest, AStopAtAnyStepOfAFetchLeavesNothingBehind) {
  ServeDocument("fetch.wbxml");
  for (int steps = 0; steps < 200; ++steps) {
    SCOPED_TRACE(steps);
    ASSERT_EQ(RepStartFetchTask("qortest://h/fetch.wbxml"), kOk);
    for (int i = 0; i < steps && TskmanPendingCount() > 0; ++i) Step();
    if (TskmanTask* replib = TskmanFind(Mod::WtlReplib)) TskmanPost(replib, TskMsg::Stop2, 0, 0);
    Pump();
    Shown();
    for (const Received& m : browser->log) FreeMessage(m);
    browser->log.clear();
    // A channel stored after the stop brings the task up again; it ends by itself.
    EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
    EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
  }
}

// The section cannot be opened: every check the repository was sent, also
// one that reached it after the refusal, comes back to its asker.
TEST_F(ChanTest, EveryCheckIsAnsweredWhenTheSectionCannotOpen) {
  ConfigStop();
  Pump();
  Recorder asker(Mod::Performance);
  Pump();
  RepResource resource{};
  char href[] = "a.txt";
  resource.href = href;
  RepCheck checks[2] = {{TskmanRefOf(asker.task()), nullptr, &resource},
                        {TskmanRefOf(asker.task()), nullptr, &resource}};
  TskmanTask* replib = ReplibGetTask();
  ASSERT_NE(replib, nullptr);
  TskmanPost(replib, ReplibMsg::Check, reinterpret_cast<uintptr_t>("qortest://h/c/"),
             reinterpret_cast<uintptr_t>(&checks[0]));
  Step();  // start
  Step();  // the first check asks for the section; the refusal is on its way
  // A second asker finds the task still there and sends its check.
  ASSERT_EQ(ReplibGetTask(), replib);
  TskmanPost(replib, ReplibMsg::Check, reinterpret_cast<uintptr_t>("qortest://h/c/"),
             reinterpret_cast<uintptr_t>(&checks[1]));
  Pump();
  EXPECT_EQ(asker.Count(RepMsg::Checked), 2u);
  EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
  ASSERT_EQ(ConfigStart(stage.starter->task()), kOk);
  Pump();
}

}  // namespace

namespace {

// The user page, read whole or let go after any number of steps: the
// values the "rep" source answered with are its own to free once the page
// has taken them, and nothing stays behind.
TEST_F(ChanTest, TheUserPageLeavesNothingBehind) {
  Fetch("fetch.wbxml");
  for (const Received& m : browser->log) FreeMessage(m);
  browser->log.clear();
  for (int i = 0; i < 3; ++i) {
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    EXPECT_NE(Load("rep:///").size(), 0u);
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
  }
  for (int steps = 0; steps < 120; ++steps) {
    SCOPED_TRACE(steps);
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    UrlRequestRec* request = nullptr;
    ASSERT_EQ(UrlRequest(session, "rep:///", UrlFlag::RawData, nullptr, &request, 0,
                         requester->task(), 0),
              kOk);
    for (int i = 0; i < steps && TskmanPendingCount() > 0; ++i) Step();
    UrlRequestDone(session, request);
    Pump();
    requester->log.clear();
    EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
  }
}

}  // namespace

namespace {

// A fetch, whatever becomes of its channels, leaves nothing of itself.
TEST_F(ChanTest, AFetchLeavesNothingBehind) {
  const auto twice = [this](const char* document) {
    SCOPED_TRACE(document);
    Fetch(document);  // the first time may store
    for (const Received& m : browser->log) FreeMessage(m);
    browser->log.clear();
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    EXPECT_FALSE(Fetch(document).empty());
    for (const Received& m : browser->log) FreeMessage(m);
    browser->log.clear();
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
    EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
    EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
  };
  for (const char* document : {"fetch.wbxml", "replace.wbxml", "remove.wbxml", "http3.wbxml",
                               "nested.wbxml", "big.wbxml", "nothing.wbxml", "two.wbxml"})
    twice(document);
  ServeMany();
  twice("many.wbxml");
}

}  // namespace

namespace {

// A rep: URL loaded with the heap running out at any point fails or
// succeeds, and leaves nothing of itself either way.
class ChanOomTest : public ChanTest {
 protected:
  // Loads each rep: URL with the heap running out at every point of the way.
  // With `nudge`, a repository task a failed allocation left behind is sent
  // one more request (which ends it) before the heap is compared.
  void Sweep(bool nudge) {
    const PinnedWorkBuffer pinned;
    Fetch("fetch.wbxml");
    for (const Received& m : browser->log) FreeMessage(m);
    browser->log.clear();
    for (const char* url : {"rep:///", "rep://0/", "rep://h/c/b.txt"}) {
      uint32_t failures = 0;
      bool whole = false;
      for (uint32_t spare = 0; spare < (24u << 10) && !whole; spare += 16) {
        SCOPED_TRACE(std::string(url) + " " + std::to_string(spare));
        const uint32_t heapBefore = HeapGetStats().freeBytes;
        void* filler = MemAlloc(HeapGetStats().largestFree - 64 - spare, Use::Data, Mod::TestCode);
        if (!filler) continue;
        UrlRequestRec* request = nullptr;
        const Result asked = UrlRequest(session, url, UrlFlag::RawData, nullptr, &request, 0,
                                        requester->task(), 0);
        requester->log.clear();
        if (asked == kOk) {
          Pump();
          for (const Received& m : requester->log) {
            if (m.message == UrlMsg::Failed) ++failures;
            if (m.message == UrlMsg::Complete) whole = true;
          }
          UrlRequestDone(session, request);
          Pump();
        }
        MemFree(&filler);
        Pump();
        requester->log.clear();
        if (nudge)
          if (TskmanTask* replib = TskmanFind(Mod::WtlReplib)) {
            TskmanPost(replib, ReplibMsg::FetchFailed, 0, 0);
            Pump();
          }
        EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
        EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
      }
      EXPECT_TRUE(whole) << url;
      EXPECT_GT(failures, 0u) << url;
    }
  }
};

// A fetch with the heap running out at any point: the fetch task ends, the
// repository task ends (given one more request when a failed allocation
// left it idle), and nothing of either stays.
TEST_F(ChanOomTest, AFetchRunningOutOfMemoryLeavesNothingBehind) {
  const PinnedWorkBuffer pinned;
  for (const char* document : {"fetch.wbxml", "nested.wbxml"}) {
    ServeDocument(document);
    Fetch(document);
    bool stored = false;
    for (uint32_t spare = 0; spare < (64u << 10) && !stored; spare += 32) {
      SCOPED_TRACE(std::string(document) + " " + std::to_string(spare));
      for (const Received& m : browser->log) FreeMessage(m);
      browser->log.clear();
      const uint32_t heapBefore = HeapGetStats().freeBytes;
      void* filler = MemAlloc(HeapGetStats().largestFree - 64 - spare, Use::Data, Mod::TestCode);
      if (!filler) continue;
      if (RepStartFetchTask(("qortest://h/" + std::string(document)).c_str()) == kOk) Pump();
      MemFree(&filler);
      Pump();
      for (const std::string& page : Shown())
        if (page.find("ok.html") != std::string::npos || page.find("second.html") != std::string::npos)
          stored = true;
      if (TskmanTask* replib = TskmanFind(Mod::WtlReplib)) {
        TskmanPost(replib, ReplibMsg::FetchFailed, 0, 0);
        Pump();
      }
      for (const Received& m : browser->log) FreeMessage(m);
      browser->log.clear();
      EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
      EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
      EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
    }
    EXPECT_TRUE(stored) << document;
  }
}

// Documents that fail and one that stores, fetched all at once and
// started one step apart: every fetch task hears its own answers and ends,
// and nothing stays.
TEST_F(ChanTest, ManyDocumentsAtOnceAllEnd) {
  ServeMany();
  for (const char* name : {"nested.wbxml", "many.wbxml", "http3.wbxml", "other.wbxml", "two.wbxml"})
    ServeDocument(name);
  Fetch("other.wbxml");
  for (const Received& m : browser->log) FreeMessage(m);
  browser->log.clear();
  for (int gap = 0; gap < 12; ++gap) {
    SCOPED_TRACE(gap);
    const uint32_t heapBefore = HeapGetStats().freeBytes;
    for (const char* name : {"nested.wbxml", "many.wbxml", "http3.wbxml", "other.wbxml", "two.wbxml"}) {
      ASSERT_EQ(RepStartFetchTask((std::string("qortest://h/") + name).c_str()), kOk);
      for (int i = 0; i < gap && TskmanPendingCount() > 0; ++i) Step();
    }
    Pump();
    const std::vector<std::string> shown = Shown();
    EXPECT_NE(std::find(shown.begin(), shown.end(), "qortest://h/c/other.html"), shown.end());
    for (const Received& m : browser->log) FreeMessage(m);
    browser->log.clear();
    EXPECT_EQ(TskmanFind(Mod::WtlRepository), nullptr);
    EXPECT_EQ(TskmanFind(Mod::WtlReplib), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, heapBefore);
  }
}

TEST_F(ChanOomTest, RepUrlsRunningOutOfMemoryLeaveNothingBehind) { Sweep(true); }

// A repository task whose context or request record could not be allocated,
// or whose asker failed before sending its request, ends by itself as it
// does when its queue runs dry, after what is already on its way to it.
TEST_F(ChanOomTest, ARepositoryTaskLeftByAFailedAllocationEndsByItself) { Sweep(false); }

}  // namespace
