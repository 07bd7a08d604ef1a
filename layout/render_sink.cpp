#include "layout/render_sink.h"

#include "widgets/pwl_imagesink.h"

namespace {

Result Empty(RenderRequest*, uintptr_t, const void*, uint32_t) { return kOk; }

const RenderSinkRow kRows[] = {
    {RenderClass::Image, Empty, PwlImageSinkWrite, Empty},
};

}  // namespace

const RenderSinkRow* RenderFindSink(uint32_t contentClass) {
  for (const RenderSinkRow& row : kRows)
    if (row.contentClass == contentClass) return &row;
  return nullptr;
}
