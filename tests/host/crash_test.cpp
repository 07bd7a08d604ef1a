// The crash report: signals to sentences, the record between the failing
// process and the report program, the ELF symbol tables, formatting the call
// stack, and real crashes reported end to end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/crash.h"
#include "host/crashrecord.h"
#include "host/crashreport.h"
#include "tests/support/temp_dir.h"

namespace {


// ---- sentences -------------------------------------------------------------

TEST(CrashTextTest, SignalsNameTheirCodes) {
  const uintptr_t sp = 0x7ff000000000;
  struct Row {
    int signal, code;
    uintptr_t address;
    uint32_t expected;
  };
  const Row rows[] = {
      {SIGSEGV, SEGV_MAPERR, 0, 0xC0000005},        {SIGSEGV, SEGV_MAPERR, 0x10, 0xC0000005},
      {SIGSEGV, SEGV_MAPERR, sp + 65536, 0xC0000005}, {SIGSEGV, SEGV_MAPERR, sp + 65535, 0xC00000FD},
      {SIGSEGV, SEGV_MAPERR, sp - 65536, 0xC00000FD}, {SIGSEGV, SEGV_MAPERR, sp - 65537, 0xC0000005},
      {SIGBUS, BUS_ADRALN, 3, 0x80000002},          {SIGBUS, BUS_ADRERR, 3, 0xC0000006},
      {SIGFPE, FPE_INTDIV, 0, 0xC0000094},          {SIGFPE, FPE_INTOVF, 0, 0xC0000095},
      {SIGFPE, FPE_FLTDIV, 0, 0xC000008E},          {SIGFPE, FPE_FLTOVF, 0, 0xC0000091},
      {SIGFPE, FPE_FLTUND, 0, 0xC0000093},          {SIGFPE, FPE_FLTRES, 0, 0xC000008F},
      {SIGFPE, FPE_FLTSUB, 0, 0xC000008C},          {SIGFPE, FPE_FLTINV, 0, 0xC0000090},
      {SIGILL, ILL_ILLOPC, 0, 0xC000001D},          {SIGILL, ILL_PRVOPC, 0, 0xC0000096},
      {SIGILL, ILL_PRVREG, 0, 0xC0000096},          {SIGTRAP, TRAP_BRKPT, 0, 0x80000003},
      {SIGTRAP, TRAP_TRACE, 0, 0x80000004},
  };
  for (const Row& row : rows)
    EXPECT_EQ(CrashCodeForSignal(row.signal, row.code, row.address, sp), row.expected)
        << row.signal << " " << row.code << " " << std::hex << row.address;
  // Near address zero the stack's reach does not wrap around.
  EXPECT_EQ(CrashCodeForSignal(SIGSEGV, SEGV_MAPERR, 8, 4096), 0xC00000FDu);
  EXPECT_STREQ(CrashExceptionText(CrashCodeForSignal(SIGABRT, SI_TKILL, 0, sp)),
               "An Error has occured. ");
}

TEST(CrashTextTest, EverySentenceEndsWithOneBlank) {
  EXPECT_STREQ(CrashExceptionText(0xC0000094),
               "The thread tried to divide an integer value by an integer divisor of zero. ");
  EXPECT_STREQ(CrashExceptionText(0xC0000005),
               "The thread tried to read from or write to a virtual address for which it does "
               "not have the appropriate access. ");
  for (uint32_t code : {0xC0000005u, 0xC000008Cu, 0x80000003u, 0x80000002u, 0xC000008Du,
                        0xC000008Eu, 0xC000008Fu, 0xC0000090u, 0xC0000091u, 0xC0000092u,
                        0xC0000093u, 0xC000001Du, 0xC0000006u, 0xC0000094u, 0xC0000095u,
                        0xC0000026u, 0xC0000025u, 0xC0000096u, 0x80000004u, 0xC00000FDu, 7u}) {
    std::string text = CrashExceptionText(code);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.back(), ' ') << std::hex << code;
    EXPECT_NE(text[text.size() - 2], ' ') << std::hex << code;
  }
}

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

// ---- the symbol tables of ELF files ---------------------------------------

// A test encoder of the little ELF file the symbol reader needs: the header,
// a null section, one symbol table and its symbols.
struct ElfSymbol {
  uint64_t value, size;
  unsigned type;  // 2: a function
};
struct ElfShape {
  bool wide = true;
  std::vector<ElfSymbol> symbols;
  unsigned sectionType = 2;      // 2 symbol table, 11 dynamic symbols
  uint64_t tableOffsetShift = 0; // moves the table's offset, past the file's end too
};

void Put(std::string* out, size_t at, uint64_t value, size_t n) {
  if (out->size() < at + n) out->resize(at + n, '\0');
  for (size_t i = 0; i < n; ++i) (*out)[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

std::string MakeElf(const ElfShape& shape) {
  const bool w = shape.wide;
  const size_t shentsize = w ? 64 : 40, symSize = w ? 24 : 16, shoff = 64;
  const size_t table = shoff + 2 * shentsize;
  std::string f(64, '\0');
  f.replace(0, 4, "\x7f" "ELF");
  f[4] = w ? 2 : 1;
  f[5] = 1;  // little-endian
  f[6] = 1;
  Put(&f, w ? 0x28 : 0x20, shoff, w ? 8 : 4);
  Put(&f, w ? 0x3A : 0x2E, shentsize, 2);
  Put(&f, w ? 0x3C : 0x30, 2, 2);
  const size_t sh = shoff + shentsize;  // section 1; section 0 stays null
  Put(&f, sh + 4, shape.sectionType, 4);
  Put(&f, sh + (w ? 0x18 : 0x10), table + shape.tableOffsetShift, w ? 8 : 4);
  Put(&f, sh + (w ? 0x20 : 0x14), shape.symbols.size() * symSize, w ? 8 : 4);
  f.resize(table + shape.symbols.size() * symSize, '\0');
  for (size_t i = 0; i < shape.symbols.size(); ++i) {
    const size_t at = table + i * symSize;
    const ElfSymbol& sym = shape.symbols[i];
    Put(&f, at + (w ? 4 : 12), sym.type, 1);
    Put(&f, at + (w ? 8 : 4), sym.value, w ? 8 : 4);
    Put(&f, at + (w ? 16 : 8), sym.size, w ? 8 : 4);
  }
  return f;
}

// The symbol reader takes functions from the symbol tables of well-formed
// little-endian files of either width and finds nothing in anything else.
TEST(CrashElfTest, FunctionStartsComeOnlyFromWellFormedFiles) {
  const std::vector<ElfSymbol> symbols = {
      {0x1000, 0x100, 2}, {0x1040, 0x20, 2}, {0x2000, 0x100, 1}, {0x3000, 0, 2}};
  const std::vector<uintptr_t> addresses = {0x1010, 0x1050, 0x2010, 0x3000, 0x5000};
  using Starts = std::vector<std::optional<uintptr_t>>;
  const Starts found = {0x1000, 0x1040, std::nullopt, std::nullopt, std::nullopt};
  const Starts none(addresses.size());
  struct Row {
    const char* name;
    std::string file;
    Starts expected;
  };
  std::string badMagic = MakeElf({true, symbols});
  badMagic[1] = 'e';
  std::string noClass = MakeElf({true, symbols});
  noClass[4] = 3;
  std::string bigEndian = MakeElf({true, symbols});
  bigEndian[5] = 2;
  std::string narrowEntries = MakeElf({true, symbols});
  Put(&narrowEntries, 0x3A, 40, 2);  // a 64-bit file with 32-bit section entries
  std::string shortSections = MakeElf({false, symbols});
  Put(&shortSections, 0x2E, 39, 2);
  const std::string wide = MakeElf({true, symbols});
  const Row rows[] = {
      {"64-bit", wide, found},
      {"32-bit", MakeElf({false, symbols}), found},
      {"dynamic symbols", MakeElf({true, symbols, 11}), found},
      {"another section", MakeElf({true, symbols, 3}), none},
      {"table past the end", MakeElf({true, symbols, 2, 4096}), none},
      {"bad magic", badMagic, none},
      {"class 3", noClass, none},
      {"big-endian", bigEndian, none},
      {"64-bit, narrow entries", narrowEntries, none},
      {"32-bit, narrow entries", shortSections, none},
      {"cut in the header", wide.substr(0, 51), none},
      {"64-bit cut after 52 bytes", wide.substr(0, 60), none},
      {"cut in the last symbol", wide.substr(0, wide.size() - 1), none},
  };
  TempDir dir;
  for (const Row& row : rows) {
    const std::string path = dir / "module";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << row.file;
    EXPECT_EQ(CrashElfSymbolStarts(path, addresses), row.expected) << row.name;
  }
  for (const char* notElf : {"/nonexistent", "/proc/self/maps"})
    EXPECT_EQ(CrashElfSymbolStarts(notElf, addresses), none) << notElf;
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
