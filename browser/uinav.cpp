#include "browser/uinav.h"

#include "browser/ben_hist.h"
#include "browser/bentask.h"
#include "browser/uitask.h"
#include "browser/url.h"
#include "browser/uiwindow.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

struct UiNavigation {
  TskmanTask* self;
  UrlTaskContext* urlTask;
  UrlSession* session;
  UrlRequestRec* page;     // the page shown
  UrlRequestRec* loading;  // the page on its way; replaces it when complete
  bool loadingHome;        // that page is the home page
};

namespace {

// "URL#function(arguments)": a fragment with a call in it.
bool IsScriptCall(const char* address) {
  const char* hash = LibcStrChr(address, '#');
  return hash && LibcStrChr(hash, '(');
}

// The window's current string: the address it was last sent, and then the
// URL of the page that came of it.
void SetCurrentString(UiWindow* ui, const char* address) {
  if (!address) return;
  const uint32_t n = LibcStrLen(address);
  auto* wide = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::Ui));
  if (!wide) return;
  for (uint32_t i = 0; i < n; ++i) wide[i] = static_cast<uint8_t>(address[i]);
  wide[n] = 0;
  if (ui->currentString == ui->ownString) ui->currentString = nullptr;
  MemFree(&ui->ownString);
  ui->ownString = wide;
  ui->currentString = wide;
}

// The page being left goes on the back stack, unless it was a built-in page
// kept out of history.
void RememberPage(UrlRequestRec* page) {
  BenHistory* history = BenHistoryCurrent();
  if (!history || !page || UrlLoadStatus(page) == kUrlStatusKeptOut) return;
  char* address = nullptr;
  if (UrlOfRequest(&address, page) != kOk || !address) return;
  BenBackStackPush(&history->back, address);
  MemFree(&address);
}

}  // namespace

Result UiNavOpen(UiWindow* window, TskmanTask* self) {
  auto* nav = static_cast<UiNavigation*>(MemAllocZero(sizeof(UiNavigation), Use::Context, Mod::Ui));
  if (!nav) return ResultError(Mod::Ui, Err::NoMemory);
  nav->self = self;
  Result r = UrlStartTask(&nav->urlTask, self);
  if (r == kOk) r = UrlSessionCreate(&nav->session, self);
  if (r != kOk) {
    UrlStopTask(nav->urlTask);
    MemFree(&nav);
    return r;
  }
  window->nav = nav;
  return kOk;
}

void UiNavClose(UiWindow* window) {
  UiNavigation* nav = window->nav;
  if (!nav) return;
  // The session's requests go with it.
  UrlSessionDestroy(nav->session);
  UrlStopTask(nav->urlTask);
  MemFree(&window->nav);
}

UrlRequestRec* UiNavCurrentRequest(const UiWindow* window) {
  return window && window->nav ? window->nav->page : nullptr;
}

void UiNavigate(UiWindow* window, char* address) {
  UiNavigation* nav = window->nav;
  if (!address || !*address || !nav) {
    MemFree(&address);
    return;
  }
  // What keeps the home page from running for want of memory is said,
  // wherever it fails: here, in its load, or in its script.
  const bool home = UiIsHomeAddress(address);
  // A script runs on behalf of the page shown, which stays current.
  if (IsScriptCall(address)) {
    if (ResultNoMemory(BenRunScript(address, nav->page)) && home) UiHomePageNoMemory();
    return;
  }
  SetCurrentString(window, address);
  // A newer address wins over a load still under way.
  if (nav->loading) UrlRequestDone(nav->session, nav->loading);
  nav->loading = nullptr;
  UrlRequestRec* request = nullptr;
  const Result r = UrlRequest(nav->session, address, 0, nav->page, &request, 0, nav->self, 0);
  if (r == kOk) {
    nav->loading = request;
    nav->loadingHome = home;
  } else if (ResultNoMemory(r) && home) {
    UiHomePageNoMemory();
  }
  MemFree(&address);
}

bool UiNavEvent(UiWindow* window, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  UiNavigation* nav = window->nav;
  if (!nav) return false;
  auto* request = reinterpret_cast<UrlRequestRec*>(arg1);
  switch (message) {
    case UrlMsg::Complete:
      if (!request || request != nav->loading) return true;
      RememberPage(nav->page);
      if (nav->page) UrlRequestDone(nav->session, nav->page);
      nav->page = request;
      nav->loading = nullptr;
      if (char* url = nullptr; UrlOfRequest(&url, request) == kOk) {
        SetCurrentString(window, url);
        MemFree(&url);
      }
      return true;
    case UrlMsg::Failed:
      if (request && request == nav->loading) {
        if (nav->loadingHome && UrlFailedForMemory(request, static_cast<Result>(arg2)))
          UiHomePageNoMemory();
        UrlRequestDone(nav->session, request);
        nav->loading = nullptr;
      }
      return true;
    case UrlMsg::ClassKnown:
    case UrlMsg::StatusKnown:
    case UrlMsg::Watch:
    case UrlMsg::Closed:
      return true;
    default:
      return false;
  }
}
