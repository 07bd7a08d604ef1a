// The rows that hand a whole body to the handset rather than show it:
// downloads held for provisioning (ndwn), SIM-toolkit texts (usat), media,
// map, 3d, platform-info, game-info and commerce-brand (tbz) bodies. Byte 0
// picks the row (low four bits) and the handset's answer (bit 4: refuse);
// the rest goes through the row as the fetch layer delivers it (see
// row_fuzz.h). Whatever the body, a row answers one of its own codes, hands
// over exactly the body it received and only a whole one, a tbz text is what
// came before its first ";CBURL=", and once the handset has answered (and
// provisioning has let the download go) nothing stays behind.
#include <cstring>
#include <vector>

#include "content/handover_rows.h"
#include "fuzz/row_fuzz.h"
#include "host/platform/handover.h"
#include "host/platform/handset.h"

namespace {

struct Row {
  UrlContentTypeRow row;
  const char* url;
  std::vector<Result> codes;  // besides kOk
};

const Row kRows[] = {
    {{NdwnContentProcess, NdwnContentRelease, "", 138, "application", "ndwn", 0},
     "http://h/a.ndwn",
     {NdwnCode::NoMemory, NdwnCode::TooLong, NdwnCode::HandedOver}},
    {{UsatContentProcess, UsatContentRelease, "", 158, "application", "usat", 0},
     "http://h/a.ust",
     {UsatCode::NoMemory, UsatCode::Refused, UsatCode::Taken}},
    {{MediaContentProcess, CollectedContentRelease, "", 155, "video", "k3g", 0},
     "http://h/a.k3g",
     {MediaCode::NoMemory, MediaCode::TooLong, MediaCode::Saved}},
    {{MediaContentProcess, CollectedContentRelease, "", 156, "audio", "k3g", 0},
     "http://h/b.k3g",
     {MediaCode::NoMemory, MediaCode::TooLong, MediaCode::Saved}},
    {{MapContentProcess, CollectedContentRelease, "", 155, "map", "sis", 0},
     "http://h/a.map-sis",
     {MapCode::NoMemory, MapCode::TooLong}},
    {{ThreeDContentProcess, CollectedContentRelease, "", 155, "application", "3d", 0},
     "http://h/a.3d",
     {ThreeDCode::NoMemory, ThreeDCode::TooLong}},
    {{PuiContentProcess, CollectedContentRelease, "", 139, "platform", "app", 0},
     "http://h/a.pui",
     {PuiCode::NoMemory, PuiCode::TooLong, PuiCode::Taken}},
    {{GameInfoContentProcess, CollectedContentRelease, "", 157, "application", "game_info", 0},
     "http://h/a.game_info",
     {GameInfoCode::NoMemory, GameInfoCode::TooLong, GameInfoCode::Taken}},
    {{TbazarContentProcess, CollectedContentRelease, "", 156, "application", "tbazar", 0},
     "http://h/a.tbz",
     {TbazarCode::NoMemory, TbazarCode::Refused, TbazarCode::Confirming}},
};
constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];

// The body as delivered, and what the handset was given.
const uint8_t* gBody = nullptr;
size_t gBodySize = 0;
bool gRefuse = false;
int gHandedOver = 0;
uintptr_t gPending = 0;
ShellConfirmCallback gConfirm = nullptr;
int gHeld = 0, gForgotten = 0;

bool IsBody(const uint8_t* bytes, uint32_t length) {
  return length == gBodySize && std::memcmp(bytes, gBody, length) == 0;
}
// A text made of the body: its bytes up to the first zero byte.
bool IsBodyText(const char* text) {
  const size_t n = std::strlen(text);
  return n <= gBodySize && std::memcmp(text, gBody, n) == 0 && (n == gBodySize || gBody[n] == 0);
}
// What each handover hook does with what it is given: counts it, checks it
// is the body, and answers as told.
Result HandedOver(bool isBody) {
  ++gHandedOver;
  RowCheck(isBody);
  return gRefuse ? kHandsetNone : kOk;
}

Result SaveUsat(const char* text) { return HandedOver(IsBodyText(text)); }
Result SaveMedia(const uint8_t* body, uint32_t length, const char* major, uint32_t) {
  RowCheck(!std::strcmp(major, "video") || !std::strcmp(major, "audio"));
  return HandedOver(IsBody(body, length));
}
Result LaunchMap(const uint8_t* body, uint32_t length, uint32_t, uint32_t) {
  return HandedOver(IsBody(body, length));
}
Result InfoHook(const char* text, const char*) { return HandedOver(IsBodyText(text)); }

const HandoverOps kHandover{nullptr, SaveUsat, SaveMedia, LaunchMap, InfoHook};

// The text asked about is what came before the first marker.
Result StartConfirm(uintptr_t text, uintptr_t value, ShellConfirmCallback callback) {
  ++gHandedOver;
  const char* t = reinterpret_cast<const char*>(text);
  const uint8_t* marker = nullptr;
  for (size_t i = 0; i + 7 <= gBodySize && !marker; ++i)
    if (std::memcmp(gBody + i, ";CBURL=", 7) == 0) marker = gBody + i;
  RowCheck(marker != nullptr);
  const size_t n = std::strlen(t);
  RowCheck(n <= static_cast<size_t>(marker - gBody) && std::memcmp(t, gBody, n) == 0);
  if (gRefuse) return kHandsetNone;
  RowCheck(gConfirm == nullptr);
  gPending = value;
  gConfirm = callback;
  return kOk;
}

HandsetOps MakeHandset() {
  HandsetOps ops{};
  ops.startConfirmThread = StartConfirm;
  return ops;
}
const HandsetOps kHandset = MakeHandset();

// Provisioning's side of a held download.
void Hold(uint8_t* buffer, uint32_t length) {
  ++gHeld;
  uint32_t held = 0;
  RowCheck(NdwnHeldItem(&held) == buffer && held == length && IsBody(buffer, length));
}
void Forget() { ++gForgotten; }
const NdwnProvisioningRow kProvisioning{Hold, Forget};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Row& row = kRows[(data[0] & 15) % kRowCount];
  gRefuse = (data[0] & 16) != 0;
  gBody = data + 2;
  gBodySize = size - 2;
  gHandedOver = gHeld = gForgotten = 0;
  gPending = 0;
  gConfirm = nullptr;
  const HandoverOps* oldHandover = HandoverInstall(&kHandover);
  const HandsetOps* oldHandset = HandsetInstall(&kHandset);
  NdwnSetProvisioningHook(&kProvisioning);
  Result last = kOk;
  FuzzRowRun(
      data + 1, size - 1, row.url, 4u << 20,
      [&](UrlLoad* load) { load->contentRow = &row.row; },
      [&](Result r, UrlLoad* load) {
        last = r;
        bool known = r == kOk;
        for (Result code : row.codes) known = known || r == code;
        RowCheck(known);
        if (r != kOk) RowCheck(load->handlerState == nullptr);
        if (r == NdwnCode::HandedOver) {
          // Provisioning is done with it: the row frees it and says so.
          RowCheck(gHeld == 1);
          NdwnHeldItemFree();
          RowCheck(gForgotten == 1 && NdwnHeldItem(nullptr) == nullptr);
        }
        // The handset's answer comes later, on the engine's thread; with no
        // browser window to go to, the address is let go.
        if (gConfirm) {
          RowCheck(r == TbazarCode::Confirming);
          gConfirm(gRefuse ? nullptr : "ok", "1", gPending);
          gConfirm = nullptr;
        }
      });
  // Only a whole body goes over, once.
  RowCheck(gHandedOver + gHeld <= 1);
  if (gHandedOver + gHeld == 1) RowCheck(last != kOk || row.row.process == MapContentProcess);
  NdwnSetProvisioningHook(nullptr);
  HandsetInstall(oldHandset);
  HandoverInstall(oldHandover);
  return 0;
}
