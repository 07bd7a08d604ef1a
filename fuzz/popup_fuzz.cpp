// Popups with the texts a script or a pushed message brings: the message or
// question text, the soft-key labels, a list's title and items, a text
// entry's prompt, initial text and mask, and the text typed into it. The
// rest of the input drives the popups on a real screen: keys to the popup on
// top, commands, more popups over it, closes from outside (before or after
// the popup showed), single steps of the task ring. Every popup answers its
// requester at most once, nothing reads past a text's terminator, and once
// they have all gone nothing is left behind.
//
// Input: a byte of flags (bits 0-1 the first popup's kind: message, confirm,
// list, text entry), then up to 12 texts as 16-bit little-endian units each
// ended by a 0 unit (an empty text ends them); the bytes after are
// operations.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/benform_select.h"
#include "fuzz/exact_texts.h"
#include "fuzz/pwl_fonts.h"
#include "host/platform/textinput.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "widgets/input.h"
#include "widgets/popup.h"

namespace {

FuzzTexts gInput;
std::vector<char16_t*>& gTexts = gInput.blocks;

const char16_t* Text(size_t i) { return gTexts.empty() ? u"" : gTexts[i % gTexts.size()]; }

// The host's text-input window: it opens, and answers with a text of the
// input when asked.
bool gWindowFails = false;
const TiwOps kWindow{nullptr,
                     [](void*, const TiwWindowSpec*) { return !gWindowFails; },
                     [](void*) {},
                     [](void*) { return 0u; },
                     [](void*, char16_t* dest, uint32_t size) {
                       if (size) dest[0] = 0;
                       return 0u;
                     },
                     [](void*) { return -1; },
                     [](void*) { return 0u; },
                     [](void*, uint32_t*, uint32_t) { return 0u; }};

// A requester: counts the answers of the popups it asked for and takes what
// a text entry or a list hands over.
struct Requester {
  TskmanTask* task = nullptr;
  uint32_t asked = 0;
  uint32_t answers = 0;
};

Result RequesterHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  auto* r = static_cast<Requester*>(context);
  if (message != PwlEvent::PopupAnswer) return kOk;
  ++r->answers;
  Check(r->answers <= r->asked);
  // A message or a question answers 0 or 1; a text entry or a list hands
  // over a block of its own, or none.
  if (arg1 > 1) {
    void* owned = reinterpret_cast<void*>(arg1);
    MemFree(&owned);
  }
  return kOk;
}

// Opens a popup of the kind for the requester with texts from `first` on.
void Open(uint32_t kind, size_t first, Requester* who, bool masked) {
  Result r = kOk;
  switch (kind & 3) {
    case 0:
      r = PopupMessage(Text(first), who->task);
      break;
    case 1:
      r = PopupConfirm(Text(first), Text(first + 1), Text(first + 2), who->task);
      break;
    case 2: {
      PopupListItem items[8];
      const uint32_t count = static_cast<uint32_t>(gTexts.size() > 1 ? gTexts.size() - 1 : 0);
      const uint32_t n = count < 8 ? count : 8;
      for (uint32_t i = 0; i < n; ++i) {
        items[i].text = const_cast<char16_t*>(Text(first + 1 + i));
        items[i].flags = Text(first + 1 + i)[0] & 1;
      }
      const uint32_t flags = (Text(first)[0] & 1 ? BenSelectFlag::Multiple : 0) |
                             (Text(first)[0] & 2 ? BenSelectFlag::Dropdown : 0);
      r = PopupListMenu(Text(first), n ? items : nullptr, flags, n, who->task);
      break;
    }
    default:
      r = PopupInput(Text(first), Text(first + 1), masked ? Text(first + 2) : nullptr,
                     Text(first)[0] & 0x7F, who->task);
      break;
  }
  if (r == kOk) ++who->asked;
}

void Drain() {
  for (int i = 0; i < 100000 && TskmanPendingCount() > 0; ++i) TskmanStep();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fonts = FuzzStartFonts();
  static FuzzToolkit toolkit;
  if (!fonts || size < 1 || size > 4096 || !toolkit.Begin()) return 0;
  const TiwOps* previousWindow = TiwInstall(&kWindow);
  gWindowFails = false;
  TskmanTask* ui = nullptr;
  TskmanCreateTask(&ui, Mod::Ui, [](void*, uint32_t, uintptr_t, uintptr_t) { return kOk; },
                   nullptr);
  Requester requesters[2];
  for (Requester& r : requesters)
    TskmanCreateTask(&r.task, Mod::TestHarness, RequesterHandler, &r);

  size_t i = gInput.Read(data, size, 1, 12, [](const std::vector<char16_t>& text) {
    gInput.Add(text, text.size() + 1)[text.size()] = 0;
  });

  Open(data[0], 0, &requesters[0], data[0] & 4);
  uint32_t opened = 1;
  static const uint32_t kKeys[] = {PwlKey::Select, PwlKey::Next,  PwlKey::Previous,
                                   PwlKey::Up,     PwlKey::Down,  PwlKey::Soft1,
                                   PwlKey::Soft2,  kPopupCancelKey, PwlKey::Pointer};
  for (; i < size; ++i) {
    const uint8_t op = data[i];
    TskmanTask* top = PopupTop();
    if (op < 0x60) {
      if (top) TskmanPost(top, PwlEvent::Key, kKeys[op % 9], op);
      Drain();
    } else if (op < 0x70) {
      if (top) TskmanPost(top, PwlEvent::PopupCommand, op & 1 ? PopupCmd::Cancel : PopupCmd::Accept, 0);
      Drain();
    } else if (op < 0x80) {
      if (opened < 6) {
        gWindowFails = op & 8;
        Open(op, op >> 1 & 3, &requesters[op >> 2 & 1], op & 1);
        ++opened;
      }
    } else if (op < 0x90) {
      PopupCloseFor(TskmanRefOf(requesters[op & 1].task));
    } else if (op < 0xA0) {
      PopupClose();
    } else if (op < 0xC0) {
      TskmanStep();
    } else if (op < 0xE0) {
      // The user confirms the text-input window with a text of the input.
      if (auto* session = static_cast<InputSession*>(TiwOpenSession())) {
        if (InputSessionSubmitText(session, Text(op)) == kOk && (op & 1)) InputSessionClose(session);
      }
      Drain();
    } else {
      if (auto* session = static_cast<InputSession*>(TiwOpenSession())) {
        InputSessionCancel(session);
        InputSessionClose(session);
      }
      Drain();
    }
  }
  Drain();
  while (PopupTop()) {
    PopupClose();
    Drain();
  }
  Check(TiwOpenSession() == nullptr);
  Check(PwlIsModal() == 0);
  for (Requester& r : requesters) {
    Check(r.answers <= r.asked);
    TskmanDestroyTask(r.task);
  }
  TskmanDestroyTask(ui);
  PopupShowingMark = 0;
  TiwInstall(previousWindow);
  gInput.Free();
  toolkit.End();
  return 0;
}
