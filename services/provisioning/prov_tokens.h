// Token names of connectivity documents.
#pragma once
#include <cstdint>

#include "services/provisioning/prov.h"

// The text of a value token (or of a type or name token), null for none.
const char* ProvTokenName(uint32_t token);
// The token whose name is the text exactly, kProvNone for none.
uint32_t ProvTokenOfName(const char16_t* text);

// Characteristic types.
namespace ProvType {
constexpr uint32_t Named = 80, PxLogical = 81, PxPhysical = 82, Port = 83, Validity = 84,
                   NapDef = 85, Bootstrap = 86, VendorConfig = 87, ClientIdentity = 88,
                   PxAuthInfo = 89, NapAuthInfo = 90, Email = 0xFF50, Pop3 = 0xFF51,
                   Smtp = 0xFF52;
}
inline bool ProvKnownType(uint32_t t) {
  return (t >= ProvType::Named && t <= ProvType::NapAuthInfo) ||
         (t >= ProvType::Email && t <= ProvType::Smtp);
}
