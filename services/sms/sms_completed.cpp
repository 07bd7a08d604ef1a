// The segmented messages just delivered, remembered for as long as an
// unfinished one waits: a network may send a segment again after its
// message was whole, and that copy is no message of its own. Only a sum of
// each segment is kept, in one allocation per message.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/sms/sms.h"
#include "services/sms/sms_internal.h"

struct SmsCompleted {
  int32_t lifetime;
  uint16_t reference;
  uint8_t total;
  // Followed by `total` sums, by sequence - 1, then the sender.
};

namespace {

uint32_t* SumsOf(SmsCompleted* c) { return reinterpret_cast<uint32_t*>(c + 1); }
const uint32_t* SumsOf(const SmsCompleted* c) { return reinterpret_cast<const uint32_t*>(c + 1); }
const char* SenderOf(const SmsCompleted* c) {
  return reinterpret_cast<const char*>(SumsOf(c) + c->total);
}

}  // namespace

uint32_t SmsSegmentSum(const uint8_t* bytes, uint32_t length) {
  // FNV-1a over the length and the bytes.
  uint32_t sum = 2166136261u;
  const auto mix = [&sum](uint8_t b) { sum = (sum ^ b) * 16777619u; };
  mix(static_cast<uint8_t>(length));
  for (uint32_t i = 0; i < length; ++i) mix(bytes[i]);
  return sum;
}

void SmsRememberCompleted(SmsState* state, uint16_t reference, const char* sender, uint8_t total,
                          const uint32_t* sums) {
  if (!sender) sender = "";
  const uint32_t senderSize = LibcStrLen(sender) + 1;
  const uint32_t size = sizeof(SmsCompleted) + total * sizeof(uint32_t) + senderSize;
  auto* c = static_cast<SmsCompleted*>(MemAlloc(size, Use::Context, Mod::Sms));
  // Without memory it is not remembered: a late copy is then taken for a
  // message of its own, as any segment is.
  if (!c) return;
  c->lifetime = kSmsLifetime;
  c->reference = reference;
  c->total = total;
  LibcMemCopy(SumsOf(c), sums, total * sizeof(uint32_t));
  LibcMemCopy(SumsOf(c) + total, sender, senderSize);
  // Oldest first: a full table gives up its first.
  SmsCompleted** slot = state->completed;
  SmsCompleted** const end = state->completed + kSmsCompletedMax;
  while (slot < end && *slot) ++slot;
  if (slot == end) {
    MemFree(&state->completed[0]);
    for (slot = state->completed; slot + 1 < end; ++slot) slot[0] = slot[1];
  }
  *slot = c;
  SmsStartTimer(state);
}

bool SmsIsCompletedCopy(const SmsState* state, uint16_t reference, const char* sender,
                        uint8_t total, uint8_t seq, uint32_t sum) {
  for (const SmsCompleted* c : state->completed)
    if (c && c->reference == reference && c->total == total && SumsOf(c)[seq - 1] == sum &&
        LibcStrICmp(SenderOf(c), sender ? sender : "") == 0)
      return true;
  return false;
}

bool SmsAgeCompleted(SmsState* state) {
  uint32_t kept = 0;
  for (SmsCompleted*& c : state->completed) {
    if (c && --c->lifetime <= 0) MemFree(&c);
    if (c) state->completed[kept++] = c;
  }
  for (uint32_t i = kept; i < kSmsCompletedMax; ++i) state->completed[i] = nullptr;
  return kept > 0;
}

void SmsForgetCompleted(SmsState* state) {
  for (SmsCompleted*& c : state->completed) MemFree(&c);
}
