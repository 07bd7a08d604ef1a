#include "layout/render_sink.h"

#include "browser/bentask.h"
#include "kernel/mem.h"
#include "widgets/pwl_imagesink.h"

namespace {

Result Empty(RenderRequest*, uintptr_t, const void*, uint32_t) { return kOk; }

constexpr uint32_t kChannelClass = 6;
RenderChannelCloseFn gChannelClose = nullptr;

Result ChannelWrite(RenderRequest*, uintptr_t, const void*, uint32_t) {
  return RenderSinkAnswer::NotDrawn;
}

// The channel document's page is done: its fetch starts.
Result ChannelClose(RenderRequest* request, uintptr_t, const void*, uint32_t) {
  char* url = nullptr;
  if (gChannelClose && request && BenPageUrlString(request->object, &url) == kOk) gChannelClose(url);
  MemFree(&url);
  return kOk;
}

const RenderSinkRow kRows[] = {
    {RenderClass::Image, Empty, PwlImageSinkWrite, Empty},
    {kChannelClass, Empty, ChannelWrite, ChannelClose},
};

const RenderSinkRow* gInstalledRows = nullptr;
uint32_t gInstalledCount = 0;
const RenderSinkRow* gExtraRows = nullptr;
uint32_t gExtraCount = 0;

const RenderSinkRow* Find(const RenderSinkRow* rows, uint32_t count, uint32_t contentClass) {
  for (uint32_t i = 0; i < count; ++i)
    if (rows[i].contentClass == contentClass) return &rows[i];
  return nullptr;
}

}  // namespace

const RenderSinkRow* RenderFindSink(uint32_t contentClass) {
  if (const RenderSinkRow* row = Find(kRows, sizeof kRows / sizeof kRows[0], contentClass))
    return row;
  if (const RenderSinkRow* row = Find(gInstalledRows, gInstalledCount, contentClass)) return row;
  return Find(gExtraRows, gExtraCount, contentClass);
}

void RenderInstallRows(const RenderSinkRow* rows, uint32_t count) {
  gInstalledRows = rows;
  gInstalledCount = rows ? count : 0;
}

void RenderSetExtraRows(const RenderSinkRow* rows, uint32_t count) {
  gExtraRows = rows;
  gExtraCount = rows ? count : 0;
}

void RenderSetChannelClose(RenderChannelCloseFn hook) { gChannelClose = hook; }
