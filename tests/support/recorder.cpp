#include "tests/support/recorder.h"

Recorder::Recorder(uint32_t id, React react) : react_(std::move(react)) {
  TskmanCreateTask(&task_, id, Handler, this);
}

Recorder::~Recorder() { Destroy(); }

void Recorder::Destroy() {
  if (task_ && TskmanNullTask()) TskmanDestroyTask(task_);
  task_ = nullptr;
}

Result Recorder::Handler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* self = static_cast<Recorder*>(context);
  Received event{message, arg1, arg2};
  self->log.push_back(event);
  return self->react_ ? self->react_(*self, event) : self->answer;
}

std::vector<uint32_t> Recorder::Messages(bool skipStart) const {
  std::vector<uint32_t> out;
  for (const Received& r : log)
    if (!(skipStart && r.message == TskMsg::Start)) out.push_back(r.message);
  return out;
}

size_t Recorder::Count(uint32_t message) const {
  size_t n = 0;
  for (const Received& r : log) n += r.message == message;
  return n;
}
