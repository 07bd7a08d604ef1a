// The fonts of the shipped qor.ini for the toolkit targets, set up once a
// process, and the toolkit they draw with. fontconfig keeps a little of its configuration for good; that
// start-up is the library's, so it is kept out of the leak check.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/fontft.h"
#include "host/platform/shell.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "widgets/pwl.h"
#include "widgets/pwl_ticker.h"
#include "tests/support/font_startup.h"

inline bool FuzzStartFonts() {
  FontStartOutsideLeakCheck();
  static FontSettings s;
  FontDefaultSettings(&s);
  return FontInit(&s) == kOk;
}

// The toolkit for one run: a heap, the task manager and the window system
// over a 160 x 240 screen. Bringing the window system up cost half of every
// run (the root window clears the screen, the toolkit's pictures inflate from
// the ROM), so it stays up between runs as long as each run leaves it as it
// found it: the context and the root window byte for byte as after the
// start, no event pending, and the heap where it was. A run that leaves
// anything else has it taken down, and must then leave the whole heap free,
// as every run had to before; the next run starts it fresh.
class FuzzToolkit {
 public:
  // False when the toolkit cannot be brought up (the run is skipped).
  bool Begin() {
    static std::vector<uint64_t> arena(1u << 17);
    static uint16_t screen[160 * 240];
    if (!up_) {
      HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
      MemSetEvictor(nullptr);
      ShellSetScreenGeometry(160, 240, screen);
      if (TskmanInit() != kOk) return false;
      if (PwlInit() != kOk) {
        TskmanShutdown();
        return false;
      }
      Drain();  // every run starts with nothing pending
      PwlContext* context = PwlGetContext();
      std::memcpy(&context_, context, sizeof context_);
      std::memcpy(&root_, context->root, sizeof root_);
      up_ = true;
    }
    PwlNavDirection = 1;
    freeBefore_ = HeapGetStats().freeBytes;
    return true;
  }
  // After the run's own clean-up; aborts when the run left memory behind.
  void End() {
    // The ticker starts afresh, as at the start: entries of controls that
    // are gone must not stay behind, nor a timer of theirs. The soft-key
    // labels the run's controls posted go back to the start's too.
    PwlTickerStop();
    Drain();
    PwlContext* context = PwlGetContext();
    if (context && PwlTickerStart() == kOk) {
      context->keyMark = context_.keyMark;
      std::memcpy(context->slots, context_.slots, sizeof context_.slots);
    }
    Drain();
    const bool same = TskmanPendingCount() == 0 && context &&
                      std::memcmp(context, &context_, sizeof context_) == 0 &&
                      std::memcmp(context->root, &root_, sizeof root_) == 0 &&
                      HeapGetStats().freeBytes == freeBefore_;
    if (HeapValidate() != nullptr) std::abort();
    if (same) return;
    PwlShutdown();
    TskmanShutdown();
    const HeapStats stats = HeapGetStats();
    if (HeapValidate() != nullptr || stats.freeBytes != stats.arenaBytes) std::abort();
    up_ = false;
  }

 private:
  static void Drain() {
    for (int i = 0; i < 100000 && TskmanPendingCount() > 0; ++i) TskmanStep();
  }

  bool up_ = false;
  uint32_t freeBefore_ = 0;
  PwlContext context_{};
  PwlWindow root_{};
};
