// Push reception (module 69): takes pushed objects that wait in the object
// cache, accepts or refuses each (the "tp" preference and the "PPG" keys),
// chooses the push application by content type and X-Wap-Application-Id,
// and keeps the list of pushed messages the inbox shows. It owns a URL task
// and a request session of its own.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "kernel/tskman.h"

struct UrlLoad;

namespace NotifyMsg {
// {URL text, 0}: a pushed object waits in the cache under that URL, locked
// there (UrlFlag::Kept) until push reception is done with it. The task owns
// the text (engine memory).
constexpr uint32_t Push = Msg(Mod::Notify, 0x00);
constexpr uint32_t RouteNext = Msg(Mod::Notify, 0x01), OpenPpg = Msg(Mod::Notify, 0x02),
                   ReleasePpg = Msg(Mod::Notify, 0x03), DropIncoming = Msg(Mod::Notify, 0x04);
constexpr uint32_t Stop = Msg(Mod::Notify, 0x05), Stopped = Msg(Mod::Notify, 0x06), Started = Msg(Mod::Notify, 0x07);
// {error, 0}: the task could not start its URL task or session; it has
// ended, and this stands for both its start's and its stop's answer.
constexpr uint32_t StartFailed = Msg(Mod::Notify, 0x08);
}
constexpr Result kNotifyNoMemory = ResultError(Mod::Notify, Err::NoMemory);
constexpr Result kNotifyNoIndicator = ResultError(Mod::Notify, Err::BadArg);

// Creates the task, which answers 0x4507 to the requester when its URL task
// and session stand, else 0x4508 once it has ended; 0x80450001 when it
// cannot be created (no answer then).
Result NotifyStartTask(TskmanTask* requester);
// True while the task runs and takes pushes: also while it stops, until
// its stop saves the inbox (the stop routes what came before it first);
// not once that save has begun, nor while it ends after a failed start.
// Delivery places nothing otherwise.
bool NotifyTakesPushes();
// Marks the task as stopping and posts 0x4505 to it; it answers 0x4506 to
// the task that started it once its session and URL task have closed (0x4508
// instead when its start failed).
void NotifyStopTask();

// Push applications. Class 1 receives the pushed data as it comes: start
// (URL, cookie out) answers 0 to take the push; data (bytes, length, cookie)
// with no bytes ends it. Classes 2 and 3 receive the whole message.
using NotifyStartFn = Result (*)(const char* url, uintptr_t* cookie);
using NotifyDataFn = void (*)(const uint8_t* bytes, uint32_t length, uintptr_t cookie);
using NotifyMessageFn = Result (*)(uintptr_t reserved, UrlLoad* message);

struct NotifyAppRow {
  const char* id;  // null ends a table
  NotifyStartFn start;
  NotifyDataFn data;
  NotifyMessageFn handler;
};

// Connectivity documents reach the inbox as class 2; the provisioning
// service, which sits beside push reception, sees each one first through
// this hook (null: none).
void NotifySetConnectivityHook(NotifyMessageFn hook);

// A "push-flag" value that passes while "tp" is set: a value beginning
// with "1" read as base-2 digits, any other by its first character's code;
// both low bits must be set.
bool NotifyPushFlagPasses(const char* flag);
// The application of a pushed object: by its content type, else by its
// X-Wap-Application-Id (none: the inbox); false when no row takes it.
bool NotifySelectApp(const UrlLoad* load, uint32_t* appClass, uint32_t* row);

// The kept list.
// Lists the message (kept flag and cache lock set by the inbox); the cache's
// free hook takes it off again. False when it could not be listed (no
// memory, or push reception is not running). A new message that takes the
// list past what the file's section can hold lets the oldest go at once
// (it may be one of them): they are counted, and the stop says them.
bool NotifyKeepMessage(UrlLoad* message);
// Shows `visit` each message of the kept list in list order (not those a
// cursor holds as dead) until it answers true; it must not change the list.
// False when push reception does not run. While it runs, every kept push
// message with a record in the cache is on the list: the cache's others
// are pushes on their way, not yet made into messages.
bool NotifyWalkKept(bool (*visit)(UrlLoad* message, void* user), void* user);
// Takes the message off the list and out of the inbox, and releases the
// inbox's lock on it.
void NotifyRemoveMessage(UrlLoad* message);
// The rules met this SI or SL record: while the start has left stored
// messages out of the inbox, a copy is noted for the save to apply the
// same rules to them.
struct PushRecord;
void NotifyNoteRuled(const PushRecord* record);
// True while the message is on the kept list. A cached push on its way
// (placed, not yet routed) or being routed is not: its lock is delivery's
// or push reception's, not the inbox's.
bool NotifyHoldsMessage(const UrlLoad* message);
// 0x10000 marks it presented; 0x20000 marks it viewed. Either way the inbox
// keeps its lock: a message leaves the inbox, and its file, only when the
// user or a replacement rule removes it, or a save that cannot keep it says so.
void NotifyMarkMessage(UrlLoad* message, uint32_t flags);

// Cursors over the kept list, in list order; while any is open, messages
// the cache frees are only marked dead.
struct NotifyInboxCursor;
Result NotifyOpenInboxCursor(NotifyInboxCursor** cursor);
// The next live, listed message with its code and level; null at the end.
UrlLoad* NotifyNextKept(NotifyInboxCursor* cursor, uint32_t* code, uint32_t* level);
void NotifyCloseInboxCursor(NotifyInboxCursor** cursor);
// Number of messages on the kept list (dead ones not counted).
uint32_t NotifyKeptCount();

// --- Names of pushed objects ---------------------------------------------------
// A new name for an object pushed by the sender (engine memory of the module):
// "push:" sender "." serial, every character of the sender but letters,
// digits and "+-_*" escaped, so the last "." is the one before the serial.
// Serials go on after the highest one the inbox kept from earlier runs.
char* NotifyNewPushUrl(const char* sender, uint32_t module);
// The serial at the end of a push name; 0 when it has none.
uint32_t NotifyPushSerialOf(const char* name);
// The same sender under a new serial (a kept name already taken); null
// without memory or for a name not of that form.
char* NotifyRenamePush(const char* name, uint32_t module);
// Later names take serials above this one.
void NotifyPushSerialAtLeast(uint32_t serial);
// The last serial given.
uint32_t NotifyPushSerial();
// A new run numbers from 1 until the kept inbox says otherwise.
void NotifyPushSerialReset();
