// URL texts: parts, writing back, reference resolution (the reference
// resolution examples of RFC 3986 section 5.4), decoding, content types.
#include <gtest/gtest.h>

#include <string>

#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace {

std::string Str(const char* s) { return s ? s : "(null)"; }

std::string ToString(const UrlParsed& url, uint32_t flags = 0) {
  char* text = nullptr;
  EXPECT_EQ(UrlToString(&text, &url, flags), kOk);
  std::string out = Str(text);
  MemFree(&text);
  return out;
}

class UrlTextTest : public HeapFixture {};

struct PartsCase {
  const char* text;
  const char* scheme;
  const char* user;
  const char* password;
  const char* host;
  int port;  // -1: not given
  const char* path;
  const char* params;
  const char* query;
  const char* fragment;
};

TEST_F(UrlTextTest, SplitsIntoPartsAndWritesBack) {
  const PartsCase cases[] = {
      {"http://a/b/c/d;p?q", "http", nullptr, nullptr, "a", -1, "/b/c/d", "p", "q", nullptr},
      {"HTTP://user:pw@Host.example:8080/x/y?k=v#frag", "http", "user", "pw", "Host.example",
       8080, "/x/y", nullptr, "k=v", "frag"},
      {"file:///eng/index.html", "file", nullptr, nullptr, "", -1, "/eng/index.html", nullptr,
       nullptr, nullptr},
      {"mailto:someone@example.com", "mailto", nullptr, nullptr, nullptr, -1,
       "someone@example.com", nullptr, nullptr, nullptr},
      {"http://a?", "http", nullptr, nullptr, "a", -1, "", nullptr, "", nullptr},
      {"http://[::1]:80/", "http", nullptr, nullptr, "[::1]", 80, "/", nullptr, nullptr, nullptr},
      {"../g;x=1/y#s", nullptr, nullptr, nullptr, nullptr, -1, "../g;x=1/y", nullptr, nullptr, "s"},
      {"  http://a/b  ", "http", nullptr, nullptr, "a", -1, "/b", nullptr, nullptr, nullptr},
      {"#only", nullptr, nullptr, nullptr, nullptr, -1, "", nullptr, nullptr, "only"},
  };
  for (const PartsCase& c : cases) {
    SCOPED_TRACE(c.text);
    UrlParsed url;
    ASSERT_EQ(UrlParse(&url, c.text, 0), kOk);
    EXPECT_EQ(Str(url.scheme), Str(c.scheme));
    EXPECT_EQ(Str(url.user), Str(c.user));
    EXPECT_EQ(Str(url.password), Str(c.password));
    EXPECT_EQ(Str(url.host), Str(c.host));
    EXPECT_EQ(url.portGiven ? url.port : -1, c.port);
    EXPECT_EQ(Str(url.path), Str(c.path));
    EXPECT_EQ(Str(url.params), Str(c.params));
    EXPECT_EQ(Str(url.query), Str(c.query));
    EXPECT_EQ(Str(url.fragment), Str(c.fragment));
    UrlParsed again;
    std::string text = ToString(url);
    ASSERT_EQ(UrlParse(&again, text.c_str(), 0), kOk);
    EXPECT_EQ(ToString(again), text);
    UrlFreeParsed(&again);
    UrlFreeParsed(&url);
  }
}

TEST_F(UrlTextTest, BadPortsAndBracketsAreRefused) {
  for (const char* text : {"http://a:x/", "http://a:65536/", "http://[::1/", "http://a:8o/"}) {
    SCOPED_TRACE(text);
    UrlParsed url;
    EXPECT_EQ(UrlParse(&url, text, 0), kUrlBadUrl);
    EXPECT_EQ(url.scheme, nullptr);
  }
}

// Texts that read back as the same URL: blanks and control bytes escaped,
// a path that would read as an authority or a scheme guarded.
TEST_F(UrlTextTest, WritesTextsThatReadBackTheSame) {
  const struct {
    const char* base;
    const char* ref;
    const char* want;
  } cases[] = {
      {"http://a/b", "\t\tx y\x7f", "http://a/x%20y%7F"},  // the ends trimmed first
      {"http://a/b", "x\ty", "http://a/x%09y"},
      {"x:/a/b", "/.//y", "x:/.//y"},
      {"path", "./a:b", "./a:b"},
      {"http://a/b", "c?d e#f\ng", "http://a/c?d%20e#f%0Ag"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ref);
    UrlParsed base, out, again;
    ASSERT_EQ(UrlParse(&base, c.base, 0), kOk);
    ASSERT_EQ(UrlResolve(&out, &base, c.ref), kOk);
    const std::string text = ToString(out);
    EXPECT_EQ(text, c.want);
    ASSERT_EQ(UrlParse(&again, text.c_str(), 0), kOk);
    EXPECT_EQ(ToString(again), text);
    UrlFreeParsed(&again);
    UrlFreeParsed(&out);
    UrlFreeParsed(&base);
  }
}

TEST_F(UrlTextTest, FragmentCanBeLeftOut) {
  UrlParsed url;
  ASSERT_EQ(UrlParse(&url, "http://a/b?c#d", 0), kOk);
  EXPECT_EQ(ToString(url, kUrlNoFragment), "http://a/b?c");
  UrlFreeParsed(&url);
}

// RFC 3986 section 5.4.1 and 5.4.2, base "http://a/b/c/d;p?q".
TEST_F(UrlTextTest, ResolvesTheRfcExamples) {
  const struct {
    const char* ref;
    const char* want;
  } cases[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},
  };
  UrlParsed base;
  ASSERT_EQ(UrlParse(&base, "http://a/b/c/d;p?q", 0), kOk);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ref);
    UrlParsed out;
    ASSERT_EQ(UrlResolve(&out, &base, c.ref), kOk);
    EXPECT_EQ(ToString(out), c.want);
    UrlFreeParsed(&out);
  }
  UrlFreeParsed(&base);
}

TEST_F(UrlTextTest, ResolvesUnderAnEmptyBasePath) {
  UrlParsed base;
  ASSERT_EQ(UrlParse(&base, "http://a", 0), kOk);
  UrlParsed out;
  ASSERT_EQ(UrlResolve(&out, &base, "g"), kOk);
  EXPECT_EQ(ToString(out), "http://a/g");
  UrlFreeParsed(&out);
  UrlFreeParsed(&base);
}

TEST_F(UrlTextTest, ResolutionLeavesNoMemoryBehind) {
  const uint32_t before = HeapGetStats().freeBytes;
  UrlParsed base;
  ASSERT_EQ(UrlParse(&base, "http://u:p@a:81/b/c/d;p?q#f", 0), kOk);
  UrlParsed out;
  ASSERT_EQ(UrlResolve(&out, &base, "../g;x?y#s"), kOk);
  EXPECT_EQ(ToString(out), "http://u:p@a:81/b/g;x?y#s");
  UrlFreeParsed(&out);
  UrlFreeParsed(&base);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

TEST_F(UrlTextTest, DecodesEscapes) {
  const struct {
    const char* in;
    int plus;
    const char* want;
  } cases[] = {
      {"a%20b", 0, "a b"},     {"a+b%2B", 1, "a b+"}, {"a+b", 0, "a+b"},
      {"%4a%4A", 0, "JJ"},     {"100%", 0, "100%"},   {"%g1%1", 0, "%g1%1"},
      {"%%41", 0, "%A"},       {"", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    char* out = nullptr;
    ASSERT_EQ(UrlPercentDecode(c.in, &out, c.plus), kOk);
    EXPECT_STREQ(out, c.want);
    MemFree(&out);
    if (!c.plus) {
      std::string copy = c.in;
      UrlUnescapeInPlace(copy.data());
      EXPECT_STREQ(copy.c_str(), c.want);
    }
  }
}

class UrlLoadFieldsTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    UrlParsed url;
    ASSERT_EQ(UrlParse(&url, "file:///x", 0), kOk);
    load = UrlLoadCreate(&url);
    UrlFreeParsed(&url);
    ASSERT_NE(load, nullptr);
  }
  void TearDown() override { UrlLoadFree(load); }
  UrlLoad* load = nullptr;
};

TEST_F(UrlLoadFieldsTest, ContentTypeFromMimeExtensionOrId) {
  const struct {
    int how;  // 0 MIME, 1 extension, 2 id
    const char* text;
    uint32_t id;
    uint32_t wantId;
    uint32_t wantClass;
    bool classEvent;
  } cases[] = {
      {0, "application/vnd.wap.wmlc", 0, 20, 3, true},
      {0, "Application/X-WAP.WMLC; charset=utf-8", 0, 20, 3, true},
      {0, "image/jpeg", 0, 30, 5, true},
      {0, "text/html", 0, 2, 2, true},
      {0, "application/vnd.wap.wbxml", 0, 41, 0, false},
      {0, "application/vnd.wap.connectivity-wbxml", 0, 54, 2, true},
      {0, "text/unknown", 0, 0, 0, true},
      {0, "nonsense", 0, 0, 0, true},
      {1, "wbmp", 0, 33, 5, true},
      {1, "JPEG", 0, 30, 5, true},
      {1, "sic", 0, 46, 8, true},
      {1, "xyz", 0, 0, 0, true},
      {2, nullptr, 21, 21, 7, true},
      {2, nullptr, 48, 48, 8, true},
      {2, nullptr, 41, 41, 0, false},
      {2, nullptr, 999, 999, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text ? c.text : std::to_string(c.id));
    load->events = 0;
    load->typeId = 77;
    if (c.how == 0) UrlSetContentTypeMime(load, c.text);
    if (c.how == 1) UrlSetContentTypeByExt(load, c.text);
    if (c.how == 2) UrlSetContentTypeId(load, c.id);
    EXPECT_EQ(load->typeId, c.wantId);
    EXPECT_EQ(load->contentClass, c.wantClass);
    EXPECT_EQ((load->events & UrlEvent::ClassKnown) != 0, c.classEvent);
    // No row of these types processes anything yet: the data passes on.
    EXPECT_EQ(load->contentRow, nullptr);
  }
}

TEST_F(UrlLoadFieldsTest, KnownClassIsNotReplaced) {
  UrlSetContentTypeMime(load, "image/png");
  UrlSetContentTypeByExt(load, "wmlc");
  UrlSetContentTypeId(load, 20);
  EXPECT_EQ(load->typeId, 32u);
  // The wbxml type leaves the class open for the re-typed content.
  load->events = 0;
  UrlSetContentTypeId(load, UrlType::Wbxml);
  UrlSetContentTypeId(load, UrlType::Sic);
  EXPECT_EQ(load->typeId, 46u);
}

TEST_F(UrlLoadFieldsTest, HandlerByIdNeedsOperations) {
  EXPECT_NE(UrlLoadSetHandlerById(load, UrlType::Html), kOk);
  EXPECT_EQ(load->contentRow, nullptr);
}

TEST_F(UrlLoadFieldsTest, ContentParamsSelectTheCharset) {
  const struct {
    const char* params;
    uint32_t want;
  } cases[] = {
      {"; charset=utf-8", 106},
      {";charset=\"UTF-8\"", 106},
      {"; level=1; CHARSET=iso-8859-1", 4},
      {"; charset=no-such-set", 0},
      {"; charset", 0},
      {";;=;", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    load->charset = 0;
    EXPECT_EQ(UtilParseContentParams(load, c.params), kOk);
    EXPECT_EQ(load->charset, c.want);
  }
}

TEST_F(UrlLoadFieldsTest, HeadersByNameInAnyCase) {
  ASSERT_EQ(UrlAddHeader(load, "X-Wap-Application-Id", "x-wap-application:push.sia"), kOk);
  ASSERT_EQ(UrlAddHeader(load, "sec", "1"), kOk);
  const char* value = nullptr;
  EXPECT_EQ(UrlGetHeader(load, "x-wap-application-id", &value), kOk);
  EXPECT_STREQ(value, "x-wap-application:push.sia");
  EXPECT_EQ(UrlGetHeader(load, "SEC", &value), kOk);
  EXPECT_STREQ(value, "1");
  EXPECT_NE(UrlGetHeader(load, "mac", &value), kOk);
  EXPECT_EQ(value, nullptr);
}

}  // namespace
