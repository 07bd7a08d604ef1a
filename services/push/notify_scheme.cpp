// The notify: scheme (the inbox pages: browse, view, delete) and the
// "notify" variable source their templates read.
#include "services/push/notify_scheme.h"

#include "browser/benvar.h"
#include "browser/cache.h"
#include "browser/status.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "markup/varparse.h"
#include "services/push/inbox.h"
#include "services/push/notify.h"

namespace {

constexpr uint32_t kModule = 30;
constexpr uint32_t kUtf8 = 106, kUtf16 = 32766;
constexpr uint32_t kInboxOpened = 1;
constexpr char16_t kRedirect[] = u"HXPNotify_Redirect";
constexpr char16_t kBrowse[] = u"notify://";

namespace Step {
constexpr uint32_t Browse = 2, Finish = 3, Delete = 4, View = 5;
}

struct PageState {
  BenBrowser* browser;
  UrlLoad* load;
  char* intUrl;
  char* extUrl;
  uint32_t step;
};

// The value of the field "name=" in the query, up to the next "&", with its
// %XX escapes decoded; null when absent. The pages write both addresses
// percent-encoded, so "&", "#", "+" and "=" inside them arrive whole.
char* QueryValue(const char* query, const char* name) {
  const uint32_t nameLength = LibcStrLen(name);
  const char* at = query;
  while (at && LibcStrNCmp(at, name, nameLength) != 0) {
    at = LibcStrChr(at, '&');
    if (at) ++at;
  }
  if (!at) return nullptr;
  at += nameLength;
  const char* end = LibcStrChr(at, '&');
  char* value = LibcStrNDup(at, end ? static_cast<uint32_t>(end - at) : LibcStrLen(at));
  UrlUnescapeInPlace(value);
  return value;
}

// The message of the inbox cached under the URL, or null. Any other cached
// object (a push not yet routed among them) is no message of the inbox:
// viewing or deleting it would let go of a lock the page never took.
UrlLoad* FindMessage(const char* url) {
  if (!url) return nullptr;
  UrlParsed parsed;
  if (UrlParse(&parsed, url, 0) != kOk) return nullptr;
  UrlLoad* load = CacheFindByName(&parsed);
  UrlFreeParsed(&parsed);
  return NotifyHoldsMessage(load) ? load : nullptr;
}

void SetRedirect(PageState* state, const char* url) {
  if (!state->browser) return;
  char16_t* wide = nullptr;
  if (url && *url && LngCharsetToWide(&wide, url, kUtf8) == kOk && wide) {
    BenSetVar(state->browser, kRedirect, wide);
    MemFree(&wide);
    return;
  }
  BenSetVar(state->browser, kRedirect, kBrowse);
}

void FreeState(UrlLoad* load) {
  auto* state = reinterpret_cast<PageState*>(load->schemeRecord);
  if (!state) return;
  MemFree(&state->intUrl);
  MemFree(&state->extUrl);
  MemFree(&state);
  load->schemeRecord = 0;
}

}  // namespace

Result NotifyRenderPage(UrlLoad* load, const char* path) {
  uint32_t size = 0;
  Result why = kOk;
  const uint8_t* file = QorRomOpen(path, &size, &why);
  if (why == kQorRomNoMemory) return kNotifyPageNoMemory;
  if (!file) return kOk;  // a missing page renders nothing
  UtilDataChunk* block = UtilDataChunkNew(file, size, kModule);
  VarParseJob* job = nullptr;
  Result r = block ? VarParseCreate(&job, 0, nullptr) : kNotifyPageNoMemory;
  if (r == kOk) {
    const uint32_t before = UtilDataChunkQueueBytes(&load->input);
    VarParseSetSources(job, kNotifySources);
    VarParseSetSink(job, &load->input);
    VarParseFeed(job, block);
    block = nullptr;
    VarParseClose(&job);
    load->delivered += UtilDataChunkQueueBytes(&load->input) - before;
    load->charset = kUtf16;
  }
  MemFree(&block);
  QorRomRelease(file);
  return r;
}

Result NotifySchemeStart(UrlRequestRec* request, UrlLoad* load) {
  auto* state = static_cast<PageState*>(MemAllocZero(sizeof(PageState), Use::Data, kModule));
  if (!state) return kNotifyPageNoMemory;
  state->browser = request ? request->browser : nullptr;
  state->load = load;
  load->schemeRecord = reinterpret_cast<uintptr_t>(state);
  UrlSetContentTypeMime(load, "text/html");
  load->flags &= ~UrlFlag::Listed;
  load->events |= UrlEvent::StatusKnown;
  const char* host = load->url.host ? load->url.host : "";
  if (LibcStrICmp(host, "view") == 0 || LibcStrICmp(host, "delete") == 0) {
    load->status = kUrlStatusKeptOut;
    state->step = LibcStrICmp(host, "view") == 0 ? Step::View : Step::Delete;
    state->intUrl = QueryValue(load->url.query, "int=");
    state->extUrl = QueryValue(load->url.query, "ext=");
    if (!state->intUrl || !*state->intUrl) state->step = Step::Browse;
  } else {
    load->status = kUrlStatusBuiltPage;
    state->step = Step::Browse;
  }
  return kOk;
}

Result NotifySchemeStep(UrlRequestRec*, UrlLoad* load) {
  auto* state = reinterpret_cast<PageState*>(load->schemeRecord);
  if (!state) return kOk;
  Result r = kOk;
  switch (state->step) {
    case Step::Browse:
      if (TskmanTask* status = TskmanFind(Mod::Stat))
        TskmanPost(status, StatusMsg::Indicator, StatusKind::Push, kInboxOpened);
      r = NotifyRenderPage(load, "notify/browse.html");
      state->step = Step::Finish;
      break;
    case Step::View: {
      UrlLoad* message = FindMessage(state->intUrl);
      if (message && !(message->flags & UrlFlag::Viewed))
        NotifyMarkMessage(message, UrlFlag::Viewed);
      SetRedirect(state, message ? state->extUrl : nullptr);
      r = NotifyRenderPage(load, "notify/view.html");
      state->step = Step::Finish;
      break;
    }
    case Step::Delete:
      if (UrlLoad* message = FindMessage(state->intUrl)) NotifyRemoveMessage(message);
      SetRedirect(state, nullptr);
      r = NotifyRenderPage(load, "notify/delete.html");
      state->step = Step::Finish;
      break;
    case Step::Finish:
      load->endOfData = 1;
      FreeState(load);
      break;
    default:
      break;
  }
  return r;
}

Result NotifySchemeClose(UrlRequestRec*, UrlLoad* load) {
  FreeState(load);
  return kOk;
}

// --- The "notify" source ---------------------------------------------------------------

namespace {

struct Loop {
  NotifyInbox* inbox;
  int property;
};

// "collection.rest": the inbox over the collection the text before the
// first "." names; the property is what follows the rest's last ".".
NotifyInbox* OpenFor(const char* name, int* property) {
  const char* dot = LibcStrChr(name, '.');
  if (!dot) return nullptr;
  const char* rest = dot + 1;
  const char* last = LibcStrRChr(rest, '.');
  *property = NotifyInboxPropertyIndex(last ? last + 1 : rest);
  return NotifyInboxOpen(rest, name, static_cast<uint32_t>(dot - name));
}

const char16_t* ValueOf(NotifyInbox* inbox, int property) {
  return property >= 0 ? NotifyInboxProperty(inbox, property) : nullptr;
}

void* SourceOpen(const char* name, void** holder, VarParseJob*, uint32_t* charset, uint32_t*) {
  *charset = kUtf16;
  int property = -1;
  if (!holder) {
    NotifyInbox* inbox = OpenFor(name, &property);
    if (!inbox) return nullptr;
    const char16_t* value = ValueOf(inbox, property);
    char16_t* copy = value ? LibcWStrDup(value) : nullptr;
    NotifyInboxClose(&inbox);
    return copy;
  }
  auto* loop = static_cast<Loop*>(MemAllocZero(sizeof(Loop), Use::Data, kModule));
  *holder = loop;
  if (!loop) return nullptr;
  loop->inbox = OpenFor(name, &property);
  loop->property = property;
  const char16_t* value = loop->inbox ? ValueOf(loop->inbox, property) : nullptr;
  if (!value) {
    NotifyInboxClose(&loop->inbox);
    MemFree(&loop);
    *holder = nullptr;
    return nullptr;
  }
  return const_cast<char16_t*>(value);
}

void* SourceNext(void* state, uint32_t*) {
  auto* loop = static_cast<Loop*>(state);
  if (!NotifyInboxNext(loop->inbox) || loop->property < 0) return nullptr;
  return const_cast<char16_t*>(ValueOf(loop->inbox, loop->property));
}

void SourceClose(void* state) {
  auto* loop = static_cast<Loop*>(state);
  if (!loop) return;
  NotifyInboxClose(&loop->inbox);
  MemFree(&loop);
}

void* SourceProperty(void* state, const char* name, uint32_t*) {
  auto* loop = static_cast<Loop*>(state);
  const char* last = LibcStrRChr(name, '.');
  return const_cast<char16_t*>(
      ValueOf(loop->inbox, NotifyInboxPropertyIndex(last ? last + 1 : name)));
}

}  // namespace

const VarParseSource kNotifySourceRow = {"notify", SourceOpen, SourceNext, SourceClose,
                                         SourceProperty};
const VarParseSource kNotifySources[] = {
    {"notify", SourceOpen, SourceNext, SourceClose, SourceProperty},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
