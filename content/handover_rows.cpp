// The ndwn, pims and usat rows.
#include "content/handover_rows.h"

#include "browser/bentask.h"
#include "browser/benvar.h"
#include "browser/uiprogress.h"
#include "content/body_collect.h"
#include "host/platform/handover.h"
#include "host/platform/handset.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kNdwnModule = 85, kPimsModule = 87, kUsatModule = 95;
// The largest bodies the handset takes.
constexpr uint32_t kNdwnRoom = 1u << 20, kUsatRoom = 65536;

struct HeldDownload {
  uint8_t* bytes;
  uint32_t length;
};
HeldDownload gHeld{};
const NdwnProvisioningRow* gProvisioning = nullptr;

// Lets go of the load's body and ends the load with `r`.
Result EndLoad(UrlLoad* load, Result r) {
  ContentBodyRelease(load);
  load->events |= UrlEvent::Complete;
  return r;
}

// --- pims ------------------------------------------------------------------

constexpr uint32_t kPimsFields = 6;
constexpr uint32_t kPimsRoom[kPimsFields] = {5, 16, 32, 32, 32, 32};

struct PimsState {
  char fields[kPimsFields][33];
  uint32_t field;  // the one being filled; kPimsFields and past: dropped
  uint32_t fill;
  uint32_t active;  // the URL names records
};

void PimsClear(PimsState* s) {
  for (auto& f : s->fields) f[0] = 0;
  s->field = 0;
  s->fill = 0;
}

// The text after the scheme's colon is long enough to name something.
bool PimsUrlNamesRecords(const UrlLoad* load) {
  const char* name = load->name;
  if (!name) return false;
  while (*name && *name != ':') ++name;
  if (!*name) return false;
  uint32_t n = 0;
  for (++name; name[n]; ++n) {
  }
  return n > 5;
}

Result PimsByte(PimsState* s, uint8_t byte) {
  if (byte == '\n') return kOk;
  if (byte == '\r') {
    const Result r = ShellStoreContentStub(s->fields[0], s->fields[1], s->fields[2],
                                           s->fields[3], s->fields[4], s->fields[5]);
    PimsClear(s);
    return r;
  }
  if (byte == ';') {
    ++s->field;
    s->fill = 0;
    return kOk;
  }
  if (s->field < kPimsFields && s->fill < kPimsRoom[s->field]) {
    s->fields[s->field][s->fill++] = static_cast<char>(byte);
    s->fields[s->field][s->fill] = 0;
  }
  return kOk;
}

// --- whole-body hand-over rows ---------------------------------------------

constexpr uint32_t kCollectRoom = 1u << 20;

struct CollectRow {
  uint32_t module;
  Result noMemory, tooLong;
  // Called with the whole body; answers the load's result.
  Result (*handOver)(UrlLoad* load, const ContentBody* body);
  Result empty = kOk;  // the load's result when no byte came
};

Result Collect(UrlLoad* load, const CollectRow& row) {
  ContentBody* body = ContentBodyOfLoad(load, row.module);
  if (!body) return row.noMemory;
  ContentBodyState state = ContentBodyState::Collecting;
  Result r = ContentBodyCollect(body, load, kCollectRoom, row.module, row.noMemory, row.tooLong,
                                &state);
  if (r == kOk && state != ContentBodyState::Complete) return kOk;
  // A body cut short is dropped.
  if (r == kOk && !body->size) r = row.empty;
  else if (r == kOk && (!load->announcedLength || body->size == load->announcedLength))
    r = row.handOver(load, body);
  return EndLoad(load, r);
}

Result SaveMedia(UrlLoad* load, const ContentBody* body) {
  const char* major = load->contentRow && load->contentRow->major ? load->contentRow->major : "";
  ShellStubSaveMedia(body->bytes, body->size, major, 0);
  return MediaCode::Saved;
}

Result LaunchMap(UrlLoad* load, const ContentBody* body) {
  ShellStubLaunchMap(body->bytes, body->size, load->typeId, 0);
  return kOk;
}

Result InfoHook(UrlLoad*, const ContentBody* body) {
  auto* text = static_cast<char*>(MemAlloc(body->size + 1, Use::Data, 92));
  if (!text) return PuiCode::NoMemory;
  for (uint32_t i = 0; i < body->size; ++i) text[i] = static_cast<char>(body->bytes[i]);
  text[body->size] = 0;
  BenBrowser* browser = BenGetBrowser();
  const char* back = browser ? BenFindHistoryEntry(browser, "info:", 5, 0) : nullptr;
  ShellStubInfoHook(text, back);
  MemFree(&text);
  return PuiCode::Taken;
}

// --- tbazar ----------------------------------------------------------------

constexpr uint32_t kTbazarModule = 94;
constexpr char kTbazarMarker[] = ";CBURL=";
constexpr uint32_t kTbazarMarkerLength = sizeof kTbazarMarker - 1;

// What waits for the handset's confirmation: the text it was asked about
// and the address the browser goes to with its answer.
struct TbazarPending {
  char* text;
  char* callback;
};

void TbazarFree(TbazarPending* pending) {
  MemFree(&pending->text);
  MemFree(&pending->callback);
  MemFree(&pending);
}

char* CopyText(const uint8_t* from, uint32_t length) {
  auto* text = static_cast<char*>(MemAlloc(length + 1, Use::Data, kTbazarModule));
  if (!text) return nullptr;
  for (uint32_t i = 0; i < length; ++i) text[i] = static_cast<char>(from[i]);
  text[length] = 0;
  return text;
}

// The handset's answer, on the engine's thread: the browser window goes to
// callback + "?scl_p1=" + status + "&scl_p2=" + result.
void TbazarConfirmed(const char* result, const char* status, uintptr_t value) {
  auto* pending = reinterpret_cast<TbazarPending*>(value);
  if (!pending) return;
  if (!result) result = "";
  if (!status) status = "";
  const uint32_t length = LibcStrLen(pending->callback) + 8 + LibcStrLen(status) + 8 +
                          LibcStrLen(result) + 1;
  auto* address = static_cast<char*>(MemAlloc(length, Use::Data, kTbazarModule));
  if (address) {
    LibcStrCopy(address, pending->callback);
    LibcStrCat(address, "?scl_p1=");
    LibcStrCat(address, status);
    LibcStrCat(address, "&scl_p2=");
    LibcStrCat(address, result);
    if (TskmanTask* ui = TskmanFind(Mod::Ui))
      TskmanPost(ui, BenMsg::UiNavigate, reinterpret_cast<uintptr_t>(address), 0);
    else
      MemFree(&address);
  }
  TbazarFree(pending);
}

Result StartTbazar(UrlLoad*, const ContentBody* body) {
  const uint8_t* bytes = body->bytes;
  const uint32_t size = body->size;
  uint32_t marker = 0;
  auto at = [&](uint32_t i) {
    for (uint32_t k = 0; k < kTbazarMarkerLength; ++k)
      if (bytes[i + k] != static_cast<uint8_t>(kTbazarMarker[k])) return false;
    return true;
  };
  while (marker + kTbazarMarkerLength <= size && !at(marker)) ++marker;
  if (marker + kTbazarMarkerLength > size) return TbazarCode::Refused;
  // The address ends at the body's last ";" (the marker's own when no other
  // follows it: then it runs to the end).
  const uint32_t from = marker + kTbazarMarkerLength;
  uint32_t to = size;
  while (to > from && bytes[to - 1] != ';') --to;
  to = to > from ? to - 1 : size;
  auto* pending = static_cast<TbazarPending*>(
      MemAllocZero(sizeof(TbazarPending), Use::Data, kTbazarModule));
  if (!pending) return TbazarCode::NoMemory;
  pending->text = CopyText(bytes, marker);
  pending->callback = CopyText(bytes + from, to - from);
  if (!pending->text || !pending->callback) {
    TbazarFree(pending);
    return TbazarCode::NoMemory;
  }
  // One confirmation at a time: the host refuses while one is running.
  if (ShellStartConfirmThread(reinterpret_cast<uintptr_t>(pending->text),
                              reinterpret_cast<uintptr_t>(pending), TbazarConfirmed) != kOk) {
    TbazarFree(pending);
    return TbazarCode::Refused;
  }
  return TbazarCode::Confirming;
}

Result Drop(UrlLoad*, const ContentBody*) { return kOk; }
Result DropGameInfo(UrlLoad*, const ContentBody*) { return GameInfoCode::Taken; }

constexpr CollectRow kMedia{89, MediaCode::NoMemory, MediaCode::TooLong, SaveMedia};
constexpr CollectRow kMap{93, MapCode::NoMemory, MapCode::TooLong, LaunchMap};
constexpr CollectRow kThreeD{90, ThreeDCode::NoMemory, ThreeDCode::TooLong, Drop};
constexpr CollectRow kPui{92, PuiCode::NoMemory, PuiCode::TooLong, InfoHook};
constexpr CollectRow kGameInfo{88, GameInfoCode::NoMemory, GameInfoCode::TooLong, DropGameInfo};
constexpr CollectRow kTbazar{kTbazarModule, TbazarCode::NoMemory, TbazarCode::Refused,
                             StartTbazar, TbazarCode::Refused};

}  // namespace

Result MediaContentProcess(UrlModuleContext*, UrlLoad* load) { return Collect(load, kMedia); }
Result MapContentProcess(UrlModuleContext*, UrlLoad* load) { return Collect(load, kMap); }
Result ThreeDContentProcess(UrlModuleContext*, UrlLoad* load) { return Collect(load, kThreeD); }
Result PuiContentProcess(UrlModuleContext*, UrlLoad* load) { return Collect(load, kPui); }
Result GameInfoContentProcess(UrlModuleContext*, UrlLoad* load) {
  return Collect(load, kGameInfo);
}

Result TbazarContentProcess(UrlModuleContext*, UrlLoad* load) { return Collect(load, kTbazar); }

Result CollectedContentRelease(UrlModuleContext*, UrlLoad* load) {
  ContentBodyRelease(load);
  return kOk;
}

void NdwnSetProvisioningHook(const NdwnProvisioningRow* row) { gProvisioning = row; }

uint8_t* NdwnHeldItem(uint32_t* length) {
  if (length) *length = gHeld.length;
  return gHeld.bytes;
}

void NdwnHeldItemFree() {
  const bool held = gHeld.bytes != nullptr;
  MemFree(&gHeld.bytes);
  gHeld.length = 0;
  if (held && gProvisioning && gProvisioning->forget) gProvisioning->forget();
}

Result NdwnContentProcess(UrlModuleContext*, UrlLoad* load) {
  const bool fresh = !load->handlerState;
  ContentBody* body = ContentBodyOfLoad(load, kNdwnModule);
  if (!body) return NdwnCode::NoMemory;
  if (fresh) {
    NdwnHeldItemFree();  // a new download replaces the one held
    UiProgressShow();
  }
  const bool waiting = load->input.head != nullptr;
  ContentBodyState state = ContentBodyState::Collecting;
  const Result r = ContentBodyCollect(body, load, kNdwnRoom, kNdwnModule, NdwnCode::NoMemory,
                                      NdwnCode::TooLong, &state);
  if (r == kOk && waiting) UiProgressStep(body->size, load->announcedLength);
  if (r != kOk || state == ContentBodyState::Complete) UiProgressHide();
  if (r != kOk) return EndLoad(load, r);
  if (state != ContentBodyState::Complete) return kOk;
  if (body->size == 0 || (load->announcedLength && body->size != load->announcedLength))
    return EndLoad(load, kOk);  // the load ended before the download was whole
  // Two downloads may collect at once: the one finished last takes the
  // place of the other's, which goes now.
  NdwnHeldItemFree();
  gHeld.bytes = body->bytes;
  gHeld.length = body->size;
  body->bytes = nullptr;
  if (gProvisioning && gProvisioning->hold) gProvisioning->hold(gHeld.bytes, gHeld.length);
  return EndLoad(load, NdwnCode::HandedOver);
}

Result NdwnContentRelease(UrlModuleContext* module, UrlLoad* load) {
  if (load->handlerState) UiProgressHide();  // the load went before its end
  return CollectedContentRelease(module, load);
}

Result PimsContentProcess(UrlModuleContext*, UrlLoad* load) {
  auto* s = static_cast<PimsState*>(load->handlerState);
  if (!s) {
    s = static_cast<PimsState*>(MemAllocZero(sizeof(PimsState), Use::Data, kPimsModule));
    if (!s) return PimsCode::NoMemory;
    s->active = PimsUrlNamesRecords(load) ? 1 : 0;
    load->handlerState = s;
  }
  Result r = kOk;
  while (UtilDataChunk* chunk = UtilDataChunkHead(&load->input)) {
    const uint8_t* bytes = UtilDataChunkData(chunk) + chunk->offset;
    uint32_t used = 0;
    while (used < chunk->remaining && r == kOk) {
      if (s->active) r = PimsByte(s, bytes[used]);
      ++used;
    }
    chunk->offset += used;
    chunk->remaining -= used;
    if (chunk->remaining == 0) {
      QueuePopFront(&load->input);
      MemFree(&chunk);
    }
    if (r != kOk) break;
  }
  if (r == kOk && !(load->endOfData && !load->input.head)) return kOk;
  MemFree(&s);
  load->handlerState = nullptr;
  load->events |= UrlEvent::Complete;
  return r != kOk ? r : PimsCode::Stored;
}

Result PimsContentRelease(UrlModuleContext*, UrlLoad* load) {
  MemFree(reinterpret_cast<PimsState**>(&load->handlerState));
  return kOk;
}

Result UsatContentProcess(UrlModuleContext*, UrlLoad* load) {
  ContentBody* body = ContentBodyOfLoad(load, kUsatModule);
  if (!body) return UsatCode::NoMemory;
  ContentBodyState state = ContentBodyState::Collecting;
  const Result r = ContentBodyCollect(body, load, kUsatRoom, kUsatModule, UsatCode::NoMemory,
                                      UsatCode::Refused, &state);
  if (r != kOk) return EndLoad(load, r);
  if (state != ContentBodyState::Complete) return kOk;
  // No length announced and nothing received: nothing to hand over.
  if (body->size == 0) return EndLoad(load, UsatCode::Refused);
  if (load->announcedLength && body->size != load->announcedLength)
    return EndLoad(load, kOk);  // the load ended early
  auto* text = static_cast<char*>(MemAlloc(body->size + 1, Use::Data, kUsatModule));
  if (!text) return EndLoad(load, UsatCode::NoMemory);
  for (uint32_t i = 0; i < body->size; ++i) text[i] = static_cast<char>(body->bytes[i]);
  text[body->size] = 0;
  const Result answer = ShellStubSaveUsat(text);
  MemFree(&text);
  return EndLoad(load, answer == kOk ? UsatCode::Taken : UsatCode::Refused);
}

Result UsatContentRelease(UrlModuleContext* module, UrlLoad* load) {
  return CollectedContentRelease(module, load);
}
