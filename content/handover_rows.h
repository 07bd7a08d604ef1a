// The rows whose bodies go to the handset rather than to a page: ndwn
// downloads (held for provisioning to examine and install), pims records of
// personal data (each to the handset's store) and usat bodies (whole to the
// SIM toolkit). Each ends its load with a code of its own that tells the
// fetch layer the content was consumed.
#pragma once
#include <cstdint>

#include "browser/url.h"

namespace NdwnCode {
constexpr Result NoMemory = 0x80550001, TooLong = 0x80550002, HandedOver = 0x8055000B;
}
namespace PimsCode {
constexpr Result NoMemory = 0x80570001, Stored = 0x8057000F;
}
namespace UsatCode {
constexpr Result NoMemory = 0x805F0001, Refused = 0x805F0002, Taken = 0x805F0012;
}

namespace MediaCode {
constexpr Result NoMemory = 0x80590001, TooLong = 0x80590002, Saved = 0x80550010;
}
namespace MapCode {
constexpr Result NoMemory = 0x805D0001, TooLong = 0x805D0002;
}
namespace ThreeDCode {
constexpr Result NoMemory = 0x805A0001, TooLong = 0x805A0002;
}
namespace GameInfoCode {
constexpr Result NoMemory = 0x80580001, TooLong = 0x80580002, Taken = 0x8058000E;
}

namespace TbazarCode {
constexpr Result NoMemory = 0x805E0001, Refused = 0x805E0002, Confirming = 0x805E0011;
}

namespace PuiCode {
constexpr Result NoMemory = 0x805C0001, TooLong = 0x805C0002, Taken = 0x80550014;
}

// What provisioning learns of the download held for it, filled by
// provisioning: `hold` takes a complete download (its buffer stays this
// row's), `forget` is told when the row has freed it (a new download
// starts, or provisioning is done with it), so that nothing points at it.
struct NdwnProvisioningRow {
  void (*hold)(uint8_t* buffer, uint32_t length);
  void (*forget)();
};
void NdwnSetProvisioningHook(const NdwnProvisioningRow* row);
// The download held for provisioning (null when none) and its length.
uint8_t* NdwnHeldItem(uint32_t* length);
// Frees the held download: provisioning does once it is done with it.
void NdwnHeldItemFree();

Result NdwnContentProcess(UrlModuleContext* module, UrlLoad* load);
Result NdwnContentRelease(UrlModuleContext* module, UrlLoad* load);
Result PimsContentProcess(UrlModuleContext* module, UrlLoad* load);
Result PimsContentRelease(UrlModuleContext* module, UrlLoad* load);
Result UsatContentProcess(UrlModuleContext* module, UrlLoad* load);
Result UsatContentRelease(UrlModuleContext* module, UrlLoad* load);
// Rows that collect the whole body and hand it on: k3g video and audio to
// the handset's media store, map bodies to the map viewer; 3d and
// game_info bodies are taken and dropped. One release serves them all.
Result MediaContentProcess(UrlModuleContext* module, UrlLoad* load);
Result MapContentProcess(UrlModuleContext* module, UrlLoad* load);
Result ThreeDContentProcess(UrlModuleContext* module, UrlLoad* load);
Result GameInfoContentProcess(UrlModuleContext* module, UrlLoad* load);
Result CollectedContentRelease(UrlModuleContext* module, UrlLoad* load);
// Commerce-brand (tbazar) bodies: the text before ";CBURL=" goes to the
// handset's delayed confirmation; when it answers, the browser is sent to
// the callback address that follows the marker, with the answer attached.
Result TbazarContentProcess(UrlModuleContext* module, UrlLoad* load);
// platform/app bodies go as text to the handset's info hook.
Result PuiContentProcess(UrlModuleContext* module, UrlLoad* load);
