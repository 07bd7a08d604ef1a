// The script task (module 34): runs "URL#function(arguments)" for the
// browser. It fetches the unit as raw data, parses it itself, runs the
// function in slices of instructions (posting itself 0x2201 between them so
// that other tasks run), and tells its owner 6413 with a completion code
// when the script has ended. Navigation the script asks for is recorded in
// the browser's variable context for the owner to carry out.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct TskmanTask;
struct BenBrowser;
struct UrlSession;
struct WmlsScriptTask;

namespace WmlsMsg {
// {8-bit call text (MemAlloc'd; the task frees it), referring request or 0}
constexpr uint32_t Run = 0x2200;
constexpr uint32_t Resume = 0x2201;  // the next slice, {run generation, 0}
constexpr uint32_t Abort = 0x2202;
// Abort without telling the owner, then delete the task and its record
// (as 262 does).
constexpr uint32_t Stop = 0x2203;
constexpr uint32_t End = 0x190D;   // to the owner: {completion code, 0}
}  // namespace WmlsMsg

namespace WmlsEnd {
constexpr uint32_t Ok = 0, NoMemory = 1, ArgCount = 0x8001, Failed = 0x8003;
}

// Creates the task; its fetches go through the session, its variables and
// navigation to the browser.
Result WmlsScriptTaskCreate(WmlsScriptTask** out, TskmanTask* owner, BenBrowser* browser,
                            UrlSession* session);
// Ends any script silently, deletes the task and frees the record.
void WmlsScriptTaskDestroy(WmlsScriptTask** task);
TskmanTask* WmlsScriptTaskOf(WmlsScriptTask* task);
