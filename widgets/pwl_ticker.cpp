// The ticker task: a queue of entries under one repeating timer that runs
// only while some entry runs, so an idle screen costs no timer events.
#include "widgets/pwl_ticker.h"

#include "kernel/mem.h"
#include "widgets/pwl.h"

namespace {

constexpr uint32_t kUseEntry = 27;

PwlTickerEntry* AsEntry(QueueNode* node) { return reinterpret_cast<PwlTickerEntry*>(node); }

bool Holds(const PwlTicker* ticker, const PwlTickerEntry* entry) {
  for (QueueNode* n = ticker->entries.head; n; n = n->next)
    if (AsEntry(n) == entry) return true;
  return false;
}

void StartTimer(PwlTicker* ticker) {
  if (!ticker->timer && ticker->state == PwlTickerState::Running && ticker->running > 0)
    TskmanStartTimer(&ticker->timer, ticker->task, 0, 1, kPwlTickerStep);
}

// A running entry leaves the running count; the last one takes the timer.
void LeaveRunning(PwlTicker* ticker, PwlTickerEntry* entry) {
  if (entry->state != PwlTickerState::Running) return;
  if (ticker->running > 0 && --ticker->running == 0) TskmanCancelTimer(&ticker->timer);
}

void Stop(PwlTicker* ticker, PwlTickerEntry* entry, uint32_t state) {
  if (!ticker || !entry) return;
  LeaveRunning(ticker, entry);
  entry->state = state;
}

void Destroy(PwlTicker* ticker) {
  TskmanTask* task = ticker ? ticker->task : TskmanFind(Mod::Ticker);
  if (ticker) {
    TskmanCancelTimer(&ticker->timer);
    while (QueueNode* n = QueuePopFront(&ticker->entries)) MemFreeRaw(n);
    MemFree(&ticker);
  }
  if (task) TskmanDestroyTask(task);
}

}  // namespace

Result PwlTickerStart() {
  // One ticker a system: a second start keeps the running one.
  if (TskmanFind(Mod::Ticker)) return kOk;
  TskmanTask* task = nullptr;
  return TskmanCreateTask(&task, Mod::Ticker, PwlTickerHandler, nullptr);
}

void PwlTickerStop() {
  if (TskmanTask* task = TskmanFind(Mod::Ticker)) TskmanSend(task, TskMsg::Stop2, 0, 0);
}

PwlTicker* PwlTickerGetContext() {
  TskmanTask* task = TskmanFind(Mod::Ticker);
  if (!task) return nullptr;
  void* context = nullptr;
  TskmanGetContext(&context, task);
  return static_cast<PwlTicker*>(context);
}

Result PwlTickerAdd(PwlControl* control, uint32_t value, int32_t period, PwlTickerEntry** out) {
  if (out) *out = nullptr;
  PwlTicker* ticker = PwlTickerGetContext();
  if (!ticker || !out) return kPwlTickerNoMemory;
  auto* entry =
      static_cast<PwlTickerEntry*>(MemAllocZero(sizeof(PwlTickerEntry), kUseEntry, Mod::Ticker));
  if (!entry) return kPwlTickerNoMemory;
  entry->state = PwlTickerState::Stopped;
  entry->value = value;
  // A period below 1 would divide by zero on the first tick.
  entry->period = period < 1 ? 1 : period;
  entry->control = control;
  QueueAppend(&ticker->entries, &entry->link);
  *out = entry;
  return kOk;
}

void PwlTickerRun(PwlTickerEntry* entry) {
  PwlTicker* ticker = PwlTickerGetContext();
  if (!ticker || !entry) return;
  if (entry->state == PwlTickerState::Stopped) entry->counter = 0;
  if (entry->state != PwlTickerState::Running) {
    ++ticker->running;
    // Paused as a whole, the ticker keeps its timer off until resume all.
    StartTimer(ticker);
  }
  entry->state = PwlTickerState::Running;
}

void PwlTickerPause(PwlTickerEntry* entry) {
  Stop(PwlTickerGetContext(), entry, PwlTickerState::Paused);
}

void PwlTickerHalt(PwlTickerEntry* entry) {
  Stop(PwlTickerGetContext(), entry, PwlTickerState::Stopped);
}

void PwlTickerRemove(PwlTickerEntry* entry) {
  PwlTicker* ticker = PwlTickerGetContext();
  if (!ticker || !entry || !Holds(ticker, entry)) return;
  QueueRemove(&ticker->entries, &entry->link);
  LeaveRunning(ticker, entry);
  MemFree(&entry);
}

void PwlTickerPauseAll() {
  PwlTicker* ticker = PwlTickerGetContext();
  if (!ticker) return;
  ticker->state = PwlTickerState::Paused;
  TskmanCancelTimer(&ticker->timer);
}

void PwlTickerResumeAll() {
  PwlTicker* ticker = PwlTickerGetContext();
  if (!ticker) return;
  ticker->state = PwlTickerState::Running;
  StartTimer(ticker);
}

void PwlTickerTick(PwlTicker* ticker) {
  for (QueueNode* n = ticker->entries.head; n;) {
    QueueNode* next = n->next;
    PwlTickerEntry* e = AsEntry(n);
    if (e->state == PwlTickerState::Running) {
      const int32_t old = e->counter / e->period;
      e->counter += kPwlTickerStep;
      const int32_t now = e->counter / e->period;
      if (now != old) {
        int32_t periods = now - old;
        PwlSend(e->control, nullptr, &periods, 0, PwlMsg::TickerPeriods, 0);
      }
    }
    n = next;
  }
}

Result PwlTickerHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  auto* ticker = static_cast<PwlTicker*>(context);
  if (message == TskMsg::Start) {
    if (ticker) return kOk;
    ticker = static_cast<PwlTicker*>(MemAllocZero(sizeof(PwlTicker), Use::Context, Mod::Ticker));
    // Without a context the task stays, answers every call as empty and
    // still stops on 262.
    if (!ticker) return kOk;
    ticker->task = TskmanFind(Mod::Ticker);
    ticker->state = PwlTickerState::Running;
    TskmanSetContext(ticker->task, ticker);
    return kOk;
  }
  if (message == TskMsg::Stop2) {
    Destroy(ticker);
    return kOk;
  }
  if (!ticker) return kOk;
  // A posted entry may have been removed before its message came: only
  // entries still queued are touched.
  auto* entry = reinterpret_cast<PwlTickerEntry*>(arg1);
  switch (message) {
    case TskMsg::Timer:
      if (ticker->state == PwlTickerState::Running && arg1 == reinterpret_cast<uintptr_t>(ticker->timer))
        PwlTickerTick(ticker);
      break;
    case PwlTickerMsg::Halt:
      if (Holds(ticker, entry)) PwlTickerHalt(entry);
      break;
    case PwlTickerMsg::Pause:
      if (Holds(ticker, entry)) PwlTickerPause(entry);
      break;
    case PwlTickerMsg::Run:
      if (Holds(ticker, entry)) PwlTickerRun(entry);
      break;
    case PwlTickerMsg::Remove:
      PwlTickerRemove(entry);
      break;
    case PwlTickerMsg::PauseAll:
      PwlTickerPauseAll();
      break;
    case PwlTickerMsg::ResumeAll:
      PwlTickerResumeAll();
      break;
    default:
      break;
  }
  return kOk;
}
