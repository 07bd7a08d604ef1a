// The function lookup and the scheme row of wtai:, tel:, dialto: and
// smsto: links. A link's load shows no page: it is finished at its start,
// and the request's answer reaches the link's request task.
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "services/wtai/wtai.h"

namespace {

bool SameName(const char* row, const char* name) {
  return name && LibcStrLen(name) < kWtaiNameSize && LibcStrNICmp(row, name, kWtaiNameSize) == 0;
}

// Percent-decodes the 8-bit text ('+' stays) and converts it from UTF-8.
char16_t* Decode(const char* text) {
  char* bytes = nullptr;
  if (UrlPercentDecode(text ? text : "", &bytes, 0) != kOk || !bytes) return nullptr;
  const uint32_t n = LibcStrLen(bytes);
  auto* wide = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::WtlWtai));
  if (wide) {
    uint32_t units = n;
    LngUtf8Decode(reinterpret_cast<const uint8_t*>(bytes), n, wide, &units);
    wide[units] = 0;
  }
  MemFree(&bytes);
  return wide;
}

// A new text of the parts joined.
char* Join(const char* a, const char* separator, const char* b) {
  const uint32_t x = LibcStrLen(a), y = LibcStrLen(separator), z = LibcStrLen(b);
  auto* out = static_cast<char*>(MemAlloc(x + y + z + 1, Use::String, Mod::WtlWtai));
  if (!out) return nullptr;
  LibcMemCopy(out, a, x);
  LibcMemCopy(out + x, separator, y);
  LibcMemCopy(out + x + y, b, z + 1);
  return out;
}

void MarkFinished(UrlLoad* load) {
  load->completion = 1;
  load->events |= UrlEvent::Complete | UrlEvent::Outside;
}

Result Outcome(Result r) { return r == kOk ? kOk : (r | 0x801F0000u); }

// The number of a tel:, dialto: or smsto: link: the host when there is one
// (then no path beyond "/"), else the path.
const char* NumberOf(const UrlParsed* url, bool* refused) {
  *refused = false;
  if (url->host && *url->host) {
    *refused = url->path && LibcStrLen(url->path) > 1;
    return url->host;
  }
  return url->path ? url->path : "";
}

Result StartWtai(UrlRequestRec* request, UrlLoad* load) {
  const UrlParsed* url = &load->url;
  char* joined = url->fragment ? Join(url->params ? url->params : "", "#", url->fragment) : nullptr;
  if (url->fragment && !joined) return kWtaiNoMemory;
  char16_t* args = Decode(joined ? joined : url->params);
  MemFree(&joined);
  if (!args) return kWtaiNoMemory;
  char16_t* variable = nullptr;
  for (char16_t* p = args; *p; ++p) {
    if (*p == '!') {
      *p = 0;
      variable = p + 1;
      break;
    }
  }
  BenBrowser* browser = request ? request->browser : nullptr;
  const int32_t level = browser && browser->accessOk ? 0 : 1;
  const char* path = url->path ? url->path : "";
  const WtaiHandler handler = WtaiFindFunction(url->host, *path == '/' ? path + 1 : path, level);
  if (!handler) {
    MemFree(&args);
    return kWtaiUnknown;
  }
  TskmanTask* task = WtaiCreateUrlRequestTask(browser, variable);
  Result outcome = 1;
  if (task)
    outcome = handler(task, args, WtaiState::First);
  else
    MemFree(&args);
  MarkFinished(load);
  return Outcome(outcome);
}

// Asks the handler with a link request task that stores no answer.
Result AskWithoutVariable(UrlRequestRec* request, WtaiHandler handler, char16_t* args) {
  TskmanTask* task = WtaiCreateUrlRequestTask(request ? request->browser : nullptr, nullptr);
  if (task) return handler(task, args, WtaiState::First);
  MemFree(&args);
  return kOk;
}

}  // namespace

WtaiHandler WtaiFindFunction(const char* library, const char* function, int32_t level) {
  const WtaiLibrary* lib = kWtaiLibraries;
  while (lib->functions && !SameName(lib->name, library)) ++lib;
  if (!lib->functions || !lib->functions->handler) return nullptr;
  const WtaiFunction* fn = lib->functions;
  while (fn->handler && !SameName(fn->name, function)) ++fn;
  if (!fn->handler || level < fn->level) return nullptr;
  return fn->handler;
}

Result WtaiStartDial(UrlRequestRec* request, UrlLoad* load) {
  const WtaiHandler handler = WtaiFindFunction("wp", "mc", 0);
  bool refused = false;
  const char* number = NumberOf(&load->url, &refused);
  if (!handler || refused) return kWtaiUnknown;
  char16_t* args = Decode(number);
  if (!args) return kWtaiNoMemory;
  AskWithoutVariable(request, handler, args);
  MarkFinished(load);
  return kOk;
}

Result WtaiStartSmsTo(UrlRequestRec* request, UrlLoad* load) {
  const WtaiHandler handler = WtaiFindFunction("nt", "send", 2);
  const UrlParsed* url = &load->url;
  bool refused = false;
  const char* number = NumberOf(url, &refused);
  if (!handler || refused || !url->query) return kWtaiUnknown;
  char* n = nullptr;
  char* q = nullptr;
  UrlPercentDecode(number, &n, 0);
  UrlPercentDecode(url->query, &q, 0);
  char* joined = n && q ? Join(n, ";", q) : nullptr;
  MemFree(&n);
  MemFree(&q);
  // Already decoded: only the conversion from UTF-8 is left.
  char16_t* args = nullptr;
  if (joined) {
    const uint32_t length = LibcStrLen(joined);
    args = static_cast<char16_t*>(MemAlloc((length + 1) * 2, Use::String, Mod::WtlWtai));
    if (args) {
      uint32_t units = length;
      LngUtf8Decode(reinterpret_cast<const uint8_t*>(joined), length, args, &units);
      args[units] = 0;
    }
    MemFree(&joined);
  }
  if (!args) return kWtaiNoMemory;
  const Result outcome = AskWithoutVariable(request, handler, args);
  MarkFinished(load);
  return Outcome(outcome);
}

Result WtaiSchemeStart(UrlRequestRec* request, UrlLoad* load) {
  load->flags &= ~UrlFlag::Listed;
  load->status = kUrlStatusKeptOut;
  load->events |= UrlEvent::StatusKnown;
  const char* scheme = load->url.scheme ? load->url.scheme : "";
  if (LibcStrICmp(scheme, "wtai") == 0) return StartWtai(request, load);
  if (LibcStrICmp(scheme, "smsto") == 0) return WtaiStartSmsTo(request, load);
  return WtaiStartDial(request, load);
}

Result WtaiSchemeStep(UrlRequestRec*, UrlLoad* load) {
  MarkFinished(load);
  return kOk;
}
