// The SI and SL records the rules met while stored messages were left out
// of the inbox, kept until the save applies them to those messages.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/inbox.h"
#include "services/push/notify_store.h"
#include "services/push/sisl.h"

struct NotifyStoreRuled {
  NotifyStoreRuled* next;
  PushRecord* record;
};

namespace {

constexpr uint32_t kModule = Mod::Notify;

bool Dated(const PushRecord* record, int64_t* when) {
  const auto* si = reinterpret_cast<const SiRecord*>(record);
  return NotifyParsePushDate(SiField(si, si->created), when);
}

// Of two records of one message, `a` replaces every stored one that `b`
// replaces: `b` need not be kept beside it.
bool Covers(const PushRecord* a, const PushRecord* b) {
  if (a->type == PushRecordType::Sl) return a->action >= b->action;
  int64_t whenA = 0, whenB = 0;
  const bool datedA = Dated(a, &whenA), datedB = Dated(b, &whenB);
  return !datedA || (datedB && whenA >= whenB);
}

PushRecord* Copy(const PushRecord* record) {
  const uint32_t length = PushRecordStore(record, nullptr);
  auto* bytes = static_cast<uint8_t*>(MemAlloc(length, Use::Data, kModule));
  if (!bytes) return nullptr;
  PushRecordStore(record, bytes);
  PushRecord* copy = nullptr;
  PushRecordLoad(bytes, length, &copy);
  MemFree(&bytes);
  return copy;
}

}  // namespace

void NotifyStoreNoteRuled(NotifyStoreMissed* missed, const PushRecord* record) {
  if ((!missed->all && !missed->bits) || missed->pastBelow) return;
  for (NotifyStoreRuled* node = missed->ruled; node; node = node->next) {
    if (!NotifySameMessage(record, node->record)) continue;
    if (Covers(node->record, record)) return;
    if (Covers(record, node->record)) {
      if (PushRecord* copy = Copy(record)) {
        MemFreeRaw(node->record);
        node->record = copy;
      }
      return;
    }
  }
  auto* node = static_cast<NotifyStoreRuled*>(MemAllocZero(sizeof(NotifyStoreRuled), Use::Data, kModule));
  if (!node) return;
  node->record = Copy(record);
  if (!node->record) {
    MemFree(&node);
    return;
  }
  node->next = missed->ruled;
  missed->ruled = node;
}

bool NotifyStoreRuledReplace(const NotifyStoreRuled* ruled, const PushRecord* kept) {
  for (; ruled; ruled = ruled->next)
    if (NotifyRecordReplaces(ruled->record, kept)) return true;
  return false;
}

void NotifyStoreRuledClear(NotifyStoreRuled** ruled) {
  while (NotifyStoreRuled* node = *ruled) {
    *ruled = node->next;
    MemFreeRaw(node->record);
    MemFree(&node);
  }
}
