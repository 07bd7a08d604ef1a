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

const RenderSinkRow* gExtraRows = nullptr;
uint32_t gExtraCount = 0;

}  // namespace

const RenderSinkRow* RenderFindSink(uint32_t contentClass) {
  for (const RenderSinkRow& row : kRows)
    if (row.contentClass == contentClass) return &row;
  for (uint32_t i = 0; i < gExtraCount; ++i)
    if (gExtraRows[i].contentClass == contentClass) return &gExtraRows[i];
  return nullptr;
}

void RenderSetExtraRows(const RenderSinkRow* rows, uint32_t count) {
  gExtraRows = rows;
  gExtraCount = rows ? count : 0;
}

void RenderSetChannelClose(RenderChannelCloseFn hook) { gChannelClose = hook; }
