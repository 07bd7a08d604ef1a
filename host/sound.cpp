// The streaming wave player: three 4096-byte buffers, two device slots, and
// a capture file of everything the producer wrote.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/platform/files.h"
#include "host/platform/shell.h"
#include "host/sound.h"

namespace {

enum WaveBufferState : uint8_t { kFree = 0, kFilling = 1, kFull = 2, kQueued = 3 };

struct WaveSlot {
  WaveHeader header;
  const uint8_t* inFlight;  // null: the slot is idle
  int32_t playing;          // buffer at the device, -1 none
  int32_t next;             // buffer waiting for the slot, -1 none
  uint32_t nextLength;
};

struct WaveDevice {
  void* stream;  // null until the format is known and the device took it
  const WaveOutOps* ops;
  WaveSlot slots[2];
  int playing;
  uint8_t* block;
  uint8_t state[kWaveBufferCount];
  int32_t fill;
  uint32_t offset;
  uint32_t room;
  int32_t nextSlot;
  int started;
};

const WaveOutOps* gOps = nullptr;
std::string gCaptureFolder = "ubaudio";
constexpr int kCaptureTries = 100;

}  // namespace

struct WavePlayer {
  const WaveSource* source;
  WaveDevice* device;
  std::FILE* capture;
};

namespace {

uint8_t* WaveBuffer(WaveDevice* d, int32_t index) { return d->block + index * kWaveBufferSize; }

bool WaveOpenDevice(WavePlayer* player, const WaveFormat& format) {
  const WaveOutOps* ops = gOps;
  if (!ops || !ops->supports(ops->ctx, &format)) return false;
  void* stream = ops->open(ops->ctx, &format, player);
  if (!stream) return false;
  player->device->stream = stream;
  player->device->ops = ops;
  return true;
}

void WavePrepare(WaveDevice* d, int k) {
  WaveSlot& s = d->slots[k];
  if (s.next < 0) {
    s.playing = -1;
    s.inFlight = nullptr;
    return;
  }
  s.inFlight = WaveBuffer(d, s.next);
  s.header = WaveHeader{s.inFlight, s.nextLength, kWaveHeaderPrepared};
  d->state[s.next] = kQueued;
  s.playing = s.next;
  s.next = -1;
}

void WaveWriteSlot(WaveDevice* d, int k) {
  if (d->slots[k].playing >= 0) d->ops->write(d->ops->ctx, d->stream, &d->slots[k].header);
}

void WaveQueueBuffer(WavePlayer* player, int32_t index, uint32_t length) {
  WaveDevice* d = player->device;
  int k = d->nextSlot;
  d->nextSlot ^= 1;
  d->slots[k].next = index;
  d->slots[k].nextLength = length;
  if (!d->stream && k == 0) {
    WaveFormat format = WaveProbeHeader(WaveBuffer(d, index), length);
    if (format.channels == 0)
      d->playing = 0;
    else
      WaveOpenDevice(player, format);
  }
  if (!d->stream) return;
  if (!d->started && d->slots[0].next >= 0 && d->slots[1].next >= 0) {
    WavePrepare(d, 0);
    WavePrepare(d, 1);
    d->started = 1;
    WaveWriteSlot(d, 0);
    WaveWriteSlot(d, 1);
  } else if (d->started && !d->slots[k].inFlight) {
    WavePrepare(d, k);
    WaveWriteSlot(d, k);
  }
}

// Marks the fill buffer full, moves on to the next one and queues it.
void WaveBufferFilled(WavePlayer* player, uint32_t length) {
  WaveDevice* d = player->device;
  int32_t index = d->fill;
  d->state[index] = kFull;
  d->fill = (d->fill + 1) % kWaveBufferCount;
  d->offset = 0;
  d->room = kWaveBufferSize;
  WaveQueueBuffer(player, index, length);
}

// Copies what fits into the fill buffer when it may take data.
uint32_t WaveFill(WaveDevice* d, const uint8_t* bytes, uint32_t length) {
  if (d->state[d->fill] != kFree && d->state[d->fill] != kFilling) return 0;
  uint32_t n = length < d->room ? length : d->room;
  if (n == 0) return 0;
  std::memcpy(WaveBuffer(d, d->fill) + d->offset, bytes, n);
  d->offset += n;
  d->room -= n;
  d->state[d->fill] = kFilling;
  return n;
}

void WaveFree(WavePlayer* player) {
  WaveDevice* d = player->device;
  if (d) {
    if (d->stream) d->ops->close(d->ops->ctx, d->stream);
    PlatformFree(d->block);
    PlatformFree(d);
  }
  if (player->capture) std::fclose(player->capture);
  PlatformFree(player);
}

void WaveRefill(WavePlayer* player) {
  const WaveSource* source = player->source;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (!source || !source->read || source->read(source->ctx, &data, &length) != kOk || !data)
    return;
  int more = 0;
  WavePlayerWrite(player, data, length, &more);
}

// "<folder>/<time in hex>.wav"; a second player in the same second gets
// "-2", "-3"... rather than truncating the first one's capture.
std::FILE* WaveOpenCapture() {
  char stem[32];
  std::snprintf(stem, sizeof stem, "%" PRIx64, static_cast<uint64_t>(ShellNow()));
  for (int n = 1; n <= kCaptureTries; ++n) {
    std::string path = gCaptureFolder + "/" + stem;
    if (n > 1) path += "-" + std::to_string(n);
    path += ".wav";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      std::FILE* f = ::fdopen(fd, "wb");
      if (!f) ::close(fd);
      return f;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

}  // namespace

const WaveOutOps* WaveOutInstall(const WaveOutOps* ops) {
  const WaveOutOps* old = gOps;
  gOps = ops;
  return old;
}

void WaveSetCaptureFolder(const char* folder) {
  gCaptureFolder = folder && *folder ? folder : "ubaudio";
}

WavePlayer* WavePlayerOpen(const WaveSource* source, uint32_t channels, uint32_t rate,
                           uint32_t bits) {
  auto* player = static_cast<WavePlayer*>(PlatformAlloc(sizeof(WavePlayer)));
  if (!player) return nullptr;
  std::memset(player, 0, sizeof *player);
  player->source = source;
  player->device = static_cast<WaveDevice*>(PlatformAlloc(sizeof(WaveDevice)));
  if (!player->device) {
    WaveFree(player);
    return nullptr;
  }
  WaveDevice* d = player->device;
  std::memset(d, 0, sizeof *d);
  d->block = static_cast<uint8_t*>(PlatformAlloc(kWaveBufferSize * kWaveBufferCount));
  if (!d->block) {
    WaveFree(player);
    return nullptr;
  }
  for (WaveSlot& s : d->slots) s.playing = s.next = -1;
  d->room = kWaveBufferSize;
  d->playing = 1;
  if (channels != 0) WaveOpenDevice(player, WaveDecodeFormat(channels, rate, bits));
  player->capture = WaveOpenCapture();  // no capture is not an error
  return player;
}

int WavePlayerWrite(WavePlayer* player, const uint8_t* bytes, uint32_t length, int* more,
                    uint32_t* taken) {
  WaveDevice* d = player->device;
  if (player->capture && length) std::fwrite(bytes, 1, length, player->capture);
  uint32_t used = WaveFill(d, bytes, length);
  if (used > 0 && d->room == 0) {
    WaveBufferFilled(player, kWaveBufferSize);
    if (used < length && d->state[d->fill] == kFree) {
      used += WaveFill(d, bytes + used, length - used);
      if (d->room == 0) WaveBufferFilled(player, kWaveBufferSize);
    }
  }
  uint8_t state = d->state[d->fill];
  *more = state == kFree || (state == kFilling && d->room > 0) ? 1 : 0;
  if (taken) *taken = used;
  return 0;
}

void WavePlayerClose(WavePlayer* player) {
  WaveDevice* d = player->device;
  if (d->state[d->fill] == kFilling && d->offset > 0) WaveBufferFilled(player, d->offset);
  // A sound shorter than two buffers never started the device: write what
  // waits, whichever slot holds it.
  if (d->stream && !d->started) {
    for (int k = 0; k < 2; ++k) {
      if (d->slots[k].next >= 0 && !d->slots[k].inFlight) {
        WavePrepare(d, k);
        WaveWriteSlot(d, k);
      }
    }
  }
  if (player->capture) std::fclose(player->capture);
  player->capture = nullptr;
  d->playing = 0;
  // Nothing at the device means no completion will ever come to free it.
  if (!d->slots[0].inFlight && !d->slots[1].inFlight) WaveFree(player);
}

// A completion on the main thread (from WaveDeliverDone).
void WavePlayerDone(WavePlayer* player, WaveHeader* header) {
  WaveDevice* d = player->device;
  int k = header == &d->slots[0].header ? 0 : header == &d->slots[1].header ? 1 : -1;
  if (k < 0 || !d->slots[k].inFlight) return;
  WaveSlot& s = d->slots[k];
  WaveSlot& other = d->slots[k ^ 1];
  if (s.playing >= 0) d->state[s.playing] = kFree;
  s.header.flags = 0;
  if (s.next >= 0) {
    WavePrepare(d, k);
    WaveWriteSlot(d, k);
    return;
  }
  s.playing = -1;
  s.inFlight = nullptr;
  if (!other.inFlight) d->started = 0;
  if (!d->playing && !other.inFlight) {
    WaveFree(player);
    return;
  }
  if (d->playing) WaveRefill(player);
}
