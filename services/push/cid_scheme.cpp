// The cid: scheme: one stored part of the local content store by its
// Content-ID ("cid:current" is the latest document's root), its transfer
// encoding undone; text parts go through the template engine.
#include "services/push/cid_scheme.h"

#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "markup/varparse.h"
#include "services/push/lc.h"

namespace {

constexpr uint32_t kModule = Mod::LocalContent;
constexpr uint32_t kTextClass = 2;
constexpr uint32_t kUiGo = 6410;
constexpr char kHomePage[] = "info://SHOW/general/home.html";

struct CidRecord {
  TskmanRef lcTask;  // the local-content task the read went to
  LcRequest request;
  VarParseJob* job;
  uint32_t answered;
};

CidRecord* RecordOf(UrlLoad* load) { return reinterpret_cast<CidRecord*>(load->schemeRecord); }

// Decodes the data line by line (lines end at CR LF) into one block.
UtilDataChunk* Decode(const LcEntry* entry) {
  const char* encoding = LcEntryHeader(entry, LcHeader::Encoding);
  const bool base64 = encoding && LibcStrICmp(encoding, "base64") == 0;
  const bool qp = encoding && LibcStrICmp(encoding, "quoted-printable") == 0;
  const auto* text = reinterpret_cast<const char*>(entry->data);
  const uint32_t length = entry->dataUsed;
  if (!base64 && !qp) return UtilDataChunkNew(entry->data, length, kModule);
  auto* out = static_cast<uint8_t*>(MemAlloc(length + 1, Use::Data, kModule));
  if (!out) return nullptr;
  uint32_t written = 0;
  for (uint32_t at = 0; at < length;) {
    uint32_t end = at;
    while (end < length && text[end] != '\r' && text[end] != '\n') ++end;
    uint32_t next = end;
    if (next < length && text[next] == '\r') ++next;
    if (next < length && text[next] == '\n') ++next;
    if (base64)
      written += LibcBase64Decode(text + at, end - at, out + written, nullptr);
    else
      written += LibcQpDecode(text + at, next - at, out + written);
    at = next;
  }
  UtilDataChunk* block = UtilDataChunkNew(out, written, kModule);
  MemFree(&out);
  return block;
}

Result Deliver(UrlLoad* load, CidRecord* record, LcEntry* entry) {
  if (const char* type = LcEntryHeader(entry, LcHeader::ContentType)) {
    UrlSetContentTypeMime(load, type);
    UtilParseContentParams(load, LibcStrChr(type, ';'));
  }
  if (entry->dataUsed == 0) return kLcBadArg;
  UtilDataChunk* block = Decode(entry);
  if (!block) return kLcNoMemory;
  load->delivered += block->remaining;
  if (load->contentClass != kTextClass) {
    QueueAppend(&load->input, &block->link);
    return kOk;
  }
  // "[$" ... "$]" markers of a stored page are filled as it is shown.
  if (VarParseCreate(&record->job, 0, nullptr) != kOk) {
    MemFree(&block);
    return kLcNoMemory;
  }
  VarParseSetSink(record->job, &load->input);
  VarParseFeed(record->job, block);
  return kOk;
}

}  // namespace

Result CidSchemeStart(UrlRequestRec*, UrlLoad* load) {
  auto* record = static_cast<CidRecord*>(MemAllocZero(sizeof(CidRecord), Use::Data, kModule));
  if (!record) return kOk;
  load->schemeRecord = reinterpret_cast<uintptr_t>(record);
  load->flags &= ~UrlFlag::Listed;
  load->status = kUrlStatusBuiltPage;
  load->events |= UrlEvent::StatusKnown;
  UrlPercentDecode(load->url.path ? load->url.path : "", &record->request.name, 0);
  record->lcTask = TskmanRefOf(TskmanFind(Mod::LocalContent));
  if (!record->lcTask.task || !record->request.name) {
    // Nobody would ever answer: the load ends as not found.
    record->request.error = record->request.name ? kLcBadArg : kLcNoMemory;
    record->request.done = 1;
    return kOk;
  }
  TskmanPost(record->lcTask.task, LcMsg::Read, reinterpret_cast<uintptr_t>(&record->request), 0);
  return kOk;
}

Result CidSchemeStep(UrlRequestRec*, UrlLoad* load) {
  CidRecord* record = RecordOf(load);
  if (!record) {
    load->endOfData = 1;
    return kOk;
  }
  if (!record->request.done) return kOk;
  Result r = kOk;
  if (!record->answered) {
    record->answered = 1;
    if (record->request.error)
      r = ResultError(Mod::LocalContent, record->request.error & 0xFFFF);
    else if (record->request.entry)
      r = Deliver(load, record, record->request.entry);
    LcEntryFree(&record->request.entry);
    load->events |= UrlEvent::CidAnswered;
  }
  if (r != kOk && (load->flags & UrlFlag::CidErrorHome)) {
    char* home = LibcStrDup(kHomePage);
    if (!home) return kLcNoMemory;
    if (TskmanTask* ui = TskmanFind(Mod::Ui))
      TskmanPost(ui, kUiGo, reinterpret_cast<uintptr_t>(home), 0);
    else
      MemFree(&home);
    load->endOfData = 1;
    return kOk;
  }
  if (r != kOk) return r;
  if (!record->job || VarParseIsDrained(record->job)) {
    VarParseClose(&record->job);
    load->endOfData = 1;
  }
  return kOk;
}

Result CidSchemeClose(UrlRequestRec*, UrlLoad* load) {
  CidRecord* record = RecordOf(load);
  if (!record) return kOk;
  // A local-content task started again since is not asked to forget a read
  // it never had.
  if (TskmanRefAlive(record->lcTask))
    TskmanPurgeEvents(record->lcTask.task, LcMsg::Read, reinterpret_cast<uintptr_t>(&record->request), -1);
  LcEntryFree(&record->request.entry);
  VarParseClose(&record->job);
  MemFree(&record->request.name);
  MemFree(&record);
  load->schemeRecord = 0;
  return kOk;
}
