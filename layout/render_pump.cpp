#include "layout/render_pump.h"

#include "browser/url.h"

namespace {

void PostTurn(RenderPump* pump) {
  if (pump->turnPosted || !pump->task) return;
  pump->turnPosted = 1;
  TskmanPost(pump->task, RenderMsg::PumpAgain, reinterpret_cast<uintptr_t>(pump), 0);
}

void Close(RenderPump* pump) {
  if (pump->opened && pump->row->close)
    pump->closeAnswer =
        pump->row->close(pump->request, reinterpret_cast<uintptr_t>(&pump->sink), nullptr, 0);
  pump->opened = 0;
  pump->held = nullptr;
  pump->again = 0;
  pump->finished = 1;
}

void Fail(RenderPump* pump, Result code) {
  if (!pump->result) pump->result = code;
  Close(pump);
}

// Offers the sink the held object or the load's next; false when the pump
// must wait (for its next turn or for more output).
bool WriteOne(RenderPump* pump) {
  if (pump->again) {
    const Result r = pump->row->write(pump->request, pump->sink, nullptr, 0);
    if (r == RenderSinkAnswer::Again) {
      PostTurn(pump);
      return false;
    }
    if (r != kOk && r != RenderSinkAnswer::NotDrawn) {
      Fail(pump, r);
      return false;
    }
    pump->again = 0;
  }
  void* object = pump->held;
  if (!object && UrlLoadNextChunk(pump->urlRequest, &object) != kOk) return false;
  pump->held = nullptr;
  const Result r = pump->row->write(pump->request, pump->sink, object, 0);
  switch (r) {
    case kOk:
      ++pump->written;
      return true;
    case RenderSinkAnswer::NotDrawn:
      ++pump->notDrawn;
      return true;
    case RenderSinkAnswer::Again:
      pump->held = object;
      pump->again = 1;
      PostTurn(pump);
      return false;
    default:
      Fail(pump, r);
      return false;
  }
}

}  // namespace

void RenderPumpStart(RenderPump* pump, RenderRequest* request, UrlRequestRec* urlRequest,
                     TskmanTask* task) {
  *pump = RenderPump{};
  pump->request = request;
  pump->urlRequest = urlRequest;
  pump->task = task;
}

void RenderPumpRun(RenderPump* pump) {
  if (pump->finished) return;
  UrlLoad* load = UrlRequestLoad(pump->urlRequest);
  const bool ended = (load->events & (UrlEvent::Complete | UrlEvent::Error)) != 0;
  if (!pump->opened) {
    if (!(load->events & UrlEvent::ClassKnown) && !ended) return;
    if (load->events & UrlEvent::Error) {
      Fail(pump, load->result);
      return;
    }
    pump->row = RenderFindSink(load->contentClass);
    if (!pump->row) {
      Fail(pump, kRenderNoSink);
      return;
    }
    const Result r = pump->row->open
                         ? pump->row->open(pump->request, reinterpret_cast<uintptr_t>(&pump->sink),
                                           nullptr, 0)
                         : kOk;
    if (r == RenderSinkAnswer::Deferred)
      pump->deferred = 1;
    else if (r != kOk) {
      Fail(pump, r);
      return;
    }
    pump->opened = 1;
  }
  while (WriteOne(pump)) {
  }
  if (pump->finished || pump->again || pump->held) return;
  if (load->events & UrlEvent::Error)
    Fail(pump, load->result);
  else if (load->events & UrlEvent::Complete)
    Close(pump);
}

bool RenderPumpHandle(RenderPump* pump, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  const auto request = reinterpret_cast<uintptr_t>(pump->urlRequest);
  switch (message) {
    case RenderMsg::PumpAgain:
      if (arg1 != reinterpret_cast<uintptr_t>(pump)) return false;
      pump->turnPosted = 0;
      break;
    case UrlMsg::ClassKnown:
    case UrlMsg::Complete:
    case UrlMsg::Failed:
    case UrlMsg::StatusKnown:
      if (arg1 != request) return false;
      break;
    case UrlMsg::Watch:
      if (arg2 != request) return false;
      break;
    default:
      return false;
  }
  RenderPumpRun(pump);
  return true;
}

void RenderPumpAbort(RenderPump* pump) {
  if (pump->turnPosted && pump->task)
    TskmanPurgeEvents(pump->task, RenderMsg::PumpAgain, reinterpret_cast<uintptr_t>(pump), -1);
  pump->turnPosted = 0;
  Close(pump);
}
