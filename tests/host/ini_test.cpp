#include "host/ini.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

IniFile Parse(std::string_view text) {
  IniFile ini;
  ini.LoadText(text);
  return ini;
}

std::optional<std::string> Value(std::string_view text, std::string_view section,
                                 std::string_view key) {
  return Parse(text).Get(section, key);
}

class IniFiles : public ::testing::Test {
 protected:
  std::string PathOf(const char* name) const { return dir_ / name; }
  static void Write(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  int EntriesInDir() const {
    return static_cast<int>(std::distance(fs::directory_iterator(dir_.path()), {}));
  }

  TempDir dir_;
};

}  // namespace

TEST(IniRead, NamesMatchWithoutAsciiCaseAndTheFirstSectionAndKeyWin) {
  EXPECT_EQ(Value("[display]\nSKIN=a.ini\n", "Display", "skin"), "a.ini");
  EXPECT_EQ(Value("[\xC4]\nk=1\n", "\xE4", "k"), std::nullopt);  // only A-Z fold
  const char* text = "[A]\nk=first\nk=second\n[B]\nk=b\n[a]\nk=third\nonly=later\n";
  EXPECT_EQ(Value(text, "A", "k"), "first");
  EXPECT_EQ(Value(text, "A", "only"), std::nullopt);
  EXPECT_EQ(Value(text, "B", "k"), "b");
}

TEST(IniRead, ValuesLoseBlanksThenOnePairOfQuotes) {
  const char* text =
      "[S]\nplain =  spaced out \t\ndq = \" keep inner \"\ntwice=\"\"x\"\"\nmixed=\"x'\n";
  EXPECT_EQ(Value(text, "S", "plain"), "spaced out");
  EXPECT_EQ(Value(text, "S", "dq"), " keep inner ");
  EXPECT_EQ(Value(text, "S", "twice"), "\"x\"");
  EXPECT_EQ(Value(text, "S", "mixed"), "\"x'");
}

TEST(IniRead, LineEndsMarkCommentsAndHeaders) {
  const char* crlf = "\xEF\xBB\xBF[Memory]\r\nSize=64\r\n[Options]\r\nFrameRate = 20 \r\n";
  EXPECT_EQ(Value(crlf, "Memory", "Size"), "64");
  EXPECT_EQ(Value(crlf, "Options", "FrameRate"), "20");
  EXPECT_FALSE(Parse("[A]\n\xEF\xBB\xBF[B]\n").HasSection("B"));  // a mark only leads

  const char* text =
      "k=before any section\n[ S ] words\n; k=semicolon\n  # k=hash\njust words\n=no name\n"
      "k=real\n[T\nk=t\n";
  EXPECT_EQ(Value(text, "S", "k"), "real");
  EXPECT_EQ(Value(text, "S", ""), std::nullopt);
  EXPECT_EQ(Value(text, "", "k"), std::nullopt);
  // A header missing its bracket still closes the section before it.
  EXPECT_EQ(Value(text, "T", "k"), "t");
}

TEST(IniRead, GetIntReadsSignAndLeadingDigits) {
  IniFile ini = Parse("[N]\nneg=-17\nmixed=12abc\nhex=0x10\nempty=\nbig=99999999999\n");
  EXPECT_EQ(ini.GetInt("N", "neg", 7), -17);
  EXPECT_EQ(ini.GetInt("N", "mixed", 7), 12);
  EXPECT_EQ(ini.GetInt("N", "hex", 7), 0);
  EXPECT_EQ(ini.GetInt("N", "empty", 7), 7);
  EXPECT_EQ(ini.GetInt("N", "big", 7), INT32_MAX);
}

TEST(IniWrite, ValuesReadBackAsGiven) {
  IniFile ini;
  for (const char* value : {" padded ", "  lead", "'quoted'", "\"\"", "a=b;c", "\"half"}) {
    ASSERT_TRUE(ini.Set("S", "k", value)) << value;
    EXPECT_EQ(Parse(ini.Text()).Get("S", "k"), value);
  }
}

TEST(IniWrite, RefusesNamesAndValuesThatCouldNotBeReadBack) {
  IniFile ini = Parse("[S]\nk=1\n");
  EXPECT_FALSE(ini.Set("S", "k", "two\nlines"));
  for (const char* key : {"a=b", "", ";k"}) EXPECT_FALSE(ini.Set("S", key, "v"));
  EXPECT_FALSE(ini.Set("S]", "k", "v"));
  EXPECT_EQ(ini.Text(), "[S]\nk=1\n");
}

TEST_F(IniFiles, WriteStringRoundTripKeepsTheRestOfTheFile) {
  std::string path = PathOf("qor.ini");
  Write(path, "; keep me\n[Fonts]\nBody = Arial ; not a comment\n\n[Memory]\nSize=64\n");
  ASSERT_TRUE(IniWriteString(path, "Fonts", "Body1", "8"));
  ASSERT_TRUE(IniWriteString(path, "Memory", "Size", "256"));
  ASSERT_TRUE(IniWriteString(path, "Operation", "URL", "http://x/"));
  EXPECT_EQ(ReadWholeFile(path),
            "; keep me\n[Fonts]\nBody = Arial ; not a comment\nBody1=8\n\n[Memory]\nSize=256\n"
            "\n[Operation]\nURL=http://x/\n");
  ASSERT_TRUE(IniWriteString(path, "Memory", "Size", nullptr));
  ASSERT_TRUE(IniWriteString(path, "Fonts", nullptr, nullptr));
  EXPECT_EQ(ReadWholeFile(path), "; keep me\n[Memory]\n\n[Operation]\nURL=http://x/\n");
  EXPECT_EQ(EntriesInDir(), 1);  // no temporary file left behind

}

// The profile calls read a file afresh each time; without a section or a
// key they answer the fallback, as for a missing file or key.
TEST_F(IniFiles, ProfileCallsReadTheFileOrAnswerTheFallback) {
  const std::string path = PathOf("p.ini");
  Write(path, "[Memory]\nSize=64\nName=heap\n");
  struct Row {
    const char* section;
    const char* key;
    std::string text;
    int32_t number;
  };
  const Row rows[] = {{"Memory", "Size", "64", 64},      {"Memory", "Name", "heap", 0},
                      {"Memory", "Other", "fb", -7},     {nullptr, "Size", "fb", -7},
                      {"Memory", nullptr, "fb", -7}};
  for (const Row& row : rows) {
    char out[16];
    const size_t n = IniGetString(path, row.section, row.key, "fb", out, sizeof out);
    EXPECT_EQ(std::string(out, n), row.text) << row.text;
    EXPECT_EQ(IniGetInt(path, row.section, row.key, -7), row.number) << row.text;
  }
  char out[4];
  EXPECT_EQ(IniGetString(path, nullptr, nullptr, nullptr, out, sizeof out), 0u);
  EXPECT_EQ(IniGetInt(PathOf("missing.ini"), "Memory", "Size", 5), 5);
}

TEST_F(IniFiles, AFileThatCannotBeReadLeavesNothing) {
  IniFile ini;
  ini.LoadText("[a]\nb=c\n");
  EXPECT_EQ(ini.Load(PathOf("missing.ini")), IniLoad::Missing);
  EXPECT_FALSE(ini.HasSection("a"));
  ini.LoadText("[a]\nb=c\n");
  EXPECT_EQ(ini.Load(dir_.path().string()), IniLoad::Unreadable);  // a folder opens but reads not
  EXPECT_FALSE(ini.HasSection("a"));
}

TEST_F(IniFiles, FailedWriteLeavesTheOldFileWhole) {
  // Root ignores a read-only folder, but not a file-size limit: the
  // temporary file cannot grow past it and the write must fail.
  std::string path = PathOf("qor.ini");
  Write(path, "[S]\nk=old\n");
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = saved;
  tight.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  bool written = IniWriteString(path, "S", "k", std::string(200, 'n').c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadWholeFile(path), "[S]\nk=old\n");
  EXPECT_EQ(EntriesInDir(), 1);
}

TEST(IniMalformed, OddShapesStillReadAndWrite) {
  for (const char* text : {"", "[", "]", "=", "\r", "[S]\r", "[S]=", "\xEF\xBB", "[S]\nk"}) {
    IniFile ini = Parse(text);
    EXPECT_EQ(ini.Get("S", "k"), std::nullopt) << text;
    ASSERT_TRUE(ini.Set("S", "k", "v")) << text;
    EXPECT_EQ(Parse(ini.Text()).Get("S", "k"), "v") << text;
  }
  EXPECT_EQ(Value("[S]\nk==v=\r", "S", "k"), "=v=");
}
