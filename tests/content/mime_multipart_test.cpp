#include "content/mime_multipart.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/heap.h"
#include "kernel/libc.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

using namespace std::string_view_literals;

struct Part {
  std::string location, contentId, type, encoding, body;
  bool root = false, ended = false, undecoded = false;
};

struct PartsRun {
  std::vector<Part> parts;
  std::vector<uint32_t> answers;
  MimeMultipartParser* parser = nullptr;
  int refuseAfter = -1;  // the first part's data answer 0 at this call
  int calls = 0;
};

int OnBegin(void* c, const char* location, const char* id, int root) {
  auto* run = static_cast<PartsRun*>(c);
  Part part;
  part.location = location ? location : "";
  part.contentId = id ? id : "";
  part.root = root != 0;
  part.undecoded = run->parser->unknownEncoding != 0;
  run->parts.push_back(part);
  run->calls = 0;
  return 1;
}

int OnHeader(void* c, uint32_t which, const char* value) {
  Part& part = static_cast<PartsRun*>(c)->parts.back();
  if (which == MimeHeader::ContentType) part.type = value;
  if (which == MimeHeader::TransferEncoding) part.encoding = value;
  if (which == MimeHeader::ContentId) {
    EXPECT_EQ(part.contentId, value);
  }
  if (which == MimeHeader::ContentLocation) {
    EXPECT_EQ(part.location, value);
  }
  return 1;
}

int OnData(void* c, const uint8_t* bytes, uint32_t length) {
  auto* run = static_cast<PartsRun*>(c);
  Part& part = run->parts.back();
  EXPECT_FALSE(part.ended);
  if (!bytes) {
    EXPECT_EQ(length, 0u);
    part.ended = true;
    return 1;
  }
  part.body.append(reinterpret_cast<const char*>(bytes), length);
  ++run->calls;
  return !(run->parts.size() == 1 && run->calls == run->refuseAfter);
}

// Parses the document in the chunks that `cuts` (ascending offsets) mark.
PartsRun Parse(const std::string& doc, const std::vector<size_t>& cuts, int refuseAfter = -1) {
  PartsRun run;
  run.refuseAfter = refuseAfter;
  EXPECT_EQ(MimeMultipartCreate(&run.parser, &run, OnBegin, OnHeader, OnData), 0u);
  size_t from = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(doc.size());
  for (size_t to : ends) {
    run.answers.push_back(MimeMultipartParse(
        run.parser, reinterpret_cast<const uint8_t*>(doc.data()) + from,
        static_cast<uint32_t>(to - from)));
    from = to;
  }
  run.answers.push_back(MimeMultipartEnd(run.parser));
  MimeMultipartFree(&run.parser);
  EXPECT_EQ(run.parser, nullptr);
  return run;
}

std::string Describe(const PartsRun& run) {
  std::ostringstream out;
  for (const Part& p : run.parts)
    out << p.location << '|' << p.contentId << '|' << p.type << '|' << p.encoding << '|'
        << p.root << p.ended << p.undecoded << '|' << p.body << '\n';
  bool broken = false;
  for (uint32_t a : run.answers) broken |= a == MimeParse::Broken;
  out << (broken ? "broken" : "whole");
  return out.str();
}

// Each document gives the same parts cut at any one byte, and byte by byte.
void ExpectSameForEverySplit(const std::string& doc, const PartsRun& whole) {
  const std::string expected = Describe(whole);
  for (size_t k = 1; k < doc.size(); ++k)
    ASSERT_EQ(Describe(Parse(doc, {k})), expected) << "cut at " << k;
  std::vector<size_t> every;
  for (size_t k = 1; k < doc.size(); ++k) every.push_back(k);
  EXPECT_EQ(Describe(Parse(doc, every)), expected);
}

// The part's bytes with their transfer encoding undone, as a stored part's
// reader undoes it; the line end before the boundary is not the part's.
std::string Decode(const Part& p) {
  std::string text = p.body;
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
  std::string out(text.size() + 1, '\0');
  uint32_t n = static_cast<uint32_t>(text.size());
  if (p.encoding == "base64")
    n = LibcBase64Decode(text.data(), n, reinterpret_cast<uint8_t*>(out.data()), nullptr);
  else if (p.encoding == "quoted-printable")
    n = LibcQpDecode(text.data(), n, reinterpret_cast<uint8_t*>(out.data()));
  else
    return text;
  out.resize(n);
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class MimeGeneratedTest : public DecoderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MimeGeneratedTest, PartsMatchWhatTheGeneratorPutIn) {
  const std::string name = GetParam();
  const std::string doc = Text(ReadDataFile("multipart/" + name + ".mime"));
  const std::string expected = Text(ReadDataFile("multipart/" + name + ".parts"));
  ASSERT_FALSE(doc.empty());
  const PartsRun whole = Parse(doc, {});
  std::ostringstream got;
  for (const Part& p : whole.parts) {
    EXPECT_TRUE(p.ended);
    got << p.location << '|' << p.contentId << '|' << p.type << '|' << p.encoding << '|'
        << p.root << '|' << Hex(Decode(p)) << '\n';
  }
  EXPECT_EQ(got.str(), expected);
  ExpectSameForEverySplit(doc, whole);
}

INSTANTIATE_TEST_SUITE_P(Documents, MimeGeneratedTest,
                         ::testing::Values("encodings", "by_type"));

struct HandMade {
  const char* name;
  std::string_view doc;
  std::string_view parts;  // Describe() of the whole-document run
};

const HandMade kHandMade[] = {
    {"FoldedHeaderJoinsWithOneSpace",
     "multipart/related; boundary=b\r\n\r\n--b\r\nContent-Type: text/html;\r\n"
     "  \t charset=utf-8\r\nContent-ID: <a>\r\n\r\nx\r\n--b--\r\n",
     "|a|text/html; charset=utf-8||010|x\r\n\nwhole"},
    {"LfOnlyLines",
     "Content-Type: multipart/related; boundary=\"b\"\n\n--b\nContent-ID: <a>\n\none\ntwo\n"
     "--b\nContent-Location: http://h/p\n\nthree\n--b--\n",
     "|a|||010|one\ntwo\n\nhttp://h/p||||010|three\n\nwhole"},
    {"MissingEndBoundaryEndsWithTheDocument",
     "multipart/related; boundary=b\r\n\r\n--b\r\nContent-ID: <a>\r\n\r\nlast line",
     "|a|||010|last line\nwhole"},
    {"NestedMultipartIsOnePartOfTheOuter",
     "multipart/related; boundary=outer\r\n\r\n--outer\r\n"
     "Content-Type: multipart/alternative; boundary=inner\r\nContent-ID: <n>\r\n\r\n"
     "--inner\r\nContent-Type: text/plain\r\n\r\nhi\r\n--inner--\r\n--outer--\r\n",
     "|n|multipart/alternative; boundary=inner||010|--inner\r\nContent-Type: "
     "text/plain\r\n\r\nhi\r\n--inner--\r\n\nwhole"},
    {"PartWithOnlyAContentTypeIsSkipped",
     "multipart/related; boundary=b\r\n\r\npreamble\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
     "skipped\r\n--b\r\nContent-ID: <k>\r\n\r\nkept\r\n--b--\r\nepilogue\r\n",
     "|k|||010|kept\r\n\nwhole"},
    {"StartWithCidSchemeMarksTheRoot",
     "multipart/related; start=\"cid:r@x\"; boundary=b\r\n\r\n--b\r\nContent-ID: <q@x>\r\n\r\n"
     "\r\n--b\r\nContent-ID: <r@x>\r\n\r\n\r\n--b--\r\n",
     "|q@x|||010|\r\n\n|r@x|||110|\r\n\nwhole"},
    {"StartEqualToTheLocationMarksTheRoot",
     "multipart/related; start=http://h/i; boundary=b\r\n\r\n--b\r\n"
     "Content-Location: http://h/i\r\n\r\n--b--\r\n",
     "http://h/i||||110|\nwhole"},
    {"RelativeLocationsTakeTheBase",
     "multipart/related; boundary=b\r\nContent-Base: http://h/d/\r\n\r\n--b\r\n"
     "Content-Location: a.png\r\n\r\n--b\r\nContent-Location: ftp://o/b\r\n\r\n--b--\r\n",
     "http://h/d/a.png||||010|\nftp://o/b||||010|\nwhole"},
    {"EncodedWordLocations",
     "multipart/related; boundary=b\r\n\r\n--b\r\n"
     "Content-Location: =?utf-8?B?aHR0cDovL2gvw6k=?=\r\n\r\n--b\r\n"
     "Content-Location: =?utf-8?q?http://h/=C3=A9?=\r\n\r\n--b--\r\n",
     "http://h/\xc3\xa9||||010|\nhttp://h/\xc3\xa9||||010|\nwhole"},
    {"FirstValueOfAFieldHolds",
     "multipart/related; boundary=b; boundary=c\r\n\r\n--b\r\nContent-ID: <1>\r\n"
     "Content-ID: <2>\r\nContent-Type: a/b\r\nContent-Type: c/d\r\n\r\n--c\r\n--b--\r\n",
     "|1|a/b||010|--c\r\n\nwhole"},
    {"IdentityEncodingsPassThrough",
     "multipart/related; boundary=b\r\n\r\n--b\r\nContent-ID: <1>\r\n"
     "Content-Transfer-Encoding: 8BIT\r\n\r\n\xff\x00\r\n\r\n--b\r\nContent-ID: <2>\r\n"sv
     "Content-Transfer-Encoding: binary\r\n\r\n\x00\x01\r\n--b--\r\n"sv,
     "|1||8BIT|010|\xff\x00\r\n\r\n\n|2||binary|010|\x00\x01\r\n\nwhole"sv},
    {"UnknownEncodingIsKeptAndMarked",
     "multipart/related; boundary=b\r\n\r\n--b\r\nContent-ID: <1>\r\n"
     "Content-Transfer-Encoding: x-uuencode\r\n\r\nbegin 644\r\n--b--\r\n",
     "|1||x-uuencode|011|begin 644\r\n\nwhole"},
    {"TextAfterTheClosingBoundaryIsDropped",
     "multipart/related; boundary=b\r\n\r\n--b\r\nContent-ID: <1>\r\n\r\nx\r\n--b--\r\n"
     "Content-ID: <2>\r\n\r\nafter\r\n--b\r\n",
     "|1|||010|x\r\n\nwhole"},
    {"TypeLineStraightBeforeTheFirstBoundary",
     "multipart/related; boundary=b\r\n--b\r\nContent-ID: <1>\r\n\r\nx\r\n--b--\r\n",
     "|1|||010|x\r\n\nwhole"},
    {"FoldedTypeLineStraightBeforeTheFirstBoundary",
     "multipart/related;\r\n boundary=b\r\n--b\r\nContent-ID: <1>\r\n\r\nx\r\n--b--\r\n",
     "|1|||010|x\r\n\nwhole"},
    {"ABoundaryPrefixInsideALineIsData",
     "multipart/related; boundary=bb\r\n\r\n--bb\r\nContent-ID: <1>\r\n\r\n--b\r\n x--bb\r\n"
     "--bb--\r\n",
     "|1|||010|--b\r\n x--bb\r\n\nwhole"},
};

void PrintTo(const HandMade& c, std::ostream* os) { *os << c.name; }

class MimeHandMadeTest : public DecoderTest, public ::testing::WithParamInterface<HandMade> {};

TEST_P(MimeHandMadeTest, SameResultForEverySplit) {
  const HandMade& c = GetParam();
  const std::string doc(c.doc);
  const PartsRun whole = Parse(doc, {});
  EXPECT_EQ(Describe(whole), c.parts);
  ExpectSameForEverySplit(doc, whole);
}

INSTANTIATE_TEST_SUITE_P(Documents, MimeHandMadeTest, ::testing::ValuesIn(kHandMade),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

class MimeMultipartTest : public DecoderTest {};

TEST_F(MimeMultipartTest, RefusedDataSkipsTheRestOfThePart) {
  const std::string doc =
      "multipart/related; boundary=b\r\n\r\n--b\r\nContent-ID: <1>\r\n\r\none\r\ntwo\r\n"
      "--b\r\nContent-ID: <2>\r\n\r\nthree\r\n--b--\r\n";
  // The first part's data answer 0 after its first line: no more lines, no
  // end-of-part call; the next part comes whole.
  EXPECT_EQ(Describe(Parse(doc, {}, 1)), "|1|||000|one\r\n\n|2|||010|three\r\n\nwhole");
}

TEST_F(MimeMultipartTest, BrokenParserAnswersTwo) {
  MimeMultipartParser* parser = nullptr;
  ASSERT_EQ(MimeMultipartCreate(&parser, nullptr, nullptr, nullptr, nullptr), 0u);
  parser->state = MimeState::Broken;
  const uint8_t line[] = "x\r\n";
  EXPECT_EQ(MimeMultipartParse(parser, line, 3), MimeParse::Broken);
  MimeMultipartFree(&parser);
  MimeMultipartFree(&parser);  // a second free finds nothing
}

}  // namespace

namespace {

class MimeSmallHeapTest : public DecoderTest {
 protected:
  MimeSmallHeapTest() : DecoderTest(64u << 10) {}
};

// A line longer than the heap can hold answers 1; the parser stays whole and
// frees everything it held.
TEST_F(MimeSmallHeapTest, ALineTooLongForTheHeapAnswersOne) {
  PartsRun run;
  ASSERT_EQ(MimeMultipartCreate(&run.parser, &run, OnBegin, OnHeader, OnData), 0u);
  const std::string head = "multipart/related; boundary=b\r\n\r\n--b\r\nContent-ID: <1>\r\n\r\n";
  EXPECT_EQ(MimeMultipartParse(run.parser, reinterpret_cast<const uint8_t*>(head.data()),
                               static_cast<uint32_t>(head.size())),
            MimeParse::Ok);
  const std::string block(16u << 10, 'x');
  uint32_t answer = MimeParse::Ok;
  for (int i = 0; i < 8 && answer == MimeParse::Ok; ++i)
    answer = MimeMultipartParse(run.parser, reinterpret_cast<const uint8_t*>(block.data()),
                                static_cast<uint32_t>(block.size()));
  EXPECT_EQ(answer, MimeParse::NoMemory);
  EXPECT_EQ(run.parser->state, MimeState::PartBody);
  MimeMultipartFree(&run.parser);
}

}  // namespace
