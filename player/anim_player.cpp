// The player's context, its host entry points, the command dispatcher and
// the host hooks (which do nothing in this system).
#include "player/anim_player.h"

#include <cstring>

#include "player/anim_text.h"

namespace {

constexpr char kDownloadFile[] = "datemp";

void TearDown(AnimPlayer* p) {
  if (p->movie) AnimMovie_Destroy(p->movie);
  p->movie = nullptr;
  p->heap.abortFlag = 0;
}

AnimClip* Root(AnimPlayer* p) { return AnimMovie_Root(p->movie); }

uint32_t Reset(AnimPlayer* p, const AnimSize* size) {
  p->zoom = 1;
  p->panX = p->panY = 0;
  p->captionShown = 0;
  if (p->fromBuffer) return 0;
  if (p->workBuffer) AnimHeap_Reset(&p->heap, p->workBuffer, kAnimHeapArena);
  p->heap.abortFlag = 0;
  // The heap's reset discarded every block: forget what pointed into it.
  p->stack = nullptr;
  p->stackDepth = p->stackFloor = 0;
  for (auto& bucket : p->variables) bucket = nullptr;
  AnimBitmap_ResetCache(&p->bitmaps);
  p->cacheInUse = nullptr;
  p->caption = AnimCaption{};
  p->paused = 0;
  p->soundTypes = kAnimSoundTypes;
  if (size) {
    p->frameWidth = size->width;
    p->frameHeight = size->height;
  }
  p->movie = nullptr;
  p->fetching = p->awaitingData = p->fetchComplete = 0;
  p->fromBuffer = 0;
  p->pendingUrl = nullptr;
  std::memset(&p->download, 0, sizeof p->download);
  p->download.contentLength = -1;
  p->download.targetLevel = kAnimLevelRemoved;
  p->frameLimit = -1;
  p->redrawPending = 1;
  p->showAllPending = 1;
  p->notifiedFrame = UINT32_MAX;
  return 0;
}

// Video hand-off: the movie makes way for the video it asked for, and the
// movie that follows the video (if any) is loaded when it ends.
void StartVideo(AnimPlayer* p) {
  if (p->zoom != 1) p->zoom = 1;
  TearDown(p);
  AnimVideoArgs args{};
  args.name = p->videoName;
  if (p->fromBuffer) {
    const AnimPackageEntry* member = AnimPackage_Find(&p->package, p->videoName);
    if (!member || !member->data) {
      p->videoRequested = 0;
      return;
    }
    args.data = member->data;
    args.size = member->size;
  }
  args.centreX = p->videoX * p->frameWidth;
  args.centreY = p->videoY * p->frameHeight;
  if (AnimVideo_Open(p, kAnimVideoOpen, &args) == 0) {
    p->videoRequested = 0;
    p->videoPlaying = 1;
    p->videoThenMovie = p->videoNext[0] != 0;
  } else {
    p->videoRequested = 0;
  }
}

uint32_t LoadNamed(AnimPlayer* p, const char* name);

uint32_t VideoFrame(AnimPlayer* p) {
  if (AnimVideo_Open(p, kAnimVideoNext, nullptr) != kAnimVideoEnded) return 0;
  if (p->videoThenMovie) {
    AnimVideo_Open(p, kAnimVideoClose, nullptr);
    p->videoPlaying = 0;
    p->videoFinished = 1;
    return LoadNamed(p, p->videoNext);
  }
  if (p->loop) {
    AnimVideo_Open(p, kAnimVideoClose, nullptr);
    p->videoPlaying = 0;
    p->videoRequested = 1;
    StartVideo(p);
  }
  return 0;
}

uint32_t Advance(AnimPlayer* p) {
  if (p->videoRequested) {
    StartVideo(p);
    return 0;
  }
  if (p->videoPlaying) return VideoFrame(p);
  if (p->fetchComplete) {
    AnimNet_Deliver(p);
    if (AnimPlayer_Aborted(p)) return 1;
  }
  if (p->pendingUrl) {
    // A level's movie that was not there when asked for: its download starts
    // now. The request is taken, so the movie plays on at the next advance.
    AnimHook_RemoveFile(p, kDownloadFile, 0);
    AnimNet_Reset(p);
    AnimNet_StartFetch(p, p->pendingUrl);
    AnimStr_Free(p, p->pendingUrl);
    p->pendingUrl = nullptr;
    return 0;
  }
  AnimClip* root = Root(p);
  if (!root) return 0;
  const uint32_t frame = root->currentFrame;
  const uint32_t available = AnimClip_Available(root);
  const bool atLast = available == 0 || frame + 1 >= available;
  if (p->frameLimit > 0 && (frame >= static_cast<uint32_t>(p->frameLimit) || atLast)) {
    p->showAllPending = 0;
    return kAnimLimitReached;
  }
  AnimMovie* m = p->movie;
  // The caption goes out with every frame of its range; past it, a caption
  // still on the screen is taken off, caption is turned off and the whole
  // view drawn again.
  const AnimCaption& caption = p->caption;
  const auto shown = static_cast<int64_t>(frame);
  if (p->captionOn && caption.text && shown >= caption.startFrame && shown <= caption.endFrame) {
    if (caption.flags & kAnimCaptionRedrawsView) AnimMovie_InvalidateAll(m);
    AnimCaption_Tick(p);
    p->captionShown = 1;
  } else if (p->captionShown) {
    p->captionShown = 0;
    p->captionOn = 0;
    AnimMovie_InvalidateAll(m);
    p->redrawPending = 1;
  }
  // The host hears of the frame when it changed or a caption is up.
  if (frame != p->notifiedFrame || p->captionShown) {
    if (p->redrawPending) {
      AnimHook_Notify(p, kAnimNotifyRedraw, 0, 0, p->frameWidth, p->frameHeight);
      p->redrawPending = 0;
    } else {
      AnimHook_Notify(p, kAnimNotifyRedraw, m->redrawLeft, m->redrawTop, m->redrawRight, m->redrawBottom);
    }
    p->notifiedFrame = frame;
  }
  AnimMovie_Control(m, 1, nullptr);
  p->showAllPending = 0;
  return 0;
}

uint32_t DownloadCommand(AnimPlayer* p, uint32_t code, uintptr_t argument) {
  AnimDownload& d = p->download;
  switch (code) {
    case 11:
      if (!argument) return 0;
      p->fetching = 1;
      if (d.received > 0) {
        if (AnimNet_SendResume(p) < 0) AnimHook_Notify(p, kAnimNotifyProgress, 2, -1, 1, 0);
      } else {
        AnimNet_Reset(p);
        if (AnimNet_SendRequest(p) < 0) AnimHook_Notify(p, kAnimNotifyProgress, 2, -1, 1, 0);
      }
      return 0;
    case 12: {
      const auto* arg = reinterpret_cast<const AnimDataArg*>(argument);
      if (!arg) return 0;
      return AnimNet_Receive(p, arg->data, arg->length) == -3 ? 5 : 0;
    }
    case 13: return AnimNet_TransferEnd(p, reinterpret_cast<const void*>(argument));
    default:
      if (argument) {
        if (static_cast<int32_t>(AnimHook_Connect(p, d.host, 80)) == -1) return 4;
        AnimPlayer_Free(p, d.receiveBuffer);
        d.receiveBuffer = static_cast<uint8_t*>(AnimPlayer_Alloc(p, kAnimReceiveBuffer));
      } else {
        AnimHook_RemoveFile(p, d.fileName, 0);
        AnimNet_Reset(p);
      }
      return 0;
  }
}

uint32_t LoadFromBuffer(AnimPlayer* p, uint32_t code, const AnimDataArg* arg) {
  p->zoom = 1;
  p->panX = p->panY = 0;
  p->fromBuffer = 1;
  const uint32_t result = AnimPlayer_Load(p, code, reinterpret_cast<uintptr_t>(arg));
  if (result == 0) p->frameLimit = code == 16 ? -1 : 0;
  return result;
}

// After a video: a fresh heap, then the named package member (or host file).
uint32_t LoadNamed(AnimPlayer* p, const char* name) {
  const bool fromBuffer = p->fromBuffer != 0;
  const AnimPackage package = p->package;
  const AnimSize size{p->frameWidth, p->frameHeight};
  p->fromBuffer = 0;
  Reset(p, &size);
  p->package = package;
  const AnimPackageEntry* member = fromBuffer ? AnimPackage_Find(&p->package, name) : nullptr;
  if (member && member->data) {
    const AnimDataArg arg{member->size, member->data, -1};
    return AnimPlayer_Command(p, 16, reinterpret_cast<uintptr_t>(&arg));
  }
  return AnimPlayer_Command(p, 101, reinterpret_cast<uintptr_t>(name));
}

uint32_t Close(AnimPlayer* p, bool packageSteps) {
  if (packageSteps) {
    for (uint32_t i = 0; i < p->package.count; ++i) {
      const AnimPackageEntry& e = p->package.entries[i];
      if (!e.data && e.offset == 0) AnimHook_RemoveFile(p, e.name, 0);
    }
    std::memset(&p->package, 0, sizeof p->package);
    if (AnimHook_FileExists(p, kDownloadFile, 0)) AnimHook_RemoveFile(p, kDownloadFile, 0);
    p->fromBuffer = 0;
  }
  if (p->videoPlaying) AnimVideo_Open(p, kAnimVideoClose, nullptr);
  p->videoPlaying = p->videoRequested = 0;
  TearDown(p);
  // A download asked for by the movie goes with it.
  AnimStr_Free(p, p->pendingUrl);
  p->pendingUrl = nullptr;
  AnimPlayer_Free(p, p->download.receiveBuffer);
  AnimPlayer_Free(p, p->download.response);
  p->download.receiveBuffer = p->download.response = nullptr;
  AnimNet_Reset(p);
  AnimHook_Notify(p, kAnimNotifyClose, 0, 0, 0, 0);
  return 0;
}

void Deliver(AnimPlayer* p, uint32_t flags) {
  if (p->movie) AnimMovie_Control(p->movie, flags, nullptr);
}

uint32_t DeliverEvent(AnimPlayer* p, uint32_t kind, uint32_t key, int32_t x, int32_t y) {
  if (!p->movie) return 0;
  const AnimEvent event{x, y, kind, key};
  AnimMovie_Control(p->movie, 2, &event);
  return 0;
}

uint32_t UserCommand(AnimPlayer* p, uint32_t code) {
  switch (code) {
    case 1:
      if (p->videoPlaying) {
        const uint32_t rate = p->video.framesPerSecond;
        AnimHook_Notify(p, kAnimNotifyProgress, 1, rate ? static_cast<int32_t>(1000 / rate) : 0, 1, 0);
        return 0;
      }
      Deliver(p, 32);
      AnimHook_Notify(p, kAnimNotifyProgress, 0, 100, 1, 0);
      p->paused = 0;
      return 0;
    case 2:
      if (p->videoPlaying) return 0;
      Deliver(p, 16);
      p->paused = 1;
      return 0;
    case 3:
      if (p->videoPlaying || (p->videoFinished && p->videoThenMovie)) {
        // Back to the movie that asked for the video, from its start.
        if (p->videoPlaying) AnimVideo_Open(p, kAnimVideoClose, nullptr);
        p->videoPlaying = p->videoFinished = 0;
        return LoadNamed(p, p->movieName);
      }
      Deliver(p, 48);
      Deliver(p, 33);
      return p->paused ? Advance(p) : 0;
    case 4:
      Deliver(p, 64);
      Deliver(p, 33);
      Deliver(p, 16);
      return Advance(p);
    case 5:
    case 6:
      if (p->movie) p->captionOn = code == 5;
      return 0;
    case 11:
      Close(p, false);
      p->fetching = p->awaitingData = p->fetchComplete = 0;
      return 0;
    default: break;
  }
  AnimMovie* m = p->movie;
  switch (code) {
    case 7: case 8:
      p->highQuality = code == 7;
      if (m) {
        const bool set = AnimView_SetQuality(m, code == 7);
        AnimMovie_InvalidateAll(m);
        if (!set) return 1;  // out of memory; the movie plays on as it was
      }
      break;
    case 9: case 10:
      p->loop = code == 9;
      if (Root(p)) Root(p)->flagWord = (Root(p)->flagWord & ~kAnimClipLoop) | p->loop;
      break;
    case 17: p->zoom = 1; break;
    case 18: if (p->zoom < 3) ++p->zoom; break;
    case 19: if (p->zoom > 1) --p->zoom; break;
    case 20: p->panX = 0; p->panY = 4; break;
    case 21: p->panX = 0; p->panY = -4; break;
    case 22: p->panX = 4; p->panY = 0; break;
    case 23: p->panX = -4; p->panY = 0; break;
    default: return 0;
  }
  if (m && code >= 17) {
    if (code <= 19) AnimView_SetZoom(m, p->zoom);
    else AnimView_Pan(m, p->panX, p->panY);
    Deliver(p, 33);
  }
  p->redrawPending = 1;
  if (p->paused) return Advance(p);
  return 0;
}

}  // namespace

void AnimPlayer_Init(AnimPlayer* p) {
  std::memset(p, 0, sizeof *p);
  AnimBitmap_ResetCache(&p->bitmaps);
  p->zoom = 1;
  p->workLeft = kAnimStepWork;
  p->frameLimit = -1;
  p->redrawPending = 1;
  p->showAllPending = 1;
  p->soundTypes = kAnimSoundTypes;
  p->download.contentLength = -1;
  p->download.targetLevel = kAnimLevelRemoved;
  std::memcpy(p->handsetNumber, "8200000000000", 14);
}

uint32_t AnimHost_Open(AnimPlayer* p, const uint8_t* movie, uint16_t* frameBuffer, uint8_t* workBuffer,
                       uint32_t length, const int32_t* width, const int32_t* height) {
  p->frameWidth = width ? *width : 0;
  p->frameHeight = height ? *height : 0;
  p->frameBuffer = frameBuffer;
  p->workBuffer = workBuffer;
  // Opening always starts over on a fresh heap, even without a close before.
  p->fromBuffer = 0;
  p->movie = nullptr;
  const AnimSize size{p->frameWidth, p->frameHeight};
  uint32_t result = AnimPlayer_Command(p, 1, reinterpret_cast<uintptr_t>(&size));
  if (result == 0) {
    if (!workBuffer) {
      result = 1;
    } else {
      const AnimDataArg arg{length, movie, -1};
      result = AnimPlayer_Command(p, 16, reinterpret_cast<uintptr_t>(&arg));
    }
  }
  if (result != 0) AnimHook_Error(p, result);
  return result;
}

uint32_t AnimHost_Step(AnimPlayer* p) {
  const uint32_t result = AnimPlayer_Command(p, 7, 0);
  if (result != 0) AnimHook_Error(p, result);
  return result;
}

uint32_t AnimHost_Close(AnimPlayer* p) { return AnimPlayer_Command(p, 3, 0); }

const char* AnimHost_GetMin(const AnimPlayer* p) { return p->handsetNumber; }

void AnimWork_Start(AnimPlayer* p) {
  // Between steps only the table's two decoded bitmaps stay: those held for
  // the last step's frames go before this one draws (a step may draw more
  // than once, and how its drawing splits must not change what it decodes).
  AnimBitmap_LetGoHeld(p);
  if (p->workOut && p->workLeft == 0 && p->movie) p->movie->fullRedraw = 1;
  p->workLeft = kAnimStepWork;
  p->workOut = 0;
  p->workActions = 0;
}

namespace {

uint32_t Command(AnimPlayer* p, uint32_t code, uintptr_t argument);

}  // namespace

// Each command the host gives is one step of work; a command it runs
// inside shares its budget.
uint32_t AnimPlayer_Command(AnimPlayer* p, uint32_t code, uintptr_t argument) {
  if (p->commandDepth == 0) AnimWork_Start(p);
  ++p->commandDepth;
  const uint32_t result = Command(p, code, argument);
  --p->commandDepth;
  return result;
}

namespace {

uint32_t Command(AnimPlayer* p, uint32_t code, uintptr_t argument) {
  code &= 0xFFFF;
  uint32_t result = 0;
  bool allocates = true;
  switch (code) {
    case 1: {
      p->videoRequested = p->videoPlaying = p->videoThenMovie = p->videoFinished = 0;
      std::memset(&p->package, 0, sizeof p->package);
      AnimHook_Notify(p, kAnimNotifyInit, 0, 0, 0, 0);
      result = Reset(p, reinterpret_cast<const AnimSize*>(argument));
      allocates = false;
      break;
    }
    case 102:
      result = Reset(p, reinterpret_cast<const AnimSize*>(argument));
      allocates = false;
      break;
    case 2:
    case 20:
    case 101:
      if (p->fromBuffer) return 0;
      p->zoom = 1;
      p->panX = p->panY = 0;
      p->frameLimit = -1;
      p->fromBuffer = 0;
      result = AnimPlayer_Load(p, code, argument);
      break;
    case 3:
      result = Close(p, true);
      break;
    case 4: {
      const uint32_t key = static_cast<uint32_t>(argument);
      // Keys wait while the host carries a transfer a movie's action asked for.
      if (p->fetching && p->movie && p->movie->action.networkPending) return 0;
      // Keys 12 to 16 and 24 to 36 belong to the movie's own buttons.
      if (key >= 12 && key <= 16) return DeliverEvent(p, kAnimEventKey, key, 0, 0);
      if (key >= 24 && key <= 36) return DeliverEvent(p, kAnimEventKeyCondition, key, 0, 0);
      result = UserCommand(p, key);
      break;
    }
    case 5: {
      void* value = AnimHook_Value(p, p->movie);
      AnimHook_NotifyValue(p, p->movie, argument, value);
      return 0;
    }
    case 7:
      result = Advance(p);
      break;
    case 11:
    case 12:
    case 13:
    case 15:
      if (p->fromBuffer) return 0;
      result = DownloadCommand(p, code, argument);
      break;
    case 16:
    case 17:
    case 18:
      result = LoadFromBuffer(p, code, reinterpret_cast<const AnimDataArg*>(argument));
      break;
    case 104:
      return DeliverEvent(p, kAnimEventMove, 0, static_cast<int32_t>((argument >> 16) & 0xFFFF),
                          static_cast<int32_t>(argument & 0xFFFF));
    default:
      return 0;
  }
  if (allocates && AnimPlayer_Aborted(p)) return 1;
  return result;
}

}  // namespace

void AnimHook_Error(AnimPlayer*, uint32_t) {}
void AnimHook_Notify(AnimPlayer* p, uint32_t what, int32_t a, int32_t b, int32_t c, int32_t d) {
  if (p->hooks && p->hooks->notify) p->hooks->notify(p->hooks->context, what, a, b, c, d);
}
void AnimHook_NotifyValue(AnimPlayer*, AnimMovie*, uintptr_t, void*) {}
uint32_t AnimHook_Clock(AnimPlayer*) { return 1; }
void* AnimHook_ReadFile(AnimPlayer* p, const char* name, uint32_t* length, uint32_t offset, uint32_t count, uint32_t) {
  if (p->hooks && p->hooks->readFile) return p->hooks->readFile(p->hooks->context, p, name, length, offset, count);
  return nullptr;
}
uint32_t AnimHook_FileExists(AnimPlayer* p, const char* name, uint32_t) {
  return p->hooks && p->hooks->fileExists ? p->hooks->fileExists(p->hooks->context, name) : 1;
}
uint32_t AnimHook_RemoveFile(AnimPlayer*, const char*, uint32_t) { return 1; }
void* AnimHook_Value(AnimPlayer*, AnimMovie*) { return nullptr; }
uint32_t AnimHook_Connect(AnimPlayer*, const char*, uint32_t) { return 1; }
uint32_t AnimHook_Send(AnimPlayer* p, const char* request, uint32_t length) {
  return p->hooks && p->hooks->send ? static_cast<uint32_t>(p->hooks->send(p->hooks->context, request, length)) : 1;
}
uint32_t AnimHook_Room(AnimPlayer*, uint32_t) { return 1; }
uint32_t AnimHook_SaveFile(AnimPlayer*, const char*, const uint8_t*, uint32_t) { return 1; }
void AnimHook_SoundStart(AnimPlayer*, const AnimSound*, uint32_t, uint32_t) {}
void AnimHook_SoundStop(AnimPlayer*, int32_t, uint32_t) {}
void AnimHook_EditText(AnimPlayer*, const AnimEditText*) {}
void AnimHook_Cursor(AnimPlayer*, uint32_t) {}
void AnimHook_Volume(AnimPlayer* p, int32_t level) {
  if (p->hooks && p->hooks->volume) p->hooks->volume(p->hooks->context, level);
}
void AnimHook_Vibrate(AnimPlayer* p, int32_t level, int32_t duration) {
  if (p->hooks && p->hooks->vibrate) p->hooks->vibrate(p->hooks->context, level, duration);
}
void AnimHook_VibrateStop(AnimPlayer* p) {
  if (p->hooks && p->hooks->vibrateStop) p->hooks->vibrateStop(p->hooks->context);
}
void AnimHook_Date(AnimPlayer* p, int32_t values[7]) {
  if (p->hooks && p->hooks->date) p->hooks->date(p->hooks->context, values);
}
void* AnimHook_Sms(AnimPlayer* p, int32_t number, const char* recipient, const char* message) {
  if (p->hooks && p->hooks->sms) p->hooks->sms(p->hooks->context, number, recipient, message);
  return nullptr;
}
void AnimHook_Call(AnimPlayer* p, const char* number) {
  if (p->hooks && p->hooks->call) p->hooks->call(p->hooks->context, number);
}
uint32_t AnimHook_Url(AnimPlayer* p, const char* url, const char* target) {
  if (p->hooks && p->hooks->url) p->hooks->url(p->hooks->context, url, target);
  return 1;
}
