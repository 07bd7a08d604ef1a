// Module ids, result codes and message numbers shared by every engine module.
#pragma once
#include <cstdint>

// A module id names an engine module: it is the owner tag of its allocations,
// its task id, bits 16-23 of its result codes and the high byte of its
// message numbers.
namespace Mod {
constexpr uint32_t Cache = 0, Tskman = 1, Config = 2, Sms = 3, WtlFile = 5, WtlDial = 6,
                   WtlHttp = 7, WtlWsp = 8, WtlUtil = 9, WtlGif = 10, WtlVcard = 11,
                   WtlVcal = 12, Url = 13, Pgl = 14, WtlWBmp = 15, WtlJpeg = 16, Render = 17,
                   TableRender = 18, Ui = 19, Ubstore = 20, AnimEng = 21, Wap = 22, Net = 23,
                   Dns = 24, Ben = 25, Libc = 26, Lng = 27, WtlHtml = 28, WtlInfo = 29,
                   WtlWtai = 31, WtlWtai2 = 32, WmlsExec = 34, WtlWmlsPrsr = 35, QorRom = 36,
                   DDriver = 37, WtlWmlc = 38, WtlMail = 39, WtlMailto = 40, Pwl = 42,
                   Popup = 43, RenderPlugin = 44, UiStart = 45, Input = 48, Ecapi = 49,
                   Ssl = 50, Wtls = 51, Modem = 52, Wbxml = 53, SStore = 54, Provisioning = 55,
                   SmsBridge = 56, Stat = 57, Authentication = 58, Cookies = 59, I18n = 61,
                   WtlRepository = 62, WtlReplib = 63, PalScard = 65, WscScheme = 67,
                   WtlNotify = 68, Notify = 69, Pict = 70, LocalContent = 74, VarParse = 77, Ticker = 78,
                   UserPref = 81, Status = 82, DebugHeap = 96, TestCode = 97, TestHarness = 98,
                   Performance = 99, PngGlue = 100, MngGlue = 101;
}  // namespace Mod

// The module's name as the engine's own module table gives it, or null for an
// id the table does not name.
const char* ModuleName(uint32_t id);

// A result code: 0 for success, otherwise 0x80000000 | module << 16 | code.
using Result = uint32_t;
constexpr Result kOk = 0;

namespace Err {
constexpr uint32_t NoMemory = 1, BadArg = 2, NotFound = 3;
}

constexpr Result ResultError(uint32_t module, uint32_t code) {
  return 0x80000000u | (module & 0xFF) << 16 | (code & 0xFFFF);
}
constexpr bool ResultFailed(Result r) { return (r & 0x80000000u) != 0; }
constexpr uint32_t ResultModule(Result r) { return (r >> 16) & 0xFF; }
constexpr uint32_t ResultCodeOf(Result r) { return r & 0xFFFF; }
// A failure of any module for want of memory.
constexpr bool ResultNoMemory(Result r) {
  return ResultFailed(r) && ResultCodeOf(r) == Err::NoMemory;
}

// Message numbers carry the module id in their high byte; the failure form of
// an answer adds 0x80.
constexpr uint32_t Msg(uint32_t module, uint32_t n) { return module << 8 | n; }
constexpr uint32_t kMsgFailed = 0x80;
