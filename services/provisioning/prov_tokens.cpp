// The token names of connectivity documents: value tokens rendered as text,
// and literal names (types, parm names, values the token tables lack) mapped
// back to the tokens the parser dispatches on.
#include "services/provisioning/prov_tokens.h"

#include "kernel/libc.h"
#include "kernel/lng.h"

namespace {

struct TokenName {
  uint32_t token;
  const char* name;
};

constexpr TokenName kNames[] = {
    {70, "1.0"},
    {81, "PXLOGICAL"}, {82, "PXPHYSICAL"}, {83, "PORT"}, {84, "VALIDITY"}, {85, "NAPDEF"},
    {86, "BOOTSTRAP"}, {87, "VENDORCONFIG"}, {88, "CLIENTIDENTITY"}, {89, "PXAUTHINFO"},
    {90, "NAPAUTHINFO"},
    {0xFF50, "EMAIL"}, {0xFF51, "POP3"}, {0xFF52, "SMTP"},
    {35, "PORTNBR"}, {36, "SERVICE"},
    {133, "IPV4"}, {134, "IPV6"}, {135, "E164"}, {136, "ALPHA"}, {137, "APN"},
    {154, "PAP"}, {155, "CHAP"}, {156, "HTTP BASIC"}, {157, "HTTP DIGEST"}, {158, "WTLS SS"},
    {144, "ANALOG_MODEM"}, {145, "V.120"}, {146, "V.110"}, {147, "X.31"},
    {148, "BIT_TRANSPARENT"}, {149, "DIRECT_ASYNCHRONOUS_DATA_SERVICE"},
    {163, "GSM-SMS"}, {165, "IS-95-CDMA-SMS"}, {166, "IS-95-CDMA-CSD"},
    {167, "IS-95-CDMA-PACKET"}, {170, "GSM-CSD"}, {171, "GSM-GPRS"}, {172, "AMPS-CDPD"},
    {202, "CL-WSP"}, {203, "CO-WSP"}, {204, "CL-SEC-WSP"}, {205, "CO-SEC-WSP"},
    {206, "CL-SEC-WTA"}, {207, "CO-SEC-WTA"},
    {0xFF05, "KEEPMAX"}, {0xFF06, "RETRIEVE"}, {0xFF07, "REPLYADDR"}, {0xFF08, "DNS"},
    {0xFF09, "NONEGDNS"}, {0xFF0A, "ISHTTP"}, {0xFF0B, "EXCLUDE"}, {0xFF0C, "USERACCESS"},
    {0xFF05, "EDIT"}, {0xFF06, "VIEW"}, {0xFF07, "DELETE"},
};

}  // namespace

const char* ProvTokenName(uint32_t token) {
  for (const TokenName& row : kNames)
    if (row.token == token) return row.name;
  return nullptr;
}

uint32_t ProvTokenOfName(const char16_t* text) {
  if (!text) return kProvNone;
  for (const TokenName& row : kNames)
    if (LngCompareNarrowWide(row.name, text) == 0) return row.token;
  return kProvNone;
}
