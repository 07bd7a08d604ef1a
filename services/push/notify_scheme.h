// The notify: scheme: notify://browse, notify://view?int=URL&ext=URL and
// notify://delete?int=URL (both values percent-encoded) show the inbox pages; view marks the message
// viewed and delete removes it, and both set "HXPNotify_Redirect" to where
// the page goes next. The pages' templates read the inbox through the
// "notify" variable source.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "markup/varparse.h"

constexpr Result kNotifyPageNoMemory = 0x801E0001;

Result NotifySchemeStart(UrlRequestRec* request, UrlLoad* load);
Result NotifySchemeStep(UrlRequestRec* request, UrlLoad* load);
Result NotifySchemeClose(UrlRequestRec* request, UrlLoad* load);

// Fills the built-in template at `path` into the load's data (nothing for a
// missing file); kNotifyPageNoMemory when memory could not hold it.
Result NotifyRenderPage(UrlLoad* load, const char* path);

// The "notify" source row, and a table of it alone.
extern const VarParseSource kNotifySourceRow;
extern const VarParseSource kNotifySources[];
