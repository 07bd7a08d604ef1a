#include "content/mime_multipart.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "kernel/heap.h"
#include "kernel/libc.h"
#include "tests/content/content_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

struct Part {
  std::string location, contentId, type, encoding, body;
  bool root = false, ended = false;
};

struct PartsRun {
  std::vector<Part> parts;
  std::vector<uint32_t> answers;
  MimeMultipartParser* parser = nullptr;
};

int OnBegin(void* c, const char* location, const char* id, int root) {
  static_cast<PartsRun*>(c)->parts.push_back(
      Part{location ? location : "", id ? id : "", "", "", "", root != 0});
  return 1;
}

int OnHeader(void* c, uint32_t which, const char* value) {
  Part& part = static_cast<PartsRun*>(c)->parts.back();
  if (which == MimeHeader::ContentType) part.type = value;
  if (which == MimeHeader::TransferEncoding) part.encoding = value;
  return 1;
}

int OnData(void* c, const uint8_t* bytes, uint32_t length) {
  Part& part = static_cast<PartsRun*>(c)->parts.back();
  EXPECT_FALSE(part.ended);
  if (!bytes) {
    EXPECT_EQ(length, 0u);
    part.ended = true;
    return 1;
  }
  part.body.append(reinterpret_cast<const char*>(bytes), length);
  return 1;
}

// Parses the document in the chunks that `cuts` (ascending offsets) mark.
PartsRun Parse(const std::string& doc, const std::vector<size_t>& cuts) {
  PartsRun run;
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
        << p.root << p.ended << '|' << p.body << '\n';
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
  std::string out;
  for (unsigned char c : bytes) out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
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
