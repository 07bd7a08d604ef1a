// The URL and WMLBrowser libraries, called from units compiled by Kannel's
// wmlsc (url.wmls, browser.wmls) with a script task record of their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/benvar.h"
#include "kernel/heap.h"
#include "services/wmlscript/wmls_task.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

struct Case {
  const char* name;
  const char* function;
  std::vector<std::string> args;  // "s:text"
  const char* expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WmlsUrlTest : public HeapFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(WmlsUrlTest, GivesTheValue) {
  const Case& c = GetParam();
  const uint32_t before = HeapGetStats().freeBytes;
  EXPECT_EQ(WmlsRunFile("url", c.function, c.args), c.expected);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

const Case kUrl[] = {
    {"ValidFull", "valid", {"s:http://user@h.com:8080/p/a;x?q=1&b=2#frag"}, "b:true"},
    {"ValidSpace", "valid", {"s:http://h.com/a b"}, "b:false"},
    {"ValidPercentNotHex", "valid", {"s:a%zz"}, "b:false"},
    {"ValidInvalid", "validInvalid", {}, "invalid"},
    {"Scheme", "scheme", {"s:HTTP://h.com/a"}, "s:http"},
    {"Host", "host", {"s:http://h.com:80/a"}, "s:h.com"},
    {"Path", "getPath", {"s:http://h.com/a/b;p?q#f"}, "s:/a/b"},
    {"Query", "query", {"s:http://h.com/a/b;p?q=1#f"}, "s:q=1"},
    {"QueryNone", "query", {"s:http://h.com/a"}, "s:"},
    {"ValidRelative", "valid", {"s:../a/b.wml#c"}, "b:true"},
    {"ValidColonLetter", "valid", {"s:http:x"}, "b:false"},
    {"ValidColonAtEnd", "valid", {"s:a:"}, "b:false"},
    {"ValidPercentShort", "valid", {"s:a%2"}, "b:false"},
    {"ValidEmpty", "valid", {"s:"}, "b:false"},
    {"ValidNonAscii", "valid", {"s:http://h/\xfc"}, "b:false"},
    {"ValidInt", "validInt", {}, "b:false"},
    {"SchemeRelative", "scheme", {"s:a/b"}, "s:"},
    {"SchemeOfInvalidUrl", "scheme", {"s:a b"}, "invalid"},
    {"HostInt", "hostInt", {}, "invalid"},
    {"PortNone", "port", {"s:http://h.com/a"}, "s:"},
    {"Port", "port", {"s:http://h.com:8080/a"}, "s:8080"},
    {"Parameters", "parameters", {"s:http://h.com/a/b;p?q#f"}, "s:p"},
    {"Fragment", "fragment", {"s:http://h.com/a#card"}, "s:card"},
    {"ResolveParent", "resolve", {"s:http://a/b/c/d;p?q", "s:../g"}, "s:http://a/b/g"},
    {"ResolveQuery", "resolve", {"s:http://a/b/c/d;p?q", "s:g?y#s"}, "s:http://a/b/c/g?y#s"},
    {"ResolveAbsolute", "resolve", {"s:http://a/b", "s:https://x/y"}, "s:https://x/y"},
    {"ResolveInvalid", "resolveInvalid", {}, "invalid"},
    {"ResolveInt", "resolveInt", {}, "s:http://a/b/12"},
    {"EscapeBlankSlashAndUmlaut", "escape", {"s:a b/\xfc"}, "s:a%20b%2F%C3%BC"},
    {"EscapeKept", "escape", {"s:!()*-._~AZaz09"}, "s:!()*-._~AZaz09"},
    {"EscapeReserved", "escape", {"s:'\"%#?&=+$,;:@"}, "s:%27%22%25%23%3F%26%3D%2B%24%2C%3B%3A%40"},
    {"EscapeInt", "escapeInt", {}, "s:-12"},
    {"EscapeInvalid", "escapeInvalid", {}, "invalid"},
    {"Unescape", "unescape", {"s:a%20b%2f%C3%BC"}, "s:a b/\\u00FC"},
    {"UnescapeLonePercent", "unescape", {"s:100%"}, "s:100%"},
    {"UnescapeNotHex", "unescape", {"s:%zz%4"}, "s:%zz%4"},
    {"UnescapeBadUtf8", "unescape", {"s:%FF"}, "s:\\uFFFD"},
    {"UnescapeCutSequence", "unescape", {"s:a%C3"}, "s:a\\uFFFD"},
    {"RoundTrip", "roundTrip", {"s:\xfc &=%"}, "b:true"},
    {"LoadBadType", "load", {"s:x.txt", "s:image/png"}, "invalid"},
    {"LoadNoSubtype", "load", {"s:x.txt", "s:text/"}, "invalid"},
    {"LoadInt", "loadInt", {}, "invalid"},
    {"LoadOutsideTask", "load", {"s:x.txt", "s:TEXT/Plain"}, "invalid"},
};
INSTANTIATE_TEST_SUITE_P(Url, WmlsUrlTest, ::testing::ValuesIn(kUrl),
                         [](const auto& i) { return std::string(i.param.name); });

// Every library's function table holds as many rows as the library names,
// then the row {none, -1} that ends it.
TEST(WmlsLibraryTable, EveryFunctionTableEndsWithItsEndRow) {
  int libraries = 0;
  for (const WmlsLibrary* lib = kWmlsLibraries; lib->id != -1; ++lib, ++libraries) {
    SCOPED_TRACE(lib->id);
    ASSERT_NE(lib->functions, nullptr);
    for (int32_t i = 0; i < lib->functionCount; ++i) {
      EXPECT_NE(lib->functions[i].handler, nullptr);
      EXPECT_GE(lib->functions[i].argCount, 0);
    }
    EXPECT_EQ(lib->functions[lib->functionCount].handler, nullptr);
    EXPECT_EQ(lib->functions[lib->functionCount].argCount, -1);
  }
  EXPECT_EQ(libraries, 12);
}

TEST(WmlsLoadType, TextTypesAndTheirIds) {
  struct T {
    const char16_t* type;
    uint32_t id;
  } const cases[] = {
      {u"text/*", 1}, {u"text/plain", 3}, {u"Text/HTML", 2}, {u"text/vnd.wap.wml", 8},
      {u"text/xml", 40}, {u"text/vnd.wap.connectivity-wbxml", 53}, {u"text/", 0},
      {u"text", 0}, {u"image/png", 0}, {u"text/plainx", 0}, {u"textplain", 0},
  };
  for (const T& t : cases) {
    const std::u16string s(t.type);
    EXPECT_EQ(WmlsLoadStringType(s.c_str(), static_cast<uint32_t>(s.size())), t.id)
        << std::string(s.begin(), s.end());
  }
}

class WmlsTaskLibTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    before_ = HeapGetStats().freeBytes;
    BenBrowserInit(&browser_);
    task_.browser = &browser_;
  }
  void TearDown() override {
    BenFreeVarList(&browser_);
    EXPECT_EQ(HeapGetStats().freeBytes, before_);
  }
  std::string Url(const char* fn, const char* unitUrl = nullptr) {
    return WmlsRunFile("url", fn, {}, &task_, unitUrl);
  }
  std::string Browser(const char* fn, const std::vector<std::string>& args = {}) {
    return WmlsRunFile("browser", fn, args, &task_, "http://h.com/s/x.wmls");
  }
  std::string Pending() const {
    return std::to_string(browser_.pending.kind) + ":" + (browser_.pending.url ? browser_.pending.url : "");
  }
  uint32_t before_ = 0;
  BenBrowser browser_{};
  WmlsTaskContext task_{};
};

// getBase resolves the script's address against the deck that called it,
// always over http; a referrer without a host gives nothing.
TEST_F(WmlsTaskLibTest, BaseResolvesTheScriptAgainstTheReferrer) {
  const struct {
    const char16_t *referrer, *script;
    const char* base;
  } rows[] = {
      {u"http://h.com/dir/page.wml", u"s/x.wmls", "s:http://h.com/dir/s/x.wmls"},
      {u"http://h.com/dir/page.wml", u"/x.wmls", "s:http://h.com/x.wmls"},
      {u"http://h.com/dir/page.wml", u"../x.wmls", "s:http://h.com/x.wmls"},
      {u"http://h.com/dir/page.wml", u"http://o.org/y.wmls", "s:http://o.org/y.wmls"},
      {u"WSP://h.com/d/p", u"x.wmls", "s:http://h.com/d/x.wmls"},
      {u"nohost", u"x.wmls", "s:"},
      {nullptr, u"x.wmls", "s:"},
  };
  for (const auto& r : rows) {
    task_.referrer = r.referrer;
    task_.scriptUrl = r.script;
    EXPECT_EQ(Url("base"), r.base) << r.base;
  }
}

// getReferer is the calling deck relative to the running unit (or to the
// unit that called it), absolute when scheme or host differ.
TEST_F(WmlsTaskLibTest, RefererIsRelativeToTheUnit) {
  EXPECT_EQ(Url("referer", "http://h.com/a/s/x.wmls"), "s:");
  task_.referrer = u"http://h.com/a/b/page.wml?x=1";
  const struct {
    const char *unit, *referer;
  } rows[] = {
      {"http://h.com/a/s/x.wmls", "s:../b/page.wml?x=1"},
      {"http://h.com/a/b/x.wmls", "s:page.wml?x=1"},
      {"https://h.com/a/b/x.wmls", "s:http://h.com/a/b/page.wml?x=1"},
      {"http://other.com/a/b/x.wmls", "s:http://h.com/a/b/page.wml?x=1"},
  };
  for (const auto& r : rows) EXPECT_EQ(Url("referer", r.unit), r.referer) << r.unit;
  task_.outerUnitUrl = "http://h.com/a/s/outer.wmls";
  EXPECT_EQ(Url("referer", "http://h.com/a/s/x.wmls"), "s:outer.wmls");
}

TEST_F(WmlsTaskLibTest, VariablesFollowTheNameAndValueRules) {
  for (const char* name : {"s:1x", "s:a-b", "s:"}) EXPECT_EQ(Browser("setVar", {name, "s:a"}), "invalid") << name;
  EXPECT_EQ(Browser("setVar", {"s:x", "s:a\tb"}), "b:true");
  EXPECT_EQ(Browser("getVar", {"s:x"}), "s:a\tb");
  EXPECT_EQ(Browser("setVar", {"s:x", "s:a\x01"}), "invalid");
  EXPECT_EQ(Browser("getVar", {"s:x"}), "s:a\tb");
  EXPECT_EQ(Browser("setThenGet"), "s:truea");
  EXPECT_EQ(Browser("setVar", {"s:_v9", "s:\xfc"}), "b:true");
  EXPECT_EQ(Browser("getVar", {"s:_v9"}), "s:\\u00FC");
  EXPECT_EQ(Browser("getVar", {"s:unknown"}), "s:");
  EXPECT_EQ(Browser("setNumber"), "b:true");
  EXPECT_EQ(Browser("getVar", {"s:n"}), "s:42");
  EXPECT_EQ(Browser("getVarInvalid"), "invalid");
}

TEST_F(WmlsTaskLibTest, OnlyAWtaDeckReadsOtherNames) {
  ASSERT_EQ(BenSetVar(&browser_, u"a-b", u"v"), 0u);
  EXPECT_EQ(Browser("getVar", {"s:a-b"}), "invalid");
  task_.referringClass = kWmlsWtaDeckClass;
  EXPECT_EQ(Browser("getVar", {"s:a-b"}), "s:v");
  EXPECT_EQ(Browser("setVar", {"s:a-b", "s:w"}), "invalid");
}

TEST_F(WmlsTaskLibTest, TheLastNavigationWins) {
  EXPECT_EQ(Browser("go", {"s:next.wml"}), "s:");
  EXPECT_EQ(Pending(), "1:next.wml");
  EXPECT_EQ(Browser("goThenPrev"), "s:");
  EXPECT_EQ(Pending(), "2:");
  EXPECT_EQ(Browser("prevThenGo"), "s:");
  EXPECT_EQ(Pending(), "1:next.wml#c");
  EXPECT_EQ(Browser("refresh"), "s:");
  EXPECT_EQ(Pending(), "4:");
  EXPECT_EQ(Browser("go", {"s:"}), "s:");
  EXPECT_EQ(Pending(), "0:");
  EXPECT_EQ(Browser("goInvalid"), "invalid");
  EXPECT_EQ(Pending(), "0:");
}

TEST_F(WmlsTaskLibTest, NewContextDropsVariablesAndNavigationAndOutsideTheTaskAllIsInvalid) {
  ASSERT_EQ(BenSetVar(&browser_, u"x", u"1"), 0u);
  EXPECT_EQ(Browser("newContext"), "s:");
  EXPECT_EQ(Pending(), "0:");
  EXPECT_EQ(Browser("getVar", {"s:x"}), "s:");
  EXPECT_EQ(Browser("currentCard"), "invalid");  // no card yet
  task_.browser = nullptr;  // outside the task
  EXPECT_EQ(Browser("getVar", {"s:x"}), "invalid");
  EXPECT_EQ(Browser("setVar", {"s:x", "s:a"}), "invalid");
  EXPECT_EQ(Browser("go", {"s:a"}), "invalid");
  EXPECT_EQ(Browser("refresh"), "invalid");
}

}  // namespace
