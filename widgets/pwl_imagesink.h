// The write step of the image content sink: when a page's image knows its
// size, the page's layout is fitted to it. A stand-alone image becomes the
// page's only display item; an inline image updates its object and display
// item and grows the page. No pixels are touched here.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct ContentImage;
struct DDriverItem;
struct DDriverStore;
struct RenderRequest;

namespace PwlSinkFlag {
constexpr uint32_t Skip = 0x80;
}

// The image row's write: image is the load's decoded image, whose width and
// height are read. Always 0.
Result PwlImageSinkWrite(RenderRequest* request, uintptr_t unused, const void* image,
                         uint32_t flags);
// Places the image in the store while the cursor is held.
void PwlImageSinkPlace(uintptr_t cursor, DDriverStore* store, DDriverItem* item,
                       const ContentImage* image, RenderRequest* request);
