// The WBXML decoder over the SI, SL, provisioning and channel documents made
// by xml2wbxml (tests/data/wbxml/; the expected sequences follow what
// wbxml2xml shows for them) and over hand-made byte sequences for the forms
// the tool never writes.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "markup/wbxml.h"
#include "tests/markup/wbxml_support.h"
#include "tests/support/engine_fixture.h"

namespace {

struct Document {
  const char* file;
  const WbxmlTables* tables;
  const char* expected;
};

void PrintTo(const Document& d, std::ostream* os) { *os << d.file; }

// Opaque bytes read one unit each: the SI dates are 20 04 05 01 12 30 and
// 20 04 05 08.
const Document kDocuments[] = {
    {"si.wbxml", &kSiTables, R"(start - 5
begin si
attrs
begin indication
attr href "http://www.example.com/news/today.wml"
attr si-id "news-42"
attr created " {04}{05}{01}{12}0"
attr si-expires " {04}{05}{08}"
attr action "signal-high"
attrs
text "Today: 3 new stories & a quiz"
end indication
begin info
attrs
begin item
attr class "title"
attrs
text "Morning edition"
end item
end info
end si
)"},
    {"sl.wbxml", &kSlTables, R"(start - 6
begin sl
attr href "https://www.example.org/app/update.wmlc"
attr action "execute-high"
attrs
end sl
)"},
    {"prov.wbxml", &kProvTables, R"(start - 11
begin wap-provisioningdoc
attr version "1.0"
attrs
begin characteristic
attr type "PXLOGICAL"
attrs
begin parm
attr name "PROXY-ID"
attr value "proxy.example.net"
attrs
end parm
begin parm
attr name "NAME"
attr value "Example WAP"
attrs
end parm
begin parm
attr name "STARTPAGE"
attr value "http://wap.example.net/"
attrs
end parm
begin characteristic
attr type "PXPHYSICAL"
attrs
begin parm
attr name "PHYSICAL-PROXY-ID"
attr value "PROXY1"
attrs
end parm
begin parm
attr name "PXADDR"
attr value "10.0.0.1"
attrs
end parm
begin parm
attr name "PXADDRTYPE"
attr value "IPV4"
attrs
end parm
begin parm
attr name "TO-NAPID"
attr value "NAP1"
attrs
end parm
begin characteristic
attr type "PORT"
attrs
begin parm
attr name "PORTNBR"
attr value "9201"
attrs
end parm
begin parm
attr name "SERVICE"
attr value "CO-WSP"
attrs
end parm
end characteristic
end characteristic
end characteristic
begin characteristic
attr type "NAPDEF"
attrs
begin parm
attr name "NAPID"
attr value "NAP1"
attrs
end parm
begin parm
attr name "BEARER"
attr value "GSM-CSD"
attrs
end parm
begin parm
attr name "NAME"
attr value "Example WAP"
attrs
end parm
begin parm
attr name "NAP-ADDRESS"
attr value "+441234567890"
attrs
end parm
begin parm
attr name "NAP-ADDRTYPE"
attr value "E164"
attrs
end parm
begin parm
attr name "CALLTYPE"
attr value "ANALOG_MODEM"
attrs
end parm
begin characteristic
attr type "NAPAUTHINFO"
attrs
begin parm
attr name "AUTHTYPE"
attr value "PAP"
attrs
end parm
begin parm
attr name "AUTHNAME"
attr value "wapuser"
attrs
end parm
begin parm
attr name "AUTHSECRET"
attr value "wappass"
attrs
end parm
end characteristic
end characteristic
end wap-provisioningdoc
)"},
    {"channel.wbxml", &kChannelTables, R"(start "-//WAPFORUM//DTD CHANNEL 1.2//EN" 0
begin channel
attr maxspace "8192"
attr base "http://www.example.com/chan/"
attr channelid "weather-1"
attr success "http://www.example.com/chan/ok"
attr failure "http://www.example.com/chan/fail"
attr useraccessible "true"
attr eventid "wtaev-cc/ic"
attrs
begin title
attrs
text "Weather"
end title
begin abstract
attrs
text "Forecast pages kept on the handset"
end abstract
begin resource
attr href "today.wml"
attr lastmod "1088000000"
attr etag "x17"
attrs
end resource
begin resource
attr href "https://www.example.com/chan/map.wbmp"
attr md5 "0123456789abcdef"
attrs
end resource
end channel
)"},
};

class WbxmlTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    freeAtStart_ = HeapGetStats().freeBytes;
  }

  // Decodes the bytes cut at the offsets; the log, with the answer in front.
  std::string Decode(const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& cuts,
                     const WbxmlTables* tables, Result* answer, uint32_t failOnStart = 0) {
    WbxmlDecoder* decoder = nullptr;
    EXPECT_EQ(WbxmlDecoderCreate(&decoder), kOk);
    WbxmlRecorder recorder(tables);
    recorder.failOnStart = failOnStart;
    Queue queue{};
    *answer = WbxmlFeed(decoder, &recorder, &queue, bytes, cuts);
    leftOver_ = UtilDataChunkQueueBytes(&queue);
    if (*answer == 0) *answer = WbxmlDecodeEnd(decoder);
    WbxmlDecoderFree(decoder);
    UtilDataChunkFreeQueue(&queue);
    EXPECT_EQ(HeapGetStats().freeBytes, freeAtStart_);
    EXPECT_EQ(HeapValidate(), nullptr);
    return recorder.log;
  }

  uint32_t leftOver_ = 0;

 private:
  uint32_t freeAtStart_ = 0;
};

class WbxmlDocumentTest : public WbxmlTest, public ::testing::WithParamInterface<Document> {};

TEST_P(WbxmlDocumentTest, CutAtEveryByteGivesTheSameSequence) {
  const std::vector<uint8_t> bytes = ReadWbxmlFile(GetParam().file);
  ASSERT_FALSE(bytes.empty());
  for (uint32_t cut = 0; cut <= bytes.size(); ++cut) {
    Result answer = 0;
    EXPECT_EQ(Decode(bytes, {cut}, GetParam().tables, &answer), GetParam().expected)
        << "cut after " << cut;
    EXPECT_EQ(answer, kWbxmlFinished) << "cut after " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, WbxmlDocumentTest, ::testing::ValuesIn(kDocuments),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('.'));
                         });

// A small encoder for the forms xml2wbxml does not write.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& operator<<(uint8_t b) {
    v.push_back(b);
    return *this;
  }
  Bytes& Mb(uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
      groups[n++] = value & 0x7F;
      value >>= 7;
    } while (value);
    while (n > 1) v.push_back(groups[--n] | 0x80);
    v.push_back(groups[0]);
    return *this;
  }
  Bytes& Str(const char* s) {
    v.push_back(0x03);
    while (*s) v.push_back(static_cast<uint8_t>(*s++));
    v.push_back(0);
    return *this;
  }
  Bytes& Raw(const char* s, uint32_t n) {
    v.insert(v.end(), s, s + n);
    return *this;
  }
};

struct Crafted {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* expected;
  Result answer;
  Result startAnswer = 0;  // what the start of the document answers
};

void PrintTo(const Crafted& c, std::ostream* os) { *os << c.name; }

// Header: WBXML 1.3, unknown public id, UTF-8, then a string table.
Bytes Header(const char* table = "", uint32_t tableLength = 0) {
  Bytes b;
  b << 0x03 << 0x01 << 0x6A;
  b.Mb(tableLength).Raw(table, tableLength);
  return b;
}

std::vector<Crafted> CraftedDocuments() {
  std::vector<Crafted> out;
  {
    // STR_I, ENTITY (one BMP, one beyond), STR_T, OPAQUE and a page switch
    // between them: one text call.
    Bytes b = Header("xyz\0", 4);
    b << 0x45;
    b.Str("a");
    b << 0x02;
    b.Mb(0xE9);
    b << 0x02;
    b.Mb(0x1F600);
    b << 0x00 << 0x01 << 0x83 << 0x00 << 0xC3 << 0x02 << 'o' << 'p';
    b << 0x43 << 0x04;
    b.Mb(0).Str("pi") << 0x06 << 0x01;  // an instruction between pieces
    b << 0x00 << 0x00;  // back to page 0
    b << 0x06 << 0x01;
    out.push_back({"MergedText", b.v, R"(start - 1
begin #0005
attrs
text "a{E9}{D83D}{DE00}xyzop"
begin #0006
attrs
end #0006
end #0005
)",
                   kWbxmlFinished});
  }
  {
    // A character set without a converter falls back to the default one.
    Bytes b;
    b << 0x03 << 0x01 << 0x8F << 0x5A << 0x00 << 0x45;
    b.Str("a") << 0x01;
    out.push_back({"UnknownCharset", b.v, "start - 1\nbegin #0005\nattrs\ntext \"a\"\nend #0005\n",
                   kWbxmlFinished});
  }

  // Malformed input: the header, then the body's bytes.
  auto bad = [&out](const char* name, Bytes head, std::vector<uint8_t> body, const char* log,
                    Result answer) {
    head.v.insert(head.v.end(), body.begin(), body.end());
    out.push_back({name, head.v, log, answer});
  };
  const char* started = "start - 1\n";
  const char* inRoot = "start - 1\nbegin #0005\nattrs\n";
  bad("BadVersion", {}, {0x13, 0x01, 0x6A, 0x00, 0x05}, "", kWbxmlBadVersion);
  bad("StrTPastTable", Header("ab\0", 3), {0x45, 0x83, 0x03, 0x01}, inRoot, kWbxmlBadIndex);
  bad("ExtensionInContent", Header(), {0x45, 0x40, 0x03, 'v', 0, 0x01}, inRoot,
      kWbxmlUnknownToken);
  bad("EndBeforeRoot", Header(), {0x01}, started, kWbxmlMalformed);
  // Open elements beyond the limit.
  bad("TooDeep", Header(), std::vector<uint8_t>(kWbxmlMaxDepth + 1, 0x45), nullptr,
      kWbxmlMalformed);

  // A handler that refuses the document at its start stops the decoding with
  // its answer, whether the public id is a number or a text.
  constexpr Result kRefused = 0x80990007;
  out.push_back({"StartRefusedById", (Header() << 0x45 << 0x01).v, started, kRefused, kRefused});
  Bytes named;
  named << 0x03 << 0x00 << 0x00 << 0x6A << 0x03 << 'i' << 'd' << 0x00 << 0x45 << 0x01;
  out.push_back({"StartRefusedByName", named.v, "start \"id\" 0\n", kRefused, kRefused});
  return out;
}

class WbxmlCraftedTest : public WbxmlTest, public ::testing::WithParamInterface<Crafted> {};

TEST_P(WbxmlCraftedTest, WholeAndByteByByteAgree) {
  const Crafted& c = GetParam();
  Result whole = 0, single = 0;
  const std::string log = Decode(c.bytes, {}, nullptr, &whole, c.startAnswer);
  if (c.expected) {
    EXPECT_EQ(log, c.expected);
  }
  EXPECT_EQ(whole, c.answer);
  std::vector<uint32_t> cuts;
  for (uint32_t i = 1; i < c.bytes.size(); ++i) cuts.push_back(i);
  EXPECT_EQ(Decode(c.bytes, cuts, nullptr, &single, c.startAnswer), log);
  EXPECT_EQ(single, c.answer);
}

INSTANTIATE_TEST_SUITE_P(Forms, WbxmlCraftedTest, ::testing::ValuesIn(CraftedDocuments()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
