// The fixture every engine test stands on: a fresh heap of a chosen size, a
// fake platform, and the real task manager, with a pump and a manual tick.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "kernel/tskman.h"
#include "tests/support/fake_platform.h"
#include "tests/support/recorder.h"

class EngineFixture : public ::testing::Test {
 protected:
  explicit EngineFixture(uint32_t heapBytes = 1u << 20) : heapBytes_(heapBytes) {}

  void SetUp() override;
  void TearDown() override;

  // Steps the scheduler until no event is pending (idle tasks are not run);
  // returns the number of steps. Fails the test past maxSteps.
  int Pump(int maxSteps = 100000);
  // Steps the scheduler as the host's loop does, idle tasks too, until a
  // step finds nothing to run; returns the number of steps. Fails the test
  // past maxSteps.
  int Settle(int maxSteps = 100000);
  // One scheduler step.
  Result Step() { return TskmanStep(); }
  // Delivers n host ticks, as the host does: only while the tick runs.
  void Tick(int n = 1);

  std::unique_ptr<FakePlatform> platform;

 private:
  uint32_t heapBytes_;
  std::vector<uint64_t> heap_;
};

// Brings up only a heap, for tests of code that allocates but needs no tasks.
class HeapFixture : public ::testing::Test {
 protected:
  explicit HeapFixture(uint32_t heapBytes = 1u << 20) : heapBytes_(heapBytes) {}
  void SetUp() override;

 private:
  uint32_t heapBytes_;
  std::vector<uint64_t> heap_;
};

// Takes the heap in blocks until only about `reserve` bytes are free, for
// tests that run modules short of memory; the caller frees the blocks.
std::vector<void*> EatHeap(uint32_t reserve);
// The same to within a small block: the coarse eater frees whole blocks of
// doubling sizes, so that what lies between two of its steps would depend on
// the sizes of the structures a module takes; the rest is filled a block at
// a time.
std::vector<void*> EatHeapFinely(uint32_t reserve);
