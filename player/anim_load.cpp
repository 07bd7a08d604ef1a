// Loading a movie for the command dispatcher (from the host's buffer or
// from host storage), and the package-member operations a loaded movie uses
// to bring further movies into its levels.
#include <climits>
#include <cstring>

#include "player/anim_movie.h"
#include "player/anim_player.h"

namespace {

constexpr char kDownloadFile[] = "datemp";

uint32_t Word(const uint8_t* d) {
  return d[0] | uint32_t{d[1]} << 8 | uint32_t{d[2]} << 16 | uint32_t{d[3]} << 24;
}

// The whole movie is there when the data reaches the header's total length.
bool Whole(const uint8_t* data, uint32_t length) { return data && length >= 8 && length >= Word(data + 4); }

void TearDown(AnimPlayer* p) {
  if (p->movie) AnimMovie_Destroy(p->movie);
  p->movie = nullptr;
  p->heap.abortFlag = 0;
}

uint32_t Aborted(AnimPlayer* p) {
  TearDown(p);
  p->heap.abortFlag = 1;
  return 1;
}

// Parses a raw movie or a package's first member as level 0 and draws its
// first frame.
uint32_t LoadData(AnimPlayer* p, const uint8_t* data, uint32_t length) {
  p->redrawPending = 1;
  p->notifiedFrame = UINT32_MAX;
  const uint32_t start = AnimHook_Clock(p);
  TearDown(p);
  if (!data || length == 0) return 1;
  if (length >= 3 && data[0] == 'Q' && data[1] == 'V' && data[2] == 'Z') {
    uint32_t size = 0;
    data = AnimPackage_Unpack(&p->package, data, length, &size);
    if (!data) return 1;
    length = size;
    std::memcpy(p->movieName, p->package.entries[0].name, sizeof p->movieName);
  }
  if (!Whole(data, length)) return 2;
  AnimMovie* m = AnimMovie_Create(p);
  if (!m) {
    p->heap.abortFlag = 1;
    return 1;
  }
  p->movie = m;
  m->startTime = start;
  m->randomSeed = start;
  const uint32_t flags = AnimMovie_Feed(m, 0, data, length);
  if (AnimPlayer_Aborted(p)) return Aborted(p);
  if (flags & kAnimNeedMore) {
    TearDown(p);
    return p->awaitingData ? 4 : 2;
  }
  // A tag the reader could not take ends the movie there; what came before
  // it plays. Only an empty parse or a sound the handset cannot play refuse it.
  if (flags == 0 || (flags & kAnimSoundRefused) || !AnimMovie_Root(m)) {
    TearDown(p);
    return 2;
  }
  const AnimRect& frame = m->levels->frameRect;
  AnimView_Fit(m, frame.xmax - frame.xmin, frame.ymax - frame.ymin);
  if (AnimPlayer_Aborted(p)) return Aborted(p);
  m->loader = AnimPackage_LoadMember;
  m->feeder = AnimPackage_FeedMember;
  AnimMovie_Control(m, 1, nullptr);
  return 0;
}

// Movies from host storage (commands 2, 20 and 101): the read hook's block
// is the player's to free once parsed. Command 20's data goes through the
// temporary download file first.
uint32_t LoadStored(AnimPlayer* p, uint32_t code, uintptr_t argument) {
  const char* name = reinterpret_cast<const char*>(argument);
  if (code == 20) {
    const auto* block = reinterpret_cast<const AnimStoreArg*>(argument);
    if (!block) return 1;
    if (AnimHook_FileExists(p, kDownloadFile, 0)) AnimHook_RemoveFile(p, kDownloadFile, 0);
    const bool saved = AnimHook_Room(p, block->length) != 0 &&
                       AnimHook_SaveFile(p, kDownloadFile, block->data, block->length) != 0;
    // The host handed the block over when its flag says so.
    if (block->freeFlag) AnimPlayer_Free(p, const_cast<uint8_t*>(block->data));
    if (!saved) return 5;
    name = kDownloadFile;
  }
  if (!name) return 1;
  const AnimPackageEntry* member = nullptr;
  if (code == 2) {
    if (AnimHook_FileExists(p, name, 0) == 0) return 3;
    // A package is read member by member: its table keeps where each
    // member lies in the host file, and the first member plays.
    uint32_t n = 0;
    auto* head = static_cast<uint8_t*>(AnimHook_ReadFile(p, name, &n, 0, 3, 0));
    if (!head) return 1;
    const bool package = n >= 3 && head[0] == 'Q' && head[1] == 'V' && head[2] == 'Z';
    AnimPlayer_Free(p, head);
    if (package) {
      if (AnimPackage_ReadStored(p, name) == 0) return 1;
      member = &p->package.entries[0];
      name = member->name;
    }
  } else {
    member = AnimPackage_Find(&p->package, name);
  }
  uint32_t length = 0;
  auto* data = static_cast<uint8_t*>(AnimHook_ReadFile(p, member ? p->package.fileName : name, &length,
                                                       member ? member->offset : 0, member ? member->size : 0, 0));
  if (!data) return code == 2 ? 1 : 3;
  const uint32_t result = LoadData(p, data, length);
  AnimPlayer_Free(p, data);
  if (result == 0) {
    const size_t n = strnlen(name, sizeof p->movieName - 1);
    std::memmove(p->movieName, name, n);
    p->movieName[n] = 0;
  }
  return result;
}

}  // namespace

uint32_t AnimPlayer_Load(AnimPlayer* p, uint32_t code, uintptr_t argument) {
  if (code == 2 || code == 20 || code == 101) return LoadStored(p, code, argument);
  const auto* arg = reinterpret_cast<const AnimDataArg*>(argument);
  const uint32_t result = arg ? LoadData(p, arg->data, arg->length) : 1;
  if (result != 0) return result;
  if (code == 17) AnimMovie_Root(p->movie)->flagWord = kAnimClipLoop;
  // 18 plays a frame count or a play time at once; both are 0 here.
  return 0;
}

uint32_t AnimPackage_ReadStored(AnimPlayer* p, const char* fileName) {
  AnimPackage& package = p->package;
  std::memset(&package, 0, sizeof package);
  if (std::strlen(fileName) >= sizeof package.fileName) return 0;
  std::strcpy(package.fileName, fileName);
  uint32_t offset = 3;
  while (package.count < kAnimPackageEntries) {
    uint32_t got = 0;
    auto* lead = static_cast<uint8_t*>(AnimHook_ReadFile(p, fileName, &got, offset, 1, 0));
    const uint32_t n = lead && got == 1 ? lead[0] : 0;
    AnimPlayer_Free(p, lead);
    if (n == 0 || n >= kAnimPackageName) break;
    auto* field = static_cast<uint8_t*>(AnimHook_ReadFile(p, fileName, &got, offset + 1, n + 4, 0));
    if (!field || got != n + 4) {
      AnimPlayer_Free(p, field);
      break;
    }
    AnimPackageEntry& e = package.entries[package.count];
    std::memcpy(e.name, field, n);
    e.name[n] = 0;
    e.size = Word(field + n);
    AnimPlayer_Free(p, field);
    e.offset = offset + 1 + n + 4;
    e.data = nullptr;
    ++package.count;
    if (e.size > UINT32_MAX - e.offset) break;
    offset = e.offset + e.size;
  }
  return package.count;
}

int32_t AnimPackage_LoadMember(AnimMovie* m, const char* name, AnimLoaded* out) {
  AnimPlayer* p = m->player;
  *out = AnimLoaded{};
  const int32_t length = AnimNet_ReadLocal(p, name, out);
  if (length < 0) return -1;
  if (!Whole(out->data, static_cast<uint32_t>(length))) {
    AnimPlayer_Free(p, out->owned);
    *out = AnimLoaded{};
    return -1;
  }
  return length;
}

int32_t AnimPackage_FeedMember(AnimMovie* m, uint32_t level, const uint8_t* data, uint32_t length) {
  const uint32_t flags = AnimMovie_Feed(m, level, data, length);
  if (AnimPlayer_Aborted(m->player)) return 0;
  if (flags & kAnimNeedMore) return m->player->awaitingData ? -2 : -1;
  if (flags == 0 || (flags & kAnimSoundRefused)) return 0;
  return static_cast<int32_t>(flags);
}
