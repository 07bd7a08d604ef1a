// Document nodes: freeing lists by their kind, the attribute copy, the adver
// element's hand-over to the image-object decoder or to the status
// indicator, and the pending page sound; the heap is whole after each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/status.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
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
                                     {u"x", u"  y  ", u"x"},
                                     {u"", u"later", u""},
                                     {u" \r\n\t ", u"later", u""},
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

TEST_F(HtmlNodeTest, FreeNodeListByKind) {
  Queue blocks{};
  const uint8_t bytes[] = {1, 2, 3};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(UtilDataChunkAppend(&blocks, bytes, 3, Mod::TestCode), kOk);
  HtmlFreeNodeList(&blocks, HtmlListKind::DataBlocks);
  EXPECT_EQ(blocks.head, nullptr);
  EXPECT_EQ(blocks.tail, nullptr);

  Queue nodes{};
  for (uint32_t kind : {HtmlNodeKind::Text, HtmlNodeKind::Card, HtmlNodeKind::Adver}) {
    HtmlNode* node = HtmlNodeCreate(kind);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(HtmlCopyAttrValue(&node->text, &node->textLength, u"text"), kOk);
    ASSERT_EQ(HtmlCopyAttrValue(&node->title, &node->titleLength, u"title"), kOk);
    ASSERT_EQ(HtmlCopyAttrValue(&node->object.text, nullptr, u"inline"), kOk);
    QueueAppend(&nodes, &node->link);
  }
  HtmlFreeNodeList(&nodes, HtmlListKind::Nodes);
  EXPECT_EQ(nodes.head, nullptr);
  HtmlFreeNodeList(&nodes, HtmlListKind::Nodes);  // an empty list
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
    {"inline first", {{"inline", u"QUJD"}, {"type", u"sis"}}, 1, HtmlImageSource::Sis, u"QUJD", kOk, 0},
    {"decoder answer", {{"TYPE", u" Nbmp "}, {"Inline", u"!!"}}, 1, HtmlImageSource::Nbmp, u"!!",
     0x80540002, 0},
    {"repeats ignored",
     {{"type", u"str"}, {"type", u"nbmp"}, {"inline", u"a"}, {"inline", u"b"}, {"type", u"sis"}},
     1, HtmlImageSource::Str, u"a", kOk, 0},
    {"other type", {{"type", u"gif"}, {"inline", u"R0lG"}}, 0, 0, nullptr, kOk, 1},
    {"empty type", {{"inline", u"x"}, {"type", u""}}, 0, 0, nullptr, kOk, 1},
    {"type only", {{"type", u"str"}, {"href", u"x"}}, 0, 0, nullptr, kOk, 0},
    {"inline only", {{"inline", u"x"}}, 0, 0, nullptr, kOk, 0},
};

INSTANTIATE_TEST_SUITE_P(Attributes, HtmlAdverTest, ::testing::ValuesIn(kAdver));

// Without a status indicator nothing is posted; without a decoder the text
// stays with the node and goes with it.
TEST_F(HtmlNodeTest, AdverWithoutStatusTaskOrDecoder) {
  HtmlNode* node = HtmlAdverCreate(nullptr, 256000);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->object.workBufferSize, 0u);
  EXPECT_EQ(HtmlAdverAttribute(node, "type", u"jpeg"), kOk);
  EXPECT_EQ(HtmlAdverAttribute(node, "inline", u"x"), kOk);
  HtmlNodeFree(node);

  node = HtmlAdverCreate(nullptr, 0);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(HtmlAdverAttribute(node, "type", u"str"), kOk);
  EXPECT_EQ(HtmlAdverAttribute(node, "inline", u"kept"), kOk);
  ASSERT_NE(node->object.text, nullptr);
  EXPECT_EQ(std::u16string(node->object.text), u"kept");
  HtmlNodeFree(node);
  Pump();
  ExpectHeapWhole();
}

uint8_t* Bytes(const char* text) {
  const uint32_t n = LibcStrLen(text);
  auto* p = static_cast<uint8_t*>(MemAlloc(n, Use::Data, Mod::WtlHtml));
  for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(text[i]);
  return p;
}

TEST_F(HtmlNodeTest, PendingPageSound) {
  HtmlPageSound sound{};
  EXPECT_FALSE(HtmlHasPendingPageSound());
  EXPECT_FALSE(HtmlTakePendingPageSound(&sound));

  // A second sound replaces the first, which is freed.
  HtmlSetPendingPageSound(Bytes("first"), 5, 1);
  HtmlSetPendingPageSound(Bytes("MThd...."), 8, 9);
  EXPECT_TRUE(HtmlHasPendingPageSound());
  ASSERT_TRUE(HtmlTakePendingPageSound(&sound));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(sound.data), sound.length), "MThd....");
  EXPECT_EQ(sound.soundCode, 9u);
  EXPECT_FALSE(HtmlHasPendingPageSound());
  HtmlPageSound again{};
  EXPECT_FALSE(HtmlTakePendingPageSound(&again));
  MemFree(&sound.data);

  HtmlSetPendingPageSound(Bytes("x"), 1, 3);
  HtmlFreePendingPageSound();
  EXPECT_FALSE(HtmlHasPendingPageSound());
  ExpectHeapWhole();
}

}  // namespace
