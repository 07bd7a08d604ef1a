// The MNG glue (module 101): an MNG body, collected whole, is played through
// libmng on the shared work buffer as its canvas, and every refresh the
// library draws becomes a frame of an animation image whose frames may
// carry the key colour. One pass of the animation is kept, with the loop
// count the file asks for. The image/mng row's process step runs it.
#pragma once
#include <cstdint>

#include "content/collect.h"
#include "content/decode_feed.h"
#include "kernel/modules.h"

namespace MngErr {
constexpr Result NoMemory = 0x80650001;
constexpr Result BadData = 0x80650002;
}  // namespace MngErr

struct MngDecoder;

// One process step: allocates the decoder into *state on the first call and
// collects what the input holds; once the body is whole it plays it in this
// call and frees the decoder (nulling *state). A failure frees it too.
Result MngDecodeStep(MngDecoder** state, ContentFeed* feed, const ContentSource* source);
// Frees the collected body, the library's handle and the decoder; nothing
// when *state is null.
void MngDecodeRelease(MngDecoder** state);
