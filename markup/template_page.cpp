#include "markup/template_page.h"

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "markup/varparse.h"

namespace {

constexpr uint32_t kUtf16 = 32766;

// A page whose job still waits for a source when the load call returns.
struct OpenPage {
  OpenPage* next;
  UrlLoad* load;
  VarParseJob* job;
  uint32_t before;  // the load's data bytes before the page
};

OpenPage* gOpen = nullptr;

OpenPage** Find(const UrlLoad* load) {
  OpenPage** link = &gOpen;
  while (*link && (*link)->load != load) link = &(*link)->next;
  return link;
}

// Ends the page's job; the load's data then holds all of the page.
Result Close(UrlLoad* load, VarParseJob** job, uint32_t before, Result r) {
  const Result closed = VarParseClose(job);
  if (r == kOk && closed != kOk) r = kUtilNoMemory;
  const uint32_t now = UtilDataChunkQueueBytes(&load->input);
  if (now > before) load->delivered += now - before;
  return r;
}

}  // namespace

Result UtilLoadTemplatePage(UrlLoad* load, void* client, const char* path) {
  if (!load || !path) return kUtilBadArg;
  uint32_t size = 0;
  Result why = kOk;
  const uint8_t* file = QorRomOpen(path, &size, &why);
  if (!file) return why == kQorRomNoMemory ? kUtilNoMemory : kUtilNoFile;
  VarParseJob* job = nullptr;
  Result r = VarParseCreate(&job, 0, client);
  if (r != kOk) {
    QorRomRelease(file);
    return kUtilNoMemory;
  }
  load->charset = kUtf16;
  const uint32_t before = UtilDataChunkQueueBytes(&load->input);
  VarParseSetSink(job, &load->input);
  if (size) {
    UtilDataChunk* chunk = UtilDataChunkNew(file, size, Mod::WtlUtil);
    if (chunk)
      VarParseFeed(job, chunk);
    else
      r = kUtilNoMemory;
  }
  QorRomRelease(file);
  if (r == kOk && !VarParseIsDrained(job)) {
    // A source answers later: the page is whole only when its job is.
    auto* page = static_cast<OpenPage*>(MemAllocZero(sizeof(OpenPage), Use::Context, Mod::WtlUtil));
    if (page) {
      *page = {gOpen, load, job, before};
      gOpen = page;
      return kOk;
    }
    r = kUtilNoMemory;
  }
  return Close(load, &job, before, r);
}

bool UtilTemplatePagePending(UrlLoad* load, Result* result) {
  OpenPage** link = Find(load);
  OpenPage* page = *link;
  if (!page) return false;
  if (!VarParseIsDrained(page->job)) return true;
  *link = page->next;
  *result = Close(load, &page->job, page->before, kOk);
  MemFree(&page);
  return false;
}

void UtilTemplatePageCancel(UrlLoad* load) {
  OpenPage** link = Find(load);
  OpenPage* page = *link;
  if (!page) return;
  *link = page->next;
  VarParseClose(&page->job);
  MemFree(&page);
}

Result UtilAppendRomFile(UrlLoad* load, const char* path) {
  if (!load || !path) return kUtilBadArg;
  uint32_t size = 0;
  Result why = kOk;
  const uint8_t* file = QorRomOpen(path, &size, &why);
  if (!file) return why == kQorRomNoMemory ? kUtilNoMemory : kUtilNoFile;
  const Result r = UrlLoadDeliver(load, file, size);
  QorRomRelease(file);
  return r;
}
