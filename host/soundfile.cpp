#include "host/soundfile.h"

#include <cstdio>

namespace {

constexpr uint32_t kRiffHeaderSize = 44;

void WavePut16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void WavePut32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void WavePutId(uint8_t* p, const char* id) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(id[i]);
}

}  // namespace

struct WaveFileDevice::Stream {
  std::FILE* file;
  WaveFormat format;
  WavePlayer* player;
  uint32_t dataBytes;
};

void WaveWriteRiffHeader(uint8_t out[44], const WaveFormat& format, uint32_t dataBytes) {
  uint32_t pad = dataBytes & 1;
  WavePutId(out, "RIFF");
  WavePut32(out + 4, 36 + dataBytes + pad);
  WavePutId(out + 8, "WAVE");
  WavePutId(out + 12, "fmt ");
  WavePut32(out + 16, 16);
  WavePut16(out + 20, 1);  // PCM
  WavePut16(out + 22, format.channels);
  WavePut32(out + 24, format.rate);
  WavePut32(out + 28, format.BytesPerSecond());
  WavePut16(out + 32, format.BlockAlign());
  WavePut16(out + 34, format.bits);
  WavePutId(out + 36, "data");
  WavePut32(out + 40, dataBytes);
}

WaveFileDevice::WaveFileDevice(std::string folder, std::string prefix)
    : folder_(std::move(folder)), prefix_(std::move(prefix)) {
  ops_.ctx = this;
  ops_.supports = [](void*, const WaveFormat* f) {
    return f->channels > 0 && f->rate > 0 && (f->bits == 8 || f->bits == 16);
  };
  ops_.open = Open;
  ops_.write = Write;
  ops_.close = Close;
}

void* WaveFileDevice::Open(void* ctx, const WaveFormat* format, WavePlayer* player) {
  auto* self = static_cast<WaveFileDevice*>(ctx);
  std::string path = self->folder_ + "/" + self->prefix_ + std::to_string(++self->counter_) + ".wav";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return nullptr;
  // The sizes are written again when the stream closes.
  uint8_t header[kRiffHeaderSize];
  WaveWriteRiffHeader(header, *format, 0);
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header) {
    std::fclose(file);
    return nullptr;
  }
  self->files_.push_back(path);
  return new Stream{file, *format, player, 0};
}

void WaveFileDevice::Write(void*, void* stream, WaveHeader* header) {
  auto* s = static_cast<Stream*>(stream);
  // A buffer that would take the file past 4 GiB is dropped, not wrapped.
  if (header->length <= UINT32_MAX - kRiffHeaderSize - 1 - s->dataBytes &&
      std::fwrite(header->data, 1, header->length, s->file) == header->length)
    s->dataBytes += header->length;
  WaveNotifyDone(s->player, header);
}

void WaveFileDevice::Close(void*, void* stream) {
  auto* s = static_cast<Stream*>(stream);
  if (s->dataBytes & 1) std::fputc(0, s->file);
  uint8_t header[kRiffHeaderSize];
  WaveWriteRiffHeader(header, s->format, s->dataBytes);
  if (std::fseek(s->file, 0, SEEK_SET) == 0) std::fwrite(header, 1, sizeof header, s->file);
  std::fclose(s->file);
  delete s;
}
