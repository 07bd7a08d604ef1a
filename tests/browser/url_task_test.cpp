// The URL task over the tests' fetch driver and the built-in files.
#include <gtest/gtest.h>

#include <string>

#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "tests/browser/url_fixture.h"

namespace {

std::string Body(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return s;
}

class UrlTaskTest : public UrlFixture {
 protected:
  void SetUp() override {
    UrlFixture::SetUp();
    requester = std::make_unique<FetchRequester>();
    StartUrl(requester->task());
  }
  void TearDown() override {
    EndUrl();
    requester.reset();
    UrlFixture::TearDown();
  }

  // Serves a body of `size` bytes of `type` in blocks at the path and
  // requests it; the request, played to its end.
  UrlRequestRec* Play(const std::string& path, size_t size, const char* type, uint32_t block = 0,
                      uint32_t flags = 0, int64_t failAt = -1) {
    FetchBody body;
    body.body = Body(size);
    body.blockSize = block;
    body.contentType = type;
    body.failAt = failAt;
    driver.Serve(path, body);
    UrlRequestRec* request = nullptr;
    EXPECT_EQ(requester->Request(session, "qortest://h" + path, flags, &request), kOk);
    Pump();
    return request;
  }

  // The messages for one request, in order, without the watch messages.
  std::vector<uint32_t> AnswersFor(UrlRequestRec* request) {
    std::vector<uint32_t> out;
    for (const Received& r : requester->log())
      if (r.message != TskMsg::Start && r.message != UrlMsg::Watch &&
          r.arg1 == reinterpret_cast<uintptr_t>(request))
        out.push_back(r.message);
    return out;
  }

  std::unique_ptr<FetchRequester> requester;
};

// A failing scheme step or content row fails the load; the row is released
// and the scheme closed once.
TEST_F(UrlTaskTest, FailuresInTheMiddleFailTheLoad) {
  struct Row {
    uint32_t block;
    const char* type;
    int64_t failAt;
    Result code;
  };
  for (const Row& row : {Row{1, "application/x-qor-collect", 200, 0x80610002},
                         Row{0, "application/x-qor-refuse", -1, kFetchRefused}}) {
    SCOPED_TRACE(row.block);
    const int releases = driver.releases, closes = driver.closes;
    UrlRequestRec* request = Play("/broken", 400, row.type, row.block, 0, row.failAt);
    const std::vector<uint32_t> want = {UrlMsg::StatusKnown, UrlMsg::ClassKnown, UrlMsg::Failed};
    EXPECT_EQ(AnswersFor(request), want);
    EXPECT_EQ(requester->log().back().arg2, row.code);
    EXPECT_EQ(driver.releases, releases + 1);
    EXPECT_EQ(driver.closes, closes + 1);
    requester->Done(session, request);
    requester->ClearLog();
  }
  Finish();
}

// "/folder/file" names a file of the tree (the folder was once dropped).
TEST_F(UrlTaskTest, BuiltInFilesComeFromTheTree) {
  std::string path;
  for (uint32_t i = 0; i + 1 < kQorRomDirCount && path.empty(); ++i)
    if (kQorRomDirs[i].path[0] && kQorRomDirs[i].first < kQorRomDirs[i + 1].first)
      path = std::string(kQorRomDirs[i].path) + "/" + kQorRomFiles[kQorRomDirs[i].first].name;
  ASSERT_FALSE(path.empty());
  uint32_t size = 0;
  const uint8_t* bytes = QorRomOpen(path.c_str(), &size);
  ASSERT_NE(bytes, nullptr);
  const std::string want(reinterpret_cast<const char*>(bytes), size);
  QorRomRelease(bytes);

  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "file://" + path, UrlFlag::RawData, &request), kOk);
  Pump();
  EXPECT_EQ(requester->received[request], want);
  EXPECT_EQ(UrlLoadStatus(request), 200u);
  EXPECT_EQ(UrlRequestLoad(request)->announcedLength, size);
  requester->Done(session, request);

  UrlRequestRec* missing = nullptr;
  ASSERT_EQ(requester->Request(session, "file:///no/such/file.html", 0, &missing), kOk);
  Pump();
  EXPECT_EQ(requester->Count(UrlMsg::Failed), 1u);
  EXPECT_EQ(UrlLoadStatus(missing), 404u);
  requester->Done(session, missing);
  Finish();
}

}  // namespace
