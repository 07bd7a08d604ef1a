// The WTAI function handlers: each checks its fields, asks the user's
// consent, and on acceptance hands the request to the emulated handset,
// the browser, the status indicator or the SMS service. The answer task
// always receives exactly one answer.
#include "browser/status.h"
#include "host/platform/handset.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "net/netbuf.h"
#include "services/sms/sms.h"
#include "services/wtai/wtai.h"
#include "services/wtai/wtai_internal.h"

namespace {

// Owner tag of the records handed to the handset and the SMS service.
constexpr uint32_t kRecordModule = 33;
constexpr Result kWtaiTooLong = ResultError(Mod::WtlWtai, Err::BadArg);

enum class Check : uint8_t { None, NotEmpty, NumberTail, Number, Tones, Integer };

struct FieldCheck {
  uint8_t field;
  Check check;
};

// The fields of an accepted request, each a new copy; freed unless an
// operation takes them.
struct Fields {
  char16_t* f[4] = {};
  ~Fields() {
    for (char16_t*& t : f) MemFree(&t);
  }
  char16_t* Take(uint32_t n) {
    char16_t* t = f[n];
    f[n] = nullptr;
    return t;
  }
  int32_t Int(uint32_t n) const { return WtaiParseInt(f[n]); }
  bool True(uint32_t n) const { return WtaiArgIsTrue(f[n]); }
};

// What the handset operation answered; a request no handset serves is
// refused, so that the answer task is not left waiting.
using Operation = Result (*)(TskmanTask* answer, Fields& fields);

enum class Detail : uint8_t { None, Field1, Field3, NameAndNumber };

// Rewrites the argument text (taken) before the user is asked, so that the
// question shows what will be done; null refuses the request.
using Prepare = char16_t* (*)(char16_t* text);

struct Spec {
  uint8_t count;
  uint8_t prompt;
  Detail detail;
  uint8_t remember;
  FieldCheck before[2];
  FieldCheck after[2];
  Operation op;
  Prepare prepare = nullptr;
};

// A text message's address goes whole into the message record's address
// field: blanks and '-' are dropped from field 1, and an address that still
// does not fit is refused rather than cut, so that the user is asked about
// exactly the number the message goes to.
char16_t* CompactAddress(char16_t* text) {
  const char16_t* from = text;
  while (*from && *from < 33) ++from;
  const uint32_t n = LibcWStrLen(from);
  auto* out = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::WtlWtai));
  uint32_t at = 0, kept = 0;
  const char16_t* p = from;
  if (out) {
    for (; *p && *p != ';'; ++p)
      if (*p >= 33 && *p != '-') out[at++] = *p;
    kept = at;
    for (; *p; ++p) out[at++] = *p;
    out[at] = 0;
  }
  MemFree(&text);
  if (out && (kept == 0 || kept >= kSmsAddressSize)) MemFree(&out);
  return out;
}

bool Passes(const char16_t* text, FieldCheck c) {
  if (c.check == Check::None) return true;
  char16_t* field = WtaiArgText(text, c.field);
  bool ok = field != nullptr;
  if (ok) {
    switch (c.check) {
      case Check::NotEmpty: ok = *field != 0; break;
      case Check::NumberTail: ok = *field != 0 && WtaiIsNumber(field, true); break;
      case Check::Number: ok = WtaiIsNumber(field, false); break;
      case Check::Tones: ok = WtaiIsTones(field); break;
      case Check::Integer: ok = WtaiParseInt(field) != -1; break;
      case Check::None: break;
    }
  }
  MemFree(&field);
  return ok;
}

bool PassesAll(const char16_t* text, const FieldCheck (&checks)[2]) {
  return Passes(text, checks[0]) && Passes(text, checks[1]);
}

char16_t* DetailOf(const Spec& s, const char16_t* text) {
  switch (s.detail) {
    case Detail::None: return nullptr;
    case Detail::Field1: return WtaiArgText(text, 1);
    case Detail::Field3: return WtaiArgText(text, 3);
    case Detail::NameAndNumber: {
      char16_t* number = WtaiArgText(text, 1);
      char16_t* name = WtaiArgText(text, 2);
      char16_t* joined = nullptr;
      if (number && name) {
        const uint32_t a = LibcWStrLen(name), b = LibcWStrLen(number);
        joined = static_cast<char16_t*>(MemAlloc((a + b + 2) * 2, Use::String, Mod::WtlWtai));
        if (joined) {
          for (uint32_t i = 0; i < a; ++i) joined[i] = name[i];
          joined[a] = ':';
          for (uint32_t i = 0; i <= b; ++i) joined[a + 1 + i] = number[i];
        }
      }
      MemFree(&number);
      MemFree(&name);
      return joined;
    }
  }
  return nullptr;
}

Result Frame(const Spec& s, WtaiHandler self, TskmanTask* answer, char16_t* text, uint32_t state) {
  if (WtaiArgCount(text) != s.count || state == WtaiState::Refused) {
    MemFree(&text);
    WtaiPostResult(answer, kWtaiRefused);
    return kOk;
  }
  if (state == WtaiState::First) {
    if (!PassesAll(text, s.before)) {
      MemFree(&text);
      WtaiPostResult(answer, kWtaiRefused);
      return kOk;
    }
    if (s.prepare && !(text = s.prepare(text))) {
      WtaiPostResult(answer, kWtaiRefused);
      return kOk;
    }
    char16_t* detail = DetailOf(s, text);
    const bool detailMissing = s.detail != Detail::None && !detail;
    if (detailMissing ||
        WtaiConfirmRequest(s.prompt, detail, s.remember, answer, text, self) != 0) {
      MemFree(&text);
      WtaiPostResult(answer, kWtaiRefused);
    }
    MemFree(&detail);
    return kOk;
  }
  const bool ok = PassesAll(text, s.before) && PassesAll(text, s.after);
  Fields fields;
  bool memory = true;
  for (uint32_t n = 1; n <= s.count; ++n) memory = memory && (fields.f[n] = WtaiArgText(text, n));
  MemFree(&text);
  if (!ok || !memory || s.op(answer, fields) != kOk) WtaiPostResult(answer, kWtaiRefused);
  return kOk;
}

// A phonebook record of {number, name}; null without memory.
PhonebookRecord* Record(char16_t* number, char16_t* name) {
  auto* r = static_cast<PhonebookRecord*>(
      MemAllocZero(sizeof(PhonebookRecord), Use::Context, kRecordModule));
  if (!r) {
    MemFree(&number);
    MemFree(&name);
    return nullptr;
  }
  r->number = number;
  r->name = name;
  return r;
}

void FreeRecord(PhonebookRecord* r) {
  MemFree(&r->number);
  MemFree(&r->name);
  MemFree(&r->email);
  MemFree(&r->address);
  MemFree(&r);
}

// Without a handset the texts and the record stay the caller's.
Result Write(TskmanTask* t, uintptr_t index, PhonebookRecord* r) {
  if (!r) return kWtaiNoMemory;
  const Result result = PBWrite(t, index, r);
  if (result == kHandsetNone) FreeRecord(r);
  return result;
}

template <typename... Texts>
Result Keep(Result r, Texts*... texts) {
  if (r == kHandsetNone) (MemFree(&texts), ...);
  return r;
}

Result OpMakeCall(TskmanTask* t, Fields& f) {
  char16_t* a = f.Take(1);
  return Keep(PubMakeCall(t, a), a);
}
Result OpSendTones(TskmanTask* t, Fields& f) {
  char16_t* a = f.Take(1);
  return Keep(VCSendDTMF(t, nullptr, a), a);
}
Result OpAddEntry(TskmanTask* t, Fields& f) { return Write(t, 0, Record(f.Take(1), f.Take(2))); }
Result OpList(TskmanTask* t, Fields&) { return NTList(t); }
Result OpTextRemove(TskmanTask* t, Fields& f) {
  char16_t* a = f.Take(1);
  return Keep(NTRemove(t, a), a);
}
Result OpTextField(TskmanTask* t, Fields& f) {
  char16_t *a = f.Take(1), *b = f.Take(2);
  return Keep(NTGetField(t, a, b), a, b);
}
Result OpMarkRead(TskmanTask* t, Fields& f) {
  char16_t* a = f.Take(1);
  return Keep(NTMarkRead(t, a), a);
}
Result OpSetup(TskmanTask* t, Fields& f) {
  char16_t* a = f.Take(1);
  return Keep(VCSetup(t, a), a);
}
Result OpAccept(TskmanTask* t, Fields& f) {
  if (!f.True(2))
    if (TskmanTask* browser = TskmanFind(Mod::Ben))
      TskmanPost(browser, BenMsg::WtaCall, static_cast<uint32_t>(f.Int(1)), 0);
  char16_t* a = f.Take(1);
  return Keep(VCAccept(t, a), a);
}
Result OpRelease(TskmanTask* t, Fields& f) {
  char16_t* a = f.Take(1);
  return Keep(VCRelease(t, a), a);
}
Result OpCallTones(TskmanTask* t, Fields& f) {
  char16_t *a = f.Take(1), *b = f.Take(2);
  return Keep(VCSendDTMF(t, a, b), a, b);
}
Result OpCallStatus(TskmanTask* t, Fields& f) {
  char16_t *a = f.Take(1), *b = f.Take(2);
  return Keep(VCCallStatus(t, a, b), a, b);
}
Result OpCallList(TskmanTask* t, Fields&) { return VCList(t); }
Result OpWrite(TskmanTask* t, Fields& f) {
  const int32_t index = f.Int(1);
  return Write(t, static_cast<uint32_t>(index), Record(f.Take(2), f.Take(3)));
}
Result OpSearch(TskmanTask* t, Fields& f) {
  char16_t *a = f.Take(1), *b = f.Take(2);
  return Keep(PBSearch(t, a, b), a, b);
}
Result OpRemove(TskmanTask* t, Fields&) { return PBRemove(t); }
Result OpEntryField(TskmanTask* t, Fields& f) {
  char16_t* b = f.Take(2);
  return Keep(PBGetField(t, static_cast<uint32_t>(f.Int(1)), b), b);
}
Result OpChange(TskmanTask* t, Fields& f) {
  char16_t *b = f.Take(2), *c = f.Take(3);
  return Keep(PBChange(t, static_cast<uint32_t>(f.Int(1)), b, c), b, c);
}
Result OpDialled(TskmanTask* t, Fields&) { return CLDialled(t); }
Result OpMissed(TskmanTask* t, Fields&) { return CLMissed(t); }
Result OpReceived(TskmanTask* t, Fields&) { return CLReceived(t); }
Result OpLogField(TskmanTask* t, Fields& f) {
  char16_t *a = f.Take(1), *b = f.Take(2);
  return Keep(CLGetField(t, a, b), a, b);
}

// The text's units narrowed to their low bytes.
NetBufChain* Narrow(const char16_t* text) {
  const uint32_t n = LibcWStrLen(text);
  NetBufChain* chain = NetBufAlloc(n);
  if (!chain) return nullptr;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t byte = static_cast<uint8_t>(text[i]);
    NetBufWrite(chain, &byte, i, 1);
  }
  return chain;
}

// The SMS request task answers the answer task once the service has.
Result OpSendText(TskmanTask* t, Fields& f) {
  const char16_t* number = f.f[1];
  // Asked about as it stands (CompactAddress): never cut here.
  if (LibcWStrLen(number) >= kSmsAddressSize) return kWtaiTooLong;
  TskmanTask* sms = WtaiCreateSmsTask(t);
  if (!sms) return kWtaiNoMemory;
  auto* message = static_cast<SmsMessage*>(MemAllocZero(sizeof(SmsMessage), Use::String, kRecordModule));
  if (message) message->data = Narrow(f.f[2]);
  char16_t* reference = nullptr;
  if (message && message->data) {
    char digits[kWtaiDecimalUnits];
    LibcItoA(LibcTime(nullptr), digits, 10);
    reference = static_cast<char16_t*>(MemAlloc(kWtaiDecimalUnits * 2, Use::String, Mod::WtlWtai));
    if (reference)
      for (uint32_t i = 0; i < kWtaiDecimalUnits; ++i)
        if (!(reference[i] = static_cast<char16_t>(digits[i]))) break;
  }
  if (!reference) {
    if (message) SmsMessageFree(&message);
    WtaiDropSmsTask(sms);
    return kWtaiNoMemory;
  }
  uint32_t i = 0;
  for (; number[i] && i + 1 < kSmsAddressSize; ++i) message->sender[i] = static_cast<char>(number[i]);
  message->sender[i] = 0;
  SmsSendRequest(sms, reference, 0, message);
  return kOk;
}

// The table of the handlers that ask first, in the order of WtaiAsk.
constexpr FieldCheck kNo{0, Check::None};
const Spec kSpecs[] = {
    /* wp/mc */ {1, 0, Detail::Field1, 0, {{1, Check::NotEmpty}, kNo}, {{1, Check::NumberTail}, kNo}, OpMakeCall},
    /* wp/sd */ {1, 1, Detail::None, 0, {kNo, kNo}, {{1, Check::Tones}, kNo}, OpSendTones},
    /* wp/ap */ {2, 6, Detail::NameAndNumber, 0, {{1, Check::NumberTail}, kNo}, {kNo, kNo}, OpAddEntry},
    /* nt/send */ {2, 11, Detail::Field1, 2, {{1, Check::NumberTail}, kNo}, {kNo, kNo}, OpSendText,
                   CompactAddress},
    /* nt/list */ {2, 12, Detail::None, 2, {kNo, kNo}, {{2, Check::Integer}, kNo}, OpList},
    /* nt/rem */ {1, 13, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpTextRemove},
    /* nt/field */ {2, 14, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpTextField},
    /* nt/asread */ {1, 15, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpMarkRead},
    /* vc/setup */ {2, 0, Detail::Field1, 2, {{1, Check::NumberTail}, kNo}, {kNo, kNo}, OpSetup},
    /* vc/acct */ {2, 2, Detail::None, 2, {kNo, kNo}, {{1, Check::Integer}, kNo}, OpAccept},
    /* vc/rel */ {1, 3, Detail::None, 2, {kNo, kNo}, {{1, Check::Integer}, kNo}, OpRelease},
    /* vc/dtmf */ {2, 1, Detail::None, 2, {kNo, kNo}, {{2, Check::Tones}, {1, Check::Integer}}, OpCallTones},
    /* vc/stat */ {2, 4, Detail::None, 2, {kNo, kNo}, {{1, Check::Integer}, kNo}, OpCallStatus},
    /* vc/list */ {1, 5, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpCallList},
    /* pb/write */ {3, 6, Detail::Field3, 2, {kNo, kNo}, {{1, Check::Integer}, {2, Check::Number}}, OpWrite},
    /* pb/srch */ {2, 7, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpSearch},
    /* pb/rem */ {1, 8, Detail::None, 2, {kNo, kNo}, {{1, Check::Integer}, kNo}, OpRemove},
    /* pb/field */ {2, 9, Detail::None, 2, {kNo, kNo}, {{1, Check::Integer}, kNo}, OpEntryField},
    /* pb/change */ {3, 10, Detail::None, 2, {kNo, kNo}, {{1, Check::Integer}, kNo}, OpChange},
    /* cl/dial */ {1, 16, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpDialled},
    /* cl/miss */ {1, 17, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpMissed},
    /* cl/rec */ {1, 18, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpReceived},
    /* cl/field */ {2, 19, Detail::None, 2, {kNo, kNo}, {kNo, kNo}, OpLogField},
};

// Indicator codes by type; 12 for every other type.
uint32_t IndicatorCode(int32_t type) {
  switch (type) {
    case 0: case 1: case 2: return 10;
    case 3: return 11;
    case 4: return 2;
    case 7: return 3;
    default: return 12;
  }
}

// 0x191D-0x191F go to the browser, which answers the answer task.
Result ToBrowser(TskmanTask* answer, uint32_t message, uintptr_t value) {
  TskmanTask* browser = TskmanFind(Mod::Ben);
  if (!browser) {
    WtaiPostResult(answer, kWtaiRefused);
    return kOk;
  }
  TskmanPost(browser, message, reinterpret_cast<uintptr_t>(answer), value);
  return kOk;
}

template <int I>
Result Ask(TskmanTask* answer, char16_t* args, uint32_t state) {
  return Frame(kSpecs[I], Ask<I>, answer, args, state);
}

Result SetIndicator(TskmanTask* answer, char16_t* args, uint32_t) {
  const bool counted = WtaiArgCount(args) == 2;
  const int32_t type = counted ? WtaiArgInt(args, 1) : -1;
  const int32_t value = counted ? WtaiArgInt(args, 2) : -1;
  MemFree(&args);
  TskmanTask* status = TskmanFind(Mod::Status);
  if (type == -1 || value == -1 || !status) {
    WtaiPostResult(answer, kWtaiRefused);
    return kOk;
  }
  TskmanPost(status, StatusMsg::Indicator, StatusKind::Push, IndicatorCode(type) | 0x40);
  WtaiPostText(answer, u"");
  return kOk;
}

Result EndContext(TskmanTask* answer, char16_t* args, uint32_t) {
  MemFree(&args);
  return ToBrowser(answer, BenMsg::WtaEnd, 0);
}

Result GetFlag(TskmanTask* answer, char16_t* args, uint32_t) {
  MemFree(&args);
  return ToBrowser(answer, BenMsg::WtaGet, 0);
}

Result SetFlag(TskmanTask* answer, char16_t* args, uint32_t) {
  const bool counted = WtaiArgCount(args) == 1;
  char16_t* field = counted ? WtaiArgText(args, 1) : nullptr;
  const bool value = WtaiArgIsTrue(field);
  MemFree(&field);
  MemFree(&args);
  if (!counted) {
    WtaiPostResult(answer, kWtaiRefused);
    return kOk;
  }
  return ToBrowser(answer, BenMsg::WtaSet, value);
}

const WtaiFunction kPublic[] = {
    {"mc", Ask<0>, 0}, {"sd", Ask<1>, 0}, {"ap", Ask<2>, 0}, {"", nullptr, 0}};
const WtaiFunction kText[] = {{"send", Ask<3>, 2},  {"list", Ask<4>, 2},   {"rem", Ask<5>, 2},
                              {"field", Ask<6>, 2}, {"asread", Ask<7>, 2}, {"", nullptr, 0}};
const WtaiFunction kCall[] = {{"setup", Ask<8>, 2}, {"acct", Ask<9>, 2},  {"rel", Ask<10>, 2},
                              {"dtmf", Ask<11>, 2}, {"stat", Ask<12>, 2}, {"list", Ask<13>, 2},
                              {"", nullptr, 0}};
const WtaiFunction kPhonebook[] = {{"write", Ask<14>, 2}, {"srch", Ask<15>, 2},
                                   {"rem", Ask<16>, 2},   {"field", Ask<17>, 2},
                                   {"change", Ask<18>, 2}, {"", nullptr, 0}};
const WtaiFunction kLog[] = {{"dial", Ask<19>, 2},  {"miss", Ask<20>, 2}, {"rec", Ask<21>, 2},
                             {"field", Ask<22>, 2}, {"", nullptr, 0}};
const WtaiFunction kMisc[] = {{"ind", SetIndicator, 2}, {"ec", EndContext, 1},
                              {"get", GetFlag, 2},      {"set", SetFlag, 2},
                              {"", nullptr, 0}};

}  // namespace

const WtaiLibrary kWtaiLibraries[] = {
    {"wp", kPublic}, {"nt", kText}, {"vc", kCall}, {"pb", kPhonebook},
    {"cl", kLog},    {"ms", kMisc}, {"", nullptr},
};
