// The local content push application: splits a pushed document into its
// parts and hands them, with the document's index, to the local content
// task.
#include "content/mime_multipart.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/lc.h"
#include "services/push/lc_internal.h"

namespace {

constexpr uint32_t kModule = Mod::LocalContent;
constexpr uint32_t kIndexStep = 2048;

// A body that is no multipart document is fed as the one part of a
// document of its own. The texts go in without their terminators.
constexpr char kSinglePrefix[] =
    "multipart/related; boundary=\"fake-boundary\"; type=\"text/html\"\r\n\r\n--fake-boundary\r\n";
constexpr char kSingleSuffix[] = "\r\n--fake-boundary--\r\n";

enum class Mode : uint32_t { None, Multipart, Single };

struct LcPushCtx {
  Mode mode;
  LcList* index;
  MimeMultipartParser* parser;
  LcEntry* entry;
  LcQueued* head;
  LcQueued* tail;
  uint32_t lost;  // a part the index names was dropped: the push is not stored
  uint32_t shortOfMemory;  // some of the push could not be held: it is not stored, and said
};

// Memory ran out for the push: whatever part it hit, the document is not
// whole, so none of it is stored.
void OutOfMemory(LcPushCtx* push) {
  push->shortOfMemory = 1;
  push->lost = 1;
}

bool Queue(LcPushCtx* push, LcEntry* entry, LcList* index) {
  auto* node = static_cast<LcQueued*>(MemAllocZero(sizeof(LcQueued), Use::Data, kModule));
  if (!node) {
    OutOfMemory(push);
    return false;
  }
  node->entry = entry;
  node->index = index;
  if (push->tail)
    push->tail->next = node;
  else
    push->head = node;
  push->tail = node;
  return true;
}

// A part being built goes without being stored; once its name may be in
// the index, the document can no longer be stored whole.
void DropEntry(LcPushCtx* push) {
  if (push->entry) push->lost = 1;
  LcEntryFree(&push->entry);
}

bool AddToIndex(LcPushCtx* push, const char* id, bool root) {
  while (LcListAdd(push->index, id, root) == 1) {
    uint8_t* bigger = LcListGrow(push->index, kIndexStep);
    if (!bigger) return false;
    push->index = bigger;
  }
  return true;
}

// "current" and the documents' ".list" indexes are keys of the store
// itself: a part named so would overwrite them.
bool StoreOwnKey(const char* id) {
  constexpr char kList[] = ".list";
  const uint32_t n = LibcStrLen(id), m = sizeof kList - 1;
  return LibcStrCmp(id, "current") == 0 || (n >= m && LibcStrCmp(id + n - m, kList) == 0);
}

int OnBegin(void* context, const char* location, const char* contentId, int isRoot) {
  auto* push = static_cast<LcPushCtx*>(context);
  DropEntry(push);  // one whose part never ended
  char made[16];
  if (contentId && *contentId && StoreOwnKey(contentId)) return 0;
  if (!contentId || !*contentId) {
    // A root known only by its location gets a name of its own.
    if (!location || !isRoot) return 0;
    LibcStrCopy(made, "msg");
    LibcItoA(LibcTime(nullptr), made + 3, 16);
    contentId = made;
  }
  push->entry = LcEntryCreate();
  if (!push->entry) {
    OutOfMemory(push);
    return 0;
  }
  if (!LcEntrySetHeader(push->entry, LcHeader::ContentId, contentId) ||
      !AddToIndex(push, contentId, isRoot != 0)) {
    OutOfMemory(push);
    DropEntry(push);
    return 0;
  }
  return 1;
}

int OnHeader(void* context, uint32_t which, const char* value) {
  auto* push = static_cast<LcPushCtx*>(context);
  if (!push->entry) return 0;
  uint32_t kind = 0;
  switch (which) {
    case MimeHeader::ContentType: kind = LcHeader::ContentType; break;
    case MimeHeader::TransferEncoding: kind = LcHeader::Encoding; break;
    case MimeHeader::ContentId: kind = LcHeader::ContentId; break;
    default: return 1;
  }
  if (LcEntrySetHeader(push->entry, kind, value)) return 1;
  OutOfMemory(push);
  DropEntry(push);
  return 0;
}

int OnData(void* context, const uint8_t* bytes, uint32_t length) {
  auto* push = static_cast<LcPushCtx*>(context);
  if (!push->entry) return 0;
  if (length == 0) {
    if (!Queue(push, push->entry, nullptr)) DropEntry(push);
    push->entry = nullptr;
    return 1;
  }
  if (LcEntryAppend(push->entry, bytes, length)) return 1;
  OutOfMemory(push);
  DropEntry(push);
  return 0;
}

void Feed(LcPushCtx* push, const uint8_t* bytes, uint32_t length) {
  if (push->parser && MimeMultipartParse(push->parser, bytes, length) == MimeParse::NoMemory) OutOfMemory(push);
}

// Where the value of the first "Content-Type:" starts, or null.
const uint8_t* ContentTypeValue(const uint8_t* bytes, uint32_t length) {
  static constexpr char kName[] = "Content-Type:";
  constexpr uint32_t n = sizeof kName - 1;
  for (uint32_t i = 0; i + n <= length; ++i) {
    if (LibcStrNICmp(reinterpret_cast<const char*>(bytes + i), kName, n) != 0) continue;
    const uint8_t* p = bytes + i + n;
    while (p < bytes + length && *p <= ' ') ++p;
    return p;
  }
  return nullptr;
}

void Begin(LcPushCtx* push, const uint8_t* bytes, uint32_t length) {
  if (MimeMultipartCreate(&push->parser, push, OnBegin, OnHeader, OnData) != MimeParse::Ok) {
    push->mode = Mode::Single;
    OutOfMemory(push);
    return;
  }
  const uint8_t* value = ContentTypeValue(bytes, length);
  if (value && bytes + length - value >= 9 &&
      LibcStrNICmp(reinterpret_cast<const char*>(value), "multipart", 9) == 0) {
    push->mode = Mode::Multipart;
    Feed(push, value, static_cast<uint32_t>(bytes + length - value));
    return;
  }
  push->mode = Mode::Single;
  Feed(push, reinterpret_cast<const uint8_t*>(kSinglePrefix), sizeof kSinglePrefix - 1);
  Feed(push, bytes, length);
}

void FreeQueued(LcPushCtx* push) {
  while (LcQueued* node = push->head) {
    push->head = node->next;
    LcEntryFree(&node->entry);
    MemFree(&node->index);
    MemFree(&node);
  }
  push->tail = nullptr;
}

void Finish(LcPushCtx* push) {
  if (push->parser) {
    if (push->mode == Mode::Single)
      Feed(push, reinterpret_cast<const uint8_t*>(kSingleSuffix), sizeof kSingleSuffix - 1);
    if (MimeMultipartEnd(push->parser) == MimeParse::NoMemory) OutOfMemory(push);
    MimeMultipartFree(&push->parser);
  }
  DropEntry(push);
  TskmanTask* task = TskmanFind(kModule);
  if (task && !push->lost && LcListUsed(push->index) > 0 && Queue(push, nullptr, push->index)) {
    push->index = nullptr;
    TskmanPost(task, LcMsg::StoreQueue, reinterpret_cast<uintptr_t>(push->head),
               reinterpret_cast<uintptr_t>(push->tail));
    push->head = push->tail = nullptr;
  }
  // Told once, whatever number of its parts memory failed.
  if (push->shortOfMemory) LcSayPushLost();
  FreeQueued(push);
  MemFree(&push->index);
  MemFree(&push);
}

}  // namespace

Result LcPushOpen(const char*, uintptr_t* cookie) {
  *cookie = 0;
  auto* push = static_cast<LcPushCtx*>(MemAllocZero(sizeof(LcPushCtx), Use::Data, kModule));
  if (!push) return kLcNoMemory;
  push->index = LcListCreate(kIndexStep);
  if (!push->index) {
    MemFree(&push);
    return kLcNoMemory;
  }
  *cookie = reinterpret_cast<uintptr_t>(push);
  return kOk;
}

void LcPushData(const uint8_t* bytes, uint32_t length, uintptr_t cookie) {
  auto* push = reinterpret_cast<LcPushCtx*>(cookie);
  if (!push) return;
  if (!bytes || length == 0) {
    Finish(push);
    return;
  }
  if (push->mode == Mode::None)
    Begin(push, bytes, length);
  else
    Feed(push, bytes, length);
}
