// The local content store: documents pushed to application "32768" (bodies
// from Python's email.mime, tests/data/push/make_lc.py) stored by Content-ID
// in "homepage", and served back by the cid: scheme.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/config.h"
#include "kernel/ubstore.h"
#include "services/push/lc.h"
#include "services/push/lc_internal.h"
#include "tests/services/push_fixture.h"
#include "tests/support/failure_record.h"
#include "tests/support/fetch_driver.h"

namespace {

std::filesystem::path* gUnreadable;
void ReadableAfterFirstFailure(const TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (gUnreadable && task->id == Mod::LocalContent && message == ConfigMsg::Opened && arg1 != 0) {
    std::filesystem::remove_all(*gUnreadable);
    gUnreadable = nullptr;
  }
}

class PushLcTest : public PushFixture {
 protected:
  void SetUp() override {
    PushFixture::SetUp();
    requester = std::make_unique<FetchRequester>();
    Pump();
    OpenSession();
  }
  void TearDown() override {
    UrlSessionDestroy(session);
    Pump();
    requester.reset();
    PushFixture::TearDown();
  }
  void OpenSession() { ASSERT_EQ(UrlSessionCreate(&session, requester->task()), kOk); }
  void PushLc(const std::string& file, const char* id = "32768") {
    Push("multipart/related", Data(file), {{"X-Wap-Application-Id", id}});
    Pump();
  }
  std::map<std::string, std::string> Keys() {
    std::map<std::string, std::string> keys;
    for (auto& [k, v] : Section("homepage")) keys[k] = v;
    return keys;
  }
  struct Got {
    std::string body;
    Result failure = 0;
    uint32_t contentClass = 0;
  };
  Got Get(const std::string& url, uint32_t flags = 0) {
    Got got;
    UrlRequestRec* request = nullptr;
    EXPECT_EQ(requester->Request(session, url, flags, &request), kOk);
    Pump();
    requester->Drain(request);
    got.body = requester->received[request];
    got.contentClass = UrlLoadContentClass(request);
    for (const Received& r : requester->log())
      if (r.message == UrlMsg::Failed) got.failure = static_cast<Result>(r.arg2);
    requester->Done(session, request);
    requester->ClearLog();
    return got;
  }
  static std::string Text(const std::string& utf16) {
    std::string s;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
      const unsigned unit = static_cast<uint8_t>(utf16[i]) | static_cast<uint8_t>(utf16[i + 1]) << 8;
      s += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return s;
  }

  std::unique_ptr<FetchRequester> requester;
  UrlSession* session = nullptr;

  // Posts a read and a queue to local content while its class file is
  // unreadable for one open of the section (a symlink loop: stat fails);
  // the file comes back once that open has failed, and the ring runs out.
  void RaceAReadAgainstAnUnreadableOpen(LcRequest* read, LcQueued* head, LcQueued* last) {
    std::filesystem::path saved = dir_ / "repository.saved";
    std::filesystem::rename(dir_ / "repository", saved);
    std::filesystem::path unreadable = dir_ / "repository";
    std::filesystem::create_symlink("repository", unreadable);
    gUnreadable = &unreadable;
    TskmanSetObserver(ReadableAfterFirstFailure);
    TskmanTask* lc = TskmanFind(Mod::LocalContent);
    TskmanPost(lc, LcMsg::Read, reinterpret_cast<uintptr_t>(read), 0);
    TskmanPost(lc, LcMsg::StoreQueue, reinterpret_cast<uintptr_t>(head), reinterpret_cast<uintptr_t>(last));
    const auto restore = [&] {
      if (!gUnreadable && std::filesystem::exists(saved)) std::filesystem::rename(saved, dir_ / "repository");
    };
    for (int i = 0; i < 100000 && Step() == kOk; ++i) restore();
    Pump();
    restore();
    TskmanSetObserver(nullptr);
    EXPECT_EQ(gUnreadable, nullptr);  // the open did fail once
  }
};

std::string Bytes200() {
  std::string s;
  for (int i = 0; i < 200; ++i) s += static_cast<char>(i);
  return s;
}

TEST_F(PushLcTest, APushedDocumentIsStoredByContentIdAndServedByCid) {
  PushLc("lc_first.mime");
  auto keys = Keys();
  EXPECT_EQ(keys["current"].c_str(), std::string("cid:page1"));
  for (const char* k : {"page1", "logo", "notes", "page1.list"}) EXPECT_EQ(keys.count(k), 1u) << k;
  EXPECT_EQ(Indicators(), std::vector<uint32_t>{13});  // told once the save succeeded
  const Got page = Get("cid:current");
  EXPECT_EQ(page.failure, kOk);
  EXPECT_EQ(page.contentClass, 2u);
  // Base64 undone, and the stored page's markers filled (no such source).
  EXPECT_EQ(Text(page.body), "<html><body><img src=\"cid:logo\"/>First </body></html>");
  const Got logo = Get("cid:logo");
  EXPECT_EQ(logo.body, Bytes200());
  EXPECT_EQ(Text(Get("cid:notes").body), "Old notes");  // text: through the template engine
}

TEST_F(PushLcTest, ANewDocumentKeepsSharedPartsAndDropsTheRest) {
  PushLc("lc_first.mime");
  PushLc("lc_second.mime", "x-wap-application.localcontent.ua");
  auto keys = Keys();
  EXPECT_EQ(keys["current"].c_str(), std::string("cid:page2"));
  for (const char* k : {"page2", "logo", "page2.list"}) EXPECT_EQ(keys.count(k), 1u) << k;
  for (const char* k : {"page1", "notes", "page1.list"}) EXPECT_EQ(keys.count(k), 0u) << k;
  // Quoted-printable undone; the page's UTF-8 read by the template engine.
  // The line before a boundary comes with its line end.
  EXPECT_EQ(Text(Get("cid:current").body), "<html><body>Second caf?</body></html>\r\n");
  EXPECT_EQ(Get("cid:logo").body, Bytes200());
}

TEST_F(PushLcTest, APlainBodyIsStoredAsTheOnePartOfItsOwnDocument) {
  PushLc("lc_single.txt");
  auto keys = Keys();
  const std::string current = keys["current"].c_str();
  ASSERT_EQ(current.rfind("cid:msg", 0), 0u) << current;
  EXPECT_EQ(keys.count(current.substr(4)), 1u);
  EXPECT_EQ(keys.count(current.substr(4) + ".list"), 1u);
  EXPECT_EQ(Text(Get("cid:current").body), "<html><body>Single</body></html>\r\n");
}

TEST_F(PushLcTest, AnEmptyDataBlockDoesNotEndThePush) {
  const std::string url = Push("multipart/related", Data("lc_single.txt"), {{"X-Wap-Application-Id", "32768"}});
  UrlLoad* load = Cached(url);
  ASSERT_NE(load, nullptr);
  UtilDataChunk* empty = UtilDataChunkNew(reinterpret_cast<const uint8_t*>(""), 0, Mod::TestCode);
  ASSERT_NE(empty, nullptr);
  QueuePushFront(&load->output, &empty->link);
  Pump();
  EXPECT_EQ(Keys().count("current"), 1u);
}

TEST_F(PushLcTest, AFirstDocumentWithoutRootIsRemovedAgain) {
  PushLc("lc_noroot.mime");
  auto keys = Keys();
  EXPECT_EQ(keys.count("current"), 0u);
  EXPECT_EQ(keys.count("orphan1"), 0u);
  EXPECT_TRUE(Indicators().empty());
}

// A document without a root cannot become "current": pushed after another
// one, it is removed again and the stored document stays whole.
TEST_F(PushLcTest, ADocumentWithoutRootLeavesTheStoredOneWhole) {
  PushLc("lc_first.mime");
  status->log.clear();
  PushLc("lc_noroot.mime");
  auto keys = Keys();
  EXPECT_EQ(keys["current"].c_str(), std::string("cid:page1"));
  for (const char* k : {"page1", "logo", "notes", "page1.list"}) EXPECT_EQ(keys.count(k), 1u) << k;
  EXPECT_EQ(keys.count("orphan1"), 0u);
  EXPECT_TRUE(Indicators().empty());
  const Got page = Get("cid:current");
  EXPECT_EQ(page.failure, kOk);
  EXPECT_EQ(Text(page.body), "<html><body><img src=\"cid:logo\"/>First </body></html>");
}

// A pushed document in one part per (Content-ID, body), with no root.
std::string Rootless(const std::vector<std::pair<std::string, std::string>>& parts) {
  std::string body = "Content-Type: multipart/related; boundary=b\r\n\r\n";
  for (const auto& [id, text] : parts)
    body += "--b\r\nContent-Type: text/plain\r\nContent-ID: <" + id + ">\r\n\r\n" + text + "\r\n";
  return body + "--b--\r\n";
}

// A document the store refuses (no root while another is stored) changes
// nothing of the stored one, also where it names the same parts.
TEST_F(PushLcTest, ARefusedDocumentDoesNotOverwriteAStoredPart) {
  PushLc("lc_first.mime");
  Push("multipart/related", Rootless({{"logo", "not the logo"}}), {{"X-Wap-Application-Id", "32768"}});
  Pump();
  EXPECT_EQ(Keys()["current"].c_str(), std::string("cid:page1"));
  EXPECT_EQ(Get("cid:logo").body, Bytes200());
}

// The store's own keys ("current", the ".list" indexes) are no part names:
// a pushed part named so leaves the stored document reachable.
TEST_F(PushLcTest, APartNamedLikeTheStoresOwnKeysLeavesThemAlone) {
  for (const char* id : {"current", "page1.list"}) {
    SCOPED_TRACE(id);
    PushLc("lc_first.mime");
    Push("multipart/related", Rootless({{id, "x"}}), {{"X-Wap-Application-Id", "32768"}});
    Pump();
    EXPECT_EQ(Keys()["current"].c_str(), std::string("cid:page1"));
    const Got page = Get("cid:current");
    EXPECT_EQ(page.failure, kOk);
    EXPECT_EQ(Text(page.body), "<html><body><img src=\"cid:logo\"/>First </body></html>");
    // A later document still replaces the first one whole.
    PushLc("lc_second.mime");
    auto keys = Keys();
    EXPECT_EQ(keys["current"].c_str(), std::string("cid:page2"));
    for (const char* k : {"page1", "notes", "page1.list"}) EXPECT_EQ(keys.count(k), 0u) << k;
  }
}

// A settings error kept while a document's parts are stored, and cleared
// by a commit between them, never leaves an index naming a part that is
// not there: the document is removed and the stored one stays.
LcQueued* Queued(LcQueued* next, LcEntry* entry, uint8_t* index) {
  auto* node = static_cast<LcQueued*>(MemAllocZero(sizeof(LcQueued), Use::Data, Mod::LocalContent));
  node->next = next;
  node->entry = entry;
  node->index = index;
  return node;
}
LcEntry* Part(const char* id, const char* body) {
  LcEntry* entry = LcEntryCreate();
  LcEntrySetHeader(entry, LcHeader::ContentId, id);
  LcEntrySetHeader(entry, LcHeader::ContentType, "text/plain");
  LcEntryAppend(entry, reinterpret_cast<const uint8_t*>(body), LibcStrLen(body));
  return entry;
}

TEST_F(PushLcTest, AnErrorClearedBetweenPartsStoresNoHalfDocument) {
  PushLc("lc_first.mime");
  // A read (answered with the error, then a commit) races a two-part push.
  uint8_t* index = LcListCreate(2048);
  LcListAdd(index, "page3", true);
  LcListAdd(index, "part3", false);
  LcQueued* last = Queued(nullptr, nullptr, index);
  LcQueued* head = Queued(Queued(last, Part("part3", "three"), nullptr), Part("page3", "page"), nullptr);
  LcRequest read{};
  read.name = LibcStrDup("notes");
  RaceAReadAgainstAnUnreadableOpen(&read, head, last);
  EXPECT_NE(read.error, kOk);
  LcEntryFree(&read.entry);
  MemFree(&read.name);
  auto keys = Keys();
  EXPECT_EQ(keys["current"].c_str(), std::string("cid:page1"));
  EXPECT_EQ(keys.count("page3.list"), 0u);
  EXPECT_EQ(keys.count("page3"), 0u);
  EXPECT_EQ(keys.count("part3"), 0u);
  EXPECT_EQ(Text(Get("cid:current").body), "<html><body><img src=\"cid:logo\"/>First </body></html>");
}

// A document refused while the section could not be read is removed when
// it can again: the parts it shares with the stored document stay.
TEST_F(PushLcTest, ARefusedDocumentRemovedLaterKeepsTheStoredParts) {
  PushLc("lc_first.mime");
  // The document names only parts the stored one has.
  LcList* index = LcListCreate(2048);
  LcListAdd(index, "page1", true);
  LcListAdd(index, "logo", false);
  LcQueued* last = Queued(nullptr, nullptr, index);
  LcRequest read{};
  read.name = LibcStrDup("notes");
  RaceAReadAgainstAnUnreadableOpen(&read, last, last);
  LcEntryFree(&read.entry);
  MemFree(&read.name);
  auto keys = Keys();
  EXPECT_EQ(keys["current"].c_str(), std::string("cid:page1"));
  for (const char* k : {"page1", "logo", "notes", "page1.list"}) EXPECT_EQ(keys.count(k), 1u) << k;
  EXPECT_EQ(Get("cid:logo").body, Bytes200());
}

// Push reception lets a document go when it stops, and the local content
// task is stopped right after: a stop at any point of the document's
// store ends the task with the document stored whole or not at all.
TEST_F(PushLcTest, AStopAtAnyStepOfAStoreEndsWithTheDocumentWholeOrAbsent) {
  PushLc("lc_first.mime");
  for (int steps = 0; steps <= 30; ++steps) {
    SCOPED_TRACE(steps);
    LcList* index = LcListCreate(2048);
    LcListAdd(index, "page3", true);
    LcListAdd(index, "part3", false);
    LcQueued* last = Queued(nullptr, nullptr, index);
    LcQueued* head = Queued(Queued(last, Part("part3", "three"), nullptr), Part("page3", "page"), nullptr);
    TskmanPost(TskmanFind(Mod::LocalContent), LcMsg::StoreQueue, reinterpret_cast<uintptr_t>(head),
               reinterpret_cast<uintptr_t>(last));
    for (int i = 0; i < steps; ++i) Step();
    starter->log.clear();
    LcStopTask(starter->task());
    Pump();
    ASSERT_EQ(starter->Count(LcMsg::Stopped), 1u);
    auto keys = Keys();
    if (keys["current"].c_str() == std::string("cid:page3")) {
      for (const char* k : {"page3", "part3", "page3.list"}) EXPECT_EQ(keys.count(k), 1u) << k;
    } else {
      EXPECT_EQ(keys["current"].c_str(), std::string("cid:page1"));
      for (const char* k : {"page1", "logo", "notes", "page1.list"}) EXPECT_EQ(keys.count(k), 1u) << k;
    }
    // Back to the first document for the next round.
    LcStartTask(starter->task());
    Pump();
    PushLc("lc_first.mime");
  }
  starter->log.clear();
}

// A document pushed again with little memory left is stored or refused,
// and either way the stored document stays whole.
TEST_F(PushLcTest, WithTheHeapNearlyFullTheStoredDocumentStaysWhole) {
  PushLc("lc_first.mime");
  for (uint32_t reserve = 0; reserve <= 40000; reserve += 32) {
    SCOPED_TRACE(reserve);
    Push("multipart/related", Data("lc_second.mime"), {{"X-Wap-Application-Id", "32768"}});
    std::vector<void*> eaten = EatHeap(reserve);
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    const std::string current = Keys()["current"].c_str();
    ASSERT_TRUE(current == "cid:page1" || current == "cid:page2") << current;
    const Got page = Get("cid:current");
    ASSERT_EQ(page.failure, kOk);
    ASSERT_EQ(Get("cid:logo").body, Bytes200());
    if (current == "cid:page1") {
      ASSERT_EQ(Text(Get("cid:notes").body), "Old notes");
    } else {
      PushLc("lc_first.mime");  // back to the first for the next round
      ASSERT_EQ(Keys()["current"].c_str(), std::string("cid:page1"));
    }
  }
}

// A document's index and "current" are no parts: a cid: load of one
// fails instead of reading the store's own bytes as a part.
TEST_F(PushLcTest, TheStoresOwnKeysAreNoParts) {
  PushLc("lc_first.mime");
  const Got index = Get("cid:page1.list");
  EXPECT_NE(index.failure, kOk);
  EXPECT_EQ(index.body, "");
}

TEST_F(PushLcTest, AMissingPartFailsTheLoad) {
  EXPECT_EQ(Get("cid:nothing").failure, ResultError(Mod::LocalContent, 3));
  EXPECT_EQ(Get("cid:current").failure, ResultError(Mod::LocalContent, 3));
}

TEST_F(PushLcTest, WithoutTheStoreACidLoadFailsInsteadOfWaiting) {
  LcStopTask(starter->task());
  Pump();
  starter->log.clear();
  EXPECT_EQ(Get("cid:current").failure, kLcBadArg);
}

TEST_F(PushLcTest, TheStoreSurvivesARestart) {
  PushLc("lc_first.mime");
  UrlSessionDestroy(session);
  Pump();
  StopServices();
  StartServices();
  OpenSession();
  EXPECT_EQ(Get("cid:logo").body, Bytes200());
}

TEST_F(PushLcTest, StoppingWhileDirtySavesFirst) {
  LcEntry* entry = LcEntryCreate();
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(LcEntrySetHeader(entry, LcHeader::ContentId, "loose"));
  ASSERT_TRUE(LcEntryAppend(entry, reinterpret_cast<const uint8_t*>("abc"), 3));
  TskmanPost(TskmanFind(Mod::LocalContent), LcMsg::StoreEntry, reinterpret_cast<uintptr_t>(entry), 0);
  Pump();
  LcStopTask(starter->task());
  Pump();
  EXPECT_EQ(starter->Count(LcMsg::Stopped), 1u);
  EXPECT_EQ(Keys().count("loose"), 1u);
  starter->log.clear();
}

// --- Stored forms ---------------------------------------------------------------------

class LcStoredForm : public HeapFixture {};

TEST_F(LcStoredForm, AnEntryReadsBackAsItWasPacked) {
  LcEntry* entry = LcEntryCreate();
  ASSERT_TRUE(LcEntrySetHeader(entry, LcHeader::ContentId, "id1"));
  ASSERT_TRUE(LcEntrySetHeader(entry, LcHeader::ContentType, "text/plain"));
  ASSERT_TRUE(LcEntrySetHeader(entry, LcHeader::ContentType, "text/html"));  // first stays
  std::string data(5000, 'x');
  ASSERT_TRUE(LcEntryAppend(entry, reinterpret_cast<const uint8_t*>(data.data()), 5000));
  uint32_t length = 0;
  uint8_t* packed = LcEntryPack(entry, &length);
  ASSERT_NE(packed, nullptr);
  EXPECT_EQ(length, packed[0] + (packed[1] << 8) + 20u);
  Result error = 0;
  LcEntry* back = LcEntryUnpack(packed, length, &error);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(LcEntryHeader(back, LcHeader::ContentId), "id1");
  EXPECT_STREQ(LcEntryHeader(back, LcHeader::ContentType), "text/plain");
  EXPECT_EQ(LcEntryHeader(back, LcHeader::Encoding), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back->data), back->dataUsed), data);
  // Cut or bent anywhere, it is refused.
  for (uint32_t cut : {0u, 16u, 40u, length - 1})
    EXPECT_EQ(LcEntryUnpack(packed, cut, &error), nullptr) << cut;
  packed[4] = 0xFF;
  EXPECT_EQ(LcEntryUnpack(packed, length, &error), nullptr);
  EXPECT_EQ(error, kLcBadArg);
  MemFree(&packed);
  LcEntryFree(&entry);
  LcEntryFree(&back);
}

TEST_F(LcStoredForm, AListAddsOnceAndBlanksByName) {
  uint8_t* list = LcListCreate(16);
  EXPECT_EQ(LcListAdd(list, "root", true), 0u);
  EXPECT_EQ(LcListAdd(list, "root", false), 0u);  // present already
  EXPECT_EQ(LcListAdd(list, "a-longer-name", false), 1u);
  list = LcListGrow(list, 2048);
  EXPECT_EQ(LcListAdd(list, "a-longer-name", false), 0u);
  EXPECT_STREQ(LcListMarked(list), "root");
  EXPECT_TRUE(LcListBlank(list, "root"));
  int32_t at = -1;
  EXPECT_STREQ(LcListNext(list, &at), "a-longer-name");
  EXPECT_EQ(LcListNext(list, &at), nullptr);
  uint32_t length = 0;
  uint8_t* packed = LcListPack(list, &length);
  EXPECT_EQ(length, LcListUsed(list) + 24);
  EXPECT_TRUE(LcListValid(packed, length));
  EXPECT_FALSE(LcListValid(packed, 19));
  packed[20] = 3;  // an item size that is no multiple of 4
  EXPECT_FALSE(LcListValid(packed, length));
  MemFree(&packed);
  MemFree(&list);
}

// A list cut inside an item's size is refused without reading past its end
// (a buffer of its exact length, so that a sanitizer sees any overread).
TEST_F(LcStoredForm, AListCutInsideAnItemSizeIsRefusedWithinItsBytes) {
  for (uint32_t used = 1; used < 8; ++used) {
    SCOPED_TRACE(used);
    std::vector<uint8_t> bytes(kLcListHead + used, 0);
    bytes[0] = static_cast<uint8_t>(used);  // capacity
    bytes[4] = static_cast<uint8_t>(used);  // used
    for (uint32_t i = 8; i < 16; ++i) bytes[i] = 0xFF;  // nothing marked
    EXPECT_FALSE(LcListValid(bytes.data(), static_cast<uint32_t>(bytes.size())));
  }
}

}  // namespace

// A read that comes between a document's parts saves nothing of it: with
// a quota the stored document and the new one's first part pass together,
// but the new one alone does not, the new one is stored whole and served,
// and nothing is said.
TEST_F(PushLcTest, AReadBetweenPartsLeavesTheDocumentToBeSavedWhole) {
  FailureRecord failures;
  PushLc("lc_first.mime");
  const std::string big(3000, 'b');
  UbstoreSetQuota("repository", 3500);
  uint8_t* index = LcListCreate(2048);
  LcListAdd(index, "page3", true);
  LcListAdd(index, "part3", false);
  LcQueued* last = Queued(nullptr, nullptr, index);
  LcQueued* head =
      Queued(Queued(last, Part("part3", "three"), nullptr), Part("page3", big.c_str()), nullptr);
  LcRequest read{};
  read.name = LibcStrDup("notes");
  TskmanTask* lc = TskmanFind(Mod::LocalContent);
  TskmanPost(lc, LcMsg::StoreQueue, reinterpret_cast<uintptr_t>(head), reinterpret_cast<uintptr_t>(last));
  TskmanPost(lc, LcMsg::Read, reinterpret_cast<uintptr_t>(&read), 0);
  Pump();
  EXPECT_EQ(read.error, kOk);
  LcEntryFree(&read.entry);
  MemFree(&read.name);
  auto keys = Keys();
  EXPECT_EQ(keys["current"].c_str(), std::string("cid:page3"));
  for (const char* k : {"page3", "part3", "page3.list"}) EXPECT_EQ(keys.count(k), 1u) << k;
  EXPECT_EQ(Get("cid:current").failure, kOk);
  EXPECT_TRUE(failures.said.empty());
}
