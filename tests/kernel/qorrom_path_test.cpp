// File-style paths to host paths: the file: prefix, its authority and
// percent escapes.
#include "kernel/qorrom_path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace {

class UrlToLocalPathTest : public HeapFixture {
 protected:
  // The local path, or the result code as "error XXXXXXXX".
  std::string Local(const char* path) {
    char* out = reinterpret_cast<char*>(1);
    const Result r = UrlToLocalPath(path, &out, 0);
    if (ResultFailed(r)) {
      EXPECT_EQ(out, nullptr);
      char code[32];
      std::snprintf(code, sizeof code, "error %08X", r);
      return code;
    }
    std::string text = out;
    EXPECT_TRUE(HeapOwns(out));
    MemFree(&out);
    return text;
  }
};

// Escapes decoded, broken ones left alone; the file: prefix and a local
// authority dropped; what is no local path refused.
TEST_F(UrlToLocalPathTest, Paths) {
  const std::pair<const char*, const char*> rows[] = {
      {"/a%20b/c%2Fd%7e", "/a b/c/d~"},  {"%41%42", "AB"},
      {"/caf%C3%A9", "/caf\xC3\xA9"},    {"100%", "100%"},
      {"%4", "%4"},                      {"%G0%%41", "%G0%A"},
      {"file:///tmp/x", "/tmp/x"},       {"FILE://localhost/tmp/x", "/tmp/x"},
      {"file:/tmp/x", "/tmp/x"},         {"file:relative/x", "relative/x"},
      {"c:/x", "c:/x"},                  {"file://server/share/x", "error 800D0002"},
      {"file://localhostx/x", "error 800D0002"}, {"/a%00b", "error 800D0002"}};
  for (auto [path, local] : rows) EXPECT_EQ(Local(path), local) << path;
  EXPECT_EQ(Local(nullptr), "error 800D0002");
  EXPECT_EQ(UrlToLocalPath("/x", nullptr, 0), ResultError(Mod::Url, Err::BadArg));
}

}  // namespace
