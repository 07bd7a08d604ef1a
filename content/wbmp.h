// WtlWBmp (module 15): the Wireless Bitmap (type 0) decoder. It turns a body,
// byte by byte as it arrives, into a banded still image of black and white
// RGB565 pixels; the image/vnd.wap.wbmp row's process step runs it.
#pragma once
#include <cstdint>

#include "content/decode_feed.h"
#include "kernel/modules.h"

namespace WBmpErr {
constexpr Result NoMemory = 0x800f0001;
constexpr Result Malformed = 0x800f0002;
}  // namespace WBmpErr

struct WBmpDecoder;

// One process step: allocates the decoder into *state on the first call,
// consumes what the input holds, and frees the decoder (nulling *state) once
// the image is complete, the data has ended or a failure is returned.
Result WBmpDecodeStep(WBmpDecoder** state, ContentFeed* feed);
// Frees a partly filled band and the decoder; nothing when *state is null.
void WBmpDecodeRelease(WBmpDecoder** state);
