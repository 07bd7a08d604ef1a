// Page texts into edit boxes and text areas: bound and unbound, one line or
// wrapped, password or viewer, in boxes of any size. Binding, cleaning,
// layout, drawing, scrolling the viewer both ways, a delivered value and a
// clear keep the box's text whole and its counts inside it.
//
// Input: a flags byte (bit 0 text area, bit 1 viewer, bit 2 password, bit 3
// bound, bit 4 fixed pitch), a width byte and a height byte, then the text
// as UTF-16 little-endian units.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "browser/benform.h"
#include "host/platform/font.h"
#include "host/platform/font_internal.h"
#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "widgets/pwl_classes.h"

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#define QOR_LSAN 1
#endif

namespace {

void Check(bool ok, int line = __builtin_LINE()) {
  if (!ok) {
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
  }
}

// The fonts of the shipped qor.ini, set up once a process.
bool StartFonts() {
#ifdef QOR_LSAN
  __lsan_disable();  // fontconfig keeps a little of its configuration for good
#endif
  FontFaceStartUp();
#ifdef QOR_LSAN
  __lsan_enable();
#endif
  static FontSettings s;
  FontDefaultSettings(&s);
  return FontInit(&s) == kOk;
}

void CheckWhole(const PwlTextBox* b) {
  if (!b->text) return;
  Check(b->length < b->capacity);
  Check(b->text[b->length] == 0);
  Check(LibcWStrLen(b->text) == b->length);
  Check(b->scroll <= b->length);
  Check(b->visible <= b->length);
}

uint16_t gScreen[160 * 240];
std::vector<uint64_t> gArena(1u << 17);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fonts = StartFonts();
  if (!fonts || size < 3 || size > 4096) return 0;
  const uint8_t flags = data[0];
  std::vector<char16_t> text;
  for (size_t i = 3; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  text.push_back(0);

  HeapArenaInit(gArena.data(), static_cast<uint32_t>(gArena.size() * sizeof(uint64_t)));
  ShellSetScreenGeometry(160, 240, gScreen);
  if (TskmanInit() != kOk) return 0;
  if (PwlInit() == kOk) {
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
    }
    PwlShutdown();
  }
  TskmanShutdown();
  return 0;
}
