// A wave-output device for tests: it takes every format unless told to
// refuse, keeps what it is given, and reports buffers done only on command,
// the way a device's own thread would (through WaveNotifyDone).
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "host/sound.h"

class WaveTestDevice {
 public:
  WaveTestDevice();   // installs itself as the wave-output device
  ~WaveTestDevice();  // restores the one before
  WaveTestDevice(const WaveTestDevice&) = delete;
  WaveTestDevice& operator=(const WaveTestDevice&) = delete;

  struct Stream {
    WaveFormat format;
    WavePlayer* player;
    bool open;
    std::vector<std::string> written;  // each buffer's bytes, in order
  };

  // Reports the oldest n buffers still at the device done; returns how many.
  int Complete(int n = 1);
  size_t Pending() const { return pending_.size(); }

  bool refuse = false;              // `supports` answers false
  std::vector<WaveFormat> queried;  // every format asked about
  std::vector<std::unique_ptr<Stream>> streams;

 private:
  struct Out {
    Stream* stream;
    WaveHeader* header;
  };
  WaveOutOps ops_;
  const WaveOutOps* previous_;
  std::deque<Out> pending_;
};
