// Document nodes: the attribute copy and the adver element's hand-over; the
// heap is whole after each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/status.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "markup/html_node.h"
#include "tests/support/engine_fixture.h"

namespace {

class HtmlNodeTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    Pump();
    heapAtStart = HeapGetStats().freeBytes;
  }
  void ExpectHeapWhole() {
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    EXPECT_EQ(HeapValidate(), nullptr);
  }
  uint32_t heapAtStart = 0;
};

TEST_F(HtmlNodeTest, TheAttributeCopyIsTrimmedAndTheFirstStays) {
  const std::u16string cases[][3] = {{u"  home page \t", u"other", u"home page"},
                                     {u"", u"later", u""},
                                     {u"caf\u00E9", u"", u"caf\u00E9"}};
  for (const auto& [first, second, expected] : cases) {
    char16_t* value = nullptr;
    uint32_t length = 99;
    ASSERT_EQ(HtmlCopyAttrValue(&value, &length, first.c_str()), kOk);
    ASSERT_EQ(HtmlCopyAttrValue(&value, &length, second.c_str()), kOk);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::u16string(value), expected);
    EXPECT_EQ(length, expected.size());
    MemFree(&value);
  }
  ExpectHeapWhole();
}

// What the image-object decoder was handed.
struct Decoded {
  uint8_t source;
  std::u16string text;
  uint8_t* workBuffer;
  uint32_t workBufferSize;
};
std::vector<Decoded> gDecoded;

Result RecordDecode(HtmlImageObject* record) {
  gDecoded.push_back({record->sourceType, record->text ? record->text : u"", record->workBuffer,
                      record->workBufferSize});
  // The decoder owns the text from here.
  MemFree(&record->text);
  return record->sourceType == HtmlImageSource::Nbmp ? 0x80540002 : kOk;
}

struct AdverCase {
  const char* name;
  std::vector<std::pair<const char*, std::u16string>> attributes;
  int decodes;        // calls of the decoder
  uint8_t source;     // what it was handed
  const char16_t* text;
  Result answer;      // of the last attribute
  int noImagePosts;   // 14600 to the status indicator
};

void PrintTo(const AdverCase& c, std::ostream* os) { *os << c.name; }

class HtmlAdverTest : public HtmlNodeTest, public ::testing::WithParamInterface<AdverCase> {
 protected:
  void SetUp() override {
    HtmlNodeTest::SetUp();
    gDecoded.clear();
    HtmlSetImageObjectDecode(RecordDecode);
  }
  void TearDown() override {
    HtmlSetImageObjectDecode(nullptr);
    HtmlNodeTest::TearDown();
  }
};

TEST_P(HtmlAdverTest, HandsOverOnceBothAreKnown) {
  const AdverCase& c = GetParam();
  Recorder status(Mod::Status);
  Pump();
  const uint32_t heap = HeapGetStats().freeBytes;
  uint8_t work[16];
  HtmlNode* node = HtmlAdverCreate(work, sizeof work);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->kind, HtmlNodeKind::Adver);
  Result answer = kOk;
  for (const auto& [name, value] : c.attributes) answer = HtmlAdverAttribute(node, name, value.c_str());
  EXPECT_EQ(answer, c.answer);
  ASSERT_EQ(gDecoded.size(), static_cast<size_t>(c.decodes));
  if (c.decodes) {
    EXPECT_EQ(gDecoded[0].source, c.source);
    EXPECT_EQ(gDecoded[0].text, c.text);
    EXPECT_EQ(gDecoded[0].workBuffer, work);
    EXPECT_EQ(gDecoded[0].workBufferSize, sizeof work);
  }
  Pump();
  static_assert(StatusMsg::AdverNone == 14600);  // the number the status task takes
  EXPECT_EQ(status.Count(StatusMsg::AdverNone), static_cast<size_t>(c.noImagePosts));
  HtmlNodeFree(node);
  EXPECT_EQ(HeapGetStats().freeBytes, heap);
}

const AdverCase kAdver[] = {
    {"str", {{"type", u"STR"}, {"inline", u" one|two|three "}}, 1, HtmlImageSource::Str,
     u"one|two|three", kOk, 0},
    {"decoder answer", {{"TYPE", u" Nbmp "}, {"Inline", u"!!"}}, 1, HtmlImageSource::Nbmp, u"!!",
     0x80540002, 0},
    {"repeats ignored",
     {{"type", u"str"}, {"type", u"nbmp"}, {"inline", u"a"}, {"inline", u"b"}, {"type", u"sis"}},
     1, HtmlImageSource::Str, u"a", kOk, 0},
    {"other type", {{"type", u"gif"}, {"inline", u"R0lG"}}, 0, 0, nullptr, kOk, 1},
};

INSTANTIATE_TEST_SUITE_P(Attributes, HtmlAdverTest, ::testing::ValuesIn(kAdver));

}  // namespace
