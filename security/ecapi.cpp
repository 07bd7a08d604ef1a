// The security task: it keeps the random seed of the cryptographic provider
// across runs, in "randseed" of section "security".
#include "security/ecapi.h"

#include <cstddef>

#include "host/platform/shell.h"
#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/tskservice.h"

namespace {

constexpr char kSeedName[] = "randseed";

struct EcapiContext {
  TskmanTask* task;
  TskmanTask* requester;
  bool stopping;
  // Memory kept the start from the seed kept: the one of this run is not
  // put over it (the store said the file unread).
  bool unread;
  uint8_t seed[kEcapiSeedBytes];
};

void ReadSeed(EcapiContext* ctx, ConfigHandle* handle) {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ConfigKind kind{};
  if (handle && ConfigGetRaw(handle, kSeedName, 0, &data, &length, &kind) == kOk && data) {
    LibcMemCopy(ctx->seed, data, length < kEcapiSeedBytes ? length : kEcapiSeedBytes);
    return;
  }
  // No seed yet: start from the clock, so that runs do not repeat each other.
  int64_t now = ShellNow();
  for (uint32_t i = 0; i < kEcapiSeedBytes; ++i)
    ctx->seed[i] = static_cast<uint8_t>(now >> ((i % 8) * 8)) ^ static_cast<uint8_t>(i * 151);
}

Result EcapiTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// The seed of this run that the stop could not keep: the next start
// begins from the one kept before.
void SaySeedNotKept(Result why) {
  char what[96] = "the random seed: ";
  LibcStrCat(LibcStrCat(what, ConfigWhyText(why)), "; it is not kept");
  ConfigSayNotKept("security", what);
}
void SeedNotKept(TskmanTask*, Result status) { SaySeedNotKept(status); }

constexpr TskService kEcapi{.module = Mod::Ecapi,
                            .handler = EcapiTaskHandler,
                            .contextBytes = sizeof(EcapiContext),
                            .starterAt = offsetof(EcapiContext, requester),
                            .started = EcapiMsg::Started,
                            .ownError = true,
                            .stopped = EcapiMsg::Stopped};

Result EcapiTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<EcapiContext*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      ConfigOpen(ctx->task, "security", false);
      return kOk;
    case ConfigMsg::Opened: {
      auto* handle = reinterpret_cast<ConfigHandle*>(arg2);
      if (!ctx->stopping) {
        ctx->unread = !handle && ResultNoMemory(static_cast<Result>(arg1));
        ReadSeed(ctx, handle);
        ConfigRelease(&handle);
        TskServiceAnswerStarted(kEcapi, ctx);
        return kOk;
      }
      if (!handle) {
        // The seed could not be kept; the stop goes on regardless.
        SaySeedNotKept(arg1 ? static_cast<Result>(arg1) : kConfigNoMemory);
        TskmanPost(ctx->task, ConfigMsg::Saved, arg1, 0);
        return kOk;
      }
      // A save refused outright sends no answer: go on with the stop anyway.
      Result r = ConfigSetRaw(handle, kSeedName, 0, ctx->seed, kEcapiSeedBytes, ConfigKind::Raw);
      if (r != kOk) SaySeedNotKept(r);
      if (r != kOk || (r = ConfigSave(handle, SeedNotKept)) != kOk) {
        ConfigRelease(&handle);
        TskmanPost(ctx->task, ConfigMsg::Saved, r, 0);
      }
      return kOk;
    }
    case ConfigMsg::Saved:
      if (!ctx->stopping) return kOk;
      TskServiceEnd(kEcapi, ctx->requester);
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

Result EcapiStartSeedTask(TskmanTask* requester) { return TskServiceStart(kEcapi, requester); }

void EcapiStopSeedTask(TskmanTask* requester) {
  TskmanTask* task = TskmanFind(Mod::Ecapi);
  if (!task) {
    TskServiceEnd(kEcapi, requester);
    return;
  }
  auto* ctx = static_cast<EcapiContext*>(task->context);
  ctx->requester = requester;
  ctx->stopping = true;
  if (ctx->unread)
    TskmanPost(task, ConfigMsg::Saved, 0, 0);
  else
    ConfigOpen(task, "security", true);
}
