// The text-input session: opens the host's window for a control or a task,
// checks the confirmed text, and delivers it.
#include "widgets/input.h"

#include "host/platform/textinput.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "widgets/pwl.h"

namespace {

// The owner control's box on the screen; false when it has no window or has
// not been placed yet (the window then goes to the middle).
bool OwnerPlace(const PwlControl* control, TiwPlace* place) {
  if (!control || !control->window || control->rect.left == -1 || control->rect.top == -1 ||
      control->rect.right < control->rect.left || control->rect.bottom < control->rect.top)
    return false;
  const PwlWindow* window = control->window;
  place->x = window->frame.left + control->rect.left - static_cast<int32_t>(window->origin.x);
  place->y = window->frame.top + control->rect.top - static_cast<int32_t>(window->origin.y);
  place->width = control->rect.right - control->rect.left + 1;
  place->height = control->rect.bottom - control->rect.top + 1;
  return true;
}

template <class T>
T* CopyOf(const T* data, uint32_t count) {
  auto* copy = static_cast<T*>(MemAlloc(count * sizeof(T), Use::String, Mod::Input));
  if (copy) LibcMemCopy(copy, data, count * sizeof(T));
  return copy;
}

char16_t* CopyText(const char16_t* text) { return CopyOf(text, LibcWStrLen(text) + 1); }

}  // namespace

InputSession* InputSessionOpen(PwlControl* owner, const char16_t* title, const char16_t* text,
                               const char16_t* mask, uint32_t mode, uint32_t maxLength,
                               Result* why) {
  Result unused = kOk;
  if (!why) why = &unused;
  auto* session = static_cast<InputSession*>(
      MemAllocZero(sizeof(InputSession), kInputSessionUse, Mod::Input));
  *why = session ? InputErr::NoWindow : InputErr::CannotOpen;
  if (!session) return nullptr;
  session->ownerControl = owner;
  session->mask = mask;
  session->maxLength = maxLength;
  TiwPlace place;
  session->editor = TiwOpen(session, OwnerPlace(owner, &place) ? &place : nullptr, title, text,
                            mask, mode, maxLength);
  if (!session->editor) {
    MemFree(&session);
    return nullptr;
  }
  *why = kOk;
  session->mode = mode;
  PwlSetModal(1);
  if (TskmanTask* ui = TskmanFind(Mod::Ui)) TskmanSend(ui, PwlEvent::InputOpened, 0, 0);
  return session;
}

void InputSessionSetOwnerSlot(InputSession* session, InputSession** slot) {
  if (session) session->ownerSlot = slot;
}

Result InputSessionSubmitText(InputSession* session, const char16_t* text) {
  if (!session) return InputErr::NullSession;
  // A mask says what the text may be, its length included; only a text
  // without one is held to the maximum length.
  if (session->mask) {
    if (Result r = InputMaskValidate(session->mask, text, session->mode)) return r;
  } else if (session->maxLength && text && LibcWStrLen(text) > session->maxLength) {
    return InputErr::TooLong;
  }

  // A popup's text entry has a task and no control: it must get its answer.
  if (session->ownerTask) {
    char16_t* copy = nullptr;
    if (text && !(copy = CopyText(text))) return InputErr::CannotOpen;
    TskmanPost(session->ownerTask, PwlEvent::Activated, reinterpret_cast<uintptr_t>(copy), 0);
    return kOk;
  }
  if (!session->ownerControl) return InputErr::NoOwner;
  if (!text) return kOk;
  char16_t* copy = CopyText(text);
  if (!copy) return InputErr::CannotOpen;
  // From here the control owns the copy.
  Result r = PwlSend(session->ownerControl, nullptr, copy, 0, PwlMsg::ValueDelivered, 0);
  if (r != kOk) return r;
  return PwlSend(session->ownerControl, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
}

Result InputSessionSubmitList(InputSession* session, uint32_t count, const uint32_t* items) {
  if (!session) return InputErr::NullSession;
  if (session->ownerTask) {
    uint32_t* copy = nullptr;
    if (items && count && !(copy = CopyOf(items, count))) return InputErr::CannotOpen;
    TskmanPost(session->ownerTask, PwlEvent::Activated, reinterpret_cast<uintptr_t>(copy),
               copy ? count : 0);
    return kOk;
  }
  if (!session->ownerControl) return kOk;
  return PwlSend(session->ownerControl, nullptr, const_cast<uint32_t*>(items), 0,
                 PwlMsg::ValueDelivered, count);
}

Result InputSessionCancel(InputSession* session) {
  if (!session) return InputErr::NullSession;
  if (session->ownerTask) TskmanPost(session->ownerTask, PwlEvent::Cancel, 0, 0);
  return kOk;
}

Result InputSessionClose(InputSession* session) {
  if (!session) return InputErr::NullSession;
  const bool popupEntry = !session->ownerControl && session->ownerTask;
  Result r = kOk;
  if (session->ownerControl) {
    r = PwlSend(session->ownerControl, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
    TskmanTask* toolkit = TskmanFind(Mod::Pwl);
    if (r == kOk && toolkit) TskmanPost(toolkit, PwlEvent::Key, PwlKey::Deselect, 0);
  }
  if (!session->closed) {
    PwlSetModal(0);
    if (session->editor) {
      session->ownerControl = nullptr;
      session->closed = 1;
      session->editor = nullptr;
      TiwClose(nullptr);
      if (TskmanTask* ui = TskmanFind(Mod::Ui))
        TskmanPost(ui, PwlEvent::InputClosed, popupEntry ? 1 : 0, 0);
    }
  }
  if (session->ownerSlot && *session->ownerSlot == session) *session->ownerSlot = nullptr;
  MemFree(&session);
  return r;
}
