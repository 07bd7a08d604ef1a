// addrbook: and calendar: queries from anywhere. Byte 0 picks the scheme and
// the check, the rest (up to a zero byte) is the text. Every start answers 0,
// its bad-input code or its out-of-memory code; an entry reaches the handset
// only on 0 and with well-formed texts; nothing stays behind. With bit 1 set
// the text is a name instead: filled into a link by the template engine's
// field form, it must come back from the phonebook exactly.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "content/vcalca.h"
#include "host/platform/handset.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "markup/varparse.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::u16string gStored;  // the phonebook name, or the calendar summary
int gEntries = 0;

std::u16string Text(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

Result TakePhonebook(TskmanTask*, uintptr_t, PhonebookRecord* e) {
  ++gEntries;
  Check(e->name != nullptr);
  gStored = Text(e->name);
  for (char16_t** field : {&e->name, &e->number, &e->email, &e->address}) MemFree(field);
  MemFree(&e);
  return kOk;
}

Result TakeCalendar(TskmanTask*, void** slots) {
  ++gEntries;
  const auto* e = reinterpret_cast<VcCalendarEntry*>(slots);
  for (uint32_t type : e->types) Check(type <= 2);
  gStored = Text(e->texts[VcCalText::Summary]);
  LibcFreePtrArray(&slots);
  return kOk;
}

// The source of the round trip: "q.v" is the name under test.
const char16_t* gValue = nullptr;
void* ValueOpen(const char*, void** holder, VarParseJob*, uint32_t* charset, uint32_t*) {
  if (holder || !gValue) return nullptr;
  *charset = Mib::Utf16Native | kVarParsePlainText;
  const uint32_t n = LibcWStrLen(gValue);
  auto* copy = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::TestCode));
  Check(copy != nullptr);
  LibcMemCopy(copy, gValue, (n + 1) * 2);
  return copy;
}
const VarParseSource kSources[] = {{"q", ValueOpen, nullptr, nullptr, nullptr},
                                   {nullptr, nullptr, nullptr, nullptr, nullptr}};

// The link the field form makes for the name: ASCII, "&amp;" between fields.
std::string LinkQuery(const char16_t* name) {
  gValue = name;
  VarParseJob* job = nullptr;
  Check(VarParseCreate(&job, 0, nullptr) == kOk);
  VarParseSetSources(job, kSources);
  Queue sink{};
  VarParseSetSink(job, &sink);
  const char tpl[] = "[$field:name=q.v$][$field:number=q.v$]";
  UtilDataChunk* chunk = UtilDataChunkNew(reinterpret_cast<const uint8_t*>(tpl), sizeof tpl - 1,
                                          Mod::TestCode);
  Check(chunk != nullptr);
  VarParseFeed(job, chunk);
  Check(VarParseClose(&job) == kOk);
  std::u16string out(UtilDataChunkQueueBytes(&sink) / 2, u'\0');
  UtilDataChunkTake(&sink, reinterpret_cast<uint8_t*>(out.data()),
                    static_cast<uint32_t>(out.size() * 2));
  std::string link;
  for (char16_t c : out) {
    Check(c > 0x20 && c < 0x7F && c != '#' && c != '"' && c != '<');
    link += static_cast<char>(c);
  }
  // One pass, left to right: a name holding "&amp;" itself must come back as
  // written, not be unescaped a second time.
  std::string query;
  for (size_t at = 0; at < link.size();) {
    const bool amp = link.compare(at, 5, "&amp;") == 0;
    query += link[at];
    at += amp ? 5 : 1;
  }
  return query;
}

Result Start(bool calendar, const std::string& query) {
  UrlLoad load{};
  char host[] = "add";
  load.url.host = host;
  load.url.query = const_cast<char*>(query.c_str());
  const Result r = calendar ? CalendarSchemeStart(nullptr, &load) : AddrbookSchemeStart(nullptr, &load);
  const uint32_t module = calendar ? Mod::WtlVcal : Mod::WtlVcard;
  Check(r == kOk || r == ResultError(module, 0x8003) || r == ResultError(module, 0x0001));
  // The service took the entry; the task waits for an answer that will not come.
  if (TskmanTask* task = TskmanFind(module)) {
    Check(r == kOk);
    TskmanDestroyTask(task);
  }
  while (TskmanPendingCount() > 0) TskmanStep();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  static std::vector<uint64_t> arena(1u << 16);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  MemSetEvictor(nullptr);
  if (TskmanInit() != kOk) return 0;
  HandsetOps ops{};
  ops.pbWrite = TakePhonebook;
  ops.calendarAddStub = TakeCalendar;
  const HandsetOps* old = HandsetInstall(&ops);
  const uint32_t start = HeapGetStats().freeBytes;

  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text = text.substr(0, text.find('\0'));
  const bool calendar = data[0] & 1;
  gEntries = 0;
  if (data[0] & 2) {
    char16_t* name = nullptr;
    Check(LngCharsetToWide(&name, text.c_str(), Mib::Utf8) == kOk);
    const std::string query = LinkQuery(name);
    const Result r = Start(false, query);
    // An empty name leaves the link without one, which fails.
    Check(name ? r == kOk && gEntries == 1 && gStored == name : r != kOk && gEntries == 0);
    MemFree(&name);
  } else {
    const Result r = Start(calendar, text);
    Check(gEntries == (r == kOk ? 1 : 0));
  }
  Check(HeapGetStats().freeBytes == start);
  HandsetInstall(old);
  TskmanShutdown();
  return 0;
}
