// The image size sink: a stand-alone image as the page's one item, inline
// images shrinking their items and growing the page, objects waiting for
// their size, and the sink row that reaches it.
#include "browser/benpage.h"
#include "graphics/image.h"
#include "layout/ddriver.h"
#include "layout/render_sink.h"
#include "tests/support/engine_fixture.h"
#include "widgets/pwl_imagesink.h"

namespace {

class ImageSinkTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    ASSERT_EQ(DDriverCreateStore(&store, 8), kOk);
    page.store = store;
    page.parent = &parent;
  }
  void TearDown() override { DDriverDestroyStore(&store); }

  // An inline image item of the page: declared size, spaces, at top.
  DDriverItem* Inline(uint32_t width, uint32_t height, uint32_t hspace, uint32_t vspace,
                      int32_t top) {
    EXPECT_EQ(DDriverCursorBegin(store, 1), kOk);
    DDriverItem* item = DDriverAddItem(store, 1, 0, height + 2 * vspace, &page, nullptr, nullptr);
    DDriverCursorEnd(store, 1);
    object = {width, height, 0, 0, hspace, vspace, 0, nullptr};
    item->kind = DDriverKind::Image;
    item->top = top;
    item->width = static_cast<uint16_t>(width + 2 * hspace);
    item->object = &object;
    image.flags = BenPageFlag::ItemIsImage;
    image.imageItem = reinterpret_cast<uintptr_t>(item);
    return item;
  }
  Result Write(RenderRequest* request, const ContentImage* image, uint32_t flags = 0) {
    return RenderFindSink(RenderClass::Image)->write(request, 0, image, flags);
  }
  static ContentImage Size(uint16_t w, uint16_t h) {
    ContentImage image{};
    image.kind = ContentKind::Banded;
    image.width = w;
    image.height = h;
    return image;
  }

  DDriverStore* store = nullptr;
  BenPage parent{};
  BenPage page{};
  BenPage image{};  // an inline image's page object
  DDriverImageObject object{};
  RenderRequest inlineRequest{&image, reinterpret_cast<uintptr_t>(&page)};
};

TEST_F(ImageSinkTest, TheImageRowHasEmptyOpenAndClose) {
  const RenderSinkRow* row = RenderFindSink(RenderClass::Image);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->write, &PwlImageSinkWrite);
  EXPECT_EQ(row->open(nullptr, 0, nullptr, 0), kOk);
  EXPECT_EQ(row->close(nullptr, 0, nullptr, 0), kOk);
  EXPECT_EQ(RenderFindSink(4), nullptr);
}

TEST_F(ImageSinkTest, AStandAloneImageIsThePagesOneItem) {
  RenderRequest request{&page, reinterpret_cast<uintptr_t>(&page)};
  const ContentImage size = Size(100, 80);
  EXPECT_EQ(Write(&request, &size), kOk);
  ASSERT_EQ(store->count, 1u);
  const DDriverItem& item = store->items[0];
  EXPECT_EQ(item.kind, DDriverKind::Image);
  EXPECT_EQ(item.width, 100);
  EXPECT_EQ(item.height, 80u);
  EXPECT_EQ(item.page, &page);
  EXPECT_EQ(page.contentWidth, 100u);
  EXPECT_EQ(page.contentHeight, 80u);
  EXPECT_EQ(page.sizeRecord, reinterpret_cast<uintptr_t>(&size));
  EXPECT_EQ(store->cursor, 0u);  // the writing cursor is given back
}

TEST_F(ImageSinkTest, AnInlineImageNarrowerThanDeclaredShrinksItsItem) {
  DDriverItem* item = Inline(200, 50, 3, 1, 10);
  page.contentHeight = 400;
  page.flags = BenPageFlag::Dirty;
  parent.pending = 1;
  const ContentImage size = Size(120, 50);
  EXPECT_EQ(Write(&inlineRequest, &size), kOk);
  EXPECT_EQ(object.shownWidth, 120u);
  EXPECT_EQ(item->width, 120 + 2 * 3);
  EXPECT_EQ(item->height, 52u);  // the height fits: unchanged
  EXPECT_EQ(page.flags & BenPageFlag::Dirty, BenPageFlag::Dirty);
  EXPECT_EQ(parent.pending, 0u);  // the earlier mark was cleared first
  EXPECT_EQ(image.sizedObject, reinterpret_cast<uintptr_t>(&object));
  EXPECT_EQ(image.sizeRecord, reinterpret_cast<uintptr_t>(&size));
  EXPECT_EQ(page.contentHeight, 400u);
}

// An object of fixed size takes the image's own size, spaces left out, and
// keeps the size it was shown at; an item without an object is left alone.
TEST_F(ImageSinkTest, AFixedSizeObjectTakesTheImagesOwnSize) {
  DDriverItem* item = Inline(200, 50, 3, 1, 10);
  object.fixedSize = 1;
  page.contentHeight = 400;
  const ContentImage size = Size(120, 70);
  EXPECT_EQ(Write(&inlineRequest, &size), kOk);
  EXPECT_EQ(item->width, 120);
  EXPECT_EQ(item->height, 70u);
  EXPECT_EQ(object.shownWidth, 200u);
  EXPECT_EQ(object.naturalWidth, 120u);
  EXPECT_EQ(object.naturalHeight, 70u);
  item->object = nullptr;
  item->width = 5;
  EXPECT_EQ(Write(&inlineRequest, &size), kOk);
  EXPECT_EQ(item->width, 5);
}

TEST_F(ImageSinkTest, AnItemBelowTheContentGrowsThePage) {
  DDriverItem* item = Inline(0, 0, 2, 4, 300);
  page.contentHeight = 310;
  const ContentImage size = Size(30, 40);
  Write(&inlineRequest, &size);
  // A size of 0 takes the image's.
  EXPECT_EQ(object.shownWidth, 30u);
  EXPECT_EQ(object.shownHeight, 40u);
  EXPECT_EQ(item->height, 48u);
  EXPECT_EQ(page.contentHeight, 348u);
}

TEST_F(ImageSinkTest, HugeSizesSaturateTheItem) {
  DDriverItem* item = Inline(0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0x7FFFFFF0);
  const ContentImage size = Size(0xFFFF, 0xFFFF);
  Write(&inlineRequest, &size);
  EXPECT_EQ(item->width, 0xFFFF);
  EXPECT_EQ(item->height, 0xFFFFFFFFu);
  EXPECT_EQ(page.contentHeight, 0xFFFFFFFFu);
}

TEST_F(ImageSinkTest, AnObjectWaitingForItsSizeGetsItOnce) {
  DDriverImageObject waiting{};
  image.flags = BenPageFlag::WaitingForSize;
  image.imageItem = reinterpret_cast<uintptr_t>(&waiting);
  const ContentImage first = Size(40, 30), second = Size(99, 99);
  Write(&inlineRequest, &first);
  EXPECT_EQ(waiting.shownWidth, 40u);
  EXPECT_EQ(waiting.shownHeight, 30u);
  EXPECT_EQ(image.sizedObject, reinterpret_cast<uintptr_t>(&waiting));
  EXPECT_EQ(image.sizeRecord, reinterpret_cast<uintptr_t>(&first));
  EXPECT_EQ(store->count, 0u);  // no layout work besides

  Write(&inlineRequest, &second);
  EXPECT_EQ(waiting.shownWidth, 40u);
  EXPECT_EQ(image.sizeRecord, reinterpret_cast<uintptr_t>(&first));
}

TEST_F(ImageSinkTest, SkippedWritesAndMissingRecordsDoNothing) {
  RenderRequest request{&page, reinterpret_cast<uintptr_t>(&page)};
  const ContentImage size = Size(100, 80);
  EXPECT_EQ(Write(&request, &size, PwlSinkFlag::Skip), kOk);
  EXPECT_EQ(Write(&request, nullptr), kOk);
  EXPECT_EQ(Write(nullptr, &size), kOk);
  RenderRequest noPage{&image, 0};
  EXPECT_EQ(Write(&noPage, &size), kOk);
  EXPECT_EQ(store->count, 0u);
  // A cursor held elsewhere: the write waits for another turn.
  ASSERT_EQ(DDriverCursorBegin(store, 77), kOk);
  EXPECT_EQ(Write(&request, &size), kOk);
  EXPECT_EQ(store->count, 0u);
  EXPECT_EQ(store->cursor, 77u);
}

}  // namespace
