#include "markup/template_page.h"

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/qorrom.h"
#include "markup/varparse.h"

namespace {

constexpr uint32_t kUtf16 = 32766;

}  // namespace

Result UtilLoadTemplatePage(UrlLoad* load, void* client, const char* path) {
  if (!load || !path) return kUtilBadArg;
  uint32_t size = 0;
  const uint8_t* file = QorRomOpen(path, &size);
  if (!file) return kUtilNoFile;
  VarParseJob* job = nullptr;
  Result r = VarParseCreate(&job, 0, client);
  if (r != kOk) {
    QorRomRelease(file);
    return r;
  }
  const uint32_t before = UtilDataChunkQueueBytes(&load->input);
  VarParseSetSink(job, &load->input);
  if (size) {
    UtilDataChunk* chunk = UtilDataChunkNew(file, size, Mod::WtlUtil);
    if (chunk)
      VarParseFeed(job, chunk);
    else
      r = kUtilNoMemory;
  }
  VarParseClose(&job);
  QorRomRelease(file);
  load->delivered += UtilDataChunkQueueBytes(&load->input) - before;
  if (r == kOk) load->charset = kUtf16;
  return r;
}

Result UtilAppendRomFile(UrlLoad* load, const char* path) {
  if (!load || !path) return kUtilBadArg;
  uint32_t size = 0;
  const uint8_t* file = QorRomOpen(path, &size);
  if (!file) return kUtilNoFile;
  const Result r = UrlLoadDeliver(load, file, size);
  QorRomRelease(file);
  return r;
}
