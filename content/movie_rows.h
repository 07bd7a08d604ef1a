// The two rows of the player's movies: image/qvx plays a movie's first
// frames into an animated page image, application/x-mm-qvx hands a
// downloaded movie to the handset's animation file.
#pragma once
#include <cstdint>

#include "browser/url.h"

namespace QvxCode {
constexpr uint32_t Module = 91;
constexpr Result NoMemory = 0x805B0001, BadData = 0x805B0002, Saved = 0x805B0013;
}  // namespace QvxCode

// At most this many frames of a movie become the page image.
inline constexpr uint32_t kQvxMaxFrames = 10;
// Every frame of the page image shows this long.
inline constexpr uint32_t kQvxFrameDelayMs = 100;

Result QvxContentProcess(UrlModuleContext* module, UrlLoad* load);
Result QvxContentRelease(UrlModuleContext* module, UrlLoad* load);
Result QvxSaveContentProcess(UrlModuleContext* module, UrlLoad* load);
Result QvxSaveContentRelease(UrlModuleContext* module, UrlLoad* load);
