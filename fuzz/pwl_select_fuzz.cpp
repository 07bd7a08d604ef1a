// Option labels into the select list: the labels of a bound record are made
// from the input (any units, markers or none, line feeds anywhere, actions
// after the terminator), then the rest of the input drives the control with
// steps, commits, picks, list results and redraws, on a real screen: the
// box is drawn and a drop-down opens its list window. Nothing reads past a
// label's two terminators, the stored variables stay well formed, and
// nothing leaks.
//
// Input: a flags byte (bit 0 multiple, bit 1 dropdown), then labels as
// 16-bit little-endian units, each ended by a 0 unit; an empty label ends
// the list and the bytes after it are operations.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/benform_select.h"
#include "browser/benvar.h"
#include "browser/uiwindow.h"
#include "fuzz/exact_texts.h"
#include "fuzz/pwl_fonts.h"
#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "widgets/pwl_classes.h"
#include "widgets/pwl_select.h"

namespace {

// Each label ends with two terminators, the second after its action.
FuzzTexts gInput;
std::vector<char16_t*>& gLabels = gInput.blocks;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fonts = FuzzStartFonts();
  static FuzzToolkit toolkit;
  if (!fonts || size < 1 || size > 4096 || !toolkit.Begin()) return 0;
  UiWindow ui{};
  ListInit(&ui.animations);
  TskmanTask* uiTask = nullptr;
  TskmanCreateTask(&uiTask, Mod::Ui, [](void*, uint32_t, uintptr_t, uintptr_t) { return kOk; },
                   &ui);
  BenBrowser browser;
  BenBrowserInit(&browser);
  TskmanTask* task = nullptr;
  TskmanCreateTask(&task, Mod::Ben, [](void*, uint32_t, uintptr_t, uintptr_t) { return kOk; },
                   &browser);
  PwlInstallSelectClass();

  const uint32_t flags = (data[0] & 1 ? BenSelectFlag::Multiple : 0) |
                         (data[0] & 2 ? BenSelectFlag::Dropdown : 0);
  size_t i = gInput.Read(data, size, 1, 64, [](const std::vector<char16_t>& text) {
    // An action follows when the label's first unit is odd.
    const bool action = text[0] & 1;
    char16_t* label = gInput.Add(text, text.size() + 4);
    size_t n = text.size();
    label[n++] = 0;
    if (action) label[n++] = u'a';
    label[n++] = 0;
  });

  BenFormSelectRecord record{flags, gLabels.data(), nullptr,
                             static_cast<uint32_t>(gLabels.size()), u"i", u"v", nullptr};
  PwlWindow* root = nullptr;
  PwlGetRootWindow(&root);
  PwlControl* c = nullptr;
  if (root && PwlCreate(&c, root, 1, 0, 0, PwlType::Select) == kOk) {
    PwlSend(c, nullptr, &record, PwlMsgFlag::Bound, PwlMsg::Bind, 0);
    int32_t words[3] = {2, 2, 0};
    PwlSend(c, nullptr, words, 0x10, PwlMsg::SetRect, 0);
    PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
    PwlSize measured{};
    PwlSelectMeasure(c, &record, PwlMsgFlag::Bound, &measured);
    PwlSend(c, nullptr, nullptr, PwlMsgFlag::Redraw, PwlMsg::FocusIn, 0);
    PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
    static const uint32_t kEvents[] = {PwlEvt::Forward, PwlEvt::Backward, PwlSelEvt::Commit,
                                       PwlSelEvt::Open,  PwlSelEvt::Close, PwlEvt::Select};
    for (; i < size; ++i) {
      const uint8_t op = data[i];
      if (op < 0xB4) {
        PwlSend(c, nullptr, nullptr, 0, PwlMsg::Event, kEvents[op % 6]);
      } else if (op < 0xC0) {
        PwlSend(c, nullptr, nullptr, 0, PwlMsg::Redraw, 0);
        TskmanStep();
      } else if (op < 0xE0) {
        uint32_t index = op & 0x1F;
        PwlSend(c, nullptr, &index, 0, PwlSelMsg::Pick, 0);
      } else {
        uint32_t chosen[2] = {static_cast<uint32_t>(op & 7), static_cast<uint32_t>(op >> 3 & 3)};
        PwlSend(c, nullptr, chosen, 0, PwlMsg::ValueDelivered, op & 1 ? 2 : 0);
      }
      const char16_t* indices = BenGetVar(&browser, u"i");
      for (const char16_t* p = indices; p && *p; ++p)
        Check((*p >= u'0' && *p <= u'9') || *p == u';');
    }
    PwlDestroy(c);
  }
  BenClearVars(&browser);
  TskmanDestroyTask(task);
  TskmanDestroyTask(uiTask);
  gInput.Free();
  toolkit.End();
  return 0;
}
