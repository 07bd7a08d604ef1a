// Images loaded through the URL task and played by the render pump into the
// image row of the content sinks: the page takes the decoded image's own
// size, and the image it keeps is the one that holds the pixels. The heap is
// whole after each load.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser/benpage.h"
#include "content/content_rows.h"
#include "content/pict_scheme.h"
#include "kernel/heap.h"
#include "layout/ddriver.h"
#include "layout/render_pump.h"
#include "tests/content/content_harness.h"
#include "tests/content/jpeg_support.h"
#include "tests/content/rows_fixture.h"

namespace {

// What the page must show: the picture's size and its pixels, row by row.
struct Expected {
  uint32_t width = 0, height = 0;
  std::vector<uint16_t> pixels;
};

struct ImageCase {
  const char* name;
  const char* url;
  const char* type;  // served by the fetch driver; null for a scheme of the engine
  const char* file;  // under tests/data
  Expected (*expected)(const std::vector<uint8_t>& body);
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

Expected FromJpeg(const std::vector<uint8_t>& body) {
  const JpegRun run = JpegRunDecode(body, 0, false);
  return {run.width, run.height, run.pixels};
}

Expected FromPbm(const std::vector<uint8_t>&) {
  const Picture p = ReadPictures(ReadDataFile("wbmp/magick_33x17.pbm")).at(0);
  Expected e{p.width, p.height, {}};
  for (uint32_t i = 0; i < p.width * p.height; ++i) e.pixels.push_back(ReferencePixel(p, i, false));
  return e;
}

// The same pictogram made directly.
Expected FromPictogram(const std::vector<uint8_t>&) {
  ContentImage* image = nullptr;
  EXPECT_EQ(PictCreateImage("library/weather/sunny", &image, PictMode::Name), kOk);
  if (!image || image->kind != ContentKind::Stored) return {};
  Expected e{image->width, image->height, {}};
  const auto* pixels = reinterpret_cast<const uint16_t*>(PglPixels(image->stored));
  for (uint32_t y = 0; y < e.height; ++y)
    for (uint32_t x = 0; x < e.width; ++x) e.pixels.push_back(pixels[y * image->stored->pitch + x]);
  ContentImageFree(image);
  return e;
}

// The pixel at (x, y) of a still image, banded or stored; -1 where none is.
int32_t PixelOf(const ContentImage* image, uint32_t x, uint32_t y) {
  if (image->kind == ContentKind::Banded) return BandPixel(image->bands, image->bandCount, x, y);
  if (image->kind != ContentKind::Stored || !image->stored) return -1;
  return reinterpret_cast<const uint16_t*>(PglPixels(image->stored))[y * image->stored->pitch + x];
}

const ImageCase kImages[] = {
    {"jpeg", "qortest://h/body", "image/jpeg", "jpeg/c200x120.jpg", FromJpeg},
    {"wbmp", "qortest://h/body", "image/vnd.wap.wbmp", "wbmp/magick_33x17.wbmp", FromPbm},
    {"pictogram", "pict://pict.qor/library/weather/sunny", nullptr, nullptr, FromPictogram},
};

class ImageSinkLoadTest : public RowsFixture, public ::testing::WithParamInterface<ImageCase> {
 protected:
  void SetUp() override {
    RowsFixture::SetUp();
    ASSERT_EQ(DDriverCreateStore(&store, 8), kOk);
    page.store = store;
    page.parent = &parent;
    pumpTask = std::make_unique<Recorder>(Mod::TestCode, [this](Recorder&, const Received& r) {
      RenderPumpHandle(&pump, r.message, r.arg1, r.arg2);
      return kOk;
    });
    Pump();
  }
  void TearDown() override {
    pumpTask.reset();
    DDriverDestroyStore(&store);
    RowsFixture::TearDown();
  }

  // Loads `url` as the page's only image, pumping as the load goes; `look`
  // sees the load's image while the request still holds it.
  void Load(const std::string& url, const std::function<void(const ContentImage*)>& look) {
    const uint32_t heapAtStart = HeapGetStats().freeBytes;
    UrlTaskContext* urlTask = nullptr;
    UrlSession* session = nullptr;
    ASSERT_EQ(UrlStartTask(&urlTask, owner->task()), kOk);
    ASSERT_EQ(UrlSessionCreate(&session, pumpTask->task()), kOk);
    Pump();
    UrlRequestRec* request = nullptr;
    ASSERT_EQ(UrlRequest(session, url.c_str(), 0, nullptr, &request, 0, pumpTask->task(), 0), kOk);
    UrlRequestWatch(request, pumpTask->task(), 0);
    RenderPumpStart(&pump, &renderRequest, request, pumpTask->task());
    Pump();
    EXPECT_TRUE(pump.finished);
    EXPECT_EQ(pump.result, kOk);
    look(reinterpret_cast<const ContentImage*>(UrlRequestLoad(request)->output.head));
    UrlRequestDone(session, request);
    UrlSessionDestroy(session);
    UrlStopTask(urlTask);
    Pump();
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    EXPECT_EQ(HeapValidate(), nullptr);
  }

  DDriverStore* store = nullptr;
  BenPage parent{};
  BenPage page{};
  RenderRequest renderRequest{&page, reinterpret_cast<uintptr_t>(&page)};
  RenderPump pump{};
  std::unique_ptr<Recorder> pumpTask;
};

TEST_P(ImageSinkLoadTest, ThePageTakesTheImagesSizeAndKeepsItsPixels) {
  const ImageCase& c = GetParam();
  std::vector<uint8_t> body;
  if (c.type) {
    body = ReadDataFile(c.file);
    FetchBody served;
    served.body.assign(body.begin(), body.end());
    served.blockSize = 100;  // the image reaches the sink before its last byte
    served.announceLength = true;
    served.contentType = c.type;
    driver.Serve("/body", served);
  }
  const Expected want = c.expected(body);
  ASSERT_GT(want.width, 0u);
  ASSERT_EQ(want.pixels.size(), size_t{want.width} * want.height);
  Load(c.url, [&](const ContentImage* image) {
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pump.written, 1u);
    // One display item of the picture's size, and the page as large.
    ASSERT_EQ(store->count, 1u);
    EXPECT_EQ(store->items[0].kind, DDriverKind::Image);
    EXPECT_EQ(store->items[0].width, want.width);
    EXPECT_EQ(store->items[0].height, want.height);
    EXPECT_EQ(page.contentWidth, want.width);
    EXPECT_EQ(page.contentHeight, want.height);
    // The page keeps the load's image, which holds the picture.
    EXPECT_EQ(page.sizeRecord, reinterpret_cast<uintptr_t>(image));
    for (uint32_t y = 0; y < want.height; ++y)
      for (uint32_t x = 0; x < want.width; ++x)
        ASSERT_EQ(PixelOf(image, x, y), want.pixels[y * want.width + x]) << x << "," << y;
  });
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImageSinkLoadTest, ::testing::ValuesIn(kImages),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
