// Service tasks of one shape: the module's zeroed context and its task are
// made together and tell their starter that they run; the stop removes both
// and answers the task that asked. A module describes itself once in a
// static TskService and calls these from its start, its stop and its handler.
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

constexpr uint32_t kTskNoAnswer = UINT32_MAX;

struct TskService {
  uint32_t module;
  TskmanHandler handler;
  // The module's context, allocated zeroed; 0: the task's context is its
  // starter itself.
  uint32_t contextBytes = 0;
  uint32_t starterAt = 0;  // byte offset of the starter in the context
  uint32_t started = kTskNoAnswer;
  // Posted to the starter when the task cannot be made; kTskNoAnswer: only
  // the start's result tells.
  uint32_t failed = kTskNoAnswer;
  uint8_t errorArg = 0;   // the argument of `failed` that holds the error (0: none)
  bool ownError = false;  // a task that cannot be made is the module's own "no memory"
  // Asks a running task to stop, with the requester as arg1; kTskNoAnswer: the
  // stop removes the task at once.
  uint32_t stop = kTskNoAnswer;
  bool stopSent = false;  // the stop message is sent, not posted
  uint32_t stopped = kTskNoAnswer;
};

// Makes the context (starter stored) and the task; on failure frees the
// context, posts `failed` and returns the error.
Result TskServiceStart(const TskService& service, TskmanTask* starter);
// The starter kept in a context of the service.
TskmanTask* TskServiceStarter(const TskService& service, void* context);
// Posts `started` to the starter kept in the context (nothing without one).
void TskServiceAnswerStarted(const TskService& service, void* context);
// Asks the running task to stop (its handler ends it); without a stop
// message, or without a task, ends it at once.
void TskServiceStop(const TskService& service, TskmanTask* requester);
// Removes the task and its context, if any, and posts `stopped` to
// `answerTo` (nothing when null).
void TskServiceEnd(const TskService& service, TskmanTask* answerTo);
