// The trace log: log.ini, files, time stamps and the UTF-16 lines.
#include <gtest/gtest.h>

#include <cstdio>
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

}  // namespace
