// The content sinks of rendering (module 17): per content class, the open,
// write and close operations the render data pump feeds a load's output to.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct BenPage;

// A load request as the sinks see it: the page object the load fills and
// the handle of the page it renders.
struct RenderRequest {
  BenPage* object;
  uintptr_t page;
};

// The decoded image's record: the sinks read its width and height, the
// seventh and eighth words.
struct RenderImageSize {
  uint32_t head[6];
  uint32_t width;
  uint32_t height;
};

namespace RenderClass {
constexpr uint32_t Image = 5;
}

// (request, a word the sink does not read, the data, flags).
using RenderSinkOp = Result (*)(RenderRequest* request, uintptr_t unused, const void* data,
                                uint32_t flags);

struct RenderSinkRow {
  uint32_t contentClass;
  RenderSinkOp open;
  RenderSinkOp write;
  RenderSinkOp close;
};

// The page handle a load request renders.
uintptr_t RenderRequestGetPage(const RenderRequest* request);
// The row of a content class, or null.
const RenderSinkRow* RenderFindSink(uint32_t contentClass);
