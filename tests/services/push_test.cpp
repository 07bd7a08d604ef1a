// Push reception, the SI and SL records and the inbox's rules, over the real
// tasks and the documents xml2wbxml compiled (tests/data/push/make.sh).
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "browser/cache.h"
#include "browser/userpref.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/ubstore.h"
#include "services/channels/rep.h"
#include "services/push/inbox.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "services/push/notify_store.h"
#include "services/push/sisl.h"
#include "tests/services/push_fixture.h"

namespace {

std::string Narrow(const char16_t* w) {
  std::string s;
  for (; w && *w; ++w) s += static_cast<char>(*w);
  return s;
}

class PushTest : public PushFixture {
 protected:
  // Stops push reception and local content with only about `reserve`
  // bytes of the heap free; both must answer.
  void StopShortOfMemory(uint32_t reserve) {
    std::vector<void*> eaten = EatHeap(reserve);
    starter->log.clear();
    NotifyStopTask();
    Pump();
    LcStopTask(starter->task());
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    Pump();
    ASSERT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
    ASSERT_EQ(starter->Count(LcMsg::Stopped), 1u);
  }
  // Stops the services, writes an integer key of the kept inbox as a
  // damaged or worn file would hold it, and starts them again.
  void RestartWithKeptInt(const char* key, int32_t value) {
    StopServices();
    ConfigHandle* handle = OpenSection("inbox");
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(ConfigSetInt(handle, key, value), kOk);
    ASSERT_EQ(ConfigSave(handle, nullptr), kOk);
    Pump();
    StartServices();
  }
  // A property of every message a collection yields, in order.
  std::vector<std::string> List(const char* collection, const char* property = "text",
                                const char* rest = "text") {
    std::vector<std::string> out;
    NotifyInbox* inbox = NotifyInboxOpen(rest, collection, LibcStrLen(collection));
    if (!inbox) return out;
    const int index = NotifyInboxPropertyIndex(property);
    for (int more = 1; more && NotifyInboxProperty(inbox, 3); more = NotifyInboxNext(inbox))
      out.push_back(Narrow(NotifyInboxProperty(inbox, index)));
    NotifyInboxClose(&inbox);
    return out;
  }
  // A compiled document placed under a name of the test's choice.
  void PushAs(const std::string& url, const char* doc) {
    const bool sl = doc[1] == 'l';
    PushNamed(url, sl ? "application/vnd.wap.slc" : "application/vnd.wap.sic",
              Data(std::string(doc) + ".wbxml"));
  }
  const SiRecord* Si(const std::string& url) {
    const PushRecord* r = PushRecordOf(Cached(url));
    return r && r->type == PushRecordType::Si ? reinterpret_cast<const SiRecord*>(r) : nullptr;
  }
};

// --- Routing ---------------------------------------------------------------------------

struct RouteRow {
  const char* name;
  const char* mime;
  const char* appId;  // null: no header
  const char* where;  // "inbox", "lc", "dropped", "listed"
};

class PushRouteTest : public PushTest, public ::testing::WithParamInterface<RouteRow> {};

TEST_P(PushRouteTest, APushGoesWhereItsTypeAndApplicationIdSay) {
  const RouteRow& row = GetParam();
  std::vector<PushHeader> headers;
  if (row.appId) headers.push_back({"X-Wap-Application-Id", row.appId});
  const std::string body = std::string(row.mime).find("sic") != std::string::npos
                               ? Data("si_high.wbxml")
                               : Data("lc_single.txt");
  const std::string url = Push(row.mime, body, headers);
  Pump();
  const std::string where = row.where;
  EXPECT_EQ(NotifyKeptCount(), where == "inbox" || where == "listed" ? 1u : 0u);
  EXPECT_EQ(Cached(url) != nullptr, where == "inbox" || where == "listed");
  bool stored = false;
  for (const auto& [key, value] : Section("homepage")) stored |= key == "current";
  EXPECT_EQ(stored, where == "lc");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushRouteTest,
    ::testing::Values(
        RouteRow{"no_id", "application/vnd.wap.sic", nullptr, "inbox"},
        RouteRow{"id_0", "application/vnd.wap.sic", "0", "inbox"},
        RouteRow{"id_32768", "multipart/related", "32768", "lc"},
        RouteRow{"id_localcontent_any_case", "multipart/related",
                 "X-WAP-Application.LocalContent.UA", "lc"},
        RouteRow{"other_id", "application/vnd.wap.sic", "4", "dropped"},
        RouteRow{"other_text_id", "application/vnd.wap.sic", "x-wap-application:wml.ua", "dropped"},
        RouteRow{"connectivity_any_id", "application/vnd.wap.connectivity-wbxml", "4", "listed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PushTest, ConnectivityDocumentsPassTheProvisioningHookOnTheirWay) {
  static int seen;
  seen = 0;
  NotifySetConnectivityHook([](uintptr_t, UrlLoad*) -> Result { return ++seen, kOk; });
  Push("application/vnd.wap.connectivity-wbxml", "\x03\x0B\x6A\x00", {});
  Pump();
  NotifySetConnectivityHook(nullptr);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(List("all", "priority"), (std::vector<std::string>{"provisioning/medium"}));
}

TEST_F(PushTest, PpgKeysAcceptBySenderOrStar) {
  StoreString("PPG", "+4930", "1");
  Push("application/vnd.wap.sic", Data("si_high.wbxml"), {}, "+4917012345");
  Pump();
  EXPECT_EQ(NotifyKeptCount(), 0u);  // a section with keys, none of them the sender's
  Push("application/vnd.wap.sic", Data("si_low.wbxml"), {}, "+4930");
  Pump();
  EXPECT_EQ(NotifyKeptCount(), 1u);
  StoreString("PPG", "*", "1");
  Push("application/vnd.wap.sic", Data("si_high.wbxml"), {}, "+4917012345");
  Pump();
  EXPECT_EQ(NotifyKeptCount(), 2u);
}

TEST_F(PushTest, WithTpSetOnlyAcceptedPushFlagsPass) {
  ConfigHandle* user = OpenSection("user");
  ASSERT_NE(user, nullptr);
  ASSERT_EQ(ConfigSetInt(user, "tp", 1), kOk);
  ASSERT_EQ(ConfigSave(user, nullptr), kOk);
  Pump();
  UserPrefStartTask(starter->task());
  Pump();
  ASSERT_EQ(UserPrefGetFlag(UserPrefFlag::Tp), 1u);
  const struct {
    const char* flag;  // null: no header
    bool passes;
  } rows[] = {{"3", true}, {"11", true}, {"7", true}, {"1", false},
              {"10", false}, {"2", false}, {nullptr, false}};
  uint32_t kept = 0;
  for (const auto& row : rows) {
    std::vector<PushHeader> headers;
    if (row.flag) headers.push_back({"push-flag", row.flag});
    // A different id each time, so that none replaces another.
    const char* docs[] = {"si_high.wbxml", "si_low.wbxml", "si_hxp.wbxml", "si_medium.wbxml"};
    Push("application/vnd.wap.sic", Data(docs[kept]), headers);
    Pump();
    kept += row.passes;
    EXPECT_EQ(NotifyKeptCount(), kept) << (row.flag ? row.flag : "none");
  }
  UserPrefStopTask(starter->task());
  Pump();
}

TEST_F(PushTest, PushesQueuedBackToBackAreEachRouted) {
  for (const char* name : {"si_high", "si_low", "sl_high"}) PushDoc(name);
  Pump();
  EXPECT_EQ(NotifyKeptCount(), 3u);
}

// --- SI and SL records ----------------------------------------------------------------------

TEST_F(PushTest, AnSiRecordKeepsItsLinkIdDatesAndText) {
  const std::string url = PushDoc("si_high");
  Pump();
  const SiRecord* si = Si(url);
  ASSERT_NE(si, nullptr);
  EXPECT_EQ(si->action, PushAction::SignalHigh);
  EXPECT_EQ(Narrow(SiField(si, si->href)), "wsp://www.example.com/news/today.wml");
  EXPECT_EQ(Narrow(SiField(si, si->siId)), "news-42");
  // Written as opaque bytes by the tool; the seconds byte was left off.
  EXPECT_EQ(Narrow(SiField(si, si->created)), "2004-05-01T12:30:00Z");
  EXPECT_EQ(Narrow(SiField(si, si->expires)), "2045-01-01T00:00:00Z");
  EXPECT_EQ(Narrow(SiField(si, si->text)), "High news");
}

TEST_F(PushTest, AnSiWithoutActionOrIdTakesMediumAndItsHref) {
  const std::string a = PushDoc("si_default");
  const std::string b = PushDoc("si_medium");
  Pump();
  ASSERT_NE(Si(a), nullptr);
  EXPECT_EQ(Si(a)->action, PushAction::SignalMedium);
  EXPECT_EQ(Narrow(SiField(Si(a), Si(a)->href)), "wsps://www.example.org/a");
  ASSERT_NE(Si(b), nullptr);
  EXPECT_EQ(Narrow(SiField(Si(b), Si(b)->siId)), Narrow(SiField(Si(b), Si(b)->href)));
}

struct ActionRow {
  const char* doc;
  uint32_t action;
  bool kept;
  uint32_t indicator;
};

class PushActionTest : public PushTest, public ::testing::WithParamInterface<ActionRow> {};

TEST_P(PushActionTest, EveryActionReadsAndReportsItsIndicator) {
  const ActionRow& row = GetParam();
  const std::string url = PushDoc(row.doc);
  Pump();
  EXPECT_EQ(NotifyKeptCount(), row.kept ? 1u : 0u);
  EXPECT_EQ(Indicators(), std::vector<uint32_t>{row.indicator});
  if (row.kept) {
    EXPECT_EQ(NotifyGetPushAction(Cached(url)), row.action);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushActionTest,
    ::testing::Values(ActionRow{"si_delete", 0, false, 14}, ActionRow{"si_none", 1, false, 14},
                      ActionRow{"si_low", 3, true, 9}, ActionRow{"si_medium", 5, true, 9 | 64},
                      ActionRow{"si_high", 7, true, 9 | 128}, ActionRow{"sl_cache", 2, true, 9},
                      ActionRow{"sl_low", 4, true, 9 | 64}, ActionRow{"sl_high", 6, true, 9 | 128},
                      ActionRow{"si_expired", 7, false, 14}, ActionRow{"si_notext", 7, false, 14}),
    [](const auto& info) { return std::string(info.param.doc); });

TEST_F(PushTest, SlHrefsAreRewrittenLikeSiHrefs) {
  const std::string url = PushDoc("sl_https");
  Pump();
  const PushRecord* r = PushRecordOf(Cached(url));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Narrow(reinterpret_cast<const SlRecord*>(r)->href), "wsps://www.example.org/x");
}

TEST_F(PushTest, OpaqueDatesReadAsBcd) {
  const char16_t full[] = {0x20, 0x04, 0x05, 0x01, 0x12, 0x30, 0x00};
  char16_t* date = SiSlDateValue(full, 7);
  EXPECT_EQ(Narrow(date), "2004-05-01T12:30:00Z");
  MemFree(&date);
  date = SiSlDateValue(full, 2);
  EXPECT_EQ(Narrow(date), "2004-00-00T00:00:00Z");
  MemFree(&date);
}

struct DateRow {
  const char* text;
  bool reads;
};
TEST_F(PushTest, PushDatesAreCheckedBeforeUse) {
  const DateRow rows[] = {
      {"2004-05-01T12:30:00Z", true},  {"2045-01-01T00:00:00Z", true},
      {"2004-00-00T00:00:00Z", false}, {"2004-13-01T00:00:00Z", false},
      {"2004-02-30T00:00:00Z", false}, {"2004-05-01T24:00:00Z", false},
      {"20x4-05-01T12:30:00Z", false}, {"2004-05-01T12:30:00", false},
      {"2003-02-29T00:00:00Z", false},
  };
  for (const DateRow& row : rows) {
    std::u16string w(row.text, row.text + LibcStrLen(row.text));
    int64_t seconds = 0;
    EXPECT_EQ(NotifyParsePushDate(w.c_str(), &seconds), row.reads) << row.text;
  }
  // Past the engine's clock: far ahead, never passed.
  EXPECT_FALSE(NotifyPushDateCheck(u"2045-01-01T00:00:00Z"));
  EXPECT_TRUE(NotifyPushDateCheck(u"2004-05-01T12:30:00Z"));
  EXPECT_FALSE(NotifyPushDateCheck(u"2004-00-00T00:00:00Z"));  // bad: absent
}

// --- Replacement rules -------------------------------------------------------------------

struct ReplaceRow {
  const char* name;
  std::vector<const char*> docs;
  std::vector<std::string> texts;  // what "all" lists afterwards
};

class PushReplaceTest : public PushTest, public ::testing::WithParamInterface<ReplaceRow> {};

TEST_P(PushReplaceTest, TheInboxKeepsWhatTheRulesSay) {
  for (const char* doc : GetParam().docs) {
    PushDoc(doc);
    Pump();
  }
  EXPECT_EQ(List("all", "text"), GetParam().texts);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushReplaceTest,
    ::testing::Values(
        ReplaceRow{"later_created_replaces", {"si_older", "si_newer"}, {"Newer news"}},
        ReplaceRow{"earlier_created_is_dropped", {"si_newer", "si_older"}, {"Newer news"}},
        ReplaceRow{"no_created_replaces", {"si_high", "si_none"}, {}},
        ReplaceRow{"delete_removes_its_id", {"si_high", "si_low", "si_delete"}, {"Low news"}},
        ReplaceRow{"other_ids_stay", {"si_low", "si_high"}, {"High news", "Low news"}},
        ReplaceRow{"expired_is_refused", {"si_expired"}, {}},
        ReplaceRow{"sl_lower_action_dropped",
                   {"sl_high", "sl_cache"},
                   {"wsp://www.example.com/app.wmlc"}},
        ReplaceRow{"sl_equal_replaces", {"sl_low", "sl_low"}, {"wsp://www.example.com/app.wmlc"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PushTest, AnSlOfEqualOrHigherActionReplacesTheKeptOne) {
  const std::string low = PushDoc("sl_low");
  Pump();
  const std::string high = PushDoc("sl_high");
  Pump();
  EXPECT_EQ(Cached(low), nullptr);  // out of the inbox, out of the cache
  ASSERT_NE(Cached(high), nullptr);
  EXPECT_EQ(NotifyKeptCount(), 1u);
}

// --- Counting and reporting ----------------------------------------------------------------

TEST_F(PushTest, TheIndicatorHearsNothingNewOnceEveryMessageWasListed) {
  PushDoc("si_high");
  Pump();
  EXPECT_EQ(NotifyCountUnread(), 1u);
  List("all");
  EXPECT_EQ(NotifyCountUnread(), 0u);
  PushDoc("si_notext");  // not kept, and nothing unlisted
  Pump();
  PushDoc("si_low");
  Pump();
  PushDoc("si_none");  // not kept, one unlisted
  Pump();
  EXPECT_EQ(Indicators(), (std::vector<uint32_t>{137, 14, 9, 13}));
}

TEST_F(PushTest, CollectionsSplitHxpFeedsFromTheRest) {
  PushDoc("si_hxp");
  PushDoc("si_low");
  PushDoc("sl_high");
  Pump();
  EXPECT_EQ(List("all").size(), 3u);
  EXPECT_EQ(List("siid"), std::vector<std::string>{"Scores"});
  EXPECT_EQ(List("siid", "text", "sports.text"), std::vector<std::string>{"Scores"});
  EXPECT_EQ(List("siid", "text", "SPORTS.SC.text"), std::vector<std::string>{"Scores"});
  EXPECT_TRUE(List("siid", "text", "news.text").empty());
  EXPECT_EQ(List("filtered").size(), 2u);
  EXPECT_EQ(List("al").size(), 3u);
}

// A channel document in the inbox is listed by the notice its row puts
// first on the output: the notice's title and its "chan://?" address.
// (Pushed, a channel document is processed before the inbox sees it and so
// not kept; the load is placed and kept here by hand.)
TEST_F(PushTest, AChannelDocumentIsListedByItsNotice) {
  UrlParsed parsed;
  ASSERT_EQ(UrlParse(&parsed, "push:+4917012345.chan", 0), kOk);
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  ASSERT_NE(load, nullptr);
  load->contentClass = 6;
  load->events |= UrlEvent::Complete;
  const std::u16string area = std::u16string(u"Weather") + u'\0' + u"weather-1" + u'\0' +
                              u"1970-01-01T00:00:00Z" + u'\0' + u'\0' + u"chan://?http://h/c" +
                              u'\0';
  auto* notice = static_cast<RepNotice*>(
      MemAllocZero(sizeof(RepNotice) + area.size() * 2, Use::Data, Mod::WtlRepository));
  notice->action = 2;
  notice->type = 2;
  notice->text = 0;
  notice->siId = 8;
  notice->siExpires = 18;
  notice->created = kRepAbsent;
  notice->href = 40;
  std::memcpy(notice + 1, area.data(), area.size() * 2);
  QueueAppend(&load->output, &notice->link);
  load->flags |= UrlFlag::Listed;  // as routing marks the loads it routed
  UrlLoadSetFlags(load, UrlFlag::Kept);
  CacheAdd(load);
  NotifyKeepMessage(load);
  EXPECT_EQ(List("all"), std::vector<std::string>{"Weather"});
  EXPECT_EQ(List("all", "priority"), std::vector<std::string>{"channel/medium"});
  EXPECT_EQ(List("all", "extUrl"), std::vector<std::string>{"chan://?http://h/c"});
  NotifyRemoveMessage(load);
}

// Two kept SIs of one si-id (a file written elsewhere may hold them): a new
// one replaces the first of them in the cache's order, whatever the order
// of the inbox's list, which holds the newer first.
TEST_F(PushTest, OfTwoKeptSisOfOneIdTheCachesFirstIsReplaced) {
  const std::string first = PushDoc("si_high");
  Pump();
  const PushRecord* record = PushRecordOf(Cached(first));
  ASSERT_NE(record, nullptr);
  std::vector<uint8_t> bytes(PushRecordStore(record, nullptr));
  PushRecordStore(record, bytes.data());
  PushRecord* copy = nullptr;
  ASSERT_EQ(PushRecordLoad(bytes.data(), static_cast<uint32_t>(bytes.size()), &copy), kOk);
  UrlParsed parsed;
  ASSERT_EQ(UrlParse(&parsed, "push:+4917012345.twin", 0), kOk);
  UrlLoad* twin = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  ASSERT_NE(twin, nullptr);
  UrlSetContentTypeMime(twin, "application/vnd.wap.sic");
  SiSlAttachRecord(twin, copy);
  twin->events |= UrlEvent::Complete;
  twin->flags |= UrlFlag::Listed;
  UrlLoadSetFlags(twin, UrlFlag::Kept);
  CacheAdd(twin);
  ASSERT_TRUE(NotifyKeepMessage(twin));
  const std::string third = PushDoc("si_high");
  Pump();
  EXPECT_EQ(Cached(first), nullptr);
  EXPECT_TRUE(NotifyHoldsMessage(twin));
  EXPECT_TRUE(NotifyHoldsMessage(Cached(third)));
  NotifyRemoveMessage(twin);
}

TEST_F(PushTest, PropertiesOfAListedMessage) {
  const std::string url = PushDoc("si_low");
  Pump();
  NotifyInbox* inbox = NotifyInboxOpen("count", "all", 3);
  ASSERT_NE(inbox, nullptr);
  EXPECT_EQ(Narrow(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("count"))), "1");
  EXPECT_EQ(Narrow(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("priority"))),
            "indication/low");
  EXPECT_EQ(Narrow(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("intUrl"))), url);
  EXPECT_EQ(Narrow(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("EXTURL"))),
            "wsp://www.example.com/news/today.wml");
  EXPECT_EQ(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("presented")), nullptr);
  EXPECT_EQ(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("viewed")), nullptr);
  EXPECT_EQ(NotifyInboxPropertyIndex("nothing"), -1);
  NotifyInboxClose(&inbox);
  inbox = NotifyInboxOpen("presented", "all", 3);
  EXPECT_EQ(Narrow(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("presented"))), "1");
  NotifyInboxClose(&inbox);
}

TEST_F(PushTest, AKeptSiWhoseExpiryPassesLeavesWhenTheInboxIsWalked) {
  platform->now = 1090000000;  // July 2004
  const std::string url = PushDoc("si_expired");  // expires 2005-01-01
  Pump();
  EXPECT_EQ(List("filtered").size(), 1u);
  platform->now = 1765000000;
  EXPECT_EQ(List("all").size(), 1u);  // "all" lists what is kept as it is
  EXPECT_TRUE(List("filtered").empty());
  EXPECT_EQ(Cached(url), nullptr);
}

TEST_F(PushTest, TheCountOfAnEmptyCollectionIsNull) {
  NotifyInbox* inbox = NotifyInboxOpen("count", "all", 3);
  ASSERT_NE(inbox, nullptr);
  EXPECT_EQ(NotifyInboxProperty(inbox, NotifyInboxPropertyIndex("count")), nullptr);
  NotifyInboxClose(&inbox);
  EXPECT_EQ(NotifyInboxOpen("count", "nothing", 7), nullptr);
}

TEST_F(PushTest, AMessageTheCacheFreesUnderAnOpenCursorIsSkipped) {
  const std::string a = PushDoc("si_low");
  PushDoc("si_high");
  Pump();
  NotifyInboxCursor* cursor = nullptr;
  ASSERT_EQ(NotifyOpenInboxCursor(&cursor), kOk);
  UrlLoad* gone = Cached(a);
  // As the cache frees what it holds when it is cleared, locks or not.
  CacheRemove(gone);
  UrlLoadFree(gone);
  uint32_t code = 0, level = 0, n = 0;
  while (NotifyNextKept(cursor, &code, &level)) ++n;
  EXPECT_EQ(n, 1u);
  NotifyCloseInboxCursor(&cursor);
  EXPECT_EQ(NotifyKeptCount(), 1u);
}

TEST_F(PushTest, TheInboxSurvivesARestart) {
  const std::string high = PushDoc("si_high");
  PushDoc("si_low");
  PushDoc("sl_high");
  Pump();
  List("all");  // presented
  NotifyMarkMessage(Cached(high), UrlFlag::Viewed);
  const std::vector<std::string> before = List("all", "text");
  StopServices();
  EXPECT_EQ(Cached(high), nullptr);
  StartServices();
  EXPECT_EQ(List("all", "text"), before);
  EXPECT_EQ(List("all", "priority"),
            (std::vector<std::string>{"indication/high", "indication/high", "indication/low"}));
  ASSERT_NE(Cached(high), nullptr);
  EXPECT_EQ(Cached(high)->flags & (UrlFlag::Viewed | UrlFlag::Kept), UrlFlag::Viewed | UrlFlag::Kept);
  // The rules see the restored messages: the same id replaces.
  PushDoc("si_newer");
  Pump();
  EXPECT_EQ(NotifyKeptCount(), 3u);
  EXPECT_EQ(Cached(high), nullptr);
}

// A stop may come at any point of a push: the task always ends, the kept
// messages are saved, and the settings store is free for the next opener.
TEST_F(PushTest, AStopAfterAnyNumberOfStepsOfAPushEnds) {
  StoreString("PPG", "*", "1");  // routing holds the section while it looks
  for (int steps = 0; steps <= 40; ++steps) {
    SCOPED_TRACE(steps);
    starter->log.clear();
    PushDoc("si_low");
    for (int i = 0; i < steps; ++i) Step();
    NotifyStopTask();
    Pump();
    ASSERT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
    ConfigHandle* handle = OpenSection("PPG");
    EXPECT_NE(handle, nullptr);
    ConfigRelease(&handle);
    LcStopTask(starter->task());
    Pump();
    StartServices();
    // Whatever was kept before the stop came back; nothing else is listed.
    EXPECT_LE(NotifyKeptCount(), 1u);
  }
}

// The same for a push to local content and a connectivity document: the
// local content task still ends, and nothing is left over.
TEST_F(PushTest, AStopAfterAnyNumberOfStepsOfAnyPushEnds) {
  StoreString("PPG", "*", "1");
  for (int steps = 0; steps <= 60; ++steps) {
    SCOPED_TRACE(steps);
    starter->log.clear();
    Push("multipart/related", Data("lc_first.mime"), {{"X-Wap-Application-Id", "32768"}});
    Push("application/vnd.wap.connectivity-wbxml", "\x03\x0B\x6A\x00\x45\x01");
    PushDoc("sl_high");
    ASSERT_NO_FATAL_FAILURE(StopAfter(steps));
    ASSERT_EQ(starter->Count(LcMsg::Stopped), 1u);
    ConfigHandle* handle = OpenSection("homepage");
    EXPECT_NE(handle, nullptr);
    ConfigRelease(&handle);
    StartServices();
  }
}

// An inbox written without the serial (as before it was kept) reads back
// field by field, and new names go on after its names.
TEST_F(PushTest, AnInboxWithoutItsSerialReadsBackAndNamesGoOn) {
  PushAs("push:+821055501234.41", "si_high");
  Pump();
  StopServices();
  ConfigHandle* handle = OpenSection("inbox");
  ASSERT_NE(handle, nullptr);
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ConfigKind kind{};
  ASSERT_EQ(ConfigGetRaw(handle, "m0", 0, &data, &length, &kind), kOk);
  const auto word = [&](uint32_t at) {
    return uint32_t{data[at]} | uint32_t{data[at + 1]} << 8 | uint32_t{data[at + 2]} << 16 |
           uint32_t{data[at + 3]} << 24;
  };
  const std::string name = "push:+821055501234.41";
  ASSERT_GE(length, 16 + name.size());
  EXPECT_EQ(word(8), name.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 12), name.size()), name);
  EXPECT_EQ(word(12 + static_cast<uint32_t>(name.size())), length - 16 - name.size());
  ASSERT_EQ(ConfigDelete(handle, "serial", 0), kOk);
  ASSERT_EQ(ConfigSave(handle, nullptr), kOk);
  Pump();
  StartServices();
  EXPECT_EQ(List("all", "text"), std::vector<std::string>{"High news"});
  char* next = NotifyNewPushUrl("+821055501234", Mod::TestCode);
  EXPECT_STREQ(next, "push:+821055501234.42");
  MemFree(&next);
}

// A stop while the kept inbox is still coming back (a push waiting behind
// it) ends the task too, and the kept messages stay kept.
TEST_F(PushTest, AStopAtAnyStepOfAStartEnds) {
  StoreString("PPG", "*", "1");
  PushDoc("si_high");
  Pump();
  for (int steps = 0; steps <= 20; ++steps) {
    SCOPED_TRACE(steps);
    StopServices();
    ASSERT_NO_FATAL_FAILURE(BeginServices());
    for (int i = 0; i < 2; ++i) Step();
    PushDoc("sl_high");
    ASSERT_NO_FATAL_FAILURE(StopAfter(steps));
    StartServices();
    const std::vector<std::string> texts = List("all", "text");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "High news"), texts.end());
  }
}

// Names of pushed objects go on across runs: a new run never reuses the
// name of a kept message, and the rules reach the messages kept before.
TEST_F(PushTest, PushNamesStayUniqueAcrossRunsAndRulesReachKeptMessages) {
  const auto pushNamed = [&](const char* doc) {
    char* name = NotifyNewPushUrl("+821055501234", Mod::TestCode);
    const std::string url = name;
    MemFree(&name);
    PushAs(url, doc);
    Pump();
    return url;
  };
  const std::string first = pushNamed("si_high");
  const std::string second = pushNamed("sl_high");
  EXPECT_EQ(first, "push:+821055501234.1");
  EXPECT_EQ(List("all").size(), 2u);
  StopServices();
  StartServices();  // a new run: its own serials
  ASSERT_EQ(List("all").size(), 2u);
  const std::string third = pushNamed("si_low");
  EXPECT_NE(third, first);
  EXPECT_NE(third, second);
  EXPECT_EQ(List("all", "text"),
            (std::vector<std::string>{"wsp://www.example.com/app.wmlc", "High news", "Low news"}));
  StopServices();
  StartServices();
  // The delete (same si-id, later date) reaches the SI kept two runs ago.
  const std::string fourth = pushNamed("si_delete");
  for (const std::string& earlier : {first, second, third}) EXPECT_NE(fourth, earlier);
  EXPECT_EQ(List("all", "text"),
            (std::vector<std::string>{"wsp://www.example.com/app.wmlc", "Low news"}));
  EXPECT_EQ(Cached(first), nullptr);
}

// A serial that has run out (or a damaged kept one) starts again at 1, but
// never under the name of a message the inbox still holds.
TEST_F(PushTest, ANewPushNameIsNeverAKeptOne) {
  PushAs("push:+821055501234.1", "si_high");
  Pump();
  ASSERT_NO_FATAL_FAILURE(RestartWithKeptInt("serial", 0x7FFFFFFF));
  ASSERT_EQ(List("all", "text"), std::vector<std::string>{"High news"});
  char* name = NotifyNewPushUrl("+821055501234", Mod::TestCode);
  ASSERT_NE(name, nullptr);
  EXPECT_STRNE(name, "push:+821055501234.1");
  MemFree(&name);
}

// A damaged count (far more than the section holds) costs no more than
// the section's own keys: the start does not stall on it.
TEST_F(PushTest, ADamagedInboxCountDoesNotStallTheStart) {
  PushDoc("si_high");
  Pump();
  ASSERT_NO_FATAL_FAILURE(RestartWithKeptInt("count", 0x7FFFFFFF));
  EXPECT_EQ(List("all", "text"), std::vector<std::string>{"High news"});
}

// A kept name may be taken already when the inbox comes back (a push that
// arrived at start-up): the kept message takes a new one, both are listed.
TEST_F(PushTest, AKeptNameTakenAtStartUpMovesAside) {
  PushAs("push:+821055501234.1", "si_high");
  Pump();
  NotifyStopTask();
  Pump();
  LcStopTask(starter->task());
  Pump();
  starter->log.clear();
  LcStartTask(starter->task());
  ASSERT_EQ(NotifyStartTask(starter->task()), kOk);
  // Before the inbox comes back, a push is placed under the first name.
  char* name = NotifyNewPushUrl("+821055501234", Mod::TestCode);
  EXPECT_STREQ(name, "push:+821055501234.1");
  PushAs(name, "sl_high");
  MemFree(&name);
  Pump();
  EXPECT_EQ(List("all", "text"),
            (std::vector<std::string>{"wsp://www.example.com/app.wmlc", "High news"}));
  char* next = NotifyNewPushUrl("+821055501234", Mod::TestCode);
  EXPECT_STREQ(next, "push:+821055501234.3");
  MemFree(&next);
}

// Every listed message outlives a restart, connectivity documents too.
TEST_F(PushTest, ConnectivityMessagesSurviveARestart) {
  const std::string prov = Push("application/vnd.wap.connectivity-wbxml", "\x03\x0B\x6A\x00\x45\x01");
  PushDoc("si_low");
  Pump();
  const std::vector<std::string> before = List("all", "priority");
  ASSERT_EQ(before, (std::vector<std::string>{"provisioning/medium", "indication/low"}));
  StopServices();
  StartServices();
  EXPECT_EQ(List("all", "priority"), before);
  EXPECT_EQ(List("all", "intUrl").front(), prov);
}

// --- Connectivity documents kept across runs ----------------------------------

std::vector<std::pair<std::string, std::string>> Headers(const UrlLoad* load) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const UrlHeader* h = load->headers; h; h = h->next) out.emplace_back(h->name, h->value);
  return out;
}

// The object holds the document as pushed, with its content type and headers.
void ExpectDocument(const UrlLoad* load, const std::string& doc) {
  ASSERT_NE(load, nullptr);
  EXPECT_EQ(Body(load), doc);
  EXPECT_EQ(load->typeId, UrlType::ConnectivityWbxml);
  const std::vector<std::pair<std::string, std::string>> want = {
      {"Content-Type", kConnectivity},
      {"SEC", "USERPIN"},
      {"MAC", "8347ed41acd72a5be79224933677c5234194b5e7"}};
  EXPECT_EQ(Headers(load), want);
}

class PushDocTest : public PushTest {
 protected:
  // The raw value of a key of the "inbox" section; empty when absent.
  std::string Stored(const char* key) {
    for (const auto& [name, value] : Section("inbox"))
      if (name == key) return value;
    return {};
  }
  // Replaces (or with no value, deletes) a key of the "inbox" section.
  void Rewrite(const char* key, const std::string* value) {
    ConfigHandle* handle = OpenSection("inbox");
    ASSERT_NE(handle, nullptr);
    if (value)
      ASSERT_EQ(ConfigSetRaw(handle, key, 0, value->data(), static_cast<uint32_t>(value->size()),
                             ConfigKind::Raw),
                kOk);
    else
      ASSERT_EQ(ConfigDelete(handle, key, 0), kOk);
    ASSERT_EQ(ConfigSave(handle, nullptr), kOk);
    Pump();
  }
  void ExpectWhole(const std::string& url, const std::string& doc) {
    ExpectDocument(Cached(url), doc);
  }
};

// A connectivity message's address in the inbox is its own push: name:
// after a restart opening it reaches the document as it was pushed, with
// its content type and security parameters, and so again after another.
TEST_F(PushTest, AConnectivityMessageKeepsItsDocumentAcrossARestart) {
  const std::string body = Data("../prov/full.wbxml");
  const std::string prov = Push(kConnectivity, body, ProvHeaders());
  PushDoc("si_low");
  Pump();
  ExpectDocument(Cached(prov), body);
  for (int run = 0; run < 2; ++run) {
    StopServices();
    StartServices();
    ExpectDocument(Cached(prov), body);
    EXPECT_EQ(List("all", "priority"),
              (std::vector<std::string>{"provisioning/medium", "indication/low"}));
    EXPECT_EQ(List("all", "intUrl").front(), prov);
  }
  // Its own record is the one an inbox without documents holds (a record
  // length of 0), so a reader that knows only those still lists it.
  StopServices();
  std::string record;
  for (const auto& [key, value] : Section("inbox"))
    if (key == "m0") record = value;
  ASSERT_EQ(record.size(), 16 + prov.size());
  EXPECT_EQ(record.substr(12, prov.size()), prov);
  EXPECT_EQ(record.substr(12 + prov.size()), std::string(4, '\0'));
  StartServices();
}

// An inbox written before documents were kept (or one whose document
// record is damaged) still loads: the message comes back by its name, the
// others as they were.
struct OldInboxRow {
  const char* name;
  std::string (*document)(const std::string& stored);  // null: no document record
};

class PushOldInboxTest : public PushDocTest, public ::testing::WithParamInterface<OldInboxRow> {};

TEST_P(PushOldInboxTest, AnInboxWithoutAReadableDocumentStillLoads) {
  const std::string body = Data("../prov/full.wbxml");
  const std::string prov = Push(kConnectivity, body, ProvHeaders());
  PushDoc("si_high");
  Pump();
  StopServices();
  // The connectivity message is the second listed: the SI is high.
  const std::string stored = Stored("d1");
  ASSERT_FALSE(stored.empty());
  EXPECT_TRUE(Stored("d0").empty());
  if (GetParam().document) {
    const std::string damaged = GetParam().document(stored);
    Rewrite("d1", &damaged);
  } else {
    Rewrite("d1", nullptr);
  }
  StartServices();
  EXPECT_EQ(List("all", "priority"),
            (std::vector<std::string>{"indication/high", "provisioning/medium"}));
  ASSERT_NE(Cached(prov), nullptr);
  EXPECT_EQ(Body(Cached(prov)), "");
  EXPECT_EQ(Cached(prov)->headers, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushOldInboxTest,
    ::testing::Values(
        OldInboxRow{"WrittenBeforeDocuments", nullptr},
        OldInboxRow{"CutShort", [](const std::string& d) { return d.substr(0, d.size() - 1); }},
        OldInboxRow{"RunningOn", [](const std::string& d) { return d + "x"; }},
        OldInboxRow{"OfAnotherMessage",
                    [](const std::string& d) {
                      std::string other = d;
                      other[4 + 5] ^= 1;  // a character of the push: name
                      return other;
                    }},
        OldInboxRow{"HeaderLengthPastTheEnd",
                    [](const std::string& d) {
                      std::string other = d;
                      const size_t at = 4 + (d[0] & 0xFF) + 8;  // the first header's name length
                      other[at + 3] = '\x7F';
                      return other;
                    }},
        OldInboxRow{"ANulInAHeader",
                    [](const std::string& d) {
                      std::string other = d;
                      other[4 + (d[0] & 0xFF) + 12] = '\0';  // the first header name's first byte
                      return other;
                    }},
        OldInboxRow{"Empty", [](const std::string&) { return std::string(); }}),
    [](const ::testing::TestParamInfo<OldInboxRow>& info) { return info.param.name; });

// A document is kept while it fits the limit; one over it is kept by name
// alone, as before documents were kept.
struct DocSizeRow {
  const char* name;
  uint32_t size;
  bool kept;
};

class PushDocSizeTest : public PushDocTest, public ::testing::WithParamInterface<DocSizeRow> {};

TEST_P(PushDocSizeTest, ADocumentIsKeptWhileItFitsTheLimit) {
  const std::string doc = DocOfSize(GetParam().size);
  const std::string prov = Push(kConnectivity, doc, ProvHeaders());
  Pump();
  StopServices();
  EXPECT_EQ(Stored("d0").empty(), !GetParam().kept);
  StartServices();
  ASSERT_NE(Cached(prov), nullptr);
  EXPECT_EQ(List("all", "priority"), std::vector<std::string>{"provisioning/medium"});
  if (GetParam().kept)
    ExpectWhole(prov, doc);
  else
    EXPECT_EQ(Body(Cached(prov)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushDocSizeTest,
    ::testing::Values(DocSizeRow{"Empty", 0, true}, DocSizeRow{"Small", 721, true},
                      DocSizeRow{"WellWithin", kNotifyStoreDocLimit - 256, true},
                      DocSizeRow{"OverTheLimit", kNotifyStoreDocLimit + 1, false},
                      DocSizeRow{"FarOver", 60000, false}),
    [](const ::testing::TestParamInfo<DocSizeRow>& info) { return info.param.name; });

// The documents of one inbox share a budget in list order (newest first):
// the oldest that no longer fits comes back by name alone, and the section
// still saves.
TEST_F(PushDocTest, DocumentsPastTheInboxBudgetAreKeptByName) {
  const uint32_t size = 1500;
  const uint32_t fitting = kNotifyStoreDocBudget / (size + 200);
  ASSERT_GE(fitting, 2u);
  std::vector<std::string> urls, docs;
  for (uint32_t i = 0; i <= fitting; ++i) {
    docs.push_back(DocOfSize(size - i));
    urls.push_back(Push(kConnectivity, docs.back(), ProvHeaders()));
  }
  Pump();
  StopServices();
  StartServices();
  ASSERT_EQ(List("all").size(), fitting + 1);
  ASSERT_NE(Cached(urls[0]), nullptr);
  EXPECT_EQ(Body(Cached(urls[0])), "");
  for (uint32_t i = 1; i <= fitting; ++i) ExpectWhole(urls[i], docs[i]);
}

// A storage class that cannot take the documents as well still takes the
// messages: they come back, the documents' by name alone.
TEST_F(PushDocTest, MessagesAreKeptWhenTheirDocumentsOverrunTheQuota) {
  struct Quota {
    int32_t was = UbstoreGetQuota(UbstoreClassIndex("repository"));
    Quota() { UbstoreSetQuota("repository", 1500); }
    ~Quota() { UbstoreSetQuota("repository", was); }
  } quota;
  const std::string doc = DocOfSize(1800);
  const std::string prov = Push(kConnectivity, doc, ProvHeaders());
  PushDoc("si_low");
  Pump();
  StopServices();
  StartServices();
  EXPECT_EQ(List("all", "priority"),
            (std::vector<std::string>{"provisioning/medium", "indication/low"}));
  ASSERT_NE(Cached(prov), nullptr);
  EXPECT_EQ(Body(Cached(prov)), "");
}

// A kept document never costs local content or a channel its store: a
// home page or a channel that fits the class file without the inbox's
// documents is stored beside a kept 1,800-byte one, which then comes back
// by name; with a small document both stay.
struct SpareRow {
  const char* name;
  uint32_t docSize;
  bool channel;  // else a home page
  bool docKept;
};

class PushSpareTest : public PushDocTest, public ::testing::WithParamInterface<SpareRow> {
 protected:
  // A fetched channel whose one resource holds `size` bytes, handed to the
  // repository as the channel fetch hands it.
  void StoreChannel(uint32_t size) {
    RepResource resource{};
    resource.href = const_cast<char*>("big.txt");
    resource.typeId = UrlType::Text;
    resource.state = RepState::Fetched;
    resource.number = -1;
    RepChannel channel{};
    channel.base = const_cast<char*>("http://example.com/c");
    channel.identity.channelId = const_cast<char*>("big-1");
    channel.resourceCount = 1;
    channel.resources = &resource;
    RepChannel* copy = RepChannelCopy(&channel);
    ASSERT_NE(copy, nullptr);
    copy->resources->data = static_cast<uint8_t*>(MemAlloc(size, Use::Data, Mod::TestCode));
    LibcMemSet(copy->resources->data, 'x', size);
    copy->resources->dataLength = size;
    TskmanPost(ReplibGetTask(), ReplibMsg::Store, reinterpret_cast<uintptr_t>(copy), 0);
    Pump();
  }
  bool Has(const char* section, const char* key) {
    for (const auto& [name, value] : Section(section))
      if (name == key) return true;
    return false;
  }
};

TEST_P(PushSpareTest, WhatFitsWithoutTheDocumentsIsStored) {
  const SpareRow& row = GetParam();
  const std::string doc = DocOfSize(row.docSize);
  const std::string prov = Push(kConnectivity, doc, ProvHeaders());
  Pump();
  StopServices();
  StartServices();
  ASSERT_FALSE(Stored("d0").empty());  // the class file holds the document
  if (row.channel) {
    ASSERT_NO_FATAL_FAILURE(StoreChannel(5900));
    EXPECT_TRUE(Has("repository", "Channel"));
  } else {
    PushHomePage(5880);
    EXPECT_TRUE(Has("homepage", "current"));
  }
  StopServices();
  StartServices();
  EXPECT_EQ(List("all", "priority"), std::vector<std::string>{"provisioning/medium"});
  ASSERT_NE(Cached(prov), nullptr);
  EXPECT_EQ(Body(Cached(prov)), row.docKept ? doc : "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushSpareTest,
    ::testing::Values(SpareRow{"HomePageBesideASmallDocument", 6, false, true},
                      SpareRow{"HomePageBesideALargeDocument", 1800, false, false},
                      SpareRow{"ChannelBesideASmallDocument", 6, true, true},
                      SpareRow{"ChannelBesideALargeDocument", 1800, true, false}),
    [](const ::testing::TestParamInfo<SpareRow>& info) { return info.param.name; });

// A stop at any step of a start, while the inbox comes back: the document
// is whole after every round.
TEST_F(PushDocTest, AStopAtAnyStepOfTheRestoreKeepsTheDocumentWhole) {
  const std::string body = Data("../prov/full.wbxml");
  const std::string prov = Push(kConnectivity, body, ProvHeaders());
  Pump();
  for (int steps = 0; steps <= 20; ++steps) {
    SCOPED_TRACE(steps);
    StopServices();
    ASSERT_NO_FATAL_FAILURE(BeginServices());
    ASSERT_NO_FATAL_FAILURE(StopAfter(steps));
    StartServices();
    ExpectWhole(prov, body);
  }
}

// With the heap running low while the inbox comes back, a connectivity
// message comes back with its whole document or not at all, never as an
// empty object, and one that did not come back is there the next time;
// the heap is whole after.
TEST_F(PushDocTest, ARestoreWithTheHeapRunningLowKeepsDocumentsWholeOrAbsent) {
  const std::string body = DocOfSize(1500);
  const std::string prov = Push(kConnectivity, body, ProvHeaders());
  Pump();
  uint32_t whole = 0, absent = 0;
  for (uint32_t reserve = 0; reserve <= 40000; reserve += 64) {
    SCOPED_TRACE(reserve);
    StopServices();
    ASSERT_NO_FATAL_FAILURE(BeginServices());
    // The push task has asked for the inbox when its start is answered.
    for (int i = 0; i < 100 && starter->Count(NotifyMsg::Started) == 0; ++i) Step();
    ASSERT_EQ(starter->Count(NotifyMsg::Started), 1u);
    std::vector<void*> eaten = EatHeap(reserve);
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    Pump();
    if (Cached(prov)) {
      ExpectWhole(prov, body);
      ++whole;
    } else {
      EXPECT_TRUE(List("all").empty());
      ++absent;
    }
  }
  EXPECT_GT(whole, 0u);
  EXPECT_GT(absent, 0u);
  StopServices();
  StartServices();
  ExpectWhole(prov, body);
}

// --- A start that cannot read the inbox ---------------------------------------

enum class ReadFault { StoreUnreadable, HeapExhausted };

// The kept inbox of every kind (SIs, an SL, a connectivity message with its
// document) and the ways a start may fail to read it back.
class PushUnreadInboxTest : public PushDocTest {
 protected:
  // Starts the services (stopped) so that the inbox does not come back.
  void StartMissingTheInbox(ReadFault fault) {
    if (fault == ReadFault::StoreUnreadable) {
      BreakStore();
      ASSERT_NO_FATAL_FAILURE(StartServices());
      MendStore();
    } else {
      ASSERT_NO_FATAL_FAILURE(StartUntilAsked());
      std::vector<void*> eaten = EatHeap(0);
      Pump();
      for (void* p : eaten) MemFreeRaw(p);
      Pump();
    }
  }
  void KeepInbox() {
    body = Data("../prov/full.wbxml");
    prov = Push(kConnectivity, body, ProvHeaders());
    PushDoc("si_high");
    PushDoc("si_low");
    PushDoc("sl_high");
    Pump();
    kept = Listed();
    ASSERT_EQ(kept.size(), 4u);
  }
  // Every listed message by its priority and name. A start that put back
  // only part of the inbox may list the messages of one level in another
  // order afterwards, so the order is not compared.
  std::vector<std::string> Listed() {
    const std::vector<std::string> priorities = List("all", "priority");
    const std::vector<std::string> texts = List("all", "intUrl");
    std::vector<std::string> out;
    for (size_t i = 0; i < priorities.size() && i < texts.size(); ++i)
      out.push_back(priorities[i] + " " + texts[i]);
    std::sort(out.begin(), out.end());
    return out;
  }
  // Starts both tasks and steps until push reception has asked for the inbox.
  void StartUntilAsked() {
    ASSERT_NO_FATAL_FAILURE(BeginServices());
    for (int i = 0; i < 100 && starter->Count(NotifyMsg::Started) == 0; ++i) Step();
    ASSERT_EQ(starter->Count(NotifyMsg::Started), 1u);
  }
  // While the class file of the inbox is a link to itself, it cannot be read.
  static void BreakStore() {
    std::filesystem::rename("repository", "repository.kept");
    std::filesystem::create_symlink("repository", "repository");
  }
  static void MendStore() {
    std::filesystem::remove("repository");
    std::filesystem::rename("repository.kept", "repository");
  }
  // A clean start lists every message kept before, the document whole, and
  // `more` others.
  void ExpectKept(size_t more = 0) {
    const std::vector<std::string> listed = Listed();
    for (const std::string& message : kept)
      EXPECT_NE(std::find(listed.begin(), listed.end(), message), listed.end()) << message;
    EXPECT_EQ(listed.size(), kept.size() + more);
    ExpectWhole(prov, body);
  }

  std::string body, prov;
  std::vector<std::string> kept;
};

struct UnreadRow {
  const char* name;
  ReadFault fault;
};

class PushUnreadRowTest : public PushUnreadInboxTest,
                          public ::testing::WithParamInterface<UnreadRow> {};

// The inbox could not be read at start-up: the run starts with an empty
// inbox, and its stop keeps the earlier messages beside the new one.
TEST_P(PushUnreadRowTest, AStartThatCannotReadTheInboxLosesNothing) {
  KeepInbox();
  StopServices();
  ASSERT_NO_FATAL_FAILURE(StartMissingTheInbox(GetParam().fault));
  EXPECT_TRUE(List("all").empty());
  // The run numbers its pushes from 1 again: its message takes the name of
  // a kept one, and moves aside when both come back.
  char* name = NotifyNewPushUrl("+4917012345", Mod::TestCode);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name, prov);
  PushAs(name, "si_medium");
  MemFree(&name);
  Pump();
  for (int run = 0; run < 2; ++run) {
    StopServices();
    StartServices();
    ExpectKept(1);
    const std::vector<std::string> texts = List("all", "text");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Medium news"), texts.end());
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PushUnreadRowTest,
                         ::testing::Values(UnreadRow{"StoreUnreadable", ReadFault::StoreUnreadable},
                                           UnreadRow{"HeapExhausted", ReadFault::HeapExhausted}),
                         [](const ::testing::TestParamInfo<UnreadRow>& info) {
                           return info.param.name;
                         });

// What a run whose start could not read the inbox receives meets the
// messages it missed as it would have met them in the inbox: the next
// run never lists two SIs of one si-id or two SLs of one href, and a
// delete does not come back.
struct MissedRuleRow {
  const char* name;
  ReadFault fault;
  const char* doc;
  const char* gone;   // the kept text the push takes out, or null
  const char* added;  // the text it adds, or null
};

class PushMissedRuleTest : public PushUnreadInboxTest,
                           public ::testing::WithParamInterface<MissedRuleRow> {
 protected:
  std::vector<std::string> Texts() {
    std::vector<std::string> texts = List("all", "text");
    std::sort(texts.begin(), texts.end());
    return texts;
  }
  // Keeps the inbox and stops the services; what the rules make of that
  // inbox with the row's push.
  std::vector<std::string> KeepAndStop() {
    const MissedRuleRow& row = GetParam();
    KeepInbox();
    std::vector<std::string> want = Texts();
    if (row.gone) want.erase(std::find(want.begin(), want.end(), row.gone));
    if (row.added) want.push_back(row.added);
    std::sort(want.begin(), want.end());
    StopServices();
    return want;
  }
};

TEST_P(PushMissedRuleTest, TheRulesReachWhatTheStartMissed) {
  const MissedRuleRow& row = GetParam();
  const std::vector<std::string> want = KeepAndStop();
  ASSERT_NO_FATAL_FAILURE(StartMissingTheInbox(row.fault));
  ASSERT_TRUE(List("all").empty());
  PushDoc(row.doc);
  Pump();
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    StopServices();
    StartServices();
    EXPECT_EQ(Texts(), want);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushMissedRuleTest,
    ::testing::Values(
        MissedRuleRow{"UnreadableNewerSi", ReadFault::StoreUnreadable, "si_newer", "High news",
                      "Newer news"},
        MissedRuleRow{"UnreadableSiDelete", ReadFault::StoreUnreadable, "si_delete", "High news",
                      nullptr},
        MissedRuleRow{"UnreadableOlderSi", ReadFault::StoreUnreadable, "si_older", nullptr, nullptr},
        MissedRuleRow{"UnreadableSameSl", ReadFault::StoreUnreadable, "sl_high", nullptr, nullptr},
        MissedRuleRow{"UnreadableLowerSl", ReadFault::StoreUnreadable, "sl_low", nullptr, nullptr},
        MissedRuleRow{"HeapNewerSi", ReadFault::HeapExhausted, "si_newer", "High news",
                      "Newer news"},
        MissedRuleRow{"HeapSiDelete", ReadFault::HeapExhausted, "si_delete", "High news", nullptr},
        MissedRuleRow{"HeapOlderSi", ReadFault::HeapExhausted, "si_older", nullptr, nullptr},
        MissedRuleRow{"HeapSameSl", ReadFault::HeapExhausted, "sl_high", nullptr, nullptr},
        MissedRuleRow{"HeapLowerSl", ReadFault::HeapExhausted, "sl_low", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<MissedRuleRow>& info) { return info.param.name; });

// A push of a missed message's si-id or href whose record the heap could
// not note for the save (the save then holds only the missed messages and
// the listed push): the rules still stand between the two, so the next two
// runs list the newer one alone, or the missed one alone when the push
// could not have replaced it; never both, and never the push lost.
class PushUnnotedRuleTest : public PushMissedRuleTest {};

TEST_P(PushUnnotedRuleTest, AListedPushStillMeetsWhatTheStartMissed) {
  const MissedRuleRow& row = GetParam();
  const std::vector<std::string> want = KeepAndStop();
  std::filesystem::copy_file("repository", "repository.base");
  ASSERT_NO_FATAL_FAILURE(StartMissingTheInbox(row.fault));
  UrlLoad* pushed = Cached(PushDoc(row.doc));
  Pump();
  ASSERT_NE(pushed, nullptr);
  ASSERT_EQ(List("all").size(), 1u);
  // The save as the stop makes it, every stored message missed and no
  // record noted, over the inbox as it was stored.
  std::filesystem::copy_file("repository.base", "repository",
                             std::filesystem::copy_options::overwrite_existing);
  ConfigHandle* handle = OpenSection("inbox");
  ASSERT_NE(handle, nullptr);
  NotifyStoreMissed missed{};
  missed.all = 1;
  NotifyStoreWritten written{};
  ASSERT_EQ(NotifyStoreWrite(handle, &pushed, 1, true, &missed, UINT32_MAX, &written), kOk);
  ASSERT_EQ(ConfigSave(handle, nullptr), kOk);
  MemFree(&written.missed);
  Pump();
  std::filesystem::copy_file("repository", "repository.saved");
  StopServices();
  std::filesystem::copy_file("repository.saved", "repository",
                             std::filesystem::copy_options::overwrite_existing);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    StartServices();
    EXPECT_EQ(Texts(), want);
    ExpectWhole(prov, body);
    StopServices();
  }
  StartServices();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushUnnotedRuleTest,
    ::testing::Values(
        MissedRuleRow{"NewerSi", ReadFault::StoreUnreadable, "si_newer", "High news", "Newer news"},
        MissedRuleRow{"LaterSiOfAnotherHref", ReadFault::StoreUnreadable, "si_default",
                      "High news", "Default news"},
        MissedRuleRow{"SiOfTheSameDate", ReadFault::StoreUnreadable, "si_same", "High news",
                      "Same-day news"},
        MissedRuleRow{"UndatedSi", ReadFault::StoreUnreadable, "si_undated", "High news",
                      "Undated news"},
        MissedRuleRow{"OlderSi", ReadFault::StoreUnreadable, "si_older", nullptr, nullptr},
        MissedRuleRow{"SameSl", ReadFault::StoreUnreadable, "sl_high", nullptr, nullptr},
        MissedRuleRow{"LowerSl", ReadFault::StoreUnreadable, "sl_low", nullptr, nullptr},
        // Other messages, and pushes that do not take a missed one's place.
        MissedRuleRow{"OtherSiId", ReadFault::StoreUnreadable, "si_hxp", nullptr, "Scores"},
        MissedRuleRow{"SiNamedByItsHref", ReadFault::StoreUnreadable, "si_medium", nullptr,
                      "Medium news"},
        MissedRuleRow{"SameLowSi", ReadFault::StoreUnreadable, "si_low", "Low news", "Low news"},
        MissedRuleRow{"CacheSl", ReadFault::StoreUnreadable, "sl_cache", nullptr, nullptr},
        MissedRuleRow{"OtherSl", ReadFault::StoreUnreadable, "sl_https", nullptr,
                      "wsps://www.example.org/x"},
        MissedRuleRow{"HeapNewerSi", ReadFault::HeapExhausted, "si_newer", "High news",
                      "Newer news"},
        MissedRuleRow{"HeapOlderSi", ReadFault::HeapExhausted, "si_older", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<MissedRuleRow>& info) { return info.param.name; });

// The stop of a run that missed the inbox, cut by the heap anywhere: the
// next two runs list either what was stored before that run or what the
// rules made of it, never two SIs of one si-id, never fewer messages.
TEST_F(PushUnreadInboxTest, AMissedInboxSavedShortOfMemoryIsOldOrNewNeverMixed) {
  KeepInbox();
  StopServices();
  std::filesystem::copy_file("repository", "repository.base");
  for (const char* doc : {"si_newer", "si_delete"}) {
    for (const ReadFault fault : {ReadFault::StoreUnreadable, ReadFault::HeapExhausted}) {
      uint32_t old = 0, ruled = 0;
      for (uint32_t reserve = 0; reserve <= 6000; reserve += 48) {
        SCOPED_TRACE(testing::Message() << doc << " reserve " << reserve);
        std::filesystem::copy_file("repository.base", "repository",
                                   std::filesystem::copy_options::overwrite_existing);
        ASSERT_NO_FATAL_FAILURE(StartMissingTheInbox(fault));
        PushDoc(doc);
        Pump();
        ASSERT_NO_FATAL_FAILURE(StopShortOfMemory(reserve));
        std::vector<std::string> first;
        for (int run = 0; run < 2; ++run) {
          StartServices();
          std::vector<std::string> texts = List("all", "text");
          std::sort(texts.begin(), texts.end());
          if (run == 0) first = texts;
          EXPECT_EQ(texts, first);
          const auto has = [&](const char* t) {
            return std::find(texts.begin(), texts.end(), t) != texts.end();
          };
          const bool high = has("High news"), newer = has("Newer news");
          EXPECT_FALSE(high && newer);
          EXPECT_TRUE(has("Low news"));
          EXPECT_EQ(texts.size(), high || newer ? 4u : 3u);
          if (run == 0) (high ? old : ruled) += 1;
          StopServices();
        }
      }
      EXPECT_GT(old, 0u);
      EXPECT_GT(ruled, 0u);
    }
  }
  StartServices();
}

// The heap runs out at any point of the restore: whatever did not come
// back is kept for the next start, which lists the whole inbox.
TEST_F(PushUnreadInboxTest, ARestoreCutByTheHeapAnywhereLosesNothing) {
  KeepInbox();
  uint32_t none = 0, part = 0, all = 0;
  for (uint32_t reserve = 0; reserve <= 40000; reserve += 64) {
    SCOPED_TRACE(reserve);
    StopServices();
    StartUntilAsked();
    std::vector<void*> eaten = EatHeap(reserve);
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    Pump();
    const size_t back = NotifyKeptCount();
    (back == 0 ? none : back < kept.size() ? part : all) += 1;
    StopServices();
    StartServices();
    ExpectKept();
  }
  EXPECT_GT(none, 0u);
  EXPECT_GT(part, 0u);
  EXPECT_GT(all, 0u);
}

// A stop at any step of a start that cannot read the inbox (the store
// mended before the stop's own open) keeps the inbox as it was stored.
TEST_F(PushUnreadInboxTest, AStopAtAnyStepOfAStartThatCannotReadTheInboxKeepsIt) {
  KeepInbox();
  // Once written after a start that read it back, with the serial past its names.
  StopServices();
  StartServices();
  StopServices();
  const std::vector<std::pair<std::string, std::string>> stored = Section("inbox");
  StartServices();
  for (int steps = 0; steps <= 20; ++steps) {
    SCOPED_TRACE(steps);
    StopServices();
    EXPECT_EQ(Section("inbox"), stored);
    BreakStore();
    ASSERT_NO_FATAL_FAILURE(BeginServices());
    for (int i = 0; i < steps; ++i) Step();
    MendStore();
    ASSERT_NO_FATAL_FAILURE(StopAfter(0));
    StartServices();
    ExpectKept();
  }
}

// Every push, routed and kept with little memory left, fails cleanly: the
// tasks still stop and start, and the heap is whole after.
TEST_F(PushTest, PushesWithTheHeapNearlyFullFailCleanly) {
  StoreString("PPG", "*", "1");
  for (uint32_t reserve = 0; reserve <= 24000; reserve += 48) {
    SCOPED_TRACE(reserve);
    PushDoc("si_high");
    Push("multipart/related", Data("lc_first.mime"), {{"X-Wap-Application-Id", "32768"}});
    Push("application/vnd.wap.connectivity-wbxml", "\x03\x0B\x6A\x00\x45\x01");
    std::vector<void*> eaten = EatHeap(reserve);
    Pump();
    for (void* p : eaten) MemFreeRaw(p);
    List("all");
    StopServices();
    StartServices();
  }
}

// A stop with little memory left still ends both tasks.
TEST_F(PushTest, AStopWithTheHeapNearlyFullEnds) {
  for (uint32_t reserve = 0; reserve <= 12000; reserve += 48) {
    SCOPED_TRACE(reserve);
    PushDoc("si_high");
    Push("application/vnd.wap.connectivity-wbxml", "\x03\x0B\x6A\x00\x45\x01");
    Push("multipart/related", Data("lc_first.mime"), {{"X-Wap-Application-Id", "32768"}});
    for (int i = 0; i < 12; ++i) Step();
    ASSERT_NO_FATAL_FAILURE(StopShortOfMemory(reserve));
    StartServices();
  }
}

// Push reception short of memory at its start answers the start, or its
// failure once it has ended with its URL task; a stop sent at once gets one
// answer all the same, and the heap is whole after.
TEST_F(PushTest, AStartShortOfMemoryIsAnsweredAndStops) {
  StopServices();
  const uint32_t whole = HeapGetStats().freeBytes;
  uint32_t failed = 0, started = 0;
  for (const bool stopAtOnce : {false, true}) {
    for (uint32_t reserve = 0; reserve <= 8000; reserve += 16) {
      SCOPED_TRACE(testing::Message() << "reserve " << reserve << (stopAtOnce ? ", stop" : ""));
      starter->log.clear();
      LcStartTask(starter->task());
      Pump();
      std::vector<void*> eaten = EatHeapFinely(reserve);
      const bool created = NotifyStartTask(starter->task()) == kOk;
      if (stopAtOnce) NotifyStopTask();
      Pump();
      for (void* p : eaten) MemFreeRaw(p);
      Pump();
      const size_t up = starter->Count(NotifyMsg::Started);
      const size_t down = starter->Count(NotifyMsg::StartFailed);
      if (!created) {
        EXPECT_EQ(up + down, 0u);
      } else if (down) {
        ++failed;
        EXPECT_EQ(down, 1u);
        EXPECT_EQ(up + starter->Count(NotifyMsg::Stopped), 0u);
        EXPECT_EQ(TskmanFind(Mod::Notify), nullptr);
        EXPECT_EQ(UrlGetModule(), nullptr);
      } else {
        ++started;
        EXPECT_EQ(up, 1u);
        if (!stopAtOnce) NotifyStopTask();
        Pump();
        EXPECT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
      }
      ASSERT_EQ(TskmanFind(Mod::Notify), nullptr) << "the stop is never answered";
      LcStopTask(starter->task());
      Pump();
      ASSERT_EQ(HeapGetStats().freeBytes, whole);
    }
  }
  EXPECT_GT(failed, 0u);
  EXPECT_GT(started, 0u);
  StartServices();
}

// Pushes queued before the stop are routed before its save and stay, in
// the inbox; those that arrive once the save has begun are dropped, said,
// and go whole: the objects delivery placed leave the cache with delivery's
// lock, though the cache lives on (another user of the fetch layer keeps it).
struct StopDropRow {
  const char* name;
  bool queued;  // queued before the stop, else arriving after it
};

class PushStopDropTest : public PushTest, public ::testing::WithParamInterface<StopDropRow> {};

TEST_P(PushStopDropTest, PushesDroppedAtTheStopLeaveNothingInTheCache) {
  UrlTaskContext* browserTask = nullptr;
  ASSERT_EQ(UrlStartTask(&browserTask, writer->task()), kOk);
  Pump();
  starter->log.clear();
  std::vector<std::string> urls;
  ::testing::internal::CaptureStderr();
  if (GetParam().queued) {
    ConfigHandle* ppg = OpenSection("PPG");  // routing waits for the section
    for (const char* doc : {"si_high", "si_low", "sl_high"}) urls.push_back(PushDoc(doc));
    Pump();
    NotifyStopTask();
    ConfigRelease(&ppg);
  } else {
    NotifyStopTask();
    for (const char* doc : {"si_high", "si_low", "sl_high"}) urls.push_back(PushDoc(doc));
  }
  Pump();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(starter->Count(NotifyMsg::Stopped), 1u);
  size_t sayings = 0;
  for (size_t at = 0; (at = said.find("stopped before it was taken", at)) != std::string::npos; ++at)
    ++sayings;
  EXPECT_EQ(sayings, GetParam().queued ? 0u : urls.size()) << said;
  for (const std::string& url : urls) {
    if (GetParam().queued)
      EXPECT_NE(Cached(url), nullptr) << url;  // the inbox's
    else
      EXPECT_EQ(Cached(url), nullptr) << url;
  }
  LcStopTask(starter->task());
  UrlStopTask(browserTask);
  Pump();
}

INSTANTIATE_TEST_SUITE_P(Rows, PushStopDropTest,
                         ::testing::Values(StopDropRow{"QueuedAtTheStop", true},
                                           StopDropRow{"ArrivingWhileStopping", false}),
                         [](const ::testing::TestParamInfo<StopDropRow>& info) {
                           return info.param.name;
                         });

TEST_F(PushTest, HeapIsWholeAfterManyPushes) {
  PushDoc("sl_high");  // one message stays throughout
  Pump();
  const uint32_t before = HeapGetStats().freeBytes;
  for (int i = 0; i < 1000; ++i) {
    PushDoc(i % 2 ? "si_older" : "si_newer");
    Pump();
  }
  EXPECT_EQ(NotifyKeptCount(), 2u);
  PushDoc("si_delete");
  Pump();
  EXPECT_EQ(NotifyKeptCount(), 1u);
  EXPECT_EQ(CacheCount(), 1u);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

}  // namespace

// --- Review: the kept inbox across rounds -------------------------------------

// A stop that writes back what the start put back writes the same bytes:
// nothing a message carries grows with each round.
TEST_F(PushUnreadInboxTest, RoundsWithoutNewsWriteTheSameInbox) {
  KeepInbox();
  // The first round sets the serial past the names the pushes were given.
  StopServices();
  StartServices();
  StopServices();
  const std::vector<std::pair<std::string, std::string>> first = Section("inbox");
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    StartServices();
    StopServices();
    EXPECT_EQ(Section("inbox"), first);
  }
  StartServices();
  ExpectKept();
}

// A start that could not read the inbox, then a stop whose documents
// overrun the class file's quota: the save without documents still keeps
// the messages the start missed beside the new one.
TEST_F(PushUnreadInboxTest, TheSaveWithoutDocumentsKeepsWhatTheStartMissed) {
  KeepInbox();
  StopServices();
  BreakStore();
  StartServices();
  MendStore();
  EXPECT_TRUE(List("all").empty());
  const std::string doc = DocOfSize(1800);
  const std::string url = Push(kConnectivity, doc, ProvHeaders());
  Pump();
  const uint32_t was = static_cast<uint32_t>(UbstoreGetQuota(UbstoreClassIndex("repository")));
  // Room for what the class file holds now and the new message's record,
  // not for its document.
  const auto stored = std::filesystem::file_size("repository");
  UbstoreSetQuota("repository", static_cast<int32_t>(stored + 600));
  StopServices();
  UbstoreSetQuota("repository", static_cast<int32_t>(was));
  StartServices();
  const std::vector<std::string> listed = Listed();
  for (const std::string& message : kept)
    EXPECT_NE(std::find(listed.begin(), listed.end(), message), listed.end()) << message;
  EXPECT_EQ(listed.size(), kept.size() + 1);
  // The new document gave way; the one only the file held fits once it did.
  ASSERT_NE(Cached(url), nullptr);
  EXPECT_EQ(Body(Cached(url)), "");
  ExpectWhole(prov, body);
}

// The heap runs out anywhere in the stop's save: the next start lists the
// inbox as it was before that run or as that run left it, never a mix, and
// the document whole.
TEST_F(PushUnreadInboxTest, ASaveCutByTheHeapAnywhereLeavesOneWholeInbox) {
  KeepInbox();
  StopServices();
  std::filesystem::copy_file("repository", "repository.base",
                             std::filesystem::copy_options::overwrite_existing);
  uint32_t old = 0, whole = 0;
  for (uint32_t reserve = 0; reserve <= 16000; reserve += 80) {
    SCOPED_TRACE(reserve);
    std::filesystem::copy_file("repository.base", "repository",
                               std::filesystem::copy_options::overwrite_existing);
    StartServices();
    PushDoc("si_medium");
    Pump();
    ASSERT_EQ(Listed().size(), kept.size() + 1);
    ASSERT_NO_FATAL_FAILURE(StopShortOfMemory(reserve));
    StartServices();
    // The new message's name differs in each round: it is known by its text.
    const std::vector<std::string> listed = Listed();
    const std::vector<std::string> texts = List("all", "text");
    const bool keptAll = std::all_of(kept.begin(), kept.end(), [&](const std::string& m) {
      return std::find(listed.begin(), listed.end(), m) != listed.end();
    });
    const bool fresh = std::find(texts.begin(), texts.end(), "Medium news") != texts.end();
    if (keptAll && listed.size() == kept.size() && !fresh)
      ++old;
    else if (keptAll && listed.size() == kept.size() + 1 && fresh)
      ++whole;
    else
      ADD_FAILURE() << "a mixed inbox of " << listed.size();
    ExpectWhole(prov, body);
    StopServices();
  }
  EXPECT_GT(old, 0u);
  EXPECT_GT(whole, 0u);
  std::filesystem::remove("repository.base");
}

// A damaged message record (lengths near the top of their range included)
// is skipped at the start; the others come back, and its document with it
// stays out.
struct DamagedRecordRow {
  const char* name;
  std::string (*record)(const std::string& stored);
};

class PushDamagedRecordTest : public PushDocTest,
                              public ::testing::WithParamInterface<DamagedRecordRow> {};

std::string WithWord(std::string s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
  return s;
}

TEST_P(PushDamagedRecordTest, TheOthersComeBack) {
  const std::string body = Data("../prov/full.wbxml");
  const std::string prov = Push(kConnectivity, body, ProvHeaders());
  PushDoc("si_high");
  Pump();
  StopServices();
  const std::string stored = Stored("m1");
  ASSERT_EQ(stored.size(), 16 + prov.size());
  const std::string damaged = GetParam().record(stored);
  Rewrite("m1", &damaged);
  StartServices();
  EXPECT_EQ(List("all", "priority"), (std::vector<std::string>{"indication/high"}));
  EXPECT_EQ(List("all", "count"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(Cached(prov), nullptr);
  StopServices();
  EXPECT_TRUE(Stored("d0").empty());
  EXPECT_TRUE(Stored("m1").empty());
  StartServices();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PushDamagedRecordTest,
    ::testing::Values(
        DamagedRecordRow{"NameLengthAtTheTop",
                         [](const std::string& s) { return WithWord(s, 8, 0xFFFFFFFFu); }},
        DamagedRecordRow{"NameLengthWrapsTheRest",
                         [](const std::string& s) { return WithWord(s, 8, 0xFFFFFFF0u); }},
        DamagedRecordRow{"NameLengthZero",
                         [](const std::string& s) { return WithWord(s, 8, 0); }},
        DamagedRecordRow{"RecordLengthAtTheTop",
                         [](const std::string& s) {
                           return WithWord(s, s.size() - 4, 0xFFFFFFFCu);
                         }},
        DamagedRecordRow{"ARecordWhereNoneBelongs",
                         [](const std::string& s) {
                           return WithWord(s, s.size() - 4, 4) + std::string(4, 'x');
                         }},
        DamagedRecordRow{"CutShort", [](const std::string& s) { return s.substr(0, 15); }},
        // Whole, but of a type the inbox never keeps (a channel document).
        DamagedRecordRow{"ATypeTheInboxNeverKeeps",
                         [](const std::string& s) { return WithWord(s, 4, 22); }},
        DamagedRecordRow{"ANulInTheName",
                         [](const std::string& s) {
                           std::string other = s;
                           other[12 + 3] = '\0';
                           return other;
                         }}),
    [](const ::testing::TestParamInfo<DamagedRecordRow>& info) { return info.param.name; });
