// The content sinks of rendering (module 17): per content class, the open,
// write and close operations the render data pump feeds a load's output to.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "layout/render_request.h"

// (request, a word the sink does not read, the data, flags).
using RenderSinkOp = Result (*)(RenderRequest* request, uintptr_t unused, const void* data,
                                uint32_t flags);

struct RenderSinkRow {
  uint32_t contentClass;
  RenderSinkOp open;
  RenderSinkOp write;
  RenderSinkOp close;
};

// The row of a content class, or null.
const RenderSinkRow* RenderFindSink(uint32_t contentClass);
