// The compiled-WML deck builder fed decks made by xml2wbxml one byte at a time;
// bad decks, and an abort inside a card, end the build with every node freed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/url.h"
#include "kernel/heap.h"
#include "markup/html_node.h"
#include "markup/wmlc.h"
#include "tests/markup/wbxml_support.h"
#include "tests/support/engine_fixture.h"

namespace {

// The load's output as lines: card "<title>" | text "<text>".
std::string Describe(const UrlLoad* load) {
  std::string out;
  for (QueueNode* n = load->output.head; n; n = n->next) {
    const auto* node = reinterpret_cast<const HtmlNode*>(n);
    if (node->kind == HtmlNodeKind::Card && node->title) {
      out += "card ";
      Quote(&out, node->title, node->titleLength);
    } else if (node->kind == HtmlNodeKind::Card) {
      out += "card -";
    } else if (node->kind == HtmlNodeKind::Text) {
      out += "text ";
      Quote(&out, node->text, node->textLength);
    } else {
      out += "kind " + std::to_string(node->kind);
    }
    out += "\n";
  }
  return out;
}

class WmlcTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    heapAtStart = HeapGetStats().freeBytes;
    Begin();
  }

  // A new load and a builder for it.
  void Begin() {
    UrlParsed url{};
    ASSERT_EQ(UrlParse(&url, "qortest://host/deck.wmlc", 0), kOk);
    load = UrlLoadCreate(&url);
    UrlFreeParsed(&url);
    ASSERT_NE(load, nullptr);
    ASSERT_EQ(WmlcBuilderCreate(&builder, load), kOk);
  }

  // Feeds the bytes one at a time until the deck is done or the build
  // fails; the build's answer.
  Result Feed(const std::vector<uint8_t>& bytes, size_t count) {
    for (size_t i = 0; i < count && i < bytes.size(); ++i) {
      if (WmlcDeckDone(builder)) break;
      if (Result r = WmlcDeckBuild(builder, bytes[i]); r != kOk) return r;
    }
    return kOk;
  }

  // Ends the build and frees everything: the heap is whole again.
  void Finish() {
    WmlcBuilderFree(builder);
    builder = nullptr;
    UrlLoadFree(load);
    load = nullptr;
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    EXPECT_EQ(HeapValidate(), nullptr);
  }

  void TearDown() override {
    if (builder || load) Finish();
    EngineFixture::TearDown();
  }

  UrlLoad* load = nullptr;
  WmlcBuilder* builder = nullptr;
  uint32_t heapAtStart = 0;
};

struct DeckCase {
  const char* file;
  const char* expected;
};

void PrintTo(const DeckCase& c, std::ostream* os) { *os << c.file; }

const DeckCase kDecks[] = {
    {"deck.wbxml",
     "card \"Example deck\"\n"
     "text \"Welcome & hello\"\n"
     "text \"Caf{E9} open\"\n"
     "text \"Next page\"\n"
     "text \"or\"\n"
     "text \"card two\"\n"
     "card \"Two\"\n"
     "text \"Card two text: caf{E9} again\"\n"},
    // Head and template stay out; titles are trimmed and value tokens read.
    {"titles.wbxml",
     "card \"Go to http://www.example.com/ now\"\n"
     "text \"First\"\n"
     "card -\n"
     "text \"Bold\"\n"
     "text \"and plain\"\n"
     "card \"accept & help\"\n"},
};

class WmlcDeckTest : public WmlcTest, public ::testing::WithParamInterface<DeckCase> {};

TEST_P(WmlcDeckTest, BuildsCardAndTextNodes) {
  const std::vector<uint8_t> bytes = ReadWbxmlFile(GetParam().file);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(Feed(bytes, bytes.size()), kOk);
  EXPECT_TRUE(WmlcDeckDone(builder));
  EXPECT_EQ(Describe(load), GetParam().expected);
  EXPECT_EQ(load->events & UrlEvent::OutputAdded, UrlEvent::OutputAdded);
  // Bytes after the deck change nothing.
  EXPECT_EQ(WmlcDeckBuild(builder, 0x01), kOk);
  EXPECT_EQ(Describe(load), GetParam().expected);
  Finish();
}

INSTANTIATE_TEST_SUITE_P(Decks, WmlcDeckTest, ::testing::ValuesIn(kDecks));

// Cut at every byte: the load holds exactly the cards that had ended, each
// whole; the open card's nodes are freed with the build.
TEST_F(WmlcTest, ACutDeckKeepsOnlyEndedCards) {
  const std::vector<uint8_t> bytes = ReadWbxmlFile("deck.wbxml");
  const std::string whole = kDecks[0].expected;
  const std::string firstCard = whole.substr(0, whole.find("card \"Two\""));
  Finish();
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    Begin();
    ASSERT_EQ(Feed(bytes, cut), kOk);
    EXPECT_FALSE(WmlcDeckDone(builder));
    const std::string got = Describe(load);
    EXPECT_TRUE(got.empty() || got == firstCard || got == whole) << got;
    WmlcDeckReset(builder);
    Finish();
  }
}

struct BadCase {
  const char* name;
  std::vector<uint8_t> bytes;
  Result error;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class WmlcBadTest : public WmlcTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(WmlcBadTest, FailsAndAborts) {
  const BadCase& c = GetParam();
  std::vector<uint8_t> bytes = c.bytes;
  if (bytes.empty()) bytes = ReadWbxmlFile(c.name);
  EXPECT_EQ(Feed(bytes, bytes.size()), c.error);
  // Every later byte answers the same.
  EXPECT_EQ(WmlcDeckBuild(builder, 0), c.error);
  WmlcAbort(builder);
  EXPECT_TRUE(WmlcDeckDone(builder));
  EXPECT_EQ(load->events & UrlEvent::Complete, UrlEvent::Complete);
  Finish();
}

const BadCase kBad[] = {
    // Other WBXML documents are not decks.
    {"si.wbxml", {}, WmlcError::BadDeck},
    {"version 2.3", {0x13, 0x04, 0x6A, 0x00, 0x7F, 0x01}, WmlcError::BadDeck},
    // A string-table reference past the table's end, inside a card.
    {"bad index", {0x03, 0x04, 0x6A, 0x00, 0x7F, 0x67, 0x83, 0x05}, WmlcError::BadDeck},
    // An end token with no element open.
    {"stray end", {0x03, 0x04, 0x6A, 0x00, 0x01}, WmlcError::BadDeck},
};

INSTANTIATE_TEST_SUITE_P(Decks, WmlcBadTest, ::testing::ValuesIn(kBad));

// Aborting in the middle of a card frees the card's nodes; the cards that
// ended stay on the load until it is freed.
TEST_F(WmlcTest, AbortInsideACard) {
  const std::vector<uint8_t> bytes = ReadWbxmlFile("deck.wbxml");
  const std::string whole = kDecks[0].expected;
  // Up to the second card's text.
  size_t at = 0;
  while (at < bytes.size() && !(bytes[at] == 'C' && bytes[at + 1] == 'a' && bytes[at + 2] == 'r'))
    ++at;
  ASSERT_LT(at, bytes.size());
  ASSERT_EQ(Feed(bytes, at + 3), kOk);
  WmlcAbort(builder);
  EXPECT_EQ(Describe(load), whole.substr(0, whole.find("card \"Two\"")));
  EXPECT_EQ(load->events & UrlEvent::Complete, UrlEvent::Complete);
  Finish();
}

}  // namespace
