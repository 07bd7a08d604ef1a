// The action interpreter: runs a frame's or a button's action list against
// the value stack, a current target path and the clips it names, and turns
// get-URL actions into host requests or loads of further movies.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/anim_movie.h"
#include "player/anim_text.h"
#include "player/anim_player.h"

namespace {

constexpr uint32_t kWorkCopy = 255;

struct Run {
  AnimMovie* m;
  AnimPlayer* p;
  AnimClip* clip;
  char* target;
  char* initial;
  AnimClip* last;     // the last target clip found
  uint32_t oldFrame;  // its frame before a pending jump
  uint32_t bits;
  bool ended;         // the list ends early: the run answers 0
  // Text the actions walked, in bytes copied (a byte read one at a time
  // counts as many), not yet taken from the step's work.
  uint64_t text;
};

// Text walked a byte at a time (conversions, names looked up), and copied
// or compared in bulk.
void Walked(Run& r, size_t bytes) { r.text += uint64_t{bytes} * (kAnimTextCopiedPerWork / kAnimTextWalkedPerWork); }
void Copied(Run& r, size_t bytes) { r.text += bytes; }
size_t Length(const char* text) { return text ? std::strlen(text) : 0; }

// The action's text is work before drawing. It is walked already: what the
// work left cannot hold ends the run at the next action.
void TakeText(Run& r) {
  const uint64_t units = r.text / kAnimTextCopiedPerWork;
  if (units == 0) return;
  r.text %= kAnimTextCopiedPerWork;
  AnimPlayer* p = r.p;
  const uint32_t room = p->workLeft > kAnimDrawWork ? p->workLeft - kAnimDrawWork : 0;
  if (units <= room) {
    p->workLeft -= static_cast<uint32_t>(units);
  } else {
    p->workLeft -= room;
    AnimWork_RanOut(p);
  }
}

AnimClip* RootOf(Run& r) {
  AnimStream* level = r.m->currentLevel ? r.m->currentLevel : r.m->levels;
  return level && level->root ? level->root : AnimMovie_Root(r.m);
}

AnimClip* Find(Run& r, const char* path) {
  Walked(r, Length(path));
  AnimClip* c = AnimClip_FindByPath(RootOf(r), path);
  if (!c) r.ended = true;
  return c;
}

AnimClip* TargetClip(Run& r) { return Find(r, r.target); }

void CarryOutJump(Run& r) {
  if (!(r.bits & kAnimRunJump) || !r.last) return;
  r.bits &= ~kAnimRunJump;
  if (AnimClip_Goto(r.oldFrame, r.last)) r.bits |= kAnimRunUpdate;
}

// Sets a clip's frame, halts it and leaves the jump pending.
void JumpTo(Run& r, AnimClip* c, uint32_t frame) {
  if ((r.bits & kAnimRunJump) && r.last != c) CarryOutJump(r);
  if (!(r.bits & kAnimRunJump)) r.oldFrame = c->currentFrame;
  c->currentFrame = frame;
  AnimClip_Halt(c);
  r.last = c;
  r.bits |= kAnimRunJump;
}

AnimValue* Pop(Run& r) { return AnimValue_Pop(r.p); }

double Number(Run& r, const AnimValue* v) {
  uint32_t walked = 0;
  const double n = AnimValue_Number(v, &walked);
  Walked(r, walked);
  return n;
}

int32_t Integer(Run& r, const AnimValue* v) {
  uint32_t walked = 0;
  const int32_t n = AnimValue_Integer(v, &walked);
  Walked(r, walked);
  return n;
}

// A value's text, owned by the caller (null only when the heap ran out).
char* Text(Run& r, const AnimValue* v) {
  char* t = AnimValue_Text(r.p, v);
  Copied(r, Length(t));
  return t;
}

double PopNumber(Run& r) {
  AnimValue* v = Pop(r);
  const double n = Number(r, v);
  AnimValue_Release(r.p, v);
  return n;
}

int32_t PopInteger(Run& r) {
  AnimValue* v = Pop(r);
  const int32_t n = Integer(r, v);
  AnimValue_Release(r.p, v);
  return n;
}

// The popped value's text, owned by the caller (never null unless the heap ran out).
char* PopText(Run& r) {
  AnimValue* v = Pop(r);
  char* t = v ? Text(r, v) : nullptr;
  AnimValue_Release(r.p, v);
  return t;
}

void PushOwned(Run& r, char* owned) {
  if (!owned) return;
  Copied(r, Length(owned));
  AnimValue* cell = AnimValue_NewText(r.p, "");
  if (!cell) {
    AnimStr_Free(r.p, owned);
    return;
  }
  AnimValue_SetText(r.p, cell, owned);
  AnimValue_Push(r.p, cell);
}

void PushText(Run& r, const char* text) {
  Copied(r, Length(text));
  AnimValue_Push(r.p, AnimValue_NewText(r.p, text));
}
void PushInt(Run& r, int32_t v) { PushOwned(r, AnimText_FromInt(r.p, v)); }
void PushResult(Run& r, double v) { PushOwned(r, AnimText_FromResult(r.p, static_cast<float>(v))); }

char* Resolve(Run& r, const char* path, uint32_t mode) {
  char* full = AnimPath_Resolve(r.p, r.target, path, mode);
  Copied(r, Length(full));
  return full;
}

// A variable's name is hashed (the names of its bucket it is compared with
// are counted where they are compared).
void LookUp(Run& r, const char* name) { Walked(r, Length(name)); }

void SetTarget(Run& r, const char* text) {
  char* next = text && *text ? Resolve(r, text, kAnimPathClip) : AnimStr_Dup(r.p, r.initial);
  if (!next) return;
  AnimStr_Free(r.p, r.target);
  r.target = next;
}

// A frame reference: "clip:frame", a 1-based number or a label. Returns the
// clip and the frame (-1 for a missing label).
AnimClip* FrameReference(Run& r, int32_t* frame) {
  char* text = PopText(r);
  char* path = text ? Resolve(r, text, kAnimPathVariable) : nullptr;
  AnimStr_Free(r.p, text);
  if (!path) return nullptr;
  char* part = AnimPath_Split(path, 0);
  AnimClip* c = Find(r, path);
  if (c && part) {
    Walked(r, Length(part));
    if (*part >= '0' && *part <= '9') {
      const int32_t n = std::atoi(part) - 1;
      *frame = n < 0 ? 0 : n;
    } else {
      *frame = AnimClip_FindLabel(c, part);
    }
  }
  AnimStr_Free(r.p, path);
  return c;
}

// The value after `key` up to the next '&' (copied into out, at most size - 1
// bytes). A key counts only at the start of a parameter, so "r=" is not
// found inside "dur=".
void Param(const char* text, const char* key, char* out, size_t size) {
  out[0] = 0;
  const char* at = text ? std::strstr(text, key) : nullptr;
  while (at && at != text && at[-1] != '&' && at[-1] != '?') at = std::strstr(at + 1, key);
  if (!at) return;
  at += std::strlen(key);
  size_t n = 0;
  while (at[n] && at[n] != '&' && n + 1 < size) ++n;
  std::memcpy(out, at, n);
  out[n] = 0;
}

int32_t IntParam(const char* text, const char* key) {
  char buf[24];
  Param(text, key, buf, sizeof buf);
  return std::atoi(buf);
}

void SetRootVariable(Run& r, const char* name, int32_t value) {
  char* text = AnimText_FromInt(r.p, value);
  if (text) AnimVar_Set(r.p, name, text);
}

// "text?dur=n&r=..&g=..&b=..": the caption ticker over the root's next n
// frames, in a line along the frame's foot; without '?' the ticker stops. A
// span of no frames is refused.
void Caption(Run& r, const char* target) {
  const char* q = std::strchr(target, '?');
  if (!q) {
    AnimCaption_Stop(r.p);
    return;
  }
  const int32_t span = IntParam(q, "dur=");
  if (span <= 0) return;
  char* text = AnimStr_DupN(r.p, target, static_cast<uint32_t>(q - target));
  if (!text) return;
  AnimClip* root = AnimMovie_Root(r.m);
  const auto first = static_cast<int32_t>(root ? root->currentFrame : 0);
  const uint32_t colour = static_cast<uint32_t>(IntParam(q, "r=") & 0xFF) << 24 |
                          static_cast<uint32_t>(IntParam(q, "g=") & 0xFF) << 16 |
                          static_cast<uint32_t>(IntParam(q, "b=") & 0xFF) << 8;
  const int32_t w = r.p->frameWidth, h = r.p->frameHeight;
  AnimCaption_StartAt(r.p, text, 0, h - 14, w, w, 12, first, first + span, colour, 0xFFFFFF00u,
                      0xFFFFFFFFu);
  AnimStr_Free(r.p, text);
}

void FsCommand(Run& r, const char* command, const char* target) {
  auto is = [&](const char* name) { return std::strncmp(command, name, std::strlen(name)) == 0; };
  if (is("setVolume")) {
    AnimHook_Volume(r.p, IntParam(target, "vol="));
  } else if (is("startVibration")) {
    AnimHook_Vibrate(r.p, IntParam(target, "vol="), IntParam(target, "dur="));
  } else if (is("stopVibration")) {
    AnimHook_VibrateStop(r.p);
  } else if (is("caption")) {
    Caption(r, target);
  } else if (is("getDate")) {
    int32_t date[7] = {};
    AnimHook_Date(r.p, date);
    static const char* const kNames[7] = {"/:MF_Y", "/:MF_M", "/:MF_D", "/:MF_W", "/:MF_HR", "/:MF_MIN", "/:MF_SEC"};
    for (int i = 0; i < 7; ++i) SetRootVariable(r, kNames[i], date[i]);
  }
  // Anything else is ignored.
}

void Video(Run& r, const char* spec) {
  AnimPlayer& a = *r.p;
  const char* q = std::strchr(spec, '?');
  const size_t n = q ? static_cast<size_t>(q - spec) : std::strlen(spec);
  const size_t keep = n < sizeof a.videoName - 1 ? n : sizeof a.videoName - 1;
  std::memcpy(a.videoName, spec, keep);
  a.videoName[keep] = 0;
  a.videoX = q ? IntParam(q, "x=") : 0;
  a.videoY = q ? IntParam(q, "y=") : 0;
  Param(q, "next=", a.videoNext, sizeof a.videoNext);
  a.videoRequested = 1;
}

void Sms(Run& r, const char* spec) {
  char to[64], message[kWorkCopy + 1];
  Param(std::strchr(spec, '?'), "to=", to, sizeof to);
  message[0] = 0;
  if (const char* data = std::strstr(spec, "data=")) {
    std::strncpy(message, data + 5, kWorkCopy);
    message[kWorkCopy] = 0;
  }
  AnimHook_Sms(r.p, std::atoi(spec), to, message);
}

// Remembers where a movie that must still arrive is to go.
void RememberLoad(Run& r, AnimClip* c, uint32_t level, const char* target) {
  AnimActionState& a = r.m->action;
  a.loadClip = c;
  a.loadFrame = c ? static_cast<int32_t>(c->currentFrame) : -1;
  a.loadLevel = level;
  r.p->download.targetLevel = level;
  AnimStr_Free(r.p, a.loadTarget);
  a.loadTarget = AnimStr_Dup(r.p, target ? target : "");
}

// An http request goes to the transfer at once; the movie plays on while
// the host carries it.
void StartFetch(Run& r, const char* url, uint32_t method) {
  r.m->action.networkPending = 1;
  r.p->download.saveMode = r.m->action.saveFlag;
  if (method == 0) AnimNet_StartFetch(r.p, url);
  else AnimNet_Fetch(r.p, url);
}

// A level's movie that is not there yet: the advance asks for it.
void PendLoad(Run& r, const char* url) {
  AnimStr_Free(r.p, r.p->pendingUrl);
  r.p->pendingUrl = AnimStr_Dup(r.p, url);
}

void GetUrl(Run& r, const char* urlIn, const char* target) {
  Copied(r, Length(urlIn) + Length(target));
  char url[kWorkCopy + 1];
  std::strncpy(url, urlIn ? urlIn : "", kWorkCopy);
  url[kWorkCopy] = 0;
  if (!target) target = "";
  if (std::strncmp(url, "FSCommand:", 10) == 0) return FsCommand(r, url + 10, target);
  if (std::strncmp(url, "video:", 6) == 0) return std::strlen(url) > 8 ? Video(r, url + 8) : void();
  if (std::strncmp(url, "sms:", 4) == 0) return std::strlen(url) > 6 ? Sms(r, url + 6) : void();
  if (std::strncmp(url, "tel:", 4) == 0) return AnimHook_Call(r.p, std::strlen(url) > 6 ? url + 6 : "");
  if (std::strlen(target) <= 6 || std::strncmp(target, "_level", 6) != 0) {
    AnimHook_Url(r.p, url, target);
    return;
  }
  const uint32_t level = static_cast<uint32_t>(std::atoi(target + 6)) & 0xFFFF;
  if (!AnimLevel_IsTarget(level)) return;  // taken by a clip's movie, or no level at all
  const char* name = url;
  if (char* bar = std::strchr(url, '|')) {
    *bar = 0;
    name = bar + 1;
  } else if (const char* slash = std::strrchr(url, '/')) {
    name = slash + 1;
  }
  if (char* q = std::strchr(url, '?'); q && std::strncmp(q + 1, "qvx_save", 8) == 0) {
    *q = 0;
    if (IntParam(q + 1, "qvx_save=") != 0) r.m->action.saveFlag = 1;
  }
  AnimClip* c = TargetClip(r);
  r.ended = false;
  if (std::strncmp(url, "http:", 5) == 0 && !AnimPackage_Find(&r.p->package, name) &&
      AnimHook_FileExists(r.p, name, 1) == 0) {
    RememberLoad(r, c, level, target);
    StartFetch(r, url, 0);
    return;
  }
  const int32_t loaded = AnimMovie_LoadLevel(r.m, name, level);
  if (loaded > 0) {
    r.bits |= kAnimRunChanged;
    return;
  }
  if (AnimPlayer_Aborted(r.p) || loaded == 0) return;
  RememberLoad(r, c, level, target);
  PendLoad(r, url);
  r.ended = true;
}

void GetUrl2(Run& r, uint32_t method) {
  char* target = PopText(r);
  char* url = PopText(r);
  if (!target || !url) {
    AnimStr_Free(r.p, target);
    AnimStr_Free(r.p, url);
    return;
  }
  const bool toLevel = std::strncmp(target, "_level", 6) == 0;
  if (toLevel) Walked(r, Length(target));  // its number read
  const uint32_t level = toLevel ? static_cast<uint32_t>(std::atoi(target + 6)) & 0xFFFF : kAnimLevelRemoved;
  if (toLevel && !AnimLevel_IsTarget(level)) {
    // Taken by a clip's movie, or no level at all.
    AnimStr_Free(r.p, target);
    AnimStr_Free(r.p, url);
    return;
  }
  const size_t n = std::strlen(url);
  if (n >= 4 && std::strcmp(url + n - 4, ".swf") == 0) std::memcpy(url + n - 4, ".qvx", 4);
  if (std::strncmp(url, "http://", 7) == 0) {
    RememberLoad(r, r.last ? r.last : AnimClip_FindByPath(RootOf(r), r.target), level, target);
    if (method != 0) {
      // The collected variables travel with a request the host carries; here
      // they are built and let go.
      char* collected = AnimVar_Collect(r.p, r.target);
      Copied(r, Length(collected));
      AnimStr_Free(r.p, collected);
      r.p->download.deliverAtOnce = 1;
    }
    StartFetch(r, url, method);
  } else {
    AnimLoaded local{};
    const int32_t read = AnimNet_ReadLocal(r.p, url, &local);
    const uint32_t length = read > 0 ? static_cast<uint32_t>(read) : 0;
    const uint8_t* data = read >= 0 ? local.data : nullptr;
    void* owned = local.owned;
    Walked(r, length);
    if (data && length >= 3 &&
        ((data[0] == 'Q' && data[1] == 'V' && data[2] == 'X') || (data[0] == 'F' && data[1] == 'W' && data[2] == 'S'))) {
      if (level == kAnimLevelRemoved) {
        char* path = Resolve(r, target, kAnimPathClip);
        if (path && r.m->action.levelCounter < 4095)
          AnimMovie_AddLevel(r.m, r.m->action.levelCounter++, data, length, path);
        AnimStr_Free(r.p, path);
      } else {
        AnimMovie_ReplaceLevel(r.m, false, level, data, length);
      }
    } else if (data) {
      AnimNet_SetVariables(r.p, reinterpret_cast<const char*>(data), length, r.target);
    }
    AnimPlayer_Free(r.p, owned);
  }
  AnimStr_Free(r.p, target);
  AnimStr_Free(r.p, url);
}

// The parent clip and the object of a target path; false ends the list.
bool TargetObject(Run& r, const char* text, AnimClip** clip, AnimDisplayObject** object, char** pathOut) {
  char* path = Resolve(r, text, kAnimPathClip);
  *object = nullptr;
  *clip = nullptr;
  if (!path) return false;
  char* parentPath = AnimStr_Dup(r.p, path);
  if (!parentPath) {
    AnimStr_Free(r.p, path);
    return false;
  }
  AnimPath_Split(parentPath, 1);
  AnimClip* parent = Find(r, *parentPath ? parentPath : "/");
  AnimStr_Free(r.p, parentPath);
  if (parent) {
    Walked(r, 2 * Length(path));
    *clip = AnimClip_FindByPath(RootOf(r), path);
    *object = AnimDisplay_FindByName(&parent->list, path);
  }
  if (pathOut) *pathOut = path;
  else AnimStr_Free(r.p, path);
  return parent != nullptr;
}

// Pixels to twentieths, held at the ends of the range.
int32_t Twips(int32_t pixels) {
  const int64_t v = int64_t{pixels} * 20;
  return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
}

void ReadPosition(AnimClip* c, const AnimDisplayObject* o) {
  if (!(c->flagWord & kAnimClipStale) || !o) return;
  c->x = o->matrix.tx / 20;
  c->y = o->matrix.ty / 20;
  c->xscale = o->matrix.a * 100.0f;
  c->yscale = o->matrix.d * 100.0f;
  c->flagWord &= ~kAnimClipStale;
}

// A sprite's _width and _height are measured from what it shows now.
void MeasureSize(AnimClip* c, const AnimDisplayObject* o, int32_t index) {
  AnimRect shown;
  if ((index == 8 || index == 9) && o && o->clip == c) AnimSprite_GetBounds(c, &shown);
}

void GetProperty(Run& r) {
  const int32_t index = PopInteger(r);
  char* text = PopText(r);
  AnimClip* c = nullptr;
  AnimDisplayObject* o = nullptr;
  if (!text || !TargetObject(r, text, &c, &o, nullptr) || !c) {
    r.ended = true;
    AnimStr_Free(r.p, text);
    return;
  }
  if (index <= 3) ReadPosition(c, o);
  MeasureSize(c, o, index);
  switch (index) {
    case 0: PushInt(r, c->x); break;
    case 1: PushInt(r, c->y); break;
    case 2: PushOwned(r, AnimText_FromFloat(r.p, c->xscale)); break;
    case 3: PushOwned(r, AnimText_FromFloat(r.p, c->yscale)); break;
    case 4: PushInt(r, static_cast<int32_t>(c->currentFrame + 1)); break;
    case 5: PushInt(r, static_cast<int32_t>(c->frameCount)); break;
    case 6: PushInt(r, c->alpha); break;
    case 7: PushInt(r, c->visible); break;
    case 8: PushInt(r, c->width); break;
    case 9: PushInt(r, c->height); break;
    case 10: PushInt(r, c->rotation); break;
    case 12: PushInt(r, static_cast<int32_t>(c->loadedCounter++)); break;
    default: PushText(r, text); break;
  }
  AnimStr_Free(r.p, text);
}

void SetProperty(Run& r) {
  AnimValue* value = Pop(r);
  const int32_t index = PopInteger(r);
  char* text = PopText(r);
  AnimClip* c = nullptr;
  AnimDisplayObject* o = nullptr;
  AnimClip* parent = nullptr;
  const bool found = text && TargetObject(r, text, &c, &o, nullptr);
  if (found && c) {
    char* parentPath = AnimStr_Dup(r.p, c->name ? c->name : "");
    if (parentPath) AnimPath_Split(parentPath, 1);
    parent = parentPath ? AnimClip_FindByPath(RootOf(r), *parentPath ? parentPath : "/") : nullptr;
    AnimStr_Free(r.p, parentPath);
    AnimDisplayList* list = parent && o ? &parent->list : nullptr;
    const int32_t asInt = Integer(r, value);
    const float asNumber = static_cast<float>(Number(r, value));
    if (index <= 3) ReadPosition(c, o);
    MeasureSize(c, o, index);
    if (list) AnimDisplay_AddDirty(list, o);
    // A kept background sprite shows as it was: it is drawn again.
    if (o) AnimDisplay_DropKept(r.m, o);
    switch (index) {
      case 0: c->x = asInt; if (o) o->matrix.tx = Twips(asInt); break;
      case 1: c->y = asInt; if (o) o->matrix.ty = Twips(asInt); break;
      case 2: c->xscale = asNumber; if (o) o->matrix.a = asNumber * 0.01f; break;
      case 3: c->yscale = asNumber; if (o) o->matrix.d = asNumber * 0.01f; break;
      case 4: c->currentFrame = static_cast<uint32_t>(asInt > 0 ? asInt - 1 : 0); break;
      case 5: if (asInt >= 0 && static_cast<uint32_t>(asInt) <= c->frameCount) c->frameCount = static_cast<uint32_t>(asInt); break;
      case 6: c->alpha = asInt; break;
      case 7: c->visible = asInt; break;
      case 8: if (o && c->width) o->matrix.a *= static_cast<float>(asInt) / static_cast<float>(c->width); break;
      case 9: if (o && c->height) o->matrix.d *= static_cast<float>(asInt) / static_cast<float>(c->height); break;
      case 10: {
        c->rotation = asInt;
        const double angle = static_cast<double>(asInt) * 3.14159262 / 180.0;
        AnimMatrix turn{static_cast<float>(std::cos(angle)), static_cast<float>(-std::sin(angle)),
                        static_cast<float>(std::sin(angle)), static_cast<float>(std::cos(angle)), 0, 0};
        AnimMatrix combined;
        AnimMatrix_Concat(&combined, &c->extraMatrix, &turn);
        c->extraMatrix = combined;
        c->extraMatrixSet = 1;
        break;
      }
      default: break;
    }
    if (list) AnimDisplay_AddDirty(list, o);
    if (list) {
      // Rotated and resized objects also mark their new area.
      AnimRect area;
      if (AnimDisplay_ObjectBounds(o, &area)) {
        AnimRect turned;
        AnimRect_Transform(&turned, &c->extraMatrix, &area);
        AnimRect_Add(&list->dirty, &turned);
      }
    }
  } else if (found) {
    r.ended = false;  // a missing target clip only drops the value
  }
  AnimValue_Release(r.p, value);
  AnimStr_Free(r.p, text);
  r.bits |= kAnimRunUpdate;
}

void CloneSprite(Run& r) {
  const int32_t depth = PopInteger(r);
  char* name = PopText(r);
  char* source = PopText(r);
  AnimClip* c = nullptr;
  AnimDisplayObject* from = nullptr;
  char* parentPath = nullptr;
  if (name && source && TargetObject(r, source, &c, &from, &parentPath) && from && from->character) {
    AnimPath_Split(parentPath, 1);
    AnimClip* parent = Find(r, *parentPath ? parentPath : "/");
    auto* o = parent ? static_cast<AnimDisplayObject*>(AnimPlayer_Alloc(r.p, sizeof(AnimDisplayObject))) : nullptr;
    if (o) {
      o->depth = depth;
      o->character = from->character;
      o->matrix = from->matrix;
      o->buttonState = o->previousButtonState = 1;
      o->list = &parent->list;
      o->placedFrame = parent->list.frame;
      if (from->cxform) {
        o->cxform = static_cast<AnimCxform*>(AnimPlayer_Alloc(r.p, sizeof(AnimCxform)));
        if (o->cxform) *o->cxform = *from->cxform;
      }
      o->name = AnimPath_Resolve(r.p, parentPath, name, kAnimPathClip);
      Walked(r, 2 * Length(o->name));
      if (o->name && from->character->type == kAnimSprite)
        o->clip = AnimLevel_Find(r.m, static_cast<AnimSprite*>(from->character->body)->clip, o->name);
      if (AnimPlayer_Aborted(r.p)) {
        AnimDisplay_FreeObject(r.p, o);
      } else {
        AnimDisplayObject** link = &parent->list.first;
        while (*link && (*link)->depth <= depth) link = &(*link)->next;
        o->next = *link;
        *link = o;
        AnimDisplay_AddDirty(&parent->list, o);
      }
    }
  } else if (name && source) {
    r.ended = true;
  }
  AnimStr_Free(r.p, parentPath);
  AnimStr_Free(r.p, name);
  AnimStr_Free(r.p, source);
  r.bits |= kAnimRunChanged;
}

void RemoveSprite(Run& r) {
  char* text = PopText(r);
  char* path = text ? Resolve(r, text, kAnimPathClip) : nullptr;
  AnimStr_Free(r.p, text);
  if (!path) return;
  char* parentPath = AnimStr_Dup(r.p, path);
  if (parentPath) AnimPath_Split(parentPath, 1);
  AnimClip* parent = parentPath ? Find(r, *parentPath ? parentPath : "/") : nullptr;
  AnimStr_Free(r.p, parentPath);
  if (parent) {
    Walked(r, Length(path));
    for (AnimDisplayObject** link = &parent->list.first; *link; link = &(*link)->next) {
      AnimDisplayObject* o = *link;
      if (!o->name || AnimName_EqualWalked(r.p, o->name, path) != 0) continue;
      if (o->clip) AnimClip_Restart(o->clip, true);
      AnimDisplay_AddDirty(&parent->list, o);
      *link = o->next;
      if (o->clip && o->clip == r.clip) r.m->action.runningRemoved = 1;
      AnimButton_Release(&r.m->input, o);
      AnimDisplay_FreeObject(r.p, o);
      break;
    }
  }
  AnimStr_Free(r.p, path);
  r.bits |= kAnimRunChanged;
}

uint32_t NextRandom(AnimMovie* m) {
  m->randomSeed = m->randomSeed * 214013u + 2531011u;
  return (m->randomSeed >> 16) & 0x7FFF;
}

void Binary(Run& r, uint8_t code) {
  AnimValue* a = Pop(r);
  AnimValue* b = Pop(r);
  const bool texts = code == 0x13 || code == 0x21 || code == 0x29;
  const double x = texts ? 0 : Number(r, b), y = texts ? 0 : Number(r, a);
  switch (code) {
    case 0x0A: PushResult(r, static_cast<float>(x) + static_cast<float>(y)); break;
    case 0x0B: PushResult(r, static_cast<float>(x) - static_cast<float>(y)); break;
    case 0x0C: PushResult(r, static_cast<float>(x) * static_cast<float>(y)); break;
    // Division by zero gives 0 rather than an infinity no text can hold.
    case 0x0D: PushResult(r, y == 0 ? 0.0f : static_cast<float>(x) / static_cast<float>(y)); break;
    case 0x0E: PushText(r, x == y ? "1" : "0"); break;
    case 0x0F: PushText(r, x < y ? "1" : "0"); break;
    case 0x10: PushText(r, x != 0 && y != 0 ? "1" : "0"); break;
    case 0x11: PushText(r, x != 0 || y != 0 ? "1" : "0"); break;
    default: {
      char* ta = Text(r, a);
      char* tb = Text(r, b);
      if (ta && tb) {
        Copied(r, std::min(std::strlen(ta), std::strlen(tb)));  // compared
        if (code == 0x13) PushText(r, std::strcmp(tb, ta) == 0 ? "1" : "0");
        else if (code == 0x29) PushText(r, std::strcmp(tb, ta) < 0 ? "1" : "0");
        else {
          const size_t nb = std::strlen(tb), na = std::strlen(ta);
          auto* joined = static_cast<char*>(AnimPlayer_Alloc(r.p, static_cast<int32_t>(nb + na + 1)));
          if (joined) {
            std::memcpy(joined, tb, nb);
            std::memcpy(joined + nb, ta, na + 1);
          }
          PushOwned(r, joined);
        }
      }
      AnimStr_Free(r.p, ta);
      AnimStr_Free(r.p, tb);
      break;
    }
  }
  AnimValue_Release(r.p, a);
  AnimValue_Release(r.p, b);
}

void StringExtract(Run& r) {
  const int32_t count = PopInteger(r);
  const int32_t index = PopInteger(r);
  char* text = PopText(r);
  if (!text) return;
  const int32_t n = static_cast<int32_t>(std::strlen(text));
  int32_t start = index - 1 < 0 ? 0 : index - 1;
  if (start > n) start = n;
  int32_t take = count < 0 ? 0 : count;
  if (take > n - start) take = n - start;
  PushOwned(r, AnimStr_DupN(r.p, text + start, static_cast<uint32_t>(take)));
  AnimStr_Free(r.p, text);
}

void SetVariable(Run& r) {
  char* value = PopText(r);
  char* name = PopText(r);
  char* full = name ? Resolve(r, name, kAnimPathVariable) : nullptr;
  LookUp(r, full);
  if (full && value) {
    AnimVariable* v = AnimVar_Set(r.p, full, value);
    value = nullptr;
    if (v && v->boundObject) {
      Walked(r, Length(full));
      char* clipPath = AnimStr_Dup(r.p, full);
      if (clipPath) AnimPath_Split(clipPath, 1);
      if (AnimClip* c = clipPath ? AnimClip_FindByPath(RootOf(r), *clipPath ? clipPath : "/") : nullptr)
        AnimDisplay_AddDirty(&c->list, static_cast<AnimDisplayObject*>(v->boundObject));
      AnimStr_Free(r.p, clipPath);
      r.bits |= kAnimRunUpdate;
    }
  }
  AnimStr_Free(r.p, value);
  AnimStr_Free(r.p, name);
  AnimStr_Free(r.p, full);
}

// One action; returns the next record.
const AnimActionRecord* Step(Run& r, const AnimActionRecord* a) {
  const uint8_t code = static_cast<uint8_t>(a->code);
  if ((r.bits & kAnimRunJump) && code != 0x06 && code != 0x07) CarryOutJump(r);
  switch (code) {
    case 0x00: r.bits |= kAnimRunUpdate; break;
    case 0x04:
    case 0x05:
      if (AnimClip* c = TargetClip(r)) {
        uint32_t f = c->currentFrame;
        if (code == 0x04 && f < AnimClip_Available(c)) ++f;
        if (code == 0x05 && f > 0) --f;
        JumpTo(r, c, f);
      }
      break;
    case 0x06:
    case 0x07:
      if (AnimClip* c = TargetClip(r)) {
        c->playing = code == 0x06;
        if (r.bits & kAnimRunJump) {
          CarryOutJump(r);
        } else {
          if (code == 0x06 && c->currentFrame == c->nextFrame) ++c->nextFrame;
          if (code == 0x07) c->nextFrame = c->currentFrame;
          r.bits |= kAnimRunChanged;
        }
      }
      break;
    case 0x08:
      r.m->action.toggleQuality = 1;
      r.bits |= kAnimRunUpdate;
      break;
    case 0x09: AnimSound_StopAll(r.p); break;
    case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x10: case 0x11: case 0x13: case 0x21:
    case 0x29:
      Binary(r, code);
      break;
    case 0x12: PushText(r, PopNumber(r) == 0 ? "1" : "0"); break;
    case 0x14: {
      char* t = PopText(r);
      PushInt(r, t ? static_cast<int32_t>(std::strlen(t)) : 0);
      AnimStr_Free(r.p, t);
      break;
    }
    case 0x15: StringExtract(r); break;
    case 0x17: case 0x26: AnimValue_Release(r.p, Pop(r)); break;
    case 0x18: {
      const double v = PopNumber(r);
      PushInt(r, v >= 2147483647.0 ? 2147483647 : v <= -2147483648.0 ? -2147483647 - 1 : static_cast<int32_t>(v));
      break;
    }
    case 0x1C: {
      char* name = PopText(r);
      char* full = name ? Resolve(r, name, kAnimPathVariable) : nullptr;
      LookUp(r, full);
      PushOwned(r, full ? AnimVar_Get(r.p, full) : nullptr);
      AnimStr_Free(r.p, name);
      AnimStr_Free(r.p, full);
      break;
    }
    case 0x1D: SetVariable(r); break;
    case 0x20: {
      char* t = PopText(r);
      SetTarget(r, t);
      AnimStr_Free(r.p, t);
      break;
    }
    case 0x22: GetProperty(r); break;
    case 0x23: SetProperty(r); break;
    case 0x24: CloneSprite(r); break;
    case 0x25: RemoveSprite(r); break;
    case 0x27: {
      AnimValue_Release(r.p, Pop(r));
      AnimValue_Release(r.p, Pop(r));
      if (PopNumber(r) != 0)
        for (int i = 0; i < 4; ++i) AnimValue_Release(r.p, Pop(r));
      break;
    }
    case 0x30: {
      const int32_t modulus = PopInteger(r);
      const uint32_t x = NextRandom(r.m);
      PushInt(r, modulus > 0 ? static_cast<int32_t>(x % static_cast<uint32_t>(modulus)) : 0);
      break;
    }
    case 0x32: {
      char* t = PopText(r);
      PushInt(r, t ? static_cast<uint8_t>(t[0]) : 0);
      AnimStr_Free(r.p, t);
      break;
    }
    case 0x33: {
      const char c[2] = {static_cast<char>(PopInteger(r) & 0xFF), 0};
      PushText(r, c);
      break;
    }
    case 0x34: PushInt(r, static_cast<int32_t>(AnimHook_Clock(r.p) - r.m->startTime)); break;
    case 0x81:
      if (AnimClip* c = TargetClip(r)) {
        const auto frame = static_cast<uint32_t>(a->number1);
        if (frame > AnimClip_Available(c)) r.bits |= kAnimRunUpdate;
        else JumpTo(r, c, frame);
      }
      break;
    case 0x83: GetUrl(r, a->string1, a->string2); break;
    case 0x8B: SetTarget(r, a->string2); break;
    case 0x8C:
      if (AnimClip* c = TargetClip(r)) {
        Walked(r, Length(a->string2));
        const int32_t frame = AnimClip_FindLabel(c, a->string2 ? a->string2 : "");
        if (frame >= 0) JumpTo(r, c, static_cast<uint32_t>(frame));
      }
      break;
    case 0x8D: {
      const int32_t needed = PopInteger(r);
      if (AnimClip* c = TargetClip(r); c && static_cast<int32_t>(c->loadedCounter) < needed) {
        const AnimActionRecord* next = a->next;
        for (int32_t i = 0; i < a->number2 && next; ++i) next = next->next;
        return next;
      }
      break;
    }
    case 0x96:
      if (a->string2) PushText(r, a->string2);
      else AnimValue_Push(r.p, AnimValue_NewInt(r.p, a->number1));
      break;
    case 0x99: return a->branch;
    case 0x9A: GetUrl2(r, static_cast<uint32_t>(a->number3)); break;
    case 0x9D: return PopNumber(r) != 0 ? a->branch : a->next;
    case 0x9E: {
      int32_t frame = -1;
      AnimClip* c = FrameReference(r, &frame);
      if (c && frame >= 0 && static_cast<uint32_t>(frame) <= c->frameCount) {
        AnimClip_RunFrame(c, static_cast<uint32_t>(frame), 2);
        r.bits |= kAnimRunUpdate;
      }
      break;
    }
    case 0x9F: {
      int32_t frame = -1;
      AnimClip* c = FrameReference(r, &frame);
      if (!c || frame < 0) break;
      if (static_cast<uint32_t>(frame) > AnimClip_Available(c)) {
        r.bits |= kAnimRunUpdate;
      } else if (static_cast<uint32_t>(frame) == c->currentFrame) {
        if (a->number3) c->playing = 1;
        else JumpTo(r, c, static_cast<uint32_t>(frame));
      } else {
        JumpTo(r, c, static_cast<uint32_t>(frame));
        c->playing = a->number3 ? 1 : 0;
        CarryOutJump(r);
      }
      break;
    }
    default: break;  // dragging, multi-byte text and unknown codes
  }
  return a->next;
}

}  // namespace

uint32_t AnimAction_Run(AnimClip* clip, const AnimActionRecord* first, uint32_t) {
  if (!clip || !clip->movie) return 0;
  AnimMovie* m = clip->movie;
  AnimPlayer* p = m->player;
  if (m->action.runDepth >= kAnimMaxRunDepth) return 0;
  ++m->action.runDepth;
  Run r{m, p, clip, AnimStr_Dup(p, clip->name ? clip->name : ""), AnimStr_Dup(p, clip->name ? clip->name : ""),
        nullptr, 0, 0, false, 0};
  AnimClip* savedRunning = m->action.runningClip;
  m->action.runningClip = clip;
  // Lookups outside the actions are not theirs to pay.
  if (m->action.runDepth == 1) p->namesWalked = 0;
  const uint32_t outerFloor = p->stackFloor;
  p->stackFloor = p->stackDepth;
  bool cut = false;
  for (const AnimActionRecord* a = first; a && r.target && r.initial;) {
    // Every action is work of the step, whichever run it belongs to.
    if (!AnimWork_TakeAction(p)) {
      cut = true;
      break;
    }
    a = Step(r, a);
    // The names its lookups passed (a nested list took those before it).
    Walked(r, p->namesWalked);
    p->namesWalked = 0;
    TakeText(r);
    if (r.ended || AnimPlayer_Aborted(p)) break;
  }
  if (!r.ended && !AnimPlayer_Aborted(p)) CarryOutJump(r);
  // A list the work cut short never reaches the pops of what it pushed:
  // those values go, what it found on the stack stays for the next list.
  while (cut && p->stackDepth > p->stackFloor) AnimValue_Release(p, AnimValue_Pop(p));
  if (p->stackFloor > outerFloor) p->stackFloor = outerFloor;
  AnimStr_Free(p, r.target);
  AnimStr_Free(p, r.initial);
  m->action.runningClip = savedRunning;
  --m->action.runDepth;
  if (m->action.runDepth == 0 && m->action.toggleQuality) {
    // Changing the rasterizer's buffers waits for the outer run to end.
    m->action.toggleQuality = 0;
    AnimView_SetQuality(m, !p->highQuality);
    p->redrawPending = 1;
  }
  if (r.ended || AnimPlayer_Aborted(p)) return 0;
  return r.bits;
}
