// The vector-animation player: its one context record, the host entry
// points and the command dispatcher. Everything the player holds lives in
// the context and in the heap laid over the host's work buffer, so a host
// may run players one after the other (or side by side) without sharing.
#pragma once

#include <cstdint>

#include "player/anim_dct.h"
#include "player/anim_heap.h"
#include "player/anim_movie.h"
#include "player/anim_stream.h"
#include "player/anim_text.h"
#include "player/anim_value.h"
#include "player/anim_video.h"

inline constexpr uint32_t kAnimSoundTypes = 196;  // types 4, 64 and 128

// Advance result besides 0: the frame limit is reached. A root clip halted
// at its last frame is no end for the player: its children play on.
inline constexpr uint32_t kAnimLimitReached = 7;

// A host's answers to the handset requests of movies. The player asks
// through the AnimHook_ functions; without a table (as in this system) those
// do nothing. Tests install one to see what a movie asked for.
struct AnimHostHooks {
  void* context;
  void (*volume)(void* context, int32_t level);
  void (*vibrate)(void* context, int32_t level, int32_t duration);
  void (*vibrateStop)(void* context);
  void (*date)(void* context, int32_t values[7]);
  void (*sms)(void* context, int32_t number, const char* recipient, const char* message);
  void (*call)(void* context, const char* number);
  void (*url)(void* context, const char* url, const char* target);
  int32_t (*send)(void* context, const char* request, uint32_t length);
  void (*notify)(void* context, uint32_t what, int32_t a, int32_t b, int32_t c, int32_t d);
  // Host storage: a player-heap block of count bytes (0: all) from offset,
  // its length in *length, or null; and whether a file is there.
  void* (*readFile)(void* context, AnimPlayer* p, const char* name, uint32_t* length, uint32_t offset,
                    uint32_t count);
  uint32_t (*fileExists)(void* context, const char* name);
};

// A movie download: the parsed URL, the response as it arrives, and where
// the body is to go.
inline constexpr uint32_t kAnimReceiveBuffer = 1024;
inline constexpr uint32_t kAnimDownloadRoom = 200000;  // the largest body the heap can take
struct AnimDownload {
  uint32_t targetLevel;  // 255: none
  uint32_t deliverAtOnce;
  char host[64];
  char path[256];
  char fileName[64];
  uint32_t headerSeen;
  int32_t contentLength;  // -1 until the response gave it
  uint32_t received;      // body bytes so far
  uint32_t pendingCount;
  uint8_t* receiveBuffer;
  uint32_t receiveFill;
  uint8_t* response;
  uint32_t responseFill;
  uint32_t saveMode;
};

struct AnimPlayer {
  int32_t frameWidth, frameHeight;
  uint16_t* frameBuffer;
  uint8_t* workBuffer;
  AnimMovie* movie;  // or none
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
  uint32_t notifiedFrame;  // the root's frame the host last heard of
  uint32_t soundTypes;
  AnimPackage package;
  char handsetNumber[24];
  char* pendingUrl;
  const AnimHostHooks* hooks;  // none in this system
  AnimDownload download;
  AnimVideo video;
  // The video a movie asked for, kept here because starting it frees the movie.
  char movieName[kAnimPackageName];  // the package member playing, for a restart
  char videoName[20];
  char videoNext[32];
  int32_t videoX, videoY;
  AnimHeap heap;  // holds the abort flag
  // The edge cache a shape draw is replaying or filling, and how: the
  // allocator lets every other cache go at once, this one only as the draw
  // can do without it (kAnimCacheUse below).
  AnimShapeCache* cacheInUse;
  uint32_t cacheUse;
  // The last block the allocator could not place once every copy but the
  // bitmaps held for the step was let go (refused, or placed when those
  // went too), and the heap's free bytes then: more free bytes than the
  // block asked for tell a heap that had the room but no hole for it.
  uint32_t refusedBytes, refusedFree;
  AnimValue* stack;
  // Cells on the stack, and the fewest there have been since the running
  // list began: what lies above that is what the list (and the lists it
  // called) pushed, and goes when the step's work cuts the list short.
  uint32_t stackDepth, stackFloor;
  // Bytes of names and labels the lookups compared one at a time since the
  // running action began: a lookup passing many long names is work of the
  // step in their length, not in the length of the name looked for.
  uint64_t namesWalked;
  AnimVariable* variables[kAnimVarBuckets];
  AnimBitmapTable bitmaps;  // decoded images of the movie's coded bitmaps
  AnimCaption caption;
  // The work a host step, a key or a pointer event may do, shared by all it
  // runs: actions, display commands a replay applies, objects the walks
  // meet. Spent, the step ends where it stands (the same place each time
  // the same state is stepped); workOut says this step ran out (of what
  // comes before drawing, or of all), workRanOut counts the steps that did. commandDepth tells a command inside a
  // command from one the host gave.
  uint32_t workLeft;
  uint32_t workOut;
  uint32_t workRanOut;
  uint32_t workActions;  // actions run since the last unit they took
  uint32_t commandDepth;
};

inline uint32_t AnimPlayer_Aborted(const AnimPlayer* p) { return p->heap.abortFlag; }

// Units of work a host step, key or pointer event may take: kAnimActionsPerWork
// actions, text walked (player/anim_value.h), a display command applied, an
// object a walk meets, 512 pixels filled. Actions and text take about a
// microsecond a unit, so that a script spending the budget is cut at about
// half a second; the other charges take less (bench/anim_step_bench.cpp
// measures each). A clip of 130 boxes shown 130 times takes about 52,000 a
// step.
inline constexpr uint32_t kAnimStepWork = 400000;
// An action that walks no text takes about 0.1 us.
inline constexpr uint32_t kAnimActionsPerWork = 12;
// The part of it kept for drawing the frame: actions, replays, the update
// of the lists and the button walks stop where only this is left, so that
// a script looping for ever still has its frame drawn.
inline constexpr uint32_t kAnimDrawWork = kAnimStepWork / 4;
// A fresh budget for a step; after a step whose drawing was cut short, the
// next draws the whole frame.
void AnimWork_Start(AnimPlayer* p);
// The step ran out: counted once.
inline void AnimWork_RanOut(AnimPlayer* p) {
  if (!p->workOut) {
    p->workOut = 1;
    ++p->workRanOut;
  }
}
// Takes units of work: false once the step's budget is spent.
inline bool AnimWork_Take(AnimPlayer* p, uint32_t units = 1) {
  if (p->workLeft >= units) {
    p->workLeft -= units;
    return true;
  }
  p->workLeft = 0;
  AnimWork_RanOut(p);
  return false;
}
// Takes units of work for what comes before drawing: false once no more
// than the drawing's part is left.
inline bool AnimWork_TakeBeforeDrawing(AnimPlayer* p, uint32_t units = 1) {
  if (p->workLeft >= units && p->workLeft - units >= kAnimDrawWork) {
    p->workLeft -= units;
    return true;
  }
  AnimWork_RanOut(p);
  return false;
}
// An action takes 1/kAnimActionsPerWork of a unit, work before drawing:
// false once no more than the drawing's part is left.
inline bool AnimWork_TakeAction(AnimPlayer* p) {
  if (p->workLeft <= kAnimDrawWork) {
    AnimWork_RanOut(p);
    return false;
  }
  if (++p->workActions < kAnimActionsPerWork) return true;
  p->workActions = 0;
  return AnimWork_TakeBeforeDrawing(p);
}
// Nothing at all is left: not even the frame can be drawn.
inline bool AnimWork_Spent(const AnimPlayer* p) { return p->workOut != 0 && p->workLeft == 0; }
// One way to take a block (player/anim_alloc.cpp): every block the player
// takes comes from the player's allocator; no other player code calls the
// heap's own allocation functions (a test greps the sources for them). The
// background picture, the edge caches with their saved bucket arrays and the
// decoded bitmaps held for the step (the last to go) are only copies of
// what can be drawn again: before a block the player needs is refused, all
// of them are let go and the request is tried again. What
// is only a copy takes its block without making others give way, and goes
// without when there is none. So no block is refused for the bytes a copy
// holds: a heap holding copies has, for what the player needs, every byte a
// heap without them has (though the heap, never moving a block, may lay
// its blocks out otherwise, and one may find a hole the other lacks).
enum AnimTake : uint32_t {
  kAnimTakeNeed,  // needed: zeroed; refused, the abort flag is set
  kAnimTakeDraw,  // a draw can do without it (a gradient's ramp): not zeroed;
                  // refused, the abort flag stays clear, but a picture being
                  // drawn fails (the clearing then draws with its room)
  kAnimTakeCopy,  // a copy's own (picture, edge cache): not zeroed; nothing
                  // gives way for it and its refusal sets no flag
};
void* AnimPlayer_Take(AnimPlayer* p, int32_t n, AnimTake kind);
void* AnimPlayer_Alloc(AnimPlayer* p, int32_t n);     // kAnimTakeNeed
void* AnimPlayer_TryAlloc(AnimPlayer* p, int32_t n);  // kAnimTakeDraw
void* AnimPlayer_AllocCopy(AnimPlayer* p, int32_t n);  // kAnimTakeCopy
void AnimPlayer_Free(AnimPlayer* p, void* block);
// Lets go every copy of what can be drawn again (as a refused block would):
// the picture (unless it is being drawn), every edge cache (the one a draw
// uses as that draw allows) and the bitmaps held for the step. True when
// any went.
bool AnimPlayer_LetGoCopies(AnimPlayer* p);
// How the draw uses cacheInUse: about to replay it (it may go: the draw is
// then made from the records), replaying it (it goes when the replay ends),
// or filling it (it is given up at once: the draw goes on keeping nothing).
// A replay told to let its cache go ends in kAnimCacheReplayingLetGo.
enum AnimCacheUse : uint32_t {
  kAnimCacheToReplay = 1,
  kAnimCacheReplaying,
  kAnimCacheReplayingLetGo,
  kAnimCacheFilling,
};

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
// Command 20: a movie to store and load; with the free flag set the block
// is a player-heap block the host hands over.
struct AnimStoreArg {
  const uint8_t* data;
  uint32_t length;
  uint32_t freeFlag;
};

// Loads a movie for commands 2, 16, 17, 18, 20 and 101 (argument as the
// command takes it): 0, 1 without data or on abort, 2 refused, 3 not
// found, 4 while a download is awaited, 5 when storing failed.
uint32_t AnimPlayer_Load(AnimPlayer* p, uint32_t code, uintptr_t argument);
// Reads the member table of a package in host storage, one member at a
// time, keeping each member's offset in the file; the member count.
uint32_t AnimPackage_ReadStored(AnimPlayer* p, const char* fileName);
// The package-member operations a loaded movie brings levels in with.
int32_t AnimPackage_LoadMember(AnimMovie* m, const char* name, AnimLoaded* out);
int32_t AnimPackage_FeedMember(AnimMovie* m, uint32_t level, const uint8_t* data, uint32_t length);
// A package member's bytes, or a host file's through the read hook (a block
// the caller frees through out->owned); the length, or -1 when nothing was read.
int32_t AnimNet_ReadLocal(AnimPlayer* p, const char* name, AnimLoaded* out);
// As AnimNet_StartFetch; for a get-URL with a method.
int32_t AnimNet_Fetch(AnimPlayer* p, const char* url);

// Host hooks. In this system they do nothing: null hooks answer null, true
// hooks 1, silent hooks nothing.
void AnimHook_Error(AnimPlayer* p, uint32_t result);
void AnimHook_Notify(AnimPlayer* p, uint32_t what, int32_t a, int32_t b, int32_t c, int32_t d);
// Command 5: the movie, the command's argument and what the value hook gave.
void AnimHook_NotifyValue(AnimPlayer* p, AnimMovie* movie, uintptr_t argument, void* value);
uint32_t AnimHook_Clock(AnimPlayer* p);
void* AnimHook_ReadFile(AnimPlayer* p, const char* name, uint32_t* length, uint32_t offset, uint32_t count,
                        uint32_t mode);
uint32_t AnimHook_FileExists(AnimPlayer* p, const char* name, uint32_t flag);
uint32_t AnimHook_RemoveFile(AnimPlayer* p, const char* name, uint32_t flag);
void* AnimHook_Value(AnimPlayer* p, AnimMovie* movie);
uint32_t AnimHook_Connect(AnimPlayer* p, const char* host, uint32_t port);
uint32_t AnimHook_Send(AnimPlayer* p, const char* request, uint32_t length);
uint32_t AnimHook_Room(AnimPlayer* p, uint32_t bytes);
uint32_t AnimHook_SaveFile(AnimPlayer* p, const char* name, const uint8_t* data, uint32_t length);
void AnimHook_SoundStart(AnimPlayer* p, const AnimSound* sound, uint32_t id, uint32_t loopCount);
void AnimHook_SoundStop(AnimPlayer* p, int32_t id, uint32_t typeByte);
void AnimHook_EditText(AnimPlayer* p, const AnimEditText* field);
void AnimHook_Cursor(AnimPlayer* p, uint32_t over);
// The get-URL requests of movies.
void AnimHook_Volume(AnimPlayer* p, int32_t level);
void AnimHook_Vibrate(AnimPlayer* p, int32_t level, int32_t duration);
void AnimHook_VibrateStop(AnimPlayer* p);
void AnimHook_Date(AnimPlayer* p, int32_t values[7]);
void* AnimHook_Sms(AnimPlayer* p, int32_t number, const char* recipient, const char* message);
void AnimHook_Call(AnimPlayer* p, const char* number);
uint32_t AnimHook_Url(AnimPlayer* p, const char* url, const char* target);

// Downloads: what the host's transfer answers arrive through.
int32_t AnimNet_StartFetch(AnimPlayer* p, const char* url);
int32_t AnimNet_SendRequest(AnimPlayer* p);
int32_t AnimNet_SendResume(AnimPlayer* p);
// 0, -2 when the body cannot be taken (no Content-Length, more than it
// announced, a block over the receive buffer), -3 when it is too large.
int32_t AnimNet_Receive(AnimPlayer* p, const uint8_t* data, uint32_t length);
uint32_t AnimNet_TransferEnd(AnimPlayer* p, const void* block);
uint32_t AnimNet_Deliver(AnimPlayer* p);
void AnimNet_Reset(AnimPlayer* p);
// Sets name=value pairs of a variables text (length bytes) as variables of the clip path.
void AnimNet_SetVariables(AnimPlayer* p, const char* text, uint32_t length, const char* path);

// Notify kinds.
inline constexpr uint32_t kAnimNotifyInit = 1;
inline constexpr uint32_t kAnimNotifyClose = 2;
inline constexpr uint32_t kAnimNotifyRedraw = 3;
inline constexpr uint32_t kAnimNotifyProgress = 4;
