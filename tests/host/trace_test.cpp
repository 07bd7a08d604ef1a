// The trace log: log.ini in and out, files, time stamps, the UTF-16 lines
// and their conversions.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "host/trace.h"
#include "kernel/modules.h"
#include "tests/support/temp_dir.h"

namespace {

LogClockTime gNow;
void FakeClock(LogClockTime* out) { *out = gNow; }

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = LogClockTime{2024, 3, 9, 10, 20, 30, 400};
    LogSetClock(FakeClock);
    console_ = std::tmpfile();
    LogSetConsole(console_, 0);
  }
  void TearDown() override {
    LogStop();
    LogSetClock(nullptr);
    LogSetConsole(nullptr, -1);
    std::fclose(console_);
  }
  std::string Console() {
    std::fflush(console_);
    std::rewind(console_);
    std::string all;
    for (int c; (c = std::fgetc(console_)) != EOF;) all += static_cast<char>(c);
    std::fclose(console_);
    console_ = std::tmpfile();
    LogSetConsole(console_, colours_);
    return all;
  }
  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  int Start(std::initializer_list<LogEntry> entries) {
    return LogStart(entries.begin(), static_cast<uint32_t>(entries.size()));
  }

  TempDir dir_{true};
  std::FILE* console_ = nullptr;
  int colours_ = 0;
};

constexpr uint8_t kConsole = LogFlag::Console;


TEST_F(TraceTest, LoadsTheModulesSectionInFileOrder) {
  WriteFile("log.ini",
            "; trace settings\n[Other]\nCache=0x7f, 1, other.log\n[modules]\n"
            "cache = 0x32, 0x0c, cache.log extra\nAll=13,7\nNoSuchModule=0xff, 1, x.log\n"
            "Ben=0x2\nCache=0x01, 1, second.log\n[Modules]\nUrl=0x02, 2\n");
  EXPECT_EQ(LogLoad(), 0);
  std::vector<std::tuple<int32_t, std::string, int, int, std::string>> rows;
  for (const LogEntry& e : LogEntries()) rows.emplace_back(e.id, e.name, e.flags, e.colour, e.file);
  // The second section is not read; a key that names no module becomes the
  // entry of id 0, "Default".
  EXPECT_EQ(rows, (decltype(rows){{Mod::Cache, "Cache", 0x32, 0x0c, "cache.log"},
                                  {kLogDefaultId, "All", 0x13, 0x07, ""},
                                  {0, "Default", 0xFF, 1, "x.log"},
                                  {Mod::Ben, "Ben", 0x02, 0, ""}}));
  EXPECT_EQ(LogGetFlags(Mod::Url), 0xFF);
}

TEST_F(TraceTest, WithoutAnAllKeyThereIsNoDefaultAndStartFails) {
  WriteFile("log.ini", "[Modules]\nCache=0x02, 1\n");
  EXPECT_EQ(LogLoad(), -1);
  LogPrint(Mod::Ben, "dropped\n");
  LogPrint(Mod::Cache, "kept\n");
  EXPECT_EQ(Console(), "kept\n");
  EXPECT_EQ(LogLoadFile("missing.ini"), -1);
  EXPECT_TRUE(LogEntries().empty());
}

TEST_F(TraceTest, StartingWithTheDefaultLoggingToFileEmptiesEveryFile) {
  WriteFile("a.log", "old");
  WriteFile("b.log", "old");
  ASSERT_EQ(Start({{kLogDefaultId, "All", LogFlag::File, "a.log", 0},
                   {Mod::Cache, "Cache", LogFlag::File, "b.log", 0}}),
            0);
  EXPECT_EQ(ReadWholeFile("a.log"), "");
  EXPECT_EQ(ReadWholeFile("b.log"), "");
  LogPrint(Mod::Cache, "to b %d\n", 1);
  LogPrint(Mod::Ben, "to a\n");  // no entry: the default's file
  EXPECT_EQ(ReadWholeFile("b.log"), "to b 1\n");
  EXPECT_EQ(ReadWholeFile("a.log"), "to a\n");

  WriteFile("b.log", "stays");
  ASSERT_EQ(Start({{kLogDefaultId, "All", 0, "a.log", 0}, {Mod::Cache, "Cache", 1, "b.log", 0}}), 0);
  EXPECT_EQ(ReadWholeFile("b.log"), "stays");
}

namespace {
std::vector<std::string> gOpened;
std::FILE* OpenNothing(const char* path, const char* mode) {
  gOpened.push_back(std::string(mode) + " " + path);
  return std::tmpfile();
}
}  // namespace

TEST_F(TraceTest, AnOpenerKeepsTheLogAwayFromTheNamedFiles) {
  WriteFile("a.log", "old");
  gOpened.clear();
  LogSetFileOpener(OpenNothing);
  ASSERT_EQ(Start({{kLogDefaultId, "All", LogFlag::File, "a.log", 0},
                   {Mod::Cache, "Cache", LogFlag::File, "/b.log", 0}}),
            0);
  LogPrint(Mod::Cache, "line\n");
  LogSetFileOpener(nullptr);
  EXPECT_EQ(ReadWholeFile("a.log"), "old");
  EXPECT_EQ(gOpened, (std::vector<std::string>{"w a.log", "w /b.log", "a /b.log"}));
}


TEST_F(TraceTest, TimeStampsShowTheElapsedTimeAndSameMillisecondLinesAreShort) {
  Start({{kLogDefaultId, "All", kConsole | LogFlag::Time, "", 0}});
  gNow = LogClockTime{2024, 3, 9, 0, 0, 1, 5};
  LogPrint(1, "first\n");  // measured from zero
  LogPrint(1, "same\n");
  gNow.millisecond = 12;
  LogPrint(1, "later\n");
  EXPECT_EQ(Console(),
            "\n###+1005ms elapsed\n\n00:00:01.0005(+1005ms)#first\n"
            "00:00:01.0005(+0ms)#same\n"
            "\n###+7ms elapsed\n\n00:00:01.0012(+7ms)#later\n");
}

TEST_F(TraceTest, ALineStopsAt511Bytes) {
  Start({{kLogDefaultId, "All", kConsole | LogFlag::Name, "", 0}});
  LogPrint(3, "%s", std::string(600, 'x').c_str());
  EXPECT_EQ(Console(), "All#" + std::string(507, 'x'));
}


TEST_F(TraceTest, WideLinesUseStarsAndTheTimeOfDay) {
  Start({{kLogDefaultId, "All", kConsole | LogFlag::Name | LogFlag::Time, "", 0},
         {Mod::Ben, "Ben", kConsole | LogFlag::Id, "", 0}});
  LogPrintW(Mod::Url, u"%s=%d, %S\n", u"caf\u00e9 \U0001F600", -5, "narrow");
  LogPrintW(Mod::Ben, u"id\n");
  EXPECT_EQ(Console(), "All*10:20:30*caf\xc3\xa9" " \xf0\x9f\x98\x80=-5, narrow\n25*id\n");
}

TEST_F(TraceTest, WritesValuesBackKeepingTheRestOfTheFile) {
  WriteFile("log.ini", "; keep me\n[Modules]\nall=0x13, 0x07, all.log\nCache=2,3\n");
  ASSERT_EQ(LogLoad(), 0);
  EXPECT_EQ(LogSetFlags(Mod::Cache, 0x73), 0);
  EXPECT_EQ(LogSetColour(Mod::Cache, 0x1c), 0);
  EXPECT_EQ(LogSetFile(Mod::Cache, "c.log"), 0);
  EXPECT_EQ(LogGetFlags(Mod::Cache), 0x73);
  EXPECT_EQ(LogSetFlags(Mod::Ben, 1), -1);
  EXPECT_EQ(LogSetColour(Mod::Ben, 1), -1);
  EXPECT_EQ(LogSetFile(Mod::Ben, "b.log"), -1);
  ASSERT_TRUE(LogSave());
  std::ifstream in("log.ini", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "; keep me\n[Modules]\nall=0x13, 0x07, all.log\nCache=0x73, 0x1c, c.log\n");
}

// A UTF-16 format too long for the line's own path is narrowed and printed
// as an 8-bit line.
TEST_F(TraceTest, ALongWideFormatTakesTheEightBitPath) {
  Start({{kLogDefaultId, "All", kConsole | LogFlag::Name, "", 0}});
  LogPrintW(1, (std::u16string(79, u'w') + u"%d\n").c_str(), 7);  // 82 units
  LogPrintW(1, (std::u16string(75, u'v') + u"\u00e9%d\n").c_str(), 8);  // 79 units
  EXPECT_EQ(Console(), "All#" + std::string(79, 'w') + "7\nAll*" + std::string(75, 'v') +
                           "\xc3\xa9" "8\n");
}

TEST_F(TraceTest, TimeStampAndCellId) {
  gNow = LogClockTime{2024, 3, 9, 7, 8, 9, 12};
  EXPECT_STREQ(LogTimeStamp(), "2024-03-09 07:08:09.0012");
  char buf[32] = {};
  int32_t status = -1;
  uint32_t length = 0;
  EXPECT_EQ(ShellGetCellId(&status, buf, &length, 18), 2);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(status, -1);
  EXPECT_EQ(ShellGetCellId(&status, buf, &length, 19), 0);
  EXPECT_EQ(std::string(buf, length), "234, 10, 0818, 39C3");
  EXPECT_EQ(status, 0);
}

// ---- UTF-16 conversions -----------------------------------------------------

std::string FormatW(size_t room, const char16_t* f, ...) {
  char16_t out[64];
  va_list args;
  va_start(args, f);
  size_t n = LogFormatW(out, room, f, args);
  va_end(args);
  return LogNarrow(out, n);
}

TEST(TraceFormatTest, WideConversionsReadAsTheirEightBitKin) {
  const size_t all = 64;
  const std::tuple<std::string, std::string> rows[] = {
      {FormatW(all, u"[%5s|%-4S|%.2s]", u"ab", "cd", u"xyz"), "[   ab|cd  |xy]"},
      {FormatW(all, u"[%hs|%-3hs|%.*s]", "n8", "m", 1, u"pq"), "[n8|m  |p]"},
      {FormatW(all, u"%03d %x %lu %lld %c%%", 7, 255u, 9ul, -3ll, u'Q'), "007 ff 9 -3 Q%"},
      {FormatW(all, u"%s %S %q", nullptr, nullptr), "(null) (null) %q"},
      {FormatW(all, u"%*d|%-*d|%*d|", 3, 1, 2, 2, -3, 4), "  1|2 |4  |"},
      {FormatW(all, u"%.*d|%.d|", -1, 5, 0), "5||"},
      {FormatW(all, u"%hhd %hhu %hd %hu", 0x1FF, 0x1FF, 0x18000, 0x18000),
       "-1 255 -32768 32768"},
      {FormatW(all, u"%jd %ju %zu %td %li %lX %o", intmax_t{-5}, uintmax_t{6}, size_t{7},
               ptrdiff_t{-8}, -9l, 0xABul, 8u),
       "-5 6 7 -8 -9 AB 10"},
      {FormatW(all, u"%.2f %e %G %a %Lf", 1.005, 1.0, 0.5, 1.0, 2.5L),
       "1.00 1.000000e+00 0.5 0x1p+0 2.500000"},
      {FormatW(all, u"%5c|%-3c|", u'x', u'y'), "    x|y  |"},
      {FormatW(all, u"[%3c]", 0), std::string("[  \0]", 5)},
      {FormatW(all, u"[%-3c]", 0), std::string("[\0  ]", 5)},
      {FormatW(all, u"%p", nullptr), "(nil)"},
      {FormatW(all, u"%99999999d", 1).size() < 64 ? "fits" : "overflow", "fits"},
      {FormatW(all, u"%\u00e9x"), "%\xc3\xa9x"},
      {FormatW(all, u"end%"), "end%"},
      {FormatW(all, u"%s", std::u16string(100, u'z').c_str()), std::string(63, 'z')},
      {FormatW(4, u"%d", 123456), "123"},
      {FormatW(0, u"%d", 1), ""},
  };
  for (const auto& [got, expected] : rows) EXPECT_EQ(got, expected);
}

TEST(TraceFormatTest, NarrowingJoinsPairsAndReplacesLoneHalves) {
  const std::tuple<std::u16string, std::string> rows[] = {
      {u"a\u00e9\u20ac", "a\xc3\xa9\xe2\x82\xac"},
      {u"\U0001F600", "\xf0\x9f\x98\x80"},
      {std::u16string(1, char16_t{0xD800}) + u"x", "\xef\xbf\xbdx"},
      {std::u16string(1, char16_t{0xDC00}), "\xef\xbf\xbd"},
      {std::u16string(1, char16_t{0xD83D}), "\xef\xbf\xbd"},
  };
  for (const auto& [text, expected] : rows)
    EXPECT_EQ(LogNarrow(text.data(), text.size()), expected);
}

}  // namespace
