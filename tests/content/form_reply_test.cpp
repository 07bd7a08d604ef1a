#include "content/form_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/content/content_harness.h"

namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

void Record(void* context, const char16_t* name, const char16_t* value) {
  static_cast<Pairs*>(context)->emplace_back(name, value ? value : u"");
}

Pairs Parse(const std::string& body, size_t cut) {
  Pairs pairs;
  FormReplyParser parser;
  FormReplyInit(&parser, &pairs, Record);
  const auto* bytes = reinterpret_cast<const uint8_t*>(body.data());
  EXPECT_EQ(FormReplyFeed(&parser, bytes, static_cast<uint32_t>(cut)), kOk);
  EXPECT_EQ(FormReplyFeed(&parser, bytes + cut, static_cast<uint32_t>(body.size() - cut)), kOk);
  EXPECT_EQ(FormReplyEnd(&parser), kOk);
  FormReplyFree(&parser);
  return pairs;
}

struct FormCase {
  const char* name;
  const char* body;
  Pairs pairs;
};

const FormCase kCases[] = {
    {"PairsInOrder", "user=ann&note=hi", {{u"user", u"ann"}, {u"note", u"hi"}}},
    {"EscapesAndUtf8", "n%C3%A9=caf%C3%A9%20%26", {{u"n\u00e9", u"caf\u00e9 &"}}},
    {"EqualsInsideAValue", "q=a=b&r=", {{u"q", u"a=b"}, {u"r", u""}}},
    {"NameWithoutValue", "keep&x=1", {{u"keep", u""}, {u"x", u"1"}}},
    {"EmptyPairsAreSkipped", "&&=v&", {}},
};

class FormReplyTest : public DecoderTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(FormReplyTest, SamePairsForEveryCut) {
  const FormCase& c = GetParam();
  const std::string body = c.body;
  for (size_t cut = 0; cut <= body.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(Parse(body, cut), c.pairs);
  }
}

INSTANTIATE_TEST_SUITE_P(Bodies, FormReplyTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
