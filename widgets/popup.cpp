// Popup dialogs: the opening calls, the popup task's handler, its keys, the
// answer and the destruction.
#include "widgets/popup.h"

#include "host/platform/files.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "widgets/input.h"

uint32_t PopupShowingMark = 0;

namespace {

constexpr uint32_t kUse = Use::Data;

template <class T>
T* New() {
  return static_cast<T*>(MemAllocZero(sizeof(T), kUse, Mod::Pwl));
}

// A copy of the text; null stays null.
char16_t* Dup(const char16_t* text) {
  if (!text) return nullptr;
  auto* copy = static_cast<char16_t*>(MemAlloc((LibcWStrLen(text) + 1) * 2, kUse, Mod::Pwl));
  if (copy) LibcWStrCopy(copy, text);
  return copy;
}

void FreeBody(PopupRequest* r) {
  switch (r->kind) {
    case PopupKind::Text: {
      auto* b = static_cast<PopupTextBody*>(r->body);
      if (b) MemFree(&b->prompt), MemFree(&b->initial), MemFree(&b->mask);
      break;
    }
    case PopupKind::Confirm: {
      auto* b = static_cast<PopupConfirmBody*>(r->body);
      if (b) MemFree(&b->text), MemFree(&b->buttons[0].label), MemFree(&b->buttons[1].label);
      break;
    }
    case PopupKind::Message: {
      auto* b = static_cast<PopupMessageBody*>(r->body);
      if (b) MemFree(&b->text), MemFree(&b->button.label);
      break;
    }
    case PopupKind::List: {
      auto* b = static_cast<PopupListBody*>(r->body);
      if (!b) break;
      MemFree(&b->title);
      if (!b->ok) MemFree(&b->okLabel);
      for (uint32_t i = 0; b->items && i < b->count; ++i) MemFree(&b->items[i].text);
      MemFree(&b->items);
      break;
    }
    default:
      break;
  }
  MemFree(&r->body);
}

void FreeRequest(PopupRequest* r) {
  FreeBody(r);
  MemFree(&r);
}

PopupRequest* NewRequest(uint32_t kind, void* body, TskmanTask* reply) {
  PopupRequest* r = New<PopupRequest>();
  if (!r) return nullptr;
  r->kind = kind;
  r->body = body;
  r->replyTask = TskmanRefOf(reply);
  return r;
}

// The text a popup puts to the user: its message, prompt or title.
const char16_t* TextOf(const PopupRequest* r) {
  if (!r->body) return nullptr;
  switch (r->kind) {
    case PopupKind::Text: return static_cast<const PopupTextBody*>(r->body)->prompt;
    case PopupKind::Confirm: return static_cast<const PopupConfirmBody*>(r->body)->text;
    case PopupKind::Message: return static_cast<const PopupMessageBody*>(r->body)->text;
    case PopupKind::List: return static_cast<const PopupListBody*>(r->body)->title;
    default: return nullptr;
  }
}

// Whoever asked takes a popup that never showed as not answered: a question
// memory could not show is said with its text, or the user would never know
// what went unasked. Nothing here needs memory.
void SayNotShown(Result why, const char16_t* text) {
  if (!ResultNoMemory(why)) return;
  char what[400] = "a popup could not be shown for want of memory and went unanswered: \"";
  const uint32_t at = LibcStrLen(what);
  uint32_t room = sizeof what - at - 2;  // the closing quote and the end
  const char16_t* shown = text ? text : u"";
  LngUtf8Encode(shown, LibcWStrLen(shown), reinterpret_cast<uint8_t*>(what) + at, &room);
  what[at + room] = '"';
  what[at + room + 1] = 0;
  PlatformSayLost(what);
}

Result Start(PopupRequest* r) {
  TskmanTask* task = nullptr;
  const Result result = TskmanCreateTask(&task, Mod::Popup, PopupTaskHandler, r);
  if (result != kOk)
    FreeRequest(r);
  else
    r->popupTask = task;  // a close before the start message must end the task too
  return result;
}

void PostUi(uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (TskmanTask* ui = TskmanFind(Mod::Ui)) TskmanPost(ui, message, arg1, arg2);
}

void Answer(const PopupRequest* r, uintptr_t value, uintptr_t flag) {
  if (TskmanRefAlive(r->replyTask)) {
    TskmanPost(r->replyTask.task, PwlEvent::PopupAnswer, value, flag);
    return;
  }
  // Nobody takes what a text entry or a list answers with: it is freed here.
  if (r->kind == PopupKind::Text || r->kind == PopupKind::List) {
    void* owned = reinterpret_cast<void*>(value);
    MemFree(&owned);
  }
}

// The answer is posted first; the request is gone once the send returns.
void AnswerAndClose(PopupRequest* r, uintptr_t value, uintptr_t flag) {
  Answer(r, value, flag);
  TskmanSend(r->popupTask, TskMsg::Stop2, 0, 0);
}

void AnswerList(PopupRequest* r) {
  const auto* b = static_cast<const PopupListBody*>(r->body);
  uint32_t n = 0;
  for (uint32_t i = 0; i < b->count; ++i) n += b->items[i].flags & 1;
  uint32_t* chosen = n ? static_cast<uint32_t*>(MemAlloc(n * 4, kUse, Mod::Pwl)) : nullptr;
  if (!chosen) n = 0;
  for (uint32_t i = 0, k = 0; chosen && i < b->count; ++i)
    if (b->items[i].flags & 1) chosen[k++] = i;
  AnswerAndClose(r, reinterpret_cast<uintptr_t>(chosen), n);
}

// What a text entry's session posted and the popup had not read yet when it
// went: an entered text (or chosen list) is a copy made for the popup, freed
// here as nobody else will; anything else carries nothing of its own.
void TakeLeftover(void* user, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (*static_cast<const uint32_t*>(user) != PopupKind::Text || message != PwlEvent::Activated)
    return;
  void* copy = reinterpret_cast<void*>(arg1);
  MemFree(&copy);
}

// Whether the popup's window is the one the user sees and keys reach.
bool OnTop(const PopupRequest* r) {
  PwlWindow* active = nullptr;
  PwlGetActiveWindow(&active);
  return active == r->window;
}

void Destroy(PopupRequest* r) {
  // A popup given up before its window was made never showed: the screen
  // and the band are still those of what shows, which it leaves alone.
  const bool onTop = r->kind == PopupKind::Text || (r->window && OnTop(r));
  if (r->kind == PopupKind::Text) {
    // A cancel by key leaves the host's window open: it goes with the popup.
    if (r->session) InputSessionClose(r->session);
    r->session = nullptr;
    PostUi(PwlEvent::RedrawPage, 0, 0);
  } else if (r->window && !onTop) {
    // Closed under a later popup (a module giving up its own question while
    // another shows over it): the screen and the soft keys are that one's,
    // and its way back leads past this window, which goes now.
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) {
      if (t->id != Mod::Popup || t->handler != PopupTaskHandler || t->context == r) continue;
      if (auto* above = static_cast<PopupRequest*>(t->context); above && above->saved == r->window)
        above->saved = r->saved;
    }
    PwlDestroyWindow(&r->window);
  } else if (r->window) {
    PwlClear(r->window);
    PwlSetActiveWindow(r->saved);
    if (r->saved) r->saved->hidden = 0;
    PostUi(PwlEvent::RedrawPage, reinterpret_cast<uintptr_t>(r->saved), 0);
    // A popup this one covered is on top again: its soft keys act, so its
    // labels come back (after the clear below, which was this one's).
    TskmanTask* under = r->saved ? r->saved->owner : nullptr;
    const bool uncovered = under && TskmanIsAlive(under) && under->id == Mod::Popup;
    if (uncovered) TskmanPost(under, PwlEvent::PopupUncovered, 0, 0);
    PopupShowingMark = uncovered ? 1 : 0;
    PwlDestroyWindow(&r->window);
  }
  FreeBody(r);
  if (r->kind != PopupKind::Text && onTop) PostUi(PwlEvent::ClearLabels, 0, 0);
  TskmanTask* task = r->popupTask;
  uint32_t kind = r->kind;
  MemFree(&r);
  TskmanTakeEvents(task, TakeLeftover, &kind);
  TskmanDestroyTask(task);
}

Result Build(PopupRequest* r) {
  switch (r->kind) {
    case PopupKind::Text:
      return PopupOpenEditor(r);
    case PopupKind::Confirm:
      return PopupBuildConfirm(r);
    case PopupKind::Message:
      return PopupBuildMessage(r);
    case PopupKind::List:
      return PopupBuildList(r);
    default:
      return PwlErr::BadArg;
  }
}

void RouteKey(PopupRequest* r, uint32_t key, uintptr_t data) {
  if (PwlGetFocusedControl()) {
    if (TskmanTask* toolkit = TskmanFind(Mod::Pwl)) TskmanPost(toolkit, PwlEvent::Key, key, data);
    return;
  }
  if (key != PwlKey::Soft1 && key != PwlKey::Soft2) return;
  uint32_t code = 0;
  uintptr_t argument = 0;
  PwlGetSlot(key == PwlKey::Soft1 ? 1 : 2, &code, &argument);
  TskmanSend(r->popupTask, PwlEvent::PopupCommand, code, argument);
}

void Keys(PopupRequest* r, uint32_t key, uintptr_t data) {
  if (key == kPopupCancelKey) {
    TskmanSend(r->popupTask, PwlEvent::PopupCommand, PopupCmd::Cancel, 0);
    return;
  }
  if (!r->listMode && r->text) {
    if (key == PwlKey::Next || key == PwlKey::Down) {
      PwlSend(r->text, nullptr, nullptr, 0, PwlMsg::Event, 0x10000);
      return;
    }
    if (key == PwlKey::Previous || key == PwlKey::Up) {
      PwlSend(r->text, nullptr, nullptr, 0, PwlMsg::Event, 0x8000);
      return;
    }
  }
  RouteKey(r, key, data);
}

bool IsButton(const PopupButton& b, uintptr_t control) {
  return control && reinterpret_cast<uintptr_t>(b.control) == control;
}

void Activated(PopupRequest* r, uintptr_t what) {
  switch (r->kind) {
    case PopupKind::Text:
      AnswerAndClose(r, what, 1);
      return;
    case PopupKind::Confirm: {
      auto* b = static_cast<PopupConfirmBody*>(r->body);
      if (IsButton(b->buttons[0], what))
        PopupConfirmYes(nullptr, reinterpret_cast<uintptr_t>(r));
      else if (IsButton(b->buttons[1], what))
        PopupConfirmNo(nullptr, reinterpret_cast<uintptr_t>(r));
      return;
    }
    case PopupKind::Message:
      if (IsButton(static_cast<PopupMessageBody*>(r->body)->button, what))
        PopupMessageDone(nullptr, reinterpret_cast<uintptr_t>(r));
      return;
    case PopupKind::List:
      AnswerList(r);
      return;
    default:
      return;
  }
}

void Command(PopupRequest* r, uint32_t command) {
  if (command == PopupCmd::Cancel) {
    AnswerAndClose(r, 0, 0);
  } else if (command == PopupCmd::Accept) {
    if (r->kind == PopupKind::List)
      AnswerList(r);
    else if (r->kind != PopupKind::Text)
      AnswerAndClose(r, 1, 1);
  }
}

// Takes the popup away without an answer: a text entry's host window
// first, then the popup itself.
void Close(TskmanTask* task) {
  void* context = nullptr;
  TskmanGetContext(&context, task);
  auto* r = static_cast<PopupRequest*>(context);
  if (r && r->session) {
    InputSessionClose(r->session);
    r->session = nullptr;
  }
  TskmanSend(task, TskMsg::Stop2, 0, 0);
}

Result OpenMessage(const char16_t* text, TskmanTask* reply) {
  if (!text) return PwlErr::BadArg;
  auto* body = New<PopupMessageBody>();
  PopupRequest* r = NewRequest(PopupKind::Message, body, reply);
  if (!r) {
    MemFree(&body);
    return PwlErr::NoMemory;
  }
  if (body) {
    body->text = Dup(text);
    body->button.label = PwlDupUiString(14);
    body->button.callback = PopupMessageDone;
  }
  if (!body || !body->text || !body->button.label) {
    FreeRequest(r);
    return PwlErr::NoMemory;
  }
  return Start(r);
}

Result OpenConfirm(const char16_t* text, const char16_t* first, const char16_t* second,
                   TskmanTask* reply) {
  if (!text) return PwlErr::BadArg;
  auto* body = New<PopupConfirmBody>();
  PopupRequest* r = NewRequest(PopupKind::Confirm, body, reply);
  if (!r) {
    MemFree(&body);
    return PwlErr::NoMemory;
  }
  if (body) {
    body->text = Dup(text);
    body->buttons[0].label = first && *first ? Dup(first) : PwlDupUiString(12);
    body->buttons[1].label = second && *second ? Dup(second) : PwlDupUiString(13);
    body->buttons[0].callback = PopupConfirmYes;
    body->buttons[1].callback = PopupConfirmNo;
  }
  if (!body || !body->text || !body->buttons[0].label || !body->buttons[1].label) {
    FreeRequest(r);
    return PwlErr::NoMemory;
  }
  return Start(r);
}

Result OpenListMenu(const char16_t* title, const PopupListItem* items, uint32_t flags,
                    uint32_t count, TskmanTask* reply) {
  if (count && !items) return PwlErr::BadArg;
  auto* body = New<PopupListBody>();
  PopupRequest* r = NewRequest(PopupKind::List, body, reply);
  if (!r) {
    MemFree(&body);
    return PwlErr::NoMemory;
  }
  if (!body) {
    FreeRequest(r);
    return PwlErr::NoMemory;
  }
  body->flags = flags | kPopupListFlag;
  bool ok = !title || (body->title = Dup(title)) != nullptr;
  if (ok && count) {
    body->items = static_cast<PopupListItem*>(
        MemAllocZero(count * static_cast<uint32_t>(sizeof(PopupListItem)), kUse, Mod::Pwl));
    ok = body->items != nullptr;
    if (ok) body->count = count;
    for (uint32_t i = 0; ok && i < count; ++i) {
      body->items[i].text = Dup(items[i].text ? items[i].text : u"");
      body->items[i].flags = items[i].flags;
      ok = body->items[i].text != nullptr;
    }
  }
  if (!ok) {
    FreeRequest(r);
    return PwlErr::NoMemory;
  }
  return Start(r);
}

Result OpenInput(const char16_t* prompt, const char16_t* initial, const char16_t* mask,
                 uint32_t mode, TskmanTask* reply) {
  if (!prompt) return PwlErr::BadArg;
  auto* body = New<PopupTextBody>();
  PopupRequest* r = NewRequest(PopupKind::Text, body, reply);
  if (!r) {
    MemFree(&body);
    return PwlErr::NoMemory;
  }
  bool ok = body != nullptr;
  if (ok) {
    body->mode = mode | kPopupTextMode;
    body->prompt = Dup(prompt);
    ok = body->prompt && (!initial || (body->initial = Dup(initial))) &&
         (!mask || (body->mask = Dup(mask)));
  }
  if (!ok) {
    FreeRequest(r);
    return PwlErr::NoMemory;
  }
  return Start(r);
}

}  // namespace

Result PopupMessage(const char16_t* text, TskmanTask* reply) {
  const Result r = OpenMessage(text, reply);
  SayNotShown(r, text);
  return r;
}

Result PopupConfirm(const char16_t* text, const char16_t* first, const char16_t* second,
                    TskmanTask* reply) {
  const Result r = OpenConfirm(text, first, second, reply);
  SayNotShown(r, text);
  return r;
}

Result PopupListMenu(const char16_t* title, const PopupListItem* items, uint32_t flags,
                     uint32_t count, TskmanTask* reply) {
  const Result r = OpenListMenu(title, items, flags, count, reply);
  SayNotShown(r, title);
  return r;
}

Result PopupInput(const char16_t* prompt, const char16_t* initial, const char16_t* mask,
                  uint32_t mode, TskmanTask* reply) {
  const Result r = OpenInput(prompt, initial, mask, mode, reply);
  SayNotShown(r, prompt);
  return r;
}

void PopupClose() {
  if (TskmanTask* task = TskmanFind(Mod::Popup)) Close(task);
}

void PopupCloseFor(const TskmanRef& requester) {
  if (TskmanTask* task = PopupFindFor(requester)) Close(task);
}

TskmanTask* PopupTop() {
  TskmanTask* top = nullptr;
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t))
    if (t->id == Mod::Popup) top = t;
  return top;
}

TskmanTask* PopupFindFor(const TskmanRef& requester) {
  // A name that never stood (serial 0) is also what a popup asked for with
  // no reply task carries: it names no requester.
  if (!requester.serial) return nullptr;
  TskmanTask* found = nullptr;
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) {
    if (t->id != Mod::Popup || t->handler != PopupTaskHandler || !t->context) continue;
    if (static_cast<const PopupRequest*>(t->context)->replyTask == requester) found = t;
  }
  return found;
}

void PopupConfirmYes(PwlControl*, uintptr_t request) {
  AnswerAndClose(reinterpret_cast<PopupRequest*>(request), 1, 1);
}

void PopupConfirmNo(PwlControl*, uintptr_t request) {
  AnswerAndClose(reinterpret_cast<PopupRequest*>(request), 0, 0);
}

void PopupMessageDone(PwlControl*, uintptr_t request) {
  AnswerAndClose(reinterpret_cast<PopupRequest*>(request), 0, 0);
}

Result PopupTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* r = static_cast<PopupRequest*>(context);
  if (!r) return PwlErr::BadArg;
  switch (message) {
    case TskMsg::Start: {
      r->popupTask = reinterpret_cast<TskmanTask*>(arg1);
      const Result result = Build(r);
      if (result != kOk) {
        SayNotShown(result, TextOf(r));
        if (TskmanRefAlive(r->replyTask))
          TskmanPost(r->replyTask.task, PwlEvent::PopupFailed, r->popupTask->serial, result);
        TskmanSend(r->popupTask, TskMsg::Stop2, 0, 0);
        return result;
      }
      if (r->kind == PopupKind::List) {
        PwlControl* first = nullptr;
        PwlFirstVisibleChild(r->window, &first, 1);
        if (first) PwlFocusControl(first, 0);
      }
      return kOk;
    }
    case TskMsg::Stop:
    case TskMsg::Stop2:
      Destroy(r);
      return kOk;
    case PwlEvent::Label:
    case PwlEvent::ClearLabels:
    case PwlEvent::FocusChanged:
    case PwlEvent::Labels:
      PostUi(message, arg1, arg2);
      return kOk;
    case PwlEvent::PopupUncovered:
      // Focused again by force: the focus-in offers the labels and sets the
      // toolkit's soft-key slots as when the popup was built.
      if (r->window && r->window->focused) PwlFocusControl(r->window->focused, 1);
      return kOk;
    case PwlEvent::Activated:
    case PwlEvent::Point:
      Activated(r, arg1);
      return kOk;
    case PwlEvent::Cancel:
      AnswerAndClose(r, 0, 0);
      return kOk;
    case PwlEvent::Key:
      Keys(r, static_cast<uint32_t>(arg1), arg2);
      return kOk;
    case PwlEvent::PopupCommand:
      Command(r, static_cast<uint32_t>(arg1));
      return kOk;
    default:
      return PwlErr::BadArg;
  }
}
