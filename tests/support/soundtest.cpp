#include "tests/support/soundtest.h"

namespace {
WaveTestDevice* Self(void* ctx) { return static_cast<WaveTestDevice*>(ctx); }
}  // namespace

WaveTestDevice::WaveTestDevice() {
  ops_.ctx = this;
  ops_.supports = [](void* ctx, const WaveFormat* format) {
    Self(ctx)->queried.push_back(*format);
    return !Self(ctx)->refuse;
  };
  ops_.open = [](void* ctx, const WaveFormat* format, WavePlayer* player) -> void* {
    auto stream = std::make_unique<Stream>(Stream{*format, player, true, {}});
    Self(ctx)->streams.push_back(std::move(stream));
    return Self(ctx)->streams.back().get();
  };
  ops_.write = [](void* ctx, void* stream, WaveHeader* header) {
    auto* s = static_cast<Stream*>(stream);
    s->written.emplace_back(reinterpret_cast<const char*>(header->data), header->length);
    Self(ctx)->pending_.push_back({s, header});
  };
  ops_.close = [](void*, void* stream) { static_cast<Stream*>(stream)->open = false; };
  previous_ = WaveOutInstall(&ops_);
}

WaveTestDevice::~WaveTestDevice() { WaveOutInstall(previous_); }

int WaveTestDevice::Complete(int n) {
  int done = 0;
  while (done < n && !pending_.empty()) {
    Out out = pending_.front();
    pending_.pop_front();
    WaveNotifyDone(out.stream->player, out.header);
    ++done;
  }
  return done;
}
