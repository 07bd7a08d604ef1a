// The stop of push reception with an inbox of N Service Indications, the
// heap of a 16 MB handset and a quota that holds them all: the save keeps
// the newest that fit the inbox's section. The yardstick is the stop of an
// inbox that fits its section whole (300 messages): a bigger inbox writes
// no more than that, so it should stop in about the same time.
//
// The burst: N pushes still waiting outside the engine when the stop comes,
// as a stop right after a burst finds them in the short-message socket. The
// stop hands them to push reception one after the other, each once the
// engine has done with the one before, and then saves: the time is that of
// routing the N pushes and of the save. Its yardstick is the stop of an
// inbox with nothing waiting.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/ubstore.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "services/service_rows.h"
#include "tests/support/failure_record.h"
#include "tests/support/fake_platform.h"
#include "tests/support/pushed_object.h"
#include "tests/support/recorder.h"

namespace {

constexpr uint32_t kHeapBytes = 16u << 20;  // [Memory] Size=16384

// A compiled SI (signal-medium, no dates) of its own si-id and text.
std::string SiOf(int i) {
  std::string si("\x03\x05\x6A\x00\x45\xC6\x0D\x03", 8);
  si += "example";
  si += '\0';
  si += "\x85\x03news/today.wml";
  si += '\0';
  si += "\x11\x03id-" + std::to_string(i);
  si += '\0';
  si += "\x07\x01\x03News number " + std::to_string(i);
  si += '\0';
  si += "\x01\x01";
  return si;
}

void Pump() {
  while (TskmanPendingCount() > 0) TskmanStep();
}

// The engine with push reception and local content running in a folder of
// its own, the inbox filled with `messages` SIs.
class InboxRig {
 public:
  explicit InboxRig(int messages) : heap_(kHeapBytes / sizeof(uint64_t)) {
    HeapArenaInit(heap_.data(), kHeapBytes);
    MemSetEvictor(nullptr);
    platform_ = std::make_unique<FakePlatform>();
    platform_->now = 1765000000;
    old_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "qor_bench_XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    dir_ = pattern;
    std::filesystem::current_path(dir_);
    if (TskmanInit() != kOk) return;
    starter_ = std::make_unique<Recorder>(Mod::UiStart);
    status_ = std::make_unique<Recorder>(Mod::Stat);
    Pump();
    UbstoreSetQuota("repository", 1 << 24);
    if (ConfigStart(starter_->task()) != kOk) return;
    Pump();
    ServiceRowsInstall();
    LcStartTask(starter_->task());
    if (NotifyStartTask(starter_->task()) != kOk) return;
    Pump();
    // Routed as they come, as the handset's pushes are.
    Burst(messages);
    // All of them, or as many of the newest as its section holds (300 fit).
    const auto kept = static_cast<int>(NotifyKeptCount());
    ok_ = kept == messages || (kept >= 300 && kept < messages);
  }
  ~InboxRig() {
    if (TskmanFind(Mod::Notify)) Stop();
    ServiceRowsRemove();
    ConfigStop();
    Pump();
    status_.reset();
    starter_.reset();
    TskmanShutdown();
    UbstoreSetQuota("repository", 8000);
    if (!dir_.empty()) {
      std::filesystem::current_path(old_);
      std::filesystem::remove_all(dir_);
    }
    platform_.reset();
  }
  InboxRig(const InboxRig&) = delete;
  InboxRig& operator=(const InboxRig&) = delete;

  bool ok() const { return ok_; }
  // N pushes, each routed before the next comes.
  bool Burst(int count) {
    for (int i = 0; i < count; ++i) {
      if (!Place(i)) return false;
      Pump();
    }
    return true;
  }
  // The stop, until push reception has answered it.
  bool Stop() {
    NotifyStopTask();
    Pump();
    LcStopTask(starter_->task());
    Pump();
    return !TskmanFind(Mod::Notify);
  }

 private:
  bool Place(int i) {
    const std::string url = "push:+4917012345." + std::to_string(i + 1);
    if (!CachePushedObject(url, "application/vnd.wap.sic", SiOf(i))) return false;
    TskmanPost(TskmanFind(Mod::Notify), NotifyMsg::Push,
               reinterpret_cast<uintptr_t>(LibcStrDup(url.c_str())), 0);
    return true;
  }

  std::vector<uint64_t> heap_;
  std::unique_ptr<FakePlatform> platform_;
  std::unique_ptr<Recorder> starter_, status_;
  std::filesystem::path dir_, old_;
  bool ok_ = false;
};

void BM_InboxStop(benchmark::State& state) {
  // What the stop says of the messages that did not fit is not the point.
  FailureRecord quiet;
  for (auto _ : state) {
    state.PauseTiming();
    {
      InboxRig rig(static_cast<int>(state.range(0)));
      if (!rig.ok()) {
        state.SkipWithError("the inbox did not fill");
        break;
      }
      state.ResumeTiming();
      const bool stopped = rig.Stop();
      state.PauseTiming();
      if (!stopped) {
        state.SkipWithError("push reception did not stop");
        break;
      }
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_InboxStop)->Arg(300)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(10000)
    ->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_InboxStopAfterBurst(benchmark::State& state) {
  FailureRecord quiet;
  for (auto _ : state) {
    state.PauseTiming();
    {
      InboxRig rig(0);
      if (!rig.ok()) {
        state.SkipWithError("push reception did not start");
        break;
      }
      state.ResumeTiming();
      const bool placed = rig.Burst(static_cast<int>(state.range(0)));
      const bool stopped = rig.Stop();
      if (!placed) {
        state.SkipWithError("the pushes could not be placed");
        break;
      }
      state.PauseTiming();
      if (!stopped) {
        state.SkipWithError("push reception did not stop");
        break;
      }
    }
    state.ResumeTiming();
  }
}
// 0: the yardstick, nothing queued.
BENCHMARK(BM_InboxStopAfterBurst)->Arg(0)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(10000)
    ->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
