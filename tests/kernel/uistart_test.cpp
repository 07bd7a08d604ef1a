// The start-up task: both start phases in order, both stop chains in reverse
// order, and the failure of any module unwinding exactly what runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "content/handover_rows.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"
#include "host/platform/files.h"
#include "tests/support/engine_fixture.h"
#include "services/provisioning/prov.h"
#include "services/push/notify.h"
#include "tests/support/fake_platform.h"

namespace {

struct Seen {
  uint32_t task;
  uint32_t message;
};
std::vector<Seen>* gSeen = nullptr;

void Observe(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t) {
  if (gSeen) gSeen->push_back({task->id, message});
}

class UiStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qor-start-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    heap_.assign((1u << 20) / 8, 0);
    HeapArenaInit(heap_.data(), 1u << 20);
    MemSetEvictor(nullptr);
    platform_.MakeScreen(160, 240);
    gSeen = &seen_;
    TskmanSetObserver(Observe);
  }
  void TearDown() override {
    TskmanSetObserver(nullptr);
    gSeen = nullptr;
    if (!finished_) HostStopEngine();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }

  // Steps and ticks until nothing is left to do or the start-up task ends.
  void Run(int maxSteps = 20000) {
    for (int i = 0; i < maxSteps && !finished_; ++i) {
      if (TskmanPendingCount() == 0) {
        if (!platform_.tickRunning) return;
        TskmanTimerTick();
        continue;
      }
      if (TskmanStep() == kUiStartFinished) {
        finished_ = true;
        HostStopEngine();
      }
    }
  }
  std::vector<int32_t> States() const {
    std::vector<int32_t> states;
    for (const auto& s : platform_.states) states.push_back(s.state);
    return states;
  }
  // The messages the start-up task received, in order.
  std::vector<uint32_t> StartTaskLog() const {
    std::vector<uint32_t> log;
    for (const Seen& s : seen_)
      if (s.task == 45 && s.message != TskMsg::Timer) log.push_back(s.message);
    return log;
  }
  void StartServices() {
    ASSERT_EQ(HostStartEngine(&host_), kOk);
    Run();
    ASSERT_EQ(States(), std::vector<int32_t>{0});
  }
  void StartBrowser() {
    ASSERT_EQ(UiStartBrowser("info://HOME/general/gohome.html"), kOk);
    Run();
  }

  FakePlatform platform_;
  int host_ = 0;
  bool finished_ = false;
  std::vector<Seen> seen_;
  std::vector<uint64_t> heap_;
  std::filesystem::path dir_, old_;
};

const std::vector<uint32_t> kServicesUp = {256,    0x200,  0x5100, 0x5200, 0x3100,
                                           0x1700, 0x1711, 0x4A00, 0x4507, 0x2D82};
const std::vector<uint32_t> kServicesDown = {0x2D80, 0x4506, 0x4A09, 0x1713, 0x1701,
                                             0x3102, 0x5102, 0x203,  0x2D81};

std::vector<uint32_t> Cat(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(UiStartTest, ServicesStartInOrderAndStopInReverse) {
  StartServices();
  EXPECT_EQ(StartTaskLog(), kServicesUp);
  EXPECT_EQ(States(), std::vector<int32_t>{0});
  UiStopServices();
  Run();
  EXPECT_TRUE(finished_);
  EXPECT_EQ(StartTaskLog(), Cat(kServicesUp, kServicesDown));
  EXPECT_EQ(States(), (std::vector<int32_t>{0, 2}));
  EXPECT_EQ(platform_.states.back().status, kOk);
  EXPECT_EQ(platform_.states.back().host, &host_);
}

TEST_F(UiStartTest, TheBrowserPhaseStartsAfterTheSplashAndEndsBeforeTheServices) {
  StartServices();
  StartBrowser();
  const std::vector<uint32_t> browserUp = {0x2D83, 0x2D84, 0x3A02, 0, 0x4D00, 0x2D85};
  EXPECT_EQ(StartTaskLog(), Cat(kServicesUp, browserUp));
  EXPECT_EQ(States(), (std::vector<int32_t>{0, 3}));
  ASSERT_NE(TskmanFind(19), nullptr);  // the browser window's task

  UiSendEndKey();
  Run();
  const std::vector<uint32_t> browserDown = {0x1304, 0x4D06, 1, 0x3A03};
  EXPECT_EQ(StartTaskLog(), Cat(Cat(kServicesUp, browserUp), browserDown));
  EXPECT_EQ(States(), (std::vector<int32_t>{0, 3, 5}));
  EXPECT_EQ(TskmanFind(19), nullptr);
  EXPECT_EQ(TskmanFind(21), nullptr);

  UiStopServices();
  Run();
  EXPECT_TRUE(finished_);
}

// A module that cannot start: the ones started before it stop in reverse
// order, the loop ends, and the failure is reported.
struct FailCase {
  uint32_t module;
  std::vector<uint32_t> log;  // what the start-up task receives
};

class UiStartFailureTest : public UiStartTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(UiStartFailureTest, OnlyWhatStartedIsStopped) {
  TskmanFailNextCreate(GetParam().module);
  ASSERT_EQ(HostStartEngine(&host_), kOk);
  Run();
  EXPECT_TRUE(finished_);
  EXPECT_EQ(StartTaskLog(), GetParam().log);
  ASSERT_FALSE(platform_.states.empty());
  EXPECT_EQ(platform_.states.back().state, 1);
  EXPECT_NE(platform_.states.back().status, kOk);
}

INSTANTIATE_TEST_SUITE_P(
    EachServiceModule, UiStartFailureTest,
    ::testing::Values(
        FailCase{2, {256, 0x2D81}},
        FailCase{49, {256, 0x200, 0x5100, 0x5200, 0x3102, 0x5102, 0x203, 0x2D81}},
        FailCase{24, {256, 0x200, 0x5100, 0x5200, 0x3100, 0x1700, 0x1791, 0x1713, 0x1701, 0x3102,
                      0x5102, 0x203, 0x2D81}},
        FailCase{69, {256, 0x200, 0x5100, 0x5200, 0x3100, 0x1700, 0x1711, 0x4A00, 0x4506, 0x4A09,
                      0x1713, 0x1701, 0x3102, 0x5102, 0x203, 0x2D81}},
        // Push reception stands but its URL task does not: it answers its
        // failure, which stands for its stop.
        FailCase{13, {256, 0x200, 0x5100, 0x5200, 0x3100, 0x1700, 0x1711, 0x4A00, 0x4508, 0x4506,
                      0x4A09, 0x1713, 0x1701, 0x3102, 0x5102, 0x203, 0x2D81}}),
    [](const auto& info) { return "Module" + std::to_string(info.param.module); });

// The heap runs short at any step of the service start: the start either
// comes up or ends with its failure reported, never waits for ever, and a
// stop of what came up ends the engine.
TEST_F(UiStartTest, AStartShortOfMemoryAtAnyStepEndsOrComesUp) {
  uint32_t failed = 0, up = 0, pushFailed = 0;
  bool cameUpFirst = false;
  for (int steps = 0; steps < 400 && !cameUpFirst; ++steps) {
    for (uint32_t reserve : {0u, 512u, 4096u}) {
      SCOPED_TRACE(testing::Message() << "step " << steps << ", reserve " << reserve);
      ASSERT_EQ(HostStartEngine(&host_), kOk);
      Run(steps);
      cameUpFirst = !finished_ && !platform_.states.empty();
      std::vector<void*> eaten;
      if (!finished_) eaten = EatHeap(reserve);
      Run();
      for (void* p : eaten) MemFreeRaw(p);
      Run();
      if (finished_) {
        ++failed;
        ASSERT_FALSE(platform_.states.empty());
        EXPECT_EQ(platform_.states.back().state, 1);
        EXPECT_NE(platform_.states.back().status, kOk);
        const std::vector<uint32_t> log = StartTaskLog();
        if (std::find(log.begin(), log.end(), 0x4508u) != log.end()) {
          ++pushFailed;
          EXPECT_EQ(platform_.states.back().status, static_cast<uint32_t>(kNotifyNoMemory));
        }
      } else {
        ++up;
        EXPECT_EQ(States(), std::vector<int32_t>{0})
            << "the start waits for ever after " << testing::PrintToString(StartTaskLog());
        UiStopServices();
        Run();
        EXPECT_TRUE(finished_) << "the stop waits for ever";
      }
      if (!finished_) HostStopEngine();
      finished_ = false;
      platform_.states.clear();
      seen_.clear();
      HeapArenaInit(heap_.data(), 1u << 20);
    }
  }
  EXPECT_TRUE(cameUpFirst);
  EXPECT_GT(failed, 0u);
  EXPECT_GT(up, 0u);
  EXPECT_GT(pushFailed, 0u);
}

std::vector<std::string>* gUnread = nullptr;
void NoteUnread(const char* path) {
  if (gUnread) gUnread->push_back(path);
}

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
}
void WriteAll(const char* path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A back stack of 16 long addresses, as its file keeps it.
std::string LongBackStack() {
  std::string out;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
  };
  u32(16);
  u32(15);
  for (uint32_t i = 0; i < 16; ++i) {
    u32(i);
    u32(0);
    out += std::string(2, '\0');
    const std::string address = "http://example.com/" + std::string(180, static_cast<char>('a' + i));
    u32(static_cast<uint32_t>(address.size() + 1));
    out += address + '\0';
    u32(0);
    u32(0);
  }
  return out;
}

// Whatever memory the start has, every kept file it reads is read whole, or
// left as it is and said: never written over with what memory could not
// read. A pass every 256 bytes finds where each file's read runs short; the
// heap is then cut 64 bytes apart around it.
TEST_F(UiStartTest, EachFileTheStartReadsIsReadWholeOrLeftAsItIsAndSaid) {
  // The files as a whole start and stop leave them, the back stack long,
  // and the class files no module writes at its stop made readable too.
  WriteAll("IntHist.dat", LongBackStack());
  ASSERT_NO_FATAL_FAILURE(StartServices());
  StartBrowser();
  UiSendEndKey();
  Run();
  UiStopServices();
  Run();
  ASSERT_TRUE(finished_);
  for (const char* blank : {"page", "access", "repository"}) WriteAll(blank, ReadAll("persistent"));
  const char* const files[] = {"hist.dat", "IntHist.dat", "page", "persistent", "access",
                               "repository"};
  std::vector<std::string> kept;
  for (const char* file : files) {
    kept.push_back(ReadAll(file));
    ASSERT_NE(kept.back(), "(none)") << file;
  }
  std::vector<std::string> unread;
  gUnread = &unread;
  const FileNotReadHook before = PlatformFileOnNotRead(NoteUnread);
  // One start and stop with `left` bytes for the engine: whether it came up
  // and read every file. Each file is as it was, whatever was said.
  auto run = [&](uint32_t left) {
    SCOPED_TRACE(left);
    unread.clear();
    finished_ = false;
    platform_.states.clear();
    HeapArenaInit(heap_.data(), 1u << 20);
    EatHeapFinely(left);
    bool up = false;
    if (HostStartEngine(&host_) == kOk) {
      Run();
      up = !finished_ && States() == std::vector<int32_t>{0};
      if (up && UiStartBrowser("info://HOME/general/gohome.html") == kOk) {
        Run();
        up = States() == std::vector<int32_t>{0, 3};
        UiSendEndKey();
        Run();
      }
      if (!finished_) UiStopServices();
      Run();
      if (!finished_) HostStopEngine();
    }
    finished_ = true;
    for (size_t i = 0; i < std::size(files); ++i) {
      EXPECT_EQ(ReadAll(files[i]), kept[i]) << files[i];
      WriteAll(files[i], kept[i]);
    }
    return up && unread.empty();
  };
  auto isSaid = [&](const char* file) {
    return std::find(unread.begin(), unread.end(), file) != unread.end();
  };
  // The least memory that reads them all.
  uint32_t low = 0, high = 1u << 19;
  ASSERT_TRUE(run(high));
  while (high - low > 64) {
    const uint32_t mid = (low + high) / 2 & ~63u;
    (run(mid) ? high : low) = mid;
  }
  std::vector<uint32_t> first(std::size(files), 0);
  for (uint32_t left = high; left >= 256; left -= 256) {
    run(left);
    for (size_t i = 0; i < std::size(files); ++i)
      if (!first[i] && isSaid(files[i])) first[i] = left;
  }
  for (size_t i = 0; i < std::size(files); ++i) {
    SCOPED_TRACE(files[i]);
    uint32_t said = 0;
    for (uint32_t left = first[i] + 256; first[i] && left + 256 >= first[i] && left >= 64;
         left -= 64) {
      run(left);
      said += isSaid(files[i]);
    }
    EXPECT_GT(said, 0u);
  }
  PlatformFileOnNotRead(before);
  gUnread = nullptr;
}

class UiStartBrowserFailureTest : public UiStartTest,
                                  public ::testing::WithParamInterface<uint32_t> {};

// Authentication, cookies and the variable parser answer even when they
// cannot start: the browser phase goes on without them.
TEST_P(UiStartBrowserFailureTest, TheBrowserPhaseGoesOnWithout) {
  StartServices();
  TskmanFailNextCreate(GetParam());
  StartBrowser();
  EXPECT_EQ(States(), (std::vector<int32_t>{0, 3}));
}

INSTANTIATE_TEST_SUITE_P(EachBrowserModule, UiStartBrowserFailureTest,
                         ::testing::Values(58u, 59u, 77u),
                         [](const auto& info) { return "Module" + std::to_string(info.param); });

}  // namespace

namespace {

// A download held for provisioning belongs to the engine that fetched it:
// once that engine has ended, a new one holds nothing, rather than a
// pointer into the memory the old one ran in.
TEST_F(UiStartTest, AHeldDownloadEndsWithItsEngine) {
  StartServices();
  UrlParsed url{};
  ASSERT_EQ(UrlParse(&url, "http://h/item", 0), kOk);
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  ASSERT_NE(load, nullptr);
  const uint8_t item[] = {0x16, 'x', 'y', 'z'};
  ASSERT_EQ(UtilDataChunkAppend(&load->input, item, sizeof item, Mod::Url), kOk);
  load->endOfData = 1;
  EXPECT_EQ(NdwnContentProcess(nullptr, load), NdwnCode::HandedOver);
  NdwnContentRelease(nullptr, load);
  UrlLoadFree(load);
  ASSERT_NE(NdwnHeldItem(nullptr), nullptr);
  EXPECT_EQ(ProvHeldItemKind(), 5u);
  UiStopServices();
  Run();
  ASSERT_TRUE(finished_);
  // The next engine starts on fresh memory.
  HeapArenaInit(heap_.data(), 1u << 20);
  EXPECT_EQ(NdwnHeldItem(nullptr), nullptr);
  EXPECT_EQ(ProvHeldItemKind(), 0u);
  EXPECT_EQ(ProvHeldItemCheck(1), 0x80550009u);
}


// The services are stopped while push reception has not yet answered its
// start, whether it then comes up or fails: the stop ends the engine, and
// push reception answers once, its start or its failure, never both.
TEST_F(UiStartTest, AStopBeforePushReceptionAnswersItsStartEnds) {
  uint32_t tried = 0, pushFailed = 0;
  for (int steps = 0; steps < 400; ++steps) {
    for (uint32_t reserve : {0u, 2048u, 1u << 20}) {
      SCOPED_TRACE(testing::Message() << "step " << steps << ", reserve " << reserve);
      ASSERT_EQ(HostStartEngine(&host_), kOk);
      Run(steps);
      const std::vector<uint32_t> before = StartTaskLog();
      const bool waiting = !finished_ && TskmanFind(Mod::Notify) &&
                           std::count(before.begin(), before.end(), 0x4507u) == 0 &&
                           std::count(before.begin(), before.end(), 0x4508u) == 0;
      if (waiting) {
        ++tried;
        std::vector<void*> eaten = EatHeap(reserve);
        UiStopServices();
        Run();
        for (void* p : eaten) MemFreeRaw(p);
        Run();
        EXPECT_TRUE(finished_) << "the stop waits for ever after "
                               << testing::PrintToString(StartTaskLog());
        const std::vector<uint32_t> log = StartTaskLog();
        const auto up = std::count(log.begin(), log.end(), 0x4507u);
        const auto down = std::count(log.begin(), log.end(), 0x4508u);
        EXPECT_EQ(up + down, 1) << testing::PrintToString(log);
        EXPECT_LE(std::count(log.begin(), log.end(), 0x4506u), 1) << testing::PrintToString(log);
        pushFailed += down ? 1 : 0;
      } else {
        // Ended the usual way: an engine cut off mid-run would leave reads in flight.
        Run();
        if (!finished_) UiStopServices();
        Run();
      }
      if (!finished_) HostStopEngine();
      finished_ = false;
      platform_.states.clear();
      seen_.clear();
      HeapArenaInit(heap_.data(), 1u << 20);
    }
  }
  EXPECT_GT(tried, 0u);
  EXPECT_GT(pushFailed, 0u);
}

}  // namespace
