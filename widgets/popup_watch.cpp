// A requester's watch over the popup it waits on.
#include "widgets/popup.h"

void PopupWatchStart(PopupWatch* w, TskmanTask* requester) {
  PopupWatchStop(w);
  // The newest popup that answers the requester: another module's question
  // may already show under it, and is not the requester's to wait on.
  w->popup = TskmanRefOf(PopupFindFor(TskmanRefOf(requester)));
  w->requester = requester;
  w->failure = kOk;
  ++w->serial;
  // Behind the popup's start: a build that failed has already taken it.
  TskmanPost(requester, PwlEvent::PopupCheck, w->serial, 0);
  // Without a timer the popup is still looked at once; only a later close
  // under the requester would go unseen.
  if (TskmanStartTimer(&w->timer, requester, w->serial, 1, kPopupWatchMs) != kOk) w->timer = nullptr;
}

void PopupWatchStop(PopupWatch* w) {
  TskmanCancelTimer(&w->timer);
  if (w->popup.task) {
    TskmanPurgeEvents(w->requester, PwlEvent::PopupCheck, w->serial, -1);
    TskmanPurgeEvents(w->requester, PwlEvent::PopupGone, w->serial, -1);
  }
  w->popup = TskmanRef{};
}

bool PopupWatchGone(PopupWatch* w, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (!w->popup.task) return false;
  // Posted just before the popup ended itself: it answered nothing.
  if (message == PwlEvent::PopupFailed && arg1 == w->popup.serial) {
    PopupWatchStop(w);
    w->failure = static_cast<Result>(arg2);
    return true;
  }
  const bool look = (message == PwlEvent::PopupCheck && arg1 == w->serial) ||
                    (message == TskMsg::Timer && w->timer &&
                     arg1 == reinterpret_cast<uintptr_t>(w->timer) && arg2 == w->serial);
  if (look) {
    // An answer the popup posted before it went is queued ahead of this. A
    // task made since in the popup's record is not the popup.
    if (!TskmanRefAlive(w->popup)) TskmanPost(w->requester, PwlEvent::PopupGone, w->serial, 0);
    return false;
  }
  if (message != PwlEvent::PopupGone || arg1 != w->serial) return false;
  PopupWatchStop(w);
  return true;
}
