// The push inbox: the application "0" of push reception. It decides which
// pushed messages stay (the SI and SL replacement rules), tells the status
// indicator, and offers the kept messages to the inbox pages as collections
// with named properties. Kept messages stay in the object cache, locked
// there by the kept flag; the inbox has no store of its own.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct UrlLoad;

// The handler of application "0": 0 kept; 1 or 2 not kept by the rules;
// kNotifyNoIndicator for a message of no content class.
Result NotifyOnInboxPush(uintptr_t reserved, UrlLoad* message);

// The indicator code and level of a message; 2 (and nothing set) for a
// message of no content class.
Result NotifyGetIndicator(const UrlLoad* message, uint32_t* code, uint32_t* level);
// The action of the message's push record, 0 without one.
uint32_t NotifyGetPushAction(const UrlLoad* message);
// The level of a push message of that action.
uint32_t NotifyPushLevel(uint32_t action);
// Kept messages not yet listed by any inbox page.
uint32_t NotifyCountUnread();
// Removes a kept SI whose expiry has passed: -1; else 0.
int NotifyDropExpiredSi(UrlLoad* message);

// A push date "YYYY-MM-DDThh:mm:ssZ" in seconds since 1970. False for a
// date that does not read (wrong length, a non-digit, a field out of range):
// such a date counts as absent. Years past the engine's clock range read as
// they are, so they lie in the future.
bool NotifyParsePushDate(const char16_t* text, int64_t* seconds);
// 2 when the date has been reached, else 0 (also for an absent or bad date).
uint32_t NotifyPushDateCheck(const char16_t* text);

// The replacement rules between two push records, `newer` met after
// `kept`: whether they are the same message (SIs of one si-id, SLs of one
// href), and whether the newer takes the kept one's place (an SI not dated
// earlier, an SL of no lower action).
struct PushRecord;
bool NotifySameMessage(const PushRecord* newer, const PushRecord* kept);
bool NotifyRecordReplaces(const PushRecord* newer, const PushRecord* kept);

// Collections of kept messages: "siid", "all", "filtered".
struct NotifyInbox;
// rest: what follows the collection's name and "." ("news.text" gives the
// filter "news"). Null when push reception does not run or no collection has
// the name.
NotifyInbox* NotifyInboxOpen(const char* rest, const char* collection, uint32_t collectionLength);
// 1 while a message is current, 0 at the end.
int NotifyInboxNext(NotifyInbox* inbox);
void NotifyInboxClose(NotifyInbox** inbox);
// A property of the current message ("text", "uri", "priority", "intUrl",
// "extUrl", "count", "viewed", "presented"), or null. The text stays the
// inbox's until the next step.
int NotifyInboxPropertyIndex(const char* name);
const char16_t* NotifyInboxProperty(NotifyInbox* inbox, int index);
