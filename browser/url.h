// The fetch layer (module 13): parsed URLs, the load record of one fetch,
// the scheme and content-type tables, the URL task with its sessions and
// requests, and the load step that runs a scheme and a content handler.
//
// A request names a load. The scheme row of the URL's scheme fills the
// load's input queue a block at a time; the content-type row's process turns
// the input into objects on the load's output list. One load step runs per
// message to the URL task, so fetches interleave with every other task.
#pragma once
#include <cstdint>

#include "kernel/datachunk.h"
#include "kernel/list.h"
#include "kernel/modules.h"
#include "kernel/tskman.h"

struct BenBrowser;
struct UrlLoad;
struct UrlRequestRec;
struct UrlSession;
struct UrlTaskContext;

// --- Result codes ----------------------------------------------------------
constexpr Result kUrlNoMemory = 0x800D0001;
constexpr Result kUrlBadUrl = 0x800D0002;
constexpr Result kUrlNotFound = 0x800D0003;
constexpr Result kUrlNoScheme = 0x800D0004;  // no scheme row serves the URL
constexpr Result kUrlClosing = 0x800D0005;   // the session's URL task is closing

// --- Messages ----------------------------------------------------------------
namespace UrlMsg {
constexpr uint32_t Complete = 0xD00;     // {request, 0}
constexpr uint32_t ClassKnown = 0xD01;   // {request, content class}
constexpr uint32_t Failed = 0xD04;       // {request, result code}
constexpr uint32_t Closed = 0xD06;       // {session or 0, 0}: a session or URL task has ended
constexpr uint32_t StatusKnown = 0xD07;  // {request, status}
constexpr uint32_t Watch = 0xD09;        // {watch argument, request}
constexpr uint32_t Step = 0xD10;         // the URL task's own: {request, 0}
}  // namespace UrlMsg

// --- Flags word of a load (request flags) -----------------------------------
namespace UrlFlag {
constexpr uint32_t Presented = 0x10000;
constexpr uint32_t Viewed = 0x20000;
constexpr uint32_t CidErrorHome = 0x40000;  // on a cid: error go to the home page
constexpr uint32_t Listed = 0x100000;
constexpr uint32_t RawData = 0x200000;      // no content handler: blocks collected as they came
constexpr uint32_t FitWidth = 0x2000000;    // fit images to the screen width
constexpr uint32_t Kept = 0x8000000;        // kept by the push inbox
}  // namespace UrlFlag

// --- Event word of a load: bit n reports step code n ------------------------
namespace UrlEvent {
constexpr uint32_t Error = 0x2;
constexpr uint32_t StatusKnown = 0x100;
constexpr uint32_t ClassKnown = 0x400;
constexpr uint32_t OutputAdded = 0x800;
constexpr uint32_t CidAnswered = 0x2000;
constexpr uint32_t Complete = 0x4000;
constexpr uint32_t Outside = 0x20000000;  // handled outside the browser
}  // namespace UrlEvent

// Why a load failed, for a content row whose failure code has the
// no-memory form whatever the cause: the row says which before it answers.
namespace UrlFailure {
constexpr uint8_t ByCode = 0, NoMemory = 1, Other = 2;
}

// Load status values besides the HTTP ones.
constexpr uint32_t kUrlStatusBuiltPage = 198;  // a page built by a handler
constexpr uint32_t kUrlStatusKeptOut = 199;    // a built-in page kept out of history

// Well-known content type ids.
namespace UrlType {
constexpr uint32_t Html = 2, Text = 3, Wml = 8, Wmlc = 20, WmlScriptc = 21, Jpeg = 30, Png = 32,
                   Wbmp = 33, Wbxml = 41, Sic = 46, Slc = 48, ConnectivityWbxml = 54;
}

// --- Parsed URL --------------------------------------------------------------
// Every part is its own text (module 13); null when the URL has no such part,
// which is not the same as an empty one ("http://a?" has an empty query).
// The parameters are those of the last path segment, after its first ';'.
struct UrlParsed {
  char* scheme;  // lower case
  char* user;
  char* password;
  char* host;  // null: no authority
  uint16_t port;
  uint8_t portGiven;
  char* path;
  char* params;
  char* query;
  char* fragment;
};

// UrlToString flags.
constexpr uint32_t kUrlNoFragment = 1;

// Splits a URL (absolute, or a relative reference whose parts are then
// missing) into its parts; out is cleared first. 0; kUrlNoMemory; kUrlBadUrl
// for a port that is not a number up to 65535 or an unclosed "[".
Result UrlParse(UrlParsed* out, const char* text, uint32_t flags);
// A new text of the parsed URL (module 13); null without memory.
Result UrlToString(char** out, const UrlParsed* url, uint32_t flags);
// Reference resolution against a base (strictly: a reference with a scheme
// is taken as it is, dot segments removed).
Result UrlResolve(UrlParsed* out, const UrlParsed* base, const char* embedded);
Result UrlCopyParsed(UrlParsed* out, const UrlParsed* url);
void UrlFreeParsed(UrlParsed* url);
// Decodes %XX escapes in place (a '%' not followed by two hex digits stays).
void UrlUnescapeInPlace(char* text);
// A new decoded copy of a URL component; with plus, '+' becomes a blank.
Result UrlPercentDecode(const char* text, char** out, int plus);

// --- Headers -----------------------------------------------------------------
struct UrlHeader {
  UrlHeader* next;
  char* name;
  char* value;
};

// --- Rows of the two tables -------------------------------------------------
struct UrlModuleContext;

// Called with the URL module context and the load.
using UrlProcessFn = Result (*)(UrlModuleContext* module, UrlLoad* load);
using UrlReleaseFn = Result (*)(UrlModuleContext* module, UrlLoad* load);

struct UrlContentTypeRow {
  UrlProcessFn process;  // null: the data passes on unchanged
  UrlReleaseFn release;
  const char* extensions;  // ';'-separated
  uint32_t typeId;
  const char* major;  // ';'-separated
  const char* minor;  // ';'-separated
  uint32_t contentClass;
};

using UrlSchemeStepFn = Result (*)(UrlRequestRec* request, UrlLoad* load);
using UrlSchemeModuleFn = Result (*)(UrlModuleContext* module);

// Scheme row flags.
namespace UrlSchemeFlag {
constexpr uint32_t SendsBody = 1;  // the request carries a body of its own
constexpr uint32_t Cached = 2;     // completed loads stay in the cache
}  // namespace UrlSchemeFlag

struct UrlSchemeRow {
  UrlSchemeStepFn step;       // each load step until the data has ended
  UrlSchemeStepFn close;      // once, when the load closes; may be null
  const char* schemes;        // ';'-separated
  UrlSchemeModuleFn moduleInit;  // when the URL module starts; may be null
  UrlSchemeModuleFn moduleTerm;  // when it stops; may be null
  UrlSchemeStepFn start;      // once, when a load starts; may be null
  uint32_t flags;
};

// The product's tables.
extern const UrlContentTypeRow kUrlContentTypes[];
extern const uint32_t kUrlContentTypeCount;
extern const UrlSchemeRow kUrlSchemes[];
extern const uint32_t kUrlSchemeCount;

// Extra rows looked up after the product's own: the tests' fetch driver
// plugs its scheme (and content rows) in here. Null and 0 remove them.
void UrlSetExtraRows(const UrlSchemeRow* schemes, uint32_t schemeCount,
                     const UrlContentTypeRow* types, uint32_t typeCount);

// The content handlers' rows (and their schemes, such as pict:). The
// handlers live above the fetch layer, so their tables are handed down once
// at start-up (and by test fixtures); their content rows come first in table
// order, the fetch layer's own rows serve the types no handler row names;
// their scheme rows follow the product's. Null and 0 remove them.
void UrlSetHandlerRows(const UrlContentTypeRow* types, uint32_t typeCount,
                       const UrlSchemeRow* schemes, uint32_t schemeCount);

// The services' rows (provisioning, channels and the like), looked up after
// the content handlers' and before the fetch layer's own. Null and 0 remove them.
void UrlSetServiceRows(const UrlContentTypeRow* types, uint32_t typeCount,
                       const UrlSchemeRow* schemes, uint32_t schemeCount);

const UrlSchemeRow* UrlFindScheme(const char* scheme);
// Every scheme row by index, the product's first, then the extra ones; null
// past the end.
const UrlSchemeRow* UrlSchemeRowAt(uint32_t index);
// The first row in table order with the id, or null.
const UrlContentTypeRow* UrlFindContentTypeById(uint32_t typeId);

// --- The URL module context ------------------------------------------------
constexpr uint32_t kUrlWorkBufferSize = 256000;
// The work buffer is taken only while the heap keeps this much beside it: a
// heap a little larger than the buffer runs without it, as one too small to
// hold it at all, rather than take it only to give it up at once.
constexpr uint32_t kUrlWorkBufferReserve = 32 * 1024;

// Lent to one process call at a time; nothing is kept in the work buffer
// between calls.
struct UrlModuleContext {
  uint8_t* workBuffer;
  uint32_t workBufferSize;  // kUrlWorkBufferSize, or 0 when it could not be had
  BenBrowser* browser;
  uint32_t users;  // URL tasks standing; the module stops with the last
  uint32_t workHolds;  // users of the work buffer within their call
  uint8_t workGaveWay;  // it was had, and gave way: the next user takes it again
};

// The work buffer never costs the rest of the engine memory it needs: when
// the heap cannot meet a request and the object cache has nothing left to
// free, the buffer is freed, unless a user holds it. A user (a content row
// that decodes into it, a frame decoded on demand) holds it for its call
// and reads the context's buffer and size after the hold; a buffer that
// gave way is taken again by the hold when the heap keeps the reserve
// beside it. Taking it frees cached objects where they stand in its way,
// never anything else.
uint8_t* UrlWorkBufferHold(UrlModuleContext* module);
void UrlWorkBufferLetGo(UrlModuleContext* module);
// The module's start takes the buffer (when the heap has room for it and
// the reserve) and lets it give way from then on.
void UrlWorkBufferTake(UrlModuleContext* module);

// A hold for the scope of one call.
class UrlWorkBufferUse {
 public:
  explicit UrlWorkBufferUse(UrlModuleContext* module) : module_(module) {
    UrlWorkBufferHold(module);
  }
  ~UrlWorkBufferUse() { UrlWorkBufferLetGo(module_); }
  UrlWorkBufferUse(const UrlWorkBufferUse&) = delete;
  UrlWorkBufferUse& operator=(const UrlWorkBufferUse&) = delete;

 private:
  UrlModuleContext* module_;
};

// The context while the module runs (a URL task stands), else null.
UrlModuleContext* UrlGetModule();
// The engine was stopped without its tasks' own stops (its heap goes): the
// module's context went with it, and the next URL task starts afresh.
void UrlModuleForget();
void UrlSetBrowser(BenBrowser* browser);

// --- The load record -------------------------------------------------------
using CacheFreeHook = void (*)(UrlLoad* load);

struct UrlLoad {
  ListNode cacheLink;   // in the cache, most recently used last
  UrlParsed url;
  char* name;           // the URL without its fragment: the cache key
  uint32_t flags;       // UrlFlag
  uint32_t events;      // UrlEvent
  uint32_t typeId;
  uint32_t contentClass;
  uint32_t status;
  uint32_t charset;     // MIBenum, 0 when not known
  int32_t expiry;       // seconds since 1970, 0 for none
  uint32_t announcedLength;  // Content-Length, 0 when none
  uint32_t delivered;        // body bytes the scheme has delivered
  uint32_t endOfData;        // 1 once the scheme has delivered the last byte
  uint32_t completion;
  int32_t lookAhead;         // a byte 0-255, negative when none
  void* handlerState;        // the content-type row's
  Queue input;               // UtilDataChunk blocks, oldest first
  Queue output;              // objects whose first word links them
  uintptr_t schemeRecord;    // the scheme row's
  const UrlContentTypeRow* contentRow;
  const UrlSchemeRow* schemeRow;
  UrlHeader* headers;
  Result result;        // the failure reported, 0 while none
  // Frees one object of the output list; null frees each as one allocation
  // (data blocks and flat records). Producers of compound objects set it.
  void (*outputFree)(UrlLoad* load, QueueNode* object);
  uint32_t locks;       // UrlLoadSetFlags calls not yet undone
  uint32_t users;       // requests naming the load
  uint8_t inCache;
  uint8_t closed;       // scheme close and content release have run
  // The content handler has all the data and waits for an answer of its own
  // (the user, a settings file): no step runs until UrlLoadWake.
  uint8_t waiting;
  // Why the load failed where its code cannot say (UrlFailure).
  uint8_t failure;
  CacheFreeHook freeHook;
};

// A new load of the URL (module 13), not cached; null without memory.
UrlLoad* UrlLoadCreate(const UrlParsed* url);
// Closes the load (scheme close, content release) if it is not yet closed.
void UrlLoadClose(UrlLoad* load);
// Closes and frees a load that is in no cache and named by no request.
void UrlLoadFree(UrlLoad* load);
// Adds a header (copies of both texts); kUrlNoMemory.
Result UrlAddHeader(UrlLoad* load, const char* name, const char* value);
// 0 and the load's own text of the header (names compared case-insensitively),
// non-zero when it has none.
Result UrlGetHeader(const UrlLoad* load, const char* name, const char** value);
// Appends the bytes as one block of the input queue and counts them.
Result UrlLoadDeliver(UrlLoad* load, const uint8_t* bytes, uint32_t count);
// Links an object (its first word is the link) to the output list and sets
// the output-added event.
void UrlLoadAddOutput(UrlLoad* load, QueueNode* object);

Result UrlSetContentTypeId(UrlLoad* load, uint32_t typeId);
Result UrlSetContentTypeMime(UrlLoad* load, const char* mime);
Result UrlSetContentTypeByExt(UrlLoad* load, const char* extension);
Result UrlLoadSetHandlerById(UrlLoad* load, uint32_t typeId);
// ";name=value" parameters of a content type; "charset" sets the character set.
Result UtilParseContentParams(UrlLoad* load, const char* params);

// --- URL task, sessions, requests --------------------------------------------
// The tasks the URL layer answers are named as they are handed over: one
// that ends without closing its session or request is not answered, nor is a
// later task made in its record.
struct UrlTaskContext {
  TskmanTask* task;
  TskmanRef owner;
  ListHead sessions;
  uint8_t closing;
};

struct UrlSession {
  ListNode link;  // in the URL task's sessions
  UrlTaskContext* urlTask;
  TskmanRef requester;
  ListHead requests;
};

struct UrlRequestRec {
  ListNode link;         // in the session's requests
  BenBrowser* browser;   // the third word: the requesting browser instance
  UrlSession* session;
  UrlLoad* load;
  TskmanRef requester;
  TskmanRef watcher;
  uintptr_t watchArg;
  QueueNode* cursor;     // the output object UrlLoadNextChunk gave last
  uint32_t reported;     // event bits already reported to the requester
  uint8_t outputSeen;    // a cached load's output has been announced
  uint8_t fromCache;
  uint8_t stepPending;
  uint8_t finished;      // complete or failed: no more steps
};

Result UrlStartTask(UrlTaskContext** out, TskmanTask* owner);
void UrlStopTask(UrlTaskContext* urlTask);
Result UrlSessionCreate(UrlSession** out, TskmanTask* requester);
// A session for the requester in the URL task that urlOwner started (else
// the first that stands): a task whose fetches must last as long as that
// owner's URL task names it here.
Result UrlSessionCreateWith(UrlSession** out, TskmanTask* requester, TskmanTask* urlOwner);
void UrlSessionDestroy(UrlSession* session);
Result UrlRequest(UrlSession* session, const char* url, uint32_t flags, UrlRequestRec* referrer,
                  UrlRequestRec** out, uintptr_t reserved1, TskmanTask* requester,
                  uintptr_t reserved2);
void UrlRequestDone(UrlSession* session, UrlRequestRec* request);
// True while the request stands in a session of a running URL task. A
// request handed over in a message may be finished before the message is
// taken; the pointer is only compared, never read.
bool UrlRequestIsLive(const UrlRequestRec* request);
UrlLoad* UrlRequestLoad(UrlRequestRec* request);
// Whether the request's load failed with `code` for want of memory: as its
// content row said, else as the code says.
bool UrlFailedForMemory(const UrlRequestRec* request, Result code);
void UrlRequestWatch(UrlRequestRec* request, TskmanTask* task, uintptr_t argument);
// A new text (module 13) of the request's URL; 0 when given.
Result UrlOfRequest(char** out, const UrlRequestRec* request);
uint32_t UrlLoadContentClass(const UrlRequestRec* request);
uint32_t UrlLoadTypeId(const UrlRequestRec* request);
uint32_t UrlLoadStatus(const UrlRequestRec* request);
int32_t UrlLoadExpiry(const UrlRequestRec* request);
// The next object of the load's output after the last one this request was
// given (the object stays the load's); 0 when one was given, non-zero at the end.
Result UrlLoadNextChunk(UrlRequestRec* request, void** out);
// Lock (unlock) the load in the cache while setting (clearing) the bits.
void UrlLoadSetFlags(UrlLoad* load, uint32_t bits);
void UrlLoadClearFlags(UrlLoad* load, uint32_t bits);
// The answer a waiting content handler was waiting for has come: the
// requests naming the load are stepped again.
void UrlLoadWake(UrlLoad* load);

// The URL task's handler, for the task manager.
Result UrlTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);
