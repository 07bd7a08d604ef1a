// The compiled-WML rows (wmlc and wta-wmlc): the body goes byte by byte to
// the deck builder, which puts the deck's nodes on the load.
#pragma once
#include <cstdint>

#include "browser/url.h"

// Build errors are returned added to this base.
constexpr Result kWmlcRowBase = 0x80260000;

Result WmlcContentProcess(UrlModuleContext* module, UrlLoad* load);
Result WmlcContentRelease(UrlModuleContext* module, UrlLoad* load);
