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

// The provisioning entry point that takes a complete download: the held
// buffer and its length. Provisioning installs it; until then a download is
// held without anyone told.
using ProvHeldItemSetLengthFn = void (*)(uint8_t* buffer, uint32_t length);
void NdwnSetProvisioningHook(ProvHeldItemSetLengthFn hook);
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
