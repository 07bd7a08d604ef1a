// The content sinks of rendering (module 17): per content class, the open,
// write and close operations the render data pump feeds a load's output to.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "layout/render_request.h"

// (request, the sink's word, the data, flags). Open and close are given the
// address of the sink's word, where open may keep the sink's own record;
// write is given the word itself and one object of the load's output, or no
// data. The image row's objects are the decoded images (ContentImage) the
// image handlers put out.
using RenderSinkOp = Result (*)(RenderRequest* request, uintptr_t unused, const void* data,
                                uint32_t flags);

struct RenderSinkRow {
  uint32_t contentClass;
  RenderSinkOp open;
  RenderSinkOp write;
  RenderSinkOp close;
};

// What a sink answers besides 0 (consumed) and a failure.
namespace RenderSinkAnswer {
constexpr Result Deferred = 0x801d;  // open: opened; the sink completes later
constexpr Result Again = 0x800e;     // write: not taken; call again without data first
constexpr Result NotDrawn = 0x800F;  // write: taken, nothing to draw
}  // namespace RenderSinkAnswer

// The row of a content class, or null: the layout's own rows first, then
// those installed from above, then the extra ones.
const RenderSinkRow* RenderFindSink(uint32_t contentClass);
// The sinks that live on higher floors (the sounds of the content
// handlers), installed at start-up; null and 0 remove them.
void RenderInstallRows(const RenderSinkRow* rows, uint32_t count);
// Extra rows looked up after the product's own (the tests' sinks); null and
// 0 remove them.
void RenderSetExtraRows(const RenderSinkRow* rows, uint32_t count);

// The channel row (class 6) draws nothing; when the page closes its sink it
// hands the page's URL to this hook (the channel fetch, which lives above
// rendering). Null removes it.
using RenderChannelCloseFn = Result (*)(const char* url);
void RenderSetChannelClose(RenderChannelCloseFn hook);
