// Provisioning (module 55): connectivity documents that change the browser's
// connection settings. A document reaches the "provc" content row (or the
// push side's hook), its sender and security headers are checked, the user
// consents (and gives a PIN where the security method needs one), its MAC is
// checked, and the parsed document is committed into a numbered entry of the
// "//access" section. Nothing is written before all of that has passed.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "content/handover_rows.h"
#include "kernel/list.h"
#include "kernel/modules.h"
#include "markup/wbxml.h"

struct ConfigHandle;
struct TskmanTask;

namespace ProvCode {
constexpr Result NoMemory = 0x80370001;
constexpr Result Refused = 0x80378000;     // no sender, bad security headers, unsecured over secured
constexpr Result Cancelled = 0x80378001;   // the user said no, or a malformed document
constexpr Result AuthFailed = 0x80378002;  // PIN or MAC wrong
constexpr Result NoAccessPoint = 0x80378003;
}  // namespace ProvCode

namespace ProvMsg {
constexpr uint32_t Ask = Msg(Mod::Provisioning, 0x80);     // show the consent or PIN prompt
constexpr uint32_t Commit = Msg(Mod::Provisioning, 0x81);  // {status, 0}: write the entry
constexpr uint32_t PushStep = Msg(Mod::Provisioning, 0x82);  // a pushed document's next step
}  // namespace ProvMsg

// Where the parser is used: documents of the SIM or a local file, or others.
namespace ProvMode {
constexpr uint32_t Local = 1, Remote = 2;
}

constexpr uint32_t kProvNone = 0xFF3F;  // no type, no pending name
constexpr uint32_t kProvMaxDepth = 4;

struct ProvProxy {
  uint32_t pushEnabled;
  uint32_t master;
  uint16_t lookedUpPort;
  uint16_t pendingPort;
  uint16_t pendingServices;
  uint32_t serviceMask;
  uint16_t ports[6];  // per service bit: CL-WSP, CO-WSP, CL-SEC-WSP, CO-SEC-WSP, CL-SEC-WTA, CO-SEC-WTA
  char* domains;      // ';'-separated, owned
};

struct ProvAuthSlot {
  uint8_t basicOrDigest;
  uint8_t wtls;
  char* name;      // UTF-8, owned
  char* password;  // UTF-8, owned
};

// The parser's state; it begins with the decoder's callback record, so the
// callbacks find it.
struct ProvParser {
  WbxmlHandler handler;
  WbxmlDecoder* decoder;
  uint32_t mode;
  uint32_t accessLevel;  // written as "Access"
  uint32_t slot;         // number of the entry being provisioned
  uint32_t contextAllowSet, contextAllow;
  uint32_t typeStack[kProvMaxDepth];
  const char* pathStack[kProvMaxDepth];  // the tree path in effect at each level
  uint32_t depth;
  uint32_t type;     // current characteristic type
  uint32_t element;  // 5 document, 6 characteristic, 7 parm
  uint32_t skip;
  uint32_t attributes;
  uint32_t pendingName;
  // A value token of the attribute being read that the token-name table has
  // no name for (the decoder hands its value on as empty); kProvNone for none.
  uint32_t namelessValue;
  ConfigHandle* tree;  // the parsed settings
  const char* path;    // open in the tree; null: the root
  // Bootstrap data.
  uint32_t isHttp;
  char* name;
  char* startPage;
  char* authName;
  char* authPassword;
  ProvProxy logical, physical;
  char* proxyAddress;
  uint32_t proxyAddressType;
  uint32_t proxyIsHttp;
  char* exclude;
  char targetAp[17];  // at most 16 bytes, "*" for any
  ProvAuthSlot auth[2];
  uint32_t authSlot;
  uint32_t unsupportedBearer;
  uint32_t wroteHttp, wroteWap;
  uint32_t newEntry;  // the entry did not exist before this document
  uint32_t method;    // security method, 0 none, 1-4
  const char* initiator;  // the document's sender, for "url" and "name"
};

// A new parser for the mode with an empty settings tree; ProvCode::NoMemory.
Result ProvParserCreate(ProvParser** out, uint32_t mode);
// Sets up a parser the caller allocated (zeroed) as the first part of its own record.
Result ProvParserInit(ProvParser* parser, uint32_t mode);
// Decodes the queued data (the chunks are used up); at the document's end the
// tree is complete. Answers the decoder's status (kWbxmlFinished at the end),
// or the parser's own refusal.
Result ProvParserFeed(ProvParser* parser, Queue* data);
// The parsed tree, detached: the caller frees it.
ConfigHandle* ProvParserTakeResult(ProvParser* parser);
// Frees what the parser holds (not the record itself).
void ProvParserClear(ProvParser* parser);
void ProvParserFree(ProvParser** parser);
// Writes the parsed tree into the open, writable "//access" section: the
// entry named by the parser's slot, with its access points checked.
Result ProvWriteEntry(ProvParser* parser, ConfigHandle* access);

// The "provc" row.
Result ProvProcess(UrlModuleContext* module, UrlLoad* load);
Result ProvRelease(UrlModuleContext* module, UrlLoad* load);
Result ProvTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// The entry point of push reception: the connectivity document pushed under
// `url` (in the cache; the caller keeps and later releases it) is copied and
// applied as if a page had loaded it: consent, PIN, MAC, commit. 0 once it
// runs; ProvCode::Refused when the cache holds no such object.
Result ProvProvisionPushed(const char* url);
// The browser phase ends, and its popups with it: a pushed document still
// to be asked (consent or PIN), or whose question waits for the user, is let
// go, not applied, and said on standard error with its sender; so is every
// one pushed from now on until ProvBeginAsking. It is not asked again.
void ProvEndUnanswered();
// Says in one line the documents refused for want of memory and counted but
// not said yet (a flood is said a line a second): at the browser phase's end
// and the engine's.
void ProvSayRefusedCount();
// Popups can be shown again (the browser phase begins, or a new engine).
void ProvBeginAsking();
// How the document a load applies stands with its user: still to be asked
// (also before its first step), its question put and not all answered, or
// past the user (all answered, or ended).
enum class ProvUser : uint8_t { NotAsked, Asked, Done };
ProvUser ProvUserStanding(const UrlLoad* load);
// The sender of the document a load carries, as its question names it; a
// new text, null without memory.
char* ProvSender(const UrlLoad* load);
// A load the module steps itself rather than through the URL task: while
// the row waits for an answer the load is not stepped, and once the answer
// has come `task` receives ProvMsg::PushStep.
void ProvStepBy(UrlLoad* load, TskmanTask* task);

// The one downloaded item held for installation, handed over by the download row.
int ProvHeldItemSetLength(uint8_t* item, uint32_t length);
// The row has freed the item: it is no longer held.
void ProvHeldItemForget();
// The row the download row calls (hold and forget above).
extern const NdwnProvisioningRow kProvDownloadRow;
uint32_t ProvHeldItemKind();
Result ProvHeldItemCheck(uint32_t locationDigit);
void ProvHeldItemFree();
// How the held item is freed (the download row owns its buffer).
void ProvSetHeldItemRelease(void (*release)());
