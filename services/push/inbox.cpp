// The push inbox's rules, indicator reports and collections.
#include "services/push/inbox.h"

#include "browser/cache.h"
#include "browser/status.h"
#include "browser/url.h"
#include "content/content_label.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "services/channels/rep.h"
#include "services/push/notify.h"
#include "services/push/sisl.h"

namespace {

constexpr uint32_t kInboxModule = 30;
constexpr uint32_t kPushClass = 8;
constexpr uint32_t kUtf8 = 106;

namespace Indicator {
constexpr uint32_t NothingNew = 14, NotKept = 13;
}

const SiRecord* SiOf(const UrlLoad* load) {
  const PushRecord* r = PushRecordOf(load);
  return r && r->type == PushRecordType::Si ? reinterpret_cast<const SiRecord*>(r) : nullptr;
}
const SlRecord* SlOf(const UrlLoad* load) {
  const PushRecord* r = PushRecordOf(load);
  return r && r->type == PushRecordType::Sl ? reinterpret_cast<const SlRecord*>(r) : nullptr;
}

bool SiExpired(const SiRecord* si) { return NotifyPushDateCheck(SiField(si, si->expires)) != 0; }

bool SameText(const char16_t* a, const char16_t* b) { return a && b && LibcWStrCmp(a, b) == 0; }

bool IsKeptPush(const UrlLoad* load, const UrlLoad* self) {
  return load != self && load->contentClass == kPushClass && (load->flags & UrlFlag::Kept);
}

// The first kept push message other than `self` that `match` takes, in the
// cache's order. Those the rules can match carry a record, and all of them
// are on the kept list while push reception runs: the list is walked, not
// the whole cache (a burst of pushes on their way fills it). When two
// match, the cache's order decides, as ever.
template <class F>
UrlLoad* FindKept(const UrlLoad* self, F match) {
  struct Walk {
    const UrlLoad* self;
    F* match;
    UrlLoad* found;
    uint32_t count;
  } walk{self, &match, nullptr, 0};
  const bool listed = NotifyWalkKept(
      [](UrlLoad* load, void* user) {
        auto* w = static_cast<Walk*>(user);
        if (!load->inCache || CacheIsExpired(load) || !IsKeptPush(load, w->self) ||
            !(*w->match)(load))
          return false;
        w->found = load;
        return ++w->count > 1;
      },
      &walk);
  if (listed && walk.count <= 1) return walk.found;
  void* cursor = nullptr;
  UrlLoad* load = nullptr;
  while (CacheFindNextFresh(&cursor, &load)) {
    if (!IsKeptPush(load, self)) continue;
    if (match(load)) return load;
  }
  return nullptr;
}

// Whether any kept message is not yet presented: NotifyCountUnread above 0,
// without counting them all.
bool AnyUnread() {
  void* cursor = nullptr;
  UrlLoad* load = nullptr;
  while (CacheFindNextFresh(&cursor, &load))
    if ((load->flags & UrlFlag::Kept) && !(load->flags & UrlFlag::Presented)) return true;
  return false;
}

// Kept SIs whose expiry has passed leave the inbox, and with it the cache:
// one at a time, outside the walk that found it.
void DropExpired(const UrlLoad* self) {
  while (UrlLoad* expired = FindKept(self, [](UrlLoad* load) {
           const SiRecord* si = SiOf(load);
           return si && SiExpired(si);
         }))
    NotifyRemoveMessage(expired);
}

// A kept SI the new one matches: one with the same si-id (a kept one with
// neither href nor si-id matches none).
bool SiSameId(const SiRecord* si, const SiRecord* kept) {
  if (kept->href == kSiAbsent && kept->siId == kSiAbsent) return false;
  return SameText(SiField(si, si->siId), SiField(kept, kept->siId));
}

// False when both carry a created date and the new one's is earlier.
bool SiNotEarlier(const SiRecord* si, const SiRecord* kept) {
  int64_t created = 0, keptCreated = 0;
  return !(NotifyParsePushDate(SiField(si, si->created), &created) &&
           NotifyParsePushDate(SiField(kept, kept->created), &keptCreated) &&
           created < keptCreated);
}

UrlLoad* NotifyFindSiById(const SiRecord* si, const UrlLoad* message) {
  DropExpired(message);
  return FindKept(message, [si](UrlLoad* load) {
    const SiRecord* other = SiOf(load);
    return other && SiSameId(si, other);
  });
}

uint32_t NotifySiReplace(const SiRecord* si, UrlLoad* message) {
  if (SiExpired(si)) return 1;
  NotifyNoteRuled(reinterpret_cast<const PushRecord*>(si));
  if (UrlLoad* match = NotifyFindSiById(si, message)) {
    if (!SiNotEarlier(si, SiOf(match))) return 2;
    NotifyRemoveMessage(match);
  }
  const char16_t* text = SiField(si, si->text);
  if (!text || !*text || si->action == PushAction::Delete || si->action == PushAction::SignalNone)
    return 2;
  return 0;
}

UrlLoad* NotifyFindSlByHref(const SlRecord* sl, const UrlLoad* message) {
  return FindKept(message, [sl](UrlLoad* load) {
    const SlRecord* other = SlOf(load);
    return other && LibcWStrCmp(other->href, sl->href) == 0;
  });
}

uint32_t NotifySlReplace(const SlRecord* sl, UrlLoad* message) {
  if (!sl->href[0]) return 2;
  NotifyNoteRuled(reinterpret_cast<const PushRecord*>(sl));
  UrlLoad* found = NotifyFindSlByHref(sl, message);
  if (!found) return 0;
  if (SlOf(found)->action > sl->action) return 2;
  NotifyRemoveMessage(found);
  return 0;
}

uint32_t NotifyApplyPushRules(UrlLoad* message) {
  const PushRecord* record = PushRecordOf(message);
  if (!record && (message->events & UrlEvent::Complete)) return 2;
  if (message->contentClass != kPushClass || !record) return 0;
  if (record->type == PushRecordType::Si)
    return NotifySiReplace(reinterpret_cast<const SiRecord*>(record), message);
  if (record->type == PushRecordType::Sl)
    return NotifySlReplace(reinterpret_cast<const SlRecord*>(record), message);
  return 0;
}

void NotifyPostIndicator(uint32_t value) {
  if (TskmanTask* status = TskmanFind(Mod::Stat))
    TskmanPost(status, StatusMsg::Indicator, StatusKind::Push, value);
}

bool Digits(const char16_t* text, uint32_t at, uint32_t count, int32_t* out) {
  int32_t v = 0;
  for (uint32_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

bool NotifyParsePushDate(const char16_t* text, int64_t* seconds) {
  if (!text || LibcWStrLen(text) != 20) return false;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z')
    return false;
  int32_t year, month, day, hour, minute, second;
  if (!Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) ||
      !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute) || !Digits(text, 17, 2, &second))
    return false;
  static constexpr int32_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 ||
      minute > 59 || second > 59)
    return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return false;
  *seconds = LibcDaysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

bool NotifySameMessage(const PushRecord* newer, const PushRecord* kept) {
  if (newer->type != kept->type) return false;
  if (newer->type == PushRecordType::Si)
    return SiSameId(reinterpret_cast<const SiRecord*>(newer),
                    reinterpret_cast<const SiRecord*>(kept));
  if (newer->type == PushRecordType::Sl)
    return reinterpret_cast<const SlRecord*>(newer)->href[0] &&
           LibcWStrCmp(reinterpret_cast<const SlRecord*>(newer)->href,
                       reinterpret_cast<const SlRecord*>(kept)->href) == 0;
  return false;
}

bool NotifyRecordReplaces(const PushRecord* newer, const PushRecord* kept) {
  if (!NotifySameMessage(newer, kept)) return false;
  if (newer->type == PushRecordType::Si)
    return SiNotEarlier(reinterpret_cast<const SiRecord*>(newer),
                        reinterpret_cast<const SiRecord*>(kept));
  return kept->action <= newer->action;
}

uint32_t NotifyPushDateCheck(const char16_t* text) {
  int64_t when = 0;
  if (!NotifyParsePushDate(text, &when)) return 0;
  return int64_t{LibcTime(nullptr)} >= when ? 2 : 0;
}

uint32_t NotifyGetPushAction(const UrlLoad* message) {
  const PushRecord* r = PushRecordOf(message);
  return r ? r->action : 0;
}

uint32_t NotifyPushLevel(uint32_t action) {
  return action >= 6 && action <= 7 ? 128 : action >= 4 && action <= 5 ? 64 : 0;
}

Result NotifyGetIndicator(const UrlLoad* message, uint32_t* code, uint32_t* level) {
  switch (message->contentClass) {
    case 0:
      return 2;
    case 2:
      *code = 6;
      *level = 64;
      return kOk;
    case 3:
      *code = 7;
      *level = 64;
      return kOk;
    case kPushClass: {
      const uint32_t action = NotifyGetPushAction(message);
      *code = action <= PushAction::SignalNone || action > PushAction::SignalHigh ? 0 : 9;
      *level = NotifyPushLevel(action);
      return kOk;
    }
    default:
      *code = 12;
      *level = 64;
      return kOk;
  }
}

uint32_t NotifyCountUnread() {
  void* cursor = nullptr;
  UrlLoad* load = nullptr;
  uint32_t n = 0;
  while (CacheFindNextFresh(&cursor, &load))
    if ((load->flags & UrlFlag::Kept) && !(load->flags & UrlFlag::Presented)) ++n;
  return n;
}

namespace {
int NotifyDropIfExpired(const SiRecord* si, UrlLoad* message) {
  if (!si || !SiExpired(si)) return 0;
  NotifyRemoveMessage(message);
  return -1;
}
}  // namespace

int NotifyDropExpiredSi(UrlLoad* message) { return NotifyDropIfExpired(SiOf(message), message); }

Result NotifyOnInboxPush(uintptr_t, UrlLoad* message) {
  UrlLoadSetFlags(message, UrlFlag::Kept);
  const uint32_t rules = NotifyApplyPushRules(message);
  uint32_t value = 0;
  if (rules == 0) {
    uint32_t code = 0, level = 0;
    if (NotifyGetIndicator(message, &code, &level) != kOk) {
      UrlLoadClearFlags(message, UrlFlag::Kept);
      return kNotifyNoIndicator;
    }
    value = code | level;
  } else {
    UrlLoadClearFlags(message, UrlFlag::Kept);
  }
  if (!AnyUnread())
    value = Indicator::NothingNew;
  else if (value == 0)
    value = Indicator::NotKept;
  NotifyPostIndicator(value);
  return rules;
}

// --- Collections -----------------------------------------------------------------

struct NotifyInbox;

namespace {

struct Collection {
  const char* name;
  UrlLoad* (*next)(NotifyInbox* inbox, uint32_t* code, uint32_t* level);
};

}  // namespace

struct NotifyInbox {
  const Collection* collection;
  uint32_t atEnd;
  char* filter;
  char16_t count[12];
  UrlLoad* message;
  uint32_t level;
  uint32_t code;
  uint32_t flags;
  char16_t* text;
  char16_t* intUrl;
  char16_t* extUrl;
  char16_t* siId;
  NotifyInboxCursor* list;
  char16_t priority[24];
};

namespace {

// The SIs of "hxp/" ids are the handset's own feeds, listed apart.
bool IsHxp(const SiRecord* si) {
  const char16_t* id = SiField(si, si->siId);
  return id && LibcWStrLen(id) >= 4 && LibcWStrNCmp(id, u"hxp/", 4) == 0;
}

UrlLoad* NextAll(NotifyInbox* inbox, uint32_t* code, uint32_t* level) {
  return NotifyNextKept(inbox->list, code, level);
}

UrlLoad* NextSiid(NotifyInbox* inbox, uint32_t* code, uint32_t* level) {
  while (UrlLoad* m = NotifyNextKept(inbox->list, code, level)) {
    if (m->contentClass != kPushClass || NotifyDropExpiredSi(m)) continue;
    const SiRecord* si = SiOf(m);
    if (!si || !IsHxp(si)) continue;
    if (inbox->filter) {
      const char16_t* after = SiField(si, si->siId) + 4;
      const uint32_t n = LibcStrLen(inbox->filter);
      if (LibcWStrLen(after) < n || LibcStrWStrNICmp(inbox->filter, after, n) != 0) continue;
    }
    return m;
  }
  return nullptr;
}

UrlLoad* NextFiltered(NotifyInbox* inbox, uint32_t* code, uint32_t* level) {
  while (UrlLoad* m = NotifyNextKept(inbox->list, code, level)) {
    if (NotifyDropExpiredSi(m)) continue;
    if (const SiRecord* si = SiOf(m); si && IsHxp(si)) continue;
    return m;
  }
  return nullptr;
}

constexpr Collection kCollections[] = {
    {"siid", NextSiid}, {"all", NextAll}, {"filtered", NextFiltered}, {nullptr, nullptr}};

struct PriorityRow {
  uint32_t contentClass;
  uint32_t typeId;
  const char* label;
};
constexpr PriorityRow kPriorities[] = {
    {8, 0, "indication"}, {2, 54, "provisioning"}, {6, 0, "channel"}, {2, 7, "vcard"},
    {2, 6, "vcal"},       {2, 0, "html"},          {3, 0, "wml"},     {0, 0, "sms"},
    {0, 0, "email"},
};

struct Summary {
  uint32_t action;
  const char16_t* text;
  const char16_t* url;
  const char16_t* siId;
  char16_t* buffer;
};

// What the inbox shows of a kept load, by its content class: the push
// record of an indication or a loading, the notice a channel document puts
// first on its output, or (every other class) the document's title, else
// its kind, and its address.
Result PushSummary(UrlLoad* message, Summary* out) {
  if (const SiRecord* si = SiOf(message)) {
    *out = Summary{si->action, SiField(si, si->text), SiField(si, si->href), SiField(si, si->siId),
                   nullptr};
    return kOk;
  }
  if (const SlRecord* sl = SlOf(message)) {
    *out = Summary{sl->action, sl->href, sl->href, nullptr, nullptr};
    return kOk;
  }
  return 2;
}

Result ChannelSummary(UrlLoad* message, Summary* out) {
  const auto* notice = reinterpret_cast<const RepNotice*>(message->output.head);
  if (!notice) return 2;
  *out = Summary{notice->action, RepNoticeText(notice, notice->text),
                 RepNoticeText(notice, notice->href), nullptr, nullptr};
  return kOk;
}

Result DocumentSummary(UrlLoad* message, Summary* out) {
  ContentSummary label{};
  if (Result r = WmlcBuildContentLabel(&label, message); r != kOk) return r;
  *out = Summary{label.action, label.text, label.url, nullptr, label.allocation};
  return kOk;
}

struct SummaryRow {
  uint32_t contentClass;
  Result (*extract)(UrlLoad* message, Summary* out);
};
constexpr SummaryRow kSummaries[] = {
    {kPushClass, PushSummary}, {6, ChannelSummary}, {3, DocumentSummary}, {2, DocumentSummary}};

Result Summarize(UrlLoad* message, Summary* out) {
  *out = Summary{};
  for (const SummaryRow& row : kSummaries)
    if (row.contentClass == message->contentClass) return row.extract(message, out);
  return DocumentSummary(message, out);
}

char16_t* Copy(const char16_t* text) { return text ? LibcWStrDup(text) : nullptr; }

void ClearCurrent(NotifyInbox* inbox) {
  if (inbox->message) UrlLoadClearFlags(inbox->message, 0);
  inbox->message = nullptr;
  MemFree(&inbox->text);
  MemFree(&inbox->intUrl);
  MemFree(&inbox->extUrl);
  MemFree(&inbox->siId);
  inbox->level = inbox->code = 0;
}

void Fill(NotifyInbox* inbox, UrlLoad* message) {
  Summary summary;
  if (Summarize(message, &summary) != kOk) return;
  UrlLoadSetFlags(message, 0);
  inbox->message = message;
  inbox->flags = message->flags;
  inbox->text = Copy(summary.text);
  inbox->extUrl = Copy(summary.url);
  LngCharsetToWide(&inbox->intUrl, message->name, kUtf8);
  inbox->siId = Copy(summary.siId);
  MemFree(&summary.buffer);
}

const char16_t* Widen(char16_t* out, uint32_t size, const char* a, const char* b) {
  uint32_t at = 0;
  for (const char* p = a; *p && at + 1 < size; ++p) out[at++] = static_cast<uint8_t>(*p);
  for (const char* p = b; *p && at + 1 < size; ++p) out[at++] = static_cast<uint8_t>(*p);
  out[at] = 0;
  return out;
}

const char16_t* Priority(NotifyInbox* inbox) {
  const char* label = "indication";
  if (UrlLoad* m = inbox->message) {
    for (const PriorityRow& row : kPriorities)
      if (row.contentClass == m->contentClass && (row.typeId == 0 || row.typeId == m->typeId)) {
        label = row.label;
        break;
      }
  }
  const char* level = inbox->level == 0 ? "/low" : inbox->level == 128 ? "/high" : "/medium";
  return Widen(inbox->priority, 24, label, level);
}

const char16_t* Count(NotifyInbox* inbox) {
  NotifyInbox shadow{};
  shadow.collection = inbox->collection;
  shadow.filter = inbox->filter;
  if (NotifyOpenInboxCursor(&shadow.list) != kOk) return nullptr;
  uint32_t n = 0, code = 0, level = 0;
  while (inbox->collection->next(&shadow, &code, &level)) ++n;
  NotifyCloseInboxCursor(&shadow.list);
  if (n == 0) return nullptr;
  char digits[12];
  LibcItoA(static_cast<int32_t>(n), digits, 10);
  return Widen(inbox->count, 12, digits, "");
}

constexpr const char* kProperties[] = {"text",  "uri",    "priority", "intUrl",
                                       "extUrl", "count", "viewed",   "presented"};

}  // namespace

NotifyInbox* NotifyInboxOpen(const char* rest, const char* name, uint32_t length) {
  const Collection* collection = nullptr;
  for (const Collection* c = kCollections; c->name && !collection; ++c)
    if (length && LibcStrLen(c->name) >= length && LibcStrNICmp(c->name, name, length) == 0)
      collection = c;
  if (!collection) return nullptr;
  auto* inbox = static_cast<NotifyInbox*>(MemAllocZero(sizeof(NotifyInbox), Use::Data, kInboxModule));
  if (!inbox) return nullptr;
  inbox->collection = collection;
  if (NotifyOpenInboxCursor(&inbox->list) != kOk) {
    MemFree(&inbox);
    return nullptr;
  }
  if (const char* dot = rest ? LibcStrRChr(rest, '.') : nullptr; dot && dot != rest)
    inbox->filter = LibcStrNDup(rest, static_cast<uint32_t>(dot - rest));
  NotifyInboxNext(inbox);
  return inbox;
}

int NotifyInboxNext(NotifyInbox* inbox) {
  ClearCurrent(inbox);
  if (inbox->atEnd) return 0;
  uint32_t code = 0, level = 0;
  UrlLoad* message = inbox->collection->next(inbox, &code, &level);
  if (!message) {
    inbox->atEnd = 1;
    return 0;
  }
  Fill(inbox, message);
  inbox->code = code;
  inbox->level = level;
  NotifyMarkMessage(message, UrlFlag::Presented);
  return 1;
}

void NotifyInboxClose(NotifyInbox** inbox) {
  if (!*inbox) return;
  MemFree(&(*inbox)->filter);
  ClearCurrent(*inbox);
  NotifyCloseInboxCursor(&(*inbox)->list);
  MemFree(inbox);
}

int NotifyInboxPropertyIndex(const char* name) {
  for (int i = 0; i < 8; ++i)
    if (LibcStrICmp(name, kProperties[i]) == 0) return i;
  return -1;
}

const char16_t* NotifyInboxProperty(NotifyInbox* inbox, int index) {
  switch (index) {
    case 0: return inbox->text;
    case 1: return inbox->extUrl;
    case 2: return Priority(inbox);
    case 3: return inbox->intUrl;
    case 4: return inbox->extUrl;
    case 5: return Count(inbox);
    case 6: return inbox->message && (inbox->flags & UrlFlag::Viewed) ? u"1" : nullptr;
    case 7: return inbox->message && (inbox->flags & UrlFlag::Presented) ? u"1" : nullptr;
    default: return nullptr;
  }
}
