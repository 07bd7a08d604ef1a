#include "host/hostini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/hostsettings.h"
#include "host/ini.h"
#include "host/platform/lang.h"
#include "host/smsbridge.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class QorIni : public ::testing::Test {
 protected:

  // Reads a qor.ini holding exactly these lines into a cleared block.
  const HostSettings& ReadIni(const std::string& lines) {
    std::string path = dir_ / "qor.ini";
    std::ofstream(path, std::ios::binary) << lines;
    settings_ = HostSettings{};
    HostReadIniFile(&settings_, path);
    return settings_;
  }

  TempDir dir_;
  HostSettings settings_{};
};

std::u16string Wide(const char16_t* text) { return text; }

std::vector<std::pair<int32_t, int32_t>> Pairs(const FontSizePair* pairs, int32_t count) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (int32_t i = 0; i < count; ++i) out.emplace_back(pairs[i].level, pairs[i].points);
  return out;
}

std::vector<uint16_t> Symbols(const uint16_t* symbols) {
  return std::vector<uint16_t>(symbols, symbols + kFontSymbols);
}

const std::vector<uint16_t> kPresetSymbols = {0x2022, 0x25AA, 0x25E6};

}  // namespace

TEST_F(QorIni, MissingFileGivesEveryDefault) {
  HostSettings s{};
  HostReadIniFile(&s, dir_ / "absent.ini");
  EXPECT_EQ(s.memoryBytes, 128u * 1024);
  EXPECT_STREQ(s.homeUrl, "info://HOME/general/gohome.html");
  EXPECT_EQ(s.frameRate, 35);
  EXPECT_STREQ(HostPhoneSize(), "LARGE");
  EXPECT_EQ(Wide(s.fonts.bodyFace), u"Arial");
  EXPECT_EQ(Wide(s.fonts.headingMonoFace), u"Lucida console");
  EXPECT_EQ(Symbols(s.fonts.bodySymbols), kPresetSymbols);
  EXPECT_EQ(s.fonts.bodySizeCount, 0);
}

// Settings that cannot be used keep their defaults as before, and the user is
// told once which key it was and what took its place.
TEST_F(QorIni, UnusableSettingsAreSaidWithWhatIsUsedInstead) {
  const struct {
    const char* lines;
    const char* said;  // "" when nothing may be said
  } cases[] = {
      {"[Memory]\nSize=lots\n", "qor.ini [Memory] Size=lots is not usable; 128 is used instead"},
      {"[Memory]\nSize=99999\n", "[Memory] Size=99999 is not usable; 16384 is used instead"},
      {"[Options]\nFrameRate=fast\n", "[Options] FrameRate=fast is not usable; 10 is used instead"},
      {"[SMS]\nPort=99999\n", "[SMS] Port=99999 is not usable; 12345 is used instead"},
      {"[SMS]\nPeerPort=12x\n", "[SMS] PeerPort=12x is not usable; 12 is used instead"},
      {"[SMS]\nAddress=example.org\n",
       "[SMS] Address=example.org is not usable; 127.0.0.1 is used instead"},
      {"[Storage]\npage=big\n", "[Storage] page=big is not usable; 0 is used instead"},
      {"[Fonts]\nBody3=nine\n", "[Fonts] Body3=nine is not usable; 0 is used instead"},
      {"[Memory]\nSize=2048\n[SMS]\nPort=23456\nAddress=127.0.0.1\n[Storage]\npage=-1\n", ""},
  };
  for (const auto& c : cases) {
    ::testing::internal::CaptureStderr();
    ReadIni(c.lines);
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (*c.said)
      EXPECT_NE(err.find(c.said), std::string::npos) << c.lines << err;
    else
      EXPECT_EQ(err, "") << c.lines;
  }
  EXPECT_EQ(ReadIni("[Memory]\nSize=lots\n").memoryBytes, 128u * 1024);
  ReadIni("[SMS]\nPort=99999\n");
  EXPECT_EQ(SmsBridgeLocalPort(), 12345);

  ::testing::internal::CaptureStderr();
  HostSettings s{};
  HostReadIniFile(&s, dir_ / "absent.ini");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("absent.ini was not found in the working folder; the built-in settings are used"),
            std::string::npos)
      << err;
}

// A setting saved where no qor.ini is (the font chooser's choice) leaves the
// whole shipped file with that key, never a file of one section.
TEST_F(QorIni, ASettingSavedWithoutAFileWritesTheShippedFileWhole) {
  std::ifstream dist(std::string(QOR_SOURCE_DIR) + "/dist/qor.ini", std::ios::binary);
  IniFile expected;
  expected.LoadText(std::string(std::istreambuf_iterator<char>(dist), {}));
  ASSERT_TRUE(expected.Get("Memory", "Size"));
  ASSERT_TRUE(expected.Set("Fonts", "Body", "DejaVu Sans"));
  const std::string path = dir_ / "qor.ini";
  ASSERT_TRUE(HostWriteSetting(path, "Fonts", "Body", "DejaVu Sans"));
  IniFile written;
  ASSERT_EQ(written.Load(path), IniLoad::Read);
  EXPECT_EQ(written.Text(), expected.Text());
  // A file that is there only has its key changed.
  ASSERT_TRUE(HostWriteSetting(path, "Fonts", "Body", "Arial"));
  written.Load(path);
  EXPECT_EQ(written.Get("Fonts", "Body"), "Arial");
  EXPECT_EQ(written.Get("Memory", "Size"), expected.Get("Memory", "Size"));
}

TEST_F(QorIni, MemoryAndFrameRateWithinLimits) {
  EXPECT_EQ(ReadIni("[Memory]\nSize=0\n").memoryBytes, 128u * 1024);
  EXPECT_EQ(ReadIni("[Memory]\nSize=20000\n").memoryBytes, 16384u * 1024);
  EXPECT_EQ(ReadIni("[memory]\nsize=1\n").memoryBytes, 1024u);
  // A negative size must not wrap into a huge block.
  EXPECT_EQ(ReadIni("[Memory]\nSize=-5\n").memoryBytes, 128u * 1024);
  EXPECT_EQ(ReadIni("[Options]\nFrameRate=0\n").frameRate, 10);
  EXPECT_EQ(ReadIni("[Options]\nFrameRate=1\n").frameRate, 1);
  EXPECT_EQ(ReadIni("[Options]\nFrameRate=100\n").frameRate, 84);
}

TEST_F(QorIni, PhoneSizeChoosesTheScreenWhenNoSkinLoads) {
  auto screen = [](const HostSettings& s) {
    return std::vector<int32_t>{s.largePhone, s.display.x, s.display.y, s.display.width,
                                s.display.height};
  };
  const std::vector<int32_t> small = {0, 60, 117, 96, 64}, large = {1, 50, 109, 160, 240};
  HostSettings s{};
  for (auto [text, expected] : {std::pair{"PhoneSize=large\n", small},
                                {"PhoneSize=LARG\n", small},
                                {"PhoneSize=LARGEST\n", large},
                                {"", large}}) {
    ReadIni(std::string("[Display]\n") + text);
    HostDefaultDisplay(&s, HostPhoneSize());
    EXPECT_EQ(screen(s), expected) << text;
  }
}

TEST_F(QorIni, TheBridgePortsAreSettings) {
  ReadIni("[SMS]\nPort=23456\nPeerPort=23457\n");
  EXPECT_EQ(SmsBridgeLocalPort(), 23456);
  EXPECT_EQ(SmsBridgePeerPort(), 23457);
  // Missing or out of range: the usual pair, whatever was set before.
  ReadIni("[SMS]\nPort=0\nPeerPort=70000\n");
  EXPECT_EQ(SmsBridgeLocalPort(), 12345);
  EXPECT_EQ(SmsBridgePeerPort(), 12346);
  // The port asked for is kept when it was not usable, to be named if the
  // one tried instead is taken too.
  for (auto [text, asked] : {std::pair{"Port=99999\n", "99999"}, {"Port=12x\n", "12x"},
                             {"Port=23456\n", ""}, {"", ""}}) {
    EXPECT_STREQ(ReadIni(std::string("[SMS]\n") + text).smsPortAsked, asked) << text;
  }
  // The address: loopback unless a dotted one is given.
  for (auto [text, address] : {std::pair{"Address=192.168.1.20\n", "192.168.1.20"},
                               {"Address=example.org\n", "127.0.0.1"},
                               {"", "127.0.0.1"}}) {
    ReadIni(std::string("[SMS]\n") + text);
    EXPECT_STREQ(SmsBridgeAddress(), address) << text;
  }
}

TEST_F(QorIni, SymbolLists) {
  const HostSettings& s =
      ReadIni("[Fonts]\nBodySymbols= 0x2023 ,\t9679, 0X25cF\nHeadingSymbols=0, 70000 ,0x25AB\n");
  EXPECT_EQ(Symbols(s.fonts.bodySymbols), (std::vector<uint16_t>{0x2023, 9679, 0x25CF}));
  EXPECT_EQ(Symbols(s.fonts.headingSymbols), (std::vector<uint16_t>{0x2022, 0x25AA, 0x25AB}));

  const HostSettings& t =
      ReadIni("[Fonts]\nBodySymbols=abc,,12x\nHeadingSymbols=0x,0x10000,65535,1\n");
  EXPECT_EQ(Symbols(t.fonts.bodySymbols), kPresetSymbols);
  EXPECT_EQ(Symbols(t.fonts.headingSymbols), (std::vector<uint16_t>{0x2022, 0x25AA, 65535}));
}

TEST_F(QorIni, FontFacesAndSizes) {
  const HostSettings& s = ReadIni("[Fonts]\nBody=Verdana\nHeadingMono=\"Courier New\"\nHeading=" +
                                  std::string(40, 'h') + "\nBody1=8\nBody2=0\nBody3=10\nBody7=14\n"
                                  "Body8=20\nHeading2=12\nHeading6=7\nHeading7=30\n");
  EXPECT_EQ(Wide(s.fonts.bodyFace), u"Verdana");
  EXPECT_EQ(Wide(s.fonts.headingMonoFace), u"Courier New");
  EXPECT_EQ(Wide(s.fonts.headingFace), std::u16string(31, u'h'));
  // Sizes keep their levels; zero and levels past the ladder are left out.
  EXPECT_EQ(Pairs(s.fonts.bodySizes, s.fonts.bodySizeCount),
            (std::vector<std::pair<int32_t, int32_t>>{{1, 8}, {3, 10}, {7, 14}}));
  EXPECT_EQ(Pairs(s.fonts.headingSizes, s.fonts.headingSizeCount),
            (std::vector<std::pair<int32_t, int32_t>>{{2, 12}, {6, 7}}));
}
