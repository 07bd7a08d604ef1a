#include "host/hosttextinput.h"

#include <string>
#include <vector>

#include "browser/bentitle.h"
#include "browser/uiwindow.h"
#include "host/platform/textinput.h"
#include "kernel/uistring.h"
#include "widgets/input.h"

Result HostTextInputDone(int32_t flag) {
  auto* session = static_cast<InputSession*>(TiwOpenSession());
  if (!session) return kOk;
  Result r;
  switch (TiwOpenType()) {
    case TiwType::Single: {
      const int32_t current = TiwCurrentItem();
      const uint32_t item = static_cast<uint32_t>(current);
      r = current < 0 ? InputSessionSubmitList(session, 0, nullptr)
                      : InputSessionSubmitList(session, 1, &item);
      break;
    }
    case TiwType::Multiple: {
      std::vector<uint32_t> items(TiwSelectedCount());
      items.resize(TiwSelectedItems(items.data(), static_cast<uint32_t>(items.size())));
      r = InputSessionSubmitList(session, static_cast<uint32_t>(items.size()),
                                 items.empty() ? nullptr : items.data());
      break;
    }
    default: {
      std::u16string text(TiwTextLength() + 1, u'\0');
      text.resize(TiwCopyText(text.data(), static_cast<uint32_t>(text.size())));
      r = InputSessionSubmitText(session, text.c_str());
      break;
    }
  }
  if (flag && r == kOk) InputSessionClose(session);
  return r;
}

void HostTextInputCancelled(int32_t) {
  auto* session = static_cast<InputSession*>(TiwOpenSession());
  if (!session) return;
  InputSessionCancel(session);
  InputSessionClose(session);
}

namespace {
void RedrawTitle(uint32_t entry) {
  UiWindow* ui = UiGetWindow();
  if (!ui) return;
  BenDrawBevel(ui, kBenChromeInset, static_cast<int32_t>(ui->bottomBarHeight));
  BenDrawTitleBar(ui, UiGetString(13, entry), nullptr, 0);
}
}  // namespace

// The window system may tell of the focus late, the window already gone:
// its title must not come back.
void HostTextInputFocused() {
  if (TiwOpenSession()) RedrawTitle(2);
}
void HostTextInputGone() { RedrawTitle(3); }
