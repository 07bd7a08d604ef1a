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
// VarParseGetOwner. 0, kUtilNoFile, or kUtilNoMemory when the template or
// the job could not be had or some of the page was lost for want of memory.
//
// When a source answers later, the call returns 0 with the page still being
// filled: UtilTemplatePagePending tells when it is whole, and the client
// must live until then.
Result UtilLoadTemplatePage(UrlLoad* load, void* client, const char* path);
// True while the load's page waits for a source. Once it is whole (or when
// none was waiting) false, with the page's result stored when it has just
// ended: 0 or kUtilNoMemory.
bool UtilTemplatePagePending(UrlLoad* load, Result* result);
// Ends the load's waiting page where it stands (the load is going away).
void UtilTemplatePageCancel(UrlLoad* load);
// Appends the built-in file's bytes to the load's data; kUtilNoFile when
// there is none, kUtilNoMemory when memory could not hold it.
Result UtilAppendRomFile(UrlLoad* load, const char* path);
