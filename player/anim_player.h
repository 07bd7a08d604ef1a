// The vector-animation player: its one context record, the host entry
// points and the command dispatcher. Everything the player holds lives in
// the context and in the heap laid over the host's work buffer, so a host
// may run players one after the other (or side by side) without sharing.
#pragma once

#include <cstdint>

#include "player/anim_dct.h"
#include "player/anim_heap.h"
#include "player/anim_stream.h"
#include "player/anim_text.h"
#include "player/anim_value.h"

inline constexpr uint32_t kAnimSoundTypes = 196;  // types 4, 64 and 128

struct AnimPlayer {
  int32_t frameWidth, frameHeight;
  uint16_t* frameBuffer;
  uint8_t* workBuffer;
  AnimStream* movie;  // level 0, or none
  uint32_t zoom;
  int32_t panX, panY;
  int32_t frameLimit;
  uint32_t redrawPending;
  uint32_t showAllPending;
  uint32_t fromBuffer;
  uint32_t fetching, awaitingData, fetchComplete;
  uint32_t paused;
  uint32_t loop;
  uint32_t videoRequested, videoPlaying, videoThenMovie, videoFinished;
  uint32_t highQuality;
  uint32_t captionOn, captionShown;
  uint32_t soundTypes;
  AnimPackage package;
  char handsetNumber[24];
  char* pendingUrl;
  AnimHeap heap;  // holds the abort flag
  AnimValue* stack;
  AnimVariable* variables[kAnimVarBuckets];
  AnimBitmapTable bitmaps;  // decoded images of the movie's coded bitmaps
  AnimCaption caption;
};

inline uint32_t AnimPlayer_Aborted(const AnimPlayer* p) { return p->heap.abortFlag; }
void* AnimPlayer_Alloc(AnimPlayer* p, int32_t n);  // zeroed; null sets the abort flag
void AnimPlayer_Free(AnimPlayer* p, void* block);

// Puts a fresh context in its initial state (no heap yet).
void AnimPlayer_Init(AnimPlayer* p);

uint32_t AnimHost_Open(AnimPlayer* p, const uint8_t* movie, uint16_t* frameBuffer, uint8_t* workBuffer,
                       uint32_t length, const int32_t* width, const int32_t* height);
uint32_t AnimHost_Step(AnimPlayer* p);
uint32_t AnimHost_Close(AnimPlayer* p);
const char* AnimHost_GetMin(const AnimPlayer* p);

uint32_t AnimPlayer_Command(AnimPlayer* p, uint32_t code, uintptr_t argument);

struct AnimSize {
  int32_t width, height;
};
struct AnimDataArg {
  uint32_t length;
  const uint8_t* data;
  int32_t flag;
};

// Host hooks. In this system they do nothing: null hooks answer null, true
// hooks 1, silent hooks nothing.
void AnimHook_Error(AnimPlayer* p, uint32_t result);
void AnimHook_Notify(AnimPlayer* p, uint32_t what, int32_t a, int32_t b, int32_t c, int32_t d);
// Command 5: the movie, the command's argument and what the value hook gave.
void AnimHook_NotifyValue(AnimPlayer* p, AnimStream* movie, uintptr_t argument, void* value);
uint32_t AnimHook_Clock(AnimPlayer* p);
void* AnimHook_ReadFile(AnimPlayer* p, const char* name, uint32_t* length, uint32_t offset, uint32_t count,
                        uint32_t mode);
uint32_t AnimHook_FileExists(AnimPlayer* p, const char* name, uint32_t flag);
uint32_t AnimHook_RemoveFile(AnimPlayer* p, const char* name, uint32_t flag);
void* AnimHook_Value(AnimPlayer* p, AnimStream* movie);
uint32_t AnimHook_Connect(AnimPlayer* p, const char* host, uint32_t port);
uint32_t AnimHook_Send(AnimPlayer* p, const char* request, uint32_t length);
uint32_t AnimHook_Room(AnimPlayer* p, uint32_t bytes);
uint32_t AnimHook_SaveFile(AnimPlayer* p, const char* name, const uint8_t* data, uint32_t length);
void AnimHook_SoundStart(AnimPlayer* p, const AnimSound* sound, uint32_t id, uint32_t loopCount);
void AnimHook_SoundStop(AnimPlayer* p, int32_t id, uint32_t typeByte);
void AnimHook_EditText(AnimPlayer* p, const AnimEditText* field);

// Notify kinds.
inline constexpr uint32_t kAnimNotifyInit = 1;
inline constexpr uint32_t kAnimNotifyClose = 2;
inline constexpr uint32_t kAnimNotifyRedraw = 3;
inline constexpr uint32_t kAnimNotifyProgress = 4;
