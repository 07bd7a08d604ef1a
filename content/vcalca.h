// Business cards and calendars: the vCard row (module WtlVcard, 11) and the
// vCalendar row (module WtlVcal, 12) parse their bodies into a scratch
// settings tree and fill the built-in pages "vcalca/vcard.html" and
// "vcalca/vcalendar.html" from it through the "vc" variable source; the
// shared text routines of both parsers live here too.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "kernel/modules.h"
#include "markup/varparse.h"

struct ConfigHandle;

constexpr Result kVcardNoMemory = 0x800B0001;
constexpr Result kVcardBadStructure = 0x800B8000;
constexpr Result kVcardBadInput = 0x800B8003;
constexpr Result kVcalNoMemory = 0x800C0001;
constexpr Result kVcalBadDate = 0x800C8000;
constexpr Result kVcalBadInput = 0x800C8003;

// --- Field routines -----------------------------------------------------------
bool VcHexDigit(char16_t unit);
uint32_t VcHexValue(char16_t unit);
// Appends one unit and a terminating 0, growing the buffer by 32 units;
// 0x80MM0001 of the module without memory.
Result VcLineAppend(char16_t** buffer, uint32_t* capacity, uint32_t* length, char16_t unit,
                    uint32_t module);
// With a parameter holding "QUOTED-PRINTABLE", "=XX" in the value becomes the
// unit of that value and the parameter leaves the list.
void VcQuotedPrintable(char16_t* value, uint32_t* count, char16_t** params);
namespace VcPhone {
constexpr uint32_t Pref = 1, Home = 2, Work = 4, Voice = 8, Cell = 16, Fax = 32;
}
namespace VcEmail {
constexpr uint32_t Pref = 1, Internet = 2;
}
uint32_t VcPhoneFlags(uint32_t count, char16_t* const* params);
uint32_t VcEmailFlags(uint32_t count, char16_t* const* params);
// Splits at ";" in place into up to seven parts; missing ones are null.
void VcSplitAddress(char16_t* value, char16_t* parts[7]);
// "family;given;additional;prefix;suffix" as "prefix given additional family
// suffix"; a new string of the module, null without memory.
char16_t* VcFormatName(const char16_t* value, uint32_t module);
// One "name=value" field of a query: 0 with the field (the value a new
// UTF-16 string of the module, "+" as space, %XX decoded from UTF-8), 3 when
// none is left, 0x8003 for a field without "=" or with a second "=", 1
// without memory. The cursor moves past the "&".
uint32_t VcQueryField(const char** cursor, const char** name, uint32_t* nameLength,
                      char16_t** value, uint32_t module);

// --- The "vc" variable source ---------------------------------------------------
// A client around a tree, the owner of the template job that fills a page.
struct VcClient;
VcClient* VcClientNew(ConfigHandle* tree, uint32_t module);
// Closes every loop still open and frees the client (not the tree).
void VcClientFree(VcClient** client);
// The source row "vc" and a table holding it, for VarParseInstallSources.
extern const VarParseSource kVcSourceRow;
extern const VarParseSource kVcSources[];

// --- The parsers -----------------------------------------------------------------
// The whole text of a body into the tree; 0 or the row's result code.
Result VcardParse(const char16_t* text, uint32_t length, ConfigHandle* tree);
Result VcalParse(const char16_t* text, uint32_t length, ConfigHandle* tree);
// The body's bytes as UTF-16: the byte-order mark, else the load's
// character set, else UTF-16 when a zero byte shows among the first two,
// else UTF-8. A new string of the module (null for none).
Result VcDecodeBody(const uint8_t* bytes, uint32_t size, uint32_t charset, char16_t** out,
                    uint32_t* length, uint32_t module);

// --- The rows -------------------------------------------------------------------
Result VcardContentProcess(UrlModuleContext* module, UrlLoad* load);
Result VcardContentRelease(UrlModuleContext* module, UrlLoad* load);
Result VcalContentProcess(UrlModuleContext* module, UrlLoad* load);
Result VcalContentRelease(UrlModuleContext* module, UrlLoad* load);

// --- The addrbook: and calendar: schemes ------------------------------------------
// "addrbook://add?name=..&number=..&email=..&address=.." writes a phonebook
// entry, "calendar://add?summary=..&dtstart=..&duration=.." a calendar entry,
// through the handset's services; a short-lived task (id 11 or 12) shows the
// answer in a message popup. The load itself makes no page.
Result AddrbookSchemeStart(UrlRequestRec* request, UrlLoad* load);
Result CalendarSchemeStart(UrlRequestRec* request, UrlLoad* load);
Result VcSchemeStep(UrlRequestRec* request, UrlLoad* load);

// The calendar entry handed to the service: the eight texts first, so that
// the service frees it as an array of eight pointers.
namespace VcCalText {
constexpr uint32_t Location = 0, Summary = 1, Description = 2, Category = 3, Comment = 4,
                   Status = 5, Organizer = 6, Contact = 7;
}
namespace VcCalTime {
constexpr uint32_t Start = 0, End = 1, Due = 2, LastModified = 3;
}
struct VcCalendarEntry {
  char16_t* texts[8];
  int64_t times[4];   // seconds since 1970
  uint32_t types[4];  // 0 none, 1 date, 2 date and time
  int64_t duration;   // -1 when absent
};

// The UI string (table 10) that tells the user a service's answer: for
// addrbook: the result and the error text (decimal WTAI code or null), for
// calendar: the result.
uint32_t VcAddrbookAnswerText(uintptr_t result, const char16_t* error);
uint32_t VcCalendarAnswerText(uintptr_t result);
