// The player's context, its host entry points, the command dispatcher and
// the host hooks (which do nothing in this system).
#include "player/anim_player.h"

#include <cstring>

namespace {

constexpr char kDownloadFile[] = "datemp";

void TearDown(AnimPlayer* p) {
  if (p->movie) {
    AnimStream_Free(p->movie);
    AnimPlayer_Free(p, p->movie);
    p->movie = nullptr;
  }
  AnimBitmap_FreeAll(&p->bitmaps, &p->heap);
  AnimCaption_Free(p);
  p->heap.abortFlag = 0;
}

uint32_t Reset(AnimPlayer* p, const AnimSize* size) {
  p->zoom = 1;
  p->panX = p->panY = 0;
  p->captionShown = 0;
  if (p->fromBuffer) return 0;
  if (p->workBuffer) AnimHeap_Reset(&p->heap, p->workBuffer, kAnimHeapArena);
  p->heap.abortFlag = 0;
  // The heap's reset discarded every block: forget what pointed into it.
  p->stack = nullptr;
  for (auto& bucket : p->variables) bucket = nullptr;
  AnimBitmap_ResetCache(&p->bitmaps);
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
  p->frameLimit = -1;
  p->redrawPending = 1;
  p->showAllPending = 1;
  return 0;
}

// Loads a raw movie or a package's first member as level 0.
uint32_t Load(AnimPlayer* p, const uint8_t* data, uint32_t length) {
  if (!data || length == 0) return 1;
  if (length >= 3 && data[0] == 'Q' && data[1] == 'V' && data[2] == 'Z') {
    uint32_t size = 0;
    data = AnimPackage_Unpack(&p->package, data, length, &size);
    if (!data) return 1;
    length = size;
  }
  TearDown(p);
  AnimBitmap_ResetCache(&p->bitmaps);
  auto* stream = static_cast<AnimStream*>(AnimPlayer_Alloc(p, sizeof(AnimStream)));
  if (!stream) return 1;
  AnimStream_Init(stream, p, 0);
  p->movie = stream;
  const uint32_t flags = AnimMovie_ReadHeader(stream, data, length);
  if (AnimPlayer_Aborted(p)) {
    TearDown(p);
    p->heap.abortFlag = 1;
    return 1;
  }
  if (flags == 0 || (flags & kAnimSoundRefused) || stream->headerPending || (flags & kAnimTagFailed)) {
    TearDown(p);
    return 2;
  }
  return 0;
}

uint32_t Advance(AnimPlayer* p) {
  if (p->videoRequested || p->videoPlaying) return 0;
  if (p->pendingUrl) return 0;
  AnimStream* movie = p->movie;
  if (!movie || !movie->root) return 0;
  AnimClip* root = movie->root;
  const uint32_t frame = root->currentFrame;
  const bool atLast = root->frameCount == 0 || frame + 1 >= root->frameCount;
  if (p->frameLimit > 0 && (frame >= static_cast<uint32_t>(p->frameLimit) || atLast)) {
    p->showAllPending = 0;
    return 7;
  }
  if (p->redrawPending) {
    AnimHook_Notify(p, kAnimNotifyRedraw, 0, 0, p->frameWidth, p->frameHeight);
    p->redrawPending = 0;
  }
  // The frame clock: the root clip moves on over the frames that have arrived.
  if (!p->paused && !atLast && frame + 1 < root->framesClosed) ++root->currentFrame;
  else if (!p->paused && atLast && (root->flagWord & 1)) root->currentFrame = 0;
  p->showAllPending = 0;
  return 0;
}

uint32_t LoadFromBuffer(AnimPlayer* p, uint32_t code, const AnimDataArg* arg) {
  p->zoom = 1;
  p->panX = p->panY = 0;
  p->fromBuffer = 1;
  const uint32_t result = arg ? Load(p, arg->data, arg->length) : 1;
  if (result != 0) return result;
  if (code == 16) {
    p->frameLimit = -1;
    return 0;
  }
  p->frameLimit = 0;
  if (code == 17) {
    p->movie->root->flagWord = 1;
    return 0;
  }
  // 18: run the frames at once, bounded by the movie's own frame count.
  const uint32_t start = AnimHook_Clock(p);
  for (uint32_t i = 0; i <= p->movie->frameCount; ++i) {
    if (Advance(p) != 0 || AnimPlayer_Aborted(p)) break;
    if (AnimHook_Clock(p) - start > 1000u * (p->movie->frameCount / p->movie->frameRate + 1)) break;
  }
  return 0;
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
  p->videoPlaying = p->videoRequested = 0;
  TearDown(p);
  AnimHook_Notify(p, kAnimNotifyClose, 0, 0, 0, 0);
  return 0;
}

void Deliver(AnimPlayer* p, uint32_t flags) {
  AnimStream* movie = p->movie;
  if (!movie || !movie->root) return;
  if (flags == 48) movie->root->currentFrame = 0;  // rewind
}

uint32_t UserCommand(AnimPlayer* p, uint32_t code) {
  switch (code) {
    case 1:
      if (p->videoPlaying) {
        AnimHook_Notify(p, kAnimNotifyProgress, 1, 0, 1, 0);
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
  switch (code) {
    case 7: case 8: p->highQuality = code == 7; break;
    case 9: case 10:
      p->loop = code == 9;
      if (p->movie && p->movie->root) p->movie->root->flagWord = p->loop;
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
  p->redrawPending = 1;
  if (p->paused) return Advance(p);
  return 0;
}

}  // namespace

void* AnimPlayer_Alloc(AnimPlayer* p, int32_t n) {
  void* block = AnimHeap_Alloc(&p->heap, n);
  if (block) std::memset(block, 0, n > 0 ? static_cast<size_t>(n) : 1u);
  return block;
}

void AnimPlayer_Free(AnimPlayer* p, void* block) { AnimHeap_Free(&p->heap, block); }

void AnimPlayer_Init(AnimPlayer* p) {
  std::memset(p, 0, sizeof *p);
  AnimBitmap_ResetCache(&p->bitmaps);
  p->zoom = 1;
  p->frameLimit = -1;
  p->redrawPending = 1;
  p->showAllPending = 1;
  p->soundTypes = kAnimSoundTypes;
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

uint32_t AnimPlayer_Command(AnimPlayer* p, uint32_t code, uintptr_t argument) {
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
    case 101:
      if (p->fromBuffer) return 0;
      p->zoom = 1;
      p->panX = p->panY = 0;
      p->frameLimit = -1;
      p->fromBuffer = 0;
      {
        uint32_t length = 0;
        auto* data = static_cast<uint8_t*>(
            AnimHook_ReadFile(p, reinterpret_cast<const char*>(argument), &length, 0, 0, 0));
        if (!data) return 1;
        result = Load(p, data, length);
      }
      break;
    case 20: {
      if (p->fromBuffer) return 0;
      struct Block {
        const uint8_t* data;
        uint32_t length;
        uint32_t freeFlag;
      };
      const auto* arg = reinterpret_cast<const Block*>(argument);
      p->zoom = 1;
      p->panX = p->panY = 0;
      p->frameLimit = -1;
      p->fromBuffer = 0;
      result = arg ? Load(p, arg->data, arg->length) : 1;
      break;
    }
    case 3:
      result = Close(p, true);
      break;
    case 4: {
      const uint32_t key = static_cast<uint32_t>(argument);
      if (p->pendingUrl) return 0;
      // Keys 12 to 16 and 24 to 36 belong to the movie's own buttons.
      if ((key >= 12 && key <= 16) || (key >= 24 && key <= 36)) return 0;
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
      result = 0;
      break;
    case 16:
    case 17:
    case 18:
      result = LoadFromBuffer(p, code, reinterpret_cast<const AnimDataArg*>(argument));
      break;
    case 104:
      return 0;
    default:
      return 0;
  }
  if (allocates && AnimPlayer_Aborted(p)) return 1;
  return result;
}

void AnimHook_Error(AnimPlayer*, uint32_t) {}
void AnimHook_Notify(AnimPlayer*, uint32_t, int32_t, int32_t, int32_t, int32_t) {}
void AnimHook_NotifyValue(AnimPlayer*, AnimStream*, uintptr_t, void*) {}
uint32_t AnimHook_Clock(AnimPlayer*) { return 1; }
void* AnimHook_ReadFile(AnimPlayer*, const char*, uint32_t*, uint32_t, uint32_t, uint32_t) { return nullptr; }
uint32_t AnimHook_FileExists(AnimPlayer*, const char*, uint32_t) { return 1; }
uint32_t AnimHook_RemoveFile(AnimPlayer*, const char*, uint32_t) { return 1; }
void* AnimHook_Value(AnimPlayer*, AnimStream*) { return nullptr; }
uint32_t AnimHook_Connect(AnimPlayer*, const char*, uint32_t) { return 1; }
uint32_t AnimHook_Send(AnimPlayer*, const char*, uint32_t) { return 1; }
uint32_t AnimHook_Room(AnimPlayer*, uint32_t) { return 1; }
uint32_t AnimHook_SaveFile(AnimPlayer*, const char*, const uint8_t*, uint32_t) { return 1; }
void AnimHook_SoundStart(AnimPlayer*, const AnimSound*, uint32_t, uint32_t) {}
void AnimHook_SoundStop(AnimPlayer*, int32_t, uint32_t) {}
void AnimHook_EditText(AnimPlayer*, const AnimEditText*) {}
