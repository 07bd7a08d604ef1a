// The PNG glue (module 100): a PNG body, collected whole, is decoded through
// libpng into a banded still image of RGB565 pixels; images with
// transparency carry the key colour. The image/png row's process step runs it.
#pragma once
#include <cstdint>

#include "content/collect.h"
#include "content/decode_feed.h"
#include "kernel/modules.h"

namespace PngErr {
constexpr Result NoMemory = 0x80640001;
constexpr Result BadData = 0x80640002;
}  // namespace PngErr

struct PngDecoder;

// One process step: allocates the decoder into *state on the first call and
// collects what the input holds; once the body is whole it decodes it in
// this call, using the work buffer of `source` for the decoded rows, and
// frees the decoder (nulling *state). A failure frees it too.
Result PngDecodeStep(PngDecoder** state, ContentFeed* feed, const ContentSource* source);
// Frees the collected body, the library's structures and the decoder;
// nothing when *state is null.
void PngDecodeRelease(PngDecoder** state);
