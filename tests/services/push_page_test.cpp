// The notify: pages and the "notify" source over the real URL task that
// push reception runs, with the built-in templates.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "browser/benvar.h"
#include "browser/cache.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "markup/varparse.h"
#include "services/push/inbox.h"
#include "services/push/notify.h"
#include "services/push/notify_scheme.h"
#include "tests/services/push_fixture.h"
#include "tests/support/fetch_driver.h"

namespace {

std::string Narrow(const char16_t* w, size_t n = std::string::npos) {
  std::string s;
  for (size_t i = 0; w && i < n && w[i]; ++i) s += static_cast<char>(w[i]);
  return s;
}

// As the pages write a link's field: all but letters, digits and "-._~"
// percent-encoded.
std::string Encoded(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text)
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~')
      out += static_cast<char>(c);
    else
      out += {'%', kHex[c >> 4], kHex[c & 15]};
  return out;
}

class PushPageTest : public PushFixture {
 protected:
  void SetUp() override {
    PushFixture::SetUp();
    BenBrowserInit(&browser);
    UrlSetBrowser(&browser);
    requester = std::make_unique<FetchRequester>();
    Pump();
    ASSERT_EQ(UrlSessionCreate(&session, requester->task()), kOk);
  }
  void TearDown() override {
    UrlSessionDestroy(session);
    Pump();
    UrlSetBrowser(nullptr);
    BenClearVars(&browser);
    requester.reset();
    PushFixture::TearDown();
  }
  // The page as text (it comes as UTF-16).
  std::string Get(const std::string& url) {
    UrlRequestRec* request = nullptr;
    EXPECT_EQ(requester->Request(session, url, 1, &request), kOk);
    Pump();
    EXPECT_EQ(requester->Count(UrlMsg::Complete), 1u);
    requester->Drain(request);
    const std::string bytes = requester->received[request];
    status_ = UrlLoadStatus(request);
    requester->Done(session, request);
    requester->ClearLog();
    return Narrow(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
  }
  std::string Redirect() { return Narrow(BenGetVar(&browser, u"HXPNotify_Redirect")); }
  // A template filled with the notify source alone.
  std::string Fill(const char* text) {
    Queue out{};
    VarParseJob* job = nullptr;
    EXPECT_EQ(VarParseCreate(&job, 0, nullptr), kOk);
    VarParseSetSources(job, kNotifySources);
    VarParseSetSink(job, &out);
    VarParseFeed(job, UtilDataChunkNew(reinterpret_cast<const uint8_t*>(text), LibcStrLen(text), Mod::TestCode));
    VarParseClose(&job);
    std::u16string w(UtilDataChunkQueueBytes(&out) / 2, u'\0');
    UtilDataChunkTake(&out, reinterpret_cast<uint8_t*>(w.data()), static_cast<uint32_t>(w.size() * 2));
    return Narrow(w.c_str(), w.size());
  }

  BenBrowser browser{};
  std::unique_ptr<FetchRequester> requester;
  UrlSession* session = nullptr;
  uint32_t status_ = 0;
};

TEST_F(PushPageTest, TheBrowsePageListsTheInboxAndTellsTheIndicator) {
  const std::string low = PushDoc("si_low");
  PushDoc("si_high");
  PushDoc("si_hxp");
  Pump();
  status->log.clear();
  const std::string page = Get("notify://browse");
  EXPECT_EQ(status_, kUrlStatusBuiltPage);
  EXPECT_NE(page.find("<b>Inbox</b> 2"), std::string::npos) << page;
  EXPECT_LT(page.find("High news"), page.find("Low news"));
  EXPECT_NE(page.find("indication/low"), std::string::npos);
  EXPECT_NE(page.find("notify://delete?int=" + Encoded(low) + "&amp;"), std::string::npos) << page;
  EXPECT_NE(page.find("<b>Feeds</b>"), std::string::npos);
  EXPECT_NE(page.find("Scores"), std::string::npos);
  EXPECT_EQ(Indicators(), std::vector<uint32_t>{1});
  EXPECT_EQ(Get("notify://anything").find("<b>Inbox</b> 2") != std::string::npos, true);
}

TEST_F(PushPageTest, ViewingMarksTheMessageViewedAndSetsWhereToGo) {
  const std::string url = PushDoc("si_low");
  Pump();
  const std::string page = Get("notify://View?int=" + url + "&ext=http://example.com/a");
  EXPECT_EQ(status_, kUrlStatusKeptOut);
  EXPECT_NE(page.find("Opening the message"), std::string::npos);
  EXPECT_EQ(Redirect(), "http://example.com/a");
  UrlLoad* message = Cached(url);
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->flags & UrlFlag::Viewed);
  EXPECT_TRUE(message->flags & UrlFlag::Kept);
  EXPECT_EQ(message->locks, 1u);  // still the inbox's, which the cache cannot free
  EXPECT_EQ(NotifyKeptCount(), 1u);
}

// The browse page's links carry both addresses whole: a view reaches the
// message and goes on to its address with "&", "#" and "+" in it.
TEST_F(PushPageTest, TheViewLinkCarriesAnAddressWithQueryFragmentAndPlus) {
  const std::string url = PushDoc("si_query");
  Pump();
  const std::string page = Get("notify://browse");
  const size_t at = page.find("notify://view?");
  ASSERT_NE(at, std::string::npos) << page;
  std::string link = page.substr(at, page.find('"', at) - at);
  for (size_t amp; (amp = link.find("&amp;")) != std::string::npos;) link.replace(amp, 5, "&");
  EXPECT_EQ(link, "notify://view?int=" + Encoded(url) + "&ext=" +
                      Encoded("wsp://x.org/a?b=1&c=2#top+x") + "&");
  Get(link);
  EXPECT_EQ(Redirect(), "wsp://x.org/a?b=1&c=2#top+x");
  ASSERT_NE(Cached(url), nullptr);
  EXPECT_TRUE(Cached(url)->flags & UrlFlag::Viewed);
  // The delete link names the message the same way.
  const size_t del = page.find("notify://delete?");
  ASSERT_NE(del, std::string::npos);
  std::string remove = page.substr(del, page.find('"', del) - del);
  for (size_t amp; (amp = remove.find("&amp;")) != std::string::npos;) remove.replace(amp, 5, "&");
  Get(remove);
  EXPECT_EQ(NotifyKeptCount(), 0u);
}

// A sender whose name is escaped in the pushed object's name: the page's
// links still reach the message.
TEST_F(PushPageTest, LinksReachAMessageWhoseNameCarriesEscapes) {
  char* name = NotifyNewPushUrl("Acme News/#1 & co%", Mod::TestCode);
  const std::string url = name;
  MemFree(&name);
  PushNamed(url, "application/vnd.wap.sic", Data("si_query.wbxml"));
  Pump();
  ASSERT_EQ(NotifyKeptCount(), 1u);
  const std::string page = Get("notify://browse");
  for (const char* kind : {"notify://view?", "notify://delete?"}) {
    const size_t at = page.find(kind);
    ASSERT_NE(at, std::string::npos) << page;
    std::string link = page.substr(at, page.find('"', at) - at);
    for (size_t amp; (amp = link.find("&amp;")) != std::string::npos;) link.replace(amp, 5, "&");
    Get(link);
    if (std::string(kind) == "notify://view?") {
      EXPECT_EQ(Redirect(), "wsp://x.org/a?b=1&c=2#top+x");
    }
  }
  EXPECT_EQ(Redirect(), "notify://");
  EXPECT_EQ(NotifyKeptCount(), 0u);
  UrlLoad* gone = Cached(url);
  EXPECT_EQ(gone, nullptr);
}

// The "notify" source is one of every template job's sources: the
// settings page counts the inbox.
TEST_F(PushPageTest, EveryTemplateReadsTheInbox) {
  PushDoc("si_low");
  PushDoc("si_high");
  Pump();
  uint32_t size = 0;
  const uint8_t* file = QorRomOpen("config/notify.html", &size);
  ASSERT_NE(file, nullptr);
  const std::string text(reinterpret_cast<const char*>(file), size);
  QorRomRelease(file);
  Queue out{};
  VarParseJob* job = nullptr;
  ASSERT_EQ(VarParseCreate(&job, 0, nullptr), kOk);
  VarParseSetSink(job, &out);
  VarParseFeed(job, UtilDataChunkNew(reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<uint32_t>(text.size()), Mod::TestCode));
  VarParseClose(&job);
  std::u16string w(UtilDataChunkQueueBytes(&out) / 2, u'\0');
  UtilDataChunkTake(&out, reinterpret_cast<uint8_t*>(w.data()), static_cast<uint32_t>(w.size() * 2));
  const std::string filled = Narrow(w.c_str(), w.size());
  EXPECT_NE(filled.find("In the inbox: 2<br/>"), std::string::npos) << filled;
}

// Escapes that do not read as one ("%", "%4", "%zz") stay as written, and
// a long address arrives whole.
TEST_F(PushPageTest, MalformedEscapesAndLongAddressesArriveAsWritten) {
  const std::string url = PushDoc("si_low");
  Pump();
  const std::string longer = "http://x.org/" + std::string(3000, 'a') + "?q=" + std::string(3000, 'b');
  const struct {
    std::string ext, want;
  } rows[] = {
      {"http://x.org/a%", "http://x.org/a%"},
      {"http://x.org/a%4", "http://x.org/a%4"},
      {"http://x.org/%zz%4", "http://x.org/%zz%4"},
      {"http://x.org/%2541", "http://x.org/%41"},
      {"http://x.org/caf%C3%A9", "http://x.org/caf\xE9"},
      {Encoded(longer), longer},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.ext.substr(0, 40));
    BenClearVars(&browser);
    Get("notify://view?int=" + Encoded(url) + "&ext=" + row.ext);
    EXPECT_EQ(Redirect(), row.want);
  }
  // An int= that does not name a message, however it is written.
  for (const char* bad : {"%", "%4", "%zz", "push%3A"}) {
    BenClearVars(&browser);
    Get(std::string("notify://view?int=") + bad + "&ext=http://x.org/");
    EXPECT_EQ(Redirect(), "notify://") << bad;
  }
}

TEST_F(PushPageTest, ViewingAMessageThatIsGoneGoesBackToTheInbox) {
  Get("notify://view?int=push:nobody.9&ext=http://example.com/a");
  EXPECT_EQ(Redirect(), "notify://");
  EXPECT_NE(Get("notify://view?ext=http://example.com/a").find("<b>Inbox</b>"), std::string::npos);
  EXPECT_NE(Get("notify://view?int=&ext=x").find("<b>Inbox</b>"), std::string::npos);
}

// A push waits in the cache under delivery's lock until push reception
// routes it; a page that names it before then finds no message of the
// inbox, and the push is kept all the same once routed.
class PushPageEarlyTest : public PushPageTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PushPageEarlyTest, APageBeforeRoutingLeavesThePushAlone) {
  struct Held {
    ConfigHandle* handle;
    ~Held() { ConfigRelease(&handle); }
  } ppg{OpenSection("PPG")};  // routing waits for the section
  ASSERT_NE(ppg.handle, nullptr);
  const std::string url = PushDoc("si_low");
  Pump();
  ASSERT_NE(Cached(url), nullptr);
  ASSERT_EQ(NotifyKeptCount(), 0u);
  Get(std::string("notify://") + GetParam() + "?int=" + Encoded(url) + "&ext=http://example.com/a");
  EXPECT_EQ(Redirect(), "notify://");
  UrlLoad* message = Cached(url);
  ASSERT_NE(message, nullptr);
  EXPECT_FALSE(message->flags & UrlFlag::Viewed);
  EXPECT_EQ(message->locks, 1u);
  while (CacheFreeOne()) {
  }  // the heap runs dry: the cache gives up what nothing locks
  EXPECT_NE(Cached(url), nullptr);
  ConfigRelease(&ppg.handle);
  Pump();
  EXPECT_EQ(NotifyKeptCount(), 1u);
  EXPECT_EQ(Fill("[[$notify.all.text$]]"), "[Low news]");
}

INSTANTIATE_TEST_SUITE_P(Pages, PushPageEarlyTest, ::testing::Values("view", "delete"));

TEST_F(PushPageTest, DeletingRemovesTheMessage) {
  const std::string url = PushDoc("si_low");
  PushDoc("si_high");
  Pump();
  const std::string page = Get("notify://DELETE?int=" + url);
  EXPECT_NE(page.find("(1 left)"), std::string::npos) << page;
  EXPECT_EQ(Redirect(), "notify://");
  EXPECT_EQ(NotifyKeptCount(), 1u);
  EXPECT_EQ(Cached(url), nullptr);  // nothing holds it any more
}

TEST_F(PushPageTest, TheSourceReadsCollectionsByName) {
  EXPECT_EQ(Fill("[[$notify.all.text$]]"), "[]");
  EXPECT_EQ(Fill("[[$notify.all.count$]]"), "[]");
  PushDoc("si_low");
  PushDoc("si_high");
  PushDoc("si_hxp");
  Pump();
  EXPECT_EQ(Fill("[$notify.ALL.COUNT$]/[$notify.al.count$]"), "3/3");
  EXPECT_EQ(Fill("[$notify.siid.sports.count$]/[$notify.siid.news.count$]"), "1/");
  EXPECT_EQ(Fill("[$for:notify.all.text$]<[$notify.all.text$]:[$notify.all.text.count$]>[$/for$]"),
            "<High news:3><Low news:3><Scores:3>");
  EXPECT_EQ(Fill("[$for:notify.nothing.text$]x[$/for$][$notify.all$][$notify.all.nothing$]"), "");
}

}  // namespace
