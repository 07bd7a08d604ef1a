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
    {"ResolveParent", "resolve", {"s:http://a/b/c/d;p?q", "s:../g"}, "s:http://a/b/g"},
    {"ResolveInt", "resolveInt", {}, "s:http://a/b/12"},
    {"EscapeBlankSlashAndUmlaut", "escape", {"s:a b/\xfc"}, "s:a%20b%2F%C3%BC"},
    {"Unescape", "unescape", {"s:a%20b%2f%C3%BC"}, "s:a b/\\u00FC"},
    {"UnescapeBadUtf8", "unescape", {"s:%FF"}, "s:\\uFFFD"},
    {"RoundTrip", "roundTrip", {"s:\xfc &=%"}, "b:true"},
    {"LoadBadType", "load", {"s:x.txt", "s:image/png"}, "invalid"},
};
INSTANTIATE_TEST_SUITE_P(Url, WmlsUrlTest, ::testing::ValuesIn(kUrl),
                         [](const auto& i) { return std::string(i.param.name); });

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

TEST_F(WmlsTaskLibTest, VariablesFollowTheNameAndValueRules) {
  EXPECT_EQ(Browser("setVar", {"s:1x", "s:a"}), "invalid");
  EXPECT_EQ(Browser("setVar", {"s:x", "s:a\tb"}), "b:true");
  EXPECT_EQ(Browser("getVar", {"s:x"}), "s:a\tb");
  EXPECT_EQ(Browser("setVar", {"s:x", "s:a\x01"}), "invalid");
  EXPECT_EQ(Browser("getVar", {"s:x"}), "s:a\tb");
  EXPECT_EQ(Browser("setVar", {"s:_v9", "s:\xfc"}), "b:true");
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
}

}  // namespace
