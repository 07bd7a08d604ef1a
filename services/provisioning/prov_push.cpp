// Connectivity documents that arrive by push: no page requests them, so a
// task of their own runs the "provc" row over a copy of the pushed object,
// one step per message, until the document is applied or refused; while the
// row waits for an answer the task sleeps until the answer wakes it.
#include <initializer_list>

#include "browser/bentask.h"
#include "browser/cache.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/ubstore.h"
#include "services/provisioning/prov.h"
#include "services/provisioning/prov_internal.h"

namespace {

constexpr uint32_t kModule = Mod::Provisioning;
constexpr char kUpdatedPage[] = "file://prov/updated.html";

struct PushRun {
  UrlLoad* load;  // the copy the row works on
};

const UrlContentTypeRow* ProvRow() {
  static const UrlContentTypeRow row{ProvProcess, ProvRelease, "provc",
                                     UrlType::ConnectivityWbxml, "application",
                                     "vnd.wap.connectivity-wbxml", 2};
  return &row;
}

// A pushed object's sender ("push:" sender "." serial) as the document's
// initiator, unless the push named one.
Result AddSender(UrlLoad* load) {
  const char* given = nullptr;
  for (const char* name : {"x-wap-initiator-uri", "x-wap-content-uri", "content-location"})
    if (UrlGetHeader(load, name, &given) == kOk) return kOk;
  const char* path = load->url.path;
  const char* dot = path ? LibcStrRChr(path, '.') : nullptr;
  if (!path || !dot || dot == path) return kOk;
  const auto length = static_cast<uint32_t>(dot - path);
  char* uri = static_cast<char*>(MemAlloc(length + 9, Use::String, kModule));
  if (!uri) return ProvCode::NoMemory;
  LibcStrCopy(uri, "push://");
  LibcMemCopy(uri + 7, path, length);
  uri[7 + length] = '/';
  uri[8 + length] = 0;
  const Result r = UrlAddHeader(load, "x-wap-initiator-uri", uri);
  MemFree(&uri);
  return r;
}

// A fresh load of the pushed object's URL, headers and body.
UrlLoad* CopyPushed(const UrlLoad* pushed) {
  UrlLoad* load = UrlLoadCreate(&pushed->url);
  if (!load) return nullptr;
  Result r = kOk;
  for (const UrlHeader* h = pushed->headers; h && r == kOk; h = h->next)
    r = UrlAddHeader(load, h->name, h->value);
  for (const QueueNode* n = pushed->output.head; n && r == kOk; n = n->next) {
    const UtilDataChunk* block = UtilDataChunkOf(const_cast<QueueNode*>(n));
    r = UrlLoadDeliver(load, UtilDataChunkData(block) + block->offset, block->remaining);
  }
  if (r == kOk) r = AddSender(load);
  if (r != kOk) {
    UrlLoadFree(load);
    return nullptr;
  }
  load->status = pushed->status;
  load->typeId = UrlType::ConnectivityWbxml;
  load->contentClass = 2;
  load->contentRow = ProvRow();
  load->endOfData = 1;
  return load;
}

void EndRun(TskmanTask* task, PushRun* run) {
  UrlLoadFree(run->load);
  MemFree(&run);
  TskmanDestroyTask(task);
}

// The document is applied: the browser window shows the page that says so.
void ShowUpdated() {
  TskmanTask* ui = TskmanFind(Mod::Ui);
  if (!ui) return;
  if (char* address = LibcStrDup(kUpdatedPage)) TskmanPost(ui, BenMsg::UiNavigate,
                                                           reinterpret_cast<uintptr_t>(address), 0);
}

// A pushed document not applied, said with its sender as the load names it.
void SayNotAsked(const UrlLoad* load, const char* why) {
  char* sender = load ? ProvSender(load) : nullptr;
  ProvSayNotApplied(sender && *sender ? sender : nullptr, why);
  MemFree(&sender);
}

Result RunHandler(void* context, uint32_t message, uintptr_t, uintptr_t) {
  auto* run = static_cast<PushRun*>(context);
  TskmanTask* self = TskmanGetCurrentTask();
  if (!run || (message != TskMsg::Start && message != ProvMsg::PushStep)) return kOk;
  const bool begun = run->load->handlerState != nullptr;
  const Result r = ProvProcess(nullptr, run->load);
  if (r != kOk) {
    // The row says what fails a document it steps for a push; before its
    // first step it could not know the load was pushed.
    if (!begun && ResultCodeOf(r) == Err::NoMemory) SayNotAsked(run->load, kProvNoMemory);
    EndRun(self, run);
    return kOk;
  }
  if (!run->load->handlerState) {  // applied: the row has handed the load its page
    ShowUpdated();
    EndRun(self, run);
    return kOk;
  }
  // While the row waits for the user (or the settings store) nothing is to
  // be done: its answer sends the next step.
  ProvStepBy(run->load, self);
  if (!run->load->waiting) TskmanPost(self, ProvMsg::PushStep, 0, 0);
  return kOk;
}

// The browser phase has ended: no question can be put any longer.
bool gAskingEnded = false;

}  // namespace

bool ProvAskingEnded() { return gAskingEnded; }

void ProvBeginAsking() { gAskingEnded = false; }

void ProvEndUnanswered() {
  gAskingEnded = true;
  ProvSayRefusedCount();
  // Letting one go closes its popup, a task of its own: the walk starts
  // again after each. A document all of whose answers are in goes on to be
  // applied: the settings store stops last.
  for (TskmanTask* t = TskmanNextTask(nullptr); t;) {
    TskmanTask* next = TskmanNextTask(t);
    auto* run = t->id == kModule && t->handler == RunHandler ? static_cast<PushRun*>(t->context)
                                                              : nullptr;
    const ProvUser standing = run ? ProvUserStanding(run->load) : ProvUser::Done;
    if (standing != ProvUser::Done) {
      SayNotAsked(run->load, standing == ProvUser::Asked ? kProvLeftUnanswered : kProvStoppedFirst);
      EndRun(t, run);
      next = TskmanNextTask(nullptr);
    }
    t = next;
  }
}

// What the heap cannot take is said: the push stays in the inbox, unapplied.
Result ProvProvisionPushed(const char* url) {
  // By the name push reception gave it, which takes no memory to find.
  const UrlLoad* pushed = url ? CacheFindByText(url) : nullptr;
  if (!pushed) return ProvCode::Refused;
  auto* run = static_cast<PushRun*>(MemAllocZero(sizeof(PushRun), Use::Context, kModule));
  if (!run) {
    SayNotAsked(nullptr, kProvNoMemory);
    return ProvCode::NoMemory;
  }
  run->load = CopyPushed(pushed);
  if (run->load && gAskingEnded) {
    // Too late to be asked: the push stays in the inbox, unapplied.
    SayNotAsked(run->load, kProvStoppedFirst);
    UrlLoadFree(run->load);
    MemFree(&run);
    return kOk;
  }
  TskmanTask* task = nullptr;
  if (!run->load || TskmanCreateTask(&task, kModule, RunHandler, run) != kOk) {
    SayNotAsked(run->load, kProvNoMemory);
    UrlLoadFree(run->load);
    MemFree(&run);
    return ProvCode::NoMemory;
  }
  return kOk;
}
