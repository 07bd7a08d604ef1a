// The browser window's UI task. For now it holds the browser window context,
// answers for its content window, shows the soft-key labels the toolkit and
// its controls send, goes to the home page when it starts and on the home
// command, and ends the browser phase on the end command; pages come with the
// browser core.
#include "browser/uitask.h"

#include "browser/ben_hist.h"
#include "browser/bentask.h"
#include "browser/benpage.h"
#include "browser/bentitle.h"
#include "browser/ui.h"
#include "browser/uinav.h"
#include "browser/uiwindow.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "widgets/popup.h"
#include "widgets/pwl.h"
#include "widgets/pwl_text.h"

namespace {

bool gBackKeyDisabled = false;
bool gMenuKeyDisabled = false;

constexpr uint32_t kBandHeight = 16;

// The content window and the soft-key band under it, made once the toolkit
// is up.
void EnsureWindows(UiWindow* ui) {
  if (ui->content) return;
  PwlWindow* root = nullptr;
  if (PwlGetRootWindow(&root) != kOk || !root) return;
  PwlSize screen{};
  PwlGetSize(root, &screen);
  if (screen.height <= kBandHeight || screen.width == 0) return;
  const PwlBox content{0, 0, screen.width, screen.height - kBandHeight};
  if (PwlCreateSubWindow(&ui->content, root, &content, 0) != kOk) return;
  const PwlBox band{0, static_cast<int32_t>(screen.height - kBandHeight), screen.width,
                    kBandHeight};
  if (PwlCreateSubWindow(&ui->band, root, &band, 0) == kOk) ui->bottomBarHeight = kBandHeight;
}

void DrawLabels(UiWindow* ui) {
  EnsureWindows(ui);
  if (!ui->band) return;
  PwlClear(ui->band);
  // The title's box first: a long label is drawn over it rather than lost.
  if (ui->title[0]) {
    BenDrawBevel(ui, kBenChromeInset, static_cast<int32_t>(ui->bottomBarHeight));
    BenDrawTitleBar(ui, ui->title, nullptr, 0);
  }
  // While a text-input window is open the toolkit is modal and no handset
  // key reaches what lies under it: its labels wait for the window to go.
  if (PwlIsModal()) return;
  FontInstance* font = nullptr;
  if (PwlOpenBodyFont(&font, 2) != kOk) return;
  PwlSize band{};
  PwlGetSize(ui->band, &band);
  int32_t height = 0;
  PwlLineHeight(font, 0, &height);
  const int32_t y = (static_cast<int32_t>(kBandHeight) - height) / 2;
  if (ui->labels[0])
    PwlDrawText(font, 0, LibcWStrLen(ui->labels[0]), ui->labels[0], ui->band, 2, y, nullptr, 0,
                0xFFFF);
  if (ui->labels[1]) {
    const uint32_t n = LibcWStrLen(ui->labels[1]);
    int32_t width = 0;
    PwlTextWidth(font, 0, n, ui->labels[1], &width);
    PwlDrawText(font, 0, n, ui->labels[1], ui->band,
                static_cast<int32_t>(band.width) - 2 - width, y, nullptr, 0, 0xFFFF);
  }
  PwlReleaseFont(font);
}

void SetLabel(UiWindow* ui, int which, uintptr_t text) {
  MemFree(&ui->labels[which]);
  const auto* source = reinterpret_cast<const char16_t*>(text);
  if (!source) return;
  ui->labels[which] =
      static_cast<char16_t*>(MemAlloc((LibcWStrLen(source) + 1) * 2, Use::String, Mod::Ui));
  if (ui->labels[which]) LibcWStrCopy(ui->labels[which], source);
}

// The URL (8-bit, owned by the window) in the title bar, cut to fit.
void ShowUrl(UiWindow* ui, uintptr_t text) {
  auto* url = reinterpret_cast<char*>(text);
  if (!url) return;
  constexpr uint32_t kRoom = sizeof ui->title / sizeof ui->title[0] - 1;
  uint32_t i = 0;
  for (; i < kRoom && url[i]; ++i) ui->title[i] = static_cast<uint8_t>(url[i]);
  ui->title[i] = 0;
  MemFree(&url);
  DrawLabels(ui);
}

void Redraw(UiWindow* ui, uintptr_t window) {
  EnsureWindows(ui);
  auto* target = window ? reinterpret_cast<PwlWindow*>(window) : ui->content;
  if (target) PwlRedrawRange(target);
  if (ui->page) BenPageClearDirty(ui->page);
  DrawLabels(ui);
}

// What memory kept from running goes to the start-up task, which has the
// host say it.
void TellStartUp(uint32_t message) {
  if (TskmanTask* start = TskmanFind(Mod::UiStart)) TskmanPost(start, message, 0, 0);
}

// The home page goes the way of every other address: a page request, with
// the page shown so far put on the back stack, or a script call.
void GoHome(UiWindow* ui) {
  if (!ui->homeUrl || !ui->homeUrl[0]) return;
  if (char* address = LibcStrDup(ui->homeUrl))
    UiNavigate(ui, address);
  else
    UiHomePageNoMemory();
}

void FreeWindow(UiWindow* ui) {
  UiNavClose(ui);
  MemFree(&ui->homeUrl);
  UiSetBottomBandHeight(ui, 0);
  if (ui->currentString == ui->ownString) ui->currentString = nullptr;
  MemFree(&ui->ownString);
  // The toolkit may already have destroyed every window in its shutdown.
  if (PwlGetContext()) {
    PwlDestroyWindow(&ui->band);
    PwlDestroyWindow(&ui->content);
  }
  MemFree(&ui->labels[0]);
  MemFree(&ui->labels[1]);
  MemFree(&ui);
}

// What was posted to the window and not taken before it ends: the addresses
// it was sent are its own to free.
void TakeLeftover(void*, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (message != BenMsg::UiNavigate && message != BenMsg::UiShowUrl) return;
  auto* address = reinterpret_cast<char*>(arg1);
  MemFree(&address);
}

// While a popup is open its task takes the navigation keys; back (and the
// key before it) cancel it.
bool KeysToPopup(int32_t command, uintptr_t argument) {
  TskmanTask* popup = PopupTop();
  if (!popup) return false;
  if (command >= UiCmd::Select && command <= UiCmd::Soft2) {
    TskmanPost(popup, PwlEvent::Key, static_cast<uint32_t>(command), argument);
    return true;
  }
  if (command == 20 || command == UiCmd::Back) {
    TskmanPost(popup, PwlEvent::Key, kPopupCancelKey, 0);
    return true;
  }
  return false;
}

Result UiTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* window = static_cast<UiWindow*>(context);
  switch (message) {
    case TskMsg::Start:
      GoHome(window);
      return kOk;
    case UiMsg::Command:
      if (KeysToPopup(static_cast<int32_t>(arg1), arg2)) return kOk;
      if (static_cast<int32_t>(arg1) == UiCmd::Home) GoHome(window);
      if (static_cast<int32_t>(arg1) == UiCmd::End) {
        BenStopScripts();
        BenEndTask();
        BenHistoryClose();
        if (TskmanTask* start = TskmanFind(Mod::UiStart))
          TskmanPost(start, UiMsg::BrowserEnded, 0, 0);
        TskmanTask* self = TskmanFind(Mod::Ui);
        TskmanTakeEvents(self, TakeLeftover, nullptr);
        TskmanDestroyTask(self);
        FreeWindow(window);
      }
      return kOk;
    case BenMsg::UiNavigate:
      UiNavigate(window, reinterpret_cast<char*>(arg1));
      return kOk;
    case BenMsg::UiShowUrl:
      ShowUrl(window, arg1);
      return kOk;
    case PwlEvent::RedrawPage:
      Redraw(window, arg1);
      return kOk;
    case UiMsg::GetContentWindow:
      if (!arg1) return ResultError(Mod::Ui, Err::BadArg);
      EnsureWindows(window);
      *reinterpret_cast<PwlWindow**>(arg1) = window->content;
      return kOk;
    case PwlEvent::Label:
      SetLabel(window, 0, arg1);
      DrawLabels(window);
      return kOk;
    case PwlEvent::Labels:
      SetLabel(window, 0, arg1);
      SetLabel(window, 1, arg2);
      DrawLabels(window);
      return kOk;
    case PwlEvent::ClearLabels:
      SetLabel(window, 0, 0);
      SetLabel(window, 1, 0);
      DrawLabels(window);
      return kOk;
    case PwlEvent::InputOpened:
      DrawLabels(window);
      return kOk;
    case PwlEvent::InputClosed:
      // A popup's text entry takes its window's title with it; an edit box
      // keeps the edit title, its key being under it again. The labels of
      // what is on top show again.
      if (arg1) window->title[0] = 0;
      DrawLabels(window);
      return kOk;
    default:
      UiNavEvent(window, message, arg1, arg2);
      return kOk;
  }
}

}  // namespace

Result UiCreate(const char* homeUrl) {
  auto* window = static_cast<UiWindow*>(MemAllocZero(sizeof(UiWindow), Use::Context, Mod::Ui));
  if (!window) return ResultError(Mod::Ui, Err::NoMemory);
  ListInit(&window->animations);
  if (homeUrl && homeUrl[0]) {
    const uint32_t n = LibcStrLen(homeUrl) + 1;
    window->homeUrl = static_cast<char*>(MemAlloc(n, Use::String, Mod::Ui));
    if (!window->homeUrl) {
      MemFree(&window);
      return ResultError(Mod::Ui, Err::NoMemory);
    }
    LibcMemCopy(window->homeUrl, homeUrl, n);
  }
  // The task's start message takes the window to its home page.
  TskmanTask* task = nullptr;
  Result r = TskmanCreateTask(&task, Mod::Ui, UiTaskHandler, window);
  if (r != kOk) {
    MemFree(&window->homeUrl);
    MemFree(&window);
    return r;
  }
  // The browser task lives as long as its window, and so do its loads.
  r = UiNavOpen(window, task);
  if (r == kOk) r = BenStartTask();
  if (r != kOk) {
    UiNavClose(window);
    TskmanDestroyTask(task);
    MemFree(&window->homeUrl);
    MemFree(&window);
    return r;
  }
  BenPageInstallScroller();
  // The history is the browser's to keep from here on; without memory for it
  // the browser runs without one, which the host says (a kept file memory
  // could not read was said as it was met).
  bool unread = false;
  if (!BenHistoryOpen(&unread) && !unread) TellStartUp(UiMsg::HistoryNoMemory);
  return kOk;
}

void UiResetKeyLocks() {
  gBackKeyDisabled = false;
  gMenuKeyDisabled = false;
}
bool UiBackKeyDisabled() { return gBackKeyDisabled; }
bool UiMenuKeyDisabled() { return gMenuKeyDisabled; }

bool UiIsHomeAddress(const char* address) {
  const UiWindow* ui = UiGetWindow();
  return ui && ui->homeUrl && address && LibcStrCmp(ui->homeUrl, address) == 0;
}

void UiHomePageNoMemory() { TellStartUp(UiMsg::HomePageNoMemory); }
