// The crash report: signals to sentences, the record between the failing
// process and the report program, resolving and formatting the call stack,
// and real crashes of a child process reported end to end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "host/crash.h"
#include "host/crashrecord.h"
#include "host/crashreport.h"

namespace {

// ---- sentences -------------------------------------------------------------

TEST(CrashTextTest, SignalsNameTheirSentences) {
  const uintptr_t sp = 0x7ff000000000;
  EXPECT_STREQ(CrashExceptionText(CrashCodeForSignal(SIGFPE, FPE_INTDIV, 0, sp)),
               "The thread tried to divide an integer value by an integer divisor of zero. ");
  EXPECT_STREQ(CrashExceptionText(CrashCodeForSignal(SIGSEGV, SEGV_MAPERR, 0, sp)),
               "The thread tried to read from or write to a virtual address for which it does "
               "not have the appropriate access. ");
  EXPECT_STREQ(CrashExceptionText(CrashCodeForSignal(SIGSEGV, SEGV_MAPERR, sp - 4096, sp)),
               "The thread used up its stack. ");
  EXPECT_EQ(CrashCodeForSignal(SIGBUS, BUS_ADRALN, 3, sp), 0x80000002u);
  EXPECT_EQ(CrashCodeForSignal(SIGBUS, BUS_ADRERR, 3, sp), 0xC0000006u);
  EXPECT_EQ(CrashCodeForSignal(SIGFPE, FPE_FLTDIV, 0, sp), 0xC000008Eu);
  EXPECT_EQ(CrashCodeForSignal(SIGFPE, FPE_INTOVF, 0, sp), 0xC0000095u);
  EXPECT_EQ(CrashCodeForSignal(SIGILL, ILL_ILLOPC, 0, sp), 0xC000001Du);
  EXPECT_EQ(CrashCodeForSignal(SIGILL, ILL_PRVOPC, 0, sp), 0xC0000096u);
  EXPECT_EQ(CrashCodeForSignal(SIGTRAP, TRAP_BRKPT, 0, sp), 0x80000003u);
  EXPECT_EQ(CrashCodeForSignal(SIGTRAP, TRAP_TRACE, 0, sp), 0x80000004u);
  EXPECT_STREQ(CrashExceptionText(CrashCodeForSignal(SIGABRT, SI_TKILL, 0, sp)),
               "An Error has occured. ");
}

// ---- the record ------------------------------------------------------------

CrashRecordFields Fields(void* const* frames, int count) {
  return CrashRecordFields{42, "x == 1\nand \\ more", "src/a.cpp", 17, true, false, frames,
                           count};
}

TEST(CrashRecordTest, RoundTripsEveryField) {
  void* frames[] = {reinterpret_cast<void*>(0x1000), reinterpret_cast<void*>(0x7ffabc123456)};
  char buf[kCrashRecordMax];
  size_t n = CrashFormatRecord(buf, sizeof buf, Fields(frames, 2));
  CrashRecord r;
  ASSERT_TRUE(CrashParseRecord(std::string_view(buf, n), &r));
  EXPECT_EQ(r.pid, 42);
  EXPECT_EQ(r.text, "x == 1\nand \\ more");
  EXPECT_EQ(r.file, "src/a.cpp");
  EXPECT_EQ(r.line, 17u);
  EXPECT_TRUE(r.skipFirst);
  EXPECT_FALSE(r.firstExact);
  EXPECT_EQ(r.frames, (std::vector<uintptr_t>{0x1000, 0x7ffabc123456}));
}

TEST(CrashRecordTest, KeepsAtMostAHundredFramesAndFitsItsBuffer) {
  std::vector<void*> frames(150, reinterpret_cast<void*>(UINTPTR_MAX));
  std::string longText(10000, 'e');
  CrashRecordFields f = Fields(frames.data(), 150);
  f.text = longText.c_str();
  char buf[kCrashRecordMax];
  size_t n = CrashFormatRecord(buf, sizeof buf, f);
  ASSERT_LT(n, sizeof buf);
  CrashRecord r;
  ASSERT_TRUE(CrashParseRecord(std::string_view(buf, n), &r));
  EXPECT_EQ(r.frames.size(), 100u);
  EXPECT_EQ(r.text.size(), kCrashTextMax);

  char tiny[8];
  EXPECT_EQ(CrashFormatRecord(tiny, sizeof tiny, f), 7u);
  EXPECT_EQ(tiny[7], '\0');
}

TEST(CrashRecordTest, RefusesWhatIsNotARecord) {
  CrashRecord r;
  EXPECT_FALSE(CrashParseRecord("", &r));
  EXPECT_FALSE(CrashParseRecord("qor-crash 2\npid 1\ntext a\nfile b\nline 0\n", &r));
  EXPECT_FALSE(CrashParseRecord("qor-crash 1\npid 1\ntext a\nfile b\n", &r));  // no line
  EXPECT_FALSE(CrashParseRecord("qor-crash 1\npid -1\ntext a\nfile b\nline 0\n", &r));
  EXPECT_FALSE(CrashParseRecord("qor-crash 1\npid 1\ntext a\nfile b\nline 4294967296\n", &r));
  EXPECT_FALSE(CrashParseRecord("qor-crash 1\npid 1\ntext a\\\nfile b\nline 0\n", &r));
  EXPECT_FALSE(
      CrashParseRecord("qor-crash 1\npid 1\ntext a\nfile b\nline 0\nframe 12345678901234567\n", &r));
  EXPECT_TRUE(CrashParseRecord("qor-crash 1\npid 1\ntext a\nfile b\nline 4294967295\nnew 1\n", &r));
  EXPECT_EQ(r.line, 4294967295u);
}

TEST(CrashRecordTest, ARecordCutAnywhereIsReadOrRefusedWhole) {
  void* frames[] = {reinterpret_cast<void*>(0xabc)};
  char buf[kCrashRecordMax];
  std::string whole(buf, CrashFormatRecord(buf, sizeof buf, Fields(frames, 1)));
  size_t lineEnd = whole.find("line 17\n") + 8;
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    CrashRecord r;
    bool ok = CrashParseRecord(std::string_view(whole.data(), cut), &r);
    EXPECT_EQ(ok, cut >= lineEnd) << cut;
  }
}

TEST(CrashRecordTest, TheFallbackListsRawAddressesAfterTheReportersOwnFrame) {
  void* frames[] = {reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(0x2f)};
  char buf[1024];
  CrashFormatFallback(buf, sizeof buf, Fields(frames, 2));
  EXPECT_STREQ(buf,
               "Assertion: x == 1\nand \\ more\n\nFile: src/a.cpp\nLine: 17\n\nCallstack:\n"
               "  1: 0x2f\n");
  CrashFormatFallback(buf, sizeof buf, Fields(frames, 1));
  EXPECT_NE(std::string(buf).find("Callstack:\nCallstack Not Available.\n"), std::string::npos);
}

// ---- resolving and formatting ---------------------------------------------

// A function to find in this program's own symbol table.
__attribute__((noinline)) int CrashResolveTest_Probe(int x) { return x * 3 + 1; }

const char kMaps[] =
    "55d000000000-55d000001000 r--p 00000000 08:01 100 /opt/qor/bin/qor\n"
    "55d000001000-55d000005000 r-xp 00001000 08:01 100 /opt/qor/bin/qor\n"
    "7f0000000000-7f0000010000 r-xp 00002000 08:01 200 /lib/libfoo.so\n"
    "7ffd00000000-7ffd00021000 rw-p 00000000 00:00 0   [stack]\n"
    "garbage line\n"
    "zz-10 r-xp 0 0 0 /bad\n";

TEST(CrashResolveTest, ReadsFileMappingsOnly) {
  std::vector<CrashMapping> maps = CrashParseMaps(kMaps);
  ASSERT_EQ(maps.size(), 3u);
  EXPECT_EQ(maps[1].start, 0x55d000001000u);
  EXPECT_EQ(maps[1].offset, 0x1000u);
  EXPECT_EQ(maps[2].path, "/lib/libfoo.so");
}

TEST(CrashResolveTest, PlacesAddressesInTheirModulesAndLooksReturnsUpOneByteBack) {
  CrashRecord record;
  record.firstExact = true;
  record.frames = {0x55d000001234, 0x7f0000000100, 0x1234};
  std::vector<std::pair<std::string, std::vector<uintptr_t>>> asked;
  auto symbolize = [&](const std::string& module, const std::vector<uintptr_t>& addresses) {
    asked.emplace_back(module, addresses);
    std::vector<std::pair<std::string, std::string>> answers;
    if (module == "/opt/qor/bin/qor") answers.emplace_back("Crash(int)", "/src/c.cpp:12 (discriminator 2)");
    if (module == "/lib/libfoo.so") answers.emplace_back("foo", "??:0");
    return answers;
  };
  std::vector<CrashFrame> frames = CrashResolve(record, CrashParseMaps(kMaps), symbolize);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].address, 0x1234u);           // exact, from the load address
  EXPECT_EQ(frames[1].address, 0x7f0000000100u - 0x7f0000000000u + 0x2000u - 1);
  EXPECT_EQ(frames[0].function, "Crash(int)");
  EXPECT_EQ(frames[0].file, "/src/c.cpp");
  EXPECT_EQ(frames[0].line, 12u);
  EXPECT_EQ(frames[1].function, "foo");
  EXPECT_EQ(frames[1].line, 0u);
  EXPECT_TRUE(frames[2].module.empty());
  EXPECT_EQ(asked.size(), 3u);  // the frames, then the bytes before the one with a line
}

// The offsets come from where the function starts (its symbol) and where the
// line's code starts (the first address before the frame on another line).
TEST(CrashResolveTest, FramesKnowHowFarIntoTheirFunctionAndLineTheyAre) {
  CrashRecord record;
  record.firstExact = true;
  record.frames = {0x55d000001234, 0x55d000001300, 0x7f0000000100};
  auto symbolize = [&](const std::string& module, const std::vector<uintptr_t>& addresses) {
    std::vector<std::pair<std::string, std::string>> answers;
    for (uintptr_t a : addresses) {
      if (module != "/opt/qor/bin/qor") {
        answers.emplace_back("foo", "??:0");
      } else if (a >= 0x12f8) {
        answers.emplace_back("g", "/src/g.cpp:3");
      } else {
        // Line 12 from 0x1230 on, line 11 before it.
        answers.emplace_back("Crash(int)", a >= 0x1230 ? "/src/c.cpp:12 (discriminator 1)"
                                                        : "/src/c.cpp:11");
      }
    }
    return answers;
  };
  auto starts = [](const std::string& module, const std::vector<uintptr_t>& addresses) {
    std::vector<std::optional<uintptr_t>> out;
    for (uintptr_t a : addresses)
      out.emplace_back(module == "/lib/libfoo.so" ? 0x20f0 : a >= 0x12f8 ? 0x12f8 : 0x1200);
    return out;
  };
  std::vector<CrashFrame> frames = CrashResolve(record, CrashParseMaps(kMaps), symbolize, starts);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].lineOffset, 4u);
  EXPECT_EQ(frames[0].symbolOffset, 0x34u);
  EXPECT_EQ(frames[1].address, 0x12ffu);
  EXPECT_EQ(frames[1].lineOffset, 7u);  // the function's start bounds the line
  EXPECT_EQ(frames[2].symbolOffset, 0xfu);
  EXPECT_EQ(CrashFormatStack(record, frames),
            "  0: Crash(int) line 12 + 4 bytes\r\n"
            "  1: g line 3 + 7 bytes\r\n"
            "  2: foo + 15 bytes\r\n");
}

TEST(CrashResolveTest, TheOwnFunctionsOfThisProgramAreFoundInItsSymbolTable) {
  std::string maps;
  ASSERT_TRUE(CrashReadMaps(::getpid(), &maps));
  CrashRecord record;
  record.firstExact = true;
  record.frames = {reinterpret_cast<uintptr_t>(&CrashResolveTest_Probe) + 3};
  std::vector<CrashFrame> frames = CrashResolve(record, CrashParseMaps(maps), CrashAddr2Line);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].function, "(anonymous namespace)::CrashResolveTest_Probe(int)");
  EXPECT_EQ(frames[0].symbolOffset, 3u);
  for (const char* notElf : {"/nonexistent", "/proc/self/maps"}) {
    const std::vector<std::optional<uintptr_t>> none = CrashElfSymbolStarts(notElf, {0x1000, 0});
    ASSERT_EQ(none.size(), 2u);
    EXPECT_FALSE(none[0] || none[1]) << notElf;
  }
}

TEST(CrashResolveTest, AnAssertionListsFromFrameOne) {
  CrashRecord record;
  record.skipFirst = true;
  record.frames = {0x55d000001100, 0x55d000001200};
  std::vector<CrashFrame> frames = CrashResolve(record, CrashParseMaps(kMaps), nullptr);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].address, 0x11ffu);
  EXPECT_EQ(CrashFormatStack(record, frames), "  1: !!Unknown!!\r\n");
  EXPECT_EQ(CrashFormatStack(record, {}), "Callstack Not Available.\n");
}

TEST(CrashResolveTest, TheReportHasItsFourLabelledPartsInOrder) {
  CrashRecord record;
  record.text = "p != 0";
  record.file = "EXCEPTION";
  EXPECT_EQ(CrashFormatReport(record, "  0: f + 2 bytes\r\n"),
            "Assertion: p != 0\r\n\r\nFile: EXCEPTION\r\nLine: 0\r\n\r\nCallstack:\r\n"
            "  0: f + 2 bytes\r\n");
}

// ---- real crashes ------------------------------------------------------------

// Where the crashing functions leave their results, so that no optimizer can
// drop the faulting instruction as unused.
volatile int gCrashSink = 0;

__attribute__((noinline, no_sanitize("undefined"))) int CrashByDivision(int value) {
  volatile int zero = 0;
  return value / zero;
}

__attribute__((noinline, no_sanitize("undefined"))) int CrashByNullRead() {
  int* volatile p = nullptr;
  return *p;
}

// The store after the call keeps the call from becoming a jump, which would
// leave no frame of this function on the stack.
__attribute__((noinline)) void AssertingCaller() {
  AssertReport("count == 3", "list.cpp", 88);
  gCrashSink = 0;
}

// What follows a function's name in a frame: its line where the build keeps
// debug information; else (a Release build) the symbol table still names the
// function and how far into it the frame is.
#if QOR_LINE_INFO
constexpr char kAfterName[] = " line ";
constexpr char kAfterNamePattern[] = " line [0-9]+ \\+ [0-9]+ bytes\r\n";
#else
constexpr char kAfterName[] = " + ";
constexpr char kAfterNamePattern[] = " \\+ [0-9]+ bytes\r\n";
#endif

class CrashDeathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The report program must never wait for a click here.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The death test's child runs this again in a process of its own: it
    // takes the parent's folder from the environment.
    if (const char* inherited = std::getenv("QOR_CRASH_TEST_DIR")) {
      dir_ = inherited;
      child_ = true;
      return;
    }
    dir_ = std::filesystem::temp_directory_path() /
           ("qor-crash-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ::setenv("QOR_CRASH_TEST_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (child_) return;
    ::unsetenv("QOR_CRASH_TEST_DIR");
    std::filesystem::remove_all(dir_);
  }

  // Runs in the child: the handler as the emulator installs it, in a folder
  // of the test's own.
  void Arm() {
    std::filesystem::current_path(dir_);
    HostSetCrashReporter(QOR_CRASHREPORTER);
    HostInstallCrashHandler();
  }
  std::string ReportFile() {
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      std::ifstream in(entry.path());
      return std::string(std::istreambuf_iterator<char>(in), {});
    }
    return {};
  }

  std::filesystem::path dir_;
  bool child_ = false;
};

TEST_F(CrashDeathTest, DivisionByZeroReportsItsSentenceAndTheCrashingFunction) {
  EXPECT_EXIT(
      {
        Arm();
        gCrashSink = CrashByDivision(7);
      },
      ::testing::KilledBySignal(SIGFPE),
      std::string("Assertion: The thread tried to divide an integer value by an integer divisor "
                  "of zero\\. \r\n\r\nFile: EXCEPTION\r\nLine: 0\r\n\r\nCallstack:\r\n  0: "
                  "[^\n]*CrashByDivision\\(int\\)") +
          kAfterNamePattern);
  std::string report = ReportFile();
  EXPECT_EQ(report.rfind("Assertion: The thread tried to divide an integer value", 0), 0u);
  EXPECT_NE(report.find("  0: "), std::string::npos);
  EXPECT_NE(report.find(std::string("CrashByDivision(int)") + kAfterName), std::string::npos)
      << report;
}

TEST_F(CrashDeathTest, ANullReadReportsAnAccessViolationInTheCrashingFunction) {
  EXPECT_EXIT(
      {
        Arm();
        gCrashSink = CrashByNullRead();
      },
      ::testing::KilledBySignal(SIGSEGV),
      std::string("Assertion: The thread tried to read from or write to a virtual address for "
                  "which it does not have the appropriate access\\. \r\n\r\nFile: EXCEPTION\r\n"
                  "Line: 0\r\n\r\nCallstack:\r\n  0: [^\n]*CrashByNullRead\\(\\)") +
          kAfterNamePattern + "  1: [^\n]*CrashDeathTest");
  EXPECT_NE(ReportFile().find(std::string("CrashByNullRead()") + kAfterName), std::string::npos);
}

TEST_F(CrashDeathTest, WithoutTheReportProgramTheRawReportStillReachesStandardError) {
  EXPECT_EXIT(
      {
        std::filesystem::current_path(dir_);
        HostSetCrashReporter("/nonexistent/qor_crashreport");
        HostInstallCrashHandler();
        gCrashSink = CrashByDivision(1);
      },
      ::testing::KilledBySignal(SIGFPE),
      "Assertion: The thread tried to divide[^\n]*\n\nFile: EXCEPTION\nLine: 0\n\nCallstack:\n"
      "  0: 0x[0-9a-f]+\n");
}

TEST_F(CrashDeathTest, AnIgnoredAssertionReportsTheCallerAndReturns) {
  HostSetCrashReporter(QOR_CRASHREPORTER);
  std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  ::testing::internal::CaptureStderr();
  AssertingCaller();
  std::string err = ::testing::internal::GetCapturedStderr();
  std::filesystem::current_path(old);
  EXPECT_EQ(
      err.rfind("Assertion: count == 3\r\n\r\nFile: list.cpp\r\nLine: 88\r\n\r\nCallstack:\r\n  1: ",
                0),
      0u)
      << err;
  EXPECT_NE(err.find(std::string("AssertingCaller()") + kAfterName), std::string::npos) << err;
  EXPECT_EQ(err.find("AssertReport"), std::string::npos) << err;
  EXPECT_EQ(ReportFile(), err.substr(0, err.find("The report is in")));
}

}  // namespace
