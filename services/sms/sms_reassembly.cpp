// Reassembly of segmented messages: each record gathers the segments of one
// reference from one sender as runs of consecutive sequence numbers, so a
// segment joins its neighbours whatever order they arrive in.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netbuf.h"
#include "services/sms/sms.h"
#include "services/sms/sms_internal.h"

struct SmsSegmentRun {
  SmsSegmentRun* next;
  NetBufChain* data;  // the first segment with its header, the others without
  uint8_t first;
  uint8_t last;
};

struct SmsReassembly {
  SmsReassembly* next;
  Queue runs;  // SmsSegmentRun, by sequence
  // The whole sender: a sender longer than a delivered record's field
  // still finds its own record, and only its own.
  char* sender;
  uint8_t total;
  uint16_t reference;
  TskmanRef app;
  int32_t lifetime;
  uint8_t firstHeaderLength;  // segment 1's, cut off the whole message
  bool lost;  // a segment was dropped for want of memory, and counted
  // A segment came that is no copy of a message just delivered: without
  // one the record holds nothing that was not delivered already.
  bool news;
  // Followed by `total` bytes: what each segment put into its run (segment
  // 1 with its header), by sequence - 1, so that a sequence that comes
  // again is found there and compared.
};

uint8_t* LengthsOf(SmsReassembly* record) { return reinterpret_cast<uint8_t*>(record + 1); }
const uint8_t* LengthsOf(const SmsReassembly* record) {
  return reinterpret_cast<const uint8_t*>(record + 1);
}

namespace {

void FreeRun(SmsSegmentRun** run) {
  NetBufRelease(&(*run)->data);
  MemFree(run);
}

void FreeRecord(SmsState* state, SmsReassembly* record) {
  QueueRemove(&state->reassemblies, reinterpret_cast<QueueNode*>(record));
  while (auto* run = reinterpret_cast<SmsSegmentRun*>(QueuePopFront(&record->runs))) FreeRun(&run);
  MemFree(&record->sender);
  MemFree(&record);
}

SmsUnfinishedFn gUnfinished;

// A message remembered without a record, for a wait: a free place, or else
// the one nearest its end. A sender too long to hold is not remembered
// (false).
bool Remember(SmsState* state, const char* sender, uint16_t reference, uint8_t total) {
  if (LibcStrLen(sender) >= kSmsUnrecordedSender) return false;
  SmsUnrecorded* u = &state->unrecorded[0];
  for (SmsUnrecorded& v : state->unrecorded)
    if (v.lifetime < u->lifetime) u = &v;
  LibcStrCopy(u->sender, sender);
  u->reference = reference;
  u->total = total;
  u->lifetime = kSmsLifetime;
  return true;
}

// A message given up with only some of its segments: told once, unless its
// loss was counted already or nobody waits for it. A record of nothing but
// copies of messages just delivered held no message: it goes without a word.
void GiveUp(SmsState* state, SmsReassembly* record, bool remember) {
  if (!record->news) return FreeRecord(state, record);
  if (gUnfinished && !record->lost && TskmanRefAlive(record->app)) {
    uint32_t came = 0;
    for (auto* n = record->runs.head; n; n = n->next) {
      const auto* run = reinterpret_cast<const SmsSegmentRun*>(n);
      came += run->last - run->first + 1u;
    }
    gUnfinished(record->sender, came, record->total, record->app);
  }
  // Remembered as a lost one is: segments of it that come late are the
  // same loss, not another message to tell of.
  if (remember) Remember(state, record->sender, record->reference, record->total);
  FreeRecord(state, record);
}

// The record of one message: its reference, its sender and its count, so
// that two messages one sender numbers alike (a tool that takes its port as
// the reference) each gather their own segments. A count of 0 takes the
// first record of the reference and sender, whatever its count.
SmsReassembly* Find(SmsState* state, uint16_t reference, const char* sender, uint8_t total) {
  for (auto* n = state->reassemblies.head; n; n = n->next) {
    auto* r = reinterpret_cast<SmsReassembly*>(n);
    if (r->reference == reference && (total == 0 || r->total == total) &&
        LibcStrICmp(r->sender, sender ? sender : "") == 0)
      return r;
  }
  return nullptr;
}

// A segment dropped for want of memory: its message cannot complete now.
// The loss is counted once, however many of its segments follow it; a copy
// of a message just delivered, with nothing new beside it, loses nothing.
void Lost(SmsState* state, SmsReassembly* record) {
  if (record->lost || !record->news) return;
  record->lost = true;
  SmsCountLost(state, record->app);
}

SmsUnrecorded* FindUnrecorded(SmsState* state, const SmsSegmentHeader* header,
                              const char* sender) {
  for (SmsUnrecorded& u : state->unrecorded)
    if (u.lifetime > 0 && u.reference == header->reference && u.total == header->total &&
        LibcStrICmp(u.sender, sender) == 0)
      return &u;
  return nullptr;
}

// A segment dropped before its message had a record: remembered without
// memory, so that its other segments are not counted again. A new message
// takes a free place, or else the one nearest its end.
void LostUnrecorded(SmsState* state, const SmsSegmentHeader* header, const char* sender,
                    const TskmanRef& app) {
  if (!TskmanRefAlive(app)) return;
  if (SmsUnrecorded* u = FindUnrecorded(state, header, sender)) {
    u->lifetime = kSmsLifetime;
  } else {
    ++state->lostShortOfMemory;
    if (!Remember(state, sender, header->reference, header->total)) return;
  }
  SmsStartTimer(state);
}

NetBufChain* ChainOf(const uint8_t* bytes, uint32_t length) {
  NetBufChain* chain = NetBufAlloc(length);
  if (chain) NetBufWrite(chain, bytes, 0, length);
  return chain;
}

}  // namespace

TskmanRef SmsFindReassemblyApp(SmsState* state, uint16_t reference, const char* sender,
                               uint8_t total) {
  SmsReassembly* r = Find(state, reference, sender, total);
  return r ? r->app : TskmanRef{};
}

namespace {

// A new record for the segment's message, or null when the heap has no room
// for one (the loss counted, unless the segment is a copy of a message just
// delivered).
SmsReassembly* NewRecord(SmsState* state, const SmsInMessage* m, const SmsSegmentHeader* header,
                         const TskmanRef& app, bool copy) {
  const char* sender = m->sender ? m->sender : "";
  auto* record = static_cast<SmsReassembly*>(
      MemAllocZero(sizeof(SmsReassembly) + header->total, Use::Context, Mod::Sms));
  if (record) record->sender = LibcStrDup(sender);
  if (!record || !record->sender) {
    MemFree(&record);
    if (!copy) LostUnrecorded(state, header, sender, app);
    return nullptr;
  }
  record->total = header->total;
  record->reference = header->reference;
  record->app = app;
  QueueAppend(&state->reassemblies, reinterpret_cast<QueueNode*>(record));
  return record;
}

// Whether the segment is the one the run holds under its sequence, byte for
// byte: sent again, not another message.
bool SameSegment(const SmsReassembly* record, const SmsSegmentRun* run, uint8_t seq,
                 const uint8_t* payload, uint32_t length) {
  const uint8_t* lengths = LengthsOf(record);
  if (lengths[seq - 1] != length) return false;
  uint32_t at = 0;
  for (uint32_t s = run->first; s < seq; ++s) at += lengths[s - 1];
  uint8_t held[0xFF];
  return NetBufRead(run->data, held, at, length) == length && LibcMemCompare(held, payload, length) == 0;
}

// The sum of each segment of a whole message, by sequence - 1.
void SumSegments(const SmsReassembly* record, const NetBufChain* data, uint32_t* sums) {
  const uint8_t* lengths = LengthsOf(record);
  uint8_t held[0xFF];
  uint32_t at = 0;
  for (uint32_t s = 0; s < record->total; ++s) {
    const uint32_t got = NetBufRead(data, held, at, lengths[s]);
    sums[s] = SmsSegmentSum(held, got);
    at += lengths[s];
  }
}

}  // namespace

void SmsReassemble(SmsState* state, const SmsInMessage* m, const SmsSegmentHeader* header,
                   const TskmanRef& app) {
  const uint8_t seq = header->sequence;
  // A sequence outside the announced count could never complete.
  if (seq == 0 || seq > header->total) return;
  const uint8_t headerLength = m->headerLength < m->dataLength ? m->headerLength : m->dataLength;
  const uint8_t* payload = seq == 1 ? m->data : m->data + headerLength;
  const uint32_t length = seq == 1 ? m->dataLength : m->dataLength - headerLength;
  // A segment of a message just delivered, sent again: it is gathered as
  // any other, since a new message under the reference may share its
  // bytes, but a record of nothing else is no message lost.
  const bool copy = SmsIsCompletedCopy(state, header->reference, m->sender, header->total, seq,
                                       SmsSegmentSum(payload, length));

  SmsReassembly* record = Find(state, header->reference, m->sender, header->total);
  if (!record && !(record = NewRecord(state, m, header, app, copy))) return;
  record->lifetime = kSmsLifetime;
  SmsStartTimer(state);

  SmsSegmentRun* before = nullptr;
  for (auto* n = record->runs.head; n; n = n->next) {
    auto* run = reinterpret_cast<SmsSegmentRun*>(n);
    if (run->first < seq) before = run;
  }
  SmsSegmentRun* after = before ? before->next : reinterpret_cast<SmsSegmentRun*>(record->runs.head);
  SmsSegmentRun* holder = after && after->first == seq      ? after
                          : before && before->last >= seq ? before
                                                          : nullptr;
  if (holder) {
    if (SameSegment(record, holder, seq, payload, length)) return;
    // Other bytes under a sequence that came already: a new message under
    // the same reference. The unfinished one is given up, and said; the
    // new one gathers its own segments.
    GiveUp(state, record, false);
    if (!(record = NewRecord(state, m, header, app, copy))) return;
    record->lifetime = kSmsLifetime;
    before = after = nullptr;
  }
  if (!copy && !record->news) {
    record->news = true;
    // The message lost a segment before: it is already counted.
    if (SmsUnrecorded* u = FindUnrecorded(state, header, m->sender ? m->sender : "")) {
      record->lost = true;
      u->lifetime = 0;
    }
  }

  if (seq == 1) record->firstHeaderLength = headerLength;
  LengthsOf(record)[seq - 1] = static_cast<uint8_t>(length);

  if (before && before->last + 1 == seq) {
    if (NetBufWriteGrow(before->data, payload, NetBufLength(before->data), length) != kOk)
      return Lost(state, record);
    before->last = seq;
    if (after && after->first == seq + 1) {
      before->data = NetBufConcat(before->data, after->data);
      before->last = after->last;
      QueueRemove(&record->runs, reinterpret_cast<QueueNode*>(after));
      MemFree(&after);
    }
  } else if (after && after->first == seq + 1) {
    NetBufChain* chain = ChainOf(payload, length);
    if (!chain) return Lost(state, record);
    after->data = NetBufConcat(chain, after->data);
    after->first = seq;
  } else {
    auto* run = static_cast<SmsSegmentRun*>(MemAllocZero(sizeof(SmsSegmentRun), Use::Context, Mod::Sms));
    if (run) run->data = ChainOf(payload, length);
    if (!run || !run->data) {
      MemFree(&run);
      return Lost(state, record);
    }
    run->first = run->last = seq;
    if (!before) {
      QueuePushFront(&record->runs, reinterpret_cast<QueueNode*>(run));
    } else {
      run->next = before->next;
      before->next = run;
      if (record->runs.tail == reinterpret_cast<QueueNode*>(before))
        record->runs.tail = reinterpret_cast<QueueNode*>(run);
    }
  }

  auto* only = reinterpret_cast<SmsSegmentRun*>(record->runs.head);
  if (!only || only->next || only->first != 1 || only->last != record->total) return;
  uint32_t sums[0xFF];
  SumSegments(record, only->data, sums);
  NetBufChain* data = only->data;
  only->data = nullptr;
  const TskmanRef target = record->app;
  const uint8_t cut = record->firstHeaderLength;
  const bool lost = record->lost;
  const uint16_t reference = record->reference;
  const uint8_t total = record->total;
  FreeRecord(state, record);
  if (!SmsDeliver(target, m, data, cut) && !lost) ++state->lostShortOfMemory;
  // Remembered after the delivery, which needs the memory more.
  SmsRememberCompleted(state, reference, m->sender, total, sums);
}

void SmsSegmentLost(SmsState* state, const SmsInMessage* m, const SmsSegmentHeader* header,
                    const TskmanRef& app) {
  // A sequence outside the count is never kept: no message is lost with it.
  if (header->sequence == 0 || header->sequence > header->total) return;
  if (SmsReassembly* record = Find(state, header->reference, m->sender, header->total))
    return Lost(state, record);
  LostUnrecorded(state, header, m->sender ? m->sender : "", app);
}

void SmsStartTimer(SmsState* state) {
  if (state->timer) return;
  TskmanTask* service = TskmanFind(Mod::Sms);
  if (service) TskmanStartTimer(&state->timer, service, 0, 0, kSmsAgeingMs);
  // Only the timer ends a message remembered as lost without a record:
  // without one it would stand for ever, and a later message under its
  // reference be taken for it, its loss uncounted. Forgotten, it is at
  // worst counted again.
  if (!state->timer) {
    for (SmsUnrecorded& u : state->unrecorded) u.lifetime = 0;
    SmsForgetCompleted(state);
  }
}

uint32_t SmsAge(SmsState* state) {
  // The one-shot timer has fired; its record is released before the next.
  TskmanCancelTimer(&state->timer);
  uint32_t left = 0;
  for (auto* n = state->reassemblies.head; n;) {
    auto* r = reinterpret_cast<SmsReassembly*>(n);
    n = n->next;
    if (--r->lifetime <= 0)
      GiveUp(state, r, true);
    else
      ++left;
  }
  bool remembered = false;
  for (SmsUnrecorded& u : state->unrecorded)
    if (u.lifetime > 0 && --u.lifetime > 0) remembered = true;
  if (SmsAgeCompleted(state)) remembered = true;
  if (left || remembered) SmsStartTimer(state);
  return left;
}

void SmsOnUnfinished(SmsUnfinishedFn told) { gUnfinished = told; }

uint32_t SmsReassemblyCount(const SmsState* state) {
  uint32_t n = 0;
  for (auto* q = state->reassemblies.head; q; q = q->next) ++n;
  return n;
}

void SmsStateFree(SmsState* state) {
  while (auto* r = reinterpret_cast<SmsReassembly*>(state->reassemblies.head))
    GiveUp(state, r, false);
  while (SmsAppRegistration* r = state->registrations) {
    state->registrations = r->next;
    MemFree(&r);
  }
  TskmanCancelTimer(&state->timer);
  for (SmsUnrecorded& u : state->unrecorded) u.lifetime = 0;
  SmsForgetCompleted(state);
}
