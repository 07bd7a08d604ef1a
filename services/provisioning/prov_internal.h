// What the module's files share: the parser's callbacks and the settings
// writer, and the lines that say a document was not applied.
#pragma once
#include <cstdint>

#include "services/provisioning/prov.h"

// Closes the tree path in effect (committing it) and opens `path` (null or
// "" for the root).
Result ProvOpenTreePath(ProvParser* parser, const char* path);
// Closes the tree path in effect, committing it; the tree is at its root.
Result ProvFlushPath(ProvParser* parser);
// "service"/name/"url" = url; leaves the tree at its root.
Result ProvWriteService(ProvParser* parser, const char* name, const char* url);
// The physical proxy that just ended, under "http" or "wap".
Result ProvWriteProxy(ProvParser* parser);
// An access point ended: "isp/new" becomes the entry its id names, or goes.
Result ProvEndAccessPoint(ProvParser* parser);

// Whether the browser phase has ended (ProvEndUnanswered): no question can
// be put any longer.
bool ProvAskingEnded();
// Why a document is not applied once no question can be put: it was never
// asked, or its question (consent or PIN) still waited for the user; or why
// a pushed one could not even be taken.
inline constexpr char kProvStoppedFirst[] = "the emulator stopped before it was asked";
inline constexpr char kProvLeftUnanswered[] = "its question was left unanswered at the stop";
inline constexpr char kProvNoMemory[] = "not enough memory";
// "a provisioning document from <sender>: <why>; it was not applied", said
// on standard error as a save not kept; a null sender is "an unknown sender".
// One refused for want of memory is said so only when none was in the same
// second; the others are counted (ProvSayRefusedCount).
void ProvSayNotApplied(const char* sender, const char* why);
