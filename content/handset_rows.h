// The handset's image rows: image/nbmp bodies through the nbmp codec and
// image/sis bodies through the handset-image decoder, each collected whole,
// decoded in the shared work buffer and converted into animations of 16-bit
// bands; and the adver element's image objects, which decode the same
// formats from inline text.
//
// The work buffer is divided into fixed areas; a decode never reaches outside
// its own.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "graphics/image.h"
#include "markup/html_node.h"

namespace WorkArea {
constexpr uint32_t DecodeOutput = 0, DecodeOutputBytes = 65536;
constexpr uint32_t DecoderWork = 65536, DecoderWorkBytes = 34000;
constexpr uint32_t Frame = 99536, FrameBytes = 65600;
constexpr uint32_t Palette = 165136, PaletteBytes = 768;
// What each user needs of the buffer.
constexpr uint32_t NbmpNeeds = Palette, SisNeeds = Palette + PaletteBytes;
}  // namespace WorkArea

namespace NbmpRowErr {
constexpr Result NoMemory = 0x80540001, Malformed = 0x80540002;
}
namespace SisRowErr {
constexpr Result NoMemory = 0x80530001, Malformed = 0x80530002;
}
constexpr Result kHtmlObjectNoMemory = 0x801C0001;

// The nbmp codec reads at most this much of a body.
constexpr uint32_t kNbmpBodyRoom = 40960;
// A sis body larger than this is refused.
constexpr uint32_t kSisBodyRoom = 256000;

Result NbmpContentProcess(UrlModuleContext* module, UrlLoad* load);
Result NbmpContentRelease(UrlModuleContext* module, UrlLoad* load);
Result SisContentProcess(UrlModuleContext* module, UrlLoad* load);
Result SisContentRelease(UrlModuleContext* module, UrlLoad* load);

// The adver element's image object: decodes the inline text by its source
// type and posts the image to the status indicator (14599). 0; 3 when the
// status indicator does not run (the image is then freed); or a result code.
Result HtmlImageObjectDecode(HtmlImageObject* record);
