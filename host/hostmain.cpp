#include "host/hostmain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "browser/cache.h"
#include "host/crash.h"
#include "host/hostfolder.h"
#include "host/hostini.h"
#include "host/hostloop.h"
#include "host/hostsettings.h"
#include "host/modem.h"
#include "host/platform/files.h"
#include "host/platform/say.h"
#include "host/platform/shell.h"
#include "host/skin.h"
#include "host/smsbridge.h"
#include "host/smsservice.h"
#include "host/trace.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uistart.h"

namespace {

HostSettings* gSettings = nullptr;
const HostShellOps* gShell = nullptr;
std::vector<uint16_t> gFrameBuffer;
bool gSaveFailed = false;  // a file could not be saved during this run
bool gHomePageFailed = false;  // the home page could not run for want of memory
bool gHistoryLost = false;     // memory could not hold the history
bool gSizeShort = false;       // [Memory] Size is short of the one size the run needs
bool gFileUnread = false;      // a kept file memory could not read whole
std::vector<std::string> gUnreadSaid;  // the kept files said unread, each once a run

struct BlockFree {
  void operator()(void* p) const { std::free(p); }
};

// Names a size that runs: the one the storage quotas need, or, for a run
// that failed with as much (a larger home page), twice as much.
void MemoryAdvice(uint32_t kb, char* text, size_t size) {
  const uint32_t kStarts = HostMemoryKbNeeded(), kMax = kHostMemoryKbMax;
  if (kb >= kMax) {
    std::snprintf(text, size, "[Memory] Size in qor.ini is already the largest, %u.", kMax);
    return;
  }
  const uint32_t more = kb < kStarts ? kStarts : kb * 2 < kMax ? kb * 2 : kMax;
  std::snprintf(text, size, "raise [Memory] Size in qor.ini from %u to %u%s.", kb, more,
                kb < kStarts ? " or more" : "");
}

// A file the engine could not save is said on standard error and kept in
// the trace log; one memory could not keep names the size that keeps it.
void SaveFailed(const char* path, int error, const char* what) {
  gSaveFailed = true;
  char said[480];
  if (what && gSettings &&
      (std::strstr(what, "not enough memory") || std::strstr(what, "for want of memory"))) {
    const int n = std::snprintf(said, sizeof said, "%s; ", what);
    if (n > 0 && static_cast<size_t>(n) < sizeof said) {
      MemoryAdvice(gSettings->memoryBytes / 1024, said + n, sizeof said - n);
      PlatformFileSayFailed(path, error, said);
    } else {
      PlatformFileSayFailed(path, error, what);
    }
  } else {
    PlatformFileSayFailed(path, error, what);
  }
  if (!path)
    LogPrint(kLogDefaultId, "%s\n", what ? what : "lost");
  else
    LogPrint(kLogDefaultId, "could not save %s: %s\n", path,
             what ? what : error ? std::strerror(error) : "write failed");
}

void Poll(void*) {
  ModemDialPoll();
  ModemPostEvents();
}
Result Step(void*) { return TskmanStep(); }

}  // namespace

const char kHostNoSkinText[] =
    "No skin bitmaps found! Skin setup information should be specified via your qor.ini file by "
    "including a line \"skin=<skin ini filename>\" in the [Display] section of qor.ini. Check out "
    "the example skin initialisation files for information about their correct structure.";

HostSettings* HostCurrentSettings() { return gSettings; }

int HostExitStatus(Result result) {
  return (result == kUiStartFinished || result == kOk) && !gSaveFailed && !gHomePageFailed &&
                 !gHistoryLost && !gSizeShort && !gFileUnread
             ? 0
             : 1;
}

// What memory kept from running, once a run however often it fails (the
// home page on the start and on each Home key alike), with a size to raise
// [Memory] Size to.
static void SayNoMemory(const HostSettings* settings, bool* said, const char* what) {
  if (*said) return;
  *said = true;
  char advice[160];
  MemoryAdvice(settings->memoryBytes / 1024, advice, sizeof advice);
  PlatformSay("qor: %s: not enough memory; %s\n", what, advice);
  LogPrint(kLogDefaultId, "%s: not enough memory\n", what);
}

// A size short of the one the run needs is said before anything runs, with
// what will not work: images and movies want the work buffer that only the
// whole size leaves room for, and below what the start and the inbox take,
// the history, the home page or the inbox's messages may not be kept.
static void SaySizeShort(const HostSettings* settings) {
  const uint32_t kb = settings->memoryBytes / 1024;
  const uint32_t needed = HostMemoryKbNeeded();
  if (kb >= needed) return;
  gSizeShort = true;
  char advice[160];
  MemoryAdvice(kb, advice, sizeof advice);
  const bool startShort = needed - kb > kHostMemoryKbAdvised - kHostMemoryKbStart;
  PlatformSay("qor: [Memory] Size %u is short of what this run needs: images and movies will not "
              "show%s; %s\n",
              kb,
              startShort ? ", and the history, the home page or the inbox's messages may not be kept"
                         : "",
              advice);
  LogPrint(kLogDefaultId, "[Memory] Size %u is short of %u\n", kb, needed);
}

// A kept file memory could not read whole is left as it is and the run goes
// on without it: said once a file, as what memory kept from running.
static void SayFileUnread(const char* path) {
  for (const std::string& said : gUnreadSaid)
    if (said == path) return;
  gUnreadSaid.emplace_back(path);
  const std::string what = std::string("the kept file ") + path + " is left unread in this run";
  bool said = false;
  if (gSettings)
    SayNoMemory(gSettings, &said, what.c_str());
  else
    PlatformSay("qor: %s: not enough memory\n", what.c_str());
  gFileUnread = true;
}

// A close that came while a chain was still running is acted on once the
// chain reaches a state that can take it.
static bool TakePendingClose(HostSettings* settings) {
  if (!settings->closePending) return false;
  settings->closePending = false;
  settings->stopping = true;
  return true;
}

// A failure the start-up reports while nobody asked to stop is a start that
// failed: the first one is kept to tell the user once the loop has ended.
static void NoteFailure(HostSettings* settings, HostState state, uint32_t status) {
  if (!ResultFailed(status) || settings->stopping || settings->startFailure != 0) return;
  settings->startFailure = static_cast<Result>(status);
  settings->startFailureState = state;
}

void HostOnStateChanged(void* host, HostState state, uint32_t status) {
  auto* settings = static_cast<HostSettings*>(host);
  if (state == HostState::HomePageNoMemory) {
    SayNoMemory(settings, &gHomePageFailed, "the home page could not run");
    return;
  }
  if (state == HostState::HistoryNoMemory) {
    SayNoMemory(settings, &gHistoryLost, "the history is not kept in this run");
    return;
  }
  NoteFailure(settings, state, status);
  switch (state) {
    case HostState::ServicesUp:
      settings->hostState = HostState::ServicesUp;
      if (TakePendingClose(settings)) {
        UiStopServices();
      } else {
        // The SMS service takes what the bridge receives, so it starts first
        // and stops after it.
        SmsServiceStart();
        SmsBridgeStart(host);
      }
      break;
    case HostState::BrowserRunning:
      settings->hostState = HostState::BrowserRunning;
      settings->browserUp = true;
      if (TakePendingClose(settings)) UiSendEndKey();
      break;
    case HostState::BrowserModulesStarting:
    case HostState::BrowserWindowOpen:
      settings->browserUp = false;
      SmsBridgeStop();
      break;
    case HostState::BrowserStarting:
      settings->hostState = HostState::BrowserStarting;
      // The modem and the bridge are up: the handset may be seen.
      if (gShell && gShell->showWindows) gShell->showWindows(gShell->ctx);
      if (TakePendingClose(settings))
        SmsBridgeStop();
      else if (UiStartBrowser(settings->homeUrl) == kOk)
        settings->hostState = HostState::BrowserRunning;
      break;
    case HostState::BridgeDown:
      // The service's stop comes first, so that the pushes it still hands
      // on reach push reception before that one's stop does.
      SmsServiceStop();
      UiStopServices();
      break;
    default:
      break;
  }
}

// A close never runs a stop chain twice, and never sends the end command to
// a browser window that does not exist yet.
void HostOnClose(HostSettings* settings) {
  if (settings->stopping) return;
  switch (settings->hostState) {
    case HostState::ServicesUp:
      settings->stopping = true;
      UiStopServices();
      break;
    case HostState::BrowserRunning:
      if (!settings->browserUp) {
        settings->closePending = true;
        break;
      }
      settings->stopping = true;
      UiSendEndKey();
      break;
    case HostState::BrowserStarting:
      settings->stopping = true;
      SmsBridgeStop();
      break;
    default:
      settings->closePending = true;
      break;
  }
}

void HostStartFailureText(const HostSettings* settings, char* text, size_t size) {
  const Result failure = settings->startFailure;
  // A bridge that memory could not hold is a start short of memory, not a
  // port another program holds.
  const HostState state = settings->startFailureState == HostState::BridgeDown &&
                                  ResultNoMemory(failure)
                              ? HostState::Starting
                              : settings->startFailureState;
  switch (state) {
    case HostState::BridgeDown:
      if (settings->smsPortAsked[0]) {
        std::snprintf(text, size,
                      "The UDP port asked for in qor.ini ([SMS] Port=%s) is not usable, and the "
                      "short-message bridge could not use port %u, which it tried instead "
                      "(error 0x%08X). Another emulator may be running: close it, or give this "
                      "one other ports in qor.ini ([SMS] Port and PeerPort, 1 to 65535).",
                      settings->smsPortAsked, SmsBridgeLocalPort(), failure);
        break;
      }
      std::snprintf(text, size,
                    "The short-message bridge could not use UDP port %u (error 0x%08X). "
                    "Another emulator may be running: close it, or give this one other ports "
                    "in qor.ini ([SMS] Port and PeerPort).",
                    SmsBridgeLocalPort(), failure);
      break;
    default: {
      const bool browser = settings->startFailureState == HostState::BrowserStarting ||
                           settings->startFailureState == HostState::BrowserRunning;
      const int n = std::snprintf(text, size,
                                  "The %s could not start (error 0x%08X). The emulator's memory "
                                  "may be too small: ",
                                  browser ? "browser" : "engine", failure);
      if (n < 0 || static_cast<size_t>(n) >= size) break;
      MemoryAdvice(settings->memoryBytes / 1024, text + n, size - n);
      break;
    }
  }
}

uint16_t* HostCreateFrameBuffer(HostSettings* settings) {
  int32_t width = settings->display.width;
  int32_t height = settings->display.height;
  int32_t pitch = (width + 3) & ~3;
  gFrameBuffer.assign(static_cast<size_t>(pitch) * height, 0xFFFF);
  settings->frameBuffer = gFrameBuffer.data();
  ShellSetScreenGeometry(width, height, settings->frameBuffer);
  return settings->frameBuffer;
}

void HostFreeFrameBuffer(HostSettings* settings) {
  ShellSetScreenGeometry(settings->display.width, settings->display.height, nullptr);
  settings->frameBuffer = nullptr;
  gFrameBuffer.clear();
  gFrameBuffer.shrink_to_fit();
}

Result HostMain(const HostShellOps& ops) {
  PlatformSayStart();
  HostInstallCrashHandler();
  gSaveFailed = false;
  gHomePageFailed = false;
  gHistoryLost = false;
  gSizeShort = false;
  gFileUnread = false;
  gUnreadSaid.clear();
  const FileFailureHook previousSaveHook = PlatformFileOnFailure(SaveFailed);
  const FileNotReadHook previousUnreadHook = PlatformFileOnNotRead(SayFileUnread);
  auto settings = std::make_unique<HostSettings>();
  HostSettingsClear(settings.get());
  settings->hostState = HostState::Starting;
  gSettings = settings.get();
  HostReadIni(settings.get());
  // The path tried and why it failed go to standard error, then the box,
  // before any window: the user reads them without a bare screen behind.
  const bool skin = ShellLoadSkin(settings->skinFile, settings.get());
  if (!skin) HostDefaultDisplay(settings.get(), HostPhoneSize());
  if (!settings->skinFile[0])
    PlatformSay("qor: skin: none is named in qor.ini ([Display] Skin)\n");
  else if (*ShellSkinFailure())
    PlatformSay("qor: skin %s\n", ShellSkinFailure());
  if (!skin || !ShellSkinBitmap()) HostMessageBox(kHostNoSkinText);
  HostSayUnkeptFiles();
  SaySizeShort(settings.get());
  ShellSetScreenGeometry(settings->display.width, settings->display.height, nullptr);

  std::unique_ptr<void, BlockFree> block(std::aligned_alloc(16, (settings->memoryBytes + 15) & ~15u));
  if (!block) {
    HostMessageBox("Could not allocate the emulator's memory.");
    PlatformFileOnFailure(previousSaveHook);
    PlatformFileOnNotRead(previousUnreadHook);
    gSettings = nullptr;
    return kHostNoEngineBlock;
  }
  HeapArenaInit(block.get(), settings->memoryBytes);
  MemSetEvictor(CacheFreeOne);

  // The modem first: a second emulator in the same folder fails on its link,
  // and no window is left behind its box.
  Result result = kOk;
  bool windows = false;
  if (int modem = ModemOpen(); modem != 0) {
    PlatformSay("qor: modem port %s\n", ModemOpenFailure());
    HostMessageBox(
        "Could not open the specified comport.\nCheck your modem.ini and make sure another app "
        "is not using the com port.");
    result = static_cast<Result>(modem);
  } else if (windows = ops.createWindows(ops.ctx, settings.get()); !windows) {
    HostMessageBox("Could not create the main QOR emulation window.");
    result = kHostNoWindow;
    ModemClose();
  } else {
    // The engine's reports come straight here, whatever the window system.
    gShell = &ops;
    HostStateCallback previous = HostStateInstall(HostOnStateChanged);
    result = HostStartEngine(settings.get());
    if (result == kOk) {
      HostLoopOps loop{ops.ctx, Poll, Step, ops.pumpMessages, ops.sleep, ops.quitRequested};
      result = HostRunLoop(loop);
      HostStopEngine();
    } else {
      NoteFailure(settings.get(), HostState::ServicesStarting, static_cast<uint32_t>(result));
    }
    // A start that failed ends the program with the reason, not silently.
    if (settings->startFailure != 0) {
      char text[480];
      HostStartFailureText(settings.get(), text, sizeof text);
      HostMessageBox(text);
      result = settings->startFailure;
    }
    HostStateInstall(previous);
    gShell = nullptr;
    ModemClose();
  }
  if (windows) ops.destroyWindows(ops.ctx);
  HostFreeFrameBuffer(settings.get());
  MemSetEvictor(nullptr);
  PlatformFileOnFailure(previousSaveHook);
  PlatformFileOnNotRead(previousUnreadHook);
  gSettings = nullptr;
  return result;
}
