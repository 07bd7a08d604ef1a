// The WTAI request tasks: a link's waits for the answer and stores it in a
// browser variable; a consent's carries the pending call while the browser
// asks the user; a text message's waits for the SMS service.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uistring.h"
#include "services/sms/sms.h"
#include "services/wtai/wtai.h"
#include "services/wtai/wtai_internal.h"

namespace {

constexpr uint32_t kPromptTable = 19;
// The owner tag of consent records, which the browser frees.
constexpr uint32_t kConsentModule = 33;
// The event-parameter block belongs to the browser's input side.
constexpr uint32_t kEventModule = Mod::Input;
constexpr uint32_t kCodeUnits = kWtaiDecimalUnits;

struct WtaiRequestCtx {
  TskmanTask* self;
  BenBrowser* browser;
  char16_t* text;  // the result variable's name, or a consent's pending arguments
  WtaiHandler callback;
  TskmanRef answer;
  char16_t* args;
  uint32_t smsPending;
  // Told the id of the call a consent sets up once its answer task is gone.
  TskmanRef report;
};

TskmanTask* Create(uint32_t module, WtaiRequestCtx* ctx) {
  if (TskmanCreateTask(&ctx->self, module, WtaiRequestTaskHandler, ctx) != kOk) {
    MemFree(&ctx);
    return nullptr;
  }
  return ctx->self;
}

WtaiRequestCtx* NewCtx() {
  return static_cast<WtaiRequestCtx*>(
      MemAllocZero(sizeof(WtaiRequestCtx), Use::Context, Mod::WtlWtai));
}

void Post(const TskmanRef& to, uint32_t message, uintptr_t a1, uintptr_t a2) {
  if (TskmanRefAlive(to)) TskmanPost(to.task, message, a1, a2);
}

// The answer {0, a copy of the text}: the copy is made only for a task that
// still stands to take it.
void PostTextAnswer(const TskmanRef& to, const char16_t* text) {
  if (!TskmanRefAlive(to)) return;
  TskmanPost(to.task, WtaiMsg::Answer, 0, reinterpret_cast<uintptr_t>(LibcWStrDup(text ? text : u"")));
}

char16_t* Decimal(int32_t value) {
  auto* text = static_cast<char16_t*>(MemAlloc(kCodeUnits * 2, Use::String, Mod::WtlWtai));
  if (!text) return nullptr;
  char digits[kCodeUnits];
  LibcItoA(value, digits, 10);
  uint32_t i = 0;
  for (; digits[i] && i + 1 < kCodeUnits; ++i) text[i] = static_cast<char16_t>(digits[i]);
  text[i] = 0;
  return text;
}

// An answer still queued when the task is stopped (a consent that answers
// itself, a link) goes with it: its text is freed here, as no one else will.
void DropAnswer(void*, uint32_t message, uintptr_t, uintptr_t text) {
  if (message != WtaiMsg::Answer) return;
  auto* owned = reinterpret_cast<char16_t*>(text);
  MemFree(&owned);
}

void Finish(WtaiRequestCtx* c) {
  if (c->smsPending) {
    // The request stays until the service's next word, so that its answers
    // never reach a task that is gone.
    c->smsPending = 0;
    SmsCancelRequest(c->self, 0);
    Post(c->answer, WtaiMsg::SmsOver, 0, 0);
    return;
  }
  TskmanTask* self = c->self;
  MemFree(&c->text);
  MemFree(&c->args);
  MemFree(&c);
  TskmanTakeEvents(self, DropAnswer, nullptr);
  TskmanDestroyTask(self);
}

void OnAnswer(WtaiRequestCtx* c, int32_t code, char16_t* text) {
  if (code == 0 && TskmanRefAlive(c->report))
    TskmanPost(c->report.task, BenMsg::WtaCall, static_cast<uint32_t>(text ? LibcWtoI(text) : 0), 0);
  if (c->browser && c->text) {
    if (code == 0) {
      BenSetVar(c->browser, c->text, text);
    } else if (char16_t* digits = Decimal(code)) {
      BenSetVar(c->browser, c->text, digits);
      MemFree(&digits);
    }
  }
  MemFree(&text);
  TskmanPost(c->self, TskMsg::Stop2, 0, 0);
}

// outcome 0 sent, 1 not sent for another reason than the network's refusal,
// -1 refused.
void OnSmsAnswer(WtaiRequestCtx* c, int32_t outcome, char16_t* text) {
  if (outcome >= 0) {
    PostTextAnswer(c->answer, text);
    const uint32_t length = text ? LibcWStrLen(text) : 0;
    auto* block = static_cast<char16_t*>(
        MemAllocZero((length + 10) * 2, Use::String, kEventModule));
    if (block) {
      for (uint32_t i = 0; i < length; ++i) block[i] = text[i];
      block[length + 1] = static_cast<char16_t>('0' + outcome);
      BenRaiseWtaEvent(BenWtaEvent::TextSent, 2, block);
    }
  } else {
    Post(c->answer, WtaiMsg::Answer, static_cast<uintptr_t>(static_cast<intptr_t>(kWtaiNotSent)), 0);
  }
  MemFree(&text);
  TskmanPost(c->self, TskMsg::Stop2, 0, 0);
}

// The answer task stops waiting. A consent (its 0x2001 taken, or still
// queued) becomes the answer task of its request, so that the request is
// answered exactly once whatever the user decides; an SMS request answers
// no one.
// Both tasks are named by a send from the one that stops waiting: they
// stand now, and their names are taken now.
void Forget(WtaiRequestCtx* c, TskmanTask* gone, TskmanTask* report) {
  if (!gone) return;
  if (c->answer == TskmanRefOf(gone)) {
    c->answer = c->callback ? TskmanRefOf(c->self) : TskmanRef{};
    if (c->callback) c->report = TskmanRefOf(report);
    return;
  }
  struct Look {
    uintptr_t gone, self;
    bool found;
  } look{reinterpret_cast<uintptr_t>(gone), reinterpret_cast<uintptr_t>(c->self), false};
  TskmanSiftEvents(
      c->self,
      [](void* user, uint32_t message, uintptr_t*, uintptr_t* answer) {
        auto* l = static_cast<Look*>(user);
        if (message == WtaiMsg::Confirm && *answer == l->gone) {
          *answer = l->self;
          l->found = true;
        }
        return false;
      },
      &look);
  if (look.found) c->report = TskmanRefOf(report);
}

}  // namespace

void WtaiForgetAnswerTask(TskmanTask* answer, TskmanTask* report) {
  if (!answer) return;
  for (TskmanTask* t = TskmanNextTask(nullptr); t;) {
    TskmanTask* next = TskmanNextTask(t);
    if (t->id == Mod::WtlWtai || t->id == Mod::WtlWtai2)
      TskmanSend(t, WtaiMsg::AnswerGone, reinterpret_cast<uintptr_t>(answer),
                 reinterpret_cast<uintptr_t>(report));
    t = next;
  }
  // The browser answers these when it takes them: they are still carried
  // out, answering no one.
  if (TskmanTask* browser = TskmanFind(Mod::Ben))
    TskmanSiftEvents(
        browser,
        [](void* user, uint32_t message, uintptr_t* to, uintptr_t*) {
          const bool wta =
              message == BenMsg::WtaEnd || message == BenMsg::WtaGet || message == BenMsg::WtaSet;
          if (wta && *to == reinterpret_cast<uintptr_t>(user)) *to = 0;
          return false;
        },
        answer);
}

void WtaiPostResult(TskmanTask* answer, int32_t code) {
  Post(TskmanRefOf(answer), WtaiMsg::Answer, static_cast<uintptr_t>(static_cast<intptr_t>(code)), 0);
}

void WtaiPostText(TskmanTask* answer, const char16_t* text) {
  PostTextAnswer(TskmanRefOf(answer), text);
}

Result WtaiRequestTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* c = static_cast<WtaiRequestCtx*>(context);
  switch (message) {
    case TskMsg::Start:
      c->self = reinterpret_cast<TskmanTask*>(arg1);
      break;
    case WtaiMsg::Answer:
      OnAnswer(c, static_cast<int32_t>(arg1), reinterpret_cast<char16_t*>(arg2));
      break;
    case WtaiMsg::Confirm:
      c->args = c->text;
      c->text = nullptr;
      c->callback = reinterpret_cast<WtaiHandler>(arg1);
      // Named at receipt: an answer task that ended before this came took
      // its name out of the message (WtaiForgetAnswerTask).
      c->answer = TskmanRefOf(reinterpret_cast<TskmanTask*>(arg2));
      break;
    case WtaiMsg::Decision: {
      char16_t* args = c->args;
      c->args = nullptr;
      // The handler answers a task that still stands, or no one.
      if (c->callback)
        c->callback(TskmanRefTask(c->answer), args, arg1 ? WtaiState::Accepted : WtaiState::Refused);
      else
        MemFree(&args);
      // A consent that answers itself stays for its answer (always exactly one).
      if (!c->callback || c->answer.task != c->self) Finish(c);
      break;
    }
    case WtaiMsg::AnswerGone:
      Forget(c, reinterpret_cast<TskmanTask*>(arg1), reinterpret_cast<TskmanTask*>(arg2));
      break;
    case WtaiMsg::BrowserGone:
      if (c->browser == reinterpret_cast<BenBrowser*>(arg1)) c->browser = nullptr;
      break;
    case WtaiMsg::SmsOver:
    case TskMsg::Stop2:
    case SmsServiceMsg::RequestOver:
    case SmsServiceMsg::Send:
      Finish(c);
      break;
    case SmsServiceMsg::Sent:
      OnSmsAnswer(c, 0, reinterpret_cast<char16_t*>(arg1));
      break;
    case SmsServiceMsg::NotSent:
      OnSmsAnswer(c, (arg2 & 0xFFFF) == 0x8000 ? -1 : 1, reinterpret_cast<char16_t*>(arg1));
      break;
    default:
      break;
  }
  return kOk;
}

void WtaiDropSmsTask(TskmanTask* task) {
  void* context = nullptr;
  TskmanGetContext(&context, task);
  static_cast<WtaiRequestCtx*>(context)->smsPending = 0;
  TskmanPost(task, TskMsg::Stop2, 0, 0);
}

TskmanTask* WtaiCreateUrlRequestTask(BenBrowser* browser, const char16_t* variable) {
  WtaiRequestCtx* c = NewCtx();
  if (!c) return nullptr;
  c->browser = browser;
  if (variable && !(c->text = LibcWStrDup(variable))) {
    MemFree(&c);
    return nullptr;
  }
  char16_t* name = c->text;
  TskmanTask* task = Create(Mod::WtlWtai, c);
  if (!task) MemFree(&name);
  return task;
}

TskmanTask* WtaiCreateRequestTask(char16_t* pending) {
  WtaiRequestCtx* c = NewCtx();
  if (!c) return nullptr;
  c->text = pending;
  return Create(Mod::WtlWtai, c);
}

TskmanTask* WtaiCreateSmsTask(TskmanTask* answer) {
  if (TskmanFind(Mod::WtlWtai2)) return nullptr;
  WtaiRequestCtx* c = NewCtx();
  if (!c) return nullptr;
  c->answer = TskmanRefOf(answer);
  c->smsPending = 1;
  return Create(Mod::WtlWtai2, c);
}

int32_t WtaiConfirmRequest(uint32_t prompt, const char16_t* detail, uint32_t remember,
                           TskmanTask* answer, char16_t* args, WtaiHandler callback) {
  const char16_t* question = UiGetString(kPromptTable, prompt);
  char16_t* shown = nullptr;
  if (detail) {
    const uint32_t q = LibcWStrLen(question), d = LibcWStrLen(detail);
    shown = static_cast<char16_t*>(MemAlloc((q + d + 4) * 2, Use::String, Mod::WtlWtai));
    if (shown) {
      uint32_t at = 0;
      for (uint32_t i = 0; i < q; ++i) shown[at++] = question[i];
      shown[at++] = ' ';
      shown[at++] = '(';
      for (uint32_t i = 0; i < d; ++i) shown[at++] = detail[i];
      shown[at++] = ')';
      shown[at] = 0;
    }
  } else {
    shown = LibcWStrDup(question);
  }
  if (!shown) return 1;
  auto* record = static_cast<WtaiConsentRecord*>(
      MemAllocZero(sizeof(WtaiConsentRecord), Use::Context, kConsentModule));
  if (!record) {
    MemFree(&shown);
    return 1;
  }
  TskmanTask* browser = TskmanFind(Mod::Ben);
  TskmanTask* consent = browser ? WtaiCreateRequestTask(args) : nullptr;
  if (!consent) {
    MemFree(&shown);
    MemFree(&record);
    return 3;
  }
  TskmanPost(consent, WtaiMsg::Confirm, reinterpret_cast<uintptr_t>(callback),
             reinterpret_cast<uintptr_t>(answer));
  record->task = TskmanRefOf(consent);
  record->remember = remember;
  record->prompt = shown;
  TskmanPost(browser, BenMsg::Consent, reinterpret_cast<uintptr_t>(record), 0);
  return 0;
}
