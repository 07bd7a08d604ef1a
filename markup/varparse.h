// The variable-substitution task (module 77) that fills the built-in page
// templates. For now it is started and stopped with the browser phase.
#pragma once
#include <cstdint>

#include "kernel/datachunk.h"
#include "kernel/tskman.h"

namespace VarParseMsg {
constexpr uint32_t Ready = 0x4D00, Stopped = 0x4D06;
constexpr uint32_t Run = 0x4D01;  // {job, serial}: a registered template job has work
}

// Creates the task; the requester receives 0x4D00 when it is ready, or at
// once when the task cannot be created.
Result VarParseStartTask(TskmanTask* requester);
// Asks the task to stop; the requester receives 0x4D06 when it has, at once
// when no such task runs.
void VarParseStopTask(TskmanTask* requester);

// Template jobs: fill the "[$" ... "$]" markers of a page template.
//
//   [$source.name$]           the value the source gives for "name"
//   [$for:source.name$] ... [$/for$]
//                             the body once for each step of the source's loop;
//                             inside it "[$source.name.field$]" (any name that
//                             starts with the loop's name) asks the loop itself
//   [$field:key=source.name$] a field of a link's query: "key=<value>&amp;" with
//                             the value's UTF-8 bytes percent-encoded (all but
//                             letters, digits and "-._~"), nothing when the value
//                             is empty; without "key=", the encoded value alone
//
// The template is UTF-8; the output is UTF-16 in native byte order (character
// set 32766), queued as data chunks on the sink. A source is the row of the
// source table whose name is the first part of the variable (up to the first
// ".", ASCII case ignored); it is handed the rest. A marker whose name runs
// past kVarParseMaxName bytes is text; a marker without a source, and an end
// of loop without a loop, give nothing; a loop without a source runs zero
// times.
constexpr Result kVarParseNoMemory = 0x804D0001;
constexpr uint32_t kVarParseMaxName = 255;
constexpr uint32_t kVarParsePlainText = 0x80000000;  // added to a value's character set

struct VarParseJob;

// A row of the variable-source table. Every operation may answer at once (its
// result) or later: it sets *pending and the value comes through
// VarParseValueReady (a loop's end through VarParseSourceDone), from inside
// the call or from another task.
//
// open(name, loop holder, job, character set, pending): with a null holder a
// single value, a new string the job frees; with a holder the first step of
// a loop over the name: the source stores its loop state in *holder and a
// non-null result (which stays the source's) means the loop has an item. The
// character-set word comes preset to 106 (UTF-8) and says how the value, and
// every later value of that loop, is encoded (32766: UTF-16 text); with
// kVarParsePlainText added the values are plain text, which the job escapes
// for the page ("&", "<", ">" and quotes as references), else they go into
// the page as they stand.
// next(loop, pending): the next step of the innermost loop; null ends it.
// close(loop): the loop is over; called for every loop whose state is set.
// getProperty(loop, name, pending): a value named inside the loop; it stays
// the source's.
struct VarParseSource {
  const char* name;  // null ends the table
  void* (*open)(const char* name, void** loopHolder, VarParseJob* job, uint32_t* charset,
                uint32_t* pending);
  void* (*next)(void* loop, uint32_t* pending);
  void (*close)(void* loop);
  void* (*getProperty)(void* loop, const char* name, uint32_t* pending);
};

// The product's sources, ended by a row of null name.
extern const VarParseSource kVarParseSources[];
// The table new jobs read (null restores kVarParseSources); returns the old.
// The modules that serve variables sit above the template engine, so their
// table is installed from above.
const VarParseSource* VarParseInstallSources(const VarParseSource* rows);

// A new job reading kVarParseSources. With registerFlag set, the job's work
// runs on messages to the variable-substitution task (inline while that task
// does not run), so that the call that feeds it or answers it returns first;
// without, it runs inside those calls. The owner is for the sources
// (VarParseGetOwner). kVarParseNoMemory with null stored.
Result VarParseCreate(VarParseJob** job, uint32_t registerFlag, void* owner);
void* VarParseGetOwner(const VarParseJob* job);
// The queue that receives the output; without one the output is dropped.
void VarParseSetSink(VarParseJob* job, Queue* output);
// Another source table for this job (ended by a null name).
void VarParseSetSources(VarParseJob* job, const VarParseSource* rows);
// Queues template text; the job takes the chunk (its unread bytes).
void VarParseFeed(VarParseJob* job, UtilDataChunk* block);
// True when all text fed so far has been worked through as far as it goes
// (a marker or loop body cut off by the end waits for more) and no value is
// awaited.
bool VarParseIsDrained(VarParseJob* job);
// Ends the job: what can run runs, text held back is written as it stands,
// open loops are closed with their sources, and *job is nulled. A value that
// arrives afterwards finds no job (a single value is then freed).
// kVarParseNoMemory when some text or output was lost for want of memory
// (0 when closed from inside a source's call: the job ends afterwards).
Result VarParseClose(VarParseJob** job);
// An answer for a waiting job. With a loop's state as cell: a step of that
// loop (the value stays the source's), or the value asked of the loop;
// without a cell: the single value the oldest waiting job asked for, which
// the job frees (freed here when no job waits).
void VarParseValueReady(void* cell, void* value);
// The loop of that state has no (more) items.
void VarParseSourceDone(void* cell);
// The task's part: runs the job of a Run message when it still exists.
void VarParseRunPosted(uintptr_t job, uintptr_t serial);
