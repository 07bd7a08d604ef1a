// The addrbook: and calendar: schemes: a query into a phonebook or calendar
// entry for the handset's services, and the popup that reports the answer.
#include "content/vcalca.h"

#include "host/platform/handset.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uistring.h"
#include "widgets/popup.h"

namespace {

constexpr uint32_t kPhoneAnswer = 0x2000, kCalendarAnswer = 0x0C00;

// A field's name names the known word it begins, ASCII case ignored over the
// name's own length ("NUM" is "number"); an empty name names none.
bool SameNoCase(const char* a, uint32_t n, const char* word) {
  return n > 0 && LibcStrLen(word) >= n && LibcStrNICmp(a, word, n) == 0;
}

// Common first steps: the load makes no page; the host must be "add".
Result Begin(UrlLoad* load, Result badInput) {
  load->flags &= ~UrlFlag::Listed;
  load->status = kUrlStatusKeptOut;
  load->events |= UrlEvent::StatusKnown;
  if (!load->url.host || LibcStrICmp(load->url.host, "add") != 0) return badInput;
  return kOk;
}

Result AnswerTask(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* task = static_cast<TskmanTask*>(context);
  switch (message) {
    case TskMsg::Start:
      return kOk;
    case TskMsg::Stop2:
      TskmanDestroyTask(task);
      return kOk;
    case kPhoneAnswer: {
      auto* error = reinterpret_cast<char16_t*>(arg2);
      const uint32_t text = VcAddrbookAnswerText(arg1, error);
      MemFree(&error);
      PopupMessage(UiGetString(10, text), nullptr);
      TskmanDestroyTask(task);
      return kOk;
    }
    case kCalendarAnswer:
      PopupMessage(UiGetString(10, VcCalendarAnswerText(arg1)), nullptr);
      TskmanDestroyTask(task);
      return kOk;
    default:
      return kOk;
  }
}

Result NewTask(uint32_t id, TskmanTask** task) {
  if (TskmanCreateTaskEx(task, id, AnswerTask, nullptr, false) != kOk) return 1;
  TskmanSetContext(*task, *task);
  return kOk;
}

void FreeRecord(PhonebookRecord** record) {
  if (!*record) return;
  MemFree(&(*record)->number);
  MemFree(&(*record)->name);
  MemFree(&(*record)->email);
  MemFree(&(*record)->address);
  MemFree(record);
}

// "YYYYMMDD" or "YYYYMMDDTHHMMSS" (UTC) as seconds since 1970 and its type.
bool TimeOf(const char16_t* v, int64_t* seconds, uint32_t* type) {
  uint32_t n = LibcWStrLen(v);
  if (n < 8) return false;
  auto num = [v](uint32_t at, uint32_t count, int32_t* out) {
    int32_t x = 0;
    for (uint32_t i = at; i < at + count; ++i) {
      if (v[i] < '0' || v[i] > '9') return false;
      x = x * 10 + (v[i] - '0');
    }
    *out = x;
    return true;
  };
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!num(0, 4, &year) || !num(4, 2, &month) || !num(6, 2, &day)) return false;
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  *type = 1;
  if (n >= 15) {
    if (!num(9, 2, &hour) || !num(11, 2, &minute) || !num(13, 2, &second)) return false;
    if (hour > 23 || minute > 59 || second > 60) return false;
    *type = 2;
  }
  *seconds = LibcDaysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

bool DecimalOf(const char16_t* v, int64_t* out) {
  int64_t sign = 1, x = 0;
  if (*v == '-' || *v == '+') sign = *v++ == '-' ? -1 : 1;
  if (!*v) return false;
  for (uint32_t digits = 0; *v; ++v) {
    if (*v < '0' || *v > '9' || ++digits > 15) return false;
    x = x * 10 + (*v - '0');
  }
  *out = sign * x;
  return true;
}

}  // namespace

uint32_t VcAddrbookAnswerText(uintptr_t result, const char16_t* error) {
  if (result == 0) return 30;
  if (!error) return 34;
  switch (LibcWtoI(error)) {
    case -100: return 31;
    case -101: return 32;
    case -102: return 33;
    case -104: return 35;
    default: return 34;
  }
}

uint32_t VcCalendarAnswerText(uintptr_t result) {
  if (result == 0) return 40;
  if (result == 0x8000) return 37;
  if (result == 0x8001) return 38;
  return 39;
}

Result VcSchemeStep(UrlRequestRec*, UrlLoad* load) {
  load->endOfData = 1;
  return kOk;
}

Result AddrbookSchemeStart(UrlRequestRec*, UrlLoad* load) {
  if (Result r = Begin(load, kVcardBadInput); r != kOk) return r;
  auto* entry = static_cast<PhonebookRecord*>(
      MemAllocZero(sizeof(PhonebookRecord), Use::Data, Mod::WtlVcard));
  if (!entry) return kVcardNoMemory;
  const char* cursor = load->url.query;
  Result r = kOk;
  for (;;) {
    const char* name = nullptr;
    uint32_t length = 0;
    char16_t* value = nullptr;
    const uint32_t f = VcQueryField(&cursor, &name, &length, &value, Mod::WtlVcard);
    if (f == 3) break;
    if (f != 0) {
      r = f == 1 ? kVcardNoMemory : kVcardBadInput;
      break;
    }
    char16_t** slot = SameNoCase(name, length, "name")      ? &entry->name
                      : SameNoCase(name, length, "number")  ? &entry->number
                      : SameNoCase(name, length, "email")   ? &entry->email
                      : SameNoCase(name, length, "address") ? &entry->address
                                                            : nullptr;
    if (!slot || *slot) {
      MemFree(&value);
      r = kVcardBadInput;
      break;
    }
    *slot = value;
  }
  if (r == kOk && !entry->name) r = kVcardBadInput;
  TskmanTask* task = nullptr;
  if (r == kOk && NewTask(Mod::WtlVcard, &task) != kOk) r = kVcardNoMemory;
  if (r != kOk) {
    FreeRecord(&entry);
    return r;
  }
  // The service takes the entry whatever it answers; without a handset
  // nothing is taken and no answer will come.
  if (Result w = PBWrite(task, 0, entry); w == kHandsetNone) {
    FreeRecord(&entry);
    TskmanDestroyTask(task);
    return w;
  }
  load->events |= UrlEvent::Outside;
  return kOk;
}

Result CalendarSchemeStart(UrlRequestRec*, UrlLoad* load) {
  if (Result r = Begin(load, kVcalBadInput); r != kOk) return r;
  auto* entry = static_cast<VcCalendarEntry*>(
      MemAllocZero(sizeof(VcCalendarEntry), Use::Data, Mod::WtlVcal));
  if (!entry) return kVcalNoMemory;
  entry->duration = -1;
  static const char* const kTexts[8] = {"location", "summary",  "description", "category",
                                        "comment",  "status",   "organizer",   "contact"};
  static const char* const kTimes[4] = {"dtstart", "dtend", "due", "lastmod"};
  bool durationSet = false;
  const char* cursor = load->url.query;
  Result r = kOk;
  for (;;) {
    const char* name = nullptr;
    uint32_t length = 0;
    char16_t* value = nullptr;
    const uint32_t f = VcQueryField(&cursor, &name, &length, &value, Mod::WtlVcal);
    if (f == 3) break;
    if (f != 0) {
      r = f == 1 ? kVcalNoMemory : kVcalBadInput;
      break;
    }
    bool taken = false;
    for (uint32_t i = 0; i < 8 && !taken; ++i)
      if (SameNoCase(name, length, kTexts[i])) {
        if (entry->texts[i]) break;
        entry->texts[i] = value;
        value = nullptr;
        taken = true;
      }
    for (uint32_t i = 0; i < 4 && !taken && value; ++i)
      if (SameNoCase(name, length, kTimes[i]))
        taken = entry->types[i] == 0 && TimeOf(value, &entry->times[i], &entry->types[i]);
    if (!taken && value && SameNoCase(name, length, "duration") && !durationSet)
      taken = durationSet = DecimalOf(value, &entry->duration);
    MemFree(&value);
    if (!taken) {
      r = kVcalBadInput;
      break;
    }
  }
  TskmanTask* task = nullptr;
  if (r == kOk && NewTask(Mod::WtlVcal, &task) != kOk) r = kVcalNoMemory;
  if (r != kOk) {
    void** slots = reinterpret_cast<void**>(entry);
    LibcFreePtrArray(&slots);
    return r;
  }
  void** slots = reinterpret_cast<void**>(entry);
  if (Result w = ShellCalendarAddStub(task, slots); w == kHandsetNone) {
    LibcFreePtrArray(&slots);
    TskmanDestroyTask(task);
    return w;
  }
  load->events |= UrlEvent::Outside;
  return kOk;
}
