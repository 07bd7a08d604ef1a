// Pictograms: i-mode codes to files of the built-in tree, still and animated
// bodies, and the pict: scheme through the real URL task; the heap is whole
// after each.
#include <gtest/gtest.h>

#include <string>

#include "content/content_rows.h"
#include "content/pict_scheme.h"
#include "kernel/heap.h"
#include "tests/content/rows_fixture.h"

namespace {

class PictTest : public RowsFixture {
 protected:
  void SetUp() override {
    RowsFixture::SetUp();
    requester->blocks = false;
    heapAtStart = HeapGetStats().freeBytes;
  }
  void TearDown() override {
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    RowsFixture::TearDown();
  }
  // The load's answer: its output image's kind, or the failure code.
  std::pair<uint32_t, Result> Fetch(const std::string& url) {
    std::pair<uint32_t, Result> out{0, 0};
    out.second = Load(url, 0, [&](UrlRequestRec* request) {
      UrlLoad* load = UrlRequestLoad(request);
      if (auto* image = reinterpret_cast<ContentImage*>(load->output.head)) {
        out.first = image->kind;
        EXPECT_EQ(load->contentClass, 5u);
      }
    }).failure;
    return out;
  }
  uint32_t heapAtStart = 0;
};

TEST_F(PictTest, EveryCodeOpensAPictogramOfTheBuiltInTree) {
  uint32_t animations = 0, codes = 0;
  EXPECT_STREQ(PictCodePath("63647"), "library/weather/sunny");  // 0xF89F
  for (const char* refused : {"63646", "", "12ab", "99999999999"})
    EXPECT_EQ(PictCodePath(refused), nullptr) << refused;
  for (uint32_t code = 0xF800; code <= 0xF9FF; ++code) {
    const std::string text = std::to_string(code);
    if (!PictCodePath(text.c_str())) continue;
    ++codes;
    ContentImage* image = nullptr;
    ASSERT_EQ(PictCreateImage(text.c_str(), &image, PictMode::Code), kOk)
        << code << " " << PictCodePath(text.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_GT(image->width, 0);
    if (image->kind == ContentKind::Animation) {
      ++animations;
      for (ContentImageFrame* f = image->firstFrame; f; f = f->next) ASSERT_EQ(f->bandCount, 1);
    } else {
      ASSERT_EQ(image->kind, ContentKind::Stored);
    }
    ContentImageFree(image);
  }
  EXPECT_EQ(codes, 166u);
  EXPECT_GT(animations, 0u);
}

TEST_F(PictTest, PathsThatLeaveTheFolderAreRefused) {
  ContentImage* image = nullptr;
  for (const char* path : {"../eng/general/home.html", "library/../ui/splash", "library\\weather\\sunny"})
    EXPECT_EQ(PictCreateImage(path, &image, PictMode::Name), PictCode::NotFound) << path;
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(PictCheckUrl("pict://pict.qor/library/weather/sunny"), kOk);
  EXPECT_EQ(PictCheckUrl("pict://pict.qor/library/weather/sunny%00x"), PictCode::NotFound);
  EXPECT_EQ(PictCheckUrl("pict://pict.qor/library/%2e%2e/ui/splash"), PictCode::NotFound);
}

TEST_F(PictTest, UrlsByNameAndByCode) {
  EXPECT_EQ(Fetch("pict://pict.qor/library/weather/sunny"),
            std::make_pair(ContentKind::Stored, Result{0}));
  EXPECT_EQ(Fetch("pict://IMODE.pict.qor/63647"), std::make_pair(ContentKind::Stored, Result{0}));
  EXPECT_EQ(Fetch("pict://pict.qor/library/emotion/shine"),
            std::make_pair(ContentKind::Animation, Result{0}));
  EXPECT_EQ(Fetch("pict://pict.qor/library/human/body/spectacles"),
            std::make_pair(ContentKind::Stored, Result{0}));
  EXPECT_EQ(Fetch("pict://IMODE.pict.qor/63739"), std::make_pair(ContentKind::Stored, Result{0}));
  EXPECT_STREQ(PictCodePath("63739"), "library/human/body/spectacles");  // 0xF8FB
  EXPECT_EQ(Fetch("pict://other.host/library/weather/sunny").second, PictCode::NotFound);
  EXPECT_EQ(Fetch("pict://pict.qor/..%2Feng/general/home.html").second, PictCode::NotFound);
}

}  // namespace
