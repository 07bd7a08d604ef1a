// The write step of the image content sink: when a page's image knows its
// size, the page's layout is fitted to it. A stand-alone image becomes the
// page's only display item; an inline image updates its object and display
// item and grows the page. No pixels are touched here.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct DDriverItem;
struct DDriverStore;
struct RenderImageSize;
struct RenderRequest;

namespace PwlSinkFlag {
constexpr uint32_t Skip = 0x80;
}

// The image row's write: size is a RenderImageSize. Always 0.
Result PwlImageSinkWrite(RenderRequest* request, uintptr_t unused, const void* size,
                         uint32_t flags);
// Places the image in the store while the cursor is held.
void PwlImageSinkPlace(uintptr_t cursor, DDriverStore* store, DDriverItem* item,
                       const RenderImageSize* size, RenderRequest* request);
