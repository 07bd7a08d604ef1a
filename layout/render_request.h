// A load request as the content sinks of rendering (module 17) see it.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct BenPage;

// A load request as the sinks see it: the page object the load fills, the
// handle of the page it renders, and the access word of the browser context
// that made it (the WTAI level is chosen by it).
struct RenderRequest {
  BenPage* object;
  uintptr_t page;
  uint32_t accessOk = 0;
};

namespace RenderClass {
constexpr uint32_t Image = 5;
}

// The page handle a load request renders.
uintptr_t RenderRequestGetPage(const RenderRequest* request);
// The access word of the browser context that made the request; 0 for none.
uint32_t RenderRequestGetAccessOk(const RenderRequest* request);
