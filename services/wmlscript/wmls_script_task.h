// The script task (module 34): runs "URL#function(arguments)" for the
// browser. It fetches the unit, which the compiled-script content row
// leaves parsed on the load, runs the function in slices of instructions
// (posting itself 0x2201 between them so that other tasks run), and tells
// its owner 6413 with a completion code
// when the script has ended. Navigation the script asks for is recorded in
// the browser's variable context for the owner to carry out.
#pragma once
#include <cstdint>

#include "browser/bentask.h"
#include "kernel/modules.h"

struct TskmanTask;
struct BenBrowser;
struct UrlSession;
struct WmlsScriptTask;

namespace WmlsMsg {
// {8-bit call text (MemAlloc'd; the task frees it), referring request or 0}
constexpr uint32_t Run = BenMsg::RunScript;
constexpr uint32_t Resume = 0x2201;  // the next slice, {run generation, 0}
constexpr uint32_t Abort = 0x2202;
// Abort without telling the owner, then delete the task and its record
// (as 262 does).
constexpr uint32_t Stop = BenMsg::StopScripts;
constexpr uint32_t End = BenMsg::ScriptEnded;  // to the owner: {completion code, 0}
}  // namespace WmlsMsg

namespace WmlsEnd {
constexpr uint32_t Ok = 0, NoMemory = 1, ArgCount = 0x8001, Failed = 0x8003;
}

// Creates the task; its fetches go through the session, its variables and
// navigation to the browser.
Result WmlsScriptTaskCreate(WmlsScriptTask** out, TskmanTask* owner, BenBrowser* browser,
                            UrlSession* session);
// The browser's script task, started on its first script link (the browser
// installs this with BenSetScriptStarter): it answers the browser task and
// uses the browser's variables, and fetches through a session of its own.
// A not-found result when there is no browser task, a no-memory one when
// memory could not hold the task.
Result WmlsScriptTaskStartForBrowser(TskmanTask** out);
// Ends any script silently, deletes the task and frees the record.
void WmlsScriptTaskDestroy(WmlsScriptTask** task);
TskmanTask* WmlsScriptTaskOf(WmlsScriptTask* task);
// The task's handler (its context is the task's record).
Result WmlsTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);
