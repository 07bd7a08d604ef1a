// The sinks of the handset's sound types (classes 10 to 19): each collects
// its sound's bytes and, when closed, hands them to the host's sound output
// with a code that names the format. The fetch layer passes sound bodies on
// unchanged; whoever renders the load feeds its blocks here.
#pragma once
#include <cstdint>

#include "kernel/datachunk.h"
#include "kernel/modules.h"
#include "layout/render_sink.h"

namespace SoundSinkCode {
constexpr uint32_t Opened = 0x801d;  // the sink protocol's deferred answer
constexpr uint32_t NoMemory = 2;     // from an open
constexpr uint32_t GrowFailed = 1;   // from a write
constexpr uint32_t NotOpen = 0x800e;
constexpr uint32_t Handed = 0, NoSound = 1;  // from a close
}  // namespace SoundSinkCode

struct SoundSink {
  uint32_t open;  // 1 while open
  uint32_t unused;
  uint32_t error;  // returned by every write once set
  uint32_t soundCode;
  // The sink's own buffer, exactly as long as what was written (one zero
  // byte, length 0, before the first write).
  uint8_t* bytes;
  uint32_t length;
};

// The sound code of a content class (10 "nsnd" to 19 "ma5"); 0 for a class
// that is no sound.
uint32_t SoundCodeOfClass(uint32_t contentClass);

// Opens a sink for the class's sound: Opened, or NoMemory (nothing held).
uint32_t SoundSinkOpen(uint32_t contentClass, void* loader, SoundSink** out);
// Appends the block's unread bytes (the block is left as it is); none: 0.
uint32_t SoundSinkWrite(void* loader, SoundSink* sink, const UtilDataChunk* block);
// Hands the sound over (a pending page sound goes in its place) and frees
// the sink: Handed, or NoSound when nothing was written.
uint32_t SoundSinkClose(void* loader, SoundSink** sink);

// The render sink rows of the ten sound classes, each opening its sink with
// its own sound code; write and close are shared. Installed into rendering
// with the content rows.
extern const RenderSinkRow kSoundSinkRows[];
extern const uint32_t kSoundSinkRowCount;
