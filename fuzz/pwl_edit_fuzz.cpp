// Page texts into edit boxes and text areas: bound and unbound, one line or
// wrapped, password or viewer, in boxes of any size. Binding, cleaning,
// layout, drawing, scrolling the viewer both ways, a delivered value and a
// clear keep the box's text whole and its counts inside it.
//
// Then the box is selected, which opens a text-input session over a window
// of the harness's own, and the user types a text and confirms it (or
// cancels): the session checks it against the field's mask and maximum
// length and delivers it, and the box stays whole.
//
// Input: a flags byte (bit 0 text area, bit 1 viewer, bit 2 password, bit 3
// bound, bit 4 fixed pitch, bit 5 a mask from the typed text, bit 6 a
// maximum length, bit 7 cancel), a width byte and a height byte, then the
// text as UTF-16 little-endian units; a unit 0xFFFF ends the page's text and
// the units after it are typed (else the page's text is typed back).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "browser/benform.h"
#include "fuzz/pwl_fonts.h"
#include "host/platform/shell.h"
#include "host/platform/textinput.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "widgets/input.h"
#include "widgets/pwl_classes.h"

namespace {

void Check(bool ok, int line = __builtin_LINE()) {
  if (!ok) {
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
  }
}

// The text-input window: it shows what it is given and holds what the user
// typed.
std::u16string gTyped;
int gOpens = 0;

const TiwOps kWindow = {
    nullptr,
    [](void*, const TiwWindowSpec* spec) {
      Check(!spec->text || LibcWStrLen(spec->text) < 0x10000);
      ++gOpens;
      return true;
    },
    [](void*) {},
    [](void*) { return static_cast<uint32_t>(gTyped.size()); },
    [](void*, char16_t* dest, uint32_t size) {
      const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(gTyped.size()), size - 1);
      gTyped.copy(dest, n);
      dest[n] = 0;
      return n;
    },
    [](void*) { return -1; },
    [](void*) { return 0u; },
    [](void*, uint32_t*, uint32_t) { return 0u; },
};

// What the main window does with the user's answer.
void Answer(bool confirm) {
  auto* session = static_cast<InputSession*>(TiwOpenSession());
  if (!session) return;
  if (confirm) {
    std::u16string text(TiwTextLength() + 1, u'\0');
    text.resize(TiwCopyText(text.data(), static_cast<uint32_t>(text.size())));
    if (InputSessionSubmitText(session, text.c_str()) == kOk) InputSessionClose(session);
    return;
  }
  InputSessionCancel(session);
  InputSessionClose(session);
}

void CheckWhole(const PwlTextBox* b) {
  if (!b->text) return;
  Check(b->length < b->capacity);
  Check(b->text[b->length] == 0);
  Check(LibcWStrLen(b->text) == b->length);
  Check(b->scroll <= b->length);
  Check(b->visible <= b->length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fonts = FuzzStartFonts();
  if (!fonts || size < 3 || size > 4096) return 0;
  const uint8_t flags = data[0];
  std::vector<char16_t> text;
  size_t i = 3;
  for (; i + 1 < size; i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == 0xFFFF) break;
    text.push_back(unit);
  }
  text.push_back(0);
  gTyped.clear();
  if (i + 1 < size) {
    for (i += 2; i + 1 < size; i += 2) gTyped.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  } else {
    gTyped.assign(text.data());
  }
  // The typed text may hold a 0 unit: the window's copy ends there.
  std::u16string mask = gTyped.substr(0, data[2] % 6);

  static FuzzToolkit toolkit;
  if (!toolkit.Begin()) return 0;
  const TiwOps* oldWindow = TiwInstall(&kWindow);
  gOpens = 0;
  {
    PwlWindow* root = nullptr;
    PwlGetRootWindow(&root);
    const uint32_t type = flags & 1 ? PwlType::TextArea : PwlType::EditBox;
    PwlControl* c = nullptr;
    if (PwlCreate(&c, root, 1, 0, 0, type) == kOk) {
      auto* b = reinterpret_cast<PwlTextBox*>(c);
      PglRect rect{2, 2, 2 + data[1] % 170, 2 + data[2]};
      PwlSend(c, nullptr, &rect, 0, PwlMsg::SetRect, 0);
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
      if (flags & 2) PwlSend(c, nullptr, nullptr, 0, PwlClassMsg::Viewer, 0);
      PwlFontSpec font{"BodyText", 3, 0, (flags & 16) ? 1u : 0u};
      PwlSend(c, nullptr, &font, 0, PwlClassMsg::SetFont, 0);
      BenFormFieldRecord record{};
      record.kind = type == PwlType::TextArea ? BenFieldKind::TextArea : BenFieldKind::Input;
      record.flags = flags & 4 ? BenInputFlag::Password : 0;
      record.rows = data[2] % 7;
      record.initialValue = text.data();
      record.mask = flags & 32 ? mask.c_str() : nullptr;
      record.maxLength = flags & 64 ? data[1] % 16 : 0;
      if (flags & 8) {
        PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
      } else {
        PwlTextBoxData bind{0, text.data(), "t"};
        PwlSend(c, nullptr, &bind, 0, PwlMsg::Bind, 0);
        if (flags & 4) c->flags |= PwlBoxFlag::Password;
      }
      Check(std::equal(text.begin(), text.end(), record.initialValue));  // never written
      CheckWhole(b);
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
      for (int i = 0; i < 64; ++i)
        PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlClassEvt::LineDown);
      CheckWhole(b);
      for (int i = 0; i < 64; ++i)
        PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlClassEvt::LineUp);
      CheckWhole(b);
      Check(!b->viewer || !b->text || b->scroll == 0 || !b->firstChunk);
      // Selected: the session opens (not for a viewer), the user answers.
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
      Check(b->viewer || gOpens == 1 || !TiwOpenSession());
      CheckWhole(b);
      Answer(!(flags & 128));
      CheckWhole(b);
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Leave);
      // Again, and the box goes while its session is open.
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlEvt::Select);
      CheckWhole(b);
      // A value typed in comes back; the box owns it from then on.
      const uint32_t n = LibcWStrLen(text.data());
      auto* typed = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::Input));
      if (typed) {
        LibcWStrCopy(typed, text.data());
        PwlSend(c, nullptr, typed, 0, PwlMsg::ValueDelivered, 0);
        CheckWhole(b);
        PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
      }
      PwlRepositionControls(root);
      CheckWhole(b);
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, PwlClassEvt::Clear);
      // A viewer is read-only: it is never cleared.
      Check(b->viewer || (b->text == nullptr && record.value == nullptr));
      PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
      // The box goes, its session open; the form lets go of what its field
      // record was given (a viewer keeps its value through the clear).
      PwlDestroy(c);
      MemFree(&record.value);
      MemFree(&record.newValue);
    }
  }
  Check(!TiwOpenSession());
  TiwInstall(oldWindow);
  toolkit.End();
  return 0;
}
