#include "tests/support/fake_platform.h"

#include "host/platform/hoststate.h"
#include "host/platform/shell.h"

namespace {
FakePlatform* Self(void* ctx) { return static_cast<FakePlatform*>(ctx); }
// The state callback has no context: the newest fake records.
FakePlatform* gRecorder = nullptr;
}  // namespace

FakePlatform::FakePlatform() {
  ops_.ctx = this;
  ops_.invalidate = [](void* ctx, int32_t l, int32_t t, int32_t r, int32_t b) {
    Self(ctx)->invalidated.push_back({l, t, r, b});
  };
  ops_.startTick = [](void* ctx) {
    FakePlatform* self = Self(ctx);
    if (self->failTickStart) return self->failTickStart;
    self->tickRunning = true;
    ++self->tickStarts;
    return 0;
  };
  ops_.stopTick = [](void* ctx) {
    Self(ctx)->tickRunning = false;
    ++Self(ctx)->tickStops;
  };
  ops_.messageBox = [](void* ctx, const char* title, const char* text) {
    Self(ctx)->messageBoxes.emplace_back(title, text);
  };
  ops_.now = [](void* ctx) { return Self(ctx)->now; };
  ops_.zoneMinutes = [](void* ctx) { return Self(ctx)->zoneMinutes; };
  previous_ = PlatformInstall(&ops_);
  recorder_ = gRecorder;
  gRecorder = this;
  previousState_ = HostStateInstall([](void* host, HostState state, uint32_t status) {
    if (gRecorder) gRecorder->states.push_back({host, static_cast<int32_t>(state), status});
  });
}

FakePlatform::~FakePlatform() {
  HostStateInstall(previousState_);
  gRecorder = recorder_;
  ShellSetScreenGeometry(0, 0, nullptr);
  PlatformInstall(previous_);
}

void FakePlatform::MakeScreen(int32_t width, int32_t height) {
  int32_t pitch = (width + 3) & ~3;
  screen.assign(static_cast<size_t>(pitch) * height, 0xFFFF);
  ShellSetScreenGeometry(width, height, screen.data());
}

uint16_t FakePlatform::Pixel(int32_t x, int32_t y) const {
  return screen[static_cast<size_t>(y) * ShellGetScreen().pitch + x];
}
