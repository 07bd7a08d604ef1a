// Sound output: the streaming wave player and the wave-output devices under
// it, and the system sounds.
//
// A producer writes sound data in pieces of any size; the player gathers
// them into three 4096-byte buffers, keeps up to two of them queued at the
// device (one per slot), and captures every piece to a file in "ubaudio".
// Devices finish buffers on threads of their own; WaveNotifyDone hands the
// completion over, and WaveDeliverDone runs it on the main thread, where the
// producer writes (the player's state has no lock).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct WaveFormat {
  uint16_t channels;
  uint32_t rate;  // samples per second, all 32 bits
  uint16_t bits;
  uint16_t BlockAlign() const { return static_cast<uint16_t>(channels * bits / 8); }
  uint32_t BytesPerSecond() const { return rate * BlockAlign(); }
};

// One buffer handed to a device: the bytes stay valid until the device
// reports the buffer done.
struct WaveHeader {
  const uint8_t* data;
  uint32_t length;
  uint32_t flags;  // kWaveHeaderPrepared while it is with the device
};
constexpr uint32_t kWaveHeaderPrepared = 1;

struct WavePlayer;

// A wave-output device. `open` gives a stream handle, or null when it refuses
// the format; every written header is reported done, in order, with
// WaveNotifyDone(player, header) from any thread, until the stream closes.
struct WaveOutOps {
  void* ctx;
  bool (*supports)(void* ctx, const WaveFormat* format);  // a query only
  void* (*open)(void* ctx, const WaveFormat* format, WavePlayer* player);
  void (*write)(void* ctx, void* stream, WaveHeader* header);
  void (*close)(void* ctx, void* stream);
};
// Installs the device players open from now on (null: none, every open is
// refused); returns the old.
const WaveOutOps* WaveOutInstall(const WaveOutOps* ops);

// The producer's data source, asked for more when a buffer completes.
struct WaveSource {
  void* ctx;
  // A block to write, or a failure result (the stub source gives 0x8001).
  Result (*read)(void* ctx, const uint8_t** data, uint32_t* length);
};

// Format codes of WavePlayerOpen.
constexpr uint32_t kWaveMono = 0x1000, kWaveStereo = 0x2000;
constexpr uint32_t kWave8000 = 0x10, kWave11025 = 0x20, kWave22050 = 0x30, kWave44100 = 0x40;
constexpr uint32_t kWave8Bit = 0x100, kWave16Bit = 0x200;
constexpr uint32_t kWaveBufferSize = 4096;
constexpr int kWaveBufferCount = 3;

// The format of the codes: channels 0 (the data decides), rate 0 for codes
// it does not know, also for a bits code it does not know.
WaveFormat WaveDecodeFormat(uint32_t channels, uint32_t rate, uint32_t bits);
// The format at the start of the data: a RIFF/WAVE header whose "fmt " chunk
// is PCM gives its channels, rate and bits; anything else reads as 1 channel,
// 8000 Hz, 8 bits. Only the `length` bytes given are read.
WaveFormat WaveProbeHeader(const uint8_t* data, uint32_t length);

// A player, or null when memory is short. With a non-zero channels code the
// device opens at once; otherwise the first buffer's data decides.
WavePlayer* WavePlayerOpen(const WaveSource* source, uint32_t channels, uint32_t rate,
                           uint32_t bits);
// Captures all the bytes, then fills buffers with what fits; *more is 1 when
// the producer may write again at once. *taken (when not null) gets the bytes
// the buffers took. Returns 0.
int WavePlayerWrite(WavePlayer* player, const uint8_t* bytes, uint32_t length, int* more,
                    uint32_t* taken = nullptr);
// Queues what is left and lets the player go: it frees itself when the last
// buffer completes, or at once when nothing is at the device.
void WavePlayerClose(WavePlayer* player);

// The folder capture files go to ("ubaudio" unless set); it must exist.
void WaveSetCaptureFolder(const char* folder);

// Hands a device's completion to the main thread; callable from any thread.
void WaveNotifyDone(WavePlayer* player, WaveHeader* header);
// Runs the completions handed over so far; main thread only. Returns how many.
int WaveDeliverDone();
// Called (from the notifying thread) after each WaveNotifyDone, so that the
// host can schedule WaveDeliverDone on its main thread; null for none.
void WaveSetWake(void (*wake)());

// System sounds by alias ("SystemStart"), played asynchronously; a new sound
// or a stop ends the one playing. Nothing plays until a host installs ops.
struct SoundSystemOps {
  void* ctx;
  void (*play)(void* ctx, const char* alias);
  void (*stop)(void* ctx);
};
const SoundSystemOps* SoundSystemInstall(const SoundSystemOps* ops);
void SoundPlaySystem(const char* alias);
void SoundStopSystem();
