// Channels (module WtlRepository, 62) and the repository (WtlReplib, 63):
// channel documents name resources to keep on the handset; a fetch task per
// document fetches them one channel at a time; the repository task keeps
// them in the settings section "repository", from where rep: URLs and the
// "rep" variable source read them back offline.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "kernel/list.h"
#include "kernel/modules.h"
#include "markup/varparse.h"

namespace RepCode {
constexpr Result NoMemory = 0x803E0001, BadArg = 0x803E0002;
}
namespace ReplibCode {
constexpr Result NoMemory = 0x803F0001, NoData = 1, NotFound = 3, NoFolder = 0x8003003F;
}

namespace RepMsg {
constexpr uint32_t Checked = Msg(Mod::WtlRepository, 0x00);  // {check}: the repository's answer
}
namespace ReplibMsg {
constexpr uint32_t Store = Msg(Mod::WtlReplib, 0x00);       // {channel}
constexpr uint32_t Remove = Msg(Mod::WtlReplib, 0x01);      // {channel}
constexpr uint32_t Bindings = Msg(Mod::WtlReplib, 0x02);    // {-}
constexpr uint32_t UserPage = Msg(Mod::WtlReplib, 0x03);    // {result}
constexpr uint32_t Resolve = Msg(Mod::WtlReplib, 0x04);     // {parsed URL, result}
constexpr uint32_t Check = Msg(Mod::WtlReplib, 0x05);       // {base, check}
constexpr uint32_t FetchFailed = Msg(Mod::WtlReplib, 0x06);
constexpr uint32_t SourceOpen = Msg(Mod::WtlReplib, 0x07);  // {name, cell or 0}
constexpr uint32_t SourceNext = Msg(Mod::WtlReplib, 0x08);  // {cell}
constexpr uint32_t SourceClose = Msg(Mod::WtlReplib, 0x09); // {cell}
constexpr uint32_t SourceGet = Msg(Mod::WtlReplib, 0x0A);   // {cell, name copy}
constexpr uint32_t RunNext = Msg(Mod::WtlReplib, 0x0B);
}  // namespace ReplibMsg

// Content type id and class of compiled channel documents.
constexpr uint32_t kRepChannelType = 22, kRepChannelClass = 6;
// A channel's room must lie in this range, in kilobytes as the document says.
constexpr int32_t kRepMaxSpaceLimit = 3072;

enum class RepState : uint32_t { Idle = 0, Requested = 1, Unchanged = 2, Fetched = 3, Stored = 4, Failed = 5 };

struct RepResource {
  char* href;  // UTF-8
  uint32_t typeId;
  int32_t lastmod;
  char* etag;
  char* md5;
  UrlRequestRec* request;
  RepState state;
  int32_t number;  // in the repository, -1 for none
  uint8_t* data;   // owned apart from the record
  uint32_t dataLength;
  RepResource* next;
};

struct RepIdentity {
  char* channelId;  // UTF-8
  char16_t* title;
  uint32_t event;
  uint32_t userAccessible;
};

// One channel; on a load's output list its first word links it (a fetch
// task's own copy is on no list: the task may link it in its own).
struct RepChannel {
  QueueNode link;
  int32_t maxspace;
  char* base;
  char* success;
  char* failure;
  RepIdentity identity;
  int32_t expiry;
  uint32_t resourceCount;  // the fetch task also counts the pending ones here
  RepResource* resources;
};

// One resource a fetch task asks the repository about (0x3F05). The
// repository answers 0x3E00 {check} to the asker, which owns the record and
// keeps its channel until the answer is back, whatever became of the fetch.
struct RepCheck {
  TskmanRef asker;  // named as it asks
  RepChannel* channel;
  RepResource* resource;
};

// The record a channel document puts first on its load's output, for the
// push inbox's list: the layout of a Service Indication record.
struct RepNotice {
  QueueNode link;
  uint32_t action;  // 2
  uint32_t type;    // 2
  uint16_t href, siId, created, siExpires, text;  // unit indexes into the text area, 0xFFFF: absent
  // the text area follows: title, channel id, date, an empty unit, href
};
constexpr uint16_t kRepAbsent = 0xFFFF;
inline const char16_t* RepNoticeText(const RepNotice* n, uint16_t index) {
  return index == kRepAbsent ? nullptr : reinterpret_cast<const char16_t*>(n + 1) + index;
}

// --- Channel documents (the content row) -------------------------------------
Result RepContentProcess(UrlModuleContext* module, UrlLoad* load);
Result RepContentRelease(UrlModuleContext* module, UrlLoad* load);
// The WTA event number of a name ("wtaev-cc/ic" 1 ...), 0 for none.
uint32_t RepEventNumber(const char* name);

// A copy of the channel with its strings and resources in one allocation
// (module 62; fetched data is not copied); null without memory.
RepChannel* RepChannelCopy(const RepChannel* channel);
// Frees each resource's data and sets it back to idle.
void RepResetResources(RepChannel* channel);
// Resets the resources and frees the (compact) channel.
void RepChannelFree(RepChannel** channel);

// --- URLs ---------------------------------------------------------------------
// href alone when base is null or href is absolute, else base "/" href with
// exactly one slash between them; a new text (module 62), null without memory.
char* RepJoinUrl(const char* base, const char* href);
// The URL with its scheme (three characters or more) replaced by "rep"; a new text.
char* RepSchemeToRep(const char* url);

// --- The fetch task -----------------------------------------------------------
// Starts the fetch task of the channel document at `url` (copied); kOk or
// RepCode::NoMemory. The channel sink's close hands over its page's URL.
Result RepStartFetchTask(const char* url);
Result RepFetchTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// --- The repository task ------------------------------------------------------
// The repository task, created when absent; null when it cannot be.
TskmanTask* ReplibGetTask();
Result ReplibTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// What a rep: load asks the repository for; filled by the repository task.
struct ReplibResult {
  Result status;  // 0 while pending and on success; once the load gave up, non-zero
  uint8_t* data;
  uint32_t length;
  uint32_t typeId;
  char* url;  // set when the resource was named by its number
  uint32_t done;  // the answer has come
  char* asked;    // the URL asked for (the request's own copy)
};
// Frees a result with what it holds.
void ReplibFreeResult(ReplibResult** result);

// --- Schemes and the "rep" source --------------------------------------------
Result RepSchemeStart(UrlRequestRec* request, UrlLoad* load);
Result RepSchemeStep(UrlRequestRec* request, UrlLoad* load);
Result RepSchemeClose(UrlRequestRec* request, UrlLoad* load);
Result ChanSchemeStart(UrlRequestRec* request, UrlLoad* load);
Result ChanSchemeStep(UrlRequestRec* request, UrlLoad* load);
extern const VarParseSource kRepSources[];
