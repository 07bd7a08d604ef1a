#include "browser/bentask.h"

#include "browser/ben_hist.h"
#include "browser/benform.h"
#include "browser/benpage.h"
#include "browser/ui.h"
#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "widgets/popup.h"
#include "widgets/pwl.h"

// A call the WTA context releases when it ends.
struct BenWtaCall {
  BenWtaCall* next;
  uint32_t id;
};

struct BenWtaContext {
  uint32_t granted;   // the deck's "wtapermission"
  uint32_t accepted;  // a consent was accepted while granted
  BenEventBinding* bindings;  // the deck's temporary bindings
  BenWtaCall* calls;
};

namespace {

constexpr Result kNoMemory = ResultError(Mod::Ben, Err::NoMemory);
constexpr Result kBadArg = ResultError(Mod::Ben, Err::BadArg);
constexpr Result kNotFound = ResultError(Mod::Ben, Err::NotFound);
// The labels of the consent question: string table 13, entries 12 and 13.
constexpr uint32_t kLabelTable = 13, kYesLabel = 12, kNoLabel = 13;

void NoEvent(uint32_t, uint32_t, const char16_t*) {}
void NoRelease(uint32_t) {}
constexpr BenWtaHostHooks kDefaultHooks{NoEvent, NoRelease};
const BenWtaHostHooks* gHooks = &kDefaultHooks;
BenScriptStarter gScriptStarter = nullptr;

// Hands an 8-bit address to the UI task, which owns it from then on.
void PostAddress(uint32_t message, char* address) {
  if (!address) return;
  if (TskmanTask* ui = TskmanFind(Mod::Ui))
    TskmanPost(ui, message, reinterpret_cast<uintptr_t>(address), 0);
  else
    MemFree(&address);
}

// The answer task a WTA request names, taken as the request is received: one
// that stopped waiting before then took its name out of the request.
TskmanRef AnswerTaskOf(uintptr_t task) { return TskmanRefOf(reinterpret_cast<TskmanTask*>(task)); }

// The telephony answer {0, text}: the text is a new copy for the receiver.
void AnswerText(const TskmanRef& to, const char16_t* text) {
  if (!TskmanRefAlive(to)) return;
  char16_t* copy = LibcWStrDup(text);
  TskmanPost(to.task, BenMsg::Answer, 0, reinterpret_cast<uintptr_t>(copy));
}

BenEventBinding* FindBinding(BenEventBinding* list, uint32_t event) {
  for (; list; list = list->next)
    if (list->event == event) return list;
  return nullptr;
}

void RemoveBindings(BenEventBinding** list, uint32_t event) {
  while (*list) {
    if ((*list)->event == event) {
      BenEventBinding* gone = *list;
      *list = gone->next;
      gone->next = nullptr;
      BenFreeBindings(&gone);
    } else {
      list = &(*list)->next;
    }
  }
}

void EndWtaContext(BenBrowser* browser) {
  BenWtaContext* wta = browser->wta;
  if (!wta) return;
  BenFreeBindings(&wta->bindings);
  while (BenWtaCall* call = wta->calls) {
    wta->calls = call->next;
    gHooks->releaseCall(call->id);
    MemFree(&call);
  }
  MemFree(&browser->wta);
}

// The UI window's current address as 8-bit text (each unit's low byte).
char* CurrentAddress() {
  const UiWindow* ui = UiGetWindow();
  if (!ui || !ui->currentString || !ui->currentString[0]) return nullptr;
  const uint32_t n = LibcWStrLen(ui->currentString);
  auto* text = static_cast<char*>(MemAlloc(n + 1, Use::String, Mod::Ben));
  if (!text) return nullptr;
  for (uint32_t i = 0; i < n; ++i) text[i] = static_cast<char>(ui->currentString[i]);
  text[n] = 0;
  return text;
}

void CarryOutPending(BenBrowser* browser) {
  const uint32_t kind = browser->pending.kind;
  char* url = browser->pending.url;
  browser->pending.kind = BenPendingKind::None;
  browser->pending.url = nullptr;
  switch (kind) {
    case BenPendingKind::Go:
      PostAddress(BenMsg::UiNavigate, url);
      return;
    case BenPendingKind::Back:
      UiCommand(UiCmd::Back, 0);
      break;
    case BenPendingKind::Refresh:
      PostAddress(BenMsg::UiNavigate, CurrentAddress());
      break;
    default:
      break;
  }
  MemFree(&url);
}

void RunWtaEvent(BenBrowser* browser, uint32_t id, BenWtaEventParams* params) {
  const uint32_t count = params ? params->count : 0;
  const char16_t* block = params ? params->block : nullptr;
  BenEventBinding* binding = browser->wta ? FindBinding(browser->wta->bindings, id) : nullptr;
  if (!binding) binding = FindBinding(browser->bindings, id);
  if (binding && binding->url) {
    const char16_t* p = block;
    for (uint32_t i = 0; p && i < count; ++i) {
      char16_t name[34];
      LibcIntToWStr(static_cast<int32_t>(i), name, 10);
      BenSetVar(browser, name, p);
      p += LibcWStrLen(p) + 1;
    }
    PostAddress(BenMsg::UiNavigate, binding->url ? LibcStrDup(binding->url) : nullptr);
  } else {
    gHooks->event(id, count, block);
  }
  if (params) {
    MemFree(&params->block);
    MemFree(&params);
  }
}

void Decide(WtaiConsentRecord* record, uint32_t decision) {
  // The consent task may have ended while the question waited, and another
  // task been made in its record since.
  if (TskmanRefAlive(record->task)) TskmanPost(record->task.task, BenMsg::Decision, decision, 0);
  MemFree(&record->prompt);
  MemFree(&record);
}

WtaiConsentRecord* PopConsent(BenBrowser* browser) {
  WtaiConsentRecord* head = browser->consents;
  if (head) browser->consents = head->next;
  return head;
}

// The watch over the open consent popup: one that goes away without an
// answer (it could not be built, or was closed under the question) leaves
// its question refused. There is one browser task at a time.
PopupWatch gConsentWatch{};

// Puts the first waiting question to the user; one the popup cannot show
// is refused.
void AskNext(BenBrowser* browser) {
  while (browser->consents && !browser->asking) {
    const Result r = PopupConfirm(browser->consents->prompt ? browser->consents->prompt : u"",
                                  UiGetString(kLabelTable, kYesLabel),
                                  UiGetString(kLabelTable, kNoLabel), browser->task);
    if (r == kOk) {
      browser->asking = 1;
      PopupWatchStart(&gConsentWatch, browser->task);
    } else {
      Decide(PopConsent(browser), 0);
    }
  }
}

void ConsentGone(BenBrowser* browser) {
  if (!browser->asking) return;
  browser->asking = 0;
  if (WtaiConsentRecord* lost = PopConsent(browser)) Decide(lost, 0);
  AskNext(browser);
}

void Consent(BenBrowser* browser, WtaiConsentRecord* record) {
  if (!record) return;
  record->next = nullptr;
  const BenWtaContext* wta = browser->wta;
  if (record->remember && wta && wta->granted && wta->accepted) {
    Decide(record, 1);
    return;
  }
  WtaiConsentRecord** tail = &browser->consents;
  while (*tail) tail = &(*tail)->next;
  *tail = record;
  AskNext(browser);
}

void ConsentAnswered(BenBrowser* browser, uintptr_t value) {
  if (!browser->asking) return;
  browser->asking = 0;
  PopupWatchStop(&gConsentWatch);
  WtaiConsentRecord* record = PopConsent(browser);
  if (record) {
    const uint32_t accepted = value ? 1 : 0;
    if (accepted && browser->wta && browser->wta->granted) browser->wta->accepted = 1;
    Decide(record, accepted);
  }
  AskNext(browser);
}

void TakeBinding(BenBrowser* browser, BenEventBinding* binding, char* channelId) {
  if (!binding) {
    MemFree(&channelId);
    return;
  }
  if (!binding->channelId)
    binding->channelId = channelId;
  else
    MemFree(&channelId);
  RemoveBindings(&browser->bindings, binding->event);
  binding->next = browser->bindings;
  browser->bindings = binding;
}

BenPage* CurrentPage() {
  UiWindow* ui = UiGetWindow();
  return ui ? ui->page : nullptr;
}

bool NameIs(const char* name, const char16_t* wanted) {
  if (!name || !wanted) return false;
  const uint32_t n = LibcWStrLen(wanted);
  return LibcStrLen(name) == n && LibcStrWStrNICmp(name, wanted, n) == 0;
}

bool TextIs(const char16_t* text, const char16_t* wanted) {
  return text && wanted && LibcWStrCmp(text, wanted) == 0;
}

}  // namespace

const char* BenWtaEventName(uint32_t id) {
  switch (id) {
    case BenWtaEvent::IncomingCall: return "wtaev-cc/ic";
    case BenWtaEvent::CallCleared: return "wtaev-cc/cl";
    case BenWtaEvent::CallConnected: return "wtaev-cc/co";
    case BenWtaEvent::OutgoingCall: return "wtaev-cc/oc";
    case BenWtaEvent::CallConnecting: return "wtaev-cc/cc";
    case BenWtaEvent::Dtmf: return "wtaev-cc/dtmf";
    case BenWtaEvent::IncomingText: return "wtaev-nt/it";
    case BenWtaEvent::TextSent: return "wtaev-nt/st";
    case BenWtaEvent::NetworkStatus: return "wtaev-ms/ns";
    default: return nullptr;
  }
}

void BenFreeBindings(BenEventBinding** list) {
  while (BenEventBinding* b = *list) {
    *list = b->next;
    MemFree(&b->url);
    MemFree(&b->channelId);
    MemFree(&b);
  }
}

const BenWtaHostHooks* BenSetWtaHostHooks(const BenWtaHostHooks* hooks) {
  const BenWtaHostHooks* before = gHooks;
  gHooks = hooks ? hooks : &kDefaultHooks;
  return before;
}

void BenNewSecurityState(BenBrowser* browser) {
  if (!browser) return;
  browser->securityState = 1;
  if (TskmanTask* repository = TskmanFind(Mod::WtlReplib))
    TskmanPost(repository, BenMsg::RepositoryBindings, 0, 0);
}

Result BenWtaContextOpen(BenBrowser* browser) {
  if (!browser) return kBadArg;
  EndWtaContext(browser);
  browser->wta =
      static_cast<BenWtaContext*>(MemAllocZero(sizeof(BenWtaContext), Use::Context, Mod::Ben));
  return browser->wta ? kOk : kNoMemory;
}

void BenWtaGrantPermission(BenBrowser* browser, bool granted) {
  if (!browser || !browser->wta) return;
  browser->wta->granted = granted ? 1 : 0;
  if (!granted) browser->wta->accepted = 0;
}

Result BenWtaBindEvent(BenBrowser* browser, uint32_t event, const char* url) {
  if (!browser || !browser->wta || !url) return kBadArg;
  auto* binding = static_cast<BenEventBinding*>(
      MemAllocZero(sizeof(BenEventBinding), Use::Data, Mod::Ben));
  char* copy = LibcStrDup(url);
  if (!binding || !copy) {
    MemFree(&binding);
    MemFree(&copy);
    return kNoMemory;
  }
  binding->event = event;
  binding->url = copy;
  RemoveBindings(&browser->wta->bindings, event);
  binding->next = browser->wta->bindings;
  browser->wta->bindings = binding;
  return kOk;
}

uint32_t BenWtaFlag(const BenBrowser* browser) { return browser ? browser->wtaFlag : 0; }
bool BenWtaAccepted(const BenBrowser* browser) {
  return browser && browser->wta && browser->wta->accepted;
}
uint32_t BenWtaCallCount(const BenBrowser* browser) {
  uint32_t n = 0;
  if (browser && browser->wta)
    for (const BenWtaCall* c = browser->wta->calls; c; c = c->next) ++n;
  return n;
}

Result BenRaiseWtaEvent(uint32_t id, uint32_t count, char16_t* block) {
  TskmanTask* task = TskmanFind(Mod::Ben);
  if (!task) {
    gHooks->event(id, block ? count : 0, block);
    MemFree(&block);
    return kOk;
  }
  auto* params = static_cast<BenWtaEventParams*>(
      MemAllocZero(sizeof(BenWtaEventParams), Use::Data, Mod::Ben));
  if (!params) {
    MemFree(&block);
    return kNoMemory;
  }
  params->count = block ? count : 0;
  params->block = block;
  TskmanPost(task, BenMsg::WtaEvent, id, reinterpret_cast<uintptr_t>(params));
  return kOk;
}

void BenSetScriptStarter(BenScriptStarter start) { gScriptStarter = start; }

Result BenRunScript(char* callText, UrlRequestRec* referring) {
  TskmanTask* task = TskmanFind(Mod::WmlsExec);
  Result r = task ? kOk : kNotFound;
  if (!task && gScriptStarter) r = gScriptStarter(&task);
  if (!task) {
    MemFree(&callText);
    return r == kOk ? kNotFound : r;
  }
  TskmanPost(task, BenMsg::RunScript, reinterpret_cast<uintptr_t>(callText),
             reinterpret_cast<uintptr_t>(referring));
  return kOk;
}

void BenStopScripts() {
  if (TskmanTask* task = TskmanFind(Mod::WmlsExec)) TskmanPost(task, BenMsg::StopScripts, 0, 0);
}

Result BenTaskFirstUrl(BenBrowser*, char** out) {
  if (!out) return kBadArg;
  *out = nullptr;
  const BenPage* page = CurrentPage();
  if (!page || !page->tasks || !page->tasks->url) return kNotFound;
  *out = LibcStrDup(page->tasks->url);
  return *out ? kOk : kNoMemory;
}

Result BenPageUrlString(const BenPage* page, char** out) {
  if (!out) return kBadArg;
  *out = nullptr;
  if (!page || !page->url) return kNotFound;
  *out = LibcStrDup(page->url);
  return *out ? kOk : kNoMemory;
}

const char* BenFindHistoryEntry(BenBrowser*, const char* prefix, uint32_t prefixLength,
                                uint32_t offset) {
  BenHistory* history = BenHistoryCurrent();
  if (!history) return nullptr;
  const BenBackStack& back = history->back;
  const uint32_t count = back.first < kBenBackSlots ? back.first : kBenBackSlots;
  for (uint32_t i = offset; i < count; ++i) {
    const uint32_t slot = (back.last % kBenBackSlots + kBenBackSlots - i) % kBenBackSlots;
    const char* address = back.slots[slot].text1;
    if (!address) continue;
    if (prefix && prefixLength && LibcStrNCmp(address, prefix, prefixLength) == 0) continue;
    return address;
  }
  return nullptr;
}

Result BenTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* browser = static_cast<BenBrowser*>(context);
  if (PopupWatchGone(&gConsentWatch, message, arg1, arg2)) {
    ConsentGone(browser);
    return kOk;
  }
  switch (message) {
    case TskMsg::Start:
      browser->task = reinterpret_cast<TskmanTask*>(arg1);
      BenNewSecurityState(browser);
      return kOk;
    case BenMsg::ScriptEnded:
      CarryOutPending(browser);
      return kOk;
    case BenMsg::Binding:
      TakeBinding(browser, reinterpret_cast<BenEventBinding*>(arg1),
                  reinterpret_cast<char*>(arg2));
      return kOk;
    case BenMsg::Unbind: {
      auto* channelId = reinterpret_cast<char*>(arg2);
      RemoveBindings(&browser->bindings, static_cast<uint32_t>(arg1));
      MemFree(&channelId);
      return kOk;
    }
    case BenMsg::Bindings: {
      BenFreeBindings(&browser->bindings);
      browser->bindings = reinterpret_cast<BenEventBinding*>(arg1);
      return kOk;
    }
    case BenMsg::WtaEvent:
      RunWtaEvent(browser, static_cast<uint32_t>(arg1),
                  reinterpret_cast<BenWtaEventParams*>(arg2));
      return kOk;
    case BenMsg::WtaEnd:
      EndWtaContext(browser);
      AnswerText(AnswerTaskOf(arg1), u"");
      return kOk;
    case BenMsg::WtaGet:
      AnswerText(AnswerTaskOf(arg1), browser->wtaFlag ? u"true" : u"false");
      return kOk;
    case BenMsg::WtaSet:
      browser->wtaFlag = arg2 ? 1 : 0;
      AnswerText(AnswerTaskOf(arg1), u"");
      return kOk;
    case BenMsg::WtaCall:
      if (browser->wta) {
        auto* call =
            static_cast<BenWtaCall*>(MemAllocZero(sizeof(BenWtaCall), Use::Data, Mod::Ben));
        if (!call) return kNoMemory;
        call->id = static_cast<uint32_t>(arg1);
        call->next = browser->wta->calls;
        browser->wta->calls = call;
      }
      return kOk;
    case BenMsg::Consent:
      Consent(browser, reinterpret_cast<WtaiConsentRecord*>(arg1));
      return kOk;
    case PwlEvent::PopupAnswer:
      ConsentAnswered(browser, arg1);
      return kOk;
    case TskMsg::Stop2:
      BenStopTask();
      return kOk;
    default:
      // Settings notices and messages meant for others are not the browser's.
      return kOk;
  }
}

Result BenStartTask() {
  auto* browser =
      static_cast<BenBrowser*>(MemAllocZero(sizeof(BenBrowser), Use::Context, Mod::Ben));
  if (!browser) return kNoMemory;
  BenBrowserInit(browser);
  TskmanTask* task = nullptr;
  const Result r = TskmanCreateTask(&task, Mod::Ben, BenTaskHandler, browser);
  if (r != kOk) {
    MemFree(&browser);
    return r;
  }
  browser->task = task;
  // The fetch requests name the instance they are made for: a telephony
  // link stores its answer in its variables, the inbox pages their redirect.
  UrlSetBrowser(browser);
  return kOk;
}

namespace {

// What was posted to the browser task and not taken before it ends: a
// question is refused, a WTA request answered -200, and what a message
// carries is freed (a WTA event goes to the host, as without a browser); a
// call recorded for the open WTA context is released with it.
void TakeLeftover(void* user, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  const auto* browser = static_cast<const BenBrowser*>(user);
  switch (message) {
    case BenMsg::WtaCall:
      if (browser && browser->wta) gHooks->releaseCall(static_cast<uint32_t>(arg1));
      break;
    case BenMsg::Consent:
      if (auto* record = reinterpret_cast<WtaiConsentRecord*>(arg1)) Decide(record, 0);
      break;
    case BenMsg::WtaEnd:
    case BenMsg::WtaGet:
    case BenMsg::WtaSet:
      if (const TskmanRef to = AnswerTaskOf(arg1); TskmanRefAlive(to))
        TskmanPost(to.task, BenMsg::Answer, static_cast<uintptr_t>(intptr_t{BenMsg::Refused}), 0);
      break;
    case BenMsg::WtaEvent:
      if (auto* params = reinterpret_cast<BenWtaEventParams*>(arg2)) {
        gHooks->event(static_cast<uint32_t>(arg1), params->count, params->block);
        MemFree(&params->block);
        MemFree(&params);
      }
      break;
    case BenMsg::Binding: {
      auto* binding = reinterpret_cast<BenEventBinding*>(arg1);
      auto* channelId = reinterpret_cast<char*>(arg2);
      BenFreeBindings(&binding);
      MemFree(&channelId);
      break;
    }
    case BenMsg::Unbind: {
      auto* channelId = reinterpret_cast<char*>(arg2);
      MemFree(&channelId);
      break;
    }
    case BenMsg::Bindings: {
      auto* list = reinterpret_cast<BenEventBinding*>(arg1);
      BenFreeBindings(&list);
      break;
    }
    default:
      break;
  }
}

// The link tasks keep the instance to store their answers in; they are told
// before it goes, at once, so that an answer already queued finds it gone.
void ForgetInLinkTasks(BenBrowser* browser) {
  for (TskmanTask* t = TskmanNextTask(nullptr); t;) {
    TskmanTask* next = TskmanNextTask(t);
    if (t->id == Mod::WtlWtai)
      TskmanSend(t, BenMsg::BrowserGone, reinterpret_cast<uintptr_t>(browser), 0);
    t = next;
  }
}

void EndBrowser(TskmanTask* task, BenBrowser* browser) {
  // Named while it stands: its consent popup is found by it once it has gone.
  const TskmanRef self = TskmanRefOf(task);
  TskmanTakeEvents(task, TakeLeftover, browser);
  TskmanDestroyTask(task);
  if (!browser) return;
  // Requests made from now on name no instance.
  UrlSetBrowser(nullptr);
  ForgetInLinkTasks(browser);
  PopupWatchStop(&gConsentWatch);
  // Its own question: another module's may show under it, and stays.
  if (browser->asking) PopupCloseFor(self);
  browser->asking = 0;
  while (WtaiConsentRecord* record = PopConsent(browser)) Decide(record, 0);
  EndWtaContext(browser);
  BenFreeBindings(&browser->bindings);
  BenFreeVarList(browser);
  MemFree(&browser);
}

}  // namespace

void BenStopTask() {
  TskmanTask* task = TskmanFind(Mod::Ben);
  if (!task) return;
  void* context = nullptr;
  TskmanGetContext(&context, task);
  EndBrowser(task, static_cast<BenBrowser*>(context));
}

void BenEndTask() {
  if (TskmanTask* task = TskmanFind(Mod::Ben)) TskmanPost(task, TskMsg::Stop2, 0, 0);
}

void BenFormClearKind5(BenBrowser*) {
  BenPage* page = CurrentPage();
  if (!page || !page->fields) return;
  for (uint32_t i = 0; i < page->fieldCount; ++i)
    if (BenFormFieldRecord* f = page->fields[i]; f && f->kind == BenFieldKind::CheckBox)
      f->flags &= ~kBenFieldFromReply;
}

Result BenFormSetField(BenBrowser*, const char16_t* name, const char16_t* value) {
  if (!name || !*name) return kBadArg;
  if (!value) value = u"";
  BenPage* page = CurrentPage();
  if (!page || !page->fields) return kNotFound;
  bool set = false;
  for (uint32_t i = 0; i < page->fieldCount; ++i) {
    BenFormFieldRecord* f = page->fields[i];
    if (!f) continue;
    switch (f->kind) {
      case BenFieldKind::Input:
      case BenFieldKind::TextArea: {
        if (!NameIs(f->name, name)) break;
        char16_t* copy = LibcWStrDup(value);
        if (!copy) return kNoMemory;
        // The pending value may be the current one's buffer: that stays.
        if (f->newValue != f->value) MemFree(&f->newValue);
        f->newValue = copy;
        set = true;
        break;
      }
      case BenFieldKind::CheckBox:
        if (!NameIs(f->name, name)) break;
        f->state |= BenCheckState::Checked;
        f->flags |= kBenFieldFromReply;
        set = true;
        break;
      case BenFieldKind::Radio:
        if (!TextIs(f->group, name) && !NameIs(f->name, name)) break;
        if (TextIs(f->initialValue, value))
          f->state |= BenCheckState::Checked;
        else
          f->state &= ~BenCheckState::Checked;
        set = true;
        break;
      default:
        break;
    }
  }
  return set ? kOk : kNotFound;
}

void BenFormRedrawPage(BenBrowser*) {
  BenPage* page = CurrentPage();
  if (!page) return;
  BenPageMarkDirty(page);
  if (TskmanTask* ui = TskmanFind(Mod::Ui)) TskmanPost(ui, PwlEvent::RedrawPage, 0, 0);
}
