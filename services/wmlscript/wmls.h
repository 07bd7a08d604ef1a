// The WMLScript engine: value cells, the operand stack, call frames, compiled
// units and their loader, the bytecode interpreter and the standard Lang,
// Float and String libraries. Integers, strings and booleans only: every
// floating-point source yields invalid.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

namespace WmlsType {
constexpr uint32_t Unset = 0, Invalid = 1, Integer = 2, Float = 3, String = 4, Reserved5 = 5,
                   Boolean = 6, Reserved7 = 7;
}

// The run's status word.
namespace WmlsStatus {
constexpr int32_t Running = 0, Exit = 1, Abort = 2, Returned = 3, NoMemory = 4,
                  WrongType = 0x1001, BadLibrary = 0x1002, Underflow = 0x1003,
                  CallDepth = 0x1004, CodeOverrun = 0x1005, BadVariable = 0x1006,
                  BadFunction = 0x1007, BadConstant = 0x1008, IntOverflow = 0x2000,
                  BadOpcode = 0xFF00;
}

// Results of the run operations.
namespace WmlsResult {
constexpr int32_t Ok = 0, NoFunction = -1001, Refused = -1002, NoMemory = -1003, NoUnit = -1004,
                  BadCall = -1005, ArgCount = -1006, Aborted = -1007, Suspended = -1008,
                  HttpError = -1009;
}

struct WmlsValue {
  uint32_t type;
  uintptr_t value;  // the integer, the boolean or the string pointer
  uint32_t borrowed;
};

inline int32_t WmlsInt(const WmlsValue& v) { return static_cast<int32_t>(static_cast<uint32_t>(v.value)); }
inline char16_t* WmlsStr(const WmlsValue& v) { return reinterpret_cast<char16_t*>(v.value); }
inline WmlsValue WmlsMakeInt(int32_t n) { return {WmlsType::Integer, static_cast<uint32_t>(n), 0}; }
inline WmlsValue WmlsMakeBool(bool b) { return {WmlsType::Boolean, b ? 1u : 0u, 0}; }
inline WmlsValue WmlsMakeInvalid() { return {WmlsType::Invalid, 0, 0}; }

struct WmlsFunctionDesc {
  uint8_t argCount;
  uint8_t localCount;
  uint32_t codeSize;
  const uint8_t* code;  // in a frame's copy; the unit's table keeps the offset below
  uint32_t codeOffset;
};

struct WmlsNameEntry {
  uint8_t function;
  uint32_t offset;  // in the name text, UTF-16 units
};

struct WmlsFunctionTable {
  uint8_t functionCount;
  uint8_t nameCount;
  WmlsNameEntry* names;
  WmlsFunctionDesc* functions;
  uint8_t* code;
  uint32_t codeBytes;
  char16_t* nameText;
};

struct WmlsPragma {
  uint32_t type;
  uint16_t index[3];
};

namespace WmlsPragmaType {
constexpr uint32_t AccessDomain = 0, AccessPath = 1, UaProperty = 2, UaPropertyScheme = 3;
}

struct WmlsUnit {
  uint8_t version;
  WmlsValue* constants;
  uint32_t constantCount;
  uint16_t charset;
  WmlsPragma* pragmas;
  uint32_t pragmaCount;
  WmlsFunctionTable functions;
};

struct WmlsFrame {
  uint32_t offset;
  int32_t stackTopAtEntry;
  int16_t variableCount;
  WmlsValue* variables;
  WmlsFunctionDesc* desc;
  WmlsFrame* previous;
};

struct WmlsRunContext {
  WmlsUnit* unit;
  WmlsValue* constants;
  uint32_t constantCount;
  WmlsFunctionTable* functions;
  const char16_t* functionName;
  int32_t functionIndex;
  WmlsValue* args;
  uint8_t argCount;
  int32_t status;
  WmlsFrame* frame;
  WmlsValue* stack;
  int32_t top;
  int32_t capacity;
  void* scriptTask;
  uint16_t suspended;
  uint16_t resumeKind;
  uint32_t randomState;
  WmlsValue result;
  // The block of the last frame removed, kept for the next call (a call
  // loop then allocates nothing); its size in bytes.
  WmlsFrame* spareFrame;
  uint32_t spareBytes;
  uint32_t depth;  // frames standing, so that a call need not count them
  // The URLs the access check compares; owned by whoever started the run.
  const char* referrer;
  const char* unitUrl;
};

using WmlsLibHandler = void (*)(WmlsRunContext* ctx, WmlsValue** args);
struct WmlsLibFunction {
  WmlsLibHandler handler;
  int32_t argCount;
};
struct WmlsLibrary {
  int32_t id;
  int32_t functionCount;
  const WmlsLibFunction* functions;
};

// The library table; a row of id -1 ends it. Rows of libraries that are not
// built in yet have no functions.
extern const WmlsLibrary kWmlsLibraries[];
extern const WmlsLibFunction kWmlsLangFunctions[];
extern const WmlsLibFunction kWmlsFloatFunctions[];
extern const WmlsLibFunction kWmlsStringFunctions[];

constexpr uint32_t kWmlsMaxFrames = 73;
constexpr uint32_t kWmlsSliceSteps = 102;

// Cells.
void WmlsValueRelease(WmlsValue* v);
void WmlsValueClear(WmlsValue* v);
// A new owned string cell holding a copy of count units (terminated); false
// when memory runs out (the cell is then invalid).
bool WmlsValueSetString(WmlsValue* v, const char16_t* text, uint32_t count);

// The operand stack.
int32_t WmlsStackPush(const WmlsValue* v, WmlsRunContext* ctx);
int32_t WmlsStackPushRef(const WmlsValue* v, WmlsRunContext* ctx);
int32_t WmlsStackPushTake(WmlsValue* v, WmlsRunContext* ctx);
// 0, or -1 with status 0x1003 on an empty stack.
int32_t WmlsStackPop(WmlsRunContext* ctx, WmlsValue* out);

// Conversions; failures go to the status word.
bool WmlsToBool(WmlsRunContext* ctx, const WmlsValue* v);
int32_t WmlsToInt(WmlsRunContext* ctx, const WmlsValue* v);
// A string cell (borrowed when v is one), or invalid.
WmlsValue WmlsToString(WmlsRunContext* ctx, const WmlsValue* v);
int32_t WmlsValueToInt(WmlsRunContext* ctx, const char16_t* text);
int32_t WmlsCompare(WmlsRunContext* ctx, const WmlsValue* a, const WmlsValue* b);

int32_t WmlsPushFrame(int32_t functionIndex, WmlsRunContext* ctx);
void WmlsPopFrame(WmlsRunContext* ctx);
void WmlsCallLibrary(int32_t library, int32_t function, WmlsRunContext* ctx);

// The interpreter. WmlsStep runs one instruction whose opcode the caller has
// fetched (the frame's offset already past it).
int32_t WmlsStep(uint8_t opcode, WmlsRunContext* ctx);

// A run of one function of a unit, the core the script task drives.
// WmlsRunStart sets the context up, pushes the arguments (copies) and the
// outermost frame; -1005 for a function index out of range, -1006 for a
// wrong argument count, -1003 out of memory.
int32_t WmlsRunStart(WmlsRunContext* ctx, WmlsUnit* unit, int32_t functionIndex,
                     const WmlsValue* args, uint8_t argCount);
// Runs at most `steps` instructions; 0 while the run goes on (status 0),
// else the status word's outcome: WmlsResult::Ok when the outermost function
// returned or Lang.exit ended it, -1007 for Lang.abort, -1002 for an error
// status, -1008 while suspended, -1003 out of memory.
int32_t WmlsRunSlice(WmlsRunContext* ctx, uint32_t steps);
// Frees the stack, frames, argument and result cells.
void WmlsRunRelease(WmlsRunContext* ctx);
// The index of the extern function of that name, or -1.
int32_t WmlsFindFunction(const WmlsUnit* unit, const char16_t* name);

// The loader.
namespace WmlsParse {
constexpr int32_t Ok = 0, Refused = -1002, NoMemory = -1003;
}
// Parses a whole compiled unit; result through *out (null on failure).
int32_t WmlsUnitParse(const uint8_t* bytes, uint32_t size, WmlsUnit** out);
void WmlsUnitFree(WmlsUnit** unit);
// 0 or -1002: the access pragmas against the run's referring URL.
int32_t WmlsCheckAccess(WmlsRunContext* ctx);

// The collector the content-type row drives: blocks of the load's input queue
// are gathered into one buffer sized from the unit's header; once the input
// ends the unit is parsed. When no buffer could be had, the blocks are
// only counted.
struct WmlsCollector {
  uint8_t* buffer;
  uint32_t collected;
  uint32_t size;
  uint32_t firstBlock;
};
// The collector's one failure code, whatever the cause. Its form reads as
// want of memory, so callers learn that apart (WmlsCollect's noMemory).
namespace WmlsErr {
constexpr Result Failed = 0x80230001u;
}
// Consumes the queued chunks. With endOfData set (no more data will come),
// parses what was collected: *unit gets the unit, the collector is freed and
// the result is kOk, or WmlsErr::Failed without a unit. On a failure,
// *noMemory (when given) says whether memory ran out for bytes the unit
// holds; a unit that claims more than it holds is bad bytes, never that.
Result WmlsCollect(WmlsCollector** state, Queue* input, int endOfData, WmlsUnit** unit,
                   bool* noMemory = nullptr);
void WmlsCollectorRelease(WmlsCollector** state);
