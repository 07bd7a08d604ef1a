// URL texts: bad ports, writing back, reference resolution (examples of RFC
// 3986 section 5.4).
#include <gtest/gtest.h>

#include <string>

#include "browser/url.h"
#include "kernel/heap.h"
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

// Every text test leaves the heap as it found it.
class UrlTextTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    before_ = HeapGetStats().freeBytes;
  }
  void TearDown() override { EXPECT_EQ(HeapGetStats().freeBytes, before_); }

 private:
  uint32_t before_ = 0;
};

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
      {"http://a", "g", "http://a/g"},  // under an empty base path
      {"http://u:p@a:81/b/c/d;p?q#f", "../g;x?y#s", "http://u:p@a:81/b/g;x?y#s"},
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

// RFC 3986 section 5.4.1 and 5.4.2, base "http://a/b/c/d;p?q".
TEST_F(UrlTextTest, ResolvesTheRfcExamples) {
  const struct {
    const char* ref;
    const char* want;
  } cases[] = {
      {"g:h", "g:h"},
      {"?y", "http://a/b/c/d;p?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"", "http://a/b/c/d;p?q"},
      {"..", "http://a/b/"},
      {"../..", "http://a/"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
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

}  // namespace
