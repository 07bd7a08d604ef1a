// Connectivity documents as the "provc" row receives them: the load's steps
// collect the document, find its sender and entry, check its security
// headers, ask the user (and a PIN), check its MAC, parse it and commit it;
// the provisioning task carries the answers of the settings store, the popups
// and the host back to the load.
#include <initializer_list>

#include "host/platform/handset.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uistring.h"
#include "host/platform/shell.h"
#include "markup/template_page.h"
#include "security/ecapi_hash.h"
#include "services/provisioning/prov.h"
#include "services/provisioning/prov_internal.h"
#include "widgets/popup.h"

namespace {

constexpr uint32_t kModule = Mod::Provisioning;
constexpr uint32_t kDeviceIdAnswer = Msg(71, 0);
constexpr uint32_t kPinMode = 8;
constexpr uint32_t kMaxTries = 3;

enum State : uint32_t {
  Start = 0, Collect = 1, Wait = 2, Headers = 3, DeviceId = 4, Ask = 5, Asked = 6,
  Authenticate = 7, Parse = 9, Commit = 10, Committed = 11, Done = 12,
};

struct ProvTaskCtx {
  ProvParser parser;  // first: the decoder's callbacks find it
  char* initiator;    // owned
  uint32_t closed;    // the load let go while an answer was awaited
  TskmanTask* task;
  Result error;
  uint32_t state, next;
  ConfigHandle* access;
  char* mac;  // the "mac" header, owned
  char deviceId[8];
  uint32_t deviceIdLength;
  uint32_t popupShowing, pinPrompt, retries;
  PopupWatch watch;  // a popup gone without an answer is a refusal
  char16_t* pin;  // owned
  Queue data;     // the document's blocks in arrival order
  UrlLoad* load;
  TskmanTask* stepper;  // steps the load itself (a pushed document); null: the URL task
  uint32_t consented;   // the user accepted it (and has not cancelled its PIN since)
  uint32_t said;        // its loss is said already
};

void FreeCtx(ProvTaskCtx** cp) {
  ProvTaskCtx* c = *cp;
  if (!c) return;
  PopupWatchStop(&c->watch);
  if (c->task) TskmanDestroyTask(c->task);
  MemFree(&c->initiator);
  MemFree(&c->mac);
  MemFree(&c->pin);
  if (c->access) ConfigRelease(&c->access);
  ProvParserClear(&c->parser);
  UtilDataChunkFreeQueue(&c->data);
  MemFree(cp);
}

// A load that waits is not stepped until its answer has come: whoever steps
// it is told that it can go on.
void Wake(ProvTaskCtx* c) {
  UrlLoad* load = c->load;
  if (!load || !load->waiting) return;
  if (c->stepper) {
    load->waiting = 0;
    TskmanPost(c->stepper, ProvMsg::PushStep, 0, 0);
  } else {
    UrlLoadWake(load);
  }
}

// The awaited answer has come: the load moves on at its next step.
void Continue(ProvTaskCtx* c) {
  c->state = c->next;
  Wake(c);
}

void Fail(ProvTaskCtx* c, Result code) {
  c->error = code;
  c->state = c->next;
  Wake(c);
  PopupWatchStop(&c->watch);
  if (c->task) {
    TskmanTask* task = c->task;
    c->task = nullptr;
    TskmanDestroyTask(task);
  }
}

// The consent prompt with the sender put in for "$(HXPProv)".
char16_t* ConsentText(const char* initiator) {
  const char16_t* text = UiGetString(17, 2);
  char16_t* who = nullptr;
  if (LngCharsetToWide(&who, initiator ? initiator : "", 106) != kOk) return nullptr;
  static constexpr char16_t kMark[] = u"$(HXPProv)";
  const uint32_t markLength = 10;
  const char16_t* at = LibcWStrStr(text, kMark);
  const uint32_t length = LibcWStrLen(text), whoLength = LibcWStrLen(who);
  auto* out = static_cast<char16_t*>(
      MemAlloc((length + whoLength + 1) * sizeof(char16_t), Use::String, kModule));
  if (out) {
    if (!at) {
      LibcWStrCopy(out, text);
    } else {
      const auto before = static_cast<uint32_t>(at - text);
      LibcMemCopy(out, text, before * sizeof(char16_t));
      LibcMemCopy(out + before, who, whoLength * sizeof(char16_t));
      LibcWStrCopy(out + before + whoLength, at + markLength);
    }
  }
  MemFree(&who);
  return out;
}

// A question that could not be shown went unanswered: a pushed document,
// which has no page to show its failure, is said with its sender.
void SayNotShown(ProvTaskCtx* c, Result why) {
  if (!c->stepper || c->said) return;
  ProvSayNotApplied(c->initiator, ResultNoMemory(why)
                                      ? "its question could not be shown: not enough memory"
                                      : "its question could not be shown");
  c->said = 1;
}

void ShowPrompt(ProvTaskCtx* c) {
  if (ProvAskingEnded()) {
    // The browser and its popups are gone: the question can no longer be put.
    ProvSayNotApplied(c->initiator, c->consented || c->retries ? kProvLeftUnanswered : kProvStoppedFirst);
    c->said = 1;
    Fail(c, ProvCode::Cancelled);
    return;
  }
  Result r;
  if (c->retries == 0 && !c->pinPrompt) {
    char16_t* text = ConsentText(c->initiator);
    r = text ? PopupConfirm(text, UiGetString(17, 3), UiGetString(17, 4), c->task)
             : ProvCode::NoMemory;
    MemFree(&text);
  } else {
    c->pinPrompt = 1;
    r = PopupInput(UiGetString(17, c->retries ? 1 : 0), nullptr, nullptr, kPinMode, c->task);
  }
  if (r == kOk) {
    c->popupShowing = 1;
    PopupWatchStart(&c->watch, c->task);
  } else {
    SayNotShown(c, r);
    Fail(c, r);
  }
}

void OnPopupAnswer(ProvTaskCtx* c, uintptr_t value, uintptr_t flag) {
  c->popupShowing = 0;
  PopupWatchStop(&c->watch);
  if (c->pinPrompt) {
    auto* text = reinterpret_cast<char16_t*>(value);
    if (!flag) {
      MemFree(&text);
      c->consented = 0;  // the user let it go
      Fail(c, ProvCode::Cancelled);
      return;
    }
    MemFree(&c->pin);
    c->pin = text;
    Continue(c);
    return;
  }
  if (!value) {
    Fail(c, ProvCode::Cancelled);
    return;
  }
  c->consented = 1;
  if (c->parser.method >= 2) {
    c->pinPrompt = 1;
    ShowPrompt(c);
    return;
  }
  Continue(c);
}

// The store's answer to the commit's save, when it was not kept: the
// document is not applied, and said with its sender.
void DocumentNotKept(TskmanTask* task, Result status) {
  auto* c = static_cast<ProvTaskCtx*>(task->context);
  if (!c) return;
  ProvSayNotApplied(c->initiator, ConfigWhyText(status));
  c->said = 1;
}

void OnCommit(ProvTaskCtx* c, Result status) {
  Result r = status;
  if (r == kOk && !c->access) r = ProvCode::NoMemory;
  if (r == kOk) r = ProvWriteEntry(&c->parser, c->access);
  if (r == kOk) {
    ConfigHandle* access = c->access;
    c->access = nullptr;
    r = ConfigSave(access, DocumentNotKept);  // answered by 0x202
    if (r == kOk) return;
  }
  if (c->access) ConfigRelease(&c->access);
  Fail(c, r);
}

// After the load let go: whatever the answer carries is freed with the context.
Result Orphaned(ProvTaskCtx* c, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (message == ConfigMsg::Opened && arg1 == kOk && arg2)
    c->access = reinterpret_cast<ConfigHandle*>(arg2);
  if (message == PwlEvent::PopupAnswer && c->pinPrompt) {
    auto* text = reinterpret_cast<char16_t*>(arg1);
    MemFree(&text);
  }
  FreeCtx(&c);
  return kOk;
}

// --- The load's side -------------------------------------------------------

bool IsLocal(const UrlLoad* load) {
  const char* scheme = load->url.scheme;
  return scheme && (LibcStrICmp(scheme, "wsc") == 0 || LibcStrICmp(scheme, "file") == 0);
}

// The sender: "SIM" for local documents, else the host of the first
// initiator header, or the load's own host.
Result SenderOf(const UrlLoad* load, char** out) {
  *out = nullptr;
  const char* text = nullptr;
  if (IsLocal(load)) {
    text = "SIM";
  } else {
    const char* header = nullptr;
    for (const char* name : {"x-wap-initiator-uri", "x-wap-content-uri", "content-location"})
      if (UrlGetHeader(const_cast<UrlLoad*>(load), name, &header) == kOk) break;
    if (header) {
      UrlParsed url{};
      if (UrlParse(&url, header, 0) != kOk) return ProvCode::Refused;
      *out = url.host ? LibcStrDup(url.host) : LibcStrDup("");
      UrlFreeParsed(&url);
      if (!*out) return ProvCode::NoMemory;
      return kOk;
    }
    text = load->url.host ? load->url.host : "";
  }
  return (*out = LibcStrDup(text)) ? kOk : ProvCode::NoMemory;
}

Result FindInitiator(ProvTaskCtx* c, UrlLoad* load) {
  if (!c->initiator)
    if (Result r = SenderOf(load, &c->initiator); r != kOk) return r;
  c->parser.initiator = c->initiator;
  return *c->initiator ? kOk : ProvCode::Refused;
}

// Sender, entry and security headers; the next state, or an error.
Result CheckHeaders(ProvTaskCtx* c, UrlLoad* load) {
  Result r = FindInitiator(c, load);
  if (r != kOk) return r;
  r = ConfigFindSlot(&c->parser.slot, c->access, c->initiator, static_cast<int32_t>(c->parser.mode));
  if (r != kOk) return r;
  char slot[12];
  LibcItoA(static_cast<int32_t>(c->parser.slot), slot, 10);
  bool exists = false, secured = false;
  if (ConfigOpenPath(c->access, slot, 0, false) == kOk) {
    exists = true;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    ConfigKind kind{};
    secured = ConfigGetRaw(c->access, "sec", 0, &data, &length, &kind) == kOk;
    ConfigClose(c->access, false);
  }
  ConfigRelease(&c->access);
  const char* sec = nullptr;
  if (UrlGetHeader(load, "sec", &sec) != kOk) return secured ? ProvCode::Refused : kOk;
  c->parser.newEntry = exists ? 0 : 1;
  if (sec[0] < '0' || sec[0] > '3') return ProvCode::Refused;
  c->parser.method = static_cast<uint32_t>(sec[0] - '0') + 1;
  const char* mac = nullptr;
  if (UrlGetHeader(load, "mac", &mac) == kOk) {
    if (!(c->mac = LibcStrDup(mac))) return ProvCode::NoMemory;
  } else if (c->parser.method != 4) {
    return ProvCode::Refused;
  }
  return kOk;
}

Result Hmac(const uint8_t* key, uint32_t keyLength, const Queue* data, uint8_t* out) {
  EcapiHandle context = 0, keyHandle = 0, hash = 0;
  Result r = EcapiOpenContext(&context);
  if (r == kOk) r = EcapiImportKey(context, key, keyLength, &keyHandle);
  if (r == kOk) r = EcapiCreateHash(context, EcapiAlg::Hmac, keyHandle, &hash);
  if (r == kOk) {
    const EcapiHmacInfo info{EcapiAlg::Sha1, nullptr, 0, nullptr, 0};
    r = EcapiSetHashParam(hash, EcapiParam::HmacInfo, &info);
  }
  for (QueueNode* n = data->head; n && r == kOk; n = n->next) {
    const UtilDataChunk* chunk = UtilDataChunkOf(n);
    r = EcapiHashData(hash, UtilDataChunkData(chunk) + chunk->offset, chunk->remaining);
  }
  uint32_t length = kEcapiSha1Bytes;
  if (r == kOk) r = EcapiGetHashParam(hash, EcapiParam::HashValue, out, &length);
  if (hash) EcapiDestroyHash(hash);
  if (keyHandle) EcapiDestroyKey(keyHandle);
  if (context) EcapiCloseContext(context);
  return r;
}

bool MacMatches(const char* mac, const uint8_t* value) {
  if (!mac || LibcStrLen(mac) != 2 * kEcapiSha1Bytes) return false;
  for (uint32_t i = 0; i < kEcapiSha1Bytes; ++i) {
    const int high = LibcHexDigit(mac[2 * i]), low = LibcHexDigit(mac[2 * i + 1]);
    if (high < 0 || low < 0 || static_cast<uint32_t>(high << 4 | low) != value[i]) return false;
  }
  return true;
}

// The PIN and the MAC against the document; 0 or ProvCode::AuthFailed.
Result CheckMac(ProvTaskCtx* c) {
  const uint32_t method = c->parser.method;
  uint32_t pinLength = c->pin ? LngNarrowInPlace(c->pin) : 0;
  const auto* pin = reinterpret_cast<const char*>(c->pin);
  // LngNarrowInPlace keeps the low bytes at the front of the buffer.
  if (method >= 2 && (pinLength == 0 || pinLength % 2 != 0)) return ProvCode::AuthFailed;
  const uint32_t pinKey = method == 4 ? pinLength / 2 : pinLength;
  // The key is as long as the PIN makes it.
  const uint32_t keyLength = c->deviceIdLength + pinKey;
  auto* key = static_cast<uint8_t*>(MemAlloc(keyLength ? keyLength : 1, Use::Data, kModule));
  if (!key) return ProvCode::NoMemory;
  LibcMemCopy(key, c->deviceId, c->deviceIdLength);
  if (pinKey) LibcMemCopy(key + c->deviceIdLength, pin, pinKey);
  uint8_t value[kEcapiSha1Bytes];
  const Result hashed = Hmac(key, keyLength, &c->data, value);
  MemFree(&key);
  if (hashed != kOk) return hashed;
  if (method != 4) return MacMatches(c->mac, value) ? kOk : ProvCode::AuthFailed;
  const uint32_t n = pinLength / 2;
  if (n > kEcapiSha1Bytes) return ProvCode::AuthFailed;
  for (uint32_t i = 0; i < n; ++i)
    if (pin[n + i] != static_cast<char>('0' + value[i] % 10)) return ProvCode::AuthFailed;
  return kOk;
}

Result CheckAuthentication(ProvTaskCtx* c) {
  const Result r = CheckMac(c);
  MemFree(&c->pin);
  if (r == kOk) {
    c->state = Parse;
    return kOk;
  }
  if (c->parser.method >= 2 && ++c->retries < kMaxTries) {
    c->state = Ask;
    return kOk;
  }
  return r;
}

Result ParseDocument(ProvTaskCtx* c, UrlLoad* load) {
  const Result r = ProvParserFeed(&c->parser, &c->data);
  if (r == kWbxmlFinished) {
    ConfigOpen(c->task, "//access", true);
    c->next = Commit;
    c->state = Wait;
    return kOk;
  }
  (void)load;
  // The decoder's refusals and a document cut short are malformed; the
  // parser's own codes and the settings store's are passed on.
  if (r == kWbxmlNoMemory) return ProvCode::NoMemory;
  if (r == kOk || ResultModule(r) == Mod::Wbxml) return ProvCode::Cancelled;
  return r;
}

// The document has been applied: the load shows the page that says so.
Result ShowUpdated(UrlLoad* load) {
  Result r = UtilAppendRomFile(load, "prov/updated.html");
  if (r != kOk) return r;
  if (UrlLoadSetHandlerById(load, UrlType::Html) != kOk) load->contentRow = nullptr;
  load->typeId = UrlType::Html;
  load->contentClass = 2;
  load->events |= UrlEvent::ClassKnown;
  return kOk;
}

Result Step(ProvTaskCtx* c, UrlLoad* load) {
  for (;;) {
    if (c->error) return c->error;
    switch (c->state) {
      case Collect:
        while (QueueNode* block = QueuePopFront(&load->input)) QueueAppend(&c->data, block);
        if (!load->endOfData) return kOk;
        ConfigOpen(c->task, "//access", false);
        c->next = Headers;
        c->state = Wait;
        return kOk;
      case Wait:
        return kOk;
      case Headers: {
        if (Result r = CheckHeaders(c, load); r != kOk) return r;
        const uint32_t m = c->parser.method;
        if (m == 1 || m == 3) {
          c->parser.accessLevel = 3;
          c->next = DeviceId;
          c->state = Wait;
          if (Result r = ShellGetDeviceId(c->task, c->deviceId); r != kOk) return ProvCode::Refused;
          return kOk;
        }
        c->state = Ask;
        break;
      }
      case DeviceId:
      case Ask:
        c->next = Asked;
        c->state = Wait;
        TskmanPost(c->task, ProvMsg::Ask, 0, 0);
        return kOk;
      case Asked:
        c->state = c->parser.method ? Authenticate : Parse;
        break;
      case Authenticate:
        if (Result r = CheckAuthentication(c); r != kOk) return r;
        break;
      case Parse:
        return ParseDocument(c, load);
      case Commit:
        c->next = Committed;
        c->state = Wait;
        TskmanPost(c->task, ProvMsg::Commit, 0, 0);
        return kOk;
      case Committed:
      case Done:
        return kOk;
      default:
        return ProvCode::Cancelled;
    }
  }
}

Result Create(UrlLoad* load) {
  load->flags &= ~UrlFlag::Listed;
  auto* c = static_cast<ProvTaskCtx*>(MemAllocZero(sizeof(ProvTaskCtx), Use::Context, kModule));
  if (!c) return ProvCode::NoMemory;
  Result r = ProvParserInit(&c->parser, IsLocal(load) ? ProvMode::Local : ProvMode::Remote);
  if (r == kOk) r = TskmanCreateTask(&c->task, kModule, ProvTaskHandler, c);
  if (r != kOk) {
    FreeCtx(&c);
    return ProvCode::NoMemory;
  }
  c->load = load;
  c->state = Collect;
  load->handlerState = c;
  return kOk;
}

// Why a document the user accepted was not applied, as its line says it.
const char* WhyNotApplied(Result r) {
  switch (r) {
    case ProvCode::AuthFailed:
      return "its PIN or MAC did not match";
    case ProvCode::Cancelled:
      return "it is malformed";
    case ProvCode::NoAccessPoint:
      return "it names an access point it does not define";
    case ProvCode::Refused:
      return "it was refused";
    default:
      return ConfigWhyText(r);
  }
}

// The document's own failings (and the user's no) end a pushed one the
// user did not accept without a word; the settings store or the heap
// failing it is said whether or not the user was asked yet.
bool SaysFailure(const ProvTaskCtx* c, Result r) {
  if (!c->stepper || c->said) return false;
  return c->consented || (r != ProvCode::AuthFailed && r != ProvCode::Cancelled &&
                          r != ProvCode::NoAccessPoint && r != ProvCode::Refused);
}

// --- The held download -------------------------------------------------------

struct HeldItem {
  uint8_t* item;
  uint32_t length;
  void (*release)();
};
HeldItem gHeld{};

}  // namespace

Result ProvTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* c = static_cast<ProvTaskCtx*>(context);
  if (!c || message == TskMsg::Start) return kOk;
  if (c->closed) return Orphaned(c, message, arg1, arg2);
  switch (message) {
    case ProvMsg::Ask:
      ShowPrompt(c);
      break;
    case PwlEvent::PopupAnswer:
      OnPopupAnswer(c, arg1, arg2);
      break;
    case ConfigMsg::Opened:
      if (arg1 == kOk && arg2) {
        c->access = reinterpret_cast<ConfigHandle*>(arg2);
        Continue(c);
      } else {
        Fail(c, arg1 ? static_cast<Result>(arg1) : ProvCode::NoMemory);
      }
      break;
    case ConfigMsg::Saved:
      if (arg1 == kOk)
        Continue(c);
      else
        Fail(c, static_cast<Result>(arg1));
      break;
    case ProvMsg::Commit:
      OnCommit(c, static_cast<Result>(arg1));
      break;
    case kDeviceIdAnswer:
      if (arg1 == kOk && arg2 <= sizeof c->deviceId) {
        c->deviceIdLength = static_cast<uint32_t>(arg2);
        Continue(c);
      } else {
        Fail(c, ProvCode::Refused);
      }
      break;
    default:
      if (PopupWatchGone(&c->watch, message, arg1, arg2) && c->popupShowing) {
        if (c->watch.failure) SayNotShown(c, c->watch.failure);
        OnPopupAnswer(c, 0, 0);
      }
      break;
  }
  return kOk;
}

Result ProvProcess(UrlModuleContext*, UrlLoad* load) {
  if (!load->handlerState)
    if (Result r = Create(load); r != kOk) return r;
  auto* c = static_cast<ProvTaskCtx*>(load->handlerState);
  const Result r = Step(c, load);
  load->waiting = r == kOk && c->state == Wait ? 1 : 0;
  if (r != kOk) {
    // A pushed document has no page to show its failure: one the user
    // accepted, or one the store or the heap failed, is said.
    if (SaysFailure(c, r)) {
      char* sender = c->initiator ? nullptr : ProvSender(load);
      ProvSayNotApplied(c->initiator ? c->initiator : sender, WhyNotApplied(r));
      MemFree(&sender);
    }
    FreeCtx(&c);
    load->handlerState = nullptr;
    return r;
  }
  if (c->state == Committed || c->state == Done) {
    FreeCtx(&c);
    load->handlerState = nullptr;
    return ShowUpdated(load);
  }
  return kOk;
}

Result ProvRelease(UrlModuleContext*, UrlLoad* load) {
  auto* c = static_cast<ProvTaskCtx*>(load->handlerState);
  if (!c) return kOk;
  load->handlerState = nullptr;
  UtilDataChunkFreeQueue(&c->data);
  if (c->state == Wait && !c->popupShowing && c->task) {
    c->closed = 1;  // the task frees the context when its answer comes
    c->load = nullptr;
    c->stepper = nullptr;
    return kOk;
  }
  if (c->popupShowing && c->task) {
    // The popup may have answered already, its answer (a PIN text) on its
    // way to the task: the task frees the context, and what the answer
    // carries, at the next message, which this post makes sure of. Only the
    // task's own question goes: another module's may show under it.
    PopupCloseFor(TskmanRefOf(c->task));
    c->closed = 1;
    c->load = nullptr;
    c->stepper = nullptr;
    TskmanPost(c->task, ProvMsg::Ask, 0, 0);
    return kOk;
  }
  FreeCtx(&c);
  return kOk;
}

ProvUser ProvUserStanding(const UrlLoad* load) {
  const auto* c = load ? static_cast<const ProvTaskCtx*>(load->handlerState) : nullptr;
  if (!c) return ProvUser::NotAsked;
  if (c->error) return ProvUser::Done;
  if (c->popupShowing) return ProvUser::Asked;
  // From Asked on every answer is in (a wrong PIN goes back to Ask).
  if ((c->state == Wait ? c->next : c->state) >= Asked) return ProvUser::Done;
  return c->consented || c->retries ? ProvUser::Asked : ProvUser::NotAsked;
}

char* ProvSender(const UrlLoad* load) {
  char* sender = nullptr;
  SenderOf(load, &sender);
  return sender;
}

namespace {

// The documents refused for want of memory and not said yet, and the second
// the last ones were said in: a flood of them is said a line a second, as
// pushes lost for want of memory are, the rest at the stop.
struct ShortCount {
  uint32_t documents;
  int32_t second;
  bool said;
};
ShortCount gShort;

bool ForWantOfMemory(const char* why) {
  const uint32_t n = LibcStrLen(why), k = sizeof kProvNoMemory - 1;
  return n >= k && LibcStrCmp(why + n - k, kProvNoMemory) == 0;
}

}  // namespace

void ProvSayRefusedCount() {
  gShort.said = false;  // the next one is said with its sender
  if (gShort.documents == 0) return;
  char what[96];
  if (gShort.documents == 1) {
    LibcStrCopy(what, "a provisioning document: not enough memory; it was not applied");
  } else {
    LibcItoA(static_cast<int32_t>(gShort.documents), what, 10);
    LibcStrCat(what, " provisioning documents: not enough memory; they were not applied");
  }
  gShort.documents = 0;
  ConfigSayNotKept("//access", what);
}

void ProvSayNotApplied(const char* sender, const char* why) {
  if (ForWantOfMemory(why)) {
    ++gShort.documents;
    const int32_t now = LibcTime(nullptr);
    if (gShort.said && now == gShort.second) return;
    gShort.said = true;
    gShort.second = now;
    // The first of a second is said with its sender; those counted before
    // it in an earlier second go with it, in one line.
    if (gShort.documents > 1) {
      ProvSayRefusedCount();
      gShort.said = true;
      return;
    }
    gShort.documents = 0;
  }
  if (!sender) sender = "an unknown sender";
  char what[240] = "a provisioning document from ";
  const uint32_t at = LibcStrLen(what);
  const uint32_t length = sender ? LibcStrLen(sender) : 0;
  const uint32_t n = length < 100 ? length : 100;
  if (n) LibcMemCopy(what + at, sender, n);
  what[at + n] = 0;
  LibcStrCat(LibcStrCat(LibcStrCat(what, ": "), why), "; it was not applied");
  ConfigSayNotKept("//access", what);
}

void ProvStepBy(UrlLoad* load, TskmanTask* task) {
  if (auto* c = load ? static_cast<ProvTaskCtx*>(load->handlerState) : nullptr) c->stepper = task;
}

int ProvHeldItemSetLength(uint8_t* item, uint32_t length) {
  if (!item || !length) return 0;
  gHeld.item = item;
  gHeld.length = length;
  return 1;
}

void ProvSetHeldItemRelease(void (*release)()) { gHeld.release = release; }

void ProvHeldItemForget() {
  gHeld.item = nullptr;
  gHeld.length = 0;
}

namespace {
void HoldDownload(uint8_t* item, uint32_t length) { ProvHeldItemSetLength(item, length); }
}  // namespace

const NdwnProvisioningRow kProvDownloadRow{HoldDownload, ProvHeldItemForget};

uint32_t ProvHeldItemKind() {
  if (!gHeld.item || !gHeld.length) return 0;
  const uint8_t b = gHeld.item[0] & 0x7F;
  if ((b >= 0x11 && b <= 0x15) || b == 0x17 || b == 0x41 || b == 0x42 || b == 0x51) return 1;
  if (b == 0x16) return 5;
  if (b == 0x21 || b == 0x22 || b == 0x24 || b == 0x25) return 2;
  if (b == 0x23 || (b >= 0x26 && b <= 0x28)) {
    // The search stays inside the item.
    const uint32_t limit = gHeld.length < 127 ? gHeld.length : 127;
    for (uint32_t i = 0; i < limit; ++i)
      if (gHeld.item[i] == 'M') return i + 16 < gHeld.length && gHeld.item[i + 16] == 16 ? 3 : 2;
    return 4;
  }
  return 4;
}

Result ProvHeldItemCheck(uint32_t locationDigit) {
  if (!gHeld.item) return 0x80550009;
  switch (ShellStubQuery3(reinterpret_cast<uintptr_t>(gHeld.item), gHeld.length, locationDigit)) {
    case 0:
    case 1:
    case 4:
      return 0x8055000C;
    case 2:
      return 0x80550008;
    case 3:
      return 0x80550009;
    case 5:
      return 0x8055000A;
    default:
      return 0x80550002;
  }
}

void ProvHeldItemFree() {
  if (gHeld.item && gHeld.release) gHeld.release();
  gHeld.item = nullptr;
  gHeld.length = 0;
}
