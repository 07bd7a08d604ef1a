// The crash report: the record between the failing process and the report
// program, formatting the call stack, and real crashes reported end to end.
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


TEST(CrashTextTest, AFaultJustBelowTheStackIsTheStackUsedUp) {
  const uintptr_t sp = 0x7ff000000000;
  EXPECT_STREQ(CrashExceptionText(CrashCodeForSignal(SIGSEGV, SEGV_MAPERR, sp - 4096, sp)),
               "The thread used up its stack. ");
  EXPECT_EQ(CrashCodeForSignal(SIGBUS, BUS_ADRALN, 3, sp), 0x80000002u);
}


CrashRecordFields Fields(void* const* frames, int count) {
  return CrashRecordFields{42, "x == 1\nand \\ more", "src/a.cpp", 17, true, false, frames,
                           count};
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

// A record from elsewhere may hold longer texts than the failing side writes;
// they are cut to the same length.
TEST(CrashRecordTest, LongTextsAreCutAsTheFailingSideCutsThem) {
  const std::string tooLong(kCrashTextMax + 900, 'a');
  const std::string record = "qor-crash 1\npid 1\ntext " + tooLong + "\\n\nfile " + tooLong +
                             "\nline 2\nend\n";
  CrashRecord r;
  ASSERT_TRUE(CrashParseRecord(record, &r));
  EXPECT_EQ(r.text, tooLong.substr(0, kCrashTextMax));
  EXPECT_EQ(r.file, tooLong.substr(0, kCrashTextMax));
}


const char kMaps[] =
    "55d000000000-55d000001000 r--p 00000000 08:01 100 /opt/qor/bin/qor\n"
    "55d000001000-55d000005000 r-xp 00001000 08:01 100 /opt/qor/bin/qor\n"
    "7f0000000000-7f0000010000 r-xp 00002000 08:01 200 /lib/libfoo.so\n"
    "7ffd00000000-7ffd00021000 rw-p 00000000 00:00 0   [stack]\n"
    "garbage line\n"
    "zz-10 r-xp 0 0 0 /bad\n";

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
  EXPECT_EQ(frames[1].address, 0x12ffu);  // a return address: one byte back
  EXPECT_EQ(CrashFormatStack(record, frames),
            "  0: Crash(int) line 12 + 4 bytes\r\n"
            "  1: g line 3 + 7 bytes\r\n"  // the function's start bounds the line
            "  2: foo + 15 bytes\r\n");
}


// Where the crashing functions leave their results, so that no optimizer can
// drop the faulting instruction as unused.
volatile int gCrashSink = 0;

__attribute__((noinline, no_sanitize("undefined"))) int CrashByDivision(int value) {
  volatile int zero = 0;
  return value / zero;
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
  // The same report is kept in a file.
  EXPECT_NE(ReportFile().find(std::string("CrashByDivision(int)") + kAfterName), std::string::npos);
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
