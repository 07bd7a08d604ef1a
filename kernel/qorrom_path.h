// The file-path conversion of the URL layer (module Url, 13) that the
// built-in file store needs: it sits with the store, beneath the browser.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

// Turns a file-style path into a host path: a leading "file:" with an empty
// or "localhost" authority is dropped and percent escapes are decoded (a "%"
// without two hex digits after it stays as it is). *out takes an engine
// string the caller frees with MemFree. Bad argument for another authority
// or an escaped NUL, which would cut the path short; flags are reserved (0).
Result UrlToLocalPath(const char* path, char** out, uint32_t flags);
