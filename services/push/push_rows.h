// The rows the push services hand the fetch layer: the SI and SL content
// types and the notify: and cid: schemes.
#pragma once
#include <cstdint>

#include "browser/url.h"

extern const UrlContentTypeRow kPushContentRows[];
extern const uint32_t kPushContentRowCount;
extern const UrlSchemeRow kPushSchemeRows[];
extern const uint32_t kPushSchemeRowCount;

// Hands the tables to the fetch layer (at start-up, and in tests); Remove
// takes them out again.
void PushRowsInstall();
void PushRowsRemove();
