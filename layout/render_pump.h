// The render data pump (module 17): hands the output of one load to the
// content sink of its content class as it arrives. The requesting task
// passes every message it receives to RenderPumpHandle; the pump acts on
// those about its request and on its own.
//
// Once the load's content class is known the sink is opened; each output
// object is then written in order; when the load has ended (completed or
// failed) and nothing waits, the sink is closed. A write answered
// RenderSinkAnswer::Again keeps its object: the pump calls write again
// without data at its next turn (it posts itself a message), and offers the
// object once the sink answers otherwise.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "kernel/tskman.h"
#include "layout/render_sink.h"

struct UrlRequestRec;

namespace RenderMsg {
constexpr uint32_t PumpAgain = Msg(Mod::Render, 1);  // {pump, 0}: the pump's next turn
}

constexpr Result kRenderNoSink = ResultError(Mod::Render, Err::NotFound);

struct RenderPump {
  RenderRequest* request;
  UrlRequestRec* urlRequest;
  TskmanTask* task;  // the requester, where the pump posts its turns
  const RenderSinkRow* row;
  uintptr_t sink;  // the sink's word
  void* held;      // the object a sink did not take yet
  uint8_t opened;
  uint8_t deferred;  // the sink completes after its close
  uint8_t again;     // write is due once without data
  uint8_t finished;  // closed, or never opened; nothing more happens
  uint8_t turnPosted;
  Result result;       // the failure that ended the pump: the load's, a sink's, or no sink
  Result closeAnswer;  // what close answered
  uint32_t written;    // objects written and drawn
  uint32_t notDrawn;   // objects written that drew nothing
};

// Sets up the pump for a request of the task; nothing is called yet.
void RenderPumpStart(RenderPump* pump, RenderRequest* request, UrlRequestRec* urlRequest,
                     TskmanTask* task);
// Acts on a message the task received; true when it was the pump's.
bool RenderPumpHandle(RenderPump* pump, uint32_t message, uintptr_t arg1, uintptr_t arg2);
// Runs the pump once over what the load holds now.
void RenderPumpRun(RenderPump* pump);
// Ends the pump before its load has ended: an open sink is closed and the
// pump's pending turn withdrawn. A pump must be finished or aborted before
// its request is done.
void RenderPumpAbort(RenderPump* pump);
