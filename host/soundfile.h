// A wave-output device that plays into files: each stream becomes the RIFF
// file "<folder>/<prefix><n>.wav" (n counting from 1), PCM with the stream's
// format, and each buffer is reported done once its bytes are written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/sound.h"

class WaveFileDevice {
 public:
  explicit WaveFileDevice(std::string folder, std::string prefix = "wave");
  WaveFileDevice(const WaveFileDevice&) = delete;
  WaveFileDevice& operator=(const WaveFileDevice&) = delete;

  // Install these with WaveOutInstall; they stay valid as long as the device.
  const WaveOutOps* Ops() const { return &ops_; }
  // The files written so far, in order of opening.
  const std::vector<std::string>& Files() const { return files_; }

 private:
  struct Stream;
  static void* Open(void* ctx, const WaveFormat* format, WavePlayer* player);
  static void Write(void* ctx, void* stream, WaveHeader* header);
  static void Close(void* ctx, void* stream);

  WaveOutOps ops_;
  std::string folder_;
  std::string prefix_;
  uint32_t counter_ = 0;
  std::vector<std::string> files_;
};

// The 44-byte header of a PCM RIFF/WAVE file holding dataBytes of samples.
void WaveWriteRiffHeader(uint8_t out[44], const WaveFormat& format, uint32_t dataBytes);
