// A platform that records what the engine asks of the host: repaints, tick
// starts and stops, message boxes; with a settable clock and an in-memory
// screen.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/platform/hoststate.h"
#include "host/platform/platform.h"

struct FakeRect {
  int32_t left, top, right, bottom;
  bool operator==(const FakeRect&) const = default;
};

class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Gives the engine a white screen of this size (RGB565, pitch rounded to 4).
  void MakeScreen(int32_t width, int32_t height);
  uint16_t Pixel(int32_t x, int32_t y) const;

  std::vector<FakeRect> invalidated;
  std::vector<std::pair<std::string, std::string>> messageBoxes;  // {title, text}
  bool tickRunning = false;
  int tickStarts = 0;
  int tickStops = 0;
  int failTickStart = 0;  // the value startTick answers; 0 = success
  int64_t now = 0;
  int32_t zoneMinutes = 0;
  std::vector<uint16_t> screen;
  struct State {
    void* host;
    int32_t state;
    uint32_t status;
  };
  std::vector<State> states;  // HostStateChanged reports, in order

 private:
  PlatformOps ops_;
  const PlatformOps* previous_;
  HostStateCallback previousState_;
  FakePlatform* recorder_;
};
