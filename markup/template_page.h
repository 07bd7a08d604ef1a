// Built-in pages into a load: a template filled through the template engine,
// or a file appended as it is (module WtlUtil, 9).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct UrlLoad;

constexpr Result kUtilNoMemory = ResultError(Mod::WtlUtil, Err::NoMemory);
constexpr Result kUtilBadArg = ResultError(Mod::WtlUtil, Err::BadArg);
constexpr Result kUtilNoFile = ResultError(Mod::WtlUtil, Err::NotFound);

// Reads the built-in template at `path`, sets the load's character set to
// 32766 (the engine's UTF-16) and fills the template into the load's data
// with `client` as the job's owner, which the variable sources reach through
// VarParseGetOwner. The fill runs to its end inside the call, so sources
// answer at once here. 0, kUtilNoFile, or the out-of-memory code.
Result UtilLoadTemplatePage(UrlLoad* load, void* client, const char* path);
// Appends the built-in file's bytes to the load's data; kUtilNoFile when
// there is none.
Result UtilAppendRomFile(UrlLoad* load, const char* path);
