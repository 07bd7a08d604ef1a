// Formats, the wave header probe, the hand-over of device completions to the
// main thread, and the system sounds.
#include <atomic>
#include <deque>
#include <mutex>
#include <utility>

#include "host/sound.h"

namespace {

uint16_t WaveLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t WaveLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
bool WaveIs(const uint8_t* p, const char* id) {
  return p[0] == id[0] && p[1] == id[1] && p[2] == id[2] && p[3] == id[3];
}

constexpr uint16_t kWavePcm = 1;

struct WaveDone {
  WavePlayer* player;
  WaveHeader* header;
};

// The lock and the queue live as long as the program: devices may report
// from their threads until the very end.
std::mutex& WaveDoneLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::deque<WaveDone>& WaveDoneQueue() {
  static auto* queue = new std::deque<WaveDone>;
  return *queue;
}
std::atomic<void (*)()> gWake{nullptr};

const SoundSystemOps* gSystemOps = nullptr;

}  // namespace

// Implemented with the player.
void WavePlayerDone(WavePlayer* player, WaveHeader* header);

WaveFormat WaveDecodeFormat(uint32_t channels, uint32_t rate, uint32_t bits) {
  WaveFormat f{};
  f.channels = channels == kWaveMono ? 1 : channels == kWaveStereo ? 2 : 0;
  switch (rate) {
    case kWave8000: f.rate = 8000; break;
    case kWave11025: f.rate = 11025; break;
    case kWave22050: f.rate = 22050; break;
    case kWave44100: f.rate = 44100; break;
    default: f.rate = 0; break;
  }
  if (bits == kWave8Bit) {
    f.bits = 8;
  } else if (bits == kWave16Bit) {
    f.bits = 16;
  } else {
    f.rate = 0;
  }
  return f;
}

// The chunks are walked by their sizes rather than searched for by name, so
// that text inside a LIST chunk cannot pass for the format.
WaveFormat WaveProbeHeader(const uint8_t* data, uint32_t length) {
  WaveFormat f{1, 8000, 8};
  if (!data || length < 12 || !WaveIs(data, "RIFF") || !WaveIs(data + 8, "WAVE")) return f;
  uint32_t pos = 12;
  while (length - pos >= 8) {
    uint32_t size = WaveLe32(data + pos + 4);
    uint32_t body = pos + 8;
    if (WaveIs(data + pos, "fmt ")) {
      if (length - body >= 16 && WaveLe16(data + body) == kWavePcm) {
        f.channels = WaveLe16(data + body + 2);
        f.rate = WaveLe32(data + body + 4);
        f.bits = WaveLe16(data + body + 14);
      }
      break;
    }
    uint64_t next = static_cast<uint64_t>(body) + size + (size & 1);
    if (next > length) break;
    pos = static_cast<uint32_t>(next);
  }
  return f;
}

void WaveNotifyDone(WavePlayer* player, WaveHeader* header) {
  {
    std::lock_guard<std::mutex> hold(WaveDoneLock());
    WaveDoneQueue().push_back({player, header});
  }
  if (void (*wake)() = gWake.load()) wake();
}

int WaveDeliverDone() {
  int delivered = 0;
  for (;;) {
    WaveDone done;
    {
      std::lock_guard<std::mutex> hold(WaveDoneLock());
      if (WaveDoneQueue().empty()) return delivered;
      done = WaveDoneQueue().front();
      WaveDoneQueue().pop_front();
    }
    WavePlayerDone(done.player, done.header);
    ++delivered;
  }
}

void WaveSetWake(void (*wake)()) { gWake.store(wake); }

const SoundSystemOps* SoundSystemInstall(const SoundSystemOps* ops) {
  const SoundSystemOps* old = gSystemOps;
  gSystemOps = ops;
  return old;
}

void SoundPlaySystem(const char* alias) {
  if (gSystemOps && alias) gSystemOps->play(gSystemOps->ctx, alias);
}

void SoundStopSystem() {
  if (gSystemOps) gSystemOps->stop(gSystemOps->ctx);
}
