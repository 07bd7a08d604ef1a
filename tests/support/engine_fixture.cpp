#include "tests/support/engine_fixture.h"

#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {
void FreshHeap(std::vector<uint64_t>& heap, uint32_t bytes) {
  heap.assign(bytes / sizeof(uint64_t), 0);
  HeapArenaInit(heap.data(), bytes);
  MemSetEvictor(nullptr);
}
}  // namespace

void EngineFixture::SetUp() {
  FreshHeap(heap_, heapBytes_);
  platform = std::make_unique<FakePlatform>();
  ASSERT_EQ(TskmanInit(), kOk);
}

void EngineFixture::TearDown() {
  TskmanShutdown();
  platform.reset();
}

int EngineFixture::Pump(int maxSteps) {
  int steps = 0;
  while (TskmanPendingCount() > 0) {
    if (++steps > maxSteps) {
      ADD_FAILURE() << "the ring did not drain in " << maxSteps << " steps";
      break;
    }
    TskmanStep();
  }
  return steps;
}

int EngineFixture::Settle(int maxSteps) {
  int steps = 0;
  while (TskmanStep() != kTskmanNothingRan) {
    if (++steps > maxSteps) {
      ADD_FAILURE() << "the engine did not fall quiet in " << maxSteps << " steps";
      break;
    }
  }
  return steps;
}

void EngineFixture::Tick(int n) {
  for (int i = 0; i < n; ++i)
    if (platform->tickRunning) TskmanTimerTick();
}

void HeapFixture::SetUp() { FreshHeap(heap_, heapBytes_); }

std::vector<void*> EatHeap(uint32_t reserve) {
  std::vector<void*> eaten;
  for (uint32_t size = 1u << 20; size >= 16; size /= 2)
    while (void* p = MemAlloc(size, Use::Data, Mod::TestCode)) eaten.push_back(p);
  // Give back the smallest first until the reserve is free.
  while (!eaten.empty() && HeapGetStats().freeBytes < reserve) {
    MemFreeRaw(eaten.back());
    eaten.pop_back();
  }
  return eaten;
}

std::vector<void*> EatHeapFinely(uint32_t reserve) {
  std::vector<void*> eaten = EatHeap(reserve);
  for (uint32_t size = 1u << 14; size >= 8;) {
    const HeapStats stats = HeapGetStats();
    if (stats.freeBytes <= reserve || stats.freeBytes - reserve < size) {
      size /= 2;
      continue;
    }
    void* p = MemAlloc(size, Use::Data, Mod::TestCode);
    if (!p) {
      size /= 2;
      continue;
    }
    eaten.push_back(p);
  }
  return eaten;
}
