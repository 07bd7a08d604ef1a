// The cid: scheme: a part the local content store keeps, by its Content-ID.
#pragma once
#include <cstdint>

#include "browser/url.h"

Result CidSchemeStart(UrlRequestRec* request, UrlLoad* load);
Result CidSchemeStep(UrlRequestRec* request, UrlLoad* load);
Result CidSchemeClose(UrlRequestRec* request, UrlLoad* load);
