// WtlGif (module 10): a resumable GIF87a/GIF89a decoder. It turns a body,
// byte by byte as it arrives, into an animation image with one frame per
// image descriptor, fitted to the screen width when the load asks. No
// content-type row selects it yet; a row for image/gif would run it from its
// process step.
#pragma once
#include <cstdint>

#include "content/decode_feed.h"
#include "kernel/modules.h"

namespace GifErr {
constexpr Result NoMemory = 0x800a0001;
constexpr Result BadData = 0x800a0002;
constexpr Result Exhausted = 0x800a8001;  // internal: the input ran out mid-field
}  // namespace GifErr

struct GifDecoder;

// One process step: allocates the decoder into *state on the first call,
// consumes what the input holds, and frees the decoder (nulling *state) once
// the trailer is read, the data has ended or a failure is returned. The
// image it creates belongs to the output list.
Result GifDecodeStep(GifDecoder** state, ContentFeed* feed);
// Frees the decoder and whatever it still owns; nothing when *state is null.
void GifDecodeRelease(GifDecoder** state);
