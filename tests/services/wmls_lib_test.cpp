// The URL and WMLBrowser libraries, called from units compiled by Kannel's
// wmlsc (tests/data/wmls/url.wmls, browser.wmls), with the script task's
// record the libraries read and a browser variable context of their own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "browser/benvar.h"
#include "kernel/heap.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_task.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

// Runs fn with string arguments to its end; the description of its value.
std::string RunLib(const char* file, const char* fn, const std::vector<std::u16string>& args,
                WmlsTaskContext* task = nullptr, const char* unitUrl = nullptr) {
  const std::vector<uint8_t> bytes = WmlsReadUnit(file);
  WmlsUnit* unit = nullptr;
  if (WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit) != WmlsParse::Ok)
    return "no unit";
  std::vector<WmlsValue> cells;
  for (const std::u16string& a : args)
    cells.push_back({WmlsType::String, reinterpret_cast<uintptr_t>(a.c_str()), 1});
  const std::u16string name(fn, fn + std::strlen(fn));
  WmlsRunContext ctx;
  int32_t r = WmlsRunStart(&ctx, unit, WmlsFindFunction(unit, name.c_str()), cells.data(),
                           static_cast<uint8_t>(cells.size()));
  ctx.scriptTask = task;
  ctx.unitUrl = unitUrl;
  for (int i = 0; r == 0 && ctx.status == 0 && i < 1000; ++i) r = WmlsRunSlice(&ctx, kWmlsSliceSteps);
  std::string out;
  if (r == 0 && ctx.top >= 0) {
    out = WmlsDescribe(ctx.stack[ctx.top]);
  } else {
    out = "result " + std::to_string(r) + " status " + std::to_string(ctx.status);
  }
  WmlsRunEnd(&ctx);
  WmlsUnitFree(&unit);
  return out;
}

struct Case {
  const char* name;
  const char* function;
  std::vector<std::u16string> args;
  const char* expected;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WmlsUrlTest : public HeapFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(WmlsUrlTest, GivesTheValue) {
  const Case& c = GetParam();
  const uint32_t before = HeapGetStats().freeBytes;
  EXPECT_EQ(RunLib("url", c.function, c.args), c.expected);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

const Case kUrl[] = {
    {"ValidFull", "valid", {u"http://user@h.com:8080/p/a;x?q=1&b=2#frag"}, "b:true"},
    {"ValidSpace", "valid", {u"http://h.com/a b"}, "b:false"},
    {"ValidPercentNotHex", "valid", {u"a%zz"}, "b:false"},
    {"ValidInvalid", "validInvalid", {}, "invalid"},
    {"Scheme", "scheme", {u"HTTP://h.com/a"}, "s:http"},
    {"Host", "host", {u"http://h.com:80/a"}, "s:h.com"},
    {"Path", "getPath", {u"http://h.com/a/b;p?q#f"}, "s:/a/b"},
    {"Query", "query", {u"http://h.com/a/b;p?q=1#f"}, "s:q=1"},
    {"ResolveParent", "resolve", {u"http://a/b/c/d;p?q", u"../g"}, "s:http://a/b/g"},
    {"ResolveInt", "resolveInt", {}, "s:http://a/b/12"},
    {"EscapeBlankSlashAndUmlaut", "escape", {u"a b/\u00fc"}, "s:a%20b%2F%C3%BC"},
    {"Unescape", "unescape", {u"a%20b%2f%C3%BC"}, "s:a b/\\u00FC"},
    {"UnescapeBadUtf8", "unescape", {u"%FF"}, "s:\\uFFFD"},
    {"RoundTrip", "roundTrip", {u"\u00fc \u20ac&=%"}, "b:true"},
    {"LoadBadType", "load", {u"x.txt", u"image/png"}, "invalid"},
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
  std::string Browser(const char* fn, const std::vector<std::u16string>& args = {}) {
    return RunLib("browser", fn, args, &task_, "http://h.com/s/x.wmls");
  }
  std::string Pending() const {
    return std::to_string(browser_.pending.kind) + ":" + (browser_.pending.url ? browser_.pending.url : "");
  }
  uint32_t before_ = 0;
  BenBrowser browser_{};
  WmlsTaskContext task_{};
};

TEST_F(WmlsTaskLibTest, VariablesFollowTheNameAndValueRules) {
  EXPECT_EQ(Browser("setVar", {u"1x", u"a"}), "invalid");
  EXPECT_EQ(Browser("setVar", {u"x", u"a\tb"}), "b:true");
  EXPECT_EQ(Browser("getVar", {u"x"}), "s:a\tb");
  EXPECT_EQ(Browser("setVar", {u"x", std::u16string(u"a\x01", 2)}), "invalid");
  EXPECT_EQ(Browser("getVar", {u"x"}), "s:a\tb");
  EXPECT_EQ(Browser("setVar", {u"_v9", u"\u00fc"}), "b:true");
  EXPECT_EQ(Browser("getVar", {u"_v9"}), "s:\\u00FC");
  EXPECT_EQ(Browser("setNumber"), "b:true");
  EXPECT_EQ(Browser("getVar", {u"n"}), "s:42");
  EXPECT_EQ(Browser("getVarInvalid"), "invalid");
}

TEST_F(WmlsTaskLibTest, OnlyAWtaDeckReadsOtherNames) {
  ASSERT_EQ(BenSetVar(&browser_, u"a-b", u"v"), 0u);
  EXPECT_EQ(Browser("getVar", {u"a-b"}), "invalid");
  task_.referringClass = kWmlsWtaDeckClass;
  EXPECT_EQ(Browser("getVar", {u"a-b"}), "s:v");
  EXPECT_EQ(Browser("setVar", {u"a-b", u"w"}), "invalid");
}

TEST_F(WmlsTaskLibTest, TheLastNavigationWins) {
  EXPECT_EQ(Browser("go", {u"next.wml"}), "s:");
  EXPECT_EQ(Pending(), "1:next.wml");
  EXPECT_EQ(Browser("goThenPrev"), "s:");
  EXPECT_EQ(Pending(), "2:");
  EXPECT_EQ(Browser("prevThenGo"), "s:");
  EXPECT_EQ(Pending(), "1:next.wml#c");
  EXPECT_EQ(Browser("go", {u""}), "s:");
  EXPECT_EQ(Pending(), "0:");
  EXPECT_EQ(Browser("goInvalid"), "invalid");
  EXPECT_EQ(Pending(), "0:");
}

TEST_F(WmlsTaskLibTest, NewContextDropsVariablesAndNavigation) {
  ASSERT_EQ(BenSetVar(&browser_, u"x", u"1"), 0u);
  EXPECT_EQ(Browser("newContext"), "s:");
  EXPECT_EQ(Pending(), "0:");
  EXPECT_EQ(Browser("getVar", {u"x"}), "s:");
  EXPECT_EQ(Browser("currentCard"), "invalid");  // no card yet
}

TEST_F(WmlsTaskLibTest, OutsideTheTaskTheBrowserFunctionsAreInvalid) {
  task_.browser = nullptr;
  EXPECT_EQ(Browser("setVar", {u"x", u"a"}), "invalid");
  EXPECT_EQ(Browser("getVar", {u"x"}), "invalid");
}

}  // namespace
