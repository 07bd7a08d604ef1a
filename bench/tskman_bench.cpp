// Posting and stepping events through the task manager, against the plainest
// alternative a C++ programmer would reach for: a std::deque of
// std::function, run in the same binary.
#include <benchmark/benchmark.h>

#include <deque>
#include <functional>
#include <vector>

#include "bench/bench_engine.h"
#include "kernel/tskman.h"

namespace {

constexpr int kBatch = 16;  // events in flight, well inside the ring

struct Counter {
  uint64_t sum = 0;
};

Result CountHandler(void* context, uint32_t, uintptr_t arg1, uintptr_t) {
  static_cast<Counter*>(context)->sum += arg1;
  return kOk;
}

void BM_TskmanPostStep(benchmark::State& state) {
  BenchEngine engine(BenchPart::Tasks);
  if (!engine.ok()) return state.SkipWithError("no task manager");
  Counter counter;
  TskmanTask* task = nullptr;
  TskmanCreateTask(&task, 70, CountHandler, &counter);
  TskmanStep();  // the start message
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) TskmanPost(task, 0x4601, static_cast<uintptr_t>(i), 0);
    for (int i = 0; i < kBatch; ++i) TskmanStep();
  }
  benchmark::DoNotOptimize(counter.sum);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_TskmanPostStep);

void BM_DequeOfFunctions(benchmark::State& state) {
  std::deque<std::function<void()>> queue;
  Counter counter;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) queue.emplace_back([&counter, i] { counter.sum += i; });
    for (int i = 0; i < kBatch; ++i) {
      queue.front()();
      queue.pop_front();
    }
  }
  benchmark::DoNotOptimize(counter.sum);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DequeOfFunctions);

}  // namespace
