// Recorder tasks: real tasks of the task manager that log every message they
// receive, and may react through a callback.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "kernel/tskman.h"

struct Received {
  uint32_t message;
  uintptr_t arg1;
  uintptr_t arg2;
  bool operator==(const Received&) const = default;
};

class Recorder {
 public:
  using React = std::function<Result(Recorder&, const Received&)>;

  // Creates the task (its start message 256 is posted as usual).
  explicit Recorder(uint32_t id, React react = nullptr);
  ~Recorder();  // destroys the task if it still exists
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  TskmanTask* task() const { return task_; }
  // Messages received, in order; with `skipStart` the 256 is left out.
  std::vector<uint32_t> Messages(bool skipStart = true) const;
  size_t Count(uint32_t message) const;
  void Destroy();  // destroys the task now

  std::vector<Received> log;
  Result answer = kOk;  // what the handler returns when there is no callback

 private:
  static Result Handler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);
  TskmanTask* task_ = nullptr;
  React react_;
};
