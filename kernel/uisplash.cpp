// The splash: shown for at least its time, then its task is told.
#include "kernel/uisplash.h"

#include "graphics/pict.h"
#include "graphics/pgl.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"

struct UiSplash {
  const uint8_t* image;  // the picture's file, given back when the splash ends
  bool timerFired;
  bool shownLongEnough;
  TskmanTask* task;
  uint32_t doneMessage;
  TskmanTimer* timer;
};

namespace {

// White screen, the picture centred on it when it loaded.
Result Draw(UiSplash* splash, const char* name) {
  PglSurface screen{};
  PglGetScreenSurface(&screen);
  if (!screen.pixels || screen.width == 0 || screen.height == 0) return PglErr::NoPixels;
  const PglRect all{0, 0, static_cast<int32_t>(screen.width) - 1,
                    static_cast<int32_t>(screen.height) - 1};
  PglFillRect(&screen, &all, 0, 0xFFFF);
  PglSurface picture{};
  Result r = PictLoadImage(name, 0, &picture, &splash->image);
  if (r != kOk) return r;
  // A picture larger than the screen shows its middle.
  const int32_t left = (static_cast<int32_t>(screen.width) - static_cast<int32_t>(picture.width)) >> 1;
  const int32_t top = (static_cast<int32_t>(screen.height) - static_cast<int32_t>(picture.height)) >> 1;
  PglBlitJob job{};
  job.source = &picture;
  job.target = &screen;
  job.left = static_cast<uint32_t>(left < 0 ? -left : 0);
  job.top = static_cast<uint32_t>(top < 0 ? -top : 0);
  job.right = picture.width - 1 - job.left;
  job.bottom = picture.height - 1 - job.top;
  job.x = static_cast<uint32_t>(left < 0 ? 0 : left);
  job.y = static_cast<uint32_t>(top < 0 ? 0 : top);
  return PglBlit(&job, 0, 0);
}

void Finish(UiSplash** handle, bool post) {
  UiSplash* splash = *handle;
  TskmanCancelTimer(&splash->timer);
  QorRomRelease(splash->image);
  if (post && splash->doneMessage) TskmanPost(splash->task, splash->doneMessage, 0, 0);
  MemFree(handle);
}

}  // namespace

Result UiSplashShow(UiSplash** handle, TskmanTask* task, uint32_t doneMessage,
                    uint32_t milliseconds) {
  auto* splash = static_cast<UiSplash*>(MemAllocZero(sizeof(UiSplash), Use::Context, Mod::Ui));
  if (!splash) return kUiSplashNoMemory;
  splash->task = task;
  splash->doneMessage = doneMessage;
  *handle = splash;
  Result r = TskmanStartTimer(&splash->timer, task, reinterpret_cast<uintptr_t>(handle), 0,
                              milliseconds);
  Result shown = Draw(splash, doneMessage ? "ui/splash" : "ui/splash_ending");
  return r != kOk ? r : shown;
}

void UiSplashEnd(UiSplash** handle) {
  if (!*handle) return;
  if ((*handle)->timerFired)
    Finish(handle, true);
  else
    (*handle)->shownLongEnough = true;
}

void UiSplashTimer(UiSplash** handle, uintptr_t timerUser, bool post) {
  if (!*handle || timerUser != reinterpret_cast<uintptr_t>(handle)) return;
  TskmanCancelTimer(&(*handle)->timer);
  if ((*handle)->shownLongEnough)
    Finish(handle, post);
  else
    (*handle)->timerFired = true;
}

void UiSplashClose(UiSplash** handle) {
  if (*handle) Finish(handle, false);
}
