// Polling for tests that talk to a simulator or a socket: repeat one round of
// work until a condition holds. The deadline is generous because it only
// matters when the test fails; a loaded machine merely takes more rounds.
#pragma once
#include <chrono>
#include <functional>
#include <thread>

inline bool PollUntil(const std::function<bool()>& done, const std::function<void()>& round = {}) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (round) round();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}
